// The message text: its layout as mail readers parse it, the Base64 lines, dot-stuffing, addresses, and
// what a hostile field could do to the header.
#include "app/mail/mime_message.h"

#include <gtest/gtest.h>

#include <regex>

#include "tests/mail/local_server.h"
#include "tests/support/test_support.h"

namespace varnok::mail {
namespace {

using test::Json;
using test::TempDir;

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

TPostMessage Message() {
    TPostMessage m;
    m.FromAddress = "me@example.org";
    m.FromName = "Me";
    m.ToAddress = {"you@example.org"};
    m.Subject = "archive.zip";
    m.LocalProgram = "Varnok internal mail client";
    m.Body = {"Hello,", ".", "..two", "bye"};
    return m;
}

TEST(MailAddresses, EntriesGiveTheBareAddressTheEnvelopeNeeds) {
    EXPECT_EQ(ExtractAddress("John Smith <john@example.org>"), "john@example.org");
    EXPECT_EQ(ExtractAddress("SMTP:john@example.org"), "john@example.org");
    EXPECT_EQ(ExtractAddress("  john@example.org "), "john@example.org");
    EXPECT_EQ(ExtractAddress("Name <unterminated@example.org"), "unterminated@example.org");
    EXPECT_EQ(ExtractAddress("   "), "");

    TPostMessage m;
    m.ToAddress = {"a <a@x>", ""};
    m.ToCarbonCopy = {"cc:c@x"};
    m.ToBlindCarbonCopy = {"b@x"};
    EXPECT_EQ(Recipients(m), (std::vector<std::string>{"a@x", "c@x", "b@x"}));

    EXPECT_EQ(SplitAddressList("\"Smith, John\" <j@x>, k@x; <l@x>"),
              (std::vector<std::string>{"\"Smith, John\" <j@x>", "k@x", "<l@x>"}));
}

TEST(MailBase64, LinesAre60CharactersFrom45BytesWithPaddingOnlyAtTheEnd) {
    const uint8_t abc[] = {'M', 'a', 'n'};
    EXPECT_EQ(Base64Line(abc, 3), "TWFu");
    EXPECT_EQ(Base64Line(abc, 2), "TWE=");
    EXPECT_EQ(Base64Line(abc, 1), "TQ==");
    EXPECT_EQ(Base64Line(abc, 0), "");

    TempDir dir;
    auto data = Bytes(45 * 3 + 7, 1);
    test::WriteFile(dir / "a.bin", data);
    TPostMessage m = Message();
    m.Attachments = {(dir / "a.bin").string()};
    std::string text = BuildMessageText(m);
    size_t start = text.find("\r\n\r\n", text.find("Content-Disposition")) + 4;
    std::vector<std::string> lines;
    for (size_t p = start; text.compare(p, 2, "--") != 0;) {
        size_t e = text.find("\r\n", p);
        lines.push_back(text.substr(p, e - p));
        p = e + 2;
    }
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(lines[i].size(), 60u);
    EXPECT_EQ(lines[3], Base64Line(data.data() + 135, 7));
}

TEST(MailMessage, WithoutAttachmentsIsOneTextPartWithStuffedDots) {
    TPostMessage m = Message();
    m.Date = "Tue, 10 Dec 2024 10:47:00 +0100";
    m.ReplyTo = "me@example.org";
    std::string text = BuildMessageText(m);
    EXPECT_EQ(text,
              "From: Me<me@example.org>\r\nTo: you@example.org\r\nSubject: archive.zip\r\n"
              "X-Mailer: Varnok internal mail client\r\nReply-To: me@example.org\r\n"
              "Date: Tue, 10 Dec 2024 10:47:00 +0100\r\nMime-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
              "Hello,\r\n..\r\n...two\r\nbye\r\n");

    MessageOptions raw;
    raw.DotStuff = false;
    EXPECT_NE(BuildMessageText(m, raw).find("\r\n.\r\n..two\r\n"), std::string::npos);
}

TEST(MailMessage, AttachmentsMakeMultipartThatAMailParserReadsBack) {
    TempDir dir;
    auto big = Bytes(100'001, 7);
    test::WriteFile(dir / "big archive.zip", big);
    test::WriteFile(dir / "empty.tar", std::string());
    TPostMessage m = Message();
    m.ToCarbonCopy = {"Cc Person <cc@example.org>"};
    m.ToBlindCarbonCopy = {"hidden@example.org"};
    m.Date = RfcDate(1'700'000'000);
    m.Attachments = {(dir / "big archive.zip").string(), (dir / "empty.tar").string()};
    MessageOptions unstuffed;  // the message itself, as a reader gets it after the dialogue
    unstuffed.DotStuff = false;
    std::string text = BuildMessageText(m, unstuffed);

    std::smatch b;
    ASSERT_TRUE(std::regex_search(text, b, std::regex("boundary=\"(====================54535[a-y]{6}====)\"")));
    EXPECT_NE(text.find("\r\n--" + b[1].str() + "--\r\n"), std::string::npos);
    EXPECT_EQ(text.find("hidden@example.org"), std::string::npos) << "Bcc stays out of the header";

    test::WriteFile(dir / "msg.eml", text);
    auto r = test::ParseMime(dir / "msg.eml", dir.Path());
    EXPECT_EQ(r["content_type"], Json("multipart/mixed"));
    EXPECT_EQ(r["defects"], "[]");
    EXPECT_EQ(r["date_parsed"], "true");
    EXPECT_EQ(r["cc"], Json("Cc Person <cc@example.org>"));
    EXPECT_EQ(r["bcc_header"], "false");
    ASSERT_EQ(r["parts"], "3");
    EXPECT_EQ(r["part0.type"], Json("text/plain"));
    // The line end before a boundary belongs to the boundary.
    EXPECT_EQ(r["part0.text"], Json("Hello,\n.\n..two\nbye"));
    EXPECT_EQ(r["part1.filename"], Json("big archive.zip"));
    EXPECT_EQ(r["part1.defects"], "[]");
    EXPECT_EQ(test::ReadFile(dir / "part1"), big);
    EXPECT_EQ(r["part2.filename"], Json("empty.tar"));
    EXPECT_TRUE(test::ReadFile(dir / "part2").empty());
}

TEST(MailMessage, TheStreamIsAsLongAsItSaysWhateverTheReadSizes) {
    TempDir dir;
    for (size_t n : {0u, 1u, 44u, 45u, 46u, 65519u, 65520u, 65521u, 200'000u}) {
        test::WriteFile(dir / "f", Bytes(n, static_cast<uint32_t>(n)));
        TPostMessage m = Message();
        m.Attachments = {(dir / "f").string()};
        MessageOptions o;
        o.Boundary = "B";
        std::string whole = BuildMessageText(m, o);
        MessageStream s(m, o);
        EXPECT_EQ(s.Size(), whole.size()) << n;
        std::string pieces;
        char buf[7];
        while (size_t k = s.Read(buf, sizeof buf))
            pieces.append(buf, k);
        EXPECT_EQ(pieces, whole) << n;
    }
}

TEST(MailMessage, MissingPartsFailBeforeAnythingIsSent) {
    TPostMessage m = Message();
    m.Attachments = {"/nonexistent/archive.zip"};
    try {
        MessageStream s(m);
        FAIL() << "a missing attachment was accepted";
    } catch (const MailError& e) {
        EXPECT_EQ(e.GetKind(), MailError::Kind::AttachmentNotFound);
        EXPECT_NE(std::string(e.what()).find("/nonexistent/archive.zip"), std::string::npos);
    }
    m.Attachments = {"/tmp"};
    EXPECT_THROW(MessageStream{m}, MailError) << "a folder is not an attachment";

    TPostMessage noRecipient = Message();
    noRecipient.ToAddress = {"Name <>"};
    try {
        MessageStream s(noRecipient);
        FAIL();
    } catch (const MailError& e) {
        EXPECT_EQ(e.GetKind(), MailError::Kind::HeaderIncomplete);
        EXPECT_STREQ(e.what(), "Incomplete Header");
    }
    TPostMessage noSender = Message();
    noSender.FromAddress = " ";
    EXPECT_THROW(MessageStream{noSender}, MailError);
}

TEST(MailMessage, AttachmentThatChangesWhileSentIsAnErrorNotAShortMessage) {
    TempDir dir;
    test::WriteFile(dir / "f", Bytes(300'000, 3));
    TPostMessage m = Message();
    m.Attachments = {(dir / "f").string()};
    MessageStream s(m);
    char buf[4096];
    s.Read(buf, sizeof buf);
    std::filesystem::resize_file(dir / "f", 1000);
    EXPECT_THROW(
        {
            while (s.Read(buf, sizeof buf)) {
            }
        },
        MailError);
}

TEST(MailMessage, FieldsCannotInjectHeaderLinesAndOddNamesStayOneName) {
    TempDir dir;
    test::WriteFile(dir / "a\"b.zip", std::string("x"));
    TPostMessage m = Message();
    m.Subject = "hi\r\nBcc: victim@example.org";
    m.FromName = "Smith, John";
    m.Attachments = {(dir / "a\"b.zip").string()};
    std::string text = BuildMessageText(m);
    EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
    test::WriteFile(dir / "msg.eml", text);
    auto r = test::ParseMime(dir / "msg.eml", dir.Path());
    EXPECT_EQ(r["from"], Json("\"Smith, John\" <me@example.org>"));
    EXPECT_EQ(r["part1.filename"], Json("a\"b.zip"));
}

TEST(MailMessage, EightBitTextIsDeclaredAsUtf8) {
    TempDir dir;
    test::WriteFile(dir / "\xc3\xa4rchiv.zip", std::string("x"));
    TPostMessage m = Message();
    m.Subject = "Gr\xc3\xbc\xc3\x9f" "e";
    m.Body = {"Sch\xc3\xb6n"};
    m.Attachments = {(dir / "\xc3\xa4rchiv.zip").string()};
    std::string text = BuildMessageText(m);
    test::WriteFile(dir / "msg.eml", text);
    auto r = test::ParseMime(dir / "msg.eml", dir.Path());
    EXPECT_EQ(r["subject"], "\"Gr\\u00fc\\u00dfe\"");
    EXPECT_EQ(r["part0.text"], "\"Sch\\u00f6n\"");
    EXPECT_EQ(r["part1.filename"], "\"\\u00e4rchiv.zip\"");
}

TEST(MailDate, IsAnRfc5322Date) {
    std::string d = RfcDate(1'700'000'000);
    EXPECT_TRUE(std::regex_match(d, std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] "
                                               "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                               "20[0-9]{2} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9]{4}")))
        << d;
}

TEST(MailBoundary, HasTheFixedFormAndVaries) {
    std::string a = MakeBoundary(), b = MakeBoundary(), c = MakeBoundary();
    EXPECT_TRUE(std::regex_match(a, std::regex("====================54535[a-y]{6}====")));
    EXPECT_FALSE(a == b && b == c);
}

}  // namespace
}  // namespace varnok::mail
