// The families this program knows: one line each, in the order identification tries their tests.
#include <array>

#include "archive/core/format.h"
#include "archive/core/unbase.h"
#include "archive/extractors.h"

namespace varnok {

const FormatRecord& ZipFormat();
const FormatRecord& CabFormat();
const FormatRecord& BhFormat();
const FormatRecord& MsgzFormat();
const FormatRecord& HaFormat();
const FormatRecord& GzipFormat();
const FormatRecord& ArjFormat();
const FormatRecord& ZooFormat();
const FormatRecord& LzhFormat();
const FormatRecord& RarFormat();
const FormatRecord& ArcFormat();
const FormatRecord& AceFormat();
const FormatRecord& UueFormat();
const FormatRecord& TarFormat();

std::span<const FormatRecord* const> Formats() {
    static const FormatRecord* const list[] = {
        &ZipFormat(), &CabFormat(), &BhFormat(),  &MsgzFormat(), &HaFormat(), &GzipFormat(), &ArjFormat(),
        &ZooFormat(), &LzhFormat(), &RarFormat(), &ArcFormat(),  &AceFormat(), &UueFormat(), &TarFormat(),
    };
    return list;
}

const FormatRecord* FormatOf(TArcType t) {
    static const auto byType = [] {
        std::array<const FormatRecord*, kArcTypeCount> table{};
        for (const FormatRecord* f : Formats())
            for (const TypeInfo& i : f->types)
                table[i.type] = f;
        return table;
    }();
    return t < kArcTypeCount ? byType[t] : nullptr;
}

std::unique_ptr<TUnBase> CreateExtractor(TArcType t) {
    const FormatRecord* f = FormatOf(t);
    return f && f->extractor ? f->extractor(t) : nullptr;
}

bool HasExtractor(TArcType t) {
    const FormatRecord* f = FormatOf(t);
    return f && f->extractor;
}

}  // namespace varnok
