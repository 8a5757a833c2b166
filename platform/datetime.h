// Calendar time in the local time zone, as the archive formats' DOS time stamps need it.
#pragma once

#include <cstdint>
#include <string>

namespace varnok::platform {

struct CivilTime {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// Seconds since 1970-01-01 UTC of a local civil time (daylight saving decided by the zone's rules).
int64_t LocalToUnix(const CivilTime& t);
// The local civil time of a Unix time.
CivilTime UnixToLocal(int64_t t);
// The UTC civil time of a Unix time.
CivilTime UnixToUtc(int64_t t);
// Seconds since 1970-01-01 of a UTC civil time.
int64_t UtcToUnix(const CivilTime& t);
// "YYYY-MM-DDTHH:MM:SS" in local time.
std::string FormatLocalIso(int64_t t);
// "YYYY-MM-DD HH:MM" in local time (list views).
std::string FormatLocalShort(int64_t t);
// Now, in Unix seconds.
int64_t NowUnix();
// Milliseconds of a monotonic clock (elapsed-time measurement).
uint64_t TickMs();

// Whether the civil time names a real date and time.
bool IsValidCivil(const CivilTime& t);

}  // namespace varnok::platform
