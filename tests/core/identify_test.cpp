#include <gtest/gtest.h>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/lister.h"
#include "archive/formats/lzh/unlha.h"
#include "tests/support/extractor_run.h"
#include "platform/drive.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::TempDir;

struct Probe {
    TArcLister c;
    std::vector<int> errors;
    Probe() {
        c.OnError = [this](TZipCommon&, const std::string&, const std::string&, const std::string&,
                           int code) { errors.push_back(code); };
    }
    TArcType Of(const std::string& path) {
        c.SetArchiveFile(path);
        return c.ArcType();
    }
};

std::vector<uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

// A DOS program image of the given size whose header counts exactly that many bytes.
std::vector<uint8_t> DosStub(size_t size) {
    std::vector<uint8_t> v(size, 0x90);
    v[0] = 'M';
    v[1] = 'Z';
    PutLe16(&v[2], static_cast<uint16_t>(size % 512));
    PutLe16(&v[4], static_cast<uint16_t>((size + 511) / 512));
    return v;
}

// A minimal ARJ archive: main header, one stored file, end marker.
std::vector<uint8_t> Arj(const std::string& name, const std::string& data) {
    auto header = [](uint8_t fileType, const std::string& n, uint32_t size, uint32_t crc) {
        std::vector<uint8_t> b(30, 0);
        b[0] = 30;
        b[1] = 11;
        b[2] = 1;
        b[6] = fileType;
        PutLe32(&b[12], size);
        PutLe32(&b[16], size);
        PutLe32(&b[20], crc);
        AppendBytes(b, n);
        b.push_back(0);
        b.push_back(0);  // empty comment
        std::vector<uint8_t> out = {0x60, 0xEA};
        AppendLe16(out, static_cast<uint16_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
        AppendLe32(out, Crc32(b.data(), b.size()));
        AppendLe16(out, 0);
        return out;
    };
    std::vector<uint8_t> out = header(2, "test.arj", 0, 0);
    auto f = header(0, name, static_cast<uint32_t>(data.size()), Crc32(data.data(), data.size()));
    out.insert(out.end(), f.begin(), f.end());
    AppendBytes(out, data);
    out.push_back(0x60);
    out.push_back(0xEA);
    AppendLe16(out, 0);
    return out;
}

TEST(Identify, SizesAndPlainSignatures) {
    TempDir d;
    Probe p;
    test::WriteFile(d / "short", std::vector<uint8_t>(19, 'x'));
    EXPECT_EQ(p.Of(d / "short"), atFileOpenErr);
    test::WriteFile(d / "zeros", std::vector<uint8_t>(20, 0));
    EXPECT_EQ(p.Of(d / "zeros"), atUnknown);
    EXPECT_EQ(p.Of(d / "missing"), atFileOpenErr);
    ASSERT_FALSE(p.errors.empty());
    EXPECT_EQ(p.errors.back(), E_OpenFile);
    p.c.SetArchiveFile("");
    EXPECT_EQ(p.c.ArcType(), atNA);

    auto zip = test::BuildZip({{"a.txt", "hello"}});
    std::vector<uint8_t> lead(7, 0);
    lead.insert(lead.end(), zip.begin(), zip.end());
    test::WriteFile(d / "lead.zip", lead);
    EXPECT_EQ(p.Of(d / "lead.zip"), atZip);
    test::WriteFile(d / "a.jar", zip);
    test::WriteFile(d / "a.zip", zip);
    EXPECT_EQ(p.Of(d / "a.jar"), atJar);
    EXPECT_EQ(p.Of(d / "a.zip"), atZip);
    EXPECT_TRUE(p.c.HeadFlag & hfEndRecord);
    EXPECT_TRUE(p.c.HeadFlag & hfCentralHeader);
    EXPECT_TRUE(p.c.HeadFlag & hfLocalHeader);

    auto central = Bytes("PK\x01\x02");
    central.resize(64, 0);
    test::WriteFile(d / "central", central);
    EXPECT_EQ(p.Of(d / "central"), atNA);

    // ACE: "**ACE**" at offset 7 wins even over another signature.
    auto ace = Bytes(std::string("\x1F\x8B\x08\x00\x00\x00\x00**ACE**", 14));
    ace.resize(64, 0);
    test::WriteFile(d / "gz-ace", ace);
    EXPECT_EQ(p.Of(d / "gz-ace"), atAce);

    auto gz = Bytes(std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10));
    gz.resize(40, 0);
    test::WriteFile(d / "x.gz", gz);
    EXPECT_EQ(p.Of(d / "x.gz"), atGZip);

    test::WriteFile(d / "x.tar", test::BuildTar({{"a.txt", "abc"}}));
    EXPECT_EQ(p.Of(d / "x.tar"), atTar);

    test::WriteFile(d / "x.uue",
                    std::string("header line\nbegin 644 a.txt\n#86)C\n`\nend\n") + std::string(30, ' '));
    EXPECT_EQ(p.Of(d / "x.uue"), atUue);

    // Assigning a type identifies the file again.
    p.c.SetArchiveFile(d / "x.tar");
    p.c.SetArcType(atZip);
    EXPECT_EQ(p.c.ArcType(), atTar);
}

// An LZH level-0 header's first two bytes are its size and its checksum, so with the right name length and
// contents they read like another family's magic. The archive must still be taken for LZH, listed and
// extracted; before, about one in fifty archives with a 9-character first name went to the gzip family.
TEST(Identify, AnLzhHeaderThatReadsLikeAnotherMagicIsStillLzh) {
    TempDir d;
    struct Case {
        uint8_t size, sum;
    };
    // gzip, compress, pack, LZH compress, old pack; "%!"; ARJ; HA.
    for (Case c : {Case{0x1F, 0x8B}, Case{0x1F, 0x9D}, Case{0x1F, 0x1E}, Case{0x1F, 0xA0}, Case{0x1F, 0x9E},
                   Case{0x25, 0x21}, Case{0x60, 0xEA}, Case{0x48, 0x41}}) {
        // A name of the length that gives that header size, and contents varied until their CRC makes the
        // checksum the wanted byte.
        const std::string name = std::string(c.size - 22u - 4u, 'n') + ".txt";
        std::vector<uint8_t> lzh;
        std::string data;
        for (int i = 0; i < 100000 && lzh.empty(); ++i) {
            data = "data of the entry " + std::to_string(i);
            auto bytes = test::BuildLzh({{name, data, 0}, {"second.txt", "more", 0}});
            if (bytes[0] == c.size && bytes[1] == c.sum) lzh = bytes;
        }
        ASSERT_FALSE(lzh.empty()) << int(c.size) << " " << int(c.sum);
        SCOPED_TRACE(name);
        test::WriteFile(d / "a.lzh", lzh);
        Probe p;
        EXPECT_EQ(p.Of(d / "a.lzh"), atLha);
        TArcLister l;
        l.FileSpec = {"*.*"};
        std::vector<std::string> listed;
        l.OnRead = [&](TZipCommon&, uint64_t, int) { listed.push_back(l.Entry().EntryName); };
        l.SetArchiveFile((d / "a.lzh").string());
        EXPECT_TRUE(l.ReadArchive());
        EXPECT_EQ(listed, (std::vector<std::string>{name, "second.txt"}));
        TUnLha x;
        auto o = test::RunExtractor(x, d / "a.lzh", d / "out");
        EXPECT_EQ(o.failed, 0);
        EXPECT_EQ(test::ReadText(d / "out" / name), data);
        EXPECT_EQ(test::ReadText(d / "out" / "second.txt"), "more");
        std::filesystem::remove_all(d / "out");
    }
}

TEST(Identify, SelfExtractors) {
    TempDir d;
    Probe p;
    // ARJ appended directly after the DOS image.
    auto sfx = DosStub(3000);
    auto arj = Arj("hello.txt", "hello world");
    sfx.insert(sfx.end(), arj.begin(), arj.end());
    test::WriteFile(d / "arj.exe", sfx);
    EXPECT_EQ(p.Of(d / "arj.exe"), atArjExe);
    EXPECT_EQ(p.c.StartOffset, 3000u);

    // RAR beyond offset 17000, found by the scan.
    auto rar = DosStub(600);
    rar.resize(20000, 0x41);
    std::string marker("Rar!\x1A\x07\x00", 7);
    rar.insert(rar.end(), marker.begin(), marker.end());
    rar.resize(rar.size() + 100, 0);
    PutLe16(&rar[2], 600 % 512);
    PutLe16(&rar[4], (600 + 511) / 512);
    test::WriteFile(d / "rar.exe", rar);
    EXPECT_EQ(p.Of(d / "rar.exe"), atRarExe);
    EXPECT_EQ(p.c.StartOffset, 20000u);

    // A ZIP after a stub, its offsets counting the stub.
    auto zsfx = DosStub(2048);
    test::ZipOptions o;
    o.prefix.assign(zsfx.begin(), zsfx.end());
    test::WriteFile(d / "zip.exe", test::BuildZip({{"f", "data"}}, o));
    EXPECT_EQ(p.Of(d / "zip.exe"), atZipExe);

    // The same behind a Unix program (an ELF image): a self-extracting ZIP too; the same bytes behind text are a
    // plain ZIP with a prefix.
    std::string elf("\x7F" "ELF\x02\x01\x01", 7);
    elf.resize(3000, '\x90');
    test::ZipOptions eo;
    eo.prefix = elf;
    test::WriteFile(d / "unix-sfx", test::BuildZip({{"f", "data"}}, eo));
    EXPECT_EQ(p.Of(d / "unix-sfx"), atZipExe);
    eo.prefix = std::string(3000, 't');
    test::WriteFile(d / "prefixed.zip", test::BuildZip({{"f", "data"}}, eo));
    EXPECT_EQ(p.Of(d / "prefixed.zip"), atZip);

    // A program with no archive inside.
    auto plain = DosStub(30000);
    test::WriteFile(d / "plain.exe", plain);
    EXPECT_EQ(p.Of(d / "plain.exe"), atUnknown);
}

TEST(Identify, VolumeNumbering) {
    TempDir d;
    Probe p;
    auto arj = Arj("a", "b");
    for (auto [ext, num] : std::vector<std::pair<std::string, int>>{{"arj", 1}, {"a01", 2}, {"a12", 13}}) {
        test::WriteFile(d / ("x." + ext), arj);
        p.Of(d / ("x." + ext));
        EXPECT_EQ(p.c.VolumeNumber, num) << ext;
        EXPECT_EQ(p.c.VolumeLetter, 'a');
    }
    std::vector<uint8_t> rar = Bytes(std::string("Rar!\x1A\x07\x00", 7));
    rar.resize(64, 0);
    test::WriteFile(d / "y.rar", rar);
    p.Of(d / "y.rar");
    EXPECT_EQ(p.c.VolumeNumber, 0);
    test::WriteFile(d / "y.r05", rar);
    p.Of(d / "y.r05");
    EXPECT_EQ(p.c.VolumeNumber, 6);
    EXPECT_EQ(p.c.VolumeLetter, 'r');
}

TEST(Identify, RemovableDisks) {
    TempDir d;
    Probe p;
    // A ZIP without its end record: on a removable disk it is one disk of a set, on a fixed one it is walked.
    auto zip = test::BuildZip({{"a.txt", "hello"}});
    auto cut = std::vector<uint8_t>(zip.begin(), zip.begin() + 30 + 5 + 5);
    cut.resize(64, 0);
    test::WriteFile(d / "fixed" / "set.zip", cut);
    EXPECT_EQ(p.Of(d / "fixed" / "set.zip"), atZip);
    ASSERT_TRUE(platform::MakeStandInDrive((d / "floppy").string(), platform::dkRemovable, "PKBACK# 001",
                                           0x1234, 1457664));
    test::WriteFile(d / "floppy" / "set.zip", cut);
    EXPECT_EQ(p.Of(d / "floppy" / "set.zip"), atZipMV);
    EXPECT_TRUE(p.c.DiskManager.IsRemovable());
    EXPECT_EQ(p.c.DiskManager.DiskNumber, 1);
    EXPECT_EQ(p.c.DiskManager.VolumeLabel, "PKBACK# 001");
}

TEST(Identify, ZipEndRecordSearchCoversWholeCommentRange) {
    TempDir d;
    Probe p;
    // A comment of 65,000 bytes puts the end record far beyond a 32 KiB window.
    test::ZipOptions o;
    o.comment = std::string(65000, 'c');
    test::WriteFile(d / "long.zip", test::BuildZip({{"a", "b"}}, o));
    EXPECT_EQ(p.Of(d / "long.zip"), atZip);
    EXPECT_TRUE(p.c.HeadFlag & hfEndRecord);
    // An empty archive: only the 22-byte end record.
    test::WriteFile(d / "empty.zip", test::BuildZip({}));
    p.Of(d / "empty.zip");
    EXPECT_TRUE(p.c.HasEndRecord);
    EXPECT_EQ(p.c.EndRecord.pos, 0u);
}

}  // namespace
}  // namespace varnok
