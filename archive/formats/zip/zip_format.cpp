// The ZIP family in the registry: ZIP and JAR, plain, self-extracting and spanned; how identification knows
// them ("PK" signatures, the stub layouts of known self-extractors, a local header found inside a program),
// their walk and their extractors.
#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/formats/zip/unzip.h"
#include "archive/formats/zip/zip_directory.h"
#include "archive/formats/zip/zip_writer.h"

namespace varnok {

namespace {

std::optional<TArcType> Signature(std::span<const uint8_t> p, bool program, TArchiveBase& facts) {
    if (p.size() < 4 || p[0] != 'P' || p[1] != 'K') return std::nullopt;
    const bool removable = facts.DiskManager.IsRemovable();
    if (p[2] == 7 && p[3] == 8) {
        // The first disk of a spanned set starts with the spanning marker.
        facts.HeadFlag |= hfLocalHeader;
        return removable ? atZipMV : atZip;
    }
    // A file that starts with a central header is a later disk of a spanned set, or nothing.
    if (p[2] == 1 && p[3] == 2) return removable ? atZipMV : atNA;
    if (p[2] == 'G' && p[3] == '4') return atNA;
    return program ? atZipExe : atZip;
}

// The self-extractor stubs that put the archive at a fixed place.
std::optional<TArcType> Stub(const platform::File& f, uint64_t size, TArchiveBase& facts) {
    uint8_t b[4];
    for (uint64_t at : {uint64_t{7612}, uint64_t{25661}}) {
        if (size > at + 4 && f.ReadAt(at, b, 4) == 4 && Le32(b) == zip::kLocalSig) {
            facts.StartOffset = at;
            return atZipExe;
        }
    }
    return std::nullopt;
}

// A local header inside a program, with a plausible version and name length; the directory decides where the
// walk starts when there is one.
std::optional<TArcType> Scan(const ScanView& v, bool program, const platform::File& f, TArchiveBase& facts) {
    const uint8_t* p = v.here();
    if (!program || v.avail() < 30 || Le32(p) != zip::kLocalSig) return std::nullopt;
    if (p[4] == 0x74 && p[5] == 0x0B && p[6] == 0x3D && p[7] == 0x00) return std::nullopt;
    if (Le16(p + 4) >= 100 || Le16(p + 26) == 0 || Le16(p + 26) >= 1024) return std::nullopt;
    uint64_t cd = facts.FindEndOfCentral(f);
    facts.StartOffset = cd ? cd : v.filePos;
    if (!cd) facts.HeadFlag = hfLocalHeader;
    return atZipExe;
}

std::unique_ptr<EntryWalk> MakeWalk(TZipCommon& c) {
    return std::make_unique<zip::Walk>(c);
}

std::unique_ptr<TUnBase> MakeExtractor(TArcType t) {
    if (t == atJar || t == atJarExe) return std::make_unique<TUnJar>();
    return std::make_unique<TUnZip>();
}

}  // namespace

const FormatRecord& ZipFormat() {
    static const FormatRecord r{
        .name = "ZIP",
        .types = {{atZip, "ZIP       ", "atZip"},
                  {atZipExe, "ZIP SFX   ", "atZipExe"},
                  {atZipMV, "Zip MVol  ", "atZipMV"},
                  {atJar, "Java JAR  ", "atJar"},
                  {atJarExe, "JJAR SFX  ", "atJarExe"}},
        .fileTypes = {{"Zip", {"zip"}, "application/zip"},
                      {"Jar", {"jar"}, "application/x-java-archive"}},
        .signature = Signature,
        .stub = Stub,
        .scan = Scan,
        .walk = MakeWalk,
        .extractor = MakeExtractor,
        .writer = [](TArcType t) -> std::unique_ptr<TCompBase> {
            if (t == atJar || t == atJarExe) return std::make_unique<TJar>();
            return std::make_unique<TZip>();
        },
    };
    return r;
}

}  // namespace varnok
