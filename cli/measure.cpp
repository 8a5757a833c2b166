#include "cli/measure.h"

#include "archive/core/component.h"
#include "archive/formats/gzip/compress_decoder.h"
#include "archive/formats/gzip/gzip_stream.h"

namespace varnok::cli {

namespace {

// Streams are decoded to be measured only up to this compressed size; larger ones keep what their headers
// say (gzip) or their own size (compress).
constexpr uint64_t kMeasureLimit = uint64_t{256} << 20;

}  // namespace

void AttachStreamMeasure(TArcLister& lister) {
    lister.OnMeasureStream = [](const platform::File& f, uint64_t) -> std::optional<uint64_t> {
        // The compress decoder reads the three header bytes itself.
        uint64_t size = f.Size();
        if (size > kMeasureLimit) return std::nullopt;
        FileSource file(f, 0);
        LimitedSource data(file, size);
        CountingSink count;
        DecodeResult r = CompressDecoder().Decode(data, count);
        if (!r.Ok() && count.Count() == 0) return std::nullopt;
        return count.Count();
    };
    lister.OnMeasureGzip = [](const platform::File& f, uint64_t fileSize) -> std::optional<uint64_t> {
        // Every member counts: the trailer holds the size of the last one only, and that modulo 4 GiB.
        if (fileSize > kMeasureLimit) return std::nullopt;
        FileSource file(f, 0);
        LimitedSource data(file, fileSize);
        CountingSink count;
        DecodeResult r = GzipDecoder().Decode(data, count);
        if (!r.Ok()) return std::nullopt;
        return count.Count();
    };
}

}  // namespace varnok::cli
