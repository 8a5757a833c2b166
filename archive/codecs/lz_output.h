// The output window shared by the LZ decoders of this folder: one linear buffer holding the history
// (the last historySize bytes) followed by the bytes decoded since the last write. When the decoded
// part reaches the chunk size it is written to the sink in one piece and the history slides to the
// front, so matches never wrap and copies are plain forward copies.
//
// The window holds char8_t, not uint8_t. A store through an unsigned char pointer may alias any object
// at all, so after every decoded literal the compiler had to reload the bit reader's buffer and count
// and the code tables' pointers from memory and store them back: a load-store round trip on the
// critical path of every symbol. char8_t is a byte type without that licence, so the decoders' state
// stays in registers across the window's stores. The bytes reach the sink as uint8_t, which may read
// any object, so the sink side is unchanged.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/core/stream.h"

namespace varnok {

// A byte of the window (see above for why it is not uint8_t).
using LzByte = char8_t;

class LzOutput {
  public:
    // historySize: the farthest a match may reach back; maxMatch: the longest match (room past the
    // chunk); fill: the byte the history holds before any output.
    LzOutput(ByteSink& sink, uint64_t unpackedSize, size_t historySize, size_t maxMatch, uint8_t fill,
             size_t chunk = 0)
        : sink_(sink), history_(historySize), maxMatch_(maxMatch), remaining_(unpackedSize) {
        if (!chunk) chunk = std::max<size_t>(128 * 1024, historySize);
        chunk_ = chunk;
        buf_.resize(history_ + chunk_ + maxMatch_ + kSlack);
        std::fill_n(buf_.data(), history_, static_cast<LzByte>(fill));
        pos = start_ = history_;
        Plan();
    }

    // Window bytes before position `history` (before the first output), for formats that preset them.
    LzByte* HistoryStart() { return buf_.data(); }
    size_t HistorySize() const { return history_; }

    LzByte* Data() { return buf_.data(); }

    // The decoding loop runs while pos < limit; a match may run up to hardEnd (never past the entry's
    // size, never past the buffer).
    size_t pos;
    size_t limit = 0;
    size_t hardEnd = 0;

    // Accounts for what the loop produced, writes a full chunk, and plans the next stretch.
    // Returns false when the entry's size has been produced.
    bool Advance() {
        uint64_t made = pos - planned_;
        remaining_ -= made;
        if (pos >= start_ + chunk_ || !remaining_) Flush();
        if (!remaining_) return false;
        Plan();
        return true;
    }
    // Writes whatever is pending (also after a decoding error).
    void Flush() {
        if (pos > start_) {
            sink_.Write(reinterpret_cast<const uint8_t*>(buf_.data() + start_), pos - start_);
            produced_ += pos - start_;
        }
        if (pos > history_) {
            std::memmove(buf_.data(), buf_.data() + pos - history_, history_);
            pos = history_;
        }
        start_ = pos;
        planned_ = pos;
    }
    // Accounts for a partial stretch after an error without planning further.
    void Settle() {
        remaining_ -= pos - planned_;
        planned_ = pos;
    }
    uint64_t Produced() const { return produced_ + (pos - start_); }
    uint64_t Remaining() const { return remaining_; }

    static constexpr size_t kSlack = 16;

  private:
    void Plan() {
        planned_ = pos;
        size_t room = start_ + chunk_ - pos;  // up to the chunk end
        uint64_t cap = std::min<uint64_t>(remaining_, room + maxMatch_);
        hardEnd = pos + static_cast<size_t>(cap);
        limit = std::min(hardEnd, start_ + chunk_);
    }

    ByteSink& sink_;
    size_t history_;
    size_t maxMatch_;
    size_t chunk_ = 0;
    uint64_t remaining_;
    uint64_t produced_ = 0;
    size_t start_ = 0;    // first byte not yet written
    size_t planned_ = 0;  // pos when the stretch was planned
    std::vector<LzByte> buf_;
};

// Copies a match of len bytes from dist bytes back (dist >= 1); may write up to kSlack bytes past
// the end of the match.
inline void LzCopy(LzByte* out, size_t pos, size_t dist, size_t len) {
    LzByte* d = out + pos;
    const LzByte* s = d - dist;
    if (dist >= 8) {
        for (size_t i = 0; i < len; i += 8)
            std::memcpy(d + i, s + i, 8);
    } else if (dist == 1) {
        std::fill_n(d, len, *s);
    } else {
        for (size_t i = 0; i < len; ++i)
            d[i] = s[i];
    }
}

}  // namespace varnok
