// Encoded text as an archive: the entry record of an encoded file (its "begin" line, or its MIME part), and
// the lister's walk, which shows every encoded file of the text (the first one must start near its
// beginning), as the decoder extracts every one.
#pragma once

#include "archive/core/format.h"
#include "archive/formats/uue/uue_headers.h"

namespace varnok {
class TZipCommon;
}

namespace varnok::encoded {

// The entry record of an encoded file named as written (mode from its "begin" line).
ArchiveEntry EntryOf(const std::string& name, uint32_t mode);

class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c) : c_(c) {}
    bool Next(ArchiveEntry& e) override;

  private:
    // Finds the next encoded file at or after next_.
    bool FindNext(Begin& b);

    TZipCommon& c_;
    bool started_ = false, done_ = false;
    uint64_t next_ = 0;
    uint32_t index_ = 0;
};

}  // namespace varnok::encoded
