// The GZIP family in the registry: gzip and the compress-family streams grouped with it (1F 8B, 1F 9E,
// 1F 9D, 1F 1E, 1F A0, and the "%!" of old PostScript-packed files), their walk (the stream, or the TAR
// inside it) and their extractor.
#include "archive/core/component.h"
#include "archive/formats/gzip/gzip_walk.h"
#include "archive/formats/gzip/gzip_writer.h"
#include "archive/formats/gzip/ungzip.h"

namespace varnok {

namespace {

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() < 2) return std::nullopt;
    const bool magic = (p[0] == 0x1F && (p[1] == 0x8B || p[1] == 0x9D || p[1] == 0x9E || p[1] == 0x1E ||
                                          p[1] == 0xA0)) ||
                       (p[0] == 0x25 && p[1] == 0x21);
    if (!magic) return std::nullopt;
    return program ? atUnsupported : atGZip;
}

}  // namespace

const FormatRecord& GzipFormat() {
    static const FormatRecord r{
        .name = "GZip",
        .types = {{atGZip, "GZip      ", "atGZip"}},
        .fileTypes = {{"GZip", {"gz", "tgz"}, "application/gzip"},
                      {"Compressed", {"z", "taz"}, "application/x-compress", nullptr, true, false}},
        .signature = Signature,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<gzip::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnGZip>(); },
        .writer = [](TArcType) -> std::unique_ptr<TCompBase> { return std::make_unique<TGZip>(); },
    };
    return r;
}

}  // namespace varnok
