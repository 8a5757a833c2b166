// Encoded text as an archive: the entry record of an encoded file (its "begin" line, or its MIME part), and
// the lister's walk, which shows the first encoded file of the text.
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
    TZipCommon& c_;
    bool done_ = false;
};

}  // namespace varnok::encoded
