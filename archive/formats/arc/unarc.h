// TUnArc: extraction of ARC and PAK archives (plain and self-extracting), with PAK folders and garbled
// (password) entries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/core/unbase.h"
#include "archive/formats/arc/arc_walk.h"

namespace varnok {

class ArcDecoder;

class TUnArc : public TUnBase {
  public:
    TUnArc();
    ~TUnArc() override;

  protected:
    void ProcessArchive() override;
    // PAK archives are ARC archives with two more methods and folders: this extractor serves them too.
    bool AcceptsType(TArcType t) const override;

  private:
    void ExtractOne(const arc::Item& s);
    // The key an entry was garbled with: empty for plain data. Chosen by the CRC-16 of trial decodings,
    // only when a password was given (ARC keeps no mark of garbled entries).
    std::string ChooseKey(const arc::Item& s);
    bool DecodesWithKey(const arc::Item& s, const std::string& key);

    std::unique_ptr<ArcDecoder> decoder_;
    bool passwordGiven_ = false;
};

// ARC garbling: each compressed byte is XORed with the next byte of the password (cycled, restarting at
// every entry). ARC took passwords in upper case; GarbleKeys gives the candidates to try for a password.
class GarbledSource final : public ByteSource {
  public:
    GarbledSource(ByteSource& inner, std::string key) : inner_(inner), key_(std::move(key)) {}
    size_t Read(uint8_t* buf, size_t n) override;

  private:
    ByteSource& inner_;
    std::string key_;
    size_t pos_ = 0;
};
std::vector<std::string> GarbleKeys(const std::string& password);

}  // namespace varnok
