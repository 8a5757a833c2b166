// The mail and update keys of the settings file: their defaults, a round trip, and the old keys left as
// they were.
#include <gtest/gtest.h>

#include "app/ini_file.h"
#include "app/mail/smtp_client.h"
#include "app/settings.h"

namespace varnok::app {
namespace {

TEST(MailSettings, NewKeysHaveSafeDefaultsAndRoundTrip) {
    IniFile ini;
    ini.Parse("[Mail]\nMailHost=mail.example.org\nMailUserID=me\nMailAddress=me@example.org\nMailPort=abc\n"
              "[AutoUpd]\nLastCheck=0\n");
    Settings s;
    s.Load(ini);
    EXPECT_EQ(s.MailPort, 25) << "a port that is not a number is the default";
    EXPECT_EQ(mail::SecurityFromText(s.MailSecurity), mail::SmtpSecurity::StartTls);
    EXPECT_TRUE(s.MailAuthUser.empty());
    EXPECT_TRUE(s.HomeURL.empty()) << "no update address is shipped";
    EXPECT_FALSE(s.AllowHttp);

    s.MailPort = 465;
    s.MailSecurity = "smtps";
    s.MailAuthUser = "me";
    s.MailPassword = "p=a;ss word";
    s.HomeURL = "https://example.org/autoupd.html";
    s.AllowHttp = true;
    s.LastCheck = 45000.25;
    s.SaveMail(ini);
    s.SaveAutoUpd(ini);
    IniFile again;
    again.Parse(ini.Text());
    Settings t;
    t.Load(again);
    EXPECT_EQ(t.MailHost, "mail.example.org");
    EXPECT_EQ(t.MailPort, 465);
    EXPECT_EQ(mail::SecurityFromText(t.MailSecurity), mail::SmtpSecurity::Smtps);
    EXPECT_EQ(t.MailPassword, "p=a;ss word");
    EXPECT_EQ(t.HomeURL, "https://example.org/autoupd.html");
    EXPECT_TRUE(t.AllowHttp);
    EXPECT_DOUBLE_EQ(t.LastCheck, 45000.25);
    EXPECT_EQ(again.ReadString("Mail", "MailUserID", ""), "me") << "the old keys keep their names";
    EXPECT_EQ(again.ReadString("Mail", "InternalMail", ""), "1");
}

}  // namespace
}  // namespace varnok::app
