// TUnGZip: extraction of single-file compressed archives: gzip (every member, each checked against its
// CRC-32 and size) and Unix compress (.Z). A decompressed TAR (.tgz, .tar.gz, .taz, .tar.Z) is extracted as
// a TAR in the same run.
#pragma once

#include <string>

#include "archive/core/unbase.h"

namespace varnok {

// What becomes of the TAR file written out of a compressed TAR once its contents are extracted.
enum TGzTarDeleteOptions { gtKeepTar, gtDeleteTar, gtTrashTar };

class TUnGZip : public TUnBase {
  public:
    TUnGZip();
    ~TUnGZip() override;

    // Asked when the decompressed data is a TAR archive; doUnTar comes preset to true (false keeps the
    // data as a plain file).
    TOnNestedTarFile OnNestedTarFile;
    TGzTarDeleteOptions GzTarDeleteOptions = gtKeepTar;

    // The name the decompressed file gets from its stored (or derived) name: ".tgz" and ".taz" become ".tar",
    // an extension equal to the archive's own is dropped, and text-flagged data without an extension gets
    // ".txt".
    static std::string OutputNameFor(const std::string& name, const std::string& archivePath, bool textFlag);

  protected:
    void ProcessArchive() override;
    bool TranslatesLineEnds() const override { return true; }

  private:
    DecodeResult DecodeAll(ByteSink& sink);
    bool SameAsArchive(const std::string& name);
    void ExtractNestedFromFile(std::string tarPath);
    void ExtractNestedStreaming(const std::string& name);

    bool isGzip_ = true;
    std::string archiveReal_;  // the archive's resolved path: no output may replace it
};

}  // namespace varnok
