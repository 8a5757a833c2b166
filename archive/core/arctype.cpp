#include "archive/core/arctype.h"

#include <array>

namespace varnok {
namespace {

const std::array<std::string, kArcTypeCount>& Names() {
    static const std::array<std::string, kArcTypeCount> names = {
        "Not avail. ", "Unsupport.", "File Error", "Unknown   ", "ACE       ", "ACE SFX   ", "ARC       ",
        "ARC SFX   ",  "ARJ       ", "ARJ SFX   ", "BH        ", "BH  SFX   ", "CAB       ", "GZip      ",
        "HA        ",  "Java JAR  ", "JJAR SFX  ", "LHA       ", "LHA SFX   ", "LZH       ", "LZH SFX   ",
        "MsGZ     \t", "PAK       ", "PAK SFX   ", "RAR       ", "RAR SFX   ", "TAR       ", "UUE       ",
        "ZIP       ",  "ZIP SFX   ", "Zip MVol  ", "ZOO       ",
    };
    return names;
}

constexpr std::string_view kIds[kArcTypeCount] = {
    "atNA",     "atUnsupported", "atFileOpenErr", "atUnknown", "atAce",    "atAceExe", "atArc",   "atArcExe",
    "atArj",    "atArjExe",      "atBh",          "atBhExe",   "atCab",    "atGZip",   "atHA",    "atJar",
    "atJarExe", "atLha",         "atLhaExe",      "atLzh",     "atLzhExe", "atMSGZ",   "atPak",   "atPakExe",
    "atRar",    "atRarExe",      "atTar",         "atUue",     "atZip",    "atZipExe", "atZipMV", "atZoo",
};

}  // namespace

const std::string& ArcTypeName(TArcType t) {
    return Names()[t < kArcTypeCount ? t : atNA];
}

std::string ArcTypeShortName(TArcType t) {
    std::string s = ArcTypeName(t);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

std::string_view ArcTypeId(TArcType t) {
    return kIds[t < kArcTypeCount ? t : atNA];
}

}  // namespace varnok
