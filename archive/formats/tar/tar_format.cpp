// The TAR family in the registry: known by a header block whose checksum holds (after a volume header, when
// there is one), its walk and its extractor.
#include "archive/core/component.h"
#include "archive/formats/tar/tar_walk.h"
#include "archive/formats/tar/tar_writer.h"
#include "archive/formats/tar/untar.h"

namespace varnok {

namespace {

std::optional<TArcType> Recognise(const platform::File& f, std::span<const uint8_t>, uint64_t size,
                                  TArchiveBase& facts) {
    if (size <= tar::kBlock) return std::nullopt;
    uint8_t h[tar::kBlock];
    uint64_t at = 0;
    if (f.ReadAt(0, h, sizeof h) != sizeof h) return std::nullopt;
    if (h[156] == 'V' && size >= 2 * tar::kBlock) {
        if (f.ReadAt(tar::kBlock, h, sizeof h) != sizeof h) return std::nullopt;
        at = tar::kBlock;
    }
    if (!tar::HeaderChecksumOk(h)) return std::nullopt;
    facts.StartOffset = at;
    return atTar;
}

}  // namespace

const FormatRecord& TarFormat() {
    static const FormatRecord r{
        .name = "TAR",
        .types = {{atTar, "TAR       ", "atTar"}},
        .fileTypes = {{"Tar", {"tar"}, "application/x-tar"}},
        .recognise = Recognise,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<tar::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnTar>(); },
        .writer = [](TArcType) -> std::unique_ptr<TCompBase> { return std::make_unique<TTar>(); },
    };
    return r;
}

}  // namespace varnok
