// The ACE engine library through its exported entry points (dlopen of the built libvarnok-unace.so): every ACE
// fixture against the peers' digests, passwords, volume sets and the caller's say over each volume, the data
// callback, and what damaged or lying archives do. Whatever fails leaves no file behind, and an older file of
// the destination's name survives.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engines/unace/unace.h"
#include "engines/unace/unace_engine.h"
#include "tests/formats/ace/ace_test_data.h"
#include "tests/formats/ace/ace_test_writer.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
namespace tw = test::ace;

struct Library {
    void* handle = nullptr;
    void* (*open)(ACEOpenArchiveData*) = nullptr;
    int (*close)(void*) = nullptr;
    int (*readHeader)(void*, ACEHeaderData*) = nullptr;
    int (*process)(void*, int, const char*) = nullptr;
    int (*setPassword)(void*, const char*) = nullptr;
    Library() {
        handle = dlopen(VARNOK_UNACE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        open = reinterpret_cast<decltype(open)>(dlsym(handle, "ACEOpenArchive"));
        close = reinterpret_cast<decltype(close)>(dlsym(handle, "ACECloseArchive"));
        readHeader = reinterpret_cast<decltype(readHeader)>(dlsym(handle, "ACEReadHeader"));
        process = reinterpret_cast<decltype(process)>(dlsym(handle, "ACEProcessFile"));
        setPassword = reinterpret_cast<decltype(setPassword)>(dlsym(handle, "ACESetPassword"));
    }
};

const Library& Lib() {
    static Library lib;
    return lib;
}

// One open archive with recording callbacks.
struct Session {
    ACEOpenArchiveData data{};
    void* handle = nullptr;
    std::string name;
    std::vector<std::pair<int, std::string>> volumes;  // (mode, name) per volume callback
    std::function<int(char*, int)> onVolume;           // default: go on with the proposed name
    std::vector<uint8_t> received;                     // what the data callback saw
    int calls = 0;
    int stopAfter = -1;  // answer 0 on this call of the data callback
    char comment[64] = {};

    explicit Session(const fs::path& archive, bool volumeCallback = true, bool dataCallback = true) {
        name = archive.string();
        data.ArcName = name.c_str();
        data.OpenMode = ACE_OPEN_EXTRACT;
        data.CmtBuf = comment;
        data.CmtBufSize = sizeof comment;
        data.Caller = this;
        if (dataCallback) data.DataProc = &Data;
        if (volumeCallback) data.ChangeVolProc = &Volume;
        handle = Lib().open(&data);
    }
    ~Session() {
        if (handle) Lib().close(handle);
    }
    static int Data(void* caller, const uint8_t* p, uint32_t n) {
        auto* s = static_cast<Session*>(caller);
        if (s->calls++ == s->stopAfter) return 0;
        s->received.insert(s->received.end(), p, p + n);
        return 1;
    }
    static int Volume(void* caller, char* n, int mode) {
        auto* s = static_cast<Session*>(caller);
        EXPECT_LT(strnlen(n, ACE_NAME_SIZE), size_t{ACE_NAME_SIZE});
        s->volumes.emplace_back(mode, n);
        return s->onVolume ? s->onVolume(n, mode) : 1;
    }
    int Next(ACEHeaderData& h) { return Lib().readHeader(handle, &h); }
    int Process(int op, const fs::path& dest = {}) {
        const std::string d = dest.string();
        return Lib().process(handle, op, d.empty() ? nullptr : d.c_str());
    }
};

// Writes an archive's volumes as dir/name.ace, dir/name.c00, ...
fs::path Save(const fs::path& dir, const std::string& stem, const std::vector<std::vector<uint8_t>>& vols) {
    for (size_t i = 0; i < vols.size(); ++i) {
        char ext[32];
        if (i == 0)
            std::snprintf(ext, sizeof ext, ".ace");
        else
            std::snprintf(ext, sizeof ext, ".c%02zu", i - 1);
        test::WriteFile(dir / (stem + ext), vols[i]);
    }
    return dir / (stem + ".ace");
}

// Names in a folder (to see that nothing, not even a temporary file, was left).
std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(UnAceLibrary, ExportsOnlyTheEntryPoints) {
    ASSERT_NE(Lib().handle, nullptr) << dlerror();
    ASSERT_TRUE(Lib().open && Lib().close && Lib().readHeader && Lib().process && Lib().setPassword);
    EXPECT_EQ(dlsym(Lib().handle, "_ZN6varnok3ace7Decoder6DecodeERKNS0_10FileParamsERNS_10ByteSourceERNS_8ByteSinkEPKSt6atomicIbE"),
              nullptr);
}

// ---- Fixtures ----

TEST(UnAceLibrary, EveryFixtureMatchesThePeersDigests) {
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    int compared = 0;
    for (const std::string& rel : test::FixturesOfFormat("ace")) {
        const auto rows = test::ExpectedOf(rel);
        if (rows.empty() || rows[0].nonFirstVolume) continue;
        TempDir out;
        Session s(test::Fixture(rel));
        ASSERT_NE(s.handle, nullptr) << rel << ": " << s.data.OpenResult;
        const std::string password = test::PasswordOf(rows);
        if (!password.empty()) {
            ASSERT_EQ(Lib().setPassword(s.handle, password.c_str()), ACE_OK);
        }
        ACEHeaderData h;
        std::map<std::string, std::string> got;
        int r;
        while ((r = s.Next(h)) == ACE_OK) {
            std::string name = h.FileName;
            std::replace(name.begin(), name.end(), '\\', '/');
            const fs::path dest = out / name;
            fs::create_directories(dest.parent_path());
            const size_t before = s.received.size();
            ASSERT_EQ(s.Process(ACE_EXTRACT, dest), ACE_OK) << rel << ": " << name;
            if (h.FileAttr & 0x10) {
                EXPECT_TRUE(fs::is_directory(dest));
                continue;
            }
            const auto bytes = test::ReadFile(dest);
            EXPECT_EQ(bytes.size(), h.UnpSize);
            // The data callback saw exactly the file's bytes.
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), s.received.begin() + static_cast<ptrdiff_t>(before),
                                   s.received.end()));
            got[name] = test::Sha256Hex(bytes);
        }
        EXPECT_EQ(r, ACE_ERR_END) << rel;
        for (const auto& row : rows) {
            if (!row.HasDigest()) continue;
            ASSERT_TRUE(got.count(row.entry)) << rel << ": " << row.entry;
            EXPECT_EQ(got[row.entry], row.sha256) << rel << ": " << row.entry;
            ++compared;
        }
        if (rel.find("split") != std::string::npos) {
            // The set's second volume, asked for and then announced.
            ASSERT_EQ(s.volumes.size(), 2u);
            EXPECT_EQ(s.volumes[0].first, ACE_VOL_ASK);
            EXPECT_EQ(fs::path(s.volumes[0].second).filename(), "Ace.store.split.c00");
            EXPECT_EQ(s.volumes[1].first, ACE_VOL_NOTIFY);
        }
    }
    EXPECT_GT(compared, 20);
}

TEST(UnAceLibrary, Ace10FixturesAgreeWithUnace) {
    VARNOK_REQUIRE_TOOL("unace");
    if (test::FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    int compared = 0;
    for (const std::string& rel : test::FixturesOfFormat("ace")) {
        const auto path = test::Fixture(rel);
        Session s(path);
        ACEHeaderData h;
        if (!s.handle || s.Next(h) != ACE_OK || h.Method != 1) continue;
        TempDir peer;
        test::Run("cd " + test::Quote(peer.Path()) + " && unace x -y " + test::Quote(path) + " </dev/null >/dev/null 2>&1");
        TempDir ours;
        int r = ACE_OK;
        do {
            std::string name = h.FileName;
            std::replace(name.begin(), name.end(), '\\', '/');
            if (h.FileAttr & 0x10) {
                s.Process(ACE_SKIP);
                continue;
            }
            fs::create_directories((ours / name).parent_path());
            ASSERT_EQ(s.Process(ACE_EXTRACT, ours / name), ACE_OK);
            if (fs::is_regular_file(peer / name)) {
                EXPECT_EQ(test::ReadFile(ours / name), test::ReadFile(peer / name)) << rel << ": " << name;
                ++compared;
            }
        } while ((r = s.Next(h)) == ACE_OK);
    }
    // unace 1.2 lists no files of archives made by ACE 2.x writers with an advertisement, which all these are.
    if (compared == 0) GTEST_SKIP() << "unace extracted none of the ACE 1.0 fixtures";
}

TEST(UnAceLibrary, Ace10ArchivesAgreeWithUnace) {
    // ACE 1.0 archives from the test writer, solid and not. unace 1.2 as packaged skips files without a comment,
    // so every file carries one.
    VARNOK_REQUIRE_TOOL("unace");
    const std::vector<std::vector<uint8_t>> files = {tw::Words(120000, 1), tw::Noise(20000, 2), tw::X86(60000, 3),
                                                     std::vector<uint8_t>(70000, 0), tw::Words(50000, 1)};
    for (bool solid : {false, true}) {
        TempDir dir, peer, ours;
        std::vector<tw::FileEntry> entries;
        const auto chain = tw::PackSolidChain(files, {1, 0, 1, 1, 1});
        for (size_t i = 0; i < files.size(); ++i) {
            const uint8_t type = i == 1 ? 0 : 1;
            entries.push_back(tw::MakeEntry("f" + std::to_string(i), files[i], type,
                                            solid ? chain[i] : type ? tw::PackLz77(files[i]) : files[i]));
            if (solid && i) entries.back().flags = 0x8000;
            const auto c = tw::PackComment("file " + std::to_string(i));
            entries.back().comment.assign(c.begin(), c.end());
        }
        tw::ArchiveOptions o;
        o.versionExtract = o.versionMadeBy = 10;
        o.mainFlags = solid ? 0x8000 : 0;
        const auto path = Save(dir.Path(), "v10", tw::BuildArchive(entries, o));
        test::Run("cd " + test::Quote(peer.Path()) + " && unace x -y " + test::Quote(path) + " </dev/null >/dev/null 2>&1");
        Session s(path);
        ACEHeaderData h;
        for (size_t i = 0; i < files.size(); ++i) {
            ASSERT_EQ(s.Next(h), ACE_OK);
            ASSERT_EQ(s.Process(ACE_EXTRACT, ours / h.FileName), ACE_OK);
            ASSERT_TRUE(fs::exists(peer / h.FileName)) << "unace did not extract " << h.FileName;
            EXPECT_EQ(test::ReadFile(ours / h.FileName), test::ReadFile(peer / h.FileName)) << h.FileName;
            EXPECT_EQ(test::ReadFile(ours / h.FileName), files[i]);
        }
    }
}

// ---- Passwords ----

struct EncryptedArchive {
    TempDir dir;
    fs::path path;
    std::vector<uint8_t> text = tw::Words(30000, 7), raw = tw::Noise(5000, 7);
    EncryptedArchive() {
        auto packed = tw::MakeEntry("packed.txt", text, 1, tw::Encrypt(tw::PackLz77(text), "right"));
        packed.flags = 0x4000;
        auto stored = tw::MakeEntry("stored.bin", raw, 0, tw::Encrypt(raw, "right"));
        stored.flags = 0x4000;
        path = Save(dir.Path(), "enc", tw::BuildArchive({packed, stored}));
    }
};

TEST(UnAceLibrary, MissingOrWrongPasswordFailsAndLeavesNoFile) {
    EncryptedArchive a;
    TempDir out;
    for (const char* password : {static_cast<const char*>(nullptr), "", "wrong"}) {
        Session s(a.path);
        ASSERT_NE(s.handle, nullptr);
        ASSERT_EQ(Lib().setPassword(s.handle, password), ACE_OK);
        ACEHeaderData h;
        for (const char* name : {"packed.txt", "stored.bin"}) {
            ASSERT_EQ(s.Next(h), ACE_OK);
            EXPECT_STREQ(h.FileName, name);
            EXPECT_TRUE(h.Flags & ACE_FLAG_PASSWORD);
            // The stored file can only be caught by its CRC, after all of it was decrypted.
            EXPECT_EQ(s.Process(ACE_EXTRACT, out / name), ACE_ERR_NOPASSW) << name << " with " << (password ? password : "none");
        }
        EXPECT_EQ(s.Next(h), ACE_ERR_END);
        EXPECT_TRUE(Listing(out.Path()).empty());
    }
    Session s(a.path);
    ASSERT_EQ(Lib().setPassword(s.handle, "right"), ACE_OK);
    ACEHeaderData h;
    ASSERT_EQ(s.Next(h), ACE_OK);
    ASSERT_EQ(s.Process(ACE_EXTRACT, out / "packed.txt"), ACE_OK);
    EXPECT_EQ(test::ReadFile(out / "packed.txt"), a.text);
    ASSERT_EQ(s.Next(h), ACE_OK);
    ASSERT_EQ(s.Process(ACE_TEST), ACE_OK);
}

TEST(UnAceLibrary, FailureKeepsAnOlderFileOfTheDestinationsName) {
    EncryptedArchive a;
    TempDir out;
    test::WriteFile(out / "packed.txt", std::string("older file"));
    Session s(a.path);
    Lib().setPassword(s.handle, "wrong");
    ACEHeaderData h;
    ASSERT_EQ(s.Next(h), ACE_OK);
    EXPECT_EQ(s.Process(ACE_EXTRACT, out / "packed.txt"), ACE_ERR_NOPASSW);
    EXPECT_EQ(test::ReadText(out / "packed.txt"), "older file");
    EXPECT_EQ(Listing(out.Path()), std::vector<std::string>{"packed.txt"});
}

// ---- Volume sets ----

struct VolumeSet {
    TempDir dir;
    fs::path path;
    std::vector<std::vector<uint8_t>> files = {tw::Words(20000, 1), tw::Words(15000, 2), tw::Words(9000, 3)};
    explicit VolumeSet(uint32_t partCrc = 0) {
        const auto packed = tw::PackSolidChain(files, {2, 2, 2});
        std::vector<tw::FileEntry> entries;
        for (size_t i = 0; i < files.size(); ++i) {
            entries.push_back(tw::MakeEntry("f" + std::to_string(i), files[i], 2, packed[i]));
            if (i) entries.back().flags = 0x8000;
        }
        tw::ArchiveOptions o;
        o.mainFlags = 0x8000;
        o.volumeData = 2000;
        o.partCrc = partCrc;
        path = Save(dir.Path(), "set", tw::BuildArchive(entries, o));
    }
};

TEST(UnAceLibrary, VolumeSetIsFollowedWithTheCallersConsent) {
    // Every part but the last carries another CRC, as writers may store: the last part's counts.
    VolumeSet set(0x12345678);
    TempDir out;
    Session s(set.path);
    ASSERT_NE(s.handle, nullptr);
    ACEHeaderData h;
    for (size_t i = 0; i < set.files.size(); ++i) {
        ASSERT_EQ(s.Next(h), ACE_OK);
        ASSERT_EQ(s.Process(ACE_EXTRACT, out / h.FileName), ACE_OK) << h.FileName;
        EXPECT_EQ(test::ReadFile(out / h.FileName), set.files[i]);
    }
    EXPECT_EQ(s.Next(h), ACE_ERR_END);
    ASSERT_GE(s.volumes.size(), 4u);
    for (size_t i = 0; i + 1 < s.volumes.size(); i += 2) {
        char ext[32];
        std::snprintf(ext, sizeof ext, ".c%02zu", i / 2);
        EXPECT_EQ(s.volumes[i], std::make_pair(int{ACE_VOL_ASK}, (set.dir / ("set" + std::string(ext))).string()));
        EXPECT_EQ(s.volumes[i + 1], std::make_pair(int{ACE_VOL_NOTIFY}, s.volumes[i].second));
    }
}

TEST(UnAceLibrary, MissingOrRefusedNextVolumeFailsWithReadError) {
    TempDir out;
    {
        VolumeSet set;
        fs::remove(set.dir / "set.c00");
        Session s(set.path);
        ACEHeaderData h;
        ASSERT_EQ(s.Next(h), ACE_OK);
        EXPECT_EQ(s.Process(ACE_EXTRACT, out / "f0"), ACE_ERR_READ);
        EXPECT_EQ(s.volumes.size(), 1u);  // asked, never announced
    }
    {
        VolumeSet set;
        Session s(set.path);
        s.onVolume = [](char*, int) { return 0; };
        ACEHeaderData h;
        ASSERT_EQ(s.Next(h), ACE_OK);
        EXPECT_EQ(s.Process(ACE_EXTRACT, out / "f0"), ACE_ERR_READ);
    }
    {
        VolumeSet set;
        Session s(set.path, /*volumeCallback=*/false);
        ACEHeaderData h;
        ASSERT_EQ(s.Next(h), ACE_OK);
        EXPECT_EQ(s.Process(ACE_TEST), ACE_ERR_READ);
    }
    {
        // The callback points elsewhere: a volume of another set is refused.
        VolumeSet set;
        VolumeSet other;
        Session s(set.path);
        const std::string wrong = (other.dir / "set.c01").string();
        s.onVolume = [&](char* n, int mode) {
            if (mode == ACE_VOL_ASK) std::snprintf(n, ACE_NAME_SIZE, "%s", wrong.c_str());
            return 1;
        };
        ACEHeaderData h;
        ASSERT_EQ(s.Next(h), ACE_OK);
        EXPECT_EQ(s.Process(ACE_TEST), ACE_ERR_READ);
    }
    EXPECT_TRUE(Listing(out.Path()).empty());
}

TEST(UnAceLibrary, NextVolumeNamesFollowTheFormat) {
    EXPECT_EQ(unace::NextVolumeName("/a/x.ace"), "/a/x.c00");
    EXPECT_EQ(unace::NextVolumeName("/a/X.ACE"), "/a/X.C00");
    EXPECT_EQ(unace::NextVolumeName("x.exe"), "x.c00");
    EXPECT_EQ(unace::NextVolumeName("x.c00"), "x.c01");
    EXPECT_EQ(unace::NextVolumeName("x.C09"), "x.C10");
    EXPECT_EQ(unace::NextVolumeName("x.c99"), "x.100");
    EXPECT_EQ(unace::NextVolumeName("x.100"), "x.101");
    EXPECT_EQ(unace::NextVolumeName("x.999"), "");
    EXPECT_EQ(unace::NextVolumeName("dir.v/x"), "dir.v/x.c00");
}

// ---- Solid archives and skipping ----

TEST(UnAceLibrary, SkippedFilesOfASolidArchiveAreStillDecoded) {
    VolumeSet set;
    TempDir out;
    Session s(set.path);
    ACEHeaderData h;
    ASSERT_EQ(s.Next(h), ACE_OK);
    EXPECT_EQ(s.Process(ACE_SKIP), ACE_OK);
    ASSERT_EQ(s.Next(h), ACE_OK);  // the second is skipped by reading on
    ASSERT_EQ(s.Next(h), ACE_OK);
    EXPECT_STREQ(h.FileName, "f2");
    ASSERT_EQ(s.Process(ACE_EXTRACT, out / "f2"), ACE_OK);
    EXPECT_EQ(test::ReadFile(out / "f2"), set.files[2]);
    // Skipped data never reaches the data callback.
    EXPECT_EQ(s.received, set.files[2]);
}

// ---- Stopping ----

TEST(UnAceLibrary, StopFromTheDataCallbackRemovesThePartialFileAndTheWalkGoesOn) {
    TempDir dir, out;
    // A 1 KiB dictionary: the data callback gets a block every 128 KiB.
    const auto big = tw::Words(1'000'000, 5), small = tw::Words(1000, 6);
    tw::LzOptions o;
    o.dictBits = 10;
    const auto path = Save(dir.Path(), "a", tw::BuildArchive({tw::MakeEntry("big", big, 1, tw::PackLz77(big, o), 0),
                                                              tw::MakeEntry("small", small, 0, small)}));
    Session s(path);
    s.stopAfter = 1;
    ACEHeaderData h;
    ASSERT_EQ(s.Next(h), ACE_OK);
    EXPECT_EQ(s.Process(ACE_EXTRACT, out / "big"), ACE_ERR_USER);
    EXPECT_LT(s.received.size(), big.size());
    EXPECT_TRUE(Listing(out.Path()).empty());
    ASSERT_EQ(s.Next(h), ACE_OK);
    EXPECT_STREQ(h.FileName, "small");
    ASSERT_EQ(s.Process(ACE_EXTRACT, out / "small"), ACE_OK);
    EXPECT_EQ(test::ReadFile(out / "small"), small);
}

// ---- Damaged and lying archives ----

struct OneFile {
    TempDir dir;
    std::vector<uint8_t> data = tw::Words(40000, 9);
    tw::FileEntry entry = tw::MakeEntry("file.txt", data, 2, tw::PackBlocked({tw::Segment{{}, data, {}}}));
    fs::path Write(const tw::FileEntry& e, const std::vector<uint8_t>& prefix = {}) {
        auto vol = tw::BuildArchive({e})[0];
        vol.insert(vol.begin(), prefix.begin(), prefix.end());
        return Save(dir.Path(), "one", {vol});
    }
    // The result of extracting the archive's only file, and whether the folder stayed empty.
    int Extract(const fs::path& archive, bool* empty = nullptr) {
        TempDir out;
        Session s(archive);
        if (!s.handle) return 1000 + s.data.OpenResult;
        ACEHeaderData h;
        const int rh = s.Next(h);
        if (rh != ACE_OK) return 2000 + rh;
        const int r = s.Process(ACE_EXTRACT, out / "x");
        if (empty) *empty = Listing(out.Path()).empty();
        if (r == ACE_OK) {
            EXPECT_EQ(test::ReadFile(out / "x"), data);
        }
        return r;
    }
};

TEST(UnAceLibrary, DamagedDataFailsItsCheckAndLeavesNothing) {
    OneFile f;
    bool empty = false;
    EXPECT_EQ(f.Extract(f.Write(f.entry)), ACE_OK);
    // Codes broken at the start of the stream, or bits flipped further in.
    for (size_t at : {size_t{0}, size_t{5}, f.entry.packed.size() / 2}) {
        auto e = f.entry;
        e.packed[at] ^= 0x5A;
        EXPECT_EQ(f.Extract(f.Write(e), &empty), ACE_ERR_CRC) << at;
        EXPECT_TRUE(empty);
    }
    // The archive ends inside the file's data.
    auto cut = tw::BuildArchive({f.entry})[0];
    cut.resize(cut.size() - 100);
    EXPECT_EQ(f.Extract(Save(f.dir.Path(), "one", {cut}), &empty), ACE_ERR_READ);
    EXPECT_TRUE(empty);
}

TEST(UnAceLibrary, SizesAndNamesThatLie) {
    OneFile f;
    bool empty = false;
    // Larger than the data holds: the stream runs out.
    auto e = f.entry;
    e.unpackedSize += 1000;
    EXPECT_EQ(f.Extract(f.Write(e), &empty), ACE_ERR_CRC);
    EXPECT_TRUE(empty);
    // Smaller: decoding stops at the size and the CRC disagrees.
    e = f.entry;
    e.unpackedSize -= 1000;
    EXPECT_EQ(f.Extract(f.Write(e), &empty), ACE_ERR_CRC);
    EXPECT_TRUE(empty);
    // A stored file claiming more than its data.
    e = tw::MakeEntry("s", f.data, 0, std::vector<uint8_t>(f.data.begin(), f.data.begin() + 100));
    EXPECT_EQ(f.Extract(f.Write(e), &empty), ACE_ERR_CRC);
    EXPECT_TRUE(empty);
    // A name running past its header: the walk reports the damaged header.
    auto vol = tw::BuildArchive({f.entry})[0];
    const size_t mainSize = 4 + (vol[2] | (vol[3] << 8));
    vol[mainSize + 33] = 0xFF;
    vol[mainSize + 34] = 0x7F;
    EXPECT_EQ(f.Extract(Save(f.dir.Path(), "one", {vol})), 2000 + ACE_ERR_CRC);
    // A method nobody knows.
    e = f.entry;
    e.type = 9;
    EXPECT_EQ(f.Extract(f.Write(e), &empty), ACE_ERR_METHOD);
    EXPECT_TRUE(empty);
}

TEST(UnAceLibrary, SixtyFourBitHeadersOfLaterWritersAreRead) {
    OneFile f;
    auto e = f.entry;
    e.wide = true;
    EXPECT_EQ(f.Extract(f.Write(e)), ACE_OK);
}

TEST(UnAceLibrary, OpeningArchivesThatAreNotOrAreInsideAProgram) {
    OneFile f;
    // A self-extractor: the archive behind a program.
    EXPECT_EQ(f.Extract(f.Write(f.entry, tw::Noise(30000, 3))), ACE_OK);
    TempDir dir;
    test::WriteFile(dir / "not.ace", tw::Noise(5000, 4));
    EXPECT_EQ(f.Extract(dir / "not.ace"), 1000 + ACE_ERR_OPEN);
    EXPECT_EQ(f.Extract(dir / "missing.ace"), 1000 + ACE_ERR_OPEN);
    auto vol = tw::BuildArchive({f.entry})[0];
    vol[20] ^= 1;  // inside the main header
    EXPECT_EQ(f.Extract(Save(dir.Path(), "bad", {vol})), 1000 + ACE_ERR_CRC);
}

TEST(UnAceLibrary, CommentDirectoriesAndCallsOutOfOrder) {
    TempDir dir, out;
    tw::ArchiveOptions o;
    o.comment = tw::PackComment("A comment longer than the caller's buffer of sixty-four bytes, so it is cut.");
    tw::FileEntry folder = tw::MakeEntry("sub", {}, 1, {});
    folder.attributes = 0x10;
    const auto data = tw::Words(100, 1);
    const auto path = Save(dir.Path(), "c", tw::BuildArchive({folder, tw::MakeEntry("sub\\a", data, 0, data)}, o));
    Session s(path);
    ASSERT_NE(s.handle, nullptr);
    EXPECT_EQ(s.data.CmtSize, 63u);
    EXPECT_EQ(std::string(s.comment), std::string("A comment longer than the caller's buffer of sixty-four bytes, so it is cut.").substr(0, 63));
    EXPECT_EQ(s.Process(ACE_TEST), ACE_ERR_CLINE);  // no header read yet
    ACEHeaderData h;
    ASSERT_EQ(s.Next(h), ACE_OK);
    EXPECT_EQ(s.Process(ACE_EXTRACT), ACE_ERR_CLINE);  // extracting needs a name
    EXPECT_EQ(s.Process(7, out / "sub"), ACE_ERR_CLINE);
    ASSERT_EQ(s.Process(ACE_EXTRACT, out / "sub"), ACE_OK);
    EXPECT_TRUE(fs::is_directory(out / "sub"));
    EXPECT_EQ(s.Process(ACE_EXTRACT, out / "sub"), ACE_ERR_CLINE);  // already processed
    ASSERT_EQ(s.Next(h), ACE_OK);
    ASSERT_EQ(s.Process(ACE_EXTRACT, out / "sub" / "a"), ACE_OK);
    EXPECT_EQ(test::ReadFile(out / "sub" / "a"), data);
    EXPECT_EQ(s.Next(h), ACE_ERR_END);
    EXPECT_EQ(s.Next(h), ACE_ERR_END);

    // Handles that are not (or no longer) the library's.
    int bogus = 0;
    EXPECT_EQ(Lib().readHeader(&bogus, &h), ACE_ERR_HANDLE);
    EXPECT_EQ(Lib().process(&bogus, ACE_SKIP, nullptr), ACE_ERR_HANDLE);
    EXPECT_EQ(Lib().close(&bogus), ACE_ERR_HANDLE);
    void* handle = s.handle;
    EXPECT_EQ(Lib().close(handle), ACE_OK);
    s.handle = nullptr;
    EXPECT_EQ(Lib().close(handle), ACE_ERR_HANDLE);
}

}  // namespace
}  // namespace varnok
