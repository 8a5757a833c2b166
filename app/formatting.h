// The texts of the entry list and the status bar.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace varnok::app {

// Decimal digits with "." before every group of three from the right (1234567 gives "1.234.567").
std::string GroupDigits(uint64_t v);
// The numeric value of a grouped text ("." removed); a text that is not a number gives 0.
uint64_t UngroupDigits(const std::string& text);
// a / b rounded to the nearest integer, ties to even (b > 0).
uint64_t DivRoundEven(uint64_t a, uint64_t b);
// The saved space in percent: when size is not 0 and packed is smaller, (1 - packed/size) x 100 rounded to
// the nearest integer with ties to even; otherwise 0.
int RatioPercent(uint64_t packed, uint64_t size);
// RatioPercent followed by "% ".
std::string RatioText(uint64_t packed, uint64_t size);
// The letters "A", "S", "H", "R" for the archive, system, hidden and read-only bits, in this order.
std::string AttributeText(uint32_t attr);
// Lower-case hexadecimal with leading zeros to the width (0: empty text).
std::string CrcText(uint32_t crc, int digits);
// "dd.mm.yyyy hh:mm" in local time.
std::string ListerDateText(int64_t unixTime);
// The local short date, two blanks and the local short time (the C library's "%x" and "%H:%M").
std::string LocalShortDateTime(int64_t unixTime);
// "Total %d entry(ies), %d KB [%d KB]".
std::string TotalsText(uint64_t count, uint64_t unpacked, uint64_t packed);
// "%d entry(ies) selected, %d KB".
std::string SelectionText(uint64_t count, uint64_t sum);
// "required: %s MB" / "free: %s MB" values: bytes / 1048576 with two decimals ("0.00").
std::string MegabytesText(uint64_t bytes);
// "Extract to " + path, the caption of the quick-extract items (the view shortens it to fit).
std::string ExtractToCaption(const std::string& path);

}  // namespace varnok::app
