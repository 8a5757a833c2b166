#include "archive/formats/arc/arc_codecs.h"

#include <cstring>
#include <optional>

#include "archive/codecs/stored.h"
#include "archive/core/errors.h"
#include "archive/formats/arc/arc_methods.h"

namespace varnok {

namespace arc {

void RleExpander::Write(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = p[i];
        if (repeat_) {
            repeat_ = false;
            if (b == 0) {
                out_.Put(0x90);
            } else if (b > 1) {
                size_t k = b - 1u;
                std::memset(out_.Reserve(k), last_, k);
                out_.Commit(k);
            }
        } else if (b == 0x90) {
            repeat_ = true;
        } else {
            out_.Put(b);
            last_ = b;
        }
    }
}

}  // namespace arc

namespace {

constexpr size_t kOutputCapacity = 2 * LzwDecoder::kMinOutputCapacity;

LzwParams ArcLzwParams(int maxBits) {
    LzwParams p;
    p.maxBits = maxBits;
    p.clearCode = true;
    p.endCode = false;
    p.groupAlign = true;
    p.leadingClear = false;
    p.errorCode = E_InvalidCode;
    return p;
}

bool UsesRle(int method) {
    return method == arcPacked || method == arcSqueezed || method == arcCrunched6 || method == arcCrunched7 ||
           method == arcCrunched8 || method == pakCrushed;
}

}  // namespace

bool ArcMethodSupported(int method) {
    return method >= arcStoredOld && method <= pakDistilled;
}

DecodeResult ArcDecoder::Decode(int method, ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    // The extractor bounds the source by the compressed size: everything it delivers is the entry.
    if (method == arcStoredOld || method == arcStored)
        return CopyStoredEntry(src, kStoredSizeUnknown, sink, kStoredSizeUnknown, cancel);
    CodecInput in(src, cancel);
    CodecOutput out(sink, cancel, kOutputCapacity);
    if (!ArcMethodSupported(method))
        return FinishDecode(DecodeStatus::Corrupt, E_UnsupportedMethod, in, out, 0);

    // Methods with run-length packing decode into the expander, which writes to the real output.
    std::optional<arc::RleExpander> rle;
    std::optional<CodecOutput> packed;
    if (UsesRle(method)) {
        rle.emplace(out);
        if (method != arcPacked) packed.emplace(*rle, cancel, kOutputCapacity);
    }
    CodecOutput& stage = packed ? *packed : out;

    DecodeResult r;
    switch (method) {
        case arcPacked:
            r = CopyStoredEntry(src, kStoredSizeUnknown, *rle, kStoredSizeUnknown, cancel);
            break;
        case arcSqueezed:
            r = arc::Unsqueeze(in, stage);
            break;
        case arcCrunched5:
        case arcCrunched6:
            r = arc::UncrunchOld(in, stage, false);
            break;
        case arcCrunched7:
            r = arc::UncrunchOld(in, stage, true);
            break;
        case arcCrunched8: {
            // A width byte (always 12) precedes the codes.
            int bits = in.Byte();
            if (bits < 0) {
                r = FinishDecode(DecodeStatus::Ok, 0, in, stage, 0);
            } else if (bits != 12) {
                r = FinishDecode(DecodeStatus::Corrupt, E_IncorrectBits, in, stage, 1);
            } else {
                r = lzw_.Decode(ArcLzwParams(12), in, stage);
            }
            break;
        }
        case arcSquashed:
            r = lzw_.Decode(ArcLzwParams(13), in, stage);
            break;
        case pakCrushed:
            r = arc::Uncrush(in, stage);
            break;
        case arcStoredOld:
        case arcStored:
            break;  // copied above
        default:  // pakDistilled
            r = arc::Undistill(in, stage);
            break;
    }
    return FinishDecode(r.status, r.errorCode, in, out, r.consumed);
}

DecodeResult DecodeArcEntry(int method, ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    ArcDecoder d;
    return d.Decode(method, src, sink, cancel);
}

}  // namespace varnok
