#include "archive/codecs/stored.h"

#include <algorithm>
#include <memory>

#include "archive/core/errors.h"

namespace varnok {

DecodeResult CopyStoredEntry(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                             const CancelFlag* cancel) {
    uint64_t want = std::min(packedSize, unpackedSize);
    uint64_t done = 0;
    // Large pieces for large entries; an entry of unknown size (often small: ARC, ZIP with a data
    // descriptor) gets a moderate buffer, and none is cleared before use.
    const size_t size =
        static_cast<size_t>(want == kStoredSizeUnknown ? 64 * 1024 : std::min<uint64_t>(want, 256 * 1024));
    auto buf = std::make_unique_for_overwrite<uint8_t[]>(size);
    while (done < want) {
        if (IsCancelled(cancel)) return MakeResult(DecodeStatus::Cancelled, E_UserCanceled, done, done);
        size_t n = static_cast<size_t>(std::min<uint64_t>(size, want - done));
        size_t got = 0;
        while (got < n) {
            size_t k = in.Read(buf.get() + got, n - got);
            if (!k) break;
            got += k;
        }
        if (got) out.Write(buf.get(), got);
        done += got;
        if (got < n) break;
    }
    if (done < unpackedSize && unpackedSize != kStoredSizeUnknown)
        return MakeResult(DecodeStatus::Truncated, E_UnexpectedEof, done, done);
    return MakeResult(DecodeStatus::Ok, 0, done, done);
}

}  // namespace varnok
