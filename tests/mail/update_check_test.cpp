// The update check: page reading, version and date rules, the schedule, and fetching from a local HTTPS
// server that serves good, broken, huge and slow pages.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "app/update/web_file_info.h"
#include "tests/mail/local_server.h"
#include "tests/support/test_support.h"

namespace varnok::update {
namespace {

using test::LocalServer;
using test::TempDir;
namespace fs = std::filesystem;

TEST(UpdateVersions, BuildNumbersCompareNumberByNumber) {
    auto newer = [](const char* page, const char* cur) {
        return IsNewerVersion(page, cur, TWfiVersionFormat::wfivBuildNumber);
    };
    EXPECT_TRUE(newer("1.2.10", "1.2.3.4"));
    EXPECT_FALSE(newer("1.2.3.4", "1.2.10"));
    EXPECT_FALSE(newer("1.2.3.4", "1.2.3.4"));
    EXPECT_FALSE(newer("1.2", "1.2.0.0"));
    EXPECT_TRUE(newer("1.2.0.1", "1.2"));
    EXPECT_FALSE(newer("1.x", "1.0")) << "a non-numeric number counts as 0";
    EXPECT_TRUE(newer("1.x.9", "1.0.1"));
    EXPECT_TRUE(newer("1.100000000000000000000", "1.99999999999999999999")) << "no overflow";
    EXPECT_FALSE(newer("01.002", "1.2"));
    EXPECT_FALSE(newer("", "0.0.0.1"));
    EXPECT_TRUE(IsNewerVersion("b", "a", TWfiVersionFormat::wfivSimpleString));
    EXPECT_FALSE(IsNewerVersion("1.10", "1.9", TWfiVersionFormat::wfivSimpleString));
}

TEST(UpdateDates, TheShortEnglishFormAndNothingElse) {
    EXPECT_EQ(ParseDfsDate("Mar 05, 2001"), (Date{2001, 3, 5}));
    EXPECT_EQ(ParseDfsDate("dec 31, 1999"), (Date{1999, 12, 31}));
    EXPECT_EQ(ParseDfsDate("Feb 29, 2000"), (Date{2000, 2, 29}));
    EXPECT_FALSE(ParseDfsDate("Feb 29, 2001"));
    EXPECT_FALSE(ParseDfsDate("Foo 05, 2001"));
    EXPECT_FALSE(ParseDfsDate("Mar 5, 2001"));
    EXPECT_FALSE(ParseDfsDate("Mar 00, 2001"));
    EXPECT_FALSE(ParseDfsDate(","));
    EXPECT_FALSE(ParseDfsDate(""));
}

TEST(UpdatePage, MetaLinesGiveTheTaggedFields) {
    TWfiTags tags = TWfiTags::MainWindow();
    tags.DateTag = "vn-date";
    auto p = ParseVersionPage("<html>\r\n"
                              "<META HTTP-EQUIV=\"vn-version\" CONTENT=\"1.0\">\r\n"
                              "<meta http-equiv=\"vn-name\" CONTENT=\"Varnok\">\n"
                              "<META HTTP-EQUIV=\"vn-url\" CONTENT=\"https://example.org/v.zip\">\n"
                              "<META HTTP-EQUIV=\"vn-version\" CONTENT=\"1.2.10\">\n"
                              "<META HTTP-EQUIV=\"vn-date\" CONTENT=\"Mar 05, 2001\">\n"
                              "<META HTTP-EQUIV=\"vn-other\" CONTENT=\"x\">\n"
                              "<META HTTP-EQUIV=\"vn-author\" content=\"lower case keyword\">\n"
                              "<META HTTP-EQUIV=\"vn-author\n"
                              "<META HTTP-EQUIV=\n",
                              tags);
    EXPECT_EQ(p.ProductVersion, "1.2.10") << "a later line overwrites";
    EXPECT_EQ(p.ProductName, "Varnok");
    EXPECT_EQ(p.DownloadURL, "https://example.org/v.zip");
    EXPECT_EQ(p.ProductDateStr, "Mar 05, 2001");
    EXPECT_EQ(p.ProductAuthor, "");
    EXPECT_EQ(p.ProductReadMe, "") << "an empty tag name reads nothing";
}

TEST(UpdatePage, DownloadNamesCannotLeaveTheChosenFolder) {
    EXPECT_EQ(DefaultFileName("https://example.org/files/varnok-1.2.zip?x=1#y"), "varnok-1.2.zip");
    EXPECT_EQ(DefaultFileName("https://example.org/files/.."), "__");
    EXPECT_EQ(DefaultFileName("https://example.org/files/"), "update");
    EXPECT_EQ(DefaultFileName("https://example.org/.bashrc"), "_bashrc");
    EXPECT_EQ(DefaultFileName("https://example.org/a%2F..%2Fb"), "a_2F.._2Fb");
}

TEST(UpdateSchedule, AFreshStartBeginsTheScheduleAndChecksOnePeriodLater) {
    const double now = 45000.5;
    auto d = DecideSchedule(true, 0, 1, now);
    EXPECT_TRUE(d.writeNow);
    EXPECT_FALSE(d.runCheck);
    d = DecideSchedule(true, now - 6.9, 1, now);
    EXPECT_FALSE(d.writeNow) << "a start within the period keeps the time of the last check";
    EXPECT_FALSE(d.runCheck);
    d = DecideSchedule(true, now - 7, 1, now);
    EXPECT_TRUE(d.writeNow && d.runCheck);
    EXPECT_TRUE(DecideSchedule(true, now - 1, 0, now).runCheck);
    EXPECT_FALSE(DecideSchedule(true, now - 29, 2, now).runCheck);
    EXPECT_TRUE(DecideSchedule(true, now - 0.01, 7, now).runCheck) << "another period: every start";
    d = DecideSchedule(true, now + 400, 1, now);
    EXPECT_TRUE(d.writeNow && !d.runCheck) << "a LastCheck in the future is reset";
    d = DecideSchedule(false, now - 100, 1, now);
    EXPECT_FALSE(d.writeNow || d.runCheck);
}

TEST(UpdateAddresses, HttpsOnlyUnlessPlainHttpIsAllowed) {
    TWebFileInfo w;
    EXPECT_FALSE(w.SetHomeURL("http://example.org/autoupd.html"));
    EXPECT_TRUE(w.SetHomeURL("HTTPS://example.org/autoupd.html"));
    EXPECT_FALSE(w.SetHomeURL("https://"));
    EXPECT_FALSE(w.SetHomeURL("ftp://example.org/x"));
    EXPECT_FALSE(w.SetHomeURL("https://exa mple.org/"));
    EXPECT_EQ(w.HomeURL(), "HTTPS://example.org/autoupd.html") << "a refused address keeps the old one";
    w.AllowHttp = true;
    EXPECT_TRUE(w.SetHomeURL("http://example.org/autoupd.html"));
    TWebFileInfo empty;
    EXPECT_EQ(empty.Check(), TWebFileInfo::CheckResult::MissingHomeUrl);
    empty.SetHomeURL("https://example.org/");
    empty.InfoTags = {};
    EXPECT_EQ(empty.Check(), TWebFileInfo::CheckResult::MissingTags);
}

// An HTTPS page server with a certificate of its own, and a checker that trusts it.
struct PageServer {
    TempDir dir;
    test::Certificate cert = test::MakeCertificate(dir.Path());
    LocalServer server{"http_server.py", {"--cert", cert.cert, "--key", cert.key, "--version", "1.2.3.4"}};
    std::string Url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(server.Port()) + path;
    }
    TWebFileInfo Checker(const std::string& path) const {
        TWebFileInfo w;
        w.CurrentVersion = "1.2.3.4";
        w.Http.caFile = cert.cert;
        w.Http.connectTimeoutMs = 5000;
        w.Http.totalTimeoutMs = 1500;
        w.Http.stallSeconds = 1;
        w.InfoTags.RedirectTag = "vn-redirect";
        w.InfoTags.DateTag = "vn-date";
        EXPECT_TRUE(w.SetHomeURL(Url(path)));
        return w;
    }
};

TEST(UpdateCheck, FindsANewerVersionAndDownloadsItWithoutRunningIt) {
    PageServer s;
    TWebFileInfo w = s.Checker("/newer");
    ASSERT_EQ(w.Check(), TWebFileInfo::CheckResult::Ok) << w.LastError();
    EXPECT_TRUE(w.Active());
    EXPECT_TRUE(w.IsNewer());
    EXPECT_EQ(w.Page().ProductVersion, "1.2.10");
    EXPECT_EQ(w.ProductDate(), (Date{2001, 3, 5}));
    EXPECT_EQ(w.DefaultName(), "update.zip");

    fs::create_directories(s.dir / "Downloads");
    uint64_t seen = 0;
    ASSERT_TRUE(w.Download(w.Page().DownloadURL, (s.dir / "Downloads").string() + "/", nullptr,
                           [&](uint64_t got, uint64_t) { seen = got; }))
        << w.LastError();
    fs::path file = s.dir / "Downloads" / "update.zip";
    auto data = test::ReadFile(file);
    ASSERT_EQ(data.size(), 200003u);
    for (size_t i = 0; i < data.size(); ++i)
        if (data[i] != static_cast<uint8_t>((i * 7919 + (i >> 8)) & 0xFF)) FAIL() << "byte " << i;
    EXPECT_EQ(seen, data.size());
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0u) << "a download is never made executable";
    size_t files = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(s.dir / "Downloads"))
        ++files;
    EXPECT_EQ(files, 1u) << "no temporary file left beside it";
}

TEST(UpdateCheck, SameAndOlderVersionsAreNotNewer) {
    PageServer s;
    for (const char* page : {"/same", "/older"}) {
        TWebFileInfo w = s.Checker(page);
        ASSERT_EQ(w.Check(), TWebFileInfo::CheckResult::Ok) << page << ": " << w.LastError();
        EXPECT_FALSE(w.IsNewer()) << page;
    }
}

TEST(UpdateCheck, RedirectsAreFollowedOnceAndNeverDownToHttp) {
    PageServer s;
    for (const char* page : {"/redirect", "/meta-redirect"}) {
        TWebFileInfo w = s.Checker(page);
        ASSERT_EQ(w.Check(), TWebFileInfo::CheckResult::Ok) << page << ": " << w.LastError();
        EXPECT_EQ(w.Page().ProductVersion, "1.2.10") << page;
    }
    TWebFileInfo w = s.Checker("/to-http");
    w.AllowHttp = true;  // even then, not from https
    EXPECT_EQ(w.Check(), TWebFileInfo::CheckResult::Failed);
    EXPECT_NE(w.LastError().find("not allowed"), std::string::npos) << w.LastError();
}

TEST(UpdateCheck, BrokenHugeAndSlowPagesEndInAFailureWithAReason) {
    PageServer s;
    struct Case {
        const char* page;
        const char* reason;
    } cases[] = {{"/malformed", "no version"},
                 {"/huge", "more than"},
                 {"/huge-unsized", "more than"},
                 {"/slow", "in time"},
                 {"/missing", "HTTP 404"}};
    for (const auto& c : cases) {
        TWebFileInfo w = s.Checker(c.page);
        EXPECT_EQ(w.Check(), TWebFileInfo::CheckResult::Failed) << c.page;
        EXPECT_NE(w.LastError().find(c.reason), std::string::npos) << c.page << ": " << w.LastError();
        EXPECT_FALSE(w.Active());
        EXPECT_FALSE(w.IsNewer());
    }
}

TEST(UpdateCheck, AnUntrustedCertificateIsAFailure) {
    PageServer s;
    TWebFileInfo w = s.Checker("/newer");
    w.Http.caFile.clear();
    EXPECT_EQ(w.Check(), TWebFileInfo::CheckResult::Failed);
    EXPECT_NE(w.LastError().find("secure connection"), std::string::npos) << w.LastError();
}

TEST(UpdateCheck, PlainHttpOnlyWhenTheUserAllowedIt) {
    TempDir dir;
    LocalServer plain("http_server.py", {});
    std::string url = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/newer";
    TWebFileInfo w;
    w.CurrentVersion = "1.2.3.4";
    EXPECT_FALSE(w.SetHomeURL(url));
    w.AllowHttp = true;
    ASSERT_TRUE(w.SetHomeURL(url));
    ASSERT_EQ(w.Check(), TWebFileInfo::CheckResult::Ok) << w.LastError();
    EXPECT_TRUE(w.IsNewer());
    w.AllowHttp = false;
    EXPECT_FALSE(w.Download(w.Page().DownloadURL, (dir / "u.zip").string()));
    EXPECT_FALSE(fs::exists(dir / "u.zip"));
}

TEST(UpdateCheck, ACancelledOrFailedDownloadLeavesNoFile) {
    PageServer s;
    TWebFileInfo w = s.Checker("/newer");
    ASSERT_EQ(w.Check(), TWebFileInfo::CheckResult::Ok) << w.LastError();
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(w.Download(w.Page().DownloadURL, (s.dir / "u.zip").string(), &cancel));
    EXPECT_EQ(w.LastError(), "Canceled");
    EXPECT_FALSE(w.Download(s.Url("/missing"), (s.dir / "u.zip").string()));
    EXPECT_NE(w.LastError().find("404"), std::string::npos);
    size_t files = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(s.dir.Path()))
        ++files;
    EXPECT_EQ(files, 2u) << "only the certificate and its key";
}

TEST(UpdateCheck, ReadMeIsTheText) {
    PageServer s;
    TWebFileInfo w = s.Checker("/newer");
    w.InfoTags.ReadMeExtTag = "vn-readme";
    ASSERT_EQ(w.Check(), TWebFileInfo::CheckResult::Ok);
    EXPECT_EQ(w.ReadMeText(), std::optional<std::string>("What is new:\n- everything\n")) << w.LastError();
    TWebFileInfo none = s.Checker("/newer");
    ASSERT_EQ(none.Check(), TWebFileInfo::CheckResult::Ok);
    EXPECT_FALSE(none.ReadMeText());
}

}  // namespace
}  // namespace varnok::update
