// The walk of a ZOO archive's directory chain, read alike by the lister and by TUnZoo, and the one function
// that turns a ZOO directory entry into an entry record.
#pragma once

#include "archive/core/format.h"
#include "archive/formats/zoo/zoo_headers.h"

namespace varnok {
class TZipCommon;
}

namespace varnok::zoo {

std::string MethodText(uint8_t method);
// The entry record of a directory entry; comment is the entry's comment as stored.
ArchiveEntry EntryOf(const Entry& z, std::string comment = {});

struct Item {
    Entry header;
    ArchiveEntry entry;
};

// Deleted entries are passed over.
class Walk final : public EntryWalk {
  public:
    using Item = ::varnok::zoo::Item;
    explicit Walk(TZipCommon& c);
    bool Next(Item& item);
    bool Next(ArchiveEntry& e) override;

  private:
    TZipCommon& c_;
    bool started_ = false, done_ = false;
    uint64_t pos_ = 0;
    uint32_t index_ = 0;
};

}  // namespace varnok::zoo
