// The update checker (TWebFileInfo): reads the small version page that describes the newest release
// (one META HTTP-EQUIV line per field), compares its version with the running one, and downloads a file the
// page names. It also decides the start-up schedule.
//
// No windows here: every operation returns what happened and the window layer (update_window) shows the
// boxes and the wait and progress windows, running these calls on a worker thread. That keeps the page
// parser, the version and date rules and the schedule testable without a display, and keeps the window
// thread free while a slow server is waited for.
//
// What the checker will not do: fetch over plain http unless the user allowed it for an address of their
// own, follow more than one redirect named by the page, or open or run anything it downloaded. A download
// goes where the user chose and stays there.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/update/http_client.h"

namespace varnok::update {

struct TWfiTags {
    std::string ProductNameTag, ReadMeTag, ReadMeExtTag, VersionTag, DateTag, AuthorTag, AuthorEMailTag,
        DownloadTag, RedirectTag, RunParamsTag;
    bool AllEmpty() const;
    // The main window's tags: vn-name, vn-version, vn-author, vn-url.
    static TWfiTags MainWindow();
};

enum TWfiOption : unsigned {
    wfioAlwaysOverwrite = 1u << 0,
    wfioDisplayUI = 1u << 1,
    wfioDisplayReadMe = 1u << 2,
};
enum class TWfiVersionFormat { wfivBuildNumber, wfivSimpleString };
enum class TWfiDateFormat { wfidDFSDate, wfidNone };

// The fields a version page gives.
struct VersionPage {
    std::string ProductName, ProductVersion, ProductDateStr, ProductAuthor, ProductAuthorEMail, ProductReadMe,
        ProductReadMeExt, DownloadURL, RedirectURL, RunParams;
};
// Reads the page's lines: a line whose upper-cased text holds "META HTTP-EQUIV" names its tag from 17
// characters after that text up to the next double quote, and its value after the first "CONTENT=" (one
// character, the opening quote, skipped) up to the next double quote. Later lines overwrite earlier ones.
VersionPage ParseVersionPage(std::string_view text, const TWfiTags& tags);

struct Date {
    int year = 0, month = 0, day = 0;
    bool operator==(const Date&) const = default;
};
// "Mar 05, 2001": month from the first three letters, the two digits before the first ",", the year from the
// last four characters. nullopt when the text does not make a real date.
std::optional<Date> ParseDfsDate(const std::string& text);

// Whether the page's version is newer than the running one. Build numbers: compared number by number at the
// "." separators (missing or non-numeric numbers count as 0; numbers of any length compare by value).
// Simple strings: greater as text.
bool IsNewerVersion(const std::string& pageVersion, const std::string& currentVersion, TWfiVersionFormat format);

// The file-name part of a download address (after the last "/", without query or fragment), made safe as a
// name in a folder: empty, "." and ".." parts and characters outside a plain file-name set are replaced.
std::string DefaultFileName(const std::string& url);

// The start-up schedule. lastCheck and now are days since 30 Dec 1899 (the settings' date-time). A
// LastCheck of 0 starts the schedule: now is written and the first check comes one period later. A check
// due (1, 7 or 30 days for periods 0, 1, 2; every start for any other value) runs and writes now. A
// LastCheck in the future (a clock set back) is reset to now.
struct ScheduleDecision {
    bool writeNow = false;
    bool runCheck = false;
};
ScheduleDecision DecideSchedule(bool autoUpd, double lastCheck, int checkPeriod, double now);
// The current time as days since 30 Dec 1899.
double NowAsDays();

class TWebFileInfo {
  public:
    TWebFileInfo();

    const std::string& HomeURL() const { return homeUrl_; }
    // Takes the address when it is allowed (https, or http with AllowHttp) and clears Active; otherwise the
    // old value stays and false is returned.
    bool SetHomeURL(const std::string& url);
    std::string CurrentVersion = "0.0.0.0";
    TWfiTags InfoTags;
    unsigned Options = wfioDisplayUI | wfioDisplayReadMe;
    TWfiVersionFormat VersionFormat = TWfiVersionFormat::wfivBuildNumber;
    TWfiDateFormat DateFormat = TWfiDateFormat::wfidDFSDate;
    std::string ProxyHost;
    int ProxyPort = 80;
    bool AllowHttp = false;
    // Transfer limits and certificates (tests shorten the times and pass their own CA).
    HttpOptions Http;

    bool Active() const { return active_; }
    void ClearActive() { active_ = false; }
    const VersionPage& Page() const { return page_; }
    std::optional<Date> ProductDate() const { return date_; }
    const std::string& DefaultName() const { return defaultName_; }
    const std::string& LastError() const { return lastError_; }

    enum class CheckResult { Ok, MissingHomeUrl, MissingTags, Failed };
    // Reads the page (and the one redirect it may name). Failed sets LastError; a page that names no version
    // when a version tag is set is a failure too. cancel may stop it from another thread.
    CheckResult Check(const std::atomic<bool>* cancel = nullptr);
    // Whether the page read names a newer version than CurrentVersion.
    bool IsNewer() const;
    // Downloads an address to a file; false with LastError. progress: bytes received and the total (0 when
    // unknown).
    bool Download(const std::string& url, const std::string& target, const std::atomic<bool>* cancel = nullptr,
                  std::function<void(uint64_t, uint64_t)> progress = {});
    // The read-me text of the page, or the text behind its read-me address (fetched with the page's limits);
    // nullopt with LastError when there is none or it cannot be read.
    std::optional<std::string> ReadMeText(const std::atomic<bool>* cancel = nullptr);

  private:
    HttpOptions Options_(const std::atomic<bool>* cancel) const;
    std::string homeUrl_;
    bool active_ = false;
    VersionPage page_;
    std::optional<Date> date_;
    std::string defaultName_;
    std::string lastError_;
};

}  // namespace varnok::update
