// The encoder of 7-bit text (TUUEncode): one file, normally an archive, written as uuencoded, xxencoded or
// Base64 MIME text, in one text file or split into volumes of a size limit.
//
// Why it is built this way:
// - It replaces the compression base's run with its own: there is no archive to merge with, the input is
//   ArchiveFile (one file) and the output is OutFilename (one or more text files).
// - Every volume is first written to a private temporary file beside its place; only when the whole text is
//   written are they renamed in, so a failed or cancelled run leaves no partial text and never clobbers an
//   existing file half-way. An existing file in the way is replaced only when OnFileExists says so.
// - The name in the "begin" line and the MIME headers is the input file's own name (the text's name means
//   nothing to whoever decodes it); the mode is the input's permission bits.
// - The volume names are the ones TUUDecode looks for (name.uue, name.uu1 ... name.u10 ... name.100; numbered
//   names name.001, name.002 ... count on), so that the decoder reads a split text back as one file.
// - Base64 is written as a mail message peers read: MIME headers first, the data, a blank line, and nothing
//   after it (an "end" or size line would be taken for Base64 by mail readers); the size goes into the
//   Content-Disposition's size parameter. Names that a quoted parameter cannot carry as they are (non-ASCII,
//   quotes) are given again as an RFC 2231 filename*= parameter, which our decoder prefers.
// - Lines end in CR LF: mail gateways and the DOS-era decoders expect it, and uudecode and our decoder take
//   either line end.
#pragma once

#include <cstdint>
#include <string>

#include "archive/core/compbase.h"

namespace varnok {

class TUUEncode : public TCompBase {
  public:
    TUUEncode();

    // The text file to write. A name without an extension gets DefaultExt (of the method chosen at the time);
    // "." alone clears it.
    const std::string& OutFilename() const { return outFilename_; }
    void SetOutFilename(const std::string& name);
    // At most this many bytes per volume file; 0 writes one file.
    uint64_t VolumeSize = 0;
    // Writes the alphabet ("table" and two lines of 32 characters) before a UUE or XXE text.
    bool WriteTableToFile = false;
    // Asked when a file to be written exists; omSkip stops the run and writes nothing.
    TOnFileExists OnFileExists;

    // The file holding volume index (0: the first, OutFilename itself) of the text named first.
    static std::string VolumeFileName(const std::string& first, int index);
    // The MIME content type for a file name, from its extension.
    static std::string ContentType(const std::string& name);

  protected:
    bool AcceptsMethod(TCompressMethod m) const override {
        return m == cmUUEncode || m == cmXXEncode || m == cmBase64;
    }
    void LoadEntries() override {}
    bool CompressFile(platform::File&, TCompBaseHeaderObj&) override { return false; }
    void FinishArchive(platform::File&) override {}
    // Its run keeps no entries of an old archive, so none is ever renamed.
    void CopyRenamed(platform::File&, TCompBaseHeaderObj&) override {}
    void UpdateArchive() override;

  private:
    class Run;
    bool MayReplace(const std::string& path);

    std::string outFilename_;
};

}  // namespace varnok
