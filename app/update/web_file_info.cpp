#include "app/update/web_file_info.h"

#include <cctype>
#include <cmath>
#include <ctime>
#include <vector>

namespace varnok::update {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

// A version number as digits without leading zeros ("0" for a missing or non-numeric number).
std::string NumberText(std::string_view part) {
    size_t b = part.find_first_not_of(" \t");
    size_t e = part.find_last_not_of(" \t");
    if (b == std::string_view::npos) return "0";
    part = part.substr(b, e - b + 1);
    for (char c : part)
        if (!std::isdigit(static_cast<unsigned char>(c))) return "0";
    size_t nz = part.find_first_not_of('0');
    return nz == std::string_view::npos ? "0" : std::string(part.substr(nz));
}

std::vector<std::string_view> SplitDots(std::string_view s) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (;;) {
        size_t dot = s.find('.', start);
        out.push_back(s.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return out;
}

}  // namespace

bool TWfiTags::AllEmpty() const {
    for (const auto* t : {&ProductNameTag, &ReadMeTag, &ReadMeExtTag, &VersionTag, &DateTag, &AuthorTag,
                          &AuthorEMailTag, &DownloadTag, &RedirectTag, &RunParamsTag})
        if (!t->empty()) return false;
    return true;
}

TWfiTags TWfiTags::MainWindow() {
    TWfiTags t;
    t.ProductNameTag = "vn-name";
    t.VersionTag = "vn-version";
    t.AuthorTag = "vn-author";
    t.DownloadTag = "vn-url";
    return t;
}

VersionPage ParseVersionPage(std::string_view text, const TWfiTags& tags) {
    VersionPage page;
    const std::pair<const std::string*, std::string*> fields[] = {
        {&tags.ProductNameTag, &page.ProductName}, {&tags.ReadMeTag, &page.ProductReadMe},
        {&tags.ReadMeExtTag, &page.ProductReadMeExt}, {&tags.VersionTag, &page.ProductVersion},
        {&tags.DateTag, &page.ProductDateStr}, {&tags.AuthorTag, &page.ProductAuthor},
        {&tags.AuthorEMailTag, &page.ProductAuthorEMail}, {&tags.DownloadTag, &page.DownloadURL},
        {&tags.RedirectTag, &page.RedirectURL}, {&tags.RunParamsTag, &page.RunParams}};
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        std::string_view line = text.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
        start = lf == std::string_view::npos ? text.size() : lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t meta = Upper(line).find("META HTTP-EQUIV");
        if (meta == std::string::npos) continue;
        size_t tagStart = meta + 17;
        if (tagStart > line.size()) continue;
        size_t tagEnd = line.find('"', tagStart);
        std::string_view tag = line.substr(tagStart, tagEnd == std::string_view::npos ? std::string_view::npos
                                                                                       : tagEnd - tagStart);
        size_t content = line.find("CONTENT=");
        if (content == std::string_view::npos) continue;
        size_t valueStart = content + 9;
        std::string value;
        if (valueStart <= line.size()) {
            size_t valueEnd = line.find('"', valueStart);
            value = std::string(line.substr(
                valueStart, valueEnd == std::string_view::npos ? std::string_view::npos : valueEnd - valueStart));
        }
        for (const auto& [name, field] : fields)
            if (!name->empty() && *name == tag) *field = value;
    }
    return page;
}

std::optional<Date> ParseDfsDate(const std::string& text) {
    static const std::string kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
    size_t comma = text.find(',');
    if (text.size() < 3 || comma == std::string::npos || comma < 2 || text.size() < 4) return std::nullopt;
    size_t m = kMonths.find(Upper(text.substr(0, 3)));
    if (m == std::string::npos || m % 3 != 0) return std::nullopt;
    auto digits = [](const std::string& s) {
        if (s.empty()) return -1;
        int v = 0;
        for (char c : s) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
            v = v * 10 + (c - '0');
        }
        return v;
    };
    int day = digits(text.substr(comma - 2, 2));
    int year = digits(text.substr(text.size() - 4));
    int month = static_cast<int>(m / 3) + 1;
    if (day < 1 || year < 1) return std::nullopt;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) return std::nullopt;
    return Date{year, month, day};
}

bool IsNewerVersion(const std::string& pageVersion, const std::string& currentVersion, TWfiVersionFormat format) {
    if (format == TWfiVersionFormat::wfivSimpleString) return pageVersion > currentVersion;
    auto page = SplitDots(pageVersion), cur = SplitDots(currentVersion);
    size_t n = std::max(page.size(), cur.size());
    for (size_t i = 0; i < n; ++i) {
        std::string a = i < page.size() ? NumberText(page[i]) : "0";
        std::string b = i < cur.size() ? NumberText(cur[i]) : "0";
        if (a == b) continue;
        return a.size() != b.size() ? a.size() > b.size() : a > b;
    }
    return false;
}

std::string DefaultFileName(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '.' && c != '-' && c != '_' && c != '+') c = '_';
    }
    if (name.size() > 200) name.erase(0, name.size() - 200);
    for (char& c : name) {
        if (c != '.') break;
        c = '_';  // no hidden file, no "." or ".."
    }
    return name.empty() ? std::string("update") : name;
}

ScheduleDecision DecideSchedule(bool autoUpd, double lastCheck, int checkPeriod, double now) {
    if (!autoUpd) return {};
    if (!std::isfinite(lastCheck) || lastCheck <= 0 || lastCheck > now + 1) return {true, false};
    double period = checkPeriod == 0 ? 1 : checkPeriod == 1 ? 7 : checkPeriod == 2 ? 30 : 0;
    if (now - lastCheck >= period) return {true, true};
    return {};
}

double NowAsDays() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return (static_cast<double>(t) + static_cast<double>(tm.tm_gmtoff)) / 86400.0 + 25569.0;
}

TWebFileInfo::TWebFileInfo() : InfoTags(TWfiTags::MainWindow()) {}

bool TWebFileInfo::SetHomeURL(const std::string& url) {
    if (!url.empty() && !UrlAllowed(url, AllowHttp)) return false;
    homeUrl_ = url;
    active_ = false;
    return true;
}

HttpOptions TWebFileInfo::Options_(const std::atomic<bool>* cancel) const {
    HttpOptions o = Http;
    o.allowHttp = AllowHttp;
    o.proxyHost = ProxyHost;
    o.proxyPort = ProxyPort;
    o.cancel = cancel;
    return o;
}

TWebFileInfo::CheckResult TWebFileInfo::Check(const std::atomic<bool>* cancel) {
    active_ = false;
    page_ = {};
    date_.reset();
    defaultName_.clear();
    lastError_.clear();
    if (homeUrl_.empty()) return CheckResult::MissingHomeUrl;
    if (InfoTags.AllEmpty()) return CheckResult::MissingTags;
    std::string url = homeUrl_;
    for (int hop = 0; hop < 2; ++hop) {
        HttpResult r = HttpGet(url, Options_(cancel));
        if (!r.ok) {
            lastError_ = r.error;
            return CheckResult::Failed;
        }
        page_ = ParseVersionPage(r.body, InfoTags);
        std::string next = page_.RedirectURL;
        if (hop == 1 || next.empty()) break;
        // The page's own redirect: once, and never from https down to http.
        bool fromHttps = StartsWithNoCase(r.finalUrl.empty() ? url : r.finalUrl, "https://");
        if (!UrlAllowed(next, AllowHttp && !fromHttps)) {
            lastError_ = "The version page redirects to an address that is not allowed: " + next;
            page_ = {};
            return CheckResult::Failed;
        }
        url = next;
    }
    if (!InfoTags.VersionTag.empty() && page_.ProductVersion.empty()) {
        lastError_ = "The version page names no version (no \"" + InfoTags.VersionTag + "\" entry)";
        page_ = {};
        return CheckResult::Failed;
    }
    if (DateFormat == TWfiDateFormat::wfidDFSDate && !page_.ProductDateStr.empty())
        date_ = ParseDfsDate(page_.ProductDateStr);
    defaultName_ = DefaultFileName(page_.DownloadURL);
    active_ = true;
    return CheckResult::Ok;
}

bool TWebFileInfo::IsNewer() const {
    return active_ && IsNewerVersion(page_.ProductVersion, CurrentVersion, VersionFormat);
}

bool TWebFileInfo::Download(const std::string& url, const std::string& target, const std::atomic<bool>* cancel,
                            std::function<void(uint64_t, uint64_t)> progress) {
    lastError_.clear();
    if (url.empty()) {
        lastError_ = "The version page names no download address";
        return false;
    }
    std::string file = target;
    if (!file.empty() && file.back() == '/') file += defaultName_.empty() ? DefaultFileName(url) : defaultName_;
    HttpOptions o = Options_(cancel);
    o.maxBytes = 0;
    o.totalTimeoutMs = 0;
    o.progress = std::move(progress);
    HttpResult r = HttpDownload(url, file, o);
    if (!r.ok) lastError_ = r.error;
    return r.ok;
}

std::optional<std::string> TWebFileInfo::ReadMeText(const std::atomic<bool>* cancel) {
    lastError_.clear();
    if (!page_.ProductReadMe.empty()) return page_.ProductReadMe;
    if (page_.ProductReadMeExt.empty()) {
        lastError_ = "The version page names no read-me";
        return std::nullopt;
    }
    HttpResult r = HttpGet(page_.ProductReadMeExt, Options_(cancel));
    if (!r.ok) {
        lastError_ = r.error;
        return std::nullopt;
    }
    return r.body;
}

}  // namespace varnok::update
