// The GZIP writer (TGZip): one .gz file per input file, and the one routine that compresses a stream into a
// gzip member, which the TAR writer uses for compressed TARs.
//
// Each output is written to a private temporary file beside it and renamed into place only when complete, so
// an existing .gz is never left half-written and a cancelled or failed run leaves nothing behind. A source is
// deleted (move) only after its .gz is in place. Every member carries a real deflate stream, also for an empty
// input (a header with nothing after it is not a gzip file any reader accepts).
#pragma once

#include <cstdint>
#include <string>

#include "archive/core/compbase.h"
#include "archive/core/stream.h"

namespace varnok {

struct GzipMemberInfo {
    uint32_t crc = 0;
    uint64_t size = 0;    // input bytes
    uint64_t packed = 0;  // bytes written, header and trailer included
};

// Compresses everything src gives into sink as one gzip member named name (no name field when empty) with the
// modification time mtime. Throws what the sink throws; a cancel ends it with DecodeStatus::Cancelled.
DecodeResult WriteGzipMember(ByteSource& src, ByteSink& sink, const std::string& name, int64_t mtime,
                             TDeflateType level, const CancelFlag* cancel, GzipMemberInfo& info);

class TGZip : public TCompBase {
  public:
    TGZip();
    TOnFileExists OnFileExists;

  protected:
    bool AcceptsMethod(TCompressMethod m) const override { return m == cmDeflate; }
    void LoadEntries() override {}
    bool CompressFile(platform::File& out, TCompBaseHeaderObj& e) override;
    void FinishArchive(platform::File&) override {}
    // Its run keeps no entries of an old archive, so none is ever renamed.
    void CopyRenamed(platform::File&, TCompBaseHeaderObj&) override {}
    void UpdateArchive() override;

  private:
    bool CompressOne(TCompBaseHeaderObj& e);
};

}  // namespace varnok
