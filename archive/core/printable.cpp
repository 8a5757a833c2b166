#include "archive/core/printable.h"

#include <cstdint>
#include <cstdio>

namespace varnok {

namespace {

// One character of UTF-8 at s[i]: its code point and length, or length 0 for a byte that starts no valid
// sequence.
size_t DecodeOne(std::string_view s, size_t i, uint32_t& cp) {
    const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t c = b(i);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (len == 0 || (c >= 0xF5) || i + len > s.size()) return 0;
    cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool IsBidiControl(uint32_t cp) {
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F ||
           cp == 0x061C;
}

bool IsControl(uint32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F);
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string TerminalSafe(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    char b[16];
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t len = DecodeOne(s, i, cp);
        if (len == 0) {
            snprintf(b, sizeof b, "\\x%02X", static_cast<uint8_t>(s[i]));
            out += b;
            ++i;
            continue;
        }
        if (IsControl(cp)) {
            snprintf(b, sizeof b, "\\x%02X", cp);
            out += b;
        } else if (IsBidiControl(cp)) {
            snprintf(b, sizeof b, "\\u{%04X}", cp);
            out += b;
        } else if (cp == '\\') {
            out += "\\\\";
        } else {
            out.append(s.substr(i, len));
        }
        i += len;
    }
    return out;
}

bool NeedsEscaping(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t len = DecodeOne(s, i, cp);
        if (len == 0 || IsControl(cp) || IsBidiControl(cp) || cp == '\\') return true;
        i += len;
    }
    return false;
}

std::string VisibleMarks(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t len = DecodeOne(s, i, cp);
        if (len == 0) {
            AppendUtf8(out, 0xFFFD);
            ++i;
            continue;
        }
        if (cp < 0x20)
            AppendUtf8(out, 0x2400 + cp);
        else if (cp == 0x7F)
            AppendUtf8(out, 0x2421);
        else if (IsControl(cp) || IsBidiControl(cp))
            AppendUtf8(out, 0xFFFD);
        else
            out.append(s.substr(i, len));
        i += len;
    }
    return out;
}

}  // namespace varnok
