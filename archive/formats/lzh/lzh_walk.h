// The walk of an LZH/LHA archive (header levels 0 to 3, self-extractors, a MacBinary header in front), read
// alike by the lister and by TUnLha, and the one function that turns an LZH header into an entry record.
#pragma once

#include "archive/core/format.h"
#include "archive/formats/lzh/lzh_headers.h"

namespace varnok {
class TZipCommon;
}

namespace varnok::lzh {

// What the LZH header's OS id says of the names' code page.
NameOrigin OriginOf(uint8_t osId);

// The entry record of an LZH header (of an archive of type t).
ArchiveEntry EntryOf(const Header& h);

// The method as the list shows it.
std::string MethodText(const std::string& id);

struct Item {
    Header header;
    ArchiveEntry entry;
};

class Walk final : public EntryWalk {
  public:
    using Item = ::varnok::lzh::Item;
    explicit Walk(TZipCommon& c);
    bool Next(Item& item);
    bool Next(ArchiveEntry& e) override;

  private:
    TZipCommon& c_;
    uint64_t pos_;
    uint32_t index_ = 0;
    bool done_ = false;
};

}  // namespace varnok::lzh
