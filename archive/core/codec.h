// The common shape of the decompressors: what a decoding run reports back to the extractor that ran it.
#pragma once

#include <cstdint>

#include "archive/core/stream.h"

namespace varnok {

enum class DecodeStatus {
    Ok,         // the stream ended as its format says it should
    Corrupt,    // the data broke the format's rules; what was decoded so far has been written
    Truncated,  // the input ended before the stream did
    Cancelled,  // the cancel flag was seen
};

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    // A numbered error (errors.h) naming what was wrong, when the format's decoder knows it (e.g.
    // E_BadBlock); 0 otherwise.
    int errorCode = 0;
    uint64_t produced = 0;  // bytes written to the sink
    uint64_t consumed = 0;  // compressed bytes taken from the source that belong to the stream

    bool Ok() const { return status == DecodeStatus::Ok; }
};

inline DecodeResult MakeResult(DecodeStatus s, int code, uint64_t produced, uint64_t consumed) {
    DecodeResult r;
    r.status = s;
    r.errorCode = code;
    r.produced = produced;
    r.consumed = consumed;
    return r;
}

}  // namespace varnok
