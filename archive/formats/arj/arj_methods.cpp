#include "archive/formats/arj/arj_methods.h"

#include "archive/core/errors.h"
#include "archive/formats/arj/arj_method4.h"
#include "archive/codecs/static_huffman.h"
#include "archive/codecs/stored.h"

namespace varnok {

bool IsSupportedArjMethod(int method) {
    return method >= 0 && method <= 4;
}

DecodeResult DecodeArjMethod(int method, ByteSource& in, uint64_t packedSize, ByteSink& out,
                             uint64_t unpackedSize, const CancelFlag* cancel) {
    switch (method) {
        case 0:
            return CopyStoredEntry(in, packedSize, out, unpackedSize, cancel);
        case 1:
        case 2:
        case 3:
            return DecodeStaticHuffman(kArjMethod1to3Params, in, packedSize, out, unpackedSize, cancel);
        case 4:
            return DecodeArjMethod4(in, packedSize, out, unpackedSize, cancel);
        default:
            return MakeResult(DecodeStatus::Corrupt, E_UnsupportedMethod, 0, 0);
    }
}

}  // namespace varnok
