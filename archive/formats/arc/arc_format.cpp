// The ARC and PAK family in the registry: the marker byte 1A followed by a header type (PAK's own types 10
// and 11, ARC's 1 to 9), the self-extractor stubs that put the archive at offset 7716, their walk and their
// extractor.
#include "archive/core/component.h"
#include "archive/formats/arc/arc_walk.h"
#include "archive/formats/arc/unarc.h"

namespace varnok {

namespace {

// A plausible entry name: up to 12 printable characters and a zero byte within its 13-byte field.
bool NameOk(std::span<const uint8_t> p) {
    if (p.size() < 29) return false;
    size_t k = 0;
    while (k < 13 && p[2 + k]) {
        if (p[2 + k] < 0x20) return false;
        ++k;
    }
    return k > 0 && k < 13;
}

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase& facts) {
    if (p.size() < 2) return std::nullopt;
    if (p[0] == 0x1A) {
        if (p[1] == 0x0A || p[1] == 0x0B) return program ? atPakExe : atPak;
        if (p[1] == 0x1E || p[1] == 0x02) return program ? atUnsupported : atArc;
        if (p[1] == 0x08 || p[1] == 0x09) return program ? atArcExe : atArc;
        // The other methods (1, 3 to 7) are too short a signature to go by alone: the name field must be sane.
        if (!program && p[1] >= 1 && p[1] <= 7 && NameOk(p)) return atArc;
    }
    if (p[0] == 0xB7 && (p[1] == 0x92 || p[1] == 0xDF)) {
        facts.StartOffset = 7716;
        return atArcExe;
    }
    return std::nullopt;
}

std::optional<TArcType> Stub(const platform::File& f, uint64_t, TArchiveBase& facts) {
    uint8_t b[2];
    if (f.ReadAt(7716, b, 2) == 2 && b[0] == 0x1A && b[1] == 0x09) {
        facts.StartOffset = 7716;
        return atArcExe;
    }
    return std::nullopt;
}

}  // namespace

const FormatRecord& ArcFormat() {
    static const FormatRecord r{
        .name = "ARC/PAK",
        .types = {{atArc, "ARC       ", "atArc"},
                  {atArcExe, "ARC SFX   ", "atArcExe"},
                  {atPak, "PAK       ", "atPak"},
                  {atPakExe, "PAK SFX   ", "atPakExe"}},
        .fileTypes = {{"Arc", {"arc"}, "application/x-arc", "ARC archive"},
                      {"Game package", {"pak", "pk3"}, "application/x-pak", "Game package archive", false, false}},
        .signature = Signature,
        .stub = Stub,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<arc::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnArc>(); },
    };
    return r;
}

}  // namespace varnok
