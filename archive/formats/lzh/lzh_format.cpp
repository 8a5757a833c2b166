// The LZH/LHA family in the registry: its types, names and extensions, how identification knows it (the
// method id "-lh?-" or "-pm?-" at bytes 2 to 6 of a header whose checksum or shape holds), its walk and its
// extractor.
#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/formats/lzh/lzh_walk.h"
#include "archive/formats/lzh/lzh_writer.h"
#include "archive/formats/lzh/unlha.h"

namespace varnok {

namespace {

// Checks the header checksum of a level-0/1 header, or the shape of a level-2/3 header.
bool HeaderOk(const uint8_t* p, size_t avail) {
    if (avail < 22 || p[2] != '-' || p[6] != '-' || (p[3] != 'l' && p[3] != 'p')) return false;
    uint8_t level = p[20];
    if (level == 0 || level == 1) {
        size_t size = p[0];
        if (size < 20 || size + 2 > avail) return false;
        uint8_t sum = 0;
        for (size_t i = 2; i < size + 2; ++i)
            sum = static_cast<uint8_t>(sum + p[i]);
        return sum == p[1];
    }
    if (level == 2) return Le16(p) >= 26;
    if (level == 3) return Le16(p) == 4;
    return false;
}

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() < 4) return std::nullopt;
    if (p[2] == '-' && p[3] == 'l') return program ? atLhaExe : atLha;
    // PMarc archives share the header layout under "-pm0-" and "-pm2-"; the name is too common to go by
    // alone, so the header must prove itself.
    if (!program && p.size() >= 21 && p[2] == '-' && p[3] == 'p' && p[4] == 'm' && p[6] == '-' &&
        HeaderOk(p.data(), p.size()))
        return atLha;
    return std::nullopt;
}

// A level-0/1 header at the start that proves itself by its checksum. Its first two bytes, the header size and
// the checksum, can read like another family's magic (1F 8B or 1F A0 for a 31-byte header, 60 EA, "HA", "%!"),
// so a few archives in a hundred would go to that family by their signature; this test overrides it.
std::optional<TArcType> Recognise(const platform::File&, std::span<const uint8_t> head, uint64_t,
                                  TArchiveBase& facts) {
    size_t zeros = 0;
    while (zeros < head.size() && head[zeros] == 0)
        ++zeros;
    const size_t avail = head.size() - zeros;
    const uint8_t* p = head.data() + zeros;
    if (avail < 22 || (p[20] != 0 && p[20] != 1) || !HeaderOk(p, avail)) return std::nullopt;
    facts.StartOffset = zeros;
    return atLha;
}

std::optional<TArcType> Scan(const ScanView& v, bool, const platform::File&, TArchiveBase& facts) {
    const uint8_t* p = v.here();
    if (v.avail() < 5 || v.at < 2 || p[0] != '-' || p[4] != '-' || (p[1] != 'l' && p[1] != 'p'))
        return std::nullopt;
    if (!HeaderOk(p - 2, v.avail() + 2)) return std::nullopt;
    facts.StartOffset = v.filePos - 2;
    return atLhaExe;
}

}  // namespace

const FormatRecord& LzhFormat() {
    static const FormatRecord r{
        .name = "LZH/LHA",
        .types = {{atLha, "LHA       ", "atLha"},
                  {atLhaExe, "LHA SFX   ", "atLhaExe"},
                  {atLzh, "LZH       ", "atLzh"},
                  {atLzhExe, "LZH SFX   ", "atLzhExe"}},
        .fileTypes = {{"Lha", {"lzh", "lha"}, "application/x-lha"}},
        .signature = Signature,
        .recognise = Recognise,
        .recogniseOverrides = true,
        .scan = Scan,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<lzh::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnLha>(); },
        .writer = [](TArcType) -> std::unique_ptr<TCompBase> { return std::make_unique<TLha>(); },
    };
    return r;
}

}  // namespace varnok
