// Crunched data of the old style (ARC methods 5 to 7): LZW with 12-bit codes whose values are the
// positions of the strings in a 4096-entry hash table.
//
// Both sides build the same table: a string (predecessor code, follower byte) is placed at a hashed
// position, or when that is taken, at the first free position from 101 past the end of the collision
// chain there. Codes are packed two to three bytes, most significant bits first.
#include <vector>

#include "archive/core/errors.h"
#include "archive/formats/arc/arc_methods.h"

namespace varnok::arc {

namespace {

constexpr uint32_t kTableSize = 4096;
constexpr uint16_t kNoPredecessor = 0xFFFF;
constexpr uint32_t kStackSize = 4096;  // pushing the 4096th byte overflows

struct Entry {
    uint16_t predecessor = 0;
    uint16_t next = 0;  // next entry of the collision chain; 0 ends it
    uint8_t follower = 0;
    bool used = false;
};

class StringTable {
  public:
    explicit StringTable(bool newHash) : newHash_(newHash), e_(kTableSize) {
        for (uint32_t c = 0; c < 256; ++c)
            Add(kNoPredecessor, static_cast<uint8_t>(c));
        free_ = kTableSize - 256;
    }

    const Entry& operator[](uint32_t code) const { return e_[code]; }

    // Enters (predecessor, follower) while the table has room.
    void AddIfRoom(uint16_t predecessor, uint8_t follower) {
        if (free_ == 0) return;
        Add(predecessor, follower);
        --free_;
    }

  private:
    uint32_t Hash(uint16_t predecessor, uint8_t follower) const {
        uint32_t sum = (static_cast<uint32_t>(predecessor) + follower) & 0xFFFF;
        if (newHash_) return (sum * 15073u) & 0xFFF;
        uint32_t s = sum | 0x800;
        return ((s * s) >> 6) & 0xFFF;  // the middle 12 bits of the square
    }

    void Add(uint16_t predecessor, uint8_t follower) {
        uint32_t at = Hash(predecessor, follower);
        if (e_[at].used) {
            // Go to the end of the collision chain, then search on from 101 places further.
            for (uint32_t steps = 0; e_[at].next != 0 && steps < kTableSize; ++steps)
                at = e_[at].next;
            uint32_t slot = (at + 101) & 0xFFF;
            while (e_[slot].used)
                slot = (slot + 1) & 0xFFF;  // a free entry exists (counted)
            e_[at].next = static_cast<uint16_t>(slot);
            at = slot;
        }
        Entry& n = e_[at];
        n.used = true;
        n.next = 0;
        n.predecessor = predecessor;
        n.follower = follower;
    }

    bool newHash_;
    std::vector<Entry> e_;
    uint32_t free_ = 0;
};

// Reads 12-bit codes: two bytes give a code and a pending half byte, which the next byte completes.
class CodeReader {
  public:
    explicit CodeReader(CodecInput& in) : in_(in) {}
    // The next code, or -1 when the input ends.
    int Next() {
        if (!pending_) {
            int a = in_.Byte();
            if (a < 0) return -1;
            int b = in_.Byte();
            if (b < 0) return -1;
            half_ = b & 0x0F;
            pending_ = true;
            return (a << 4) | (b >> 4);
        }
        int c = in_.Byte();
        if (c < 0) return -1;
        pending_ = false;
        return (half_ << 8) | c;
    }

  private:
    CodecInput& in_;
    bool pending_ = false;
    int half_ = 0;
};

}  // namespace

DecodeResult UncrunchOld(CodecInput& in, CodecOutput& out, bool newHash) {
    StringTable table(newHash);
    CodeReader codes(in);
    std::vector<uint8_t> stack(kStackSize);

    int first = codes.Next();
    if (first < 0) return FinishDecode(DecodeStatus::Ok, 0, in, out, in.Taken());
    if (!table[static_cast<uint32_t>(first)].used)
        return FinishDecode(DecodeStatus::Corrupt, E_InvalidCode, in, out, in.Taken());
    uint8_t lastFirst = table[static_cast<uint32_t>(first)].follower;
    out.Put(lastFirst);
    uint32_t prev = static_cast<uint32_t>(first);

    DecodeStatus status = DecodeStatus::Ok;
    int error = 0;
    for (;;) {
        if (out.Cancelled()) break;
        int code = codes.Next();
        if (code < 0) break;
        uint32_t sp = 0;
        uint32_t c = static_cast<uint32_t>(code);
        if (!table[c].used) {
            // A string not in the table yet: the previous string plus its own first byte.
            stack[sp++] = lastFirst;
            c = prev;
        }
        while (table[c].used && table[c].predecessor != kNoPredecessor) {
            if (sp + 1 >= kStackSize) break;
            stack[sp++] = table[c].follower;
            c = table[c].predecessor;
        }
        if (sp + 1 >= kStackSize) {
            status = DecodeStatus::Corrupt;
            error = E_StackOverflow;
            break;
        }
        if (!table[c].used) {
            status = DecodeStatus::Corrupt;
            error = E_InvalidCode;
            break;
        }
        lastFirst = table[c].follower;
        stack[sp++] = lastFirst;
        uint8_t* dst = out.Reserve(sp);
        for (uint32_t i = 0; i < sp; ++i)
            dst[i] = stack[sp - 1 - i];
        out.Commit(sp);
        table.AddIfRoom(static_cast<uint16_t>(prev), lastFirst);
        prev = static_cast<uint32_t>(code);
    }
    return FinishDecode(status, error, in, out, in.Taken());
}

}  // namespace varnok::arc
