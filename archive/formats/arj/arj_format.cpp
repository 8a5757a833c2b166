// The ARJ family in the registry: plain and self-extracting ARJ archives, known by the header id 60 EA (and,
// inside a program, by a basic header whose CRC-32 holds), their walk and their extractor.
#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/core/crc.h"
#include "archive/formats/arj/arj_walk.h"
#include "archive/formats/arj/unarj.h"

namespace varnok {

namespace {

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase&) {
    if (p.size() >= 2 && p[0] == 0x60 && p[1] == 0xEA) return program ? atArjExe : atArj;
    return std::nullopt;
}

std::optional<TArcType> Scan(const ScanView& v, bool, const platform::File&, TArchiveBase& facts) {
    const uint8_t* p = v.here();
    const size_t avail = v.avail();
    if (avail < 4 || p[0] != 0x60 || p[1] != 0xEA) return std::nullopt;
    size_t size = Le16(p + 2);
    if (size < 30 || size > arj::kMaxBasicSize || 4 + size + 4 > avail) return std::nullopt;
    if (Crc32(p + 4, size) != Le32(p + 4 + size)) return std::nullopt;
    facts.StartOffset = v.filePos;
    return atArjExe;
}

}  // namespace

const FormatRecord& ArjFormat() {
    static const FormatRecord r{
        .name = "ARJ",
        .types = {{atArj, "ARJ       ", "atArj"}, {atArjExe, "ARJ SFX   ", "atArjExe"}},
        .fileTypes = {{"Arj", {"arj"}, "application/x-arj"}},
        .signature = Signature,
        .scan = Scan,
        .walk = [](TZipCommon& c) -> std::unique_ptr<EntryWalk> { return std::make_unique<arj::Walk>(c); },
        .extractor = [](TArcType) -> std::unique_ptr<TUnBase> { return std::make_unique<TUnArj>(); },
    };
    return r;
}

}  // namespace varnok
