// The walk of a BH archive, read alike by the lister and by TUnBh, and the one function that turns a BH
// header into an entry record.
#pragma once

#include "archive/core/format.h"
#include "archive/formats/bh/bh_headers.h"

namespace varnok {
class TZipCommon;
}

namespace varnok::bh {

std::string MethodText(uint8_t method, uint8_t flags);
ArchiveEntry EntryOf(const Header& h);

struct Item {
    Header header;
    ArchiveEntry entry;
};

class Walk final : public EntryWalk {
  public:
    using Item = ::varnok::bh::Item;
    explicit Walk(TZipCommon& c);
    bool Next(Item& item);
    bool Next(ArchiveEntry& e) override;

  private:
    TZipCommon& c_;
    uint64_t pos_;
    uint32_t index_ = 0;
    bool done_ = false;
};

}  // namespace varnok::bh
