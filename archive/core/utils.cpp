#include "archive/core/utils.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"
#include "platform/datetime.h"

namespace varnok {

int PercentOf(int64_t a, int64_t b) {
    if (b == 0) return 0;
    double v = std::nearbyint(static_cast<double>(a) * 100.0 / static_cast<double>(b));  // ties to even
    if (v < 0) return 0;
    if (v > 100) return 100;
    return static_cast<int>(v);
}

int RatioOf(uint64_t packed, uint64_t unpacked) {
    if (packed == 0 || unpacked == 0 || packed >= unpacked) return 0;
    if (unpacked - packed > 100000) {
        packed /= 100;
        unpacked /= 100;
        if (unpacked == 0) return 0;
    }
    int r = static_cast<int>((unpacked - packed) * 100 / unpacked);
    return r == 0 ? 1 : r;
}

int64_t DosToUnixTime(uint32_t v) {
    // Archives list many entries of the same day: the local-time conversion of a date and hour is remembered,
    // and minutes and seconds are added to it (zone changes happen on whole hours).
    struct Memo {
        uint32_t key = 0xFFFFFFFF;
        int64_t base = 0;
        bool valid = false;
        std::string zone;
    };
    static thread_local Memo memo;
    const char* tz = getenv("TZ");
    if (memo.zone != (tz ? tz : "")) {
        memo.valid = false;
        memo.zone = tz ? tz : "";
    }
    const uint32_t key = v >> 11;  // date and hour
    const int minute = static_cast<int>((v >> 5) & 63), second = static_cast<int>(2 * (v & 31));
    if (v != 0 && memo.key == key && memo.valid && minute < 60 && second < 60)
        return memo.base + minute * 60 + second;
    platform::CivilTime t;
    if (v != 0) {
        t.year = static_cast<int>(v >> 25) + 1980;
        t.month = static_cast<int>((v >> 21) & 15) % 13;
        t.day = static_cast<int>((v >> 16) & 31);
        t.hour = static_cast<int>((v & 0xFFFF) >> 11) % 25;
        t.minute = static_cast<int>((v >> 5) & 63) % 61;
        t.second = static_cast<int>(2 * (v & 31)) % 61;
        if (!platform::IsValidCivil(t))
            t = platform::CivilTime{};
        else {
            platform::CivilTime hour = t;
            hour.minute = hour.second = 0;
            memo.key = key;
            memo.base = platform::LocalToUnix(hour);
            memo.valid = true;
            return memo.base + t.minute * 60 + t.second;
        }
    }
    return platform::LocalToUnix(t);
}

uint32_t UnixToDosTime(int64_t tt) {
    platform::CivilTime t = platform::UnixToLocal(tt);
    if (t.year < 1980) t = platform::CivilTime{};
    if (t.year > 2107) t.year = 2107;
    return (static_cast<uint32_t>(t.year - 1980) << 25) | (static_cast<uint32_t>(t.month) << 21) |
           (static_cast<uint32_t>(t.day) << 16) | (static_cast<uint32_t>(t.hour) << 11) |
           (static_cast<uint32_t>(t.minute) << 5) | static_cast<uint32_t>(t.second / 2);
}

int64_t ArchiveUnixTime(int64_t t) {
    if (t == 0) {
        platform::CivilTime c;
        c.minute = 1;
        return platform::LocalToUnix(c);
    }
    return t;
}

std::string ToOctal(uint64_t value, int width, bool terminate) {
    if (width <= 0) return {};
    std::string s(static_cast<size_t>(width), '0');
    s[static_cast<size_t>(width - 1)] = terminate ? '\0' : ' ';
    int pos = width - 2;
    while (value && pos >= 0) {
        s[static_cast<size_t>(pos--)] = static_cast<char>('0' + (value & 7));
        value >>= 3;
    }
    return s;
}

uint64_t FromOctal(std::string_view text) {
    uint64_t v = 0;
    for (char c : text)
        if (c >= '0' && c <= '7') v = (v << 3) | static_cast<uint64_t>(c - '0');
    return v;
}

std::string ToAnsiName(std::string_view name, bool translate) {
    std::string s = translate ? platform::OemToUtf8(name) : std::string(name);
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::string ToOemName(std::string_view name, bool translate) {
    std::string s = translate ? platform::Utf8ToOem(name) : std::string(name);
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::string AppendSlash(std::string_view path) {
    std::string s(path);
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

std::string RemoveSlash(std::string_view path) {
    std::string s(path);
    if (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

size_t BaseNameLength(std::string_view name) {
    size_t p = name.find_last_of('.');
    return p == std::string_view::npos ? name.size() : p;
}

std::string SplitAt(std::string& s, std::string_view delimiter) {
    size_t p = s.find(delimiter);
    if (p == std::string::npos || delimiter.empty()) {
        std::string r = std::move(s);
        s.clear();
        return r;
    }
    std::string r = s.substr(0, p);
    s.erase(0, p + delimiter.size());
    return r;
}

bool IsDigits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool IsCompressMagic(uint16_t w) {
    return w == 0x1E1F || w == 0x8B1F || w == 0x9D1F || w == 0x9E1F || w == 0xA01F;
}

std::string ShiftText(std::string_view s, int k, bool down) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(static_cast<unsigned char>(c) + (down ? -k : k));
    return r;
}

int DiskNumberOfLabel(std::string_view label) {
    static constexpr std::string_view kTag = "PKBACK# ";
    size_t p = label.rfind(kTag);
    if (p == std::string_view::npos) return 0;
    std::string_view d = label.substr(p + kTag.size());
    if (d.empty() || !IsDigits(d) || d.size() > 9) return 0;
    int v = 0;
    for (char c : d)
        v = v * 10 + (c - '0');
    return v;
}

std::string DeflateName(uint16_t flags) {
    bool b1 = flags & 2, b2 = flags & 4;
    if (b1 && b2) return "DeflateS";
    if (b2) return "DeflateF";
    if (b1) return "DeflateX";
    return "DeflateN";
}

std::string ExtractFileName(std::string_view path) {
    size_t p = path.find_last_of('/');
    return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string ExtractFilePath(std::string_view path) {
    size_t p = path.find_last_of('/');
    return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string ExtractFileExt(std::string_view path) {
    std::string name = ExtractFileName(path);
    size_t p = name.find_last_of('.');
    return p == std::string::npos ? std::string() : name.substr(p);
}

std::string UpperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return r;
}

std::string XmlEscape(std::string_view s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '&': o += "&amp;"; break;
            case '<': o += "&lt;"; break;
            case '>': o += "&gt;"; break;
            case '"': o += "&quot;"; break;
            case '\'': o += "&apos;"; break;
            default: o += c;
        }
    }
    return o;
}

std::string LowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

}  // namespace varnok
