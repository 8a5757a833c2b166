// The walk of an ARJ archive as the lister reads it (a file continued over volumes is one entry, its sizes
// summed), and the one function that turns an ARJ header into an entry record, which TUnArj uses as well.
#pragma once

#include "archive/core/format.h"
#include "archive/formats/arj/arj_headers.h"

namespace varnok {
class TZipCommon;
}

namespace varnok::arj {

// ARJ on UNIX (and NeXT) keeps Unix times in the date field and Unix permissions in the access mode.
bool UnixHost(uint8_t hostOs);
NameOrigin OriginOf(uint8_t hostOs);
// Whether the header holds a file or folder (not a volume label, chapter mark or comment).
bool HoldsEntry(const Header& h);

// The entry record of a file header.
ArchiveEntry EntryOf(const Header& h);
std::string MethodText(uint8_t method, bool directory);

class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c);
    bool Next(ArchiveEntry& e) override;

  private:
    bool NextVolume();

    TZipCommon& c_;
    bool started_ = false, done_ = false, multiVolume_ = false;
    uint64_t pos_ = 0;
    uint32_t index_ = 0;
};

}  // namespace varnok::arj
