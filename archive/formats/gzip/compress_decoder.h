// The Unix compress (.Z) format: a three-byte header and a dynamic LZW code stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/core/codec.h"
#include "archive/codecs/lzw_decoder.h"

namespace varnok {

constexpr uint8_t kCompressMagic0 = 0x1F;
constexpr uint8_t kCompressMagic1 = 0x9D;
constexpr uint8_t kCompressBlockMode = 0x80;     // flags: code 256 clears the table
constexpr uint8_t kCompressReservedBits = 0x60;  // flags: bits no known compressor sets
constexpr uint8_t kCompressBitsMask = 0x1F;      // flags: the widest code, 9..16

// Whether the bytes begin with the compress magic.
bool IsCompressHeader(const uint8_t* data, size_t size);

// Decodes whole .Z files (header included). Corrupt results name the reason: E_HeaderId for a wrong
// magic, E_IncompleteCodeSet for reserved flag bits, E_IncorrectBits for a width outside 9..16,
// E_CorruptInput for a code the table does not hold. The input ending simply ends the data.
class CompressDecoder {
  public:
    DecodeResult Decode(ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);

  private:
    LzwDecoder lzw_;
};

// One-shot form of CompressDecoder::Decode.
DecodeResult DecodeCompress(ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);

}  // namespace varnok
