// The "begin" line of encoded text (UUE, XXE, Base64 and MIME parts) and the size of what it encodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok {

namespace encoded {
enum class Kind { None, Uue, Xxe, Base64 };
struct Begin {
    Kind kind = Kind::None;
    std::string name;  // as written (not yet made safe)
    uint32_t mode = 0644;
    uint64_t linePos = 0;  // offset of the "begin" line (or of the MIME part headers)
    uint64_t dataPos = 0;  // first encoded line
    bool mime = false;     // a MIME part: its data end at a blank line or a boundary
};
// Finds the first encoded file in the first `limit` bytes: a "begin MODE NAME" line (UUE, or XXE when a
// "table" line or XXE characters follow), "begin-base64 MODE NAME", or a MIME part with base64 transfer
// encoding.
bool FindBegin(const platform::File& f, uint64_t from, uint64_t limit, Begin& b);
// The number of bytes the encoded lines after the begin line stand for (up to "end", or the MIME part's end),
// counted from the line lengths without decoding; the lines end where the decoder stops reading them.
// UUE and XXE text without an "end" line goes on in the next volume files (see NextEncodedVolumeName).
// stop, when given, is where the encoded file ends in f: after its last line (the end of f when it goes on
// in further volumes).
uint64_t DecodedSize(const platform::File& f, const Begin& b, uint64_t fileSize,
                     const std::string& path = {}, uint64_t* stop = nullptr);
// The value of a character in the XXE table, or -1.
int XxeValue(char c);
// Parses one "begin MODE NAME" (kind Uue) or "begin-base64 MODE NAME" (kind Base64) line, given without its
// line end. The name is the rest of the line after the mode.
bool ParseBeginLine(const std::string& line, Begin& b);
// A parameter of a MIME header line (key as 'filename=' or 'name='), quoted or not; empty when absent.
std::string MimeParameter(const std::string& line, const char* key);
}  // namespace encoded

}  // namespace varnok
