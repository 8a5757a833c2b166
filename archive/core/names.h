// The code page of the names an archive stores without saying which it is, and their decoding to UTF-8.
//
// Most formats store entry names as bytes in whatever code page the writing system used; at best they say
// which system that was (a host byte, a format that only existed on DOS). A reader collects the archive's
// names first (Add), lets the decision look at all of them at once (Decide), and then decodes each (Decode):
// one name alone is often ambiguous, an archive's worth of names rarely is. How the decision is made is
// described at the top of names.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// How a stored name's bytes are to be read: said by the archive (a flag, a Unicode field) or implied by the
// system that wrote it.
enum class NameOrigin : uint8_t {
    // The archive says UTF-8 (ZIP flag bit 11 or the 0x7075 field, pax records, RAR/CAB Unicode names, LZH
    // UTF-16 names).
    Utf8,
    // A DOS or Windows archiver: an OEM code page (CP437, CP850, CP852, CP866, CP932, CP936, CP949,
    // CP950, ...) and, less often, a Windows ANSI page (CP1252, CP1251, CP1250).
    Dos,
    // Written on Unix: UTF-8, else an ISO-8859, Windows, KOI8 or EUC/Shift_JIS/GBK/Big5 page (even OEM pages
    // occur).
    Unix,
    // Classic Mac OS: MacRoman, or Shift_JIS on Japanese systems.
    Mac,
};

class NameCoding {
  public:
    NameCoding();
    ~NameCoding();
    NameCoding(NameCoding&&) noexcept;
    NameCoding& operator=(NameCoding&&) noexcept;
    // A copy takes the sample and the decisions; its converters are opened afresh when first needed.
    NameCoding(const NameCoding& other);
    NameCoding& operator=(const NameCoding& other);

    // Adds one stored name (raw bytes) to the sample the decision is made from. Cheap; memory stays bounded
    // however many names are added (at most kSampleNames distinct non-ASCII path components and kSampleBytes
    // bytes per origin are kept; the rest only update counts).
    void Add(std::string_view raw, NameOrigin origin);

    // Decides the code page of each origin from the sample. Utf8-origin and pure-ASCII names never take part;
    // an origin with no other names keeps its default. May be called again after more names were added.
    void Decide();

    // Replaces the guess: every name of origin Dos, Unix or Mac is read in this code page (an iconv name,
    // case-insensitive: "CP866", "cp932", "UTF-8", "latin1"...), valid UTF-8 or not. Empty restores the
    // guess. Returns false, changing nothing, for a code page iconv does not know.
    bool Force(const std::string& codePage);
    // Whether a page is forced.
    bool Forced() const;

    // The name as valid UTF-8. Never fails: bytes the chosen page cannot map are decoded one by one through a
    // single-byte fallback (CP437 for Dos, CP1252 otherwise; a fallback character the page itself could
    // produce is replaced by a private-use one, so that distinct names stay distinct). Utf8 origin: invalid
    // bytes likewise. Pure ASCII is returned unchanged. Path separators are not touched. Safe to call from
    // several threads at once.
    std::string Decode(std::string_view raw, NameOrigin origin) const;
    // Whether Decode gives the same for raw whatever is decided: pure ASCII, valid UTF-8 where UTF-8 is
    // taken as it is, any name once a page is forced. Such names need not wait for the decision.
    bool Settled(std::string_view raw, NameOrigin origin) const;

    // The code page decided (or forced) for an origin, as an upper-case iconv name ("CP866", "UTF-8", ...),
    // or the default when nothing was decided: Dos the configured OEM page, Unix "CP1252", Mac "MACINTOSH",
    // Utf8 "UTF-8". For Unix and Mac it is the page of the names that are not valid UTF-8, and "UTF-8" when
    // the sample had non-ASCII names and every one was valid UTF-8.
    std::string CodePage(NameOrigin origin) const;

    // The pages the decision chooses from for an origin, likeliest first (Dos: the configured OEM page, then
    // the others); also what a window offers when the user picks a page to force. Empty for Utf8.
    static std::vector<std::string> CandidatePages(NameOrigin origin);

    // Sample limits per origin.
    static constexpr size_t kSampleNames = 4096;
    static constexpr size_t kSampleBytes = 64 * 1024;

    struct State;  // defined in names.cpp

  private:
    std::unique_ptr<State> state_;
};

}  // namespace varnok
