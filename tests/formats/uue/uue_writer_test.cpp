// TUUEncode: what it writes must come back byte for byte through our decoder and through the peers (sharutils
// uudecode, base64 -d, Python's mail parser), also when split into volumes; and a run that fails, is
// cancelled or is refused leaves no text behind and no existing file damaged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>

#include "archive/core/errors.h"
#include "archive/formats/uue/uudecode.h"
#include "archive/formats/uue/uue_writer.h"
#include "tests/support/extractor_run.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using Map = std::map<std::string, std::string>;

struct Encoded {
    int added = 0;
    bool failed = false;
    std::vector<int> codes;
    std::map<std::string, bool> ends;
};

std::string Bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string AllByteValues(int repeat) {
    std::string s;
    for (int r = 0; r < repeat; ++r)
        for (int b = 0; b < 256; ++b)
            s += static_cast<char>(b);
    return s;
}

Encoded Encode(const fs::path& in, const fs::path& out, TCompressMethod m, uint64_t volumeSize = 0,
               const std::function<void(TUUEncode&)>& setup = {}) {
    TUUEncode w;
    Encoded r;
    w.SetCompressMethod(m);
    w.SetArchiveFile(in.string());
    w.SetOutFilename(out.string());
    w.VolumeSize = volumeSize;
    w.OnError = [&r](TZipCommon&, const std::string&, const std::string&, const std::string&, int code) {
        r.codes.push_back(code);
    };
    w.OnEnd = [&r](TZipCommon&, const std::string& name, bool pass) { r.ends[name] = pass; };
    if (setup) setup(w);
    r.added = w.CompressArchive();
    r.failed = w.Failed();
    return r;
}

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir))
        v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> v;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find("\r\n", at);
        if (nl == std::string::npos) nl = text.size();
        v.push_back(text.substr(at, nl - at));
        at = nl + 2;
    }
    return v;
}

class UuEncode : public ::testing::Test {
  protected:
    fs::path Input(const std::string& name, const std::string& data, mode_t mode = 0644) {
        fs::path p = tmp_ / "in" / name;
        test::WriteFile(p, data);
        chmod(p.c_str(), mode);
        return p;
    }
    // Decodes text with our decoder into a fresh folder; what it wrote.
    Map Decode(const fs::path& text, int* failed = nullptr) {
        fs::path out = tmp_ / ("dec" + std::to_string(++decodes_));
        TUUDecode x;
        test::Outcome o = test::RunExtractor(x, text, out);
        if (failed) *failed = o.failed + static_cast<int>(o.codes.size());
        EXPECT_TRUE(o.codes.empty()) << text << ": " << (o.messages.empty() ? "" : o.messages.front());
        return test::FilesUnder(out);
    }
    fs::path Dir(const std::string& name) {
        fs::create_directories(tmp_ / name);
        return tmp_ / name;
    }
    test::TempDir tmp_;
    int decodes_ = 0;
};

constexpr TCompressMethod kMethods[] = {cmUUEncode, cmXXEncode, cmBase64};
const char* const kExts[] = {".uue", ".xxe", ".mim"};

TEST_F(UuEncode, EveryMethodRoundTripsThroughOurDecoderAtLineBoundaries) {
    // Sizes around the line lengths (45 and 57 bytes), a multiple of both, and every byte value.
    std::vector<std::pair<std::string, std::string>> inputs;
    for (size_t n : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 56u, 57u, 58u, 2565u, 5130u, 100001u})
        inputs.emplace_back("f" + std::to_string(n) + ".bin", Bytes(n, static_cast<uint32_t>(n)));
    inputs.emplace_back("all bytes \xC3\xA9t\xC3\xA9.arj", AllByteValues(5));
    for (size_t k = 0; k < 3; ++k) {
        for (const auto& [name, data] : inputs) {
            fs::path in = Input(name, data, 0640);
            fs::path text = Dir("t") / (name + kExts[k]);
            Encoded e = Encode(in, text, kMethods[k]);
            ASSERT_EQ(e.added, 1) << name << kExts[k];
            ASSERT_FALSE(e.failed);
            EXPECT_EQ(Decode(text), (Map{{name, data}})) << name << kExts[k];
        }
    }
}

TEST_F(UuEncode, VolumesStayUnderTheLimitAndReadBackAsOneFile) {
    const std::string data = AllByteValues(40);  // 10,240 bytes: about 14 KB of UUE text
    fs::path in = Input("payload.tar", data);
    for (size_t k = 0; k < 3; ++k) {
        // Several limits, so that the last data line falls at every place of a volume; 500 bytes give more
        // than ten volumes (name.u10 and on).
        for (uint64_t limit : {500u, 1000u, 1001u, 1040u, 1063u, 1100u, 4096u}) {
            fs::path dir = Dir("v" + std::to_string(k) + "_" + std::to_string(limit));
            fs::path text = dir / (std::string("set") + kExts[k]);
            Encoded e = Encode(in, text, kMethods[k], limit);
            ASSERT_EQ(e.added, 1) << kExts[k] << limit;
            std::vector<std::string> names = Names(dir);
            ASSERT_GT(names.size(), 1u) << limit;
            for (int i = 0; i < static_cast<int>(names.size()); ++i) {
                fs::path v = TUUEncode::VolumeFileName(text.string(), i);
                ASSERT_TRUE(fs::exists(v)) << v;
                EXPECT_LE(fs::file_size(v), limit) << v;
            }
            EXPECT_EQ(Decode(text), (Map{{"payload.tar", data}})) << kExts[k] << limit;
        }
    }
    // The names our decoder looks for: three characters of extension, and numbered parts counting on.
    EXPECT_EQ(TUUEncode::VolumeFileName("d/set.uue", 1), "d/set.uu1");
    EXPECT_EQ(TUUEncode::VolumeFileName("d/set.uue", 10), "d/set.u10");
    EXPECT_EQ(TUUEncode::VolumeFileName("d/set.uue", 100), "d/set.100");
    fs::path numbered = Dir("numbered") / "part.001";
    ASSERT_EQ(Encode(in, numbered, cmXXEncode, 2000).added, 1);
    EXPECT_TRUE(fs::exists(Dir("numbered") / "part.002"));
    EXPECT_EQ(Decode(numbered), (Map{{"payload.tar", data}}));
}

TEST_F(UuEncode, VolumeNamesThatWouldOverwriteAnEarlierVolumeAreRefused) {
    // x.mp3's fourth volume would be x.mp3 again.
    fs::path in = Input("big.bin", Bytes(20000, 7));
    fs::path dir = Dir("clash");
    Encoded e = Encode(in, dir / "x.mp3", cmUUEncode, 1000);
    EXPECT_TRUE(e.failed);
    EXPECT_EQ(e.added, 0);
    EXPECT_NE(std::find(e.codes.begin(), e.codes.end(), E_InvalidFileName), e.codes.end());
    EXPECT_TRUE(Names(dir).empty());
}

TEST_F(UuEncode, SharutilsUudecodeReadsOurTextWithNameAndMode) {
    VARNOK_REQUIRE_TOOL("uudecode");
    for (const std::string name : {"plain.bin", "with space \xC3\xA4\xC3\xB6.dat"}) {
        for (size_t n : {0u, 1u, 45u, 2565u, 70000u}) {
            const std::string data = n == 2565 ? AllByteValues(10).substr(0, n) : Bytes(n, 3);
            fs::path in = Input(name, data, 0751);
            fs::path text = Dir("peer") / (std::to_string(n) + name + ".uue");
            ASSERT_EQ(Encode(in, text, cmUUEncode).added, 1);
            fs::path out = Dir("peer_out" + std::to_string(n) + name.substr(0, 4));
            ASSERT_EQ(test::Run("cd " + test::Quote(out) + " && uudecode " + test::Quote(text)), 0)
                << name << n;
            EXPECT_EQ(test::FilesUnder(out), (Map{{name, data}})) << name << n;
            struct stat st {};
            ASSERT_EQ(stat((out / name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0751u);
        }
    }
}

TEST_F(UuEncode, MimeTextIsAMailMessagePeersDecode) {
    VARNOK_REQUIRE_TOOL("base64");
    VARNOK_REQUIRE_TOOL("python3");
    for (const std::string name : {"photo.JPG", "quote \" and \xC3\xA9.bin"}) {
        for (size_t n : {0u, 1u, 2u, 57u, 2565u, 50000u}) {
            const std::string data = Bytes(n, 11);
            fs::path in = Input(name, data);
            fs::path text = Dir("mime") / (std::to_string(n) + name + ".mim");
            ASSERT_EQ(Encode(in, text, cmBase64).added, 1);
            // The body alone: base64 -d (which takes LF line ends only).
            std::string whole = test::ReadText(text);
            size_t body = whole.find("\r\n\r\n");
            ASSERT_NE(body, std::string::npos);
            test::WriteFile(tmp_ / "body", whole.substr(body + 4));
            ASSERT_EQ(test::Run("tr -d '\\r' < " + test::Quote(tmp_ / "body") + " | base64 -d > " +
                                test::Quote(tmp_ / "b.out")),
                      0);
            EXPECT_EQ(test::ReadText(tmp_ / "b.out"), data) << name << n;
            // The whole text: a mail reader finds the attachment, its name and its bytes.
            std::string script =
                "import email,sys\nfrom email import policy\n"
                "m=email.message_from_bytes(open(sys.argv[1],'rb').read(),policy=policy.default)\n"
                "att=[p for p in m.walk() if p.get_content_disposition()=='attachment']\n"
                "assert len(att)==1 and not m.defects, (att, m.defects)\n"
                "open(sys.argv[2],'wb').write(att[0].get_payload(decode=True))\n"
                "open(sys.argv[3],'wb').write(att[0].get_filename().encode('utf-8'))\n";
            test::WriteFile(tmp_ / "mail.py", script);
            ASSERT_EQ(test::Run("python3 " + test::Quote(tmp_ / "mail.py") + " " + test::Quote(text) + " " +
                                test::Quote(tmp_ / "p.out") + " " + test::Quote(tmp_ / "p.name")),
                      0)
                << name << n;
            EXPECT_EQ(test::ReadText(tmp_ / "p.out"), data) << name << n;
            EXPECT_EQ(test::ReadText(tmp_ / "p.name"), name) << n;
            EXPECT_EQ(Decode(text), (Map{{name, data}})) << name << n;
        }
    }
    // The content type follows the extension.
    fs::path photo = Input("photo.JPG", "x");
    ASSERT_EQ(Encode(photo, tmp_ / "photo.mim", cmBase64).added, 1);
    EXPECT_NE(test::ReadText(tmp_ / "photo.mim").find("Content-Type: image/jpeg; name=\"photo.JPG\""),
              std::string::npos);
}

TEST_F(UuEncode, BeginLineNamesTheInputFileNotTheText) {
    // An input without extension keeps its name; the text's name and extension are not put in its place.
    fs::path in = Input("data", "hello", 0600);
    for (size_t k = 0; k < 3; ++k) {
        fs::path text = Dir("names") / "archive";  // gets the method's extension
        TUUEncode w;
        w.SetCompressMethod(kMethods[k]);
        w.SetArchiveFile(in.string());
        w.SetOutFilename(text.string());
        ASSERT_EQ(w.CompressArchive(), 1);
        EXPECT_EQ(w.ArchiveFile(), in.string());
        const std::string written = test::ReadText(text.string() + kExts[k]);
        if (kMethods[k] == cmBase64)
            EXPECT_NE(written.find("filename=\"data\""), std::string::npos) << written;
        else
            EXPECT_NE(written.find("\r\nbegin 600 data\r\n"), std::string::npos) << written;
    }
}

TEST_F(UuEncode, LinesAsTheFormatHasThem) {
    // 45 bytes: one full line, the empty line of the method, "end" and the size.
    fs::path in45 = Input("x45", std::string(45, 'z'));
    ASSERT_EQ(Encode(in45, tmp_ / "a.uue", cmUUEncode).added, 1);
    std::vector<std::string> l = Lines(test::ReadText(tmp_ / "a.uue"));
    ASSERT_GE(l.size(), 5u);
    EXPECT_EQ(l.back(), "45 bytes");
    EXPECT_EQ(l[l.size() - 2], "end");
    EXPECT_EQ(l[l.size() - 3], "`");
    EXPECT_EQ(l[l.size() - 4].size(), 61u);
    EXPECT_EQ(l[l.size() - 4][0], 'M');
    // One byte "A": zero bits at the end of the group are grave accents in UUE, "=" padding in Base64.
    fs::path a = Input("A.txt", "A");
    ASSERT_EQ(Encode(a, tmp_ / "b.uue", cmUUEncode).added, 1);
    EXPECT_NE(test::ReadText(tmp_ / "b.uue").find("\r\n!00``\r\n`\r\nend\r\n1 bytes\r\n"), std::string::npos);
    ASSERT_EQ(Encode(a, tmp_ / "b.mim", cmBase64).added, 1);
    EXPECT_NE(test::ReadText(tmp_ / "b.mim").find("\r\n\r\nQQ==\r\n\r\n"), std::string::npos);
    // The XXE table lines, read back by our decoder as the alphabet.
    ASSERT_EQ(
        Encode(in45, tmp_ / "t.xxe", cmXXEncode, 0, [](TUUEncode& w) { w.WriteTableToFile = true; }).added,
        1);
    EXPECT_NE(test::ReadText(tmp_ / "t.xxe")
                  .find("table\r\n+-0123456789ABCDEFGHIJKLMNOPQRST\r\nUVWXYZabcdefghijklmnopqrstuvwxyz\r\n"),
              std::string::npos);
    EXPECT_EQ(Decode(tmp_ / "t.xxe"), (Map{{"x45", std::string(45, 'z')}}));
}

TEST_F(UuEncode, RefusedFailedOrCancelledRunsLeaveNoTextAndExistingFilesWhole) {
    fs::path in = Input("src.bin", Bytes(200000, 5));
    fs::path dir = Dir("out");
    const std::string old = "an older file of that name";
    test::WriteFile(dir / "t.uue", old);
    // Nobody to ask: nothing written.
    Encoded asked = Encode(in, dir / "t.uue", cmUUEncode);
    EXPECT_TRUE(asked.failed);
    EXPECT_NE(std::find(asked.codes.begin(), asked.codes.end(), E_EventNotAssigned), asked.codes.end());
    // The user says skip: nothing written, and no error.
    Encoded skipped = Encode(in, dir / "t.uue", cmUUEncode, 0, [](TUUEncode& w) {
        w.OnFileExists = [](TZipCommon&, const std::string&, int64_t, TOverwriteMode& m) { m = omSkip; };
    });
    EXPECT_FALSE(skipped.failed);
    EXPECT_EQ(skipped.added, 0);
    EXPECT_TRUE(skipped.codes.empty());
    // Cancelled while encoding, with the file to be replaced.
    Encoded cancelled = Encode(in, dir / "t.uue", cmUUEncode, 3000, [](TUUEncode& w) {
        w.OnFileExists = [](TZipCommon&, const std::string&, int64_t, TOverwriteMode& m) { m = omOverwrite; };
        w.OnBegin = [](TZipCommon& c, const std::string&, int, bool&) { c.SetCancel(true); };
    });
    EXPECT_TRUE(cancelled.failed);
    EXPECT_EQ(cancelled.ends, (std::map<std::string, bool>{{(dir / "t.uue").string(), false}}));
    // A limit too small for any line, and an input that is missing.
    Encoded tiny = Encode(in, dir / "s.uue", cmBase64, 100);
    EXPECT_TRUE(tiny.failed);
    EXPECT_NE(std::find(tiny.codes.begin(), tiny.codes.end(), E_MaxFileSize), tiny.codes.end());
    Encoded missing = Encode(tmp_ / "nothere", dir / "m.uue", cmUUEncode);
    EXPECT_TRUE(missing.failed);
    EXPECT_NE(std::find(missing.codes.begin(), missing.codes.end(), E_OpenFile), missing.codes.end());
    EXPECT_EQ(missing.ends, (std::map<std::string, bool>{{(dir / "m.uue").string(), false}}));
    // A pipe is refused without waiting for a writer.
    ASSERT_EQ(mkfifo((tmp_ / "pipe").c_str(), 0600), 0);
    Encoded pipe = Encode(tmp_ / "pipe", dir / "p.uue", cmUUEncode);
    EXPECT_TRUE(pipe.failed);
    EXPECT_NE(std::find(pipe.codes.begin(), pipe.codes.end(), E_OpenFile), pipe.codes.end());
    // No temporary or partial file anywhere; the old file as it was.
    EXPECT_EQ(Names(dir), std::vector<std::string>{"t.uue"});
    EXPECT_EQ(test::ReadText(dir / "t.uue"), old);
    // Encoding a file into itself is refused.
    Encoded self = Encode(dir / "t.uue", dir / "t.uue", cmUUEncode, 0, [](TUUEncode& w) {
        w.OnFileExists = [](TZipCommon&, const std::string&, int64_t, TOverwriteMode& m) { m = omOverwrite; };
    });
    EXPECT_TRUE(self.failed);
    EXPECT_EQ(test::ReadText(dir / "t.uue"), old);
}

}  // namespace
}  // namespace varnok
