#include "app/formatting.h"

#include <cstdio>
#include <ctime>

#include "platform/datetime.h"

namespace varnok::app {

std::string GroupDigits(uint64_t v) {
    std::string d = std::to_string(v);
    std::string out;
    out.reserve(d.size() + d.size() / 3);
    size_t lead = d.size() % 3;
    for (size_t i = 0; i < d.size(); ++i) {
        if (i != 0 && i >= lead && (i - lead) % 3 == 0) out += '.';
        out += d[i];
    }
    return out;
}

uint64_t UngroupDigits(const std::string& text) {
    uint64_t v = 0;
    bool any = false;
    for (char c : text) {
        if (c == '.') continue;
        if (c < '0' || c > '9') return 0;
        if (v > (UINT64_MAX - 9) / 10) return 0;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        any = true;
    }
    return any ? v : 0;
}

uint64_t DivRoundEven(uint64_t a, uint64_t b) {
    if (b == 0) return 0;
    uint64_t q = a / b, r = a % b;
    // Compare 2r with b without overflow.
    if (r > b - r || (r == b - r && (q & 1))) ++q;
    return q;
}

int RatioPercent(uint64_t packed, uint64_t size) {
    if (size == 0 || packed >= size) return 0;
    uint64_t saved = size - packed;
    if (saved > UINT64_MAX / 100) {
        // Beyond any real archive: the scaled value no longer fits, so the sizes are scaled down first.
        uint64_t shift = 8;
        return RatioPercent(packed >> shift, size >> shift);
    }
    // saved * 100 / size, rounded to nearest with ties to even.
    return static_cast<int>(DivRoundEven(saved * 100, size));
}

std::string RatioText(uint64_t packed, uint64_t size) {
    return std::to_string(RatioPercent(packed, size)) + "% ";
}

std::string AttributeText(uint32_t attr) {
    std::string s;
    if (attr & 0x20) s += 'A';
    if (attr & 0x04) s += 'S';
    if (attr & 0x02) s += 'H';
    if (attr & 0x01) s += 'R';
    return s;
}

std::string CrcText(uint32_t crc, int digits) {
    if (digits <= 0) return {};
    char b[16];
    if (digits == 4)
        snprintf(b, sizeof b, "%04x", crc & 0xFFFFu);
    else
        snprintf(b, sizeof b, "%08x", crc);
    return b;
}

std::string ListerDateText(int64_t unixTime) {
    platform::CivilTime c = platform::UnixToLocal(unixTime);
    char b[40];
    snprintf(b, sizeof b, "%02d.%02d.%04d %02d:%02d", c.day, c.month, c.year, c.hour, c.minute);
    return b;
}

std::string LocalShortDateTime(int64_t unixTime) {
    time_t t = static_cast<time_t>(unixTime);
    struct tm tmv {};
    if (!localtime_r(&t, &tmv)) return {};
    char d[64], h[32];
    if (strftime(d, sizeof d, "%x", &tmv) == 0) d[0] = 0;
    if (strftime(h, sizeof h, "%H:%M", &tmv) == 0) h[0] = 0;
    return std::string(d) + "  " + h;
}

std::string TotalsText(uint64_t count, uint64_t unpacked, uint64_t packed) {
    return "Total " + std::to_string(count) + " entry(ies), " + std::to_string(DivRoundEven(unpacked, 1024)) +
           " KB [" + std::to_string(DivRoundEven(packed, 1024)) + " KB]";
}

std::string SelectionText(uint64_t count, uint64_t sum) {
    return std::to_string(count) + " entry(ies) selected, " + std::to_string(DivRoundEven(sum, 1024)) + " KB";
}

std::string MegabytesText(uint64_t bytes) {
    // Two decimals of bytes / 1048576, rounded half up as a formatted number is.
    char b[64];
    snprintf(b, sizeof b, "%.2f", static_cast<double>(bytes) / 1048576.0);
    return b;
}

std::string ExtractToCaption(const std::string& path) {
    return "Extract to " + path;
}

}  // namespace varnok::app
