// Small shared helpers of the archive components: percentages, dates, octal fields, name conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnok {

// 0 when b is 0; otherwise a*100/b rounded to nearest (ties to even), negatives as 0, at most 100.
int PercentOf(int64_t a, int64_t b);
// Space saved in percent: 0 when either is 0 or packed >= unpacked; never 0 otherwise (1 instead).
int RatioOf(uint64_t packed, uint64_t unpacked);

// Dates are held as Unix seconds. DOS date-time values are local time (time in the low 16 bits).
// A zero or impossible DOS value stands for 1 January 1980 00:00 local time.
int64_t DosToUnixTime(uint32_t dos);
// The DOS date-time of a Unix time in local time; dates before 1980 give 1 January 1980.
uint32_t UnixToDosTime(int64_t t);
// A Unix time stored by an archive; 0 (no date) stands for 1 January 1980 00:01 local time.
int64_t ArchiveUnixTime(int64_t t);
// Exchanges the 16-bit halves (formats that store the date word before the time word).
inline uint32_t SwapHalves(uint32_t v) {
    return (v >> 16) | (v << 16);
}

// Octal text of width characters: zero-filled, the last position a blank (or a zero byte when terminate).
std::string ToOctal(uint64_t value, int width, bool terminate);
// Accumulates the octal digits of a field, ignoring anything else.
uint64_t FromOctal(std::string_view text);

// Name conversion. Inside the system "/" separates folders.
// Archive name to system text: OEM to UTF-8 when translate is set; "\" becomes "/".
std::string ToAnsiName(std::string_view name, bool translate);
// System text to archive name: UTF-8 to OEM when translate is set; "\" becomes "/".
std::string ToOemName(std::string_view name, bool translate);
std::string AppendSlash(std::string_view path);
std::string RemoveSlash(std::string_view path);
// Position of the last "." minus one (so its count of characters before the dot), or the length.
size_t BaseNameLength(std::string_view name);
// The text before the first delimiter; s keeps the rest after it (without a delimiter: all of s, s emptied).
std::string SplitAt(std::string& s, std::string_view delimiter);
bool IsDigits(std::string_view s);
bool IsCompressMagic(uint16_t w);
// Adds (or subtracts) k to every character (ARJ passwords).
std::string ShiftText(std::string_view s, int k, bool down);
// The disk number of a spanned-set volume label ("PKBACK# 003" is 3); 0 without one.
int DiskNumberOfLabel(std::string_view label);
// The deflate option name from ZIP general-purpose flags.
std::string DeflateName(uint16_t flags);
// File name part of a path ("/" separated).
std::string ExtractFileName(std::string_view path);
// Folder part of a path with its trailing "/", or empty.
std::string ExtractFilePath(std::string_view path);
// Extension with its dot, or empty.
std::string ExtractFileExt(std::string_view path);
std::string UpperAscii(std::string_view s);
std::string LowerAscii(std::string_view s);
// Text for XML content or an attribute value: & < > " ' written as entities.
std::string XmlEscape(std::string_view s);

}  // namespace varnok
