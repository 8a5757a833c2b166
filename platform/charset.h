// Character sets below the name decoder: the statistical charset detector (libuchardet) and an iconv
// converter that stays open. Opening an iconv descriptor loads and initialises a conversion module, which
// costs far more than converting one short name, so a reader of many names opens one Converter per code page
// and reuses it; ConvertCharset in codepage.h opens a descriptor per call and is meant for one-off text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnok::platform {

// The detector's single answer for the bytes, an upper-case charset name as the detector spells it
// ("WINDOWS-1251", "IBM866", "SHIFT_JIS", "UTF-8", "ASCII"...), or empty when it has none. One answer, no
// confidence: on short text it is often wrong, so callers treat it as one hint among others.
std::string DetectCharset(std::string_view bytes);

// Whether iconv can convert from this charset to UTF-8 (names are case-insensitive, aliases accepted).
bool CharsetKnown(const std::string& name);

// One open iconv descriptor from one charset to another. Not thread-safe: one converter per thread, or a
// lock.
class Converter {
  public:
    Converter() = default;
    Converter(const std::string& from, const std::string& to);
    ~Converter();
    Converter(Converter&& other) noexcept;
    Converter& operator=(Converter&& other) noexcept;
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // False when iconv did not know one of the two charsets.
    bool IsOpen() const { return cd_ != nullptr; }

    // Converts from the start of `in`, appending to `out`, until the end or the first sequence the source
    // charset cannot decode or the target cannot represent (an incomplete sequence at the end counts as
    // such). Returns the number of bytes of `in` converted; `out` holds exactly their conversion. The shift
    // state is reset first, so every call starts afresh.
    size_t ConvertSome(std::string_view in, std::string& out);

    // Converts all of `in` into `out` (replaced). False, with `out` unspecified, when any part fails.
    bool Convert(std::string_view in, std::string& out);

  private:
    void* cd_ = nullptr;  // the iconv_t, or null when closed
};

// UTF-8 helpers used by the code that reasons about characters rather than bytes.
void AppendUtf8(std::string& out, char32_t cp);
// Decodes one well-formed UTF-8 character at `s[pos]`, advancing `pos`; returns U+FFFFFFFF (and advances by
// one) for a malformed or truncated sequence, an overlong form, a surrogate or a value above U+10FFFF.
char32_t NextUtf8(std::string_view s, size_t& pos);
constexpr char32_t kBadUtf8 = 0xFFFFFFFF;

}  // namespace varnok::platform
