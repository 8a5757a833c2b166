// The one outer loop of the LZ decoders that read most-significant-bit-first input into an LzOutput
// window (the static-Huffman family, -lh1-, -lh2-, -lh3-, -lzs-, -lz5-, -pm2-, ARJ method 4).
//
// Every one of those decoders did the same things around its own symbol decoding: poll the cancel
// flag once per output chunk, run over the window's stretch while pos < limit, drop an item made of
// invented bits past the end of the input, stop on corrupt data, account for the stretch, and at the
// end settle and flush the window and decide between Ok, Corrupt, Truncated and Cancelled. Those
// decisions lived in six copies and had already drifted apart (which of overrun and corrupt data
// wins, whether a cancel keeps its error code). They live here once; a decoder supplies only its
// step, the code for one item with whatever state it carries (code tables, block counts, ring
// positions) captured by the step itself.
//
// The step is a template parameter, not a function object behind a pointer: it is called once per
// item, and the decoders' speed depends on it being inlined into this loop together with the bit
// reader's fast refill. A step writes its item at buf + pos before the driver has looked at the bit
// reader; the driver then moves pos on only when the item was made of real input, so an item decoded
// from invented bits is written (inside the buffer) but never counted, flushed or kept.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/codecs/lz_output.h"
#include "archive/codecs/msb_bit_reader.h"
#include "archive/core/codec.h"
#include "archive/core/errors.h"

namespace varnok {

// Runs `step` until the entry's size has been produced, the input ran out, the data broke the format or
// the cancel flag was seen; then settles and flushes the window.
//
// The step is called as `size_t step(MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int& error)`:
// it decodes one item from br, writes its bytes at buf + pos (never more than room of them: room
// reaches to the end of the entry or of the buffer), and returns how many it wrote. On data that break
// the format it sets error to the numbered error and returns anything; the driver stops there. The
// reader is the driver's own, made here so that no decoder holds another one to read from by mistake;
// a step passes it on to inlined code only, or by value (see msb_bit_reader.h).
//
// Results: Ok; Cancelled with E_UserCanceled; Truncated with E_UnexpectedEof when the decoder consumed
// bits beyond the input (also when the data looked corrupt by then: codes read from invented zero
// bits are a truncation, not damage); Corrupt with the step's error otherwise.
template <class Step>
DecodeResult DriveLzDecoder(MsbBitInput& input, LzOutput& w, const CancelFlag* cancel, Step&& step) {
    MsbBitReader br(input);
    DecodeStatus status = DecodeStatus::Ok;
    int error = 0;
    do {
        if (IsCancelled(cancel)) {
            status = DecodeStatus::Cancelled;
            error = E_UserCanceled;
            break;
        }
        LzByte* const buf = w.Data();
        const size_t limit = w.limit;
        const size_t hardEnd = w.hardEnd;
        size_t pos = w.pos;
        while (pos < limit) {
            const size_t n = step(br, buf, pos, hardEnd - pos, error);
            if (error) break;
            if (br.PastEnd()) break;
            pos += n;
        }
        w.pos = pos;
        if (br.Overrun()) {
            status = DecodeStatus::Truncated;
            error = E_UnexpectedEof;
            break;
        }
        if (error) {
            status = DecodeStatus::Corrupt;
            break;
        }
    } while (w.Advance());
    w.Settle();
    w.Flush();
    return MakeResult(status, error, w.Produced(), br.ConsumedBytes());
}

}  // namespace varnok
