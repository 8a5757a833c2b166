// ZIP repair against the damage real files suffer: a directory cut off or wiped, garbage between or inside
// entries, headers whose sizes lie, descriptors in every form, and a comparison with Info-ZIP's zip -FF on
// damaged copies of a generated tree. Every repaired file is read back by our extractor and, when installed,
// by unzip and 7z.
#include "archive/tools/zipfix.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "archive/codecs/deflate_encoder.h"
#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/zipcrypt.h"
#include "archive/formats/zip/unzip.h"
#include "archive/formats/zip/zip_directory.h"
#include "tests/support/builders.h"
#include "tests/support/extractor_run.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// ------------------------------------------------------------------------------------------ building
// archives

enum class Desc { None, Sig32, NoSig32, Sig64, NoSig64 };

struct Rec {
    std::string name;
    std::string data;  // what the entry holds
    uint16_t method = 0;
    Desc desc = Desc::None;
    bool zip64 = false;    // sizes in a ZIP64 local extra field
    std::string password;  // traditional cipher
    uint32_t dosTime = 0x5A6B1234;
};

struct Built {
    std::string bytes;
    std::vector<uint64_t> offsets;
};

std::string Packed(const Rec& r) {
    std::string p = r.data;
    if (r.method == 8) {
        auto d = DeflateBuffer(std::span(reinterpret_cast<const uint8_t*>(r.data.data()), r.data.size()));
        p.assign(d.begin(), d.end());
    }
    if (!r.password.empty()) {
        ZipCipher c;
        c.InitKeys(r.password);
        std::string head(12, 'x');
        // The check byte: the CRC's high byte, or the time's when the sizes follow the data.
        head[11] = static_cast<char>(r.desc != Desc::None ? r.dosTime >> 8
                                                          : Crc32(r.data.data(), r.data.size()) >> 24);
        std::string out;
        for (char ch : head + p)
            out.push_back(static_cast<char>(c.EncryptByte(static_cast<uint8_t>(ch))));
        p = out;
    }
    return p;
}

std::string Le(uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

// Local records, then (unless omitted) a central directory and the end record.
Built Archive(const std::vector<Rec>& recs, bool central = true) {
    Built b;
    std::string cd;
    for (const Rec& r : recs) {
        const std::string packed = Packed(r);
        const uint32_t crc = Crc32(r.data.data(), r.data.size());
        uint16_t flags = (r.desc != Desc::None ? 8 : 0) | (r.password.empty() ? 0 : 1);
        const bool sizesAfter = r.desc != Desc::None;
        std::string extra;
        if (r.zip64) extra = Le(1, 2) + Le(16, 2) + Le(r.data.size(), 8) + Le(packed.size(), 8);
        b.offsets.push_back(b.bytes.size());
        std::string h =
            "PK\x03\x04" + Le(r.zip64 ? 45 : 20, 2) + Le(flags, 2) + Le(r.method, 2) + Le(r.dosTime, 4);
        h += sizesAfter ? std::string(12, '\0')
             : r.zip64  ? Le(crc, 4) + Le(0xFFFFFFFF, 4) + Le(0xFFFFFFFF, 4)
                        : Le(crc, 4) + Le(packed.size(), 4) + Le(r.data.size(), 4);
        h += Le(r.name.size(), 2) + Le(extra.size(), 2) + r.name + extra + packed;
        switch (r.desc) {
            case Desc::None:
                break;
            case Desc::Sig32:
                h += "PK\x07\x08" + Le(crc, 4) + Le(packed.size(), 4) + Le(r.data.size(), 4);
                break;
            case Desc::NoSig32:
                h += Le(crc, 4) + Le(packed.size(), 4) + Le(r.data.size(), 4);
                break;
            case Desc::Sig64:
                h += "PK\x07\x08" + Le(crc, 4) + Le(packed.size(), 8) + Le(r.data.size(), 8);
                break;
            case Desc::NoSig64:
                h += Le(crc, 4) + Le(packed.size(), 8) + Le(r.data.size(), 8);
                break;
        }
        cd += "PK\x01\x02" + Le(0x0314, 2) + Le(20, 2) + Le(flags, 2) + Le(r.method, 2) + Le(r.dosTime, 4) +
              Le(crc, 4) + Le(packed.size(), 4) + Le(r.data.size(), 4) + Le(r.name.size(), 2) + Le(0, 2) +
              Le(0, 2) + Le(0, 2) + Le(0, 2) + Le(0100644u << 16, 4) + Le(b.offsets.back(), 4) + r.name;
        b.bytes += h;
    }
    if (central) {
        const size_t at = b.bytes.size();
        b.bytes += cd + "PK\x05\x06" + Le(0, 4) + Le(recs.size(), 2) + Le(recs.size(), 2) + Le(cd.size(), 4) +
                   Le(at, 4) + Le(0, 2);
    }
    return b;
}

std::string Text(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    static const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "PK", "zip ", "\x03\x04", "0123 "};
    std::string s;
    while (s.size() < n)
        s += words[rng() % 8];
    s.resize(n);
    return s;
}

std::string Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, 0);
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

// ------------------------------------------------------------------------------------------ running a repair

struct Found {
    std::string name;
    bool ok;
};

struct Result {
    bool done = false;
    std::vector<Found> found;
    std::vector<TFileInfo> checked;
    std::vector<TFileInfo> entries;
    std::string output;  // the repaired file's bytes
    fs::path path;
};

Result Repair(const TempDir& d, const std::string& damaged, const std::string& name = "damaged.zip") {
    Result r;
    test::WriteFile(d / name, damaged);
    TZipFix fix;
    fix.OnFileFound = [&r](TZipCommon&, const std::string& n, bool ok) { r.found.push_back({n, ok}); };
    fix.OnFileChecked = [&r](TZipCommon&, const TFileInfo& i) { r.checked.push_back(i); };
    r.path = TZipFix::FixedName((d / name).string());
    r.done = fix.Repair((d / name).string(), r.path.string());
    r.entries = fix.Entries();
    if (fs::exists(r.path)) r.output = test::ReadText(r.path);
    EXPECT_EQ(test::ReadText(d / name), damaged) << "the damaged file was changed";
    return r;
}

// What our extractor gets out of a repaired file: name -> contents, and whether every entry passed.
std::map<std::string, std::string> Extracted(const fs::path& zip, bool* allPassed = nullptr) {
    TempDir out;
    TUnZip x;
    auto o = test::RunExtractor(x, zip, out.Path(), [](TUnBase& u) { u.Passwords = {"secret"}; });
    if (allPassed) *allPassed = !o.threw && o.failed == 0 && o.codes.empty();
    return test::FilesUnder(out.Path());
}

// unzip -t and 7z t accept the file (each skipped when not installed).
void PeersAccept(const fs::path& zip, const std::string& password = "") {
    if (test::HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tqq" + std::string(password.empty() ? "" : " -P " + password) + " " +
                            test::Quote(zip) + " >/dev/null 2>&1"),
                  0)
            << "unzip -t rejects " << zip;
    }
    if (test::HaveTool("7z")) {
        EXPECT_EQ(test::Run("7z t -p" + (password.empty() ? std::string("x") : password) + " " +
                            test::Quote(zip) + " >/dev/null 2>&1"),
                  0)
            << "7z t rejects " << zip;
    }
}

// The central records of a repaired file.
std::vector<zip::CentralHeader> CentralOf(const std::string& bytes) {
    std::vector<zip::CentralHeader> out;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_GE(bytes.size(), 22u);
    if (bytes.size() < 22) return out;
    const uint8_t* e = p + bytes.size() - 22;
    EXPECT_EQ(Le32(e), zip::kEndSig);
    const uint64_t at = Le32(e + 16), size = Le32(e + 12);
    EXPECT_LE(at + size, bytes.size());
    zip::ParseCentralDirectory(std::span(p + at, size), Le16(e + 10), [&](zip::CentralHeader& h) {
        out.push_back(h);
        return true;
    });
    EXPECT_EQ(out.size(), Le16(e + 10));
    return out;
}

std::vector<std::string> Names(const std::vector<TFileInfo>& v) {
    std::vector<std::string> n;
    for (const auto& e : v)
        n.push_back(e.Name);
    return n;
}

const std::vector<Rec> kThree = {
    {"a.txt", Text(3000, 1), 8}, {"dir/b.bin", Noise(700, 2), 0}, {"c.txt", Text(5000, 3), 8}};
const std::map<std::string, std::string> kThreeFiles = {
    {"a.txt", Text(3000, 1)}, {"dir/b.bin", Noise(700, 2)}, {"c.txt", Text(5000, 3)}};

// ------------------------------------------------------------------------------------------ the scan

TEST(ZipFixSearch, SkipTablesShiftToTheSignaturesLastByte) {
    auto local = TZipFix::SkipTable(zip::kLocalSig);
    EXPECT_EQ(local['P'], 3);
    EXPECT_EQ(local['K'], 2);
    EXPECT_EQ(local[3], 1);
    EXPECT_EQ(local[4], 0);
    EXPECT_EQ(local['x'], 4);
    auto desc = TZipFix::SkipTable(zip::kSpanSig);
    EXPECT_EQ(desc[7], 1);
    EXPECT_EQ(desc[8], 0);
    EXPECT_EQ(desc[4], 4);
}

TEST(ZipFixSearch, CentralDirectoryCutOffRebuildsEveryEntryIntoFixedName) {
    EXPECT_EQ(TZipFix::FixedName("/x/damaged.zip"), "/x/damaged_fixed.zip");
    EXPECT_EQ(TZipFix::FixedName("/x.d/archive"), "/x.d/archive_fixed.zip");
    TempDir d;
    Built b = Archive(kThree);
    const size_t cd = b.bytes.find("PK\x01\x02");
    auto r = Repair(d, b.bytes.substr(0, cd + 30));
    ASSERT_TRUE(r.done);
    EXPECT_EQ(r.path, d / "damaged_fixed.zip");
    EXPECT_EQ(Names(r.entries), (std::vector<std::string>{"a.txt", "dir/b.bin", "c.txt"}));
    bool passed = false;
    EXPECT_EQ(Extracted(r.path, &passed), kThreeFiles);
    EXPECT_TRUE(passed);
    // Names and dates come back as stored.
    for (const auto& c : CentralOf(r.output))
        EXPECT_EQ(c.dosTime, 0x5A6B1234u);
    PeersAccept(r.path);
}

TEST(ZipFixSearch, NoLocalHeaderGivesAnEmptyOutput) {
    TempDir d;
    auto r = Repair(d, Noise(5000, 9) + "PK\x03");
    EXPECT_TRUE(r.done);
    EXPECT_TRUE(fs::exists(r.path));
    EXPECT_TRUE(r.output.empty());
    EXPECT_TRUE(r.entries.empty());
}

TEST(ZipFixSearch, LongNamesKeptButEmptyAndControlCharacterNamesDroppedUnnamed) {
    TempDir d;
    // Longer than a file name may be on disk: folders of 99 bytes each.
    const std::string n81(81, 'n'),
        n300 = std::string(99, 'a') + "/" + std::string(99, 'b') + "/" + std::string(96, 'c') + ".txt";
    Built b =
        Archive({{n81, "eighty-one"}, {"", "nameless"}, {"bad\x01name", "control"}, {n300, "long"}}, false);
    auto r = Repair(d, b.bytes);
    EXPECT_EQ(Names(r.entries), (std::vector<std::string>{n81, n300}));
    ASSERT_EQ(r.found.size(), 4u);
    EXPECT_TRUE(r.found[0].ok);
    EXPECT_EQ(r.found[1].name, "");
    EXPECT_FALSE(r.found[1].ok);
    EXPECT_EQ(r.found[2].name, "");
    EXPECT_FALSE(r.found[2].ok);
    EXPECT_EQ(Extracted(r.path), (std::map<std::string, std::string>{{n81, "eighty-one"}, {n300, "long"}}));
}

TEST(ZipFixSearch, GarbageBetweenEntriesIsSkipped) {
    TempDir d;
    Built b = Archive(kThree);
    std::string bytes = b.bytes;
    bytes.insert(b.offsets[1], Noise(1000, 4) + "PK\x03\x04" + Noise(40, 5));
    bytes.insert(b.offsets[2] + 1044, Text(333, 6));
    auto r = Repair(d, bytes);
    EXPECT_EQ(Names(r.entries), (std::vector<std::string>{"a.txt", "dir/b.bin", "c.txt"}));
    EXPECT_EQ(Extracted(r.path), kThreeFiles);
    PeersAccept(r.path);
}

TEST(ZipFixSearch, ThousandsOfSmallEntriesAllComeBack) {
    TempDir d;
    std::vector<Rec> recs;
    for (int i = 0; i < 4000; ++i)
        recs.push_back({"f/" + std::to_string(i), Text(static_cast<size_t>(i % 50), static_cast<unsigned>(i)),
                        static_cast<uint16_t>(i % 2 ? 8 : 0), i % 3 == 0 ? Desc::Sig32 : Desc::None});
    Built b = Archive(recs, false);
    auto r = Repair(d, b.bytes);
    ASSERT_EQ(r.entries.size(), 4000u);
    EXPECT_EQ(CentralOf(r.output).size(), 4000u);
    bool passed = false;
    EXPECT_EQ(Extracted(r.path, &passed).size(), 4000u);
    EXPECT_TRUE(passed);
}

// ------------------------------------------------------------------------------------------ lying headers

TEST(ZipFixHazards, SizesRunningPastTheEndAreDroppedNeighboursKept) {
    TempDir d;
    Built b = Archive({{"first.txt", Text(400, 1), 8}, {"last.bin", Noise(4000, 2), 0}}, false);
    auto r = Repair(d, b.bytes.substr(0, b.bytes.size() - 10));
    EXPECT_EQ(Names(r.entries), (std::vector<std::string>{"first.txt"}));
    ASSERT_EQ(r.checked.size(), 2u);
    EXPECT_EQ(r.checked[1].Name, "last.bin");
    EXPECT_EQ(r.checked[1].Verdict, fvCutOff);
    EXPECT_FALSE(r.found[1].ok);
}

TEST(ZipFixHazards, AZipStoredInsideAZipStaysOneEntry) {
    TempDir d;
    const std::string inner = Archive({{"inner1.txt", "one"}, {"inner2.txt", "two"}}).bytes;
    Built b = Archive({{"nested.zip", inner}, {"after.txt", Text(100, 3), 8}}, false);
    auto r = Repair(d, b.bytes);
    EXPECT_EQ(Names(r.entries), (std::vector<std::string>{"nested.zip", "after.txt"}));
    EXPECT_EQ(Extracted(r.path)["nested.zip"], inner);
}

TEST(ZipFixHazards, ADamagedByteInsideDeflateDataRejectsOnlyThatEntry) {
    TempDir d;
    Built b = Archive(kThree, false);
    std::string bytes = b.bytes;
    bytes[b.offsets[0] + 30 + 5 + 200] ^= 0x10;  // inside a.txt's deflate stream
    bytes[b.offsets[1] + 30 + 9 + 100] ^= 0x01;  // inside b.bin's stored bytes
    auto r = Repair(d, bytes);
    EXPECT_EQ(Names(r.entries), (std::vector<std::string>{"c.txt"}));
    for (const auto& f : r.found)
        if (f.name != "c.txt") {
            EXPECT_FALSE(f.ok) << f.name;
        }
    EXPECT_EQ(Extracted(r.path), (std::map<std::string, std::string>{{"c.txt", Text(5000, 3)}}));
}

TEST(ZipFixHazards, ADescriptorSignatureInsideTheDataIsNotTheDescriptor) {
    TempDir d;
    // Stored with sizes after the data, and data that hold a descriptor-like record and a local signature.
    // The first one even gives its distance from the data as its size; only the CRC tells it is not the one.
    const std::string tricky =
        "0123456789PK\x07\x08" + Le(0xDEADBEEF, 4) + Le(10, 4) + Le(10, 4) + "PK\x03\x04" + Noise(300, 7);
    Built b =
        Archive({{"tricky.bin", tricky, 0, Desc::Sig32}, {"next.txt", "next", 0, Desc::NoSig32}}, false);
    auto r = Repair(d, b.bytes);
    ASSERT_EQ(Names(r.entries), (std::vector<std::string>{"tricky.bin", "next.txt"}));
    EXPECT_EQ(r.entries[0].CompressedSize, tricky.size());
    EXPECT_EQ(Extracted(r.path),
              (std::map<std::string, std::string>{{"tricky.bin", tricky}, {"next.txt", "next"}}));
}

TEST(ZipFixHazards, EveryDescriptorFormIsKeptAndItsValuesReachTheCentralRecord) {
    TempDir d;
    std::vector<Rec> recs;
    std::map<std::string, std::string> files;
    int i = 0;
    for (Desc form : {Desc::Sig32, Desc::NoSig32, Desc::Sig64, Desc::NoSig64})
        for (uint16_t method : {0, 8}) {
            const std::string name = "d" + std::to_string(i) + (method ? ".txt" : ".bin");
            recs.push_back(
                {name, Text(500 + 37 * static_cast<size_t>(i), static_cast<unsigned>(i)), method, form});
            files[name] = recs.back().data;
            ++i;
        }
    recs.push_back({"empty.txt", "", 8, Desc::Sig64});  // sizes of zero: two forms read alike
    files["empty.txt"] = "";
    Built b = Archive(recs, false);
    auto r = Repair(d, b.bytes);
    ASSERT_EQ(r.entries.size(), recs.size());
    for (size_t k = 0; k < recs.size(); ++k) {
        const uint32_t expect = recs[k].desc == Desc::Sig32     ? 16
                                : recs[k].desc == Desc::NoSig32 ? 12
                                : recs[k].desc == Desc::Sig64   ? 24
                                                                : 20;
        EXPECT_EQ(r.entries[k].DescriptorSize, expect) << recs[k].name;
    }
    // The local records are copied unchanged, descriptors included: the output starts with the input's
    // records.
    EXPECT_EQ(r.output.substr(0, b.bytes.size()), b.bytes);
    auto central = CentralOf(r.output);
    ASSERT_EQ(central.size(), recs.size());
    for (size_t k = 0; k < recs.size(); ++k) {
        EXPECT_EQ(central[k].crc, Crc32(recs[k].data.data(), recs[k].data.size()));
        EXPECT_EQ(central[k].unpackedSize, recs[k].data.size());
        EXPECT_EQ(central[k].localOffset, b.offsets[k]);
        EXPECT_TRUE(central[k].flags & 8);
    }
    bool passed = false;
    EXPECT_EQ(Extracted(r.path, &passed), files);
    EXPECT_TRUE(passed);
    PeersAccept(r.path);
}

TEST(ZipFixHazards, Zip64LocalSizesAreRead) {
    TempDir d;
    Rec big{"z64.txt", Text(2000, 8), 8};
    big.zip64 = true;
    Built b = Archive({big, {"plain.txt", "plain"}}, false);
    auto r = Repair(d, b.bytes);
    ASSERT_EQ(Names(r.entries), (std::vector<std::string>{"z64.txt", "plain.txt"}));
    EXPECT_EQ(r.entries[0].UncompressedSize, 2000u);
    EXPECT_EQ(r.entries[0].Verdict, fvVerified);
    EXPECT_EQ(Extracted(r.path),
              (std::map<std::string, std::string>{{"z64.txt", big.data}, {"plain.txt", "plain"}}));
    PeersAccept(r.path);
}

TEST(ZipFixHazards, EncryptedEntriesAreKeptWhenTheirSizesFitAndSaidToBeUnverified) {
    TempDir d;
    Rec stored{"secret.bin", Noise(900, 3), 0};
    stored.password = "secret";
    Rec deflated{"secret.txt", Text(3000, 4), 8, Desc::Sig32};
    deflated.password = "secret";
    Built b = Archive({stored, deflated, {"open.txt", "open"}}, false);
    // A stored encrypted header whose sizes cannot belong to it (packed must be unpacked + 12).
    std::string liar = b.bytes.substr(0, b.offsets[1]);
    PutLe32(reinterpret_cast<uint8_t*>(liar.data()) + 22, 900 + 5);
    auto r = Repair(d, b.bytes + "garbage" + liar);
    ASSERT_EQ(Names(r.entries), (std::vector<std::string>{"secret.bin", "secret.txt", "open.txt"}));
    EXPECT_EQ(r.entries[0].Verdict, fvEncrypted);
    EXPECT_EQ(r.entries[1].Verdict, fvEncrypted);
    EXPECT_EQ(r.checked.back().Verdict, fvBadSizes);
    EXPECT_EQ(Extracted(r.path),
              (std::map<std::string, std::string>{
                  {"secret.bin", stored.data}, {"secret.txt", deflated.data}, {"open.txt", "open"}}));
    PeersAccept(r.path, "secret");
}

// ------------------------------------------------------------------------------------------ the old
// directory

TEST(ZipFixCentral, SurvivingCentralRecordsGiveModesAndCommentsByOffsetNeverByName) {
    TempDir d;
    // Two entries of one name; the surviving directory tells them apart only by offset.
    test::ZipItem one{"same.txt", "first copy", 0100755u << 16, 3};
    one.comment = "comment one";
    test::ZipItem two{"same.txt", "second copy!", 0100600u << 16, 3};
    two.comment = "comment two";
    std::vector<uint8_t> z = test::BuildZip({one, two});
    std::string bytes(z.begin(), z.end());
    auto r = Repair(d, bytes);
    ASSERT_EQ(r.entries.size(), 2u);
    auto central = CentralOf(r.output);
    ASSERT_EQ(central.size(), 2u);
    EXPECT_EQ(central[0].comment, "comment one");
    EXPECT_EQ(central[0].unixMode(), 0100755u);
    EXPECT_EQ(central[1].comment, "comment two");
    EXPECT_EQ(central[1].unixMode(), 0100600u);
    EXPECT_EQ(central[0].hostSystem(), 3);

    // Garbage before the second entry: its old record no longer names it (its offset moved) and the first
    // one's record must not be lent to it for sharing the name.
    std::string shifted = bytes;
    const size_t second = bytes.find("PK\x03\x04", 4);
    shifted.insert(second, Noise(64, 3));
    shifted.resize(shifted.size() - 22);  // and no end record to recompute offsets from
    auto s = Repair(d, shifted, "shifted.zip");
    auto c2 = CentralOf(s.output);
    ASSERT_EQ(c2.size(), 2u);
    EXPECT_EQ(c2[0].comment, "comment one");
    EXPECT_EQ(c2[1].comment, "");
    EXPECT_EQ(c2[1].unixMode(), 0u);
}

// ------------------------------------------------------------------------------------------ files and
// streams

TEST(ZipFixFiles, StreamsMustBothBeGivenAndRepairLikeFiles) {
    TZipFix fix;
    std::istringstream in("x");
    std::ostringstream out;
    try {
        fix.Repair(nullptr, &out);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "No input or no output stream has been defined");
    }
    EXPECT_THROW(fix.Repair(&in, nullptr), std::invalid_argument);

    TempDir d;
    Built b = Archive(kThree, false);
    auto r = Repair(d, b.bytes);
    std::istringstream sin(b.bytes);
    std::ostringstream sout;
    EXPECT_TRUE(fix.Repair(&sin, &sout));
    EXPECT_EQ(sout.str(), r.output);
}

TEST(ZipFixFiles, StoppedOrFailedRunLeavesTheExistingOutputAndNoTemporaryFile) {
    TempDir d;
    Built b = Archive(kThree, false);
    test::WriteFile(d / "in.zip", b.bytes);
    test::WriteFile(d / "out.zip", std::string("previous"));
    TZipFix fix;
    fix.OnFileFound = [&fix](TZipCommon&, const std::string&, bool) { fix.SetCancel(true); };
    EXPECT_FALSE(fix.Repair((d / "in.zip").string(), (d / "out.zip").string()));
    EXPECT_EQ(test::ReadText(d / "out.zip"), "previous");

    TZipFix same;
    EXPECT_THROW(same.Repair((d / "in.zip").string(), (d / "in.zip").string()), ArchiveError);
    EXPECT_EQ(test::ReadText(d / "in.zip"), b.bytes);

    TZipFix missing;
    EXPECT_THROW(missing.Repair((d / "nothing.zip").string(), (d / "o.zip").string()), ArchiveError);

    TZipFix ok;
    EXPECT_TRUE(ok.Repair((d / "in.zip").string(), (d / "out.zip").string()));
    EXPECT_NE(test::ReadText(d / "out.zip"), "previous");
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(d.Path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 2u) << "a temporary file was left behind";
}

TEST(ZipFixFiles, CommandLineReportsEntriesAndKeepsAnExistingOutput) {
    const fs::path cli = test::BinDir() / "varnok-cli";
    if (!fs::exists(cli)) GTEST_SKIP() << "varnok-cli not built";
    TempDir d;
    Built b = Archive(kThree, false);
    std::string bytes = b.bytes;
    bytes[b.offsets[1] + 30 + 9 + 100] ^= 0x01;
    test::WriteFile(d / "bad.zip", bytes);
    std::string out;
    EXPECT_EQ(test::Run(test::Quote(cli) + " repair " + test::Quote(d / "bad.zip"), &out), 1);
    EXPECT_NE(out.find("a.txt ...Ok\n"), std::string::npos) << out;
    EXPECT_NE(out.find("dir/b.bin ...problem detected\n"), std::string::npos) << out;
    EXPECT_NE(out.find("2 entries recovered, 1 dropped"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(d / "bad_fixed.zip"));
    const std::string first = test::ReadText(d / "bad_fixed.zip");
    test::WriteFile(d / "bad_fixed.zip", std::string("mine"));
    EXPECT_EQ(test::Run(test::Quote(cli) + " repair " + test::Quote(d / "bad.zip") + " 2>/dev/null", &out),
              1);
    EXPECT_EQ(test::ReadText(d / "bad_fixed.zip"), "mine");
    EXPECT_EQ(
        test::Run(test::Quote(cli) + " repair --overwrite " + test::Quote(d / "bad.zip") + " >/dev/null"), 1);
    EXPECT_EQ(test::ReadText(d / "bad_fixed.zip"), first);
    test::WriteFile(d / "good.zip", b.bytes);
    EXPECT_EQ(test::Run(test::Quote(cli) + " repair " + test::Quote(d / "good.zip") + " -o " +
                        test::Quote(d / "g.zip") + " >/dev/null"),
              0);
}

// ------------------------------------------------------------------------------------------ against zip -FF

// Damaged copies of an Info-ZIP archive of a generated tree; for each, the entries recovered intact by us and
// by zip -FF. We must recover at least as many, and never keep one whose contents differ from the original.
TEST(ZipFixPeers, RecoversAtLeastWhatZipFFRecoversAndNeverADamagedEntry) {
    if (!test::HaveTool("zip") || !test::HaveTool("unzip")) GTEST_SKIP() << "zip/unzip not installed";
    TempDir d;
    std::map<std::string, std::string> tree;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "tree/" + std::string(i % 3 ? "docs/" : "bin/") + "f" + std::to_string(i) +
                                 (i % 3 ? ".txt" : ".bin");
        tree[name] = i % 3 ? Text(200 + 611 * static_cast<size_t>(i), static_cast<unsigned>(i))
                           : Noise(100 + 997 * static_cast<size_t>(i), static_cast<unsigned>(i));
        fs::create_directories((d / name).parent_path());
        test::WriteFile(d / name, tree[name]);
    }
    ASSERT_EQ(test::Run("cd " + test::Quote(d.Path()) + " && zip -qrX orig.zip tree"), 0);
    const std::string orig = test::ReadText(d / "orig.zip");
    std::vector<size_t> headers;
    for (size_t p = orig.find("PK\x03\x04"); p != std::string::npos; p = orig.find("PK\x03\x04", p + 1))
        headers.push_back(p);
    const size_t cd = orig.find("PK\x01\x02");
    ASSERT_GT(headers.size(), 20u);

    std::vector<std::pair<std::string, std::string>> cases;
    cases.push_back({"truncated-mid", orig.substr(0, orig.size() / 2)});
    cases.push_back({"truncated-in-cd", orig.substr(0, cd + 40)});
    std::string wiped = orig;
    std::fill(wiped.begin() + static_cast<ptrdiff_t>(cd), wiped.end(), '\0');
    cases.push_back({"cd-wiped", wiped});
    std::string between = orig;
    between.insert(headers[10], Noise(5000, 11));
    between.insert(headers[5], Noise(77, 12));
    cases.push_back({"garbage-between", between});
    std::string inside = orig;
    inside.insert(headers[7] + 120, Noise(300, 13));
    cases.push_back({"garbage-inside", inside});
    std::string overwritten = orig;
    for (int k = 0; k < 30; ++k)
        overwritten[headers[3] + static_cast<size_t>(k)] = static_cast<char>(0xEE);
    cases.push_back({"header-overwritten", overwritten});
    std::string flipped = orig;
    flipped[headers[15] + 200] ^= 0x55;
    cases.push_back({"byte-flipped", flipped});

    int oursTotal = 0, ffTotal = 0;
    for (const auto& [label, bytes] : cases) {
        SCOPED_TRACE(label);
        auto r = Repair(d, bytes, label + ".zip");
        ASSERT_TRUE(r.done);
        int ours = 0;
        if (!r.entries.empty()) {
            for (const auto& [name, data] : Extracted(r.path)) {
                EXPECT_EQ(tree.count(name) ? tree[name] : "(not in the tree)", data)
                    << "kept damaged: " << name;
                ours += tree.count(name) && tree[name] == data;
            }
            const auto files = std::count_if(r.entries.begin(), r.entries.end(),
                                             [](const TFileInfo& e) { return e.Name.back() != '/'; });
            EXPECT_EQ(ours, files) << "every file entry kept comes back intact";
            PeersAccept(r.path);
        }
        // zip -FF asks questions on some damage; "y" answers them.
        const fs::path ff = d / (label + "_ff.zip");
        test::Run("cd " + test::Quote(d.Path()) + " && yes | timeout 60 zip -FF " + label + ".zip --out " +
                  test::Quote(ff) + " >/dev/null 2>&1");
        int theirs = 0;
        if (fs::exists(ff)) {
            TempDir x;
            test::Run("cd " + test::Quote(x.Path()) + " && unzip -qq -o " + test::Quote(ff) +
                      " >/dev/null 2>&1");
            for (const auto& [name, data] : test::FilesUnder(x.Path()))
                theirs += tree.count(name) && tree[name] == data;
        }
        EXPECT_GE(ours, theirs);
        oursTotal += ours;
        ffTotal += theirs;
        std::printf("[ zip -FF ] %-20s intact entries recovered: ours %d, zip -FF %d (of %zu)\n",
                    label.c_str(), ours, theirs, tree.size());
    }
    std::printf("[ zip -FF ] total: ours %d, zip -FF %d\n", oursTotal, ffTotal);
}

}  // namespace
}  // namespace varnok
