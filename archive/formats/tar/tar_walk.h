// The walk of a TAR archive as the lister and the extractor read it, from a file or from the decoded stream
// of a compressed TAR, and the one function that turns a TAR header into an entry record, which the
// extracting walk uses too.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "archive/core/format.h"
#include "archive/formats/tar/tar_headers.h"

namespace varnok {
class TZipCommon;
}

namespace varnok::tar {

// The entry record of a header.
ArchiveEntry EntryOf(const Entry& t);
// Whether the header holds something an archive manager shows (not a volume label, a continuation of a file
// from the previous volume, or a GNU dump directory's listing).
bool Listed(const Entry& t);

class Walk final : public EntryWalk {
  public:
    // Over the component's archive file, from StartOffset.
    explicit Walk(TZipCommon& c);
    // Over records read from elsewhere (a decoded stream), from start up to end (UINT64_MAX: not known).
    Walk(RecordReader& in, uint64_t start, uint64_t end, std::string volumeName);
    bool Next(ArchiveEntry& e) override;
    // Every header, also those not Listed (the extractor's walk reports a continued file, for one).
    bool IncludeUnlisted = false;
    // The header of the entry Next gave last.
    const Entry& Header() const { return last_; }

  private:
    std::unique_ptr<RecordReader> own_;
    RecordReader& in_;
    uint64_t pos_, end_;
    std::string volume_;
    PaxGlobals globals_;
    std::map<std::string, uint64_t> sizes_;  // hard links show the size of what they link to
    Entry last_;
    uint32_t index_ = 0;
    bool done_ = false;
};

}  // namespace varnok::tar
