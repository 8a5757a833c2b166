// TUnZip and TUnJar: extraction of ZIP and JAR archives (plain, self-extracting, split into files or spanned
// over removable disks, with the traditional cipher).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/core/headers/zip.h"
#include "archive/core/unbase.h"

namespace varnok {

class ZipMethodDecoder;
class ZipVolumeSet;

class TUnZip : public TUnBase {
  public:
    TUnZip();
    ~TUnZip() override;

    TOnCorruptZipHeader OnCorruptZipHeader;

    // Checks an entry's 12-byte encryption header against the current password, Passwords and OnGetPassword.
    // On success the cipher keys stand ready for the entry's data. Shared with the BH extractor.
    bool CheckZipPassword(const uint8_t header[12], const std::string& entryName, uint16_t gpFlags,
                          uint32_t dosTime, uint32_t crc);

  protected:
    void ProcessArchive() override;
    virtual bool IsJar() const { return false; }

  private:
    struct Selected;
    bool CollectCentral(std::vector<Selected>& out);
    bool CollectLocal(std::vector<Selected>& out);
    void ExtractOne(const Selected& s);
    std::string EntryName(const zip::CentralHeader& h) const;
    bool SplitSet() const;
    std::unique_ptr<ByteSource> DataSource(const Selected& s, uint64_t dataPos);

    bool Selected_(const std::string& name) const;

    std::unique_ptr<ZipMethodDecoder> decoder_;
    std::unique_ptr<ZipVolumeSet> volumes_;
};

class TUnJar : public TUnZip {
  protected:
    bool IsJar() const override { return true; }
};

}  // namespace varnok
