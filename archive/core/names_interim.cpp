#include "archive/core/names.h"

#include "platform/codepage.h"

namespace varnok {

void NameCoding::Add(std::string_view, NameOrigin) {}
void NameCoding::Decide() {}
bool NameCoding::Force(const std::string& codePage) {
    forced_ = codePage;
    return true;
}
std::string NameCoding::Decode(std::string_view raw, NameOrigin origin) const {
    if (!forced_.empty()) return platform::ConvertCharset(raw, forced_.c_str(), "UTF-8");
    switch (origin) {
        case NameOrigin::Utf8:
            return std::string(raw);
        case NameOrigin::Dos:
            return platform::ToDisplayUtf8(raw);
        default:
            return platform::IsValidUtf8(raw) ? std::string(raw) : platform::ConvertCharset(raw, "CP1252", "UTF-8");
    }
}
std::string NameCoding::CodePage(NameOrigin origin) const {
    return origin == NameOrigin::Dos ? platform::OemCodePage() : "UTF-8";
}

}  // namespace varnok
