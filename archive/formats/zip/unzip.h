// TUnZip and TUnJar: extraction of ZIP and JAR archives (plain, self-extracting, split into files or spanned
// over removable disks, with the traditional cipher).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/core/zip_records.h"
#include "archive/formats/zip/zip_directory.h"
#include "archive/core/unbase.h"

namespace varnok {

class ZipMethodDecoder;
class ZipVolumeSet;

class TUnZip : public TUnBase {
  public:
    TUnZip();
    ~TUnZip() override;

  protected:
    void ProcessArchive() override;
    virtual bool IsJar() const { return false; }

  private:
    void ExtractOne(const zip::Item& s);
    bool SplitSet() const;
    std::unique_ptr<ByteSource> DataSource(const zip::Item& s, uint64_t dataPos);

    struct AesField {
        uint16_t version = 0;  // 1 or 2
        int strength = 0;      // 1, 2, 3: AES-128, -192, -256
        uint16_t method = 0;   // the method the data were compressed with
    };
    void ChooseAmongPasswords(const uint8_t header[12], uint16_t flags, uint32_t time, uint32_t crc,
                              const zip::CentralHeader& c, uint64_t dataPos);
    static bool FindAesField(const std::vector<uint8_t>& extra, AesField& f);
    void ExtractAes(const zip::Item& s, ArchiveEntry& e, ByteSource& src, const AesField& aes);

    std::unique_ptr<ZipMethodDecoder> decoder_;
    ZipCipher cipher_;  // the traditional cipher's keys of the entry being decoded
    std::unique_ptr<ZipVolumeSet> volumes_;
};

class TUnJar : public TUnZip {
  protected:
    bool IsJar() const override { return true; }
};

}  // namespace varnok
