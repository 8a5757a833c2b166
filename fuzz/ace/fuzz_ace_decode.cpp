// The ACE decoder on arbitrary bytes for each method and block mode. The first byte picks the compression type
// (low two bits; 3 is one the decoder does not know), the dictionary size (next four bits; 15 asks for more
// than the format allows) and whether a second file continues the first as in a solid archive (bit 6); the
// second byte a lead-in: a valid stream start that has already switched to DELTA, EXE, SOUND 8/16/32 or PIC, so
// that arbitrary bytes reach each mode's code at once. Checked: never more output than the unpacked size, Ok
// only with all of it, and a decoder left usable after any input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/core/stream.h"
#include "archive/formats/ace/ace_decoder.h"
#include "tests/formats/ace/ace_test_writer.h"

namespace {

namespace tw = varnok::test::ace;

// Lead-ins: "ab" in LZ77, then a change to the mode (with its parameters).
const std::vector<std::vector<uint8_t>>& LeadIns() {
    static const auto leadIns = [] {
        std::vector<std::vector<uint8_t>> v;
        std::vector<tw::ModeChange> modes(8);
        modes[0].mode = 1;  // DELTA: 4 planes of 64
        modes[0].deltaDist = 4;
        modes[0].deltaLen = 256;
        modes[1].mode = 2;  // EXE, 32-bit calls
        modes[1].exeMode = 1;
        modes[2].mode = 3;
        modes[3].mode = 4;
        modes[4].mode = 5;
        modes[5].mode = 6;
        modes[6].mode = 7;  // PIC: 64 pixels of 3 planes
        modes[6].picWidth = 64;
        modes[6].picPlanes = 3;
        modes[7].mode = 2;  // EXE, 16-bit calls
        for (const auto& m : modes) {
            tw::BitWriter w;
            tw::PutSymbols(w, {{'a'}, {'b'}}, &m);
            v.push_back(w.Finish());
        }
        return v;
    }();
    return leadIns;
}

class CheckedSink final : public varnok::ByteSink {
  public:
    void Write(const uint8_t* p, size_t n) override {
        count += n;
        for (size_t i = 0; i < n; ++i)
            sum += p[i];
    }
    uint64_t count = 0, sum = 0;
};

void Run(varnok::ace::Decoder& d, const varnok::ace::FileParams& p, const std::vector<uint8_t>& packed) {
    varnok::MemorySource src(packed.data(), packed.size());
    CheckedSink sink;
    const auto r = d.Decode(p, src, sink);
    if (sink.count > p.unpackedSize || r.produced != sink.count) __builtin_trap();
    if (r.Ok() && sink.count != p.unpackedSize) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t opts = data[0];
    const uint8_t type = opts & 3;  // 3: a type the decoder does not know
    const uint16_t dict = static_cast<uint16_t>((opts >> 2) & 15);  // 15 asks past the format's largest
    const bool twoFiles = opts & 0x40;
    const size_t leadIn = data[1] % 9;  // 0: none
    std::vector<uint8_t> packed;
    if (type == 2 && leadIn) packed = LeadIns()[leadIn - 1];
    packed.insert(packed.end(), data + 2, data + size);

    static varnok::ace::Decoder decoder;  // one for the whole run, as an archive's files share it
    varnok::ace::FileParams p;
    p.type = type;
    p.parameters = dict;
    p.unpackedSize = 1 + (size * 7) % (256 * 1024);
    if (twoFiles) {
        const size_t half = packed.size() / 2;
        const std::vector<uint8_t> first(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(half));
        const std::vector<uint8_t> second(packed.begin() + static_cast<ptrdiff_t>(half), packed.end());
        p.packedSize = first.size();
        Run(decoder, p, first);
        p.solid = true;
        p.packedSize = second.size();
        Run(decoder, p, second);
    } else {
        p.packedSize = packed.size();
        Run(decoder, p, packed);
    }
    return 0;
}
