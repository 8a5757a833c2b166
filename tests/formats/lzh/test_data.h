// Deterministic mixed test data for the decoder tests and the benchmark: word-like text, binary
// noise, long runs, and blocks repeated from far back (so matches reach across large windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::test {

inline std::vector<uint8_t> MixedData(size_t size, uint32_t seed = 1) {
    std::vector<uint8_t> out;
    out.reserve(size + 4096);
    uint32_t s = seed * 2654435761u + 1;
    auto next = [&]() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    };
    static const char* const words[] = {"archive", "header", "method", "the ",    "of ",    "window",
                                        "Huffman", "length", "table",  "block\n", "entry ", "data, "};
    while (out.size() < size) {
        uint32_t kind = next() % 10;
        if (kind < 5) {  // text
            for (int i = 0, n = 20 + static_cast<int>(next() % 200); i < n; ++i) {
                const char* w = words[next() % std::size(words)];
                out.insert(out.end(), w, w + std::char_traits<char>::length(w));
            }
        } else if (kind < 7) {  // noise
            for (int i = 0, n = 16 + static_cast<int>(next() % 600); i < n; ++i)
                out.push_back(static_cast<uint8_t>(next()));
        } else if (kind < 8) {  // a run
            out.insert(out.end(), 1 + next() % 3000, static_cast<uint8_t>(next()));
        } else if (out.size() > 1024) {  // repeat a block from up to 64 KiB back
            size_t back = 1 + next() % std::min<size_t>(out.size(), 65000);
            size_t len = 3 + next() % 800;
            size_t from = out.size() - back;
            for (size_t i = 0; i < len; ++i)
                out.push_back(out[from + i]);
        }
    }
    out.resize(size);
    return out;
}

}  // namespace varnok::test
