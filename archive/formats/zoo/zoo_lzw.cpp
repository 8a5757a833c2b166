#include "archive/formats/zoo/zoo_lzw.h"

#include "archive/core/errors.h"

namespace varnok {

LzwParams ZooLzwParams() {
    LzwParams p;
    p.maxBits = 13;
    p.clearCode = true;
    p.endCode = true;
    p.groupAlign = false;
    p.leadingClear = true;
    p.errorCode = E_InvalidCode;
    return p;
}

DecodeResult ZooLzwDecoder::Decode(ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    return lzw_.Decode(ZooLzwParams(), src, sink, cancel);
}

DecodeResult DecodeZooLzw(ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    ZooLzwDecoder d;
    return d.Decode(src, sink, cancel);
}

}  // namespace varnok
