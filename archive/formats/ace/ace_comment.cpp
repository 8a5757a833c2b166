#include "archive/formats/ace/ace_comment.h"

#include <vector>

#include "archive/codecs/msb_bit_reader.h"
#include "archive/formats/ace/ace_huffman.h"

namespace varnok::ace {

bool DecodeComment(std::span<const uint8_t> packed, std::string& text, size_t maxSize) {
    text.clear();
    // The bits come in 32-bit words; a short last word is completed with zeros.
    std::vector<uint8_t> words(packed.begin(), packed.end());
    words.resize((words.size() + 3) & ~size_t{3}, 0);
    MemorySource mem(words.data(), words.size());
    WordOrderSource ordered(mem);
    MsbBitInput input(ordered, words.size(), 4096);
    MsbBitReader br(input);

    size_t want = br.Get(15);
    if (want > maxSize) want = maxSize;
    AceHuffman code;
    bool ok = false;
    br = ReadCode(br, code, AceHuffman::kMaxWidth, 260 + 22 + 2, &ok);
    if (!ok || br.PastEnd()) return false;

    uint32_t seen[511] = {};  // by the sum of the two bytes before a position: the last such position
    while (text.size() < want) {
        uint32_t from = 0;
        if (text.size() > 1) {
            const size_t h = static_cast<uint8_t>(text[text.size() - 1]) + static_cast<uint8_t>(text[text.size() - 2]);
            from = seen[h];
            seen[h] = static_cast<uint32_t>(text.size());
        }
        br.Refill();
        const uint32_t sym = code.Decode(br);
        if (br.PastEnd()) return false;
        if (sym < 256) {
            text.push_back(static_cast<char>(sym));
            continue;
        }
        if (sym == AceHuffman::kInvalid) return false;
        const size_t n = sym - 256 + 2;
        for (size_t i = 0; i < n && text.size() < want; ++i) {
            if (from + i >= text.size()) return false;
            text.push_back(text[from + i]);
        }
    }
    return true;
}

}  // namespace varnok::ace
