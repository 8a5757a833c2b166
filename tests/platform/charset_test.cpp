// The converter that stays open and the detector: a failure in one call must not leak into the next (shift
// states, partial output), conversions stop exactly at the failing sequence, and the UTF-8 helpers agree with
// the validity check the rest of the system uses.
#include <gtest/gtest.h>

#include <random>

#include "platform/charset.h"
#include "platform/codepage.h"

namespace varnok::platform {
namespace {

TEST(Converter, ReusedDescriptorGivesTheSameAsOneOffConversions) {
    Converter conv("CP866", "UTF-8");
    ASSERT_TRUE(conv.IsOpen());
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < 500; ++i) {
        std::string in;
        for (int n = i % 40; n > 0; --n)
            in.push_back(static_cast<char>(byte(rng)));
        std::string out;
        ASSERT_TRUE(conv.Convert(in, out));
        ASSERT_EQ(out, ConvertCharset(in, "CP866", "UTF-8"));
    }
}

TEST(Converter, StopsExactlyAtTheFailingSequence) {
    Converter conv("CP932", "UTF-8");
    std::string out = "kept:";
    // あ, then FF (no CP932 byte), then text the call must not reach.
    EXPECT_EQ(conv.ConvertSome("\x82\xA0\xFF"
                               "abc",
                               out),
              2u);
    EXPECT_EQ(out, "kept:あ");
    out.clear();
    EXPECT_EQ(conv.ConvertSome("ab\x82", out), 2u);  // a lead byte at the end is incomplete
    EXPECT_EQ(out, "ab");
    out.clear();
    EXPECT_EQ(conv.ConvertSome("\x95\x5C", out), 2u);  // 0x5C as a trail byte
    EXPECT_EQ(out, "表");
    EXPECT_FALSE(conv.Convert("\x82", out));
    EXPECT_TRUE(conv.Convert("\x8A\xBF\x8E\x9A", out));
    EXPECT_EQ(out, "漢字");
}

TEST(Converter, StatefulSourceStartsAfreshAfterAFailure) {
    // ISO-2022-JP: an escape switches to JIS X 0208; the name ends (or breaks) before switching back. The
    // next conversion must read ASCII as ASCII, not as the two-byte set the broken one left selected.
    Converter conv("ISO-2022-JP", "UTF-8");
    ASSERT_TRUE(conv.IsOpen());
    std::string out;
    conv.ConvertSome("\x1B$B\x34\x41\x3B\x7A\xFF", out);
    EXPECT_EQ(out.substr(0, 6), "漢字");
    ASSERT_TRUE(conv.Convert("abcd", out));
    EXPECT_EQ(out, "abcd");
}

TEST(Converter, EncodingDirectionRefusesWhatThePageLacks) {
    Converter conv("UTF-8", "CP437");
    std::string out;
    EXPECT_TRUE(conv.Convert("é", out));
    EXPECT_EQ(out, "\x82");
    EXPECT_FALSE(conv.Convert("€", out));
    EXPECT_FALSE(conv.Convert("Я", out));
}

TEST(Converter, UnknownCharsetsAndMoves) {
    Converter bad("NO-SUCH-SET", "UTF-8");
    EXPECT_FALSE(bad.IsOpen());
    std::string out;
    EXPECT_EQ(bad.ConvertSome("abc", out), 0u);
    EXPECT_FALSE(bad.Convert("abc", out));
    Converter a("CP1251", "UTF-8");
    Converter b = std::move(a);
    EXPECT_FALSE(a.IsOpen());  // NOLINT: moved-from state is specified
    ASSERT_TRUE(b.Convert("\xCF\xF0\xE8\xE2\xE5\xF2", out));
    EXPECT_EQ(out, "Привет");
    EXPECT_TRUE(CharsetKnown("cp866"));
    EXPECT_TRUE(CharsetKnown("latin1"));
    EXPECT_FALSE(CharsetKnown("NO-SUCH-SET"));
    EXPECT_FALSE(CharsetKnown(""));
}

TEST(Detector, AnswersOnLongTextAndNothingOnNothing) {
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += "Съешь же ещё этих мягких французских булок, да выпей чаю. ";
    EXPECT_EQ(DetectCharset(ConvertCharset(text, "UTF-8", "CP1251")), "WINDOWS-1251");
    EXPECT_EQ(DetectCharset(ConvertCharset(text, "UTF-8", "KOI8-R")), "KOI8-R");
    EXPECT_EQ(DetectCharset(""), "");
}

TEST(Utf8, DecoderAgreesWithTheValidityCheck) {
    std::string all;
    for (char32_t c = 1; c < 0x110000; c += (c < 0x3000 ? 1 : 97)) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        AppendUtf8(all, c);
    }
    ASSERT_TRUE(IsValidUtf8(all));
    std::string again;
    for (size_t pos = 0; pos < all.size();) {
        const char32_t c = NextUtf8(all, pos);
        ASSERT_NE(c, kBadUtf8);
        AppendUtf8(again, c);
    }
    EXPECT_EQ(again, all);
    for (std::string_view bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82",
                                 "\x80", "\xF8\x88\x80\x80\x80"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(bad)));
        EXPECT_FALSE(IsValidUtf8(bad));
        size_t p = 0;
        EXPECT_EQ(NextUtf8(bad, p), kBadUtf8);
        EXPECT_EQ(p, 1u);  // one byte at a time, so that the caller can read it some other way
    }
}

}  // namespace
}  // namespace varnok::platform
