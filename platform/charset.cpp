// The detector is created per call: uchardet keeps per-instance state whose reset costs about what a new
// instance does, and a call per archive is rare enough. The converter wraps one iconv descriptor; its only
// subtleties are iconv's three ways of stopping (E2BIG: grow the output and go on; EILSEQ and EINVAL: stop
// at the sequence, whose start iconv has left `in` pointing at) and resetting the shift state before each
// call so that a failure in one name cannot leak a state into the next.
#include "platform/charset.h"

#include <errno.h>
#include <iconv.h>
#include <uchardet/uchardet.h>

namespace varnok::platform {

std::string DetectCharset(std::string_view bytes) {
    uchardet_t ud = uchardet_new();
    if (!ud) return {};
    std::string answer;
    if (uchardet_handle_data(ud, bytes.data(), bytes.size()) == 0) {
        uchardet_data_end(ud);
        if (const char* cs = uchardet_get_charset(ud)) answer = cs;
    }
    uchardet_delete(ud);
    return answer;
}

bool CharsetKnown(const std::string& name) {
    if (name.empty()) return false;
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

Converter::Converter(const std::string& from, const std::string& to) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd != reinterpret_cast<iconv_t>(-1)) cd_ = cd;
}

Converter::~Converter() {
    if (cd_) iconv_close(static_cast<iconv_t>(cd_));
}

Converter::Converter(Converter&& other) noexcept : cd_(other.cd_) {
    other.cd_ = nullptr;
}

Converter& Converter::operator=(Converter&& other) noexcept {
    if (this != &other) {
        if (cd_) iconv_close(static_cast<iconv_t>(cd_));
        cd_ = other.cd_;
        other.cd_ = nullptr;
    }
    return *this;
}

size_t Converter::ConvertSome(std::string_view in, std::string& out) {
    if (!cd_ || in.empty()) return 0;
    iconv_t cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const size_t start = out.size();
    out.resize(start + in.size() * 4 + 16);
    char* ip = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* op = out.data() + start;
    size_t outLeft = out.size() - start;
    for (;;) {
        size_t r = iconv(cd, &ip, &inLeft, &op, &outLeft);
        if (r != static_cast<size_t>(-1)) {
            // Flush whatever a stateful target still holds (a return to the initial shift state).
            if (iconv(cd, nullptr, nullptr, &op, &outLeft) != static_cast<size_t>(-1)) break;
        }
        if (errno != E2BIG) break;  // EILSEQ or EINVAL: `ip` is at the start of the failing sequence
        const size_t used = static_cast<size_t>(op - out.data());
        out.resize(out.size() * 2);
        op = out.data() + used;
        outLeft = out.size() - used;
    }
    out.resize(static_cast<size_t>(op - out.data()));
    return in.size() - inLeft;
}

bool Converter::Convert(std::string_view in, std::string& out) {
    out.clear();
    if (!cd_) return false;
    return ConvertSome(in, out) == in.size();
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t NextUtf8(std::string_view s, size_t& pos) {
    const unsigned char c = static_cast<unsigned char>(s[pos]);
    if (c < 0x80) {
        ++pos;
        return c;
    }
    size_t len;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        ++pos;
        return kBadUtf8;
    }
    if (pos + len > s.size()) {
        ++pos;
        return kBadUtf8;
    }
    for (size_t k = 1; k < len; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[pos + k]);
        if ((d & 0xC0) != 0x80) {
            ++pos;
            return kBadUtf8;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kBadUtf8;
    }
    pos += len;
    return cp;
}

}  // namespace varnok::platform
