// The archive types the components know, their display names and the groups they fall into.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnok {

enum TArcType : uint8_t {
    atNA,
    atUnsupported,
    atFileOpenErr,
    atUnknown,
    atAce,
    atAceExe,
    atArc,
    atArcExe,
    atArj,
    atArjExe,
    atBh,
    atBhExe,
    atCab,
    atGZip,
    atHA,
    atJar,
    atJarExe,
    atLha,
    atLhaExe,
    atLzh,
    atLzhExe,
    atMSGZ,
    atPak,
    atPakExe,
    atRar,
    atRarExe,
    atTar,
    atUue,
    atZip,
    atZipExe,
    atZipMV,
    atZoo,
};

inline constexpr int kArcTypeCount = 32;

// A set of archive types.
class ArcTypeSet {
  public:
    constexpr ArcTypeSet() = default;
    constexpr ArcTypeSet(std::initializer_list<TArcType> types) {
        for (auto t : types)
            bits_ |= 1u << t;
    }
    constexpr bool Has(TArcType t) const { return (bits_ >> t) & 1u; }
    constexpr ArcTypeSet Without(ArcTypeSet o) const { return FromBits(bits_ & ~o.bits_); }
    static constexpr ArcTypeSet All() { return FromBits(0xFFFFFFFFu); }

  private:
    static constexpr ArcTypeSet FromBits(uint32_t b) {
        ArcTypeSet s;
        s.bits_ = b;
        return s;
    }
    uint32_t bits_ = 0;
};

inline constexpr ArcTypeSet InvalidArcTypes{atNA, atUnsupported, atFileOpenErr, atUnknown};
inline constexpr ArcTypeSet ExtractArcTypes =
    ArcTypeSet::All().Without(InvalidArcTypes).Without({atHA, atJarExe, atMSGZ, atPak, atPakExe});
inline constexpr ArcTypeSet TestArcTypes =
    ArcTypeSet::All().Without(InvalidArcTypes).Without({atCab, atHA, atMSGZ, atPak, atPakExe});
inline constexpr ArcTypeSet CompressArcTypes{atBh, atCab, atGZip, atJar, atLha, atLzh, atTar, atZip};
inline constexpr ArcTypeSet DllArcTypes{atAce, atAceExe, atCab, atRar, atRarExe};
inline constexpr ArcTypeSet ZipArcTypes{atJar, atJarExe, atZip, atZipExe, atZipMV};

inline bool IsRecognised(TArcType t) {
    return !InvalidArcTypes.Has(t);
}
inline bool IsExtractable(TArcType t) {
    return ExtractArcTypes.Has(t);
}
inline bool IsTestable(TArcType t) {
    return TestArcTypes.Has(t);
}
inline bool IsCompressible(TArcType t) {
    return CompressArcTypes.Has(t);
}
inline bool IsDllType(TArcType t) {
    return DllArcTypes.Has(t);
}
inline bool IsZipType(TArcType t) {
    return ZipArcTypes.Has(t);
}

// The fixed-width display name ("ZIP       ", "Not avail. ").
const std::string& ArcTypeName(TArcType t);
// The display name without its padding ("ZIP", "Zip MVol", "MsGZ").
std::string ArcTypeShortName(TArcType t);
// The enumeration name ("atZip").
std::string_view ArcTypeId(TArcType t);

}  // namespace varnok
