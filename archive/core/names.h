// Legacy name encodings: which code page an archive's names are in, decided once from all of its names, and
// the names decoded to UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// How a stored name's bytes are to be read: said by the archive (a flag, a Unicode field) or implied by the
// system that wrote it.
enum class NameOrigin : uint8_t {
    Utf8,  // the archive says UTF-8
    Dos,   // a DOS or Windows archiver: an OEM code page, less often a Windows ANSI one
    Unix,  // written on Unix: UTF-8, else an ISO-8859, Windows, KOI8 or EUC page
    Mac,   // classic Mac OS: MacRoman, or Shift_JIS on Japanese systems
};

class NameCoding {
  public:
    void Add(std::string_view raw, NameOrigin origin);
    void Decide();
    bool Force(const std::string& codePage);
    std::string Decode(std::string_view raw, NameOrigin origin) const;
    std::string CodePage(NameOrigin origin) const;

  private:
    std::string forced_;
};

}  // namespace varnok
