// Encoded text in the registry: UUE, XXE, Base64 and MIME attachments, known by a "begin" line (or a
// base64 MIME part) near the start of a text file; its walk and its decoder.
#include <cctype>
#include <cstring>

#include "archive/core/component.h"
#include "archive/formats/uue/uudecode.h"
#include "archive/formats/uue/uue_walk.h"
#include "archive/formats/uue/uue_writer.h"

namespace varnok {

namespace {

std::optional<TArcType> Recognise(const platform::File&, std::span<const uint8_t> head, uint64_t,
                                  TArchiveBase& facts) {
    auto is = [](const uint8_t* p, const char* s, size_t n) { return std::memcmp(p, s, n) == 0; };
    const size_t n = std::min<size_t>(head.size(), 5000);
    for (size_t i = 0; i + 3 < n; ++i) {
        if (i != 0 && head[i - 1] != '\n') continue;
        const size_t left = n - i;
        const uint8_t* p = &head[i];
        bool found = left >= 7 && is(p, "begin ", 6) && (p[6] == '6' || p[6] == '7');
        // "begin" with other octal modes, and Base64 encodings (uuencode -m, MIME attachments).
        found = found || (left >= 10 && is(p, "begin ", 6) && p[6] >= '0' && p[6] <= '7' && p[7] >= '0' &&
                          p[7] <= '7' && p[8] >= '0' && p[8] <= '7');
        found = found || (left >= 13 && is(p, "begin-base64 ", 13));
        static constexpr char kMime[] = "content-transfer-encoding: base64";
        if (!found && left >= sizeof kMime - 1) {
            bool eq = true;
            for (size_t k = 0; k + 1 < sizeof kMime && eq; ++k)
                eq = static_cast<char>(std::tolower(p[k])) == kMime[k];
            found = eq;
        }
        if (found) {
            facts.StartOffset = 0;
            return atUue;
        }
    }
    return std::nullopt;
}

}  // namespace

const FormatRecord& UueFormat() {
    static const FormatRecord r{
        .name = "UUE",
        .types = {{atUue, "UUE       ", "atUue"}},
        .fileTypes = {{"UU encoded", {"uue", "uu", "enc"}, "text/x-uuencode", "UU encoded file", true, false},
                      {"XX encoded", {"xxe"}, "text/x-xxencode", "XX encoded file", true, false}},
        .recognise = Recognise,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<encoded::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUUDecode>(); },
        .writer = [](TArcType) -> std::unique_ptr<TCompBase> { return std::make_unique<TUUEncode>(); },
    };
    return r;
}

}  // namespace varnok
