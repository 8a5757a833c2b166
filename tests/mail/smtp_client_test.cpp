// The SMTP client against a local server: plain, STARTTLS and SMTPS with certificate checks, AUTH, and
// every way a send can fail. What arrives is parsed back with Python's MIME parser and compared byte by byte.
#include "app/mail/smtp_client.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/mail/local_server.h"
#include "tests/support/test_support.h"

namespace varnok::mail {
namespace {

using test::Json;
using test::LocalServer;
using test::TempDir;
namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        v[i] = static_cast<uint8_t>(seed >> 24);
    }
    return v;
}

// A server folder, its certificate and a client set up for it.
struct MailRig {
    TempDir dir;
    test::Certificate cert;
    std::unique_ptr<LocalServer> server;
    TNMSMTP smtp;
    std::vector<std::string> log;
    bool succeeded = false;

    MailRig(const std::string& mode, std::vector<std::string> extra = {}) {
        fs::create_directories(dir / "out");
        std::vector<std::string> args = {"--mode", mode, "--out", (dir / "out").string()};
        if (mode != "plain") {
            cert = test::MakeCertificate(dir.Path());
            args.insert(args.end(), {"--cert", cert.cert, "--key", cert.key});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        server = std::make_unique<LocalServer>("smtp_server.py", args);
        smtp.Host = "127.0.0.1";
        smtp.Port = server->Port();
        smtp.UserID = "client.example.org";
        smtp.TimeOut = 10;
        smtp.CaFile = cert.cert;
        smtp.Security = mode == "plain" ? SmtpSecurity::None
                        : mode == "smtps" ? SmtpSecurity::Smtps
                                          : SmtpSecurity::StartTls;
        smtp.OnLog = [this](const std::string& l) { log.push_back(l); };
        smtp.OnSuccess = [this] { succeeded = true; };
        smtp.PostMessage.FromAddress = "me@example.org";
        smtp.PostMessage.FromName = "Me";
        smtp.PostMessage.ToAddress = {"Friend <you@example.org>"};
        smtp.PostMessage.Subject = "test";
        smtp.PostMessage.LocalProgram = "Varnok internal mail client";
        smtp.PostMessage.Date = RfcDate(1'700'000'000);
        smtp.PostMessage.Body = {"Line one", ".", ".starts with a dot", ""};
    }
    fs::path Received(int n = 1) const { return dir / "out" / ("msg" + std::to_string(n) + ".eml"); }
    bool AnythingReceived() const { return fs::exists(Received()); }
    std::string LogText() const {
        std::string s;
        for (const auto& l : log)
            s += l + "\n";
        return s;
    }
    // Sends and returns the failure (empty on success).
    std::string Send(MailError::Kind* kind = nullptr) {
        try {
            smtp.SendMail();
            return {};
        } catch (const MailError& e) {
            if (kind) *kind = e.GetKind();
            return e.what();
        }
    }
};

TEST(SmtpSend, PlainDeliveryArrivesIntactWithDotsUnstuffedOnceAndAllRecipients) {
    MailRig s("plain");
    auto zip = Bytes(123'457, 1);
    auto small = Bytes(44, 2);
    test::WriteFile(s.dir / "archive.zip", zip);
    test::WriteFile(s.dir / "notes.lzh", small);
    s.smtp.PostMessage.ToCarbonCopy = {"cc:copy@example.org"};
    s.smtp.PostMessage.ToBlindCarbonCopy = {"blind@example.org"};
    s.smtp.PostMessage.Attachments = {(s.dir / "archive.zip").string(), (s.dir / "notes.lzh").string()};
    int connects = 0, starts = 0;
    uint64_t lastSent = 0, total = 0;
    s.smtp.OnConnect = [&] { ++connects; };
    s.smtp.OnSendStart = [&] { ++starts; };
    s.smtp.OnPacketSent = [&](uint64_t sent, uint64_t all) {
        lastSent = sent;
        total = all;
    };
    ASSERT_EQ(s.Send(), "");
    EXPECT_TRUE(s.succeeded);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(lastSent, total);
    EXPECT_TRUE(s.smtp.PostMessage.Attachments.empty()) << "ClearParams empties the message";

    std::string envelope = test::ReadText(s.dir / "out" / "msg1.json");
    EXPECT_NE(envelope.find("\"from\": \"<me@example.org>\""), std::string::npos) << envelope;
    EXPECT_NE(envelope.find("[\"<you@example.org>\", \"<copy@example.org>\", \"<blind@example.org>\"]"),
              std::string::npos)
        << envelope;
    std::string raw = test::ReadText(s.dir / "out" / "msg1.raw");
    EXPECT_NE(raw.find("\r\nLine one\r\n..\r\n..starts with a dot\r\n"), std::string::npos)
        << "one dot added on the wire, not two";

    auto r = test::ParseMime(s.Received(), s.dir.Path());
    EXPECT_EQ(r["defects"], "[]");
    EXPECT_EQ(r["content_type"], Json("multipart/mixed"));
    EXPECT_EQ(r["bcc_header"], "false");
    EXPECT_EQ(r["part0.text"], Json("Line one\n.\n.starts with a dot\n"));
    EXPECT_EQ(r["part1.filename"], Json("archive.zip"));
    EXPECT_EQ(test::ReadFile(s.dir / "part1"), zip);
    EXPECT_EQ(r["part2.filename"], Json("notes.lzh"));
    EXPECT_EQ(test::ReadFile(s.dir / "part2"), small);
}

TEST(SmtpSend, WithoutAttachmentsTheServerGetsOneTextPart) {
    MailRig s("plain");
    ASSERT_EQ(s.Send(), "");
    auto r = test::ParseMime(s.Received(), s.dir.Path());
    EXPECT_EQ(r["content_type"], Json("text/plain"));
    EXPECT_EQ(r["parts"], "1");
    EXPECT_EQ(r["part0.text"], Json("Line one\n.\n.starts with a dot\n\n"));
}

TEST(SmtpSecurity, StartTlsAndSmtpsDeliverWithAuthAndNeverLogThePassword) {
    for (const char* mode : {"starttls", "smtps"}) {
        MailRig s(mode, {"--auth", "mailer:s3cret-Pa55"});
        auto data = Bytes(5000, 9);
        test::WriteFile(s.dir / "a.zip", data);
        s.smtp.PostMessage.Attachments = {(s.dir / "a.zip").string()};
        s.smtp.AuthUser = "mailer";
        s.smtp.AuthPassword = "s3cret-Pa55";
        ASSERT_EQ(s.Send(), "") << mode << "\n" << s.LogText();
        std::string envelope = test::ReadText(s.dir / "out" / "msg1.json");
        EXPECT_NE(envelope.find("\"tls\": true"), std::string::npos) << mode;
        EXPECT_NE(envelope.find("\"user\": \"mailer\""), std::string::npos) << mode;
        test::ParseMime(s.Received(), s.dir.Path());
        EXPECT_EQ(test::ReadFile(s.dir / "part1"), data) << mode;

        std::string log = s.LogText();
        EXPECT_NE(log.find("C: AUTH"), std::string::npos) << log;
        EXPECT_EQ(log.find("s3cret"), std::string::npos);
        // AUTH PLAIN carries "\0mailer\0s3cret-Pa55" in Base64; AUTH LOGIN the password alone.
        EXPECT_EQ(log.find("AG1haWxlcgBzM2NyZXQtUGE1NQ"), std::string::npos) << log;
        EXPECT_EQ(log.find("czNjcmV0LVBhNTU"), std::string::npos) << log;
    }
}

TEST(SmtpSecurity, AnUntrustedCertificateIsRefusedBeforeAnythingIsSent) {
    for (const char* mode : {"starttls", "smtps"}) {
        MailRig s(mode);
        s.smtp.CaFile.clear();  // the system's certificates do not know the test's own
        MailError::Kind kind{};
        std::string err = s.Send(&kind);
        EXPECT_EQ(kind, MailError::Kind::Tls) << mode << ": " << err;
        EXPECT_FALSE(s.AnythingReceived());
        EXPECT_FALSE(s.succeeded);
    }
}

TEST(SmtpSecurity, StartTlsRequiredButNotOfferedIsAnError) {
    MailRig s("plain");
    s.smtp.Security = SmtpSecurity::StartTls;
    MailError::Kind kind{};
    std::string err = s.Send(&kind);
    EXPECT_EQ(kind, MailError::Kind::Tls) << err;
    EXPECT_NE(err.find("STARTTLS"), std::string::npos);
    EXPECT_FALSE(s.AnythingReceived());
}

TEST(SmtpSecurity, APasswordIsNotSentUnencryptedToAnotherMachine) {
    EXPECT_TRUE(PasswordAllowed("127.0.0.1", SmtpSecurity::None));
    EXPECT_TRUE(PasswordAllowed("mail.example.org", SmtpSecurity::StartTls));
    EXPECT_FALSE(PasswordAllowed("mail.example.org", SmtpSecurity::None));
    TNMSMTP smtp;
    smtp.Host = "mail.example.org";
    smtp.Security = SmtpSecurity::None;
    smtp.AuthUser = "u";
    smtp.AuthPassword = "p";
    smtp.PostMessage.FromAddress = "a@b";
    smtp.PostMessage.ToAddress = {"c@d"};
    EXPECT_THROW(smtp.SendMail(), MailError);
}

TEST(SmtpFailures, RefusedAuthenticationIsShownWithTheServersReply) {
    MailRig s("starttls", {"--auth", "mailer:right"});
    s.smtp.AuthUser = "mailer";
    s.smtp.AuthPassword = "wrong";
    MailError::Kind kind{};
    std::string err = s.Send(&kind);
    EXPECT_EQ(kind, MailError::Kind::Authentication) << err;
    EXPECT_NE(err.find("Authentication failed"), std::string::npos);
    EXPECT_NE(err.find("535"), std::string::npos) << err;
    EXPECT_FALSE(s.AnythingReceived());
    EXPECT_EQ(s.LogText().find("wrong"), std::string::npos);
}

TEST(SmtpFailures, ARefusedRecipientSendsNothingAndNamesTheReply) {
    MailRig s("plain", {"--refuse", "nobody@example.org"});
    s.smtp.PostMessage.ToAddress = {"you@example.org", "Nobody <nobody@example.org>"};
    std::string failure;
    s.smtp.OnFailure = [&](const std::string& t) { failure = t; };
    MailError::Kind kind{};
    std::string err = s.Send(&kind);
    EXPECT_EQ(kind, MailError::Kind::Refused) << err;
    EXPECT_NE(err.find("550"), std::string::npos) << err;
    EXPECT_EQ(failure, err);
    EXPECT_FALSE(s.AnythingReceived());
    EXPECT_FALSE(s.succeeded);
    EXPECT_EQ(s.smtp.ReplyNumber(), 550);
    EXPECT_FALSE(s.smtp.PostMessage.ToAddress.empty()) << "the fields stay for another try";
}

TEST(SmtpFailures, ADroppedConnectionIsNeverReportedSent) {
    for (const char* where : {"RCPT", "DATA", "BODY"}) {
        MailRig s("plain", {"--drop", where});
        test::WriteFile(s.dir / "a.zip", Bytes(300'000, 4));
        s.smtp.PostMessage.Attachments = {(s.dir / "a.zip").string()};
        MailError::Kind kind{};
        std::string err = s.Send(&kind);
        EXPECT_FALSE(err.empty()) << where;
        EXPECT_EQ(kind, MailError::Kind::ConnectionLost) << where << ": " << err;
        EXPECT_FALSE(s.succeeded) << where;
        EXPECT_FALSE(s.AnythingReceived()) << where;
    }
}

TEST(SmtpFailures, NoServerAndAMissingAttachmentAreClearErrors) {
    TNMSMTP smtp;
    smtp.Host = "127.0.0.1";
    {
        LocalServer probe("smtp_server.py", {"--out", "/nonexistent"});
        smtp.Port = probe.Port();
    }  // the port is free again: nothing listens there
    smtp.Security = SmtpSecurity::None;
    smtp.PostMessage.FromAddress = "a@b";
    smtp.PostMessage.ToAddress = {"c@d"};
    try {
        smtp.SendMail();
        FAIL();
    } catch (const MailError& e) {
        EXPECT_EQ(e.GetKind(), MailError::Kind::Connect);
        EXPECT_EQ(std::string(e.what()).rfind("Connection Failed", 0), 0u) << e.what();
    }
    std::string missing;
    smtp.OnAttachmentNotFound = [&](const std::string& t) { missing = t; };
    smtp.PostMessage.Attachments = {"/nonexistent.zip"};
    EXPECT_THROW(smtp.SendMail(), MailError);
    EXPECT_NE(missing.find("/nonexistent.zip"), std::string::npos);
}

TEST(SmtpFailures, CancelEndsASendToAServerThatNeverAnswers) {
    MailRig s("plain", {"--stall-greeting"});
    s.smtp.TimeOut = 30;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s.smtp.Abort();
    });
    MailError::Kind kind{};
    std::string err = s.Send(&kind);
    canceller.join();
    EXPECT_EQ(kind, MailError::Kind::Canceled) << err;
    EXPECT_EQ(err, "Connection Canceled");
}

TEST(SmtpReplies, MultiLineRepliesEndAtTheirLastLine) {
    ReplyReader r;
    EXPECT_TRUE(r.Feed("250-first\r\n250-sec").empty());
    auto done = r.Feed("ond\r\n 250 folded\r\n250 last\r\n220 next\r\n");
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].code, 250);
    EXPECT_EQ(done[0].text, "250-first\n250-second\n 250 folded\n250 last");
    EXPECT_EQ(done[1].code, 220);
    EXPECT_EQ(ReplyCode("abc"), 0);
    EXPECT_EQ(ReplyCode("12345678901234"), 1234567890);
    EXPECT_EQ(ReplyCode("550 5.1.1"), 550);
}

}  // namespace
}  // namespace varnok::mail
