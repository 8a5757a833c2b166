#include "archive/core/entry.h"

namespace varnok {

namespace {

std::string Decoded(const std::string& raw, const ArchiveEntry& e, const NameCoding& coding) {
    if (raw.empty()) return {};
    std::string s = coding.Decode(raw, e.Origin);
    if (e.BackslashSeparates)
        for (char& c : s)
            if (c == '\\') c = '/';
    return s;
}

void LowerCapitals(std::string& s) {
    for (char c : s)
        if (c >= 'a' && c <= 'z') return;
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
}

}  // namespace

void SampleTexts(const ArchiveEntry& e, NameCoding& coding) {
    if (e.Origin == NameOrigin::Utf8) return;
    coding.Add(e.RawName, e.Origin);
    if (!e.RawLinkTarget.empty()) coding.Add(e.RawLinkTarget, e.Origin);
}

bool TextsSettled(const ArchiveEntry& e, const NameCoding& coding) {
    return coding.Settled(e.RawName, e.Origin) && coding.Settled(e.RawComment, e.Origin) &&
           coding.Settled(e.RawLinkTarget, e.Origin);
}

void DecodeTexts(ArchiveEntry& e, const NameCoding& coding) {
    e.EntryName = Decoded(e.RawName, e, coding);
    while (e.EntryName.size() > 1 && e.EntryName.back() == '/')
        e.EntryName.pop_back();
    // "./docs/a.txt" (as "tar -C dir ." stores it) is "docs/a.txt": the leading "." is no folder.
    while (e.EntryName.size() > 2 && e.EntryName.compare(0, 2, "./") == 0)
        e.EntryName.erase(0, 2);
    if (e.LowerIfCapitals) LowerCapitals(e.EntryName);
    // Comments are free text: a "\" in them is no separator.
    e.EntryComment = e.RawComment.empty() ? std::string() : coding.Decode(e.RawComment, e.Origin);
    e.LinkTarget = e.RawLinkTarget.empty() ? std::string() : coding.Decode(e.RawLinkTarget, e.Origin);
}

}  // namespace varnok
