// The walk of an ARC or PAK archive (PAK folders included), read alike by the lister and by TUnArc, and the
// one function that turns an ARC header into an entry record.
#pragma once

#include <string>
#include <vector>

#include "archive/core/format.h"
#include "archive/formats/arc/arc_headers.h"

namespace varnok {
class TZipCommon;
}

namespace varnok::arc {

std::string MethodText(uint8_t method, bool pak);

// The entry record of a header; folder holds the stored names of the folders it lies in, "/" after each.
ArchiveEntry EntryOf(const Header& h, const std::string& folder, bool pak);

struct Item {
    Header header;
    ArchiveEntry entry;
};

class Walk final : public EntryWalk {
  public:
    using Item = ::varnok::arc::Item;
    explicit Walk(TZipCommon& c);
    bool Next(Item& item);
    bool Next(ArchiveEntry& e) override;

  private:
    TZipCommon& c_;
    bool pak_;
    uint64_t pos_;
    std::vector<std::string> folders_;
    uint32_t index_ = 0;
    bool done_ = false;
};

}  // namespace varnok::arc
