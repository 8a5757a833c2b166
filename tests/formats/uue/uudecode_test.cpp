// TUUDecode: text from sharutils' uuencode (UU and Base64), XXE and MIME text made here (with and without
// a table, several files, our writer's volumes and size lines), damage and truncation, hostile names, and
// the fixtures (uuenview parts among them).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/core/lister.h"
#include "archive/formats/uue/uudecode.h"
#include "archive/extractors.h"
#include "tests/formats/gzip_tar/codec_test_util.h"
#include "tests/support/extractor_run.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using Map = std::map<std::string, std::string>;

const std::string kUu = [] {
    std::string s(1, '`');
    for (char c = 0x21; c <= 0x5F; ++c)
        s += c;
    return s;
}();
const std::string kXx = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const std::string kB64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encoded lines of data in a UU-style alphabet: a length character, then four characters per three bytes;
// a last line of length 0.
std::vector<std::string> LinesOf(const std::string& data, const std::string& alphabet) {
    std::vector<std::string> lines;
    for (size_t at = 0; at <= data.size(); at += 45) {
        size_t n = std::min<size_t>(45, data.size() - at);
        std::string line(1, alphabet[n]);
        for (size_t g = 0; g < n; g += 3) {
            uint8_t b[3] = {};
            for (size_t k = 0; k < 3 && g + k < n; ++k)
                b[k] = static_cast<uint8_t>(data[at + g + k]);
            line += alphabet[b[0] >> 2];
            line += alphabet[((b[0] & 3) << 4) | (b[1] >> 4)];
            line += alphabet[((b[1] & 15) << 2) | (b[2] >> 6)];
            line += alphabet[b[2] & 63];
        }
        lines.push_back(line);
        if (n == 0) break;
    }
    return lines;
}

std::vector<std::string> Base64Lines(const std::string& data) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t g = 0; g < data.size(); g += 3) {
        uint32_t v = 0;
        size_t k = std::min<size_t>(3, data.size() - g);
        for (size_t i = 0; i < 3; ++i)
            v = (v << 8) | (i < k ? static_cast<uint8_t>(data[g + i]) : 0);
        for (size_t i = 0; i < 4; ++i)
            line += i <= k ? kB64[(v >> (18 - 6 * i)) & 63] : '=';
        if (line.size() == 76) lines.push_back(std::move(line)), line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string Join(const std::vector<std::string>& lines, const char* eol = "\n") {
    std::string s;
    for (const auto& l : lines)
        s += l + eol;
    return s;
}

std::string Uue(const std::string& name, const std::string& data, const std::string& alphabet = kUu,
                const char* eol = "\n") {
    return "begin 644 " + name + eol + Join(LinesOf(data, alphabet), eol) + "end" + eol;
}

std::string Sample(size_t n, uint32_t seed) {
    return test::Str(test::SampleRandom(n, seed));
}

class UuDecode : public ::testing::Test {
  protected:
    fs::path Write(const std::string& text, const std::string& name = "t.uue") {
        fs::path p = tmp_ / name;
        test::WriteFile(p, text);
        return p;
    }
    test::Outcome Run(const fs::path& text, const fs::path& out = {},
                      const std::function<void(TUnBase&)>& setup = {}) {
        TUUDecode x;
        return test::RunExtractor(x, text, out, setup);
    }
    fs::path Out() const { return tmp_ / "out"; }
    test::TempDir tmp_;
};

TEST_F(UuDecode, SharutilsUuencodeBothEncodings) {
    VARNOK_REQUIRE_TOOL("uuencode");
    for (size_t size : {0u, 1u, 2u, 44u, 45u, 46u, 1000u, 100000u}) {
        std::string data = Sample(size, static_cast<uint32_t>(size));
        fs::path src = tmp_ / "payload.bin";
        test::WriteFile(src, data);
        chmod(src.c_str(), 0750);
        for (const char* option : {"", "-m"}) {
            fs::path text = tmp_ / "p.uue";
            ASSERT_EQ(test::Run(std::string("uuencode ") + option + " " + test::Quote(src) + " name.bin > " +
                                test::Quote(text)),
                      0);
            fs::path out = tmp_ / ("out" + std::to_string(size) + option);
            auto o = Run(text, out);
            EXPECT_EQ(o.failed, 0) << size << option << (o.messages.empty() ? "" : o.messages.front());
            EXPECT_EQ(test::FilesUnder(out), (Map{{"name.bin", data}})) << size << option;
            struct stat st;
            ASSERT_EQ(stat((out / "name.bin").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0750u);
        }
    }
}

TEST_F(UuDecode, AlphabetsFoundFromTheText) {
    std::string big = Sample(5000, 1), small = "under one line";
    // The alphabet found from the first data line: full "h" lines, or a short one with lower-case letters.
    auto o = Run(Write(Uue("big.arj", big, kXx) + "\n" + Uue("small.txt", small, kXx), "x.xxe"), Out());
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(Out()), (Map{{"big.arj", big}, {"small.txt", small}}));
    // A table given in the text: any 64 characters.
    std::string shuffled = kXx.substr(32) + kXx.substr(0, 32);
    std::string text = "table\n" + shuffled.substr(0, 32) + "\n" + shuffled.substr(32) + "\n" +
                       Uue("tabled.bin", big, shuffled);
    auto t = Run(Write(text, "t.xxe"), tmp_ / "t");
    EXPECT_EQ(t.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "t"), (Map{{"tabled.bin", big}}));

    // UU text whose first line is not full (a file under 45 bytes), with CR LF line ends, and the old
    // encoders' space in place of the grave accent.
    std::string spaces = Uue("zeros", std::string(30, '\0'));
    for (char& c : spaces)
        if (c == '`') c = ' ';
    auto u = Run(Write(Uue("tiny", "A", kUu, "\r\n") + spaces, "u.uue"), tmp_ / "u");
    EXPECT_EQ(u.failed, 0);
    EXPECT_EQ(test::FilesUnder(tmp_ / "u"), (Map{{"tiny", "A"}, {"zeros", std::string(30, '\0')}}));
}

TEST_F(UuDecode, EveryFileOfATextIsDecodedAndSelectable) {
    std::string mail = "From: someone\nSubject: files\n\nHere they are.\n\n" +
                       Uue("one.txt", "first file\n") + "\nand the second:\n\n" +
                       Uue("docs/two.txt", Sample(300, 2)) + "\n-- \nsignature\n";
    auto o = Run(Write(mail, "mail.txt"), Out());
    EXPECT_EQ(o.result, 2);
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(Out()), (Map{{"one.txt", "first file\n"}, {"docs/two.txt", Sample(300, 2)}}));
    auto s = Run(Write(mail, "mail.txt"), tmp_ / "sel", [](TUnBase& b) { b.FileSpec = {"docs/*.txt"}; });
    EXPECT_EQ(test::FilesUnder(tmp_ / "sel"), (Map{{"docs/two.txt", Sample(300, 2)}}));
}

TEST_F(UuDecode, TheListingShowsEveryFileTheDecoderWrites) {
    // A harmless first file and more behind it, the last one after a megabyte of text (past the lister's
    // reading window) and in a MIME part: the listing must not hide any of them.
    std::string pdf = Sample(3000, 7);
    std::string mail = "From: someone\n\n" + Uue("readme.txt", "read me\n") + "\nmore:\n" +
                       Uue("docs/run.sh", "#!/bin/sh\n") + std::string(1200000, 'x') + "\n\n" +

                       "begin-base64 644 b64.bin\n" + Join(Base64Lines("base64 data")) + "====\n" +
                       "Content-Type: application/pdf\nContent-Transfer-Encoding: base64\n"
                       "Content-Disposition: attachment; filename=\"late.pdf\"\n\n" +
                       Join(Base64Lines(pdf)) + "\n";
    fs::path text = Write(mail, "mail.txt");
    TArcLister l;
    l.SetArchiveFile(text);
    l.FileSpec = {"*.*"};
    std::vector<std::string> listed;
    std::vector<uint64_t> sizes;
    l.OnRead = [&](TZipCommon&, uint64_t, int) {
        listed.push_back(l.Entry().EntryName);
        sizes.push_back(l.Entry().UnpackedSize);
    };
    ASSERT_TRUE(l.ReadArchive());
    EXPECT_EQ(listed, (std::vector<std::string>{"readme.txt", "docs/run.sh", "b64.bin", "late.pdf"}));
    EXPECT_EQ(sizes, (std::vector<uint64_t>{8, 10, 11, 3000}));
    auto o = Run(text, Out());
    EXPECT_EQ(o.failed, 0);
    std::vector<std::string> written;
    for (const auto& [name, data] : test::FilesUnder(Out()))
        written.push_back(name);
    std::vector<std::string> sorted = listed;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(written, sorted);
}

TEST_F(UuDecode, TruncationAndDamageFail) {
    std::string data = Sample(2000, 3);
    auto lines = LinesOf(data, kUu);
    struct Case {
        const char* what;
        std::string text;
        int code;
    };
    std::vector<std::string> cut(lines.begin(), lines.begin() + 10);
    std::vector<std::string> bad = lines;
    bad[3][7] = 'a';  // outside the UU alphabet
    std::vector<std::string> shortLine = lines;
    shortLine[5].resize(30);
    std::vector<Case> cases = {
        {"no end line", "begin 644 f\n" + Join(cut), E_EolNotFound},
        {"bad character", "begin 644 f\n" + Join(bad) + "end\n", E_SkippedIllegalChar},
        {"short line", "begin 644 f\n" + Join(shortLine) + "end\n", E_UnexpectedEol},
        {"size line disagrees", "begin 644 f\n" + Join(lines) + "end\n1999 bytes\n", E_FileSizeDifferent},
        {"size before begin disagrees", "size 2001\nbegin 644 f\n" + Join(lines) + "end\n",
         E_FileSizeDifferent},
        {"base64 without ====", "begin-base64 644 f\n" + Join(Base64Lines(data)), E_EolNotFound},
    };
    for (const auto& c : cases) {
        auto o = Run(Write(c.text, "bad.txt"));
        EXPECT_TRUE(o.FailedEntry("f")) << c.what;
        EXPECT_TRUE(o.HasCode(c.code)) << c.what;
    }
    // The same text whole, with a size line that agrees, passes.
    auto good = Run(Write("begin 644 f\n" + Join(lines) + "end\n2000 bytes\n", "good.txt"));
    EXPECT_TRUE(good.Passed("f"));
    // A text taken for encoded text whose "begin" line is not one.
    auto none = Run(Write("A note before it.\nbegin 6\nM\nend\n", "none.txt"));
    EXPECT_TRUE(none.HasCode(E_NoBeginLine));
    EXPECT_EQ(none.failed, 1);
}

// Text split the way the encoder writes volumes: "part N" and the begin line again in each further file,
// "end" and the size in the last.
std::vector<std::string> Volumes(const std::string& name, const std::string& data, size_t linesPerVolume,
                                 bool base64) {
    auto lines = base64 ? Base64Lines(data) : LinesOf(data, kUu);
    std::vector<std::string> vols;
    std::string head =
        base64 ? "B64Encode 3.51 (encoder)\r\n\r\nContent-Type: application/octet-stream; name=\"" + name +
                     "\";\r\nContent-Transfer-Encoding: base64\r\n"
                     "Content-Disposition: attachment; filename=\"" +
                     name + "\"\r\n\r\n"
               : "UUEncode 3.51 (encoder)\r\n\r\nbegin 644 " + name + "\r\n";
    std::string cur = head;
    size_t count = 0;
    for (const auto& l : lines) {
        if (count == linesPerVolume) {
            vols.push_back(cur);
            cur = "part " + std::to_string(vols.size()) + "\r\nbegin 644 " + name + "\r\n";
            count = 0;
        }
        cur += l + "\r\n";
        ++count;
    }
    if (base64) cur += "\r\n";
    cur += "end\r\n" + std::to_string(data.size()) + " bytes\r\nencoded into " +
           std::to_string(vols.size() + 1) + " file(s)\r\n";
    vols.push_back(cur);
    return vols;
}

TEST_F(UuDecode, VolumesAsTheEncoderNamesThem) {
    TUUDecode x;
    EXPECT_EQ(x.VolumeFileNameFor("/d/name.uue", 1), "/d/name.uu1");
    EXPECT_EQ(x.VolumeFileNameFor("/d/name.uue", 9), "/d/name.uu9");
    EXPECT_EQ(x.VolumeFileNameFor("/d/name.uue", 10), "/d/name.u10");
    EXPECT_EQ(x.VolumeFileNameFor("/d/name.uue", 99), "/d/name.u99");
    EXPECT_EQ(x.VolumeFileNameFor("/d/name.uue", 100), "/d/name.100");
    EXPECT_EQ(x.VolumeFileNameFor("/d/name.mim", 2), "/d/name.mi2");
    EXPECT_EQ(x.VolumeFileNameFor("/d/noext", 3), "/d/noext3");
    EXPECT_EQ(x.VolumeFileNameFor("/d/parts.001", 1), "/d/parts.002");
    EXPECT_EQ(x.VolumeFileNameFor("/d/parts.009", 2), "/d/parts.011");
    x.NextVolumeName = nvChangeFilename;
    EXPECT_EQ(x.VolumeFileNameFor("/d/data0.uue", 1), "/d/data1.uue");
    EXPECT_EQ(x.VolumeFileNameFor("/d/data0.uue", 12), "/d/dat12.uue");
    x.SetVolumeStartNum(25);
    EXPECT_EQ(x.VolumeStartNum(), 10);

    std::string data = Sample(45 * 30 + 7, 4);
    for (bool base64 : {false, true}) {
        auto vols = Volumes("data.arj", data, 8, base64);
        ASSERT_GE(vols.size(), 3u);
        fs::path dir = tmp_ / (base64 ? "b64" : "uu");
        fs::create_directories(dir);
        std::string ext = base64 ? ".mim" : ".uue";
        TUUDecode namer;
        for (size_t i = 0; i < vols.size(); ++i)
            test::WriteFile(i == 0 ? dir / ("data" + ext)
                                   : fs::path(namer.VolumeFileNameFor((dir / ("data" + ext)).string(),
                                                                      static_cast<int>(i))),
                            vols[i]);
        ASSERT_TRUE(fs::exists(dir / ("data" + ext.substr(0, 3) + "2")));
        std::vector<std::string> asked;
        auto o = Run(dir / ("data" + ext), dir / "out", [&](TUnBase& b) {
            b.OnNextVolume = [&](TZipCommon&, std::string& name, const std::string&, bool exists,
                                 bool& cancel) {
                asked.push_back(fs::path(name).filename().string());
                cancel = !exists;
            };
        });
        EXPECT_EQ(o.failed, 0) << base64;
        EXPECT_EQ(test::FilesUnder(dir / "out"), (Map{{"data.arj", data}})) << base64;
        EXPECT_EQ(asked.size(), vols.size() - 1);
        // The last volume missing: asked for by name, and the file fails.
        fs::remove(fs::path(
            namer.VolumeFileNameFor((dir / ("data" + ext)).string(), static_cast<int>(vols.size() - 1))));
        asked.clear();
        auto m = Run(dir / ("data" + ext), dir / "missing", [&](TUnBase& b) {
            b.OnNextVolume = [&](TZipCommon&, std::string& name, const std::string&, bool exists,
                                 bool& cancel) {
                asked.push_back(fs::path(name).filename().string());
                cancel = !exists;
            };
        });
        EXPECT_EQ(m.failed, 1) << base64;
        EXPECT_EQ(asked.back(), "data" + ext.substr(0, 3) + std::to_string(vols.size() - 1));
    }
}

TEST_F(UuDecode, MimeAttachments) {
    std::string pdf = Sample(4000, 5), note = "plain note\n";
    std::string mail =
        "From: a@b\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n--XX\n"
        "Content-Type: text/plain\n\nThe body.\n\n--XX\n"
        "Content-Type: application/pdf;\n name=\"ignored.pdf\"\nContent-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment;\n filename=\"report.pdf\"\n\n" +
        Join(Base64Lines(pdf)) + "--XX\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n" +
        "Content-Disposition: attachment; filename*=UTF-8''n%C3%B6te.txt\n\n" + Join(Base64Lines(note)) +
        "\n--XX--\n";
    auto o = Run(Write(mail, "mail.eml"), Out());
    EXPECT_EQ(o.failed, 0);
    EXPECT_EQ(test::FilesUnder(Out()), (Map{{"report.pdf", pdf}, {"n\xC3\xB6te.txt", note}}));
}

TEST_F(UuDecode, HostileNamesStayInside) {
    fs::path out = tmp_ / "deep" / "out";
    auto o = Run(Write(Uue("../../evil", "up") + Uue("/abs/file", "rooted") + Uue("fine", "ok")), out);
    EXPECT_TRUE(o.HasCode(E_InvalidFileName));
    EXPECT_EQ(test::FilesUnder(tmp_ / "deep"), (Map{{"out/abs/file", "rooted"}, {"out/fine", "ok"}}));
}

TEST_F(UuDecode, HugeLinesAndTextWithoutLineEnds) {
    std::string huge = "begin 644 f\nM" + std::string(200000, 'A') + "\nend\n";
    auto o = Run(Write(huge), Out());
    EXPECT_TRUE(o.FailedEntry("f"));
    auto n = Run(Write("begin 644 g\n" + std::string(300000, 'M'), "flat.uue"));
    EXPECT_TRUE(n.FailedEntry("g"));
}

TEST(UuDecodeFixtures, DecodeLikeThePeers) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    for (const char* rel :
         {"uue/libarchive_lha_header0.lzh.uu", "uue/libarchive_cab_1.cab.uu",
          "uue/libarchive_uudecode_raw.uu", "uue/generated_method4.arj.xxe", "uue/generated_lh7_long.lzh.xxe",
          "uue/generated_lh7_long.lzh.uue", "uue/multipart_uuenview/lh7_long.001"}) {
        auto path = test::Fixture(rel);
        if (path.empty()) continue;
        test::TempDir tmp;
        auto x = CreateExtractor(atUue);
        auto o = test::RunExtractor(*x, path, tmp.Path());
        EXPECT_EQ(o.failed, 0) << rel;
        for (const auto& row : test::ExpectedFor(rel))
            EXPECT_EQ(test::Sha256Hex(test::ReadFile(tmp.Path() / row.entry)), row.sha256) << rel;
    }
}

}  // namespace
}  // namespace varnok
