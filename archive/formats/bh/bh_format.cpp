// The BH family in the registry: "BH" 05 07 at the start of every header; inside a self-extractor the
// header's size must be plausible too. Its walk and its extractor.
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/formats/bh/bh_walk.h"
#include "archive/formats/bh/bh_writer.h"
#include "archive/formats/bh/unbh.h"

namespace varnok {

namespace {

bool IsSignature(const uint8_t* p) {
    return std::memcmp(p, "BH\x05\x07", 4) == 0;
}

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() >= 4 && IsSignature(p.data())) return program ? atBhExe : atBh;
    return std::nullopt;
}

std::optional<TArcType> Scan(const ScanView& v, bool program, const platform::File&, TArchiveBase& facts) {
    const uint8_t* p = v.here();
    if (!program || v.avail() < 8 || !IsSignature(p)) return std::nullopt;
    // The signature also stands in the extractor's own code, followed by these bytes.
    if (std::memcmp(p + 4, "\x0F\x94\xC3\x84", 4) == 0 || Le16(p + 4) < bh::kFixedSize) return std::nullopt;
    facts.StartOffset = v.filePos;
    return atBhExe;
}

}  // namespace

const FormatRecord& BhFormat() {
    static const FormatRecord r{
        .name = "BH",
        .types = {{atBh, "BH        ", "atBh"}, {atBhExe, "BH  SFX   ", "atBhExe"}},
        .fileTypes = {{"BlakHole", {"bh"}, "application/x-blakhole", "BlakHole archive"}},
        .signature = Signature,
        .scan = Scan,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<bh::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnBh>(); },
        .writer = [](TArcType) -> std::unique_ptr<TCompBase> { return std::make_unique<TBlakHole>(); },
    };
    return r;
}

}  // namespace varnok
