// Shrink (ZIP method 1): dynamic LZW. Codes 0-255 are the bytes, 256 is the control code, 257-8191 are
// strings, each a parent code plus one byte. The code width starts at 9 bits and grows only when the
// compressor sends 256,1; 256,2 frees every leaf string (partial clear) and freed codes are reused lowest
// first.
#include <memory>
#include <vector>

#include "archive/core/errors.h"
#include "archive/formats/zip/legacy.h"
#include "archive/formats/zip/legacy_io.h"

namespace varnok {

namespace {

constexpr unsigned kCodes = 8192;
constexpr unsigned kFirstFree = 257;
constexpr unsigned kMaxWidth = 13;
constexpr int16_t kUnused = -1;

class Unshrinker {
  public:
    Unshrinker(ByteSource& source, ByteSink& sink, uint64_t size, const CancelFlag* cancel)
        : input_(source),  // the output polls the cancel flag
          in_(input_),
          out_(sink, size, cancel),
          run_(in_, out_, size),
          parent_(kCodes, kUnused),
          last_(kCodes),
          children_(kCodes),
          free_(kCodes),
          stack_(kCodes) {
        for (unsigned c = 0; c < 256; ++c)
            last_[c] = static_cast<uint8_t>(c);
        for (unsigned c = kFirstFree; c < kCodes; ++c)
            free_[freeCount_++] = static_cast<uint16_t>(c);
    }

    DecodeResult Run(uint64_t size) { return Decode(size); }

  private:
    DecodeResult Decode(uint64_t size) {
        if (size == 0) return run_.End();
        if (out_.Cancelled()) return run_.Cancelled();
        unsigned width = 9;
        uint32_t code;
        if (!in_.Read(width, code)) return run_.Fail(E_BadBlock);
        if (code > 255) return run_.Fail(E_BadBlock);  // the first code can only be a byte
        out_.Put(static_cast<uint8_t>(code));
        unsigned prev = code;
        while (!out_.Full()) {
            if (out_.Cancelled()) return run_.Cancelled();
            if (!in_.Read(width, code)) return run_.End();
            if (code == 256) {
                if (!in_.Read(width, code)) return run_.End();
                if (code == 1) {
                    // Codes wider than 13 bits do not exist: the dictionary holds 8192 codes.
                    if (++width > kMaxWidth) return run_.Fail(E_BadBlock);
                } else if (code == 2) {
                    PartialClear();
                } else {
                    return run_.Fail(E_BadBlock);
                }
                continue;
            }
            // Build the string backwards on the stack.
            size_t depth = 0;
            unsigned c = code;
            if (c >= kFirstFree && parent_[c] == kUnused) {
                // A code not yet defined: the string the compressor is just defining, the previous string
                // plus its own first byte. Only the next code to be assigned can be in that state.
                if (freeCount_ == freeNext_ || c != free_[freeNext_]) return run_.Fail(E_BadBlock);
                stack_[depth++] = 0;  // placeholder for the first byte, filled below
                c = prev;
            }
            while (c >= 256) {
                if (depth == kCodes) return run_.Fail(E_StackOverflow);
                stack_[depth++] = last_[c];
                const int p = parent_[c];
                if (p < 0) return run_.Fail(E_BadBlock);  // a string whose prefix was freed
                c = static_cast<unsigned>(p);
            }
            if (depth == kCodes) return run_.Fail(E_StackOverflow);
            const uint8_t first = static_cast<uint8_t>(c);
            stack_[depth++] = first;
            if (code >= kFirstFree && parent_[code] == kUnused) stack_[0] = first;

            for (size_t i = depth; i-- > 0 && !out_.Full();)
                out_.Put(stack_[i]);

            // The new string: the previous one plus the first byte of this one.
            if (freeNext_ < freeCount_) {
                const unsigned fresh = free_[freeNext_++];
                parent_[fresh] = static_cast<int16_t>(prev);
                last_[fresh] = first;
                ++children_[prev];
            }
            prev = code;
        }
        return run_.End();
    }

    // Frees every string code that no other string extends; the free list becomes the freed codes in
    // ascending order (codes never used count as leaves too).
    void PartialClear() {
        std::vector<uint16_t> leaves;
        leaves.reserve(kCodes);
        for (unsigned c = kFirstFree; c < kCodes; ++c)
            if (children_[c] == 0) leaves.push_back(static_cast<uint16_t>(c));
        for (uint16_t c : leaves) {
            if (parent_[c] != kUnused) {
                --children_[static_cast<unsigned>(parent_[c])];
                parent_[c] = kUnused;
            }
        }
        freeCount_ = 0;
        freeNext_ = 0;
        for (uint16_t c : leaves)
            free_[freeCount_++] = c;
    }

    CodecInput input_;
    LsbBitReader in_;
    HistoryOutput out_;
    LegacyRun run_;
    std::vector<int16_t> parent_;
    std::vector<uint8_t> last_;
    std::vector<uint16_t> children_;
    std::vector<uint16_t> free_;
    size_t freeCount_ = 0, freeNext_ = 0;
    std::vector<uint8_t> stack_;
};

}  // namespace

DecodeResult Unshrink(ByteSource& source, ByteSink& sink, uint64_t uncompressedSize,
                      const CancelFlag* cancel) {
    Unshrinker u(source, sink, uncompressedSize, cancel);
    return u.Run(uncompressedSize);
}

}  // namespace varnok
