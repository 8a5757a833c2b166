#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <mutex>
#include <string>

namespace varnok::platform {
namespace {

std::mutex g_mutex;
std::string g_oem = "CP437";

}  // namespace

void SetOemCodePage(std::string_view iconvName) {
    std::lock_guard lock(g_mutex);
    g_oem = std::string(iconvName);
}

std::string OemCodePage() {
    std::lock_guard lock(g_mutex);
    return g_oem;
}

std::string ConvertCharset(std::string_view text, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    out.resize(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* op = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        size_t r = iconv(cd, &in, &inLeft, &op, &outLeft);
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            size_t used = static_cast<size_t>(op - out.data());
            out.resize(out.size() * 2);
            op = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        // An input byte the source set cannot map, or a character the target lacks.
        if (outLeft < 1) {
            size_t used = static_cast<size_t>(op - out.data());
            out.resize(out.size() * 2);
            op = out.data() + used;
            outLeft = out.size() - used;
        }
        *op++ = '_';
        --outLeft;
        // Skip one source character: a whole UTF-8 sequence when converting from UTF-8.
        size_t skip = 1;
        if (std::string_view(from) == "UTF-8") {
            unsigned char c = static_cast<unsigned char>(*in);
            skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (skip > inLeft) skip = inLeft;
        }
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    out.resize(static_cast<size_t>(op - out.data()));
    return out;
}

std::string OemToUtf8(std::string_view oem) {
    bool ascii = true;
    for (unsigned char c : oem)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) return std::string(oem);
    return ConvertCharset(oem, OemCodePage().c_str(), "UTF-8");
}

std::string Utf8ToOem(std::string_view utf8) {
    bool ascii = true;
    for (unsigned char c : utf8)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) return std::string(utf8);
    return ConvertCharset(utf8, "UTF-8", OemCodePage().c_str());
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::string ToDisplayUtf8(std::string_view s) {
    if (IsValidUtf8(s)) return std::string(s);
    return OemToUtf8(s);
}

}  // namespace varnok::platform
