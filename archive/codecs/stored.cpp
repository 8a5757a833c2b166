#include "archive/codecs/stored.h"

#include <algorithm>
#include <vector>

#include "archive/core/errors.h"

namespace varnok {

DecodeResult CopyStoredEntry(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                             const CancelFlag* cancel) {
    uint64_t want = std::min(packedSize, unpackedSize);
    uint64_t done = 0;
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(want, 256 * 1024)));
    while (done < want) {
        if (IsCancelled(cancel)) return MakeResult(DecodeStatus::Cancelled, E_UserCanceled, done, done);
        size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), want - done));
        size_t got = 0;
        while (got < n) {
            size_t k = in.Read(buf.data() + got, n - got);
            if (!k) break;
            got += k;
        }
        if (got) out.Write(buf.data(), got);
        done += got;
        if (got < n) break;
    }
    if (done < unpackedSize) return MakeResult(DecodeStatus::Truncated, E_UnexpectedEof, done, done);
    return MakeResult(DecodeStatus::Ok, 0, done, done);
}

}  // namespace varnok
