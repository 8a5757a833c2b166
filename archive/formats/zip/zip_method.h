// Decoding the data of one ZIP entry by its compression method (stored, shrunk, reduced, imploded, deflated,
// Deflate64). Decryption, spanned disks, CRC checks and progress belong to the extractor that wraps the
// source and the sink.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "archive/core/codec.h"
#include "archive/core/stream.h"
#include "archive/codecs/inflate.h"
#include "archive/formats/zip/legacy.h"

namespace varnok {

// ZIP compression method numbers this module decodes.
enum ZipMethod : uint16_t {
    zmStored = 0,
    zmShrunk = 1,
    zmReduced1 = 2,
    zmReduced2 = 3,
    zmReduced3 = 4,
    zmReduced4 = 5,
    zmImploded = 6,
    zmDeflated = 8,
    zmDeflate64 = 9,
};

bool IsZipMethodSupported(uint16_t method);

// A reusable decoder: keeps the inflate buffers between entries.
class ZipMethodDecoder {
  public:
    // Decodes one entry. `uncompressedSize` is the entry's size (kUnknownSize when not known): stored,
    // shrunk, reduced and imploded data end there; deflate streams end by themselves. An unsupported method
    // gives Corrupt with E_UnsupportedMethod and writes nothing.
    DecodeResult Decode(uint16_t method, uint16_t gpFlags, uint64_t uncompressedSize, ByteSource& source,
                        ByteSink& sink, const CancelFlag* cancel = nullptr);

    // After a deflated or Deflate64 entry: the source bytes read beyond the end of its stream (for example a
    // data descriptor). Empty after the other methods: stored data are read exactly, and the early methods'
    // data always come with a known compressed size.
    std::span<const uint8_t> Unconsumed() const;

  private:
    Inflater inflater_;
    bool lastWasInflate_ = false;
};

// One-shot form of ZipMethodDecoder::Decode.
DecodeResult DecodeZipMethodData(uint16_t method, uint16_t gpFlags, uint64_t uncompressedSize,
                                 ByteSource& source, ByteSink& sink, const CancelFlag* cancel = nullptr);

// A source that first delivers a copy of some bytes (such as Inflater::Unconsumed) and then reads on from
// another source.
class PrefixedSource final : public ByteSource {
  public:
    PrefixedSource(std::span<const uint8_t> prefix, ByteSource& rest);
    size_t Read(uint8_t* buf, size_t n) override;

  private:
    std::vector<uint8_t> prefix_;
    size_t pos_ = 0;
    ByteSource& rest_;
};

}  // namespace varnok
