// Character-set conversion of names stored in archives (OEM code page) and of the system's own text (UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace varnok::platform {

// The code page that stands for the DOS "OEM" character set; CP437 unless changed.
void SetOemCodePage(std::string_view iconvName);
std::string OemCodePage();

// OEM bytes to UTF-8. Bytes below 128 are copied; the rest go through the OEM table.
std::string OemToUtf8(std::string_view oem);
// UTF-8 to OEM bytes; characters the code page lacks become "_".
std::string Utf8ToOem(std::string_view utf8);
// Converts between any two iconv character sets; on failure returns the input unchanged.
std::string ConvertCharset(std::string_view text, const char* from, const char* to);

// Whether the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view s);
// Text for display: valid UTF-8 is returned as is, otherwise it is taken as OEM and converted.
std::string ToDisplayUtf8(std::string_view s);

}  // namespace varnok::platform
