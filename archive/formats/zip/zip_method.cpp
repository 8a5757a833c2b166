#include "archive/formats/zip/zip_method.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/codecs/stored.h"
#include "archive/core/errors.h"

namespace varnok {

static_assert(kUnknownSize == kStoredSizeUnknown, "one meaning of an unknown size");

bool IsZipMethodSupported(uint16_t method) {
    return method <= zmImploded || method == zmDeflated || method == zmDeflate64;
}

DecodeResult ZipMethodDecoder::Decode(uint16_t method, uint16_t gpFlags, uint64_t uncompressedSize,
                                      ByteSource& source, ByteSink& sink, const CancelFlag* cancel) {
    lastWasInflate_ = false;
    switch (method) {
        case zmStored:
            // With a known size exactly that many bytes are read; an unknown one reads to the end.
            return CopyStoredEntry(source, kStoredSizeUnknown, sink, uncompressedSize, cancel);
        case zmShrunk:
            return Unshrink(source, sink, uncompressedSize, cancel);
        case zmReduced1:
        case zmReduced2:
        case zmReduced3:
        case zmReduced4:
            return Unreduce(source, sink, method - 1, uncompressedSize, cancel);
        case zmImploded:
            return Explode(source, sink, gpFlags, uncompressedSize, cancel);
        case zmDeflated:
        case zmDeflate64:
            inflater_.SetFormat(method == zmDeflate64 ? Inflater::Format::Deflate64
                                                      : Inflater::Format::Deflate);
            lastWasInflate_ = true;
            return inflater_.Decode(source, sink, cancel);
        default:
            return MakeResult(DecodeStatus::Corrupt, E_UnsupportedMethod, 0, 0);
    }
}

std::span<const uint8_t> ZipMethodDecoder::Unconsumed() const {
    return lastWasInflate_ ? inflater_.Unconsumed() : std::span<const uint8_t>();
}

DecodeResult DecodeZipMethodData(uint16_t method, uint16_t gpFlags, uint64_t uncompressedSize,
                                 ByteSource& source, ByteSink& sink, const CancelFlag* cancel) {
    ZipMethodDecoder decoder;
    return decoder.Decode(method, gpFlags, uncompressedSize, source, sink, cancel);
}

PrefixedSource::PrefixedSource(std::span<const uint8_t> prefix, ByteSource& rest)
    : prefix_(prefix.begin(), prefix.end()), rest_(rest) {}

size_t PrefixedSource::Read(uint8_t* buf, size_t n) {
    if (pos_ < prefix_.size()) {
        const size_t k = std::min(n, prefix_.size() - pos_);
        std::memcpy(buf, prefix_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    return rest_.Read(buf, n);
}

}  // namespace varnok
