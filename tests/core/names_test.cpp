// The code page decision and the decoding of legacy names: the archives users complain about (CP866 ZIPs
// written with a Unix host byte, CP932 LZH names with 0x5C trail bytes, WinZip OEM names, Latin-1 cabinets),
// the UTF-8 rules per origin, forcing a page, the fallback that keeps names valid and distinct, the bounded
// sample, and a corpus of realistic names in eighteen languages encoded the ways archivers of each system
// did.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "archive/core/names.h"
#include "platform/charset.h"
#include "platform/codepage.h"

namespace varnok {
namespace {

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b)
        s.push_back(static_cast<char>(c));
    return s;
}

// Text in a legacy page, made by iconv; empty when the page cannot encode it.
std::string Encode(const std::string& utf8, const std::string& page) {
    platform::Converter conv("UTF-8", page);
    std::string out;
    if (!conv.Convert(utf8, out)) return {};
    return out;
}

// Adds the names, decides, and returns their decodings.
std::vector<std::string> DecideAndDecode(NameCoding& nc, const std::vector<std::string>& raw,
                                         NameOrigin origin) {
    for (const std::string& r : raw)
        nc.Add(r, origin);
    nc.Decide();
    std::vector<std::string> out;
    for (const std::string& r : raw)
        out.push_back(nc.Decode(r, origin));
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// Archives from the field

TEST(NamesFromTheField, Cp866ZipWrittenWithUnixHostByte) {
    const std::vector<std::string> raw = {Bytes({0x8F, 0x90, 0x88, 0x82, 0x85, 0x92}),
                                          Bytes({0xAF, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2})};
    for (NameOrigin origin : {NameOrigin::Unix, NameOrigin::Dos}) {
        NameCoding nc;
        const auto out = DecideAndDecode(nc, raw, origin);
        EXPECT_EQ(out[0], "ПРИВЕТ");
        EXPECT_EQ(out[1], "привет");
        EXPECT_EQ(nc.CodePage(origin), "CP866");
    }
}

TEST(NamesFromTheField, Cp932LzhNamesWithBackslashTrailBytes) {
    NameCoding nc;
    const auto out = DecideAndDecode(nc,
                                     {Bytes({0x8A, 0xBF, 0x8E, 0x9A, 0x2E, 0x74, 0x78, 0x74}),
                                      Bytes({0x95, 0x5C, 0x2E, 0x74, 0x78, 0x74})},
                                     NameOrigin::Dos);
    EXPECT_EQ(out[0], "漢字.txt");
    EXPECT_EQ(out[1], "表.txt");  // 0x5C is the trail byte of 表, not a separator
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP932");
}

TEST(NamesFromTheField, Cp932CabinetPathsKeepTheirBackslashes) {
    // "表だよ\漢字.txt" and "表だよ\一覧表.txt": the separators are 0x5C, and so are the trail bytes of 表.
    NameCoding nc;
    const auto out = DecideAndDecode(nc,
                                     {"\x95\x5C\x82\xBE\x82\xE6\x5C\x8A\xBF\x8E\x9A.txt",
                                      "\x95\x5C\x82\xBE\x82\xE6\x5C\x88\xEA\x97\x97\x95\x5C.txt"},
                                     NameOrigin::Dos);
    EXPECT_EQ(out[0], "表だよ\\漢字.txt");
    EXPECT_EQ(out[1], "表だよ\\一覧表.txt");
}

TEST(NamesFromTheField, Cp932BeatsItsValidButObscureGbkReading) {
    // 漢字表 in CP932 is valid GBK too ("娍帤昞", all GBK additions).
    NameCoding nc;
    EXPECT_EQ(DecideAndDecode(nc, {"\x8A\xBF\x8E\x9A\x95\x5C"}, NameOrigin::Dos)[0], "漢字表");
}

TEST(NamesFromTheField, AccentedLatinNames) {
    NameCoding unix;
    EXPECT_EQ(DecideAndDecode(unix, {"caf\xE9.txt"}, NameOrigin::Unix)[0], "café.txt");
    EXPECT_EQ(unix.CodePage(NameOrigin::Unix), "CP1252");
    NameCoding dos;
    EXPECT_EQ(DecideAndDecode(dos, {"caf\x82.txt"}, NameOrigin::Dos)[0], "café.txt");
    EXPECT_EQ(dos.CodePage(NameOrigin::Dos), "CP437");
}

TEST(NamesFromTheField, WinZipOemFolderAndFile) {
    NameCoding nc;
    const auto out = DecideAndDecode(nc, {"\x84/", "\x84/\x81.txt"}, NameOrigin::Dos);
    EXPECT_EQ(out[0], "ä/");
    EXPECT_EQ(out[1], "ä/ü.txt");
}

TEST(NamesFromTheField, Latin1CabinetBeatsCp437BoxDrawing) {
    std::vector<std::string> raw(3);
    for (int b = 0xA0; b < 0x100; ++b)
        raw[(b - 0xA0) / 32].push_back(static_cast<char>(b));
    NameCoding nc;
    const auto out = DecideAndDecode(nc, raw, NameOrigin::Dos);
    for (size_t i = 0; i < raw.size(); ++i)
        EXPECT_EQ(out[i], platform::ConvertCharset(raw[i], "CP1252", "UTF-8"));
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP1252");
}

TEST(NamesFromTheField, MixedPagesInOneArchiveStayValidAndDistinct) {
    // A ZIP holding CP932 "日文" and GBK "中文": one page cannot read both; both still come out as text.
    NameCoding nc;
    const auto out = DecideAndDecode(nc, {"\x93\xFA\x95\xB6", "\xD6\xD0\xCE\xC4"}, NameOrigin::Dos);
    EXPECT_EQ(out[0], "日文");
    EXPECT_TRUE(platform::IsValidUtf8(out[1]));
    EXPECT_NE(out[0], out[1]);
}

TEST(NamesFromTheField, Cp850OnlyWhenCp437WouldShowGraphics) {
    // In CP850 ã is C6 and õ E4, where CP437 has box drawing and Σ.
    NameCoding pt;
    EXPECT_EQ(DecideAndDecode(pt, {Encode("São Paulo", "CP850"), Encode("Informações.doc", "CP850")},
                              NameOrigin::Dos)[1],
              "Informações.doc");
    EXPECT_EQ(pt.CodePage(NameOrigin::Dos), "CP850");
    // The common accents are the same in both pages: CP437 keeps its place.
    NameCoding de;
    EXPECT_EQ(DecideAndDecode(de,
                              {"M\x84rz.txt",
                               "\x9A"
                               "ber.doc"},
                              NameOrigin::Dos)[1],
              "Über.doc");
    EXPECT_EQ(de.CodePage(NameOrigin::Dos), "CP437");
}

// ---------------------------------------------------------------------------------------------------------
// Defaults and the UTF-8 rules

TEST(NamesDefaults, DecodingBeforeAnyDecision) {
    NameCoding nc;
    EXPECT_EQ(nc.Decode("caf\x82", NameOrigin::Dos), "café");       // CP437
    EXPECT_EQ(nc.Decode("caf\xE9", NameOrigin::Unix), "café");      // CP1252
    EXPECT_EQ(nc.Decode("caf\xC3\xA9", NameOrigin::Unix), "café");  // valid UTF-8 as is
    EXPECT_EQ(nc.Decode("caf\x8E", NameOrigin::Mac), "café");       // MacRoman
    EXPECT_EQ(nc.Decode("caf\xC3\xA9", NameOrigin::Mac), "café");
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP437");
    EXPECT_EQ(nc.CodePage(NameOrigin::Unix), "CP1252");
    EXPECT_EQ(nc.CodePage(NameOrigin::Mac), "MACINTOSH");
    EXPECT_EQ(nc.CodePage(NameOrigin::Utf8), "UTF-8");
    nc.Decide();  // nothing sampled: nothing changes
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP437");
}

TEST(NamesDefaults, ConfiguredOemPageIsTheDosDefault) {
    platform::SetOemCodePage("CP866");
    NameCoding nc;
    EXPECT_EQ(nc.Decode("\x8F\x90\x88\x82\x85\x92", NameOrigin::Dos), "ПРИВЕТ");
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP866");
    platform::SetOemCodePage("CP437");
    EXPECT_EQ(nc.Decode("caf\x82", NameOrigin::Dos), "café");
}

TEST(NamesDefaults, OemPageIconvDoesNotKnowFallsBackToCp437) {
    platform::SetOemCodePage("NO-SUCH-OEM");
    NameCoding nc;
    EXPECT_EQ(nc.Decode("caf\x82", NameOrigin::Dos), "café");
    const auto out =
        DecideAndDecode(nc, {"\x8F\x90\x88\x82\x85\x92", "\xAF\xE0\xA8\xA2\xA5\xE2"}, NameOrigin::Dos);
    platform::SetOemCodePage("CP437");
    EXPECT_EQ(out[1], "привет");
}

TEST(NamesUtf8, UnixNamesThatAreValidUtf8StayUtf8OneByOne) {
    NameCoding nc;
    const std::vector<std::string> raw = {"Отчёт.doc", Encode("Договор поставки.doc", "CP1251"),
                                          Encode("Счёт на оплату.xls", "CP1251"), "naïve.txt"};
    const auto out = DecideAndDecode(nc, raw, NameOrigin::Unix);
    EXPECT_EQ(out[0], "Отчёт.doc");
    EXPECT_EQ(out[1], "Договор поставки.doc");
    EXPECT_EQ(out[2], "Счёт на оплату.xls");
    EXPECT_EQ(out[3], "naïve.txt");
    EXPECT_EQ(nc.CodePage(NameOrigin::Unix), "CP1251");
}

TEST(NamesUtf8, UnixArchiveOfUtf8NamesReportsUtf8) {
    NameCoding nc;
    DecideAndDecode(nc, {"Überweisung.pdf", "日本語.txt"}, NameOrigin::Unix);
    EXPECT_EQ(nc.CodePage(NameOrigin::Unix), "UTF-8");
}

TEST(NamesUtf8, DosNamesAllValidUtf8AreUtf8) {
    NameCoding nc;
    const auto out = DecideAndDecode(
        nc, {"Überweisung März.pdf", "プロジェクト資料/会議録.txt", "привет.txt"}, NameOrigin::Dos);
    EXPECT_EQ(out[0], "Überweisung März.pdf");
    EXPECT_EQ(out[1], "プロジェクト資料/会議録.txt");
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "UTF-8");
}

TEST(NamesUtf8, Cp866NameHoldingAValidUtf8SequenceIsNotUtf8) {
    // "привет" in CP866 contains E0 A8 A2, a valid UTF-8 sequence; the whole name is not UTF-8.
    NameCoding nc;
    EXPECT_EQ(DecideAndDecode(nc, {"\xAF\xE0\xA8\xA2\xA5\xE2.txt"}, NameOrigin::Dos)[0], "привет.txt");
}

TEST(NamesUtf8, OneLegacyDosNameMakesEveryDosNameLegacy) {
    // Three CP437 names and one whose bytes happen to be valid UTF-8: all are read as CP437.
    NameCoding nc;
    const auto out = DecideAndDecode(nc,
                                     {Encode("Crème brûlée.txt", "CP437"), Encode("Château.doc", "CP437"),
                                      Encode("Noël à Paris.txt", "CP437"), "\xC3\xA9t\xC3\xA9"},
                                     NameOrigin::Dos);
    EXPECT_EQ(out[0], "Crème brûlée.txt");
    EXPECT_EQ(out[2], "Noël à Paris.txt");
    const std::string page = nc.CodePage(NameOrigin::Dos);
    EXPECT_TRUE(page == "CP437" || page == "CP850") << page;  // the same for these letters
    EXPECT_EQ(out[3], platform::ConvertCharset("\xC3\xA9t\xC3\xA9", page.c_str(), "UTF-8"));
}

TEST(NamesUtf8, Utf8OriginIsNeverDecidedAndInvalidBytesFallBack) {
    NameCoding nc;
    nc.Add("\xAF\xE0\xA8\xA2\xA5\xE2", NameOrigin::Utf8);
    nc.Decide();
    EXPECT_EQ(nc.CodePage(NameOrigin::Utf8), "UTF-8");
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP437");
    EXPECT_EQ(nc.Decode("caf\xC3\xA9", NameOrigin::Utf8), "café");
    EXPECT_EQ(nc.Decode("caf\xE9", NameOrigin::Utf8), "café");  // CP1252 for the invalid byte
}

// ---------------------------------------------------------------------------------------------------------
// Forcing a page

TEST(NamesForce, EveryCandidatePageIsKnownToIconvHere) {
    // A page iconv lacks would silently drop out of the decision.
    for (NameOrigin o : {NameOrigin::Dos, NameOrigin::Unix, NameOrigin::Mac}) {
        const auto pages = NameCoding::CandidatePages(o);
        EXPECT_GE(pages.size(), 5u);
        for (const std::string& page : pages) {
            EXPECT_TRUE(platform::CharsetKnown(page)) << page;
            NameCoding nc;
            EXPECT_TRUE(nc.Force(page)) << page;
            EXPECT_EQ(nc.CodePage(o), page);
        }
    }
    EXPECT_EQ(NameCoding::CandidatePages(NameOrigin::Dos).front(), "CP437");
    platform::SetOemCodePage("cp866");
    EXPECT_EQ(NameCoding::CandidatePages(NameOrigin::Dos).front(), "CP866");
    platform::SetOemCodePage("CP437");
    EXPECT_TRUE(NameCoding::CandidatePages(NameOrigin::Utf8).empty());
}

TEST(NamesForce, ForcedPageReadsEveryLegacyOriginEvenValidUtf8) {
    NameCoding nc;
    DecideAndDecode(nc, {"caf\x82"}, NameOrigin::Dos);
    ASSERT_TRUE(nc.Force("cp866"));
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP866");
    EXPECT_EQ(nc.CodePage(NameOrigin::Unix), "CP866");
    EXPECT_EQ(nc.Decode("\x8F\x90\x88\x82\x85\x92", NameOrigin::Dos), "ПРИВЕТ");
    EXPECT_EQ(nc.Decode("\x8F\x90\x88\x82\x85\x92", NameOrigin::Mac), "ПРИВЕТ");
    EXPECT_EQ(nc.Decode("\xD0\xAF", NameOrigin::Unix), "╨п");  // valid UTF-8, read as CP866 all the same
    EXPECT_EQ(nc.Decode("\xD0\xAF", NameOrigin::Utf8), "Я");   // the archive said UTF-8: not forced
    EXPECT_EQ(nc.Decode("plain.txt", NameOrigin::Dos), "plain.txt");
}

TEST(NamesForce, UnknownPageIsRefusedAndEmptyRestoresTheGuess) {
    NameCoding nc;
    DecideAndDecode(nc, {"\x8F\x90\x88\x82\x85\x92", "\xAF\xE0\xA8\xA2\xA5\xE2"}, NameOrigin::Dos);
    ASSERT_TRUE(nc.Force("latin1"));
    EXPECT_FALSE(nc.Force("NO-SUCH-PAGE"));
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "LATIN1");  // unchanged by the refusal
    EXPECT_EQ(nc.Decode("caf\xE9", NameOrigin::Dos), "café");
    ASSERT_TRUE(nc.Force(""));
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP866");
    EXPECT_EQ(nc.Decode("\xAF\xE0\xA8\xA2\xA5\xE2", NameOrigin::Dos), "привет");
}

TEST(NamesForce, ForcedUtf8ReadsLegacyBytesThroughTheFallback) {
    NameCoding nc;
    ASSERT_TRUE(nc.Force("UTF-8"));
    EXPECT_EQ(nc.Decode("caf\x82", NameOrigin::Dos), "café");   // CP437 fallback for Dos
    EXPECT_EQ(nc.Decode("caf\xE9", NameOrigin::Unix), "café");  // CP1252 otherwise
    EXPECT_EQ(nc.Decode("caf\xC3\xA9", NameOrigin::Dos), "café");
}

// ---------------------------------------------------------------------------------------------------------
// The fallback: always valid UTF-8, never two names alike

std::string RandomName(std::mt19937& rng, size_t maxLen) {
    std::uniform_int_distribution<size_t> len(1, maxLen);
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 3);
    std::string s;
    for (size_t n = len(rng); n > 0; --n) {
        int b = byte(rng);
        if (kind(rng) == 0) b = 0x20 + b % 0x5F;  // some ASCII among the high bytes
        s.push_back(static_cast<char>(b));
    }
    return s;
}

TEST(NamesFallback, RandomBytesDecodeToValidUtf8UnderEveryReading) {
    std::mt19937 rng(20240611);
    const std::vector<std::string> pages = {"",       "CP437", "CP866",      "CP1252",
                                            "CP932",  "CP936", "CP949",      "CP950",
                                            "EUC-JP", "UTF-8", "ISO-8859-8", "ISO-2022-JP"};
    for (const std::string& page : pages) {
        SCOPED_TRACE(page);
        NameCoding nc;
        for (int i = 0; i < 50; ++i)
            nc.Add(RandomName(rng, 12), NameOrigin::Dos);
        nc.Decide();
        ASSERT_TRUE(nc.Force(page));
        for (int i = 0; i < 2000; ++i) {
            const std::string raw = RandomName(rng, 16);
            for (NameOrigin o : {NameOrigin::Utf8, NameOrigin::Dos, NameOrigin::Unix, NameOrigin::Mac}) {
                const std::string out = nc.Decode(raw, o);
                ASSERT_TRUE(platform::IsValidUtf8(out)) << "origin " << int(o);
                ASSERT_FALSE(out.empty());
            }
        }
    }
}

TEST(NamesFallback, DistinctNamesStayDistinct) {
    // Random names under legacy pages: two different names never decode alike, not even when one holds a byte
    // the page cannot map and the fallback's reading of it is a character the page has (CP932 lone lead E0 as
    // CP437 "α" against CP932 83 BF "α").
    std::mt19937 rng(77);
    for (const std::string page : {"CP437", "CP1252", "ISO-8859-8", "CP932", "CP936", "CP950", "CP949"}) {
        SCOPED_TRACE(page);
        NameCoding nc;
        ASSERT_TRUE(nc.Force(page));
        for (NameOrigin o : {NameOrigin::Dos, NameOrigin::Unix}) {
            std::map<std::string, std::string> seen;
            for (int i = 0; i < 20000; ++i) {
                const std::string raw = RandomName(rng, 3);
                const std::string out = nc.Decode(raw, o);
                auto [it, fresh] = seen.emplace(out, raw);
                // The page's own duplicates (CP932 has NEC and IBM copies of some characters) are not the
                // fallback's doing: they only count when the page reads both names whole.
                if (!fresh && it->second != raw) {
                    std::string a, b;
                    platform::Converter conv(page, "UTF-8");
                    ASSERT_TRUE(conv.Convert(raw, a) && conv.Convert(it->second, b))
                        << "two names decode alike: " << out;
                }
            }
        }
    }
    NameCoding nc;
    ASSERT_TRUE(nc.Force("CP932"));
    EXPECT_NE(nc.Decode("\x83\xBF", NameOrigin::Dos), nc.Decode("\xE0", NameOrigin::Dos));
    EXPECT_NE(nc.Decode("a\x81", NameOrigin::Dos), nc.Decode("a\x82", NameOrigin::Dos));
}

TEST(NamesFallback, Utf8ReadingsKeepNamesWithInvalidBytesApart) {
    // Names whose every high byte is invalid UTF-8 (continuation bytes alone, F8-FF).
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, 0x5F + 0x40 + 8 - 1);
    NameCoding nc;
    std::map<std::string, std::string> seen;
    for (int i = 0; i < 20000; ++i) {
        std::string raw;
        for (int n = 1 + i % 4; n > 0; --n) {
            const int k = pick(rng);
            raw.push_back(static_cast<char>(k < 0x5F   ? 0x20 + k
                                            : k < 0x9F ? 0x80 + (k - 0x5F)
                                                       : 0xF8 + (k - 0x9F)));
        }
        const std::string out = nc.Decode(raw, NameOrigin::Utf8);
        ASSERT_TRUE(platform::IsValidUtf8(out));
        auto [it, fresh] = seen.emplace(out, raw);
        ASSERT_TRUE(fresh || it->second == raw);
    }
}

TEST(NamesFallback, SeparatorsAndAsciiAreLeftAlone) {
    NameCoding nc;
    EXPECT_EQ(nc.Decode("dir\\sub/file.txt", NameOrigin::Dos), "dir\\sub/file.txt");
    EXPECT_EQ(nc.Decode("caf\x82\\x/y", NameOrigin::Dos), "café\\x/y");
    ASSERT_TRUE(nc.Force("ISO-2022-JP"));  // a stateful page: ASCII still comes back unchanged
    EXPECT_EQ(nc.Decode("plain/name.txt", NameOrigin::Dos), "plain/name.txt");
}

// ---------------------------------------------------------------------------------------------------------
// The sample

TEST(NamesSample, AsciiNamesCostNothingAndDecideNothing) {
    NameCoding nc;
    for (int i = 0; i < 100000; ++i)
        nc.Add("dir/file" + std::to_string(i) + ".txt", NameOrigin::Dos);
    nc.Decide();
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP437");
    nc.Add("\xAF\xE0\xA8\xA2\xA5\xE2.txt", NameOrigin::Dos);
    nc.Add("\x8F\x90\x88\x82\x85\x92.txt", NameOrigin::Dos);
    nc.Decide();  // a second decision takes the names added since
    EXPECT_EQ(nc.CodePage(NameOrigin::Dos), "CP866");
}

TEST(NamesSample, SampleIsBoundedAndKeepsTheFirstNames) {
    // Past the cap, names only update counts: 10,000 CP1251 names first, then more KOI8-R names than that,
    // which would carry the decision if the sample took them.
    NameCoding nc;
    const std::vector<std::string> words = {"Отчёт", "Договор", "Счёт", "Письмо", "Приказ", "Смета", "Акт"};
    for (int i = 0; i < 10000; ++i)
        nc.Add(Encode(words[i % words.size()] + " " + std::to_string(i) + ".doc", "CP1251"),
               NameOrigin::Unix);
    for (int i = 0; i < 30000; ++i)
        nc.Add(Encode(words[i % words.size()] + " " + std::to_string(i) + ".doc", "KOI8-R"),
               NameOrigin::Unix);
    nc.Decide();
    EXPECT_EQ(nc.CodePage(NameOrigin::Unix), "CP1251");
}

TEST(NamesSample, CopiesAndConcurrentDecoding) {
    NameCoding nc;
    DecideAndDecode(nc, {Encode("Überweisung März.pdf", "CP850"), Encode("Grüße aus Köln.txt", "CP850")},
                    NameOrigin::Dos);
    const NameCoding copy = nc;
    EXPECT_EQ(copy.CodePage(NameOrigin::Dos), nc.CodePage(NameOrigin::Dos));
    const std::string raw = Encode("Grüße aus Köln.txt", "CP850");
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i)
                wrong[t] += (t % 2 ? copy : nc).Decode(raw, NameOrigin::Dos) != "Grüße aus Köln.txt";
        });
    for (auto& th : threads)
        th.join();
    for (int w : wrong)
        EXPECT_EQ(w, 0);
}

// ---------------------------------------------------------------------------------------------------------
// Corpus: realistic names in each language, encoded in each page an archiver of each system would have used.

struct Language {
    const char* name;
    const char* group;
    std::vector<std::string> names;
    std::vector<std::pair<NameOrigin, std::vector<std::string>>> pages;
};

const std::vector<Language>& Corpus() {
    using O = NameOrigin;
    static const std::vector<Language> corpus = {
        {"Russian",
         "Cyrillic",
         {"Отчёт за 2023.doc",
          "Документы/Договор аренды.pdf",
          "Фото с отпуска",
          "Письмо директору.txt",
          "Бухгалтерия/Счета-фактуры.xls",
          "Презентация проекта.ppt",
          "НОВАЯ ПАПКА",
          "Резюме Иванов.doc",
          "Музыка/Кино - Группа крови.mp3",
          "План работ на неделю.xlsx",
          "Приказ №15.doc",
          "СМЕТА.XLS",
          "Инструкция по установке.txt",
          "Рабочий стол",
          "Курсовая работа.docx",
          "Заявление на отпуск.doc",
          "Книги/Толстой - Война и мир.fb2",
          "Протокол собрания.rtf",
          "Прайс-лист.xls",
          "Игры"},
         {{O::Dos, {"CP866", "CP1251"}},
          {O::Unix, {"KOI8-R", "CP1251", "CP866"}},
          {O::Mac, {"MAC-CYRILLIC"}}}},
        {"Ukrainian",
         "Cyrillic",
         {"Звіт за квітень.doc", "Документи/Договір оренди.pdf", "Фотографії з Києва",
          "Лист до керівника.txt", "Бухгалтерія/Рахунки.xls", "Презентація проєкту.ppt", "Нова папка",
          "Резюме Петренко.doc", "Пісні/Океан Ельзи.mp3", "План робіт.xlsx", "Наказ про відпустку.doc",
          "Інструкція з встановлення.txt", "Робочий стіл", "Курсова робота.docx", "Заява.doc",
          "Українська мова/Вправи.pdf"},
         {{O::Dos, {"CP1125", "CP1251"}}, {O::Unix, {"KOI8-U", "CP1251"}}}},
        {"Bulgarian",
         "Cyrillic",
         {"Отчет за годината.doc", "Документи/Договор за наем.pdf", "Снимки от морето", "Писмо до шефа.txt",
          "Счетоводство/Фактури.xls", "Презентация.ppt", "Нова папка", "Автобиография.doc",
          "Песни/Народна музика.mp3", "План за седмицата.xlsx", "Заповед.doc",
          "Ръководство за инсталиране.txt", "Работен плот", "Курсова работа по история.docx",
          "Молба за отпуск.doc", "Книги/Вазов - Под игото.txt"},
         {{O::Dos, {"CP866", "CP1251", "MIK"}}, {O::Unix, {"CP1251"}}}},
        {"German",
         "Western",
         {"Überweisung März.pdf", "Rechnungen/Stromrechnung Mai.pdf", "Bewerbung Müller.doc",
          "Grüße aus Köln.jpg", "Steuererklärung 2022.xls", "Präsentation.ppt", "Neuer Ordner",
          "Lebenslauf.doc", "Fotos/Geburtstag Jürgen", "Übersicht Kündigungen.xlsx", "Straßenkarte.pdf",
          "Prüfungsergebnisse.txt", "Bücher/Goethe - Faust.txt", "Anträge/Führerschein.pdf",
          "Schlüsseldienst.txt", "Gebührenordnung.doc"},
         {{O::Dos, {"CP437", "CP850", "CP1252"}},
          {O::Unix, {"ISO-8859-1", "ISO-8859-15"}},
          {O::Mac, {"MACINTOSH"}}}},
        {"French",
         "Western",
         {"Réunion du comité.doc", "Factures/Électricité été.pdf", "Lettre à Hélène.txt",
          "Présentation générale.ppt", "Nouveau dossier", "Mes vidéos/Noël 2019.avi",
          "Relevé bancaire février.pdf", "Curriculum vitæ.doc",
          "Musique/Édith Piaf - Non, je ne regrette rien.mp3", "Déclaration d'impôts.pdf",
          "Reçu de caisse.jpg", "Fiche de présence.xls", "Procès-verbal.doc",
          "Bibliothèque/Les Misérables.txt", "Année scolaire.xlsx", "Créations/Dessin château.png"},
         {{O::Dos, {"CP437", "CP850", "CP1252"}},
          {O::Unix, {"ISO-8859-1", "ISO-8859-15"}},
          {O::Mac, {"MACINTOSH"}}}},
        {"Spanish",
         "Western",
         {"Presentación del año.ppt", "Facturas/Teléfono junio.pdf", "Canción de cuna.mp3",
          "Año nuevo/Fotos niños", "Información general.doc", "Currículum María.doc", "Contraseñas.txt",
          "Nueva carpeta", "Música/Guitarra española", "Lección 3 - Gramática.pdf", "Dirección de envío.txt",
          "Reunión de vecinos.doc", "Películas/El laberinto del fauno.avi", "Cumpleaños de Sofía.jpg",
          "Matemáticas/Ejercicios.xls", "Menú del día.doc"},
         {{O::Dos, {"CP437", "CP850", "CP1252"}},
          {O::Unix, {"ISO-8859-1", "ISO-8859-15"}},
          {O::Mac, {"MACINTOSH"}}}},
        {"Portuguese",
         "Western",
         {"Relatório anual.doc", "Informações/Documentação técnica.pdf", "Canções de Natal.mp3", "Nova pasta",
          "Fotografias/São Paulo 2015", "Orçamento da obra.xls", "Apresentação.ppt", "Currículo João.doc",
          "Lição de português.txt", "Contratos/Prestação de serviços.pdf", "Recibos de condomínio.pdf",
          "Músicas/Bossa nova", "Certidão de nascimento.jpg", "Avaliação do aluno.docx",
          "Manual de instalação.txt", "Viagem à Bahia/Praia.jpg"},
         {{O::Dos, {"CP850", "CP860", "CP1252"}},
          {O::Unix, {"ISO-8859-1", "ISO-8859-15"}},
          {O::Mac, {"MACINTOSH"}}}},
        {"Swedish",
         "Western",
         {"Årsredovisning 2021.pdf", "Kvitton/Hyra för maj.pdf", "Bröllopsbilder", "Möte med styrelsen.doc",
          "Ny mapp", "Låtar/Sommarvisor.mp3", "Ansökan om bygglov.doc", "Körkort.jpg",
          "Resa till Göteborg/Karta.pdf", "Inköpslista.txt", "Lönespecifikation juni.pdf", "Föräldramöte.doc",
          "Skrivbord", "Träningsprogram.xls", "Sångbok/Små grodorna.txt", "Översättning.doc"},
         {{O::Dos, {"CP437", "CP850", "CP1252"}},
          {O::Unix, {"ISO-8859-1", "ISO-8859-15"}},
          {O::Mac, {"MACINTOSH"}}}},
        {"Polish",
         "Central",
         {"Sprawozdanie roczne.doc", "Faktury/Rachunek za prąd.pdf", "Zdjęcia z wakacji",
          "Życiorys Kowalski.doc", "Nowy folder", "Umowa najmu mieszkania.pdf", "Prezentacja wyników.ppt",
          "Muzyka/Chopin - Nokturny.mp3", "Książki/Pan Tadeusz.txt", "Wniosek o urlop.doc",
          "Harmonogram zajęć.xls", "Ćwiczenia z matematyki.pdf", "Świadectwo pracy.jpg",
          "Zaświadczenie lekarskie.pdf", "Łódź - plan miasta.pdf", "Pulpit"},
         {{O::Dos, {"CP852", "CP1250"}},
          {O::Unix, {"ISO-8859-2", "CP1250"}},
          {O::Mac, {"MAC-CENTRALEUROPE"}}}},
        {"Czech",
         "Central",
         {"Výroční zpráva.doc", "Faktury/Účet za elektřinu.pdf", "Fotky z dovolené", "Životopis Novák.doc",
          "Nová složka", "Smlouva o nájmu.pdf", "Prezentace výsledků.ppt", "Hudba/Dvořák - Novosvětská.mp3",
          "Knihy/Babička.txt", "Žádost o dovolenou.doc", "Rozvrh hodin.xls", "Cvičení z češtiny.pdf",
          "Potvrzení o studiu.jpg", "Pracovní plocha", "Přihláška.doc", "Město Brno/Mapa.pdf"},
         {{O::Dos, {"CP852", "CP1250"}},
          {O::Unix, {"ISO-8859-2", "CP1250"}},
          {O::Mac, {"MAC-CENTRALEUROPE"}}}},
        {"Hungarian",
         "Central",
         {"Éves jelentés.doc", "Számlák/Villanyszámla május.pdf", "Nyaralás képei", "Önéletrajz Kovács.doc",
          "Új mappa", "Bérleti szerződés.pdf", "Bemutató.ppt", "Zene/Népdalok.mp3",
          "Könyvek/Egri csillagok.txt", "Szabadság kérelem.doc", "Órarend.xls", "Gyakorló feladatok.pdf",
          "Igazolás.jpg", "Asztal", "Jelentkezési lap.doc", "Győr térképe.pdf"},
         {{O::Dos, {"CP852", "CP1250"}},
          {O::Unix, {"ISO-8859-2", "CP1250"}},
          {O::Mac, {"MAC-CENTRALEUROPE"}}}},
        {"Greek",
         "Greek",
         {"Αναφορά πωλήσεων.doc", "Έγγραφα/Συμβόλαιο ενοικίασης.pdf", "Φωτογραφίες διακοπών",
          "Βιογραφικό.doc", "Νέος φάκελος", "Παρουσίαση έργου.ppt", "Μουσική/Θεοδωράκης.mp3",
          "Επιστολή προς τον διευθυντή.txt", "Λογαριασμός ρεύματος.pdf", "Πρόγραμμα μαθημάτων.xls",
          "Αίτηση άδειας.doc", "Οδηγίες εγκατάστασης.txt", "Επιφάνεια εργασίας", "Ασκήσεις μαθηματικών.pdf",
          "Βιβλία/Καζαντζάκης.txt", "Χάρτης Αθήνας.jpg"},
         {{O::Dos, {"CP737", "CP1253"}}, {O::Unix, {"ISO-8859-7"}}}},
        {"Turkish",
         "Turkish",
         {"Yıllık rapor.doc", "Faturalar/Elektrik faturası.pdf", "Tatil fotoğrafları", "Özgeçmiş.doc",
          "Yeni klasör", "Kira sözleşmesi.pdf", "Sunum dosyası.ppt", "Müzik/Türkü arşivi.mp3",
          "Kitaplar/Çalıkuşu.txt", "İzin dilekçesi.doc", "Ders programı.xls", "Matematik alıştırmaları.pdf",
          "Öğrenci belgesi.jpg", "Masaüstü", "Başvuru formu.doc", "İstanbul haritası.pdf"},
         {{O::Dos, {"CP857", "CP1254"}}, {O::Unix, {"ISO-8859-9"}}}},
        {"Hebrew",
         "Hebrew",
         {"דוח שנתי.doc", "מסמכים/חוזה שכירות.pdf", "תמונות מהטיול", "קורות חיים.doc", "תיקייה חדשה",
          "מצגת פרויקט.ppt", "מוזיקה/שירים ישנים.mp3", "מכתב למנהל.txt", "חשבון חשמל.pdf", "מערכת שעות.xls",
          "בקשה לחופשה.doc", "הוראות התקנה.txt", "שולחן עבודה", "תרגילים במתמטיקה.pdf", "ספרים/עגנון.txt",
          "מפת ירושלים.jpg"},
         {{O::Dos, {"CP862", "CP1255"}}, {O::Unix, {"ISO-8859-8"}}}},
        {"Japanese",
         "CJK",
         {"プロジェクト資料/会議録.txt", "日本語.txt", "見積書_2023年度.xls", "新しいフォルダー",
          "写真/家族旅行", "報告書（最終版）.doc", "音楽/クラシック名曲集.mp3", "請求書.pdf",
          "契約書のひな形.doc", "議事録 第3回.txt", "デスクトップ", "社員名簿.xls", "東京出張の予定.txt",
          "取扱説明書.pdf", "ゲーム/セーブデータ", "表計算ソフトの使い方.doc"},
         {{O::Dos, {"CP932"}}, {O::Unix, {"EUC-JP", "CP932"}}, {O::Mac, {"CP932"}}}},
        {"Chinese (Simplified)",
         "CJK",
         {"中文文档.txt", "项目资料/会议记录.doc", "新建文件夹", "照片/北京旅游", "年度工作总结.doc",
          "财务报表2023.xls", "音乐/流行歌曲.mp3", "合同范本.pdf", "个人简历.doc", "产品说明书.pdf",
          "学习笔记.txt", "客户名单.xls", "电脑桌面", "考试成绩.xls", "软件安装教程.txt", "上海地图.jpg"},
         {{O::Dos, {"CP936"}}, {O::Unix, {"GBK", "EUC-CN"}}, {O::Mac, {"EUC-CN"}}}},
        {"Chinese (Traditional)",
         "CJK",
         {"中文文檔.txt", "專案資料/會議記錄.doc", "新增資料夾", "照片/台北旅遊", "年度工作報告.doc",
          "財務報表.xls", "音樂/流行歌曲.mp3", "合約範本.pdf", "個人履歷.doc", "產品說明書.pdf",
          "學習筆記.txt", "客戶名單.xls", "電腦桌面", "考試成績.xls", "軟體安裝教學.txt", "香港地圖.jpg"},
         {{O::Dos, {"CP950"}}, {O::Unix, {"BIG5"}}, {O::Mac, {"BIG5"}}}},
        {"Korean",
         "CJK",
         {"한국어 문서.hwp", "프로젝트 자료/회의록.doc", "새 폴더", "사진/가족 여행", "연간 보고서.doc",
          "재무제표 2023.xls", "음악/가요 모음.mp3", "계약서 양식.pdf", "이력서.hwp", "제품 설명서.pdf",
          "공부 노트.txt", "고객 명단.xls", "바탕 화면", "시험 성적.xls", "프로그램 설치 방법.txt",
          "서울 지도.jpg"},
         {{O::Dos, {"CP949"}}, {O::Unix, {"EUC-KR"}}, {O::Mac, {"EUC-KR"}}}},
    };
    return corpus;
}

// Names written after the weights were settled, never used to tune them: their accuracy is the honest one.
const std::map<std::string, std::vector<std::string>>& HeldOut() {
    static const std::map<std::string, std::vector<std::string>> names = {
        {"Russian",
         {"Сканы паспорта", "Видео/Свадьба Оли.avi", "Шаблоны писем.doc", "Таблица расходов.xls",
          "Чертежи/Гараж.dwg", "Журнал посещений.txt", "Объявление.doc", "Лекции по физике.pdf"}},
        {"Ukrainian",
         {"Сканування паспорта", "Відео/Весілля.avi", "Шаблони листів.doc", "Таблиця витрат.xls",
          "Креслення/Гараж.dwg", "Журнал відвідувань.txt", "Оголошення.doc", "Лекції з фізики.pdf"}},
        {"Bulgarian",
         {"Сканирани документи", "Видео/Сватба.avi", "Шаблони на писма.doc", "Таблица с разходи.xls",
          "Чертежи/Гараж.dwg", "Дневник.txt", "Обява за работа.doc", "Лекции по физика.pdf"}},
        {"German",
         {"Kostenvoranschlag Küche.pdf", "Urlaubsfotos/Südtirol", "Mietvertrag Wohnung München.pdf",
          "Zeugnisse/Abschlussprüfung.pdf", "Gesundheitsamt Bescheinigung.pdf",
          "Einkaufsliste für Samstag.txt", "Hörbücher/Märchen.mp3", "Versicherungsunterlagen.doc"}},
        {"French",
         {"Devis cuisine équipée.pdf", "Vacances/Côte d'Azur", "Bail appartement à Lyon.pdf",
          "Bulletins/Résultats du bac.pdf", "Ordonnance médecin.pdf", "Liste de courses.txt",
          "Livres audio/Contes de fées.mp3", "Attestation d'assurance.doc"}},
        {"Spanish",
         {"Presupuesto cocina.pdf", "Vacaciones/Málaga", "Contrato de alquiler en Córdoba.pdf",
          "Notas/Exámenes finales.pdf", "Receta médica.pdf", "Lista de la compra.txt",
          "Audiolibros/Cuentos para niños.mp3", "Póliza del seguro.doc"}},
        {"Portuguese",
         {"Orçamento cozinha.pdf", "Férias/Açores", "Contrato de arrendamento.pdf",
          "Notas/Exames de admissão.pdf", "Receita médica.pdf", "Lista de compras do mês.txt",
          "Audiolivros/Histórias infantis.mp3", "Apólice de seguro.doc"}},
        {"Swedish",
         {"Offert kök.pdf", "Semester/Skåne", "Hyresavtal lägenhet.pdf", "Betyg/Slutprov.pdf",
          "Läkarintyg.pdf", "Att göra i helgen.txt", "Ljudböcker/Sagor för barn.mp3", "Försäkringsbrev.doc"}},
        {"Polish",
         {"Kosztorys remontu łazienki.pdf", "Wakacje/Zakopane zimą", "Umowa sprzedaży samochodu.pdf",
          "Oceny/Egzamin końcowy.pdf", "Zaświadczenie o zarobkach.pdf", "Lista zakupów.txt",
          "Audiobooki/Bajki dla dzieci.mp3", "Książka kucharska.pdf"}},
        {"Czech",
         {"Rozpočet kuchyně.pdf", "Dovolená/Šumava", "Kupní smlouva auta.pdf", "Známky/Závěrečná zkouška.pdf",
          "Lékařská zpráva.pdf", "Nákupní seznam.txt", "Audioknihy/Pohádky pro děti.mp3",
          "Pojistná smlouva.doc"}},
        {"Hungarian",
         {"Konyha árajánlat.pdf", "Nyaralás/Balaton", "Adásvételi szerződés autó.pdf",
          "Jegyek/Záróvizsga eredmények.pdf", "Orvosi lelet.pdf", "Bevásárlólista.txt",
          "Hangoskönyvek/Mesék gyerekeknek.mp3", "Biztosítási kötvény.doc"}},
        {"Greek",
         {"Προσφορά κουζίνας.pdf", "Διακοπές/Κρήτη", "Συμβόλαιο αγοράς αυτοκινήτου.pdf",
          "Βαθμοί/Τελικές εξετάσεις.pdf", "Ιατρική γνωμάτευση.pdf", "Λίστα για ψώνια.txt",
          "Ηχητικά βιβλία/Παραμύθια.mp3", "Ασφαλιστήριο.doc"}},
        {"Turkish",
         {"Mutfak teklifi.pdf", "Tatil/Kapadokya gezisi", "Araba satış sözleşmesi.pdf",
          "Notlar/Final sınavı sonuçları.pdf", "Doktor raporu.pdf", "Alışveriş listesi.txt",
          "Sesli kitaplar/Çocuk masalları.mp3", "Sigorta poliçesi.doc"}},
        {"Hebrew",
         {"הצעת מחיר למטבח.pdf", "חופשה/אילת", "חוזה מכירת רכב.pdf", "ציונים/מבחן סופי.pdf",
          "אישור רפואי.pdf", "רשימת קניות.txt", "ספרי שמע/סיפורים לילדים.mp3", "פוליסת ביטוח.doc"}},
        {"Japanese",
         {"見積もり_キッチン.pdf", "旅行/北海道の写真", "自動車売買契約書.pdf", "成績/期末試験の結果.pdf",
          "診断書.pdf", "買い物リスト.txt", "オーディオブック/昔話.mp3", "保険証券.doc"}},
        {"Chinese (Simplified)",
         {"厨房报价.pdf", "旅行/云南风景", "汽车买卖合同.pdf", "成绩/期末考试结果.pdf", "医院诊断证明.pdf",
          "购物清单.txt", "有声书/儿童故事.mp3", "保险单.doc"}},
        {"Chinese (Traditional)",
         {"廚房報價.pdf", "旅行/花蓮風景", "汽車買賣合約.pdf", "成績/期末考試結果.pdf", "醫院診斷證明.pdf",
          "購物清單.txt", "有聲書/兒童故事.mp3", "保險單.doc"}},
        {"Korean",
         {"주방 견적서.pdf", "여행/제주도 사진", "자동차 매매 계약서.pdf", "성적/기말고사 결과.pdf",
          "진단서.pdf", "장보기 목록.txt", "오디오북/동화 모음.mp3", "보험 증권.doc"}},
    };
    return names;
}

const char* OriginName(NameOrigin o) {
    switch (o) {
        case NameOrigin::Dos:
            return "Dos";
        case NameOrigin::Unix:
            return "Unix";
        case NameOrigin::Mac:
            return "Mac";
        default:
            return "Utf8";
    }
}

struct Tally {
    int right = 0, total = 0;
    void Count(bool ok) {
        right += ok;
        ++total;
    }
    double Rate() const { return total ? 100.0 * right / total : 100.0; }
};

using GroupRates = std::map<std::string, std::array<Tally, 3>>;

// Runs the corpus (or its held-out names), prints the table and returns the rates per group.
GroupRates MeasureCorpus(bool heldOut, const char* title) {
    // Archives of 1, 3 and 20 names, drawn from the language's names (each non-ASCII one alone for size 1;
    // the larger archives also hold the ASCII names, as real ones do); a decision is right when every name
    // decodes back to the original.
    const size_t sizes[] = {1, 3, 20};
    std::map<std::string, std::array<Tally, 3>> groups;
    std::map<std::string, std::array<Tally, 3>> languages;
    std::map<std::string, Tally> fewLetters,
        manyLetters;  // single names by their number of non-ASCII characters
    std::vector<std::string> failures;
    std::mt19937 rng(1234);
    for (const Language& lang : Corpus()) {
        for (const auto& [origin, pages] : lang.pages) {
            for (const std::string& page : pages) {
                std::vector<std::string> originals, raws;
                std::vector<size_t> legacy;  // the names that are not pure ASCII
                for (const std::string& n : heldOut ? HeldOut().at(lang.name) : lang.names) {
                    const std::string raw = Encode(n, page);
                    if (raw.empty()) continue;  // the page cannot write this name
                    // A Unix or Mac name that happens to be valid UTF-8 is read as UTF-8 by rule: left out.
                    const bool ascii = raw == n;
                    if (origin != NameOrigin::Dos && !ascii && platform::IsValidUtf8(raw)) continue;
                    if (!ascii) legacy.push_back(originals.size());
                    originals.push_back(n);
                    raws.push_back(raw);
                }
                EXPECT_GE(legacy.size(), heldOut ? 4u : 10u) << lang.name << " " << page;
                if (originals.empty()) continue;
                for (size_t si = 0; si < 3; ++si) {
                    const size_t k = sizes[si];
                    const size_t trials = k == 1 ? legacy.size() : 12;  // one name: the non-ASCII ones
                    for (size_t t = 0; t < trials; ++t) {
                        std::vector<size_t> idx;
                        if (k == 1) {
                            idx = {legacy[t]};
                        } else {
                            std::vector<size_t> all(originals.size());
                            for (size_t i = 0; i < all.size(); ++i)
                                all[i] = i;
                            std::shuffle(all.begin(), all.end(), rng);
                            while (all.size() < k)
                                all.push_back(all[all.size() % originals.size()]);
                            idx.assign(all.begin(), all.begin() + static_cast<ptrdiff_t>(k));
                        }
                        NameCoding nc;
                        for (size_t i : idx)
                            nc.Add(raws[i], origin);
                        nc.Decide();
                        bool ok = true;
                        for (size_t i : idx)
                            ok &= nc.Decode(raws[i], origin) == originals[i];
                        groups[lang.group][si].Count(ok);
                        if (k == 1) {
                            size_t chars = 0;  // non-ASCII characters of the name
                            for (unsigned char c : originals[idx[0]])
                                chars += c >= 0xC0;
                            (chars <= 2 ? fewLetters : manyLetters)[lang.group].Count(ok);
                        }
                        languages[lang.name][si].Count(ok);
                        if (!ok && k > 1 && failures.size() < 200) {
                            std::string f = std::string(lang.name) + " " + OriginName(origin) + " " + page +
                                            " x" + std::to_string(k) + " -> " + nc.CodePage(origin) + ":";
                            for (size_t n = 0; n < idx.size() && n < 3; ++n)
                                f += " \"" + originals[idx[n]] + "\"";
                            failures.push_back(f);
                        }
                    }
                }
            }
        }
    }
    std::printf("\n%s: %% of archives whose every name decodes right\n", title);
    std::printf("%-24s %8s %8s %8s\n", "language", "1 name", "3 names", "20 names");
    for (const auto& [name, t] : languages)
        std::printf("%-24s %7.1f%% %7.1f%% %7.1f%%   (%d/%d/%d archives)\n", name.c_str(), t[0].Rate(),
                    t[1].Rate(), t[2].Rate(), t[0].total, t[1].total, t[2].total);
    std::printf("%-24s\n", "-- groups --");
    for (const auto& [name, t] : groups)
        std::printf("%-24s %7.1f%% %7.1f%% %7.1f%%\n", name.c_str(), t[0].Rate(), t[1].Rate(), t[2].Rate());
    std::printf("single names by non-ASCII characters:   1-2          3 or more\n");
    for (const auto& [name, t] : groups) {
        const Tally& few = fewLetters[name];
        const Tally& many = manyLetters[name];
        const auto cell = [](const Tally& tally) {
            char buf[32];
            if (tally.total == 0) return std::string("      -      ");
            std::snprintf(buf, sizeof buf, "%7.1f%% (%3d)", tally.Rate(), tally.total);
            return std::string(buf);
        };
        std::printf("%-24s %s %s\n", name.c_str(), cell(few).c_str(), cell(many).c_str());
    }
    for (const std::string& f : failures)
        std::printf("  wrong: %s\n", f.c_str());

    return groups;
}

TEST(NamesCorpus, AccuracyPerLanguageGroupAndArchiveSize) {
    const GroupRates groups = MeasureCorpus(false, "Name decoding accuracy, corpus");
    // Floors this implementation reaches, with a little room. One name is measured, not promised, beyond a
    // modest floor: a name with one or two non-ASCII letters is ambiguous between pages.
    const size_t sizes[] = {1, 3, 20};
    const std::map<std::string, std::array<double, 3>> floors = {
        {"CJK", {95, 97, 98}},     {"Cyrillic", {95, 97, 98}}, {"Western", {92, 97, 98}},
        {"Central", {85, 95, 98}}, {"Greek", {95, 97, 98}},    {"Turkish", {70, 95, 98}},
        {"Hebrew", {95, 97, 98}},
    };
    for (const auto& [name, f] : floors)
        for (size_t si = 0; si < 3; ++si)
            EXPECT_GE(groups.at(name)[si].Rate(), f[si]) << name << " archives of " << sizes[si] << " names";
}

TEST(NamesCorpus, HeldOutNames) {
    // The same measurement on names the weights were never tuned on; floors are set lower, below what it
    // reaches, so that the number printed is the one to quote.
    const GroupRates groups = MeasureCorpus(true, "Name decoding accuracy, held-out names");
    for (const auto& [name, t] : groups) {
        EXPECT_GE(t[1].Rate(), 85) << name << " archives of 3 names";
        EXPECT_GE(t[2].Rate(), 90) << name << " archives of 20 names";
    }
}

}  // namespace
}  // namespace varnok
