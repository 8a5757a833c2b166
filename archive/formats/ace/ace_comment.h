// ACE comments (of the archive and of files) are packed with a small LZ77 of their own: a 15-bit length, one
// LZ77 code in the form the data codes are sent in, then literals and copies whose source is the last place
// where the same two preceding bytes (by their sum) were seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace varnok::ace {

// Unpacks a comment; at most maxSize bytes are produced. False when the packed bytes are damaged; `text` then
// holds what was unpacked before the damage.
bool DecodeComment(std::span<const uint8_t> packed, std::string& text, size_t maxSize = 32767);

}  // namespace varnok::ace
