// Crushed data (PAK method 10): LZW over an 8192-entry table whose codes start 1 bit wide, with two
// coding modes and reuse of rarely used entries once the table is full. The result is run-length packed.
//
// Symbols: 0-255 literals, 256 the end of the data, 257 and up strings. While few strings were seen among
// the last 500 symbols, each symbol starts with a flag bit: 0 = an 8-bit literal follows, 1 = a string code
// of the current width follows (its value + 256 is the symbol). Otherwise every symbol is one code of the
// current width, with literals stored as their complement. Each symbol but the first enters the previous
// string plus the first byte of the current one. The width grows when the number of strings entered
// reaches 2^width (minus 256 in the second mode).
//
// Every entry carries a usage level: strings just used (and their prefixes) get 4, new entries 2. With
// the table full, a scan from the last replaced position lowers levels by one (wrapping at 8 bits) until
// one reaches 0, and the entry with the lowest level seen takes the new string.
#include <array>
#include <climits>
#include <vector>

#include "archive/core/errors.h"
#include "archive/formats/arc/arc_methods.h"

namespace varnok::arc {

namespace {

constexpr int kTableSize = 8192;
constexpr int kFirstString = 257;
constexpr int kEnd = 256;
constexpr int kWindow = 500;
constexpr int kManyStrings = 375;

class CrushTable {
  public:
    CrushTable() : parent_(kTableSize, -1), byte_(kTableSize, 0), usage_(kTableSize, 0) {
        for (int i = 0; i < 256; ++i)
            byte_[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }

    int Count() const { return count_; }
    bool Full() const { return count_ == kTableSize; }

    // First byte of a string; -1 when its chain does not end (damaged data).
    int FirstByte(int s) const {
        for (int steps = 0; steps < kTableSize; ++steps) {
            if (parent_[static_cast<size_t>(s)] < 0) return byte_[static_cast<size_t>(s)];
            s = parent_[static_cast<size_t>(s)];
        }
        return -1;
    }

    // Marks a string and its prefixes as just used; false when its chain does not end.
    bool MarkUsed(int s) {
        for (int steps = 0; steps < kTableSize; ++steps) {
            usage_[static_cast<size_t>(s)] = 4;
            s = parent_[static_cast<size_t>(s)];
            if (s < 0) return true;
        }
        return false;
    }

    void Append(int parent, uint8_t b) {
        parent_[static_cast<size_t>(count_)] = static_cast<int16_t>(parent);
        byte_[static_cast<size_t>(count_)] = b;
        usage_[static_cast<size_t>(count_)] = 2;
        ++count_;
    }

    // The entry to reuse for a new string in a full table.
    int PickVictim() {
        int victim = kFirstString;
        int lowest = INT_MAX;
        int i = scan_;
        do {
            if (++i == kTableSize) i = kFirstString;
            uint8_t& u = usage_[static_cast<size_t>(i)];
            if (u < lowest) {
                victim = i;
                lowest = u;
            }
            --u;
            if (u == 0) break;
        } while (i != scan_);
        scan_ = i;
        return victim;
    }

    void Replace(int at, int parent) {
        parent_[static_cast<size_t>(at)] = static_cast<int16_t>(parent);
        usage_[static_cast<size_t>(at)] = 2;
    }
    void SetByte(int at, uint8_t b) { byte_[static_cast<size_t>(at)] = b; }

    // Writes a string's bytes last to first into buf; returns the length, or 0 when its chain does not end.
    int Reversed(int s, uint8_t* buf) const {
        int n = 0;
        while (s >= 0) {
            if (n == kTableSize) return 0;
            buf[n++] = byte_[static_cast<size_t>(s)];
            s = parent_[static_cast<size_t>(s)];
        }
        return n;
    }

  private:
    std::vector<int16_t> parent_;
    std::vector<uint8_t> byte_;
    std::vector<uint8_t> usage_;
    int count_ = kFirstString;
    int scan_ = kFirstString;
};

}  // namespace

DecodeResult Uncrush(CodecInput& in, CodecOutput& out) {
    CrushTable table;
    LsbBitReader br(in);
    std::vector<uint8_t> buf(kTableSize);
    std::array<bool, kWindow> recent{};
    int recentStrings = 0;
    int ring = 0;
    int width = 1;
    int nextBump = 2;
    bool flagged = true;  // symbols carry a literal/string flag bit
    int prev = -1;

    DecodeStatus status = DecodeStatus::Ok;
    int error = 0;
    auto fail = [&](DecodeStatus s, int e) {
        status = s;
        error = e;
    };
    for (;;) {
        if (out.Cancelled()) break;
        uint32_t v;
        int sym;
        if (flagged) {
            uint32_t isString;
            if (!br.Read(1, isString) || !br.Read(isString ? width : 8, v)) {
                fail(DecodeStatus::Truncated, 0);
                break;
            }
            sym = static_cast<int>(isString ? v + 256 : v);
        } else {
            if (!br.Read(width, v)) {
                fail(DecodeStatus::Truncated, 0);
                break;
            }
            sym = static_cast<int>(v < 256 ? v ^ 0xFF : v);
        }
        if (sym == kEnd) break;
        const int count = table.Count();
        if (sym >= kTableSize || sym > count || (sym == count && (prev < 0 || table.Full()))) {
            fail(DecodeStatus::Corrupt, E_InvalidCode);
            break;
        }

        if (sym < count && !table.MarkUsed(sym)) {
            fail(DecodeStatus::Corrupt, E_InvalidCode);
            break;
        }

        // Track how many of the recent symbols were strings and pick the coding mode from that.
        if (recent[static_cast<size_t>(ring)]) --recentStrings;
        recent[static_cast<size_t>(ring)] = sym > kEnd;
        if (sym > kEnd) ++recentStrings;
        ring = (ring + 1) % kWindow;
        bool manyLiterals = recentStrings < kManyStrings;
        if (manyLiterals != flagged) {
            flagged = manyLiterals;
            nextBump = (1 << width) - (flagged ? 0 : 256);
        }

        // Enter the previous string plus this one's first byte.
        if (prev >= 0) {
            if (!table.Full()) {
                int b = table.FirstByte(sym < count ? sym : prev);
                if (b < 0) {
                    fail(DecodeStatus::Corrupt, E_InvalidCode);
                    break;
                }
                table.Append(prev, static_cast<uint8_t>(b));
            } else {
                int at = table.PickVictim();
                table.Replace(at, prev);
                int b = table.FirstByte(sym);
                if (b < 0) {
                    fail(DecodeStatus::Corrupt, E_InvalidCode);
                    break;
                }
                table.SetByte(at, static_cast<uint8_t>(b));
            }
        }
        prev = sym;

        int len = table.Reversed(sym, buf.data());
        if (len == 0) {
            fail(DecodeStatus::Corrupt, E_InvalidCode);
            break;
        }
        uint8_t* dst = out.Reserve(static_cast<size_t>(len));
        for (int i = 0; i < len; ++i)
            dst[i] = buf[static_cast<size_t>(len - 1 - i)];
        out.Commit(static_cast<size_t>(len));

        if (table.Count() - kFirstString >= nextBump) {
            ++width;
            nextBump = (1 << width) - (flagged ? 0 : 256);
        }
    }
    return FinishDecode(status, error, in, out, br.Consumed());
}

}  // namespace varnok::arc
