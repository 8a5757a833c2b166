// The cabinet engine library through its exported FDI entry points (the built shared object, opened as the
// program opens it): cabinets are served from memory through the callbacks only, so any byte read another
// way shows up as a failure; decoded data, skips, damaged blocks, sets and the caller's answers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engines/cabinet/fdi.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

struct Library {
    void* handle = nullptr;
    FDICreateFunc create = nullptr;
    FDIIsCabinetFunc isCabinet = nullptr;
    FDICopyFunc copy = nullptr;
    FDIDestroyFunc destroy = nullptr;
    Library() {
        handle = dlopen(VARNOK_CABINET_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        create = reinterpret_cast<FDICreateFunc>(dlsym(handle, "FDICreate"));
        isCabinet = reinterpret_cast<FDIIsCabinetFunc>(dlsym(handle, "FDIIsCabinet"));
        copy = reinterpret_cast<FDICopyFunc>(dlsym(handle, "FDICopy"));
        destroy = reinterpret_cast<FDIDestroyFunc>(dlsym(handle, "FDIDestroy"));
    }
};

const Library& Lib() {
    static Library lib;
    return lib;
}

// The files the library may open: names (as the library asks for them) to contents. Nothing is on disk.
struct World {
    std::map<std::string, std::vector<uint8_t>> files;
    struct Open {
        std::string name;
        uint64_t pos = 0;
    };
    std::map<intptr_t, Open> open;
    intptr_t nextHandle = 100;
    uint64_t bytesRead = 0;
    std::vector<std::string> opened;
    // Outputs: handle -> data written; names of files finished whole and of handles closed as failed.
    std::map<intptr_t, std::string> outputs;
    std::map<std::string, std::string> delivered;
    std::vector<std::string> failed;
    std::vector<ERF> failedWhy;
    std::vector<std::string> partial;
    std::vector<std::string> asked;  // next cabinets asked for (psz1 as proposed)
    std::vector<FDIERROR> askedWhy;
    int writeLimit = -1;  // accept at most this many bytes per write (short write) when >= 0
    std::function<intptr_t(FDINOTIFICATION&)> onCopy;
    std::function<intptr_t(FDINOTIFICATION&)> onNext;
    std::map<intptr_t, std::string> names;  // output handle -> file name
    intptr_t nextOutput = 1;
    ERF erf{};
};

World* g = nullptr;

void* Alloc(unsigned long n) {
    return std::malloc(n ? n : 1);
}
void Free(void* p) {
    std::free(p);
}
intptr_t OpenCb(char* name, int flags, int) {
    if ((flags & 3) != FDI_O_RDONLY) return -1;
    g->opened.push_back(name);
    if (!g->files.count(name)) return -1;
    intptr_t h = g->nextHandle++;
    g->open[h] = {name, 0};
    return h;
}
unsigned ReadCb(intptr_t hf, void* buf, unsigned n) {
    auto it = g->open.find(hf);
    if (it == g->open.end()) return static_cast<unsigned>(-1);
    const auto& data = g->files[it->second.name];
    uint64_t avail = it->second.pos < data.size() ? data.size() - it->second.pos : 0;
    unsigned take = static_cast<unsigned>(std::min<uint64_t>(avail, n));
    std::memcpy(buf, data.data() + it->second.pos, take);
    it->second.pos += take;
    g->bytesRead += take;
    return take;
}
unsigned WriteCb(intptr_t hf, void* buf, unsigned n) {
    if (!g->outputs.count(hf) && !g->names.count(hf)) return static_cast<unsigned>(-1);
    unsigned take = g->writeLimit >= 0 ? std::min<unsigned>(n, static_cast<unsigned>(g->writeLimit)) : n;
    g->outputs[hf].append(static_cast<char*>(buf), take);
    return take;
}
int CloseCb(intptr_t hf) {
    if (g->open.erase(hf)) return 0;
    auto it = g->names.find(hf);
    if (it == g->names.end()) return -1;
    // The library closes an output handle only when the file failed.
    g->failed.push_back(it->second);
    g->failedWhy.push_back(g->erf);
    g->names.erase(it);
    g->outputs.erase(hf);
    return 0;
}
long SeekCb(intptr_t hf, long dist, int type) {
    auto it = g->open.find(hf);
    if (it == g->open.end()) return -1;
    int64_t base = type == 0 ? 0 : type == 1 ? static_cast<int64_t>(it->second.pos)
                                             : static_cast<int64_t>(g->files[it->second.name].size());
    int64_t to = base + dist;
    if (to < 0) return -1;
    it->second.pos = static_cast<uint64_t>(to);
    return static_cast<long>(to);
}
intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) {
    switch (type) {
        case fdintCOPY_FILE: {
            intptr_t r = g->onCopy ? g->onCopy(*n) : 1;
            if (r > 0) {
                r = g->nextOutput++;
                g->names[r] = n->psz1;
                g->outputs[r];
            }
            return r;
        }
        case fdintCLOSE_FILE_INFO: {
            EXPECT_TRUE(g->names.count(n->hf));
            g->delivered[n->psz1] = g->outputs[n->hf];
            g->names.erase(n->hf);
            g->outputs.erase(n->hf);
            return 1;
        }
        case fdintPARTIAL_FILE:
            g->partial.push_back(n->psz1);
            return 0;
        case fdintNEXT_CABINET:
            g->asked.push_back(n->psz1);
            g->askedWhy.push_back(n->fdie);
            return g->onNext ? g->onNext(*n) : -1;
        default:
            return 0;
    }
}

class Fdi : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Lib().handle, nullptr) << dlerror();
        ASSERT_TRUE(Lib().create && Lib().isCabinet && Lib().copy && Lib().destroy);
        g = &w;
        h = Lib().create(Alloc, Free, OpenCb, ReadCb, WriteCb, CloseCb, SeekCb, cpuUNKNOWN, &w.erf);
        ASSERT_NE(h, nullptr);
    }
    void TearDown() override {
        if (h) {
            EXPECT_TRUE(Lib().destroy(h));
        }
        EXPECT_TRUE(w.open.empty()) << "a cabinet handle was left open";
        g = nullptr;
    }
    // Serves a file under a name in the library's world.
    void Serve(const std::string& name, const fs::path& from) { w.files[name] = test::ReadFile(from); }
    bool Copy(const std::string& cabinet, const std::string& path = "mem/") {
        return Lib().copy(h, const_cast<char*>(cabinet.c_str()), const_cast<char*>(path.c_str()), 0, Notify,
                          nullptr, nullptr);
    }

    World w;
    HFDI h = nullptr;
};

std::string Sha(const std::string& s) {
    return test::Sha256Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Offsets of the folders' first data blocks (CFFOLDER coffCabStart), for damaging them.
std::vector<uint32_t> FolderStarts(const std::vector<uint8_t>& cab) {
    uint16_t folders = static_cast<uint16_t>(cab[26] | cab[27] << 8);
    uint16_t flags = static_cast<uint16_t>(cab[30] | cab[31] << 8);
    size_t p = 36;
    uint8_t folderReserve = 0;
    if (flags & 4) {
        uint16_t headerReserve = static_cast<uint16_t>(cab[p] | cab[p + 1] << 8);
        folderReserve = cab[p + 2];
        p += 4 + headerReserve;
    }
    for (int k = 0; k < ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); ++k)
        p = static_cast<size_t>(std::find(cab.begin() + static_cast<long>(p), cab.end(), 0) - cab.begin()) + 1;
    std::vector<uint32_t> out;
    for (uint16_t i = 0; i < folders; ++i, p += 8 + folderReserve)
        out.push_back(static_cast<uint32_t>(cab[p] | cab[p + 1] << 8 | cab[p + 2] << 16 | cab[p + 3] << 24));
    return out;
}

// ---- Decoding: every single-cabinet fixture, through the callbacks only ----

TEST_F(Fdi, EveryFixtureFileIsDeliveredWholeAsThePeersExtractedIt) {
    if (test::FixturesDir().empty()) {
        GTEST_SKIP() << "fixtures not available";
    }
    int compared = 0;
    for (const std::string& rel : test::FixturesOfFormat("cab")) {
        if (rel.find("/multi_") != std::string::npos || rel.find("/split_") != std::string::npos) continue;
        auto rows = test::ExtractedFiles(rel);
        if (rows.empty()) continue;
        SCOPED_TRACE(rel);
        World fresh;
        w = fresh;
        Serve("mem/x.cab", test::FixturesDir() / rel);
        EXPECT_TRUE(Copy("x.cab")) << "erf " << w.erf.erfOper << "/" << w.erf.erfType;
        EXPECT_TRUE(w.failed.empty());
        for (const auto& row : rows) {
            std::string stored = row.entry;
            for (char& c : stored)
                if (c == '/') c = '\\';
            auto it = w.delivered.find(stored);
            if (it == w.delivered.end()) it = w.delivered.find(row.entry);
            ASSERT_NE(it, w.delivered.end()) << row.entry;
            EXPECT_EQ(Sha(it->second), row.sha256) << row.entry;
            ++compared;
        }
    }
    EXPECT_GT(compared, 30);
}

TEST_F(Fdi, IsCabinetReadsTheHeaderThroughTheHandle) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/cabextract_mixed.cab");
    Serve("c", path);
    w.files["not"] = std::vector<uint8_t>(100, 'x');
    FDICABINETINFO info{};
    intptr_t hf = OpenCb(const_cast<char*>("c"), 0, 0);
    EXPECT_TRUE(Lib().isCabinet(h, hf, &info));
    EXPECT_EQ(info.cFolders, 3);
    EXPECT_EQ(info.cFiles, 3);
    EXPECT_EQ(static_cast<size_t>(info.cbCabinet), w.files["c"].size());
    CloseCb(hf);
    hf = OpenCb(const_cast<char*>("not"), 0, 0);
    EXPECT_FALSE(Lib().isCabinet(h, hf, &info));
    EXPECT_FALSE(w.erf.fError);
    CloseCb(hf);
}

// ---- Listing and skipping ----

TEST_F(Fdi, ACopyThatSkipsEveryFileDecodesNothing) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/split_cabextract/split-1.cab");
    Serve("mem/x.cab", path);
    std::vector<std::string> seen;
    w.onCopy = [&](FDINOTIFICATION& n) {
        seen.push_back(n.psz1);
        return intptr_t{0};
    };
    EXPECT_TRUE(Copy("x.cab"));
    EXPECT_EQ(seen, (std::vector<std::string>{"small1.bin", "small2.bin", "medium1.bin"}));
    EXPECT_TRUE(w.asked.empty()) << "a listing asked for the next cabinet";
    // Only the headers are read: a small part of the 30,000-byte cabinet.
    EXPECT_LT(w.bytesRead, w.files["mem/x.cab"].size() / 8);
}

TEST_F(Fdi, ASkippedFileBeforeATakenOneInItsFolderIsNeverWritten) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/libarchive_cab_3.cab");
    Serve("mem/x.cab", path);
    auto rows = test::ExtractedFiles("cab/libarchive_cab_3.cab");
    w.onCopy = [](FDINOTIFICATION& n) { return intptr_t{std::string(n.psz1) == "zero" ? 1 : 0}; };
    EXPECT_TRUE(Copy("x.cab"));
    ASSERT_EQ(w.delivered.size(), 1u);
    ASSERT_TRUE(w.delivered.count("zero"));
    for (const auto& r : rows)
        if (r.entry == "zero") {
            EXPECT_EQ(Sha(w.delivered["zero"]), r.sha256);
        }
}

TEST_F(Fdi, StoppingAtACopyNotificationEndsTheCopyAsAbort) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/cabextract_mixed.cab");
    Serve("mem/x.cab", path);
    int calls = 0;
    w.onCopy = [&](FDINOTIFICATION&) { return intptr_t{++calls == 2 ? -1 : 1}; };
    EXPECT_FALSE(Copy("x.cab"));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(w.delivered.size(), 1u);
    EXPECT_EQ(w.erf.erfOper, FDIERROR_USER_ABORT);
}

// ---- Damage ----

TEST_F(Fdi, ADamagedBlockFailsItsFileAndTheOtherFoldersStillCome) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/cabextract_mixed.cab");
    auto data = test::ReadFile(path);
    auto starts = FolderStarts(data);
    ASSERT_EQ(starts.size(), 3u);
    data[starts[0] + 8 + 3] ^= 0x55;  // a byte of the first folder's first block (its checksum is set)
    w.files["mem/x.cab"] = data;
    EXPECT_FALSE(Copy("x.cab"));
    ASSERT_EQ(w.failed.size(), 1u);
    EXPECT_EQ(w.failedWhy[0].erfOper, FDIERROR_CORRUPT_CABINET);
    EXPECT_EQ(w.failedWhy[0].erfType, FDI_REASON_CHECKSUM);
    EXPECT_EQ(w.delivered.size(), 2u);
    EXPECT_FALSE(w.delivered.count(w.failed[0]));
    EXPECT_TRUE(w.erf.fError);
}

TEST_F(Fdi, ACabinetCutShortFailsTheFilesPastItsEnd) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/libarchive_cab_2.cab");
    auto data = test::ReadFile(path);
    data.resize(data.size() - 40);
    w.files["mem/x.cab"] = data;
    EXPECT_FALSE(Copy("x.cab"));
    EXPECT_FALSE(w.failed.empty());
    for (const auto& [name, bytes] : w.delivered)
        for (const auto& r : test::ExtractedFiles("cab/libarchive_cab_2.cab"))
            if (r.entry == name) {
                EXPECT_EQ(Sha(bytes), r.sha256) << name;
            }
}

TEST_F(Fdi, AShortWriteStopsTheCopy) {
    VARNOK_REQUIRE_FIXTURE(path, "cab/libarchive_cab_2.cab");
    Serve("mem/x.cab", path);
    w.writeLimit = 10;
    EXPECT_FALSE(Copy("x.cab"));
    EXPECT_EQ(w.erf.erfOper, FDIERROR_TARGET_FILE);
    EXPECT_EQ(w.failed.size(), 1u);
}

TEST_F(Fdi, AMissingCabinetIsNotFoundAndANonCabinetIsNotACabinet) {
    EXPECT_FALSE(Copy("absent.cab"));
    EXPECT_EQ(w.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
    w.files["mem/text.cab"] = std::vector<uint8_t>(500, 'a');
    EXPECT_FALSE(Copy("text.cab"));
    EXPECT_EQ(w.erf.erfOper, FDIERROR_NOT_A_CABINET);
}

// ---- Sets ----

class FdiSet : public Fdi {
  protected:
    // False when the fixtures are absent (the test then skips itself: a skip here would only leave this helper).
    bool ServeSplit() {
        for (int i = 1; i <= 5; ++i) {
            auto p = test::Fixture("cab/split_cabextract/split-" + std::to_string(i) + ".cab");
            if (p.empty()) return false;
            Serve("mem/split-" + std::to_string(i) + ".cab", p);
        }
        // The headers name the next cabinets "Split-2.CAB" and so on: the caller finds them by another case.
        w.onNext = [](FDINOTIFICATION& n) {
            std::string name = n.psz1;
            for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            std::snprintf(n.psz1, FDI_MAX_CABINET_NAME, "%s", name.c_str());
            return intptr_t{0};
        };
        return true;
    }
};

TEST_F(FdiSet, AFileContinuedIntoTheNextCabinetsIsDeliveredWholeAskingOncePerCabinet) {
    if (!ServeSplit()) GTEST_SKIP() << "fixtures not available";
    auto rows = test::ExtractedFiles("cab/split_cabextract/split-1.cab");
    std::map<std::string, std::string> all;
    std::vector<std::string> asked;
    for (int i = 1; i <= 5; ++i) {
        w.delivered.clear();
        w.asked.clear();
        EXPECT_TRUE(Copy("split-" + std::to_string(i) + ".cab")) << i;
        asked.insert(asked.end(), w.asked.begin(), w.asked.end());
        for (const auto& [n, d] : w.delivered) {
            EXPECT_FALSE(all.count(n)) << n << " delivered twice";
            all[n] = d;
        }
    }
    // medium1 needs split-2; medium2 split-3 and split-4; medium3 split-5.
    EXPECT_EQ(asked, (std::vector<std::string>{"Split-2.CAB", "Split-3.CAB", "Split-4.CAB", "Split-5.CAB"}));
    ASSERT_EQ(rows.size(), 6u);
    for (const auto& r : rows) EXPECT_EQ(Sha(all[r.entry]), r.sha256) << r.entry;
    EXPECT_FALSE(w.partial.empty());
}

TEST_F(FdiSet, ARefusedNextCabinetFailsEveryFileThatNeedsItAndAsksOnce) {
    if (!ServeSplit()) GTEST_SKIP() << "fixtures not available";
    w.onNext = [](FDINOTIFICATION&) { return intptr_t{-1}; };
    EXPECT_FALSE(Copy("split-1.cab"));
    EXPECT_EQ(w.asked.size(), 1u);
    EXPECT_EQ(w.delivered.size(), 1u);
    EXPECT_TRUE(w.delivered.count("small1.bin"));
    EXPECT_EQ(w.failed, (std::vector<std::string>{"small2.bin", "medium1.bin"}));
    for (const ERF& e : w.failedWhy) EXPECT_EQ(e.erfType, FDI_REASON_SET);
}

TEST_F(FdiSet, AWrongNextCabinetIsAskedForAgainWithTheReason) {
    if (!ServeSplit()) GTEST_SKIP() << "fixtures not available";
    int calls = 0;
    w.onNext = [&](FDINOTIFICATION& n) {
        // First the third cabinet of the set instead of the second, then the right one.
        std::snprintf(n.psz1, FDI_MAX_CABINET_NAME, "%s", ++calls == 1 ? "split-3.cab" : "split-2.cab");
        return intptr_t{0};
    };
    EXPECT_TRUE(Copy("split-1.cab"));
    ASSERT_EQ(w.askedWhy.size(), 2u);
    EXPECT_EQ(w.askedWhy[0], FDIERROR_NONE);
    EXPECT_EQ(w.askedWhy[1], FDIERROR_WRONG_CABINET);
    EXPECT_EQ(w.delivered.size(), 3u);
}

TEST_F(FdiSet, ANextCabinetInAnotherFolderIsReadFromTheFolderTheCallerGives) {
    if (!ServeSplit()) GTEST_SKIP() << "fixtures not available";
    w.files["elsewhere/split-2.cab"] = w.files["mem/split-2.cab"];
    w.files.erase("mem/split-2.cab");
    w.onNext = [](FDINOTIFICATION& n) {
        std::snprintf(n.psz1, FDI_MAX_CABINET_NAME, "split-2.cab");
        std::snprintf(n.psz3, FDI_MAX_CAB_PATH, "elsewhere/");
        return intptr_t{0};
    };
    EXPECT_TRUE(Copy("split-1.cab"));
    EXPECT_EQ(w.delivered.size(), 3u);
}

TEST_F(FdiSet, OneFolderOverFiveCabinetsComesWholeFromTheFirstCopy) {
    std::vector<std::string> names;
    for (int i = 1; i <= 5; ++i) {
        std::string n = "cabd_multi_basic_pt" + std::to_string(i) + ".cab";
        auto p = test::Fixture("cab/multi_libmspack/" + n);
        if (p.empty()) {
            GTEST_SKIP() << "fixtures not available";
        }
        Serve("mem/" + n, p);
    }
    w.onNext = [](FDINOTIFICATION&) { return intptr_t{0}; };
    EXPECT_TRUE(Copy("cabd_multi_basic_pt1.cab"));
    EXPECT_EQ(w.asked.size(), 4u);
    auto rows = test::ExtractedFiles("cab/multi_libmspack/cabd_multi_basic_pt1.cab");
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& r : rows) EXPECT_EQ(Sha(w.delivered[r.entry]), r.sha256) << r.entry;
    // The later cabinets hold only parts of that folder.
    w.delivered.clear();
    EXPECT_TRUE(Copy("cabd_multi_basic_pt3.cab"));
    EXPECT_TRUE(w.delivered.empty());
    EXPECT_EQ(w.partial.size(), 3u);
}

}  // namespace
}  // namespace varnok
