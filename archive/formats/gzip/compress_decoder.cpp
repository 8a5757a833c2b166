#include "archive/formats/gzip/compress_decoder.h"

#include "archive/core/errors.h"

namespace varnok {

bool IsCompressHeader(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == kCompressMagic0 && data[1] == kCompressMagic1;
}

DecodeResult CompressDecoder::Decode(ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    CodecInput in(src, cancel);
    CodecOutput out(sink, cancel, 2 * LzwDecoder::kMinOutputCapacity);
    uint8_t header[3];
    for (int i = 0; i < 3; ++i) {
        int b = in.Byte();
        if (b < 0) return FinishDecode(DecodeStatus::Truncated, E_UnexpectedEof, in, out, in.Taken());
        header[i] = static_cast<uint8_t>(b);
    }
    if (!IsCompressHeader(header, 3)) return FinishDecode(DecodeStatus::Corrupt, E_HeaderId, in, out, 3);
    if (header[2] & kCompressReservedBits)
        return FinishDecode(DecodeStatus::Corrupt, E_IncompleteCodeSet, in, out, 3);
    LzwParams p;
    p.maxBits = header[2] & kCompressBitsMask;
    if (p.maxBits < 9 || p.maxBits > 16)
        return FinishDecode(DecodeStatus::Corrupt, E_IncorrectBits, in, out, 3);
    p.clearCode = (header[2] & kCompressBlockMode) != 0;
    p.endCode = false;
    p.groupAlign = true;
    p.leadingClear = false;
    p.errorCode = E_CorruptInput;
    return lzw_.Decode(p, in, out);
}

DecodeResult DecodeCompress(ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    CompressDecoder d;
    return d.Decode(src, sink, cancel);
}

}  // namespace varnok
