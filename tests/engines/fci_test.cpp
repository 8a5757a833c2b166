// The cabinet writer library through its exported FCI entry points (the built shared object, opened as the
// program opens it). Cabinets are written through callbacks on real files and read back by the peers
// (cabextract, 7-Zip, bsdtar) byte for byte; the records are checked where the peers would not notice
// (cabinet sizes of a set, the name-is-UTF flag, folders); failures leave the context as the header says
// and never leave temporary files behind.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engines/fci/fci.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Library {
    void* handle = nullptr;
    FCICreateFunc create = nullptr;
    FCIAddFileFunc add = nullptr;
    FCIFlushCabinetFunc flushCabinet = nullptr;
    FCIFlushFolderFunc flushFolder = nullptr;
    FCIDestroyFunc destroy = nullptr;
    Library() {
        handle = dlopen(VARNOK_FCI_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        create = reinterpret_cast<FCICreateFunc>(dlsym(handle, "FCICreate"));
        add = reinterpret_cast<FCIAddFileFunc>(dlsym(handle, "FCIAddFile"));
        flushCabinet = reinterpret_cast<FCIFlushCabinetFunc>(dlsym(handle, "FCIFlushCabinet"));
        flushFolder = reinterpret_cast<FCIFlushFolderFunc>(dlsym(handle, "FCIFlushFolder"));
        destroy = reinterpret_cast<FCIDestroyFunc>(dlsym(handle, "FCIDestroy"));
    }
};

const Library& Lib() {
    static Library lib;
    return lib;
}

// The caller's side: real files, with every name the library opens, deletes or is given recorded.
struct World {
    fs::path tempDir;
    int tempCount = 0;
    std::set<std::string> tempsGiven;
    std::vector<std::string> opened;
    std::set<intptr_t> open;
    std::vector<std::string> deleted;
    // Next cabinets: the names handed out in turn; refused when empty.
    std::vector<std::string> nextNames;
    std::vector<unsigned long> nextEstimates;
    std::vector<std::string> placed;
    std::string failOpenInfoFor;
    int abortAfterBlocks = -1;
    int blocks = 0;
    int cabinetStatus = 0;
};

World* W(void* pv) { return static_cast<World*>(pv); }

void* Alloc(unsigned long cb) { return std::malloc(cb); }
void Free(void* p) { std::free(p); }

int PosixFlags(int oflag) {
    int f = (oflag & FCI_O_RDWR) ? O_RDWR : O_RDONLY;
    if (oflag & FCI_O_CREAT) f |= O_CREAT;
    if (oflag & FCI_O_TRUNC) f |= O_TRUNC;
    if (oflag & FCI_O_EXCL) f |= O_EXCL;
    return f;
}

intptr_t Open(char* name, int oflag, int, int* err, void* pv) {
    int fd = ::open(name, PosixFlags(oflag), 0600);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    W(pv)->opened.push_back(name);
    W(pv)->open.insert(fd);
    return fd;
}
unsigned Read(intptr_t hf, void* p, unsigned cb, int* err, void*) {
    ssize_t n = ::read(static_cast<int>(hf), p, cb);
    if (n < 0) *err = errno;
    return n < 0 ? static_cast<unsigned>(-1) : static_cast<unsigned>(n);
}
unsigned Write(intptr_t hf, void* p, unsigned cb, int* err, void*) {
    ssize_t n = ::write(static_cast<int>(hf), p, cb);
    if (n < 0) *err = errno;
    return n < 0 ? static_cast<unsigned>(-1) : static_cast<unsigned>(n);
}
int Close(intptr_t hf, int* err, void* pv) {
    W(pv)->open.erase(hf);
    if (::close(static_cast<int>(hf)) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}
long Seek(intptr_t hf, long dist, int type, int* err, void*) {
    off_t r = ::lseek(static_cast<int>(hf), dist, type == 0 ? SEEK_SET : type == 1 ? SEEK_CUR : SEEK_END);
    if (r < 0) *err = errno;
    return static_cast<long>(r);
}
int Delete(char* name, int* err, void* pv) {
    W(pv)->deleted.push_back(name);
    if (::unlink(name) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}
int Temp(char* buf, int size, void* pv) {
    std::string n = (W(pv)->tempDir / ("fci" + std::to_string(++W(pv)->tempCount) + ".tmp")).string();
    if (n.size() + 1 > static_cast<size_t>(size)) return 0;
    std::memcpy(buf, n.c_str(), n.size() + 1);
    W(pv)->tempsGiven.insert(n);
    return 1;
}
int Placed(PCCAB, char* name, long, int continuation, void* pv) {
    W(pv)->placed.push_back(std::string(continuation ? "+" : "") + name);
    return 0;
}
int NextCab(PCCAB ccab, unsigned long estimate, void* pv) {
    World* w = W(pv);
    w->nextEstimates.push_back(estimate);
    if (w->nextNames.empty()) return 0;
    std::snprintf(ccab->szCab, sizeof ccab->szCab, "%s", w->nextNames.front().c_str());
    w->nextNames.erase(w->nextNames.begin());
    return 1;
}
long Status(unsigned type, unsigned long, unsigned long, void* pv) {
    World* w = W(pv);
    if (type == statusCabinet) ++w->cabinetStatus;
    if (type == statusFile && w->abortAfterBlocks >= 0 && ++w->blocks > w->abortAfterBlocks) return -1;
    return 0;
}
intptr_t OpenInfo(char* name, unsigned short* date, unsigned short* time, unsigned short* attribs, int* err,
                  void* pv) {
    if (W(pv)->failOpenInfoFor == name) {
        *err = ENOENT;
        return -1;
    }
    *date = static_cast<unsigned short>(((2021 - 1980) << 9) | (7 << 5) | 14);
    *time = static_cast<unsigned short>((12 << 11) | (34 << 5) | (56 / 2));
    *attribs = FCI_A_ARCH;
    int fd = ::open(name, O_RDONLY);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    W(pv)->opened.push_back(name);
    W(pv)->open.insert(fd);
    return fd;
}

struct Source {
    std::string name;  // in the cabinet, "\" between folders
    std::string data;
};

std::string Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::string Text(size_t n, uint32_t seed) {
    static const char* words[] = {"cabinet ", "folder ", "block ", "data ", "file ", "set ", "\n"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += words[rng() % 7];
    s.resize(n);
    return s;
}

// Writes the sources into dir/name (and further cabinets the world names), one FCIAddFile each.
class Writer {
  public:
    Writer(const fs::path& dir, const std::string& name, unsigned long cb = 0, unsigned long threshold = 900000)
        : dir_(dir) {
        world.tempDir = dir / "tmp";
        fs::create_directories(world.tempDir);
        fs::create_directories(dir / "src");
        ccab.cb = cb;
        ccab.cbFolderThresh = threshold;
        ccab.setID = 0x1234;
        std::snprintf(ccab.szCab, sizeof ccab.szCab, "%s", name.c_str());
        std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s/", dir.c_str());
    }
    ~Writer() {
        if (h) Lib().destroy(h);
    }
    bool Create() {
        h = Lib().create(&erf, Placed, Alloc, Free, Open, Read, Write, Close, Seek, Delete, Temp, &ccab, &world);
        return h != nullptr;
    }
    bool Add(const Source& s, TCOMP t) {
        const auto path = dir_ / "src" / std::to_string(count_++);
        test::WriteFile(path, s.data);
        std::string p = path.string(), n = s.name;
        return Lib().add(h, p.data(), n.data(), 0, NextCab, Status, OpenInfo, t);
    }
    bool AddAll(const std::vector<Source>& files, TCOMP t) {
        for (const auto& s : files)
            if (!Add(s, t)) return false;
        return true;
    }
    bool Flush() { return Lib().flushCabinet(h, 0, NextCab, Status); }
    void Destroy() {
        EXPECT_TRUE(Lib().destroy(h));
        h = nullptr;
    }
    // No temporary file is left, and every file the library opened was closed.
    void ExpectClean() {
        EXPECT_TRUE(world.open.empty()) << world.open.size() << " handles left open";
        EXPECT_TRUE(fs::is_empty(world.tempDir)) << "temporary files left behind";
    }

    World world;
    CCAB ccab{};
    ERF erf{};
    HFCI h = nullptr;

  private:
    fs::path dir_;
    int count_ = 0;
};

// The files a peer extracts from cab into out, by their path below out.
std::map<std::string, std::string> Extracted(const fs::path& out) {
    std::map<std::string, std::string> m;
    if (!fs::exists(out)) return m;
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.is_regular_file()) {
            auto data = test::ReadFile(e.path());
            m[fs::relative(e.path(), out).string()] = std::string(data.begin(), data.end());
        }
    return m;
}

std::map<std::string, std::string> Expected(const std::vector<Source>& files) {
    std::map<std::string, std::string> m;
    for (const auto& s : files) {
        std::string n = s.name;
        for (auto& c : n)
            if (c == '\\') c = '/';
        m[n] = s.data;
    }
    return m;
}

// Every installed peer that reads the compression gives back exactly the files.
void ExpectPeersRead(const fs::path& cab, const std::vector<Source>& files, bool bsdtarReads,
                     const std::string& label) {
    const auto want = Expected(files);
    struct Peer {
        const char* tool;
        std::string command;
        bool use;
    };
    const fs::path base = cab.parent_path() / ("out-" + label);
    const std::vector<Peer> peers = {
        {"cabextract", "cabextract -q -d " + test::Quote(base / "cabextract") + " " + test::Quote(cab), true},
        {"7z", "7z x -y -o" + test::Quote(base / "7z") + " " + test::Quote(cab) + " >/dev/null", true},
        {"bsdtar", "mkdir -p " + test::Quote(base / "bsdtar") + " && bsdtar -xf " + test::Quote(cab) + " -C " +
                       test::Quote(base / "bsdtar"),
         bsdtarReads},
    };
    int ran = 0;
    for (const auto& p : peers) {
        if (!p.use || !test::HaveTool(p.tool)) continue;
        ++ran;
        std::string out;
        EXPECT_EQ(test::Run(p.command + " 2>&1", &out), 0) << label << ": " << p.tool << ": " << out;
        const auto got = Extracted(base / p.tool);
        EXPECT_EQ(got.size(), want.size()) << label << ": " << p.tool;
        for (const auto& [name, data] : want) {
            auto it = got.find(name);
            if (it == got.end()) {
                ADD_FAILURE() << label << ": " << p.tool << " does not give " << name;
                continue;
            }
            EXPECT_TRUE(it->second == data) << label << ": " << p.tool << " gives " << name << " with "
                                            << it->second.size() << " bytes, expected " << data.size();
        }
    }
    if (!ran) GTEST_SKIP() << "no cabinet peer installed";
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

struct Record {
    std::string name;
    uint16_t folder, attribs;
    uint32_t size;
};

// The folder count and the file records of a cabinet without reserved areas.
std::vector<Record> Records(const std::vector<uint8_t>& cab, uint16_t* folders = nullptr) {
    std::vector<Record> r;
    if (cab.size() < 36) return r;
    if (folders) *folders = Le16(cab, 26);
    size_t at = Le32(cab, 16);
    for (int i = 0; i < Le16(cab, 28) && at + 16 < cab.size(); ++i) {
        Record x;
        x.size = Le32(cab, at);
        x.folder = Le16(cab, at + 8);
        x.attribs = Le16(cab, at + 14);
        at += 16;
        while (at < cab.size() && cab[at])
            x.name.push_back(static_cast<char>(cab[at++]));
        ++at;
        r.push_back(x);
    }
    return r;
}

// The awkward set every method must carry: an empty file, a file of exactly one block, many small files,
// a file larger than the folder threshold, non-ASCII names, folders.
std::vector<Source> Awkward() {
    std::vector<Source> f;
    f.push_back({"empty.txt", ""});
    f.push_back({"one-block.bin", Text(32768, 1)});
    f.push_back({"random-block.bin", Random(32768, 2)});
    for (int i = 0; i < 120; ++i)
        f.push_back({"small\\f" + std::to_string(i) + ".txt", Text(static_cast<size_t>(i * 37 % 700), 10u + i)});
    f.push_back({"big\\large.bin", Text(180000, 3) + Random(70000, 4) + Text(50001, 5)});
    f.push_back({"Grüße\\日本語 ñ.txt", Text(5000, 6)});
    f.push_back({"also-empty", ""});
    return f;
}

class FciTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Lib().handle || !Lib().create || !Lib().add || !Lib().flushCabinet || !Lib().flushFolder ||
            !Lib().destroy)
            GTEST_SKIP() << "libvarnok-fci.so not loadable from " << VARNOK_FCI_PATH;
    }
};

TEST_F(FciTest, EveryCompressionReadBackExactlyByThePeers) {
    struct Method {
        TCOMP tcomp;
        const char* label;
        bool bsdtar;
    };
    const std::vector<Method> methods = {
        {tcompTYPE_NONE, "stored", true},
        {tcompTYPE_MSZIP, "mszip", true},
        {static_cast<TCOMP>(tcompTYPE_LZX | (15 << 8)), "lzx15", true},
        {static_cast<TCOMP>(tcompTYPE_LZX | (21 << 8)), "lzx21", true},
        {static_cast<TCOMP>(tcompTYPE_QUANTUM | (7 << 4) | (21 << 8)), "quantum7-21", false},
        {static_cast<TCOMP>(tcompTYPE_QUANTUM | (1 << 4) | (10 << 8)), "quantum1-10", false},
    };
    const auto files = Awkward();
    for (const auto& m : methods) {
        TempDir tmp;
        Writer w(tmp.Path(), "t.cab", 0, 100000);
        ASSERT_TRUE(w.Create());
        ASSERT_TRUE(w.AddAll(files, m.tcomp)) << m.label << ": error " << w.erf.erfOper;
        ASSERT_TRUE(w.Flush()) << m.label;
        w.Destroy();
        w.ExpectClean();
        const auto cab = test::ReadFile(tmp / "t.cab");
        uint16_t folders = 0;
        const auto recs = Records(cab, &folders);
        EXPECT_EQ(recs.size(), files.size()) << m.label;
        // 300 KB past a 100 KB threshold: the large file's folder closes after it, and the rest go on.
        EXPECT_GE(folders, 2) << m.label;
        ExpectPeersRead(tmp / "t.cab", files, m.bsdtar, m.label);
    }
}

TEST_F(FciTest, NonAsciiNamesCarryTheUtfFlagAndAsciiNamesDoNot) {
    TempDir tmp;
    Writer w(tmp.Path(), "t.cab");
    ASSERT_TRUE(w.Create());
    ASSERT_TRUE(w.AddAll({{"plain.txt", "a"}, {"Grüße.txt", "b"}, {"bad\xff.txt", "c"}}, tcompTYPE_MSZIP));
    ASSERT_TRUE(w.Flush());
    const auto recs = Records(test::ReadFile(tmp / "t.cab"));
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0].attribs & FCI_A_NAME_IS_UTF, 0);
    EXPECT_NE(recs[1].attribs & FCI_A_NAME_IS_UTF, 0);
    // Bytes that are not UTF-8 are a code-page name, stored as given without the flag.
    EXPECT_EQ(recs[2].attribs & FCI_A_NAME_IS_UTF, 0);
    EXPECT_EQ(recs[1].attribs & FCI_A_ARCH, FCI_A_ARCH);
}

// A set of small cabinets: every cabinet within the limit, linked by name, and the peers join the files
// split across them.
void WriteSet(TCOMP tcomp, const std::vector<Source>& files, const std::string& label, size_t minCabinets) {
    TempDir tmp;
    const unsigned long limit = 50000;
    Writer w(tmp.Path(), "set1.cab", limit, 900000);
    for (int i = 2; i < 40; ++i)
        w.world.nextNames.push_back("set" + std::to_string(i) + ".cab");
    ASSERT_TRUE(w.Create());
    ASSERT_TRUE(w.AddAll(files, tcomp)) << label << ": error " << w.erf.erfOper << "/" << w.erf.erfType;
    ASSERT_TRUE(w.Flush()) << label;
    w.Destroy();
    w.ExpectClean();
    size_t cabinets = 0;
    while (fs::exists(tmp / ("set" + std::to_string(cabinets + 1) + ".cab")))
        ++cabinets;
    EXPECT_GE(cabinets, minCabinets) << label;
    EXPECT_EQ(w.world.nextEstimates.size(), cabinets - 1) << label;
    for (size_t i = 1; i <= cabinets; ++i) {
        const auto cab = test::ReadFile(tmp / ("set" + std::to_string(i) + ".cab"));
        EXPECT_LE(cab.size(), limit) << label << " cabinet " << i;
        ASSERT_GE(cab.size(), 36u);
        EXPECT_EQ(Le16(cab, 32), 0x1234) << "set id";
        EXPECT_EQ(Le16(cab, 34), i - 1) << "number in the set";
        EXPECT_EQ(Le16(cab, 30) & 3, (i > 1 ? 1 : 0) | (i < cabinets ? 2 : 0)) << label << " links of " << i;
    }
    if (!test::HaveTool("cabextract")) GTEST_SKIP() << "peer tool not installed: cabextract";
    std::string out;
    ASSERT_EQ(test::Run("cabextract -q -d " + test::Quote(tmp / "out") + " " + test::Quote(tmp / "set1.cab") +
                            " 2>&1",
                        &out),
              0)
        << label << ": " << out;
    const auto got = Extracted(tmp / "out");
    const auto want = Expected(files);
    EXPECT_EQ(got.size(), want.size()) << label;
    for (const auto& [name, data] : want)
        EXPECT_TRUE(got.count(name) && got.at(name) == data) << label << ": " << name;
}

TEST_F(FciTest, SetsSplitFilesAcrossCabinetsThatCabextractJoins) {
    // Incompressible data spans cabinets in the middle of files.
    const std::vector<Source> files = {{"a.bin", Random(70000, 1)}, {"b.bin", Random(90001, 2)},
                                       {"empty", ""},
                                       {"c.bin", Random(20000, 3)}, {"d.txt", Text(30000, 4)}};
    WriteSet(tcompTYPE_NONE, files, "stored", 4);
    WriteSet(tcompTYPE_MSZIP, files, "mszip", 4);
    WriteSet(static_cast<TCOMP>(tcompTYPE_LZX | (16 << 8)), files, "lzx", 4);
    WriteSet(static_cast<TCOMP>(tcompTYPE_QUANTUM | (4 << 4) | (16 << 8)), files, "quantum", 4);
}

TEST_F(FciTest, ACutAtAFileBoundaryStartsANewFolderInTheNextCabinet) {
    // Files of exactly one block each: every cut between cabinets falls between two files, where no file
    // joins the folder's parts, so the next cabinet must start a folder of its own.
    std::vector<Source> files;
    for (int i = 0; i < 6; ++i)
        files.push_back({"f" + std::to_string(i), Random(32768, 20u + i)});
    WriteSet(tcompTYPE_NONE, files, "stored-aligned", 3);
    WriteSet(static_cast<TCOMP>(tcompTYPE_LZX | (21 << 8)), files, "lzx-aligned", 3);
}

TEST_F(FciTest, AFileThatCannotBeOpenedIsRefusedAndTheRestStillMakeACabinet) {
    TempDir tmp;
    Writer w(tmp.Path(), "t.cab");
    ASSERT_TRUE(w.Create());
    ASSERT_TRUE(w.Add({"one", Text(40000, 1)}, tcompTYPE_MSZIP));
    w.world.failOpenInfoFor = (tmp / "src" / "1").string();
    EXPECT_FALSE(w.Add({"two", "gone"}, tcompTYPE_MSZIP));
    EXPECT_EQ(w.erf.erfOper, FCIERR_OPEN_SRC);
    EXPECT_EQ(w.erf.erfType, ENOENT);
    EXPECT_TRUE(w.erf.fError);
    ASSERT_TRUE(w.Add({"three", Text(100, 2)}, tcompTYPE_MSZIP));
    ASSERT_TRUE(w.Flush());
    w.Destroy();
    w.ExpectClean();
    ExpectPeersRead(tmp / "t.cab", {{"one", Text(40000, 1)}, {"three", Text(100, 2)}}, true, "after-refusal");
}

TEST_F(FciTest, UnknownCompressionValuesAreRefusedBeforeAnythingIsRead) {
    TempDir tmp;
    Writer w(tmp.Path(), "t.cab");
    ASSERT_TRUE(w.Create());
    // Unknown type, LZX windows 2^14 and 2^22, a bit above the window, Quantum level 0 and 8, Quantum
    // windows 2^9 and 2^22.
    for (TCOMP t : {TCOMP{0x0004}, TCOMP{0x000F}, TCOMP{0x0E03}, TCOMP{0x1603}, TCOMP{0x2001}, TCOMP{0x1502},
                    TCOMP{0x1582}, TCOMP{0x0972}, TCOMP{0x1672}}) {
        w.erf = ERF{};
        EXPECT_FALSE(w.Add({"x", "data"}, t)) << std::hex << t;
        EXPECT_EQ(w.erf.erfOper, FCIERR_BAD_COMPR_TYPE) << std::hex << t;
    }
    EXPECT_TRUE(w.world.opened.empty()) << "a refused file was opened";
    // A Quantum level given with another type is ignored: 0x1573 is LZX with a 2^21 window.
    ASSERT_TRUE(w.Add({"x", Text(1000, 1)}, 0x1573));
    ASSERT_TRUE(w.Flush());
    const auto cab = test::ReadFile(tmp / "t.cab");
    ASSERT_GT(cab.size(), 44u);
    EXPECT_EQ(Le16(cab, 36 + 6), 0x1503);
}

TEST_F(FciTest, RefusedNextCabinetAbortsAndLeavesNoTemporaryFiles) {
    TempDir tmp;
    Writer w(tmp.Path(), "t.cab", 50000);
    ASSERT_TRUE(w.Create());
    EXPECT_FALSE(w.Add({"big", Random(200000, 1)}, tcompTYPE_NONE));
    EXPECT_EQ(w.erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_EQ(w.world.nextEstimates.size(), 1u);
    EXPECT_FALSE(fs::exists(tmp / "t.cab")) << "a cabinet was written without its next one";
    // The context is spent: nothing more is added or written.
    EXPECT_FALSE(w.Add({"more", "x"}, tcompTYPE_NONE));
    EXPECT_FALSE(w.Flush());
    w.Destroy();
    w.ExpectClean();
}

TEST_F(FciTest, StatusCallbackStopsTheRun) {
    TempDir tmp;
    Writer w(tmp.Path(), "t.cab");
    w.world.abortAfterBlocks = 2;
    ASSERT_TRUE(w.Create());
    EXPECT_FALSE(w.Add({"big", Text(300000, 1)}, tcompTYPE_MSZIP));
    EXPECT_EQ(w.erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_FALSE(w.Flush());
    EXPECT_FALSE(fs::exists(tmp / "t.cab"));
    w.Destroy();
    w.ExpectClean();
}

TEST_F(FciTest, CabinetParametersOutsideTheFormatAreRefused) {
    TempDir tmp;
    for (int c = 0; c < 4; ++c) {
        Writer w(tmp.Path(), "t.cab");
        if (c == 0) w.ccab.cb = 1000;                 // not even one block fits
        if (c == 1) w.ccab.cbReserveCFData = 256;     // a data block's reserve has one byte
        if (c == 2) w.ccab.szCab[0] = 0;              // no name
        if (c == 3) std::memset(w.ccab.szCab, 'x', sizeof w.ccab.szCab);  // no terminator
        EXPECT_FALSE(w.Create()) << c;
        EXPECT_EQ(w.erf.erfOper, FCIERR_CAB_FORMAT_LIMIT) << c;
    }
}

TEST_F(FciTest, ReservedAreasAndFlushFolderStillReadBack) {
    TempDir tmp;
    Writer w(tmp.Path(), "t.cab");
    w.ccab.cbReserveCFHeader = 20;
    w.ccab.cbReserveCFFolder = 3;
    w.ccab.cbReserveCFData = 7;
    ASSERT_TRUE(w.Create());
    const std::vector<Source> files = {{"a", Text(50000, 1)}, {"b", Text(10, 2)}, {"c", Random(40000, 3)}};
    ASSERT_TRUE(w.Add(files[0], tcompTYPE_MSZIP));
    ASSERT_TRUE(Lib().flushFolder(w.h, NextCab, Status));
    ASSERT_TRUE(w.Add(files[1], tcompTYPE_NONE));
    ASSERT_TRUE(w.Add(files[2], tcompTYPE_MSZIP));
    ASSERT_TRUE(w.Flush());
    const auto cab = test::ReadFile(tmp / "t.cab");
    EXPECT_EQ(Le16(cab, 26), 3) << "a folder per flush and per change of compression";
    ExpectPeersRead(tmp / "t.cab", files, false, "reserve");
}

TEST_F(FciTest, OnlyTheFiveEntryPointsAreExported) {
    if (!test::HaveTool("nm")) GTEST_SKIP() << "nm not installed";
    std::string out;
    ASSERT_EQ(test::Run(std::string("nm -D --defined-only ") + VARNOK_FCI_PATH + " | awk '{print $3}'", &out), 0);
    std::set<std::string> names;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        std::string n = out.substr(at, end - at);
        if (!n.empty() && n[0] != '_') names.insert(n);
        at = end + 1;
    }
    EXPECT_EQ(names, (std::set<std::string>{"FCIAddFile", "FCICreate", "FCIDestroy", "FCIFlushCabinet",
                                            "FCIFlushFolder"}));
}

}  // namespace
}  // namespace varnok
