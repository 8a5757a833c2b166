// The RAR engine library through its exported entry points: what an extraction leaves on disk, the volume
// callback's say over every further volume, the codes for what it cannot decode, and stopping.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engines/unrar/unrar.h"
#include "engines/unrar/unrar_engine.h"
#include "tests/formats/rar/rar_builder.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::RarFile;
using test::TempDir;

struct Library {
    void* handle = nullptr;
    RAROpenArchiveFunc open = nullptr;
    RARCloseArchiveFunc close = nullptr;
    RARReadHeaderFunc readHeader = nullptr;
    RARProcessFileFunc process = nullptr;
    RARSetChangeVolProcFunc setVol = nullptr;
    RARSetProcessDataProcFunc setData = nullptr;
    RARSetPasswordFunc setPassword = nullptr;
    RARGetErrorTextFunc errorText = nullptr;
    Library() {
        handle = dlopen(VARNOK_UNRAR_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        open = reinterpret_cast<RAROpenArchiveFunc>(dlsym(handle, "RAROpenArchive"));
        close = reinterpret_cast<RARCloseArchiveFunc>(dlsym(handle, "RARCloseArchive"));
        readHeader = reinterpret_cast<RARReadHeaderFunc>(dlsym(handle, "RARReadHeader"));
        process = reinterpret_cast<RARProcessFileFunc>(dlsym(handle, "RARProcessFile"));
        setVol = reinterpret_cast<RARSetChangeVolProcFunc>(dlsym(handle, "RARSetChangeVolProc"));
        setData = reinterpret_cast<RARSetProcessDataProcFunc>(dlsym(handle, "RARSetProcessDataProc"));
        setPassword = reinterpret_cast<RARSetPasswordFunc>(dlsym(handle, "RARSetPassword"));
        errorText = reinterpret_cast<RARGetErrorTextFunc>(dlsym(handle, "RARGetErrorText"));
    }
};

const Library& Lib() {
    static Library lib;
    return lib;
}

// What the callbacks saw; they have no context pointer, so one recorder serves the test at hand.
struct Recorder {
    std::string data;
    std::vector<std::string> volumes;
    int refuseVolume = 0;  // the n-th volume asked for (1-based) is refused
    bool stopData = false;
} rec;

int OnData(const uint8_t* p, uint32_t n) {
    rec.data.append(reinterpret_cast<const char*>(p), n);
    return rec.stopData ? 0 : 1;
}
int OnVolume(char* name, int mode) {
    rec.volumes.push_back(name);
    EXPECT_EQ(mode, RAR_VOL_NOTIFY) << name;
    return static_cast<int>(rec.volumes.size()) == rec.refuseVolume ? 0 : 1;
}

class Session {
  public:
    explicit Session(const fs::path& archive) : name_(archive.string()) {
        rec = Recorder{};
        RAROpenArchiveData d{};
        d.ArcName = name_.c_str();
        d.OpenMode = RAR_OM_EXTRACT;
        h_ = Lib().open(&d);
        openResult = d.OpenResult;
        if (h_) {
            Lib().setData(h_, OnData);
            Lib().setVol(h_, OnVolume);
        }
    }
    ~Session() {
        if (h_) Lib().close(h_);
    }
    void* h() const { return h_; }
    std::string Error() const {
        char buf[512];
        Lib().errorText(h_, buf, sizeof buf);
        return buf;
    }
    unsigned openResult = 0;

  private:
    std::string name_;
    void* h_ = nullptr;
};

class UnrarLibrary : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(Lib().handle, nullptr) << dlerror(); }
    fs::path Archive(const std::vector<RarFile>& files) {
        fs::path p = tmp_ / "a.rar";
        test::WriteFile(p, test::MakeRar4(files));
        return p;
    }
    TempDir tmp_;
};

TEST_F(UnrarLibrary, ExtractionWritesOnlyDataThatCheckOut) {
    const fs::path a = Archive({{"good.txt", "good data"}, {"bad.txt", "bad data", true}});
    const fs::path out = tmp_ / "out";
    fs::create_directories(out);
    test::WriteFile(out / "bad.txt", std::string("kept"));
    Session s(a);
    ASSERT_NE(s.h(), nullptr);
    RARHeaderData h;
    ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
    EXPECT_STREQ(h.FileName, "good.txt");
    EXPECT_EQ(h.UnpSize, 9u);
    EXPECT_EQ(Lib().process(s.h(), RAR_EXTRACT, out.c_str(), nullptr), RAR_OK) << s.Error();
    EXPECT_EQ(test::ReadText(out / "good.txt"), "good data");
    EXPECT_EQ(rec.data, "good data");  // the data callback sees the blocks also when the library writes
    ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
    EXPECT_EQ(Lib().process(s.h(), RAR_EXTRACT, nullptr, (out / "bad.txt").c_str()), RAR_ERR_BAD_DATA);
    EXPECT_NE(s.Error().find("CRC"), std::string::npos) << s.Error();
    // The existing file is untouched and no temporary file is left.
    EXPECT_EQ(test::ReadText(out / "bad.txt"), "kept");
    int files = 0;
    for (auto& e : fs::directory_iterator(out)) files += e.is_regular_file();
    EXPECT_EQ(files, 2);
    EXPECT_EQ(Lib().readHeader(s.h(), &h), RAR_ERR_END_ARCHIVE);
}

TEST_F(UnrarLibrary, StoredNamesNeverLeaveTheDestination) {
    const fs::path a = Archive({{"..\\..\\evil.txt", "x"}, {"\\abs\\evil.txt", "y"}});
    const fs::path out = tmp_ / "deep" / "out";
    fs::create_directories(out);
    Session s(a);
    RARHeaderData h;
    ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
    EXPECT_EQ(Lib().process(s.h(), RAR_EXTRACT, out.c_str(), nullptr), RAR_ERR_ECREATE);
    ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
    EXPECT_EQ(Lib().process(s.h(), RAR_EXTRACT, out.c_str(), nullptr), RAR_OK) << s.Error();
    EXPECT_FALSE(fs::exists(tmp_ / "evil.txt"));
    EXPECT_FALSE(fs::exists(tmp_ / "deep" / "evil.txt"));
    EXPECT_EQ(test::ReadText(out / "abs" / "evil.txt"), "y");
}

TEST_F(UnrarLibrary, DataCallbackStopsTheFileAndLeavesNothing) {
    const fs::path a = Archive({{"f.txt", std::string(100000, 'a')}});
    Session s(a);
    rec.stopData = true;
    RARHeaderData h;
    ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
    EXPECT_EQ(Lib().process(s.h(), RAR_EXTRACT, tmp_.Path().c_str(), nullptr), RAR_ERR_USER);
    EXPECT_FALSE(fs::exists(tmp_ / "f.txt"));
}

TEST_F(UnrarLibrary, DamagedOrForeignInputFailsCleanly) {
    test::WriteFile(tmp_ / "not.rar", std::string("this is not an archive"));
    Session notRar(tmp_ / "not.rar");
    EXPECT_EQ(notRar.h(), nullptr);
    EXPECT_EQ(notRar.openResult, static_cast<unsigned>(RAR_ERR_BAD_ARCHIVE));
    Session missing(tmp_ / "missing.rar");
    EXPECT_EQ(missing.openResult, static_cast<unsigned>(RAR_ERR_EOPEN));
    // A header whose CRC is broken stops the walk with a bad-header code, not a crash or a guess.
    std::vector<uint8_t> bytes = test::MakeRar4({{"a.txt", "abc"}});
    bytes[7 + 13 + 20] ^= 0x55;
    test::WriteFile(tmp_ / "bad.rar", bytes);
    Session bad(tmp_ / "bad.rar");
    RARHeaderData h;
    EXPECT_EQ(Lib().readHeader(bad.h(), &h), RAR_ERR_BAD_DATA);
    EXPECT_EQ(Lib().readHeader(bad.h(), &h), RAR_ERR_BAD_DATA);
}

TEST(UnrarVolumeNames, BothNamingSchemes) {
    EXPECT_EQ(unrar::NextVolumeName("/d/a.part1.rar"), "/d/a.part2.rar");
    EXPECT_EQ(unrar::NextVolumeName("/d/a.part09.rar"), "/d/a.part10.rar");
    EXPECT_EQ(unrar::NextVolumeName("/d/a.part99.rar"), "/d/a.part100.rar");
    EXPECT_EQ(unrar::NextVolumeName("/d/A.PART1.RAR"), "/d/A.PART2.RAR");
    EXPECT_EQ(unrar::NextVolumeName("/d/a.rar"), "/d/a.r00");
    EXPECT_EQ(unrar::NextVolumeName("/d/a.exe"), "/d/a.r00");
    EXPECT_EQ(unrar::NextVolumeName("/d/a.r00"), "/d/a.r01");
    EXPECT_EQ(unrar::NextVolumeName("/d/a.r99"), "/d/a.s00");
    EXPECT_EQ(unrar::NextVolumeName("/d.x/a"), "");
}

// ---- the real samples ----

fs::path Sample(const std::string& rel) {
    const fs::path p = test::Fixture("rar/" + rel);
    return fs::exists(p) ? p : fs::path();
}

TEST_F(UnrarLibrary, EveryVolumeOfBothSchemesIsConfirmedByTheCallback) {
    for (const char* first : {"vols3_rarfile/rar3-vols.part1.rar", "old_rarfile/rar3-old.rar",
                              "vols5_rarfile/rar5-vols.part1.rar"}) {
        const fs::path p = Sample(first);
        if (p.empty()) GTEST_SKIP() << "fixtures absent";
        Session s(p);
        ASSERT_NE(s.h(), nullptr) << first;
        RARHeaderData h;
        std::vector<std::string> sizes;
        while (Lib().readHeader(s.h(), &h) == RAR_OK) {
            rec.data.clear();
            ASSERT_EQ(Lib().process(s.h(), RAR_TEST, nullptr, nullptr), RAR_OK) << first << ": " << s.Error();
            sizes.push_back(std::to_string(rec.data.size()));
        }
        EXPECT_EQ(sizes, (std::vector<std::string>{"205000", "2050"})) << first;
        ASSERT_EQ(rec.volumes.size(), 2u) << first;  // each further volume asked for once
        EXPECT_EQ(fs::path(rec.volumes[0]).parent_path(), p.parent_path());
    }
}

TEST_F(UnrarLibrary, RefusedVolumeBreaksTheChain) {
    const fs::path p = Sample("vols5_rarfile/rar5-vols.part1.rar");
    if (p.empty()) GTEST_SKIP() << "fixtures absent";
    Session s(p);
    rec.refuseVolume = 2;
    RARHeaderData h;
    ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
    EXPECT_EQ(Lib().process(s.h(), RAR_EXTRACT, tmp_.Path().c_str(), nullptr), RAR_ERR_VOLUME) << s.Error() << rec.volumes.size();
    EXPECT_FALSE(fs::exists(tmp_ / "vols" / "bigfile.txt"));
    EXPECT_EQ(rec.volumes.size(), 2u);  // nothing opened past the refusal
}

TEST_F(UnrarLibrary, EncryptedDataWantsItsPasswordAndHeadersTheirs) {
    const fs::path psw = Sample("rarfile_rar202-comment-psw.rar");
    const fs::path hpsw = Sample("rarfile_rar5-hpsw.rar");
    const fs::path rar2 = Sample("sharpcompress_Rar2.rar");
    if (psw.empty() || hpsw.empty() || rar2.empty()) GTEST_SKIP() << "fixtures absent";
    RARHeaderData h;
    {
        Session s(psw);
        ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
        EXPECT_TRUE(h.Flags & RAR_FLAG_PASSWORD);
        EXPECT_EQ(Lib().process(s.h(), RAR_TEST, nullptr, nullptr), RAR_ERR_PASSWORD);
        // With the password the next entry decrypts and comes out.
        Lib().setPassword(s.h(), "password");
        ASSERT_EQ(Lib().readHeader(s.h(), &h), RAR_OK);
        EXPECT_EQ(Lib().process(s.h(), RAR_EXTRACT, tmp_.Path().c_str(), nullptr), RAR_OK);
        EXPECT_TRUE(fs::exists(tmp_ / "FILE2.TXT"));
    }
    {
        Session s(hpsw);
        ASSERT_NE(s.h(), nullptr);
        EXPECT_EQ(Lib().readHeader(s.h(), &h), RAR_ERR_PASSWORD);
    }
    {
        // RAR 2.0 compression is decoded: every entry tests whole and its data reach the callback.
        Session s(rar2);
        rec.data.clear();
        int decoded = 0;
        while (Lib().readHeader(s.h(), &h) == RAR_OK)
            if ((h.Flags & RAR_FLAG_DIRECTORY) != RAR_FLAG_DIRECTORY &&
                Lib().process(s.h(), RAR_TEST, nullptr, nullptr) == RAR_OK)
                ++decoded;
        EXPECT_EQ(decoded, 3);
        EXPECT_EQ(rec.data.size(), 45056u + 40372u + 15498u);
    }
}

}  // namespace
}  // namespace varnok
