#include "platform/datetime.h"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <mutex>

namespace varnok::platform {

namespace {
bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int DaysIn(int y, int m) {
    static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : d[m - 1];
}
// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
}  // namespace

bool IsValidCivil(const CivilTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysIn(t.year, t.month) && t.hour >= 0 &&
           t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

// Not mktime: with TZ unset, glibc's mktime reads the zone again (a stat of /etc/localtime) on every call,
// which made listing 100,000 DOS-dated entries ten times slower. localtime_r keeps the zone once read
// (tzset, called by whoever changes TZ, reads it again). The offset is taken at the UTC reading of the time
// and again at the result, which settles it across a daylight-saving change.
int64_t LocalToUnix(const CivilTime& t) {
    static std::once_flag zoneRead;
    std::call_once(zoneRead, [] { tzset(); });
    auto offsetAt = [](int64_t when) -> int64_t {
        time_t w = static_cast<time_t>(when);
        struct tm tm {};
        if (!localtime_r(&w, &tm)) return 0;
        return tm.tm_gmtoff;
    };
    const int64_t utc = UtcToUnix(t);
    const int64_t first = utc - offsetAt(utc);
    return utc - offsetAt(first);
}

int64_t UtcToUnix(const CivilTime& t) {
    return DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) * 86400 +
           t.hour * 3600 + t.minute * 60 + t.second;
}

static CivilTime FromTm(const struct tm& tm) {
    CivilTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    return c;
}

CivilTime UnixToLocal(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    if (!localtime_r(&tt, &tm)) return UnixToUtc(t);
    return FromTm(tm);
}

CivilTime UnixToUtc(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    if (!gmtime_r(&tt, &tm)) return CivilTime{};
    return FromTm(tm);
}

std::string FormatLocalIso(int64_t t) {
    CivilTime c = UnixToLocal(t);
    char buf[64];
    snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
             c.second);
    return buf;
}

std::string FormatLocalShort(int64_t t) {
    CivilTime c = UnixToLocal(t);
    char buf[64];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", c.year, c.month, c.day, c.hour, c.minute);
    return buf;
}

int64_t NowUnix() {
    return static_cast<int64_t>(::time(nullptr));
}

uint64_t TickMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace varnok::platform
