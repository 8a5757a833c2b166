// The TAR writer (TTar): creates and updates TAR archives on the compression base, plain or gzip-compressed.
//
// Headers are GNU "ustar  " records of 512 bytes with the file's real mode and time; a name longer than the
// 100-byte field goes into a GNU long-name record in front of its header, so no name is ever cut. Numbers too
// large for their octal fields (sizes of 8 GiB and more) are written in GNU base-256. The archive ends with two
// zero records and is padded to a multiple of 10,240 bytes, as every TAR reader expects.
//
// With cmGzipTar the archive is the gzip-compressed TAR (.tgz, .tar.gz): an existing one is decompressed into
// a private temporary file to be read, and the new TAR is compressed into the file that replaces it, so the
// plain TAR never appears under a name of its own.
#pragma once

#include <string>

#include "archive/core/compbase.h"

namespace varnok {

class TTar : public TCompBase {
  public:
    TTar();

    uint32_t UnixUID = 2, UnixGID = 2;
    std::string UnixUName = "root", UnixGName = "root";

  protected:
    bool AcceptsMethod(TCompressMethod m) const override { return m == cmTarred || m == cmGzipTar; }
    void LoadEntries() override;
    bool CompressFile(platform::File& out, TCompBaseHeaderObj& e) override;
    void FinishArchive(platform::File& out) override;
    void CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) override;
    bool ComparesAttributes() const override { return false; }
    // Every folder gets an entry: its mode and time are kept.
    bool WantsDirectory(const std::string&) const override { return true; }
    std::string SealOutput(platform::File& out, const std::string& path) override;

  private:
    void WriteLongName(platform::File& out, const std::string& name);
    void WriteHeader(platform::File& out, const TCompBaseHeaderObj& e, const std::string& name, uint64_t size);
};

}  // namespace varnok
