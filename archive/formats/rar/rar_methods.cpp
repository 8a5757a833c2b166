#include "archive/formats/rar/rar_methods.h"

#include <limits>

#include "archive/codecs/stored.h"
#include "archive/core/errors.h"
#include "archive/formats/rar/rar15_decoder.h"
#include "archive/formats/rar/rar20_decoder.h"
#include "archive/formats/rar/rar29_decoder.h"

namespace varnok::rar {

namespace {

enum class Kind { None, Rar15, Rar20, Rar29 };

Kind KindOf(uint8_t version) {
    switch (version) {
        case 15:
            return Kind::Rar15;
        case 20:
        case 26:
            return Kind::Rar20;
        case 29:
        case 36:
            return Kind::Rar29;
        default:
            return Kind::None;
    }
}

}  // namespace

RarDecoderSet::RarDecoderSet() = default;
RarDecoderSet::~RarDecoderSet() = default;

bool RarDecoderSet::Supports(uint8_t versionNeeded, uint8_t method) {
    if (method == '0') return true;
    if (method < '1' || method > '5') return false;
    const Kind k = KindOf(versionNeeded);
    return k != Kind::None;
}

DecodeResult RarDecoderSet::Decode(uint8_t versionNeeded, uint8_t method, ByteSource& in, ByteSink& out,
                                   uint64_t unpackedSize, bool solid, const CancelFlag* cancel) {
    error_.clear();
    DecodeResult r;
    if (method == '0') {
        r = CopyStoredEntry(in, std::numeric_limits<uint64_t>::max(), out, unpackedSize, cancel);
        if (!r.Ok()) error_ = r.status == DecodeStatus::Cancelled ? "cancelled" : "the stored data end early";
        return r;
    }
    if (!Supports(versionNeeded, method)) {
        error_ = "RAR " + std::to_string(versionNeeded / 10) + "." + std::to_string(versionNeeded % 10) +
                 " compression, which is not known";
        return MakeResult(DecodeStatus::Corrupt, E_UnsupportedMethod, 0, 0);
    }
    switch (KindOf(versionNeeded)) {
        case Kind::Rar15:
            if (!rar15_) rar15_ = std::make_unique<Rar15Decoder>();
            r = rar15_->Decode(in, out, unpackedSize, solid, cancel);
            if (!r.Ok()) error_ = rar15_->Error();
            return r;
        case Kind::Rar20:
            if (!rar20_) rar20_ = std::make_unique<Rar20Decoder>();
            r = rar20_->Decode(in, out, unpackedSize, solid, cancel);
            if (!r.Ok()) error_ = rar20_->Error();
            return r;
        case Kind::Rar29:
            if (!rar29_) rar29_ = std::make_unique<Rar29Decoder>();
            r = rar29_->Decode(in, out, unpackedSize, solid, cancel);
            if (!r.Ok()) error_ = rar29_->Error();
            return r;
        default:
            break;
    }
    error_ = "no decoder";
    return MakeResult(DecodeStatus::Corrupt, E_UnsupportedMethod, 0, 0);
}

}  // namespace varnok::rar
