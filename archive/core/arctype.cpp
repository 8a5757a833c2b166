#include "archive/core/arctype.h"

#include <array>

#include "archive/core/format.h"

namespace varnok {
namespace {

// The types no family has: identification's answers for what it does not recognise.
const TypeInfo kInvalid[] = {
    {atNA, "Not avail. ", "atNA"},
    {atUnsupported, "Unsupport.", "atUnsupported"},
    {atFileOpenErr, "File Error", "atFileOpenErr"},
    {atUnknown, "Unknown   ", "atUnknown"},
};

const TypeInfo& InfoOf(TArcType t) {
    if (const FormatRecord* f = FormatOf(t))
        for (const TypeInfo& i : f->types)
            if (i.type == t) return i;
    for (const TypeInfo& i : kInvalid)
        if (i.type == t) return i;
    return kInvalid[0];
}

}  // namespace

const std::string& ArcTypeName(TArcType t) {
    static const auto names = [] {
        std::array<std::string, kArcTypeCount> n;
        for (int i = 0; i < kArcTypeCount; ++i)
            n[i] = InfoOf(static_cast<TArcType>(i)).displayName;
        return n;
    }();
    return names[t < kArcTypeCount ? t : atNA];
}

std::string ArcTypeShortName(TArcType t) {
    std::string s = ArcTypeName(t);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

std::string_view ArcTypeId(TArcType t) {
    return InfoOf(t < kArcTypeCount ? t : atNA).id;
}

}  // namespace varnok
