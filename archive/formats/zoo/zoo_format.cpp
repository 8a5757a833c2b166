// The ZOO family in the registry: known by "ZO" at the start (the archive header's text), its walk over the
// directory chain and its extractor.
#include "archive/core/component.h"
#include "archive/formats/zoo/unzoo.h"
#include "archive/formats/zoo/zoo_walk.h"

namespace varnok {

namespace {

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() >= 2 && p[0] == 'Z' && p[1] == 'O') return program ? atUnsupported : atZoo;
    return std::nullopt;
}

}  // namespace

const FormatRecord& ZooFormat() {
    static const FormatRecord r{
        .name = "ZOO",
        .types = {{atZoo, "ZOO       ", "atZoo"}},
        .fileTypes = {{"Zoo", {"zoo"}, "application/x-zoo"}},
        .signature = Signature,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<zoo::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnZoo>(); },
    };
    return r;
}

}  // namespace varnok
