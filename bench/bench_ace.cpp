// ACE decoding speed of the ACE engine (its test mode, in this process) next to the peers that read ACE, on:
//   - the ACE fixtures (single archives and the volume set), each decoded `repeats` times by us;
//   - larger solid archives made by the ACE test writer from files on this machine: text (/usr/share/dict,
//     uncompressed documentation under /usr/share/doc) and programs (/usr/bin), as ACE 1.0 (LZ77) and as ACE 2.0
//     (blocked; programs in EXE mode), every file with a comment (unace 1.2 as packaged skips files without one).
// Peers, one run of the command per archive, start-up included: unace 1.2 (`unace t`, ACE 1.0 only), acefile
// (`python3 <acefile.py> -t`, taken from $VARNOK_ACEFILE or an installed module), and unar when it reads ACE
// (checked on one archive first). Prints per part the unpacked megabytes, MB/s of each, and our speed relative
// to each peer's (above 1: faster than the peer). A peer that fails on a part is shown as such.
//
// Usage: bench_ace [megabytes per made part] [repeats of the fixtures]   (default 4 and 50)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "engines/unace/unace.h"
#include "engines/unace/unace_engine.h"
#include "platform/tempfile.h"
#include "tests/formats/ace/ace_test_writer.h"

namespace fs = std::filesystem;
namespace tw = varnok::test::ace;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::vector<uint8_t> ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string Quote(const fs::path& p) {
    std::string s = "'";
    for (char c : p.string()) {
        if (c == '\'')
            s += "'\\''";
        else
            s += c;
    }
    return s + "'";
}

bool Have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The first archive volume of a part, its unpacked size and whether a password is needed.
struct Archive {
    fs::path path;
    uint64_t unpacked = 0;
    std::string password;
    bool ace10 = true;  // every file is stored or ACE 1.0 LZ77
};

struct Part {
    std::string name;
    std::vector<Archive> archives;
    int ourRepeats = 1;
    uint64_t Bytes() const {
        uint64_t n = 0;
        for (const auto& a : archives)
            n += a.unpacked;
        return n;
    }
    bool Ace10() const {
        return std::all_of(archives.begin(), archives.end(), [](const Archive& a) { return a.ace10; });
    }
};

int AcceptVolume(void*, char*, int) {
    return 1;
}

// Decodes (tests) every file of the archive through the engine; the unpacked bytes, or -1 on a failure.
int64_t TestWithEngine(const Archive& a) {
    const std::string name = a.path.string();
    ACEOpenArchiveData d{};
    d.ArcName = name.c_str();
    d.OpenMode = ACE_OPEN_EXTRACT;
    d.ChangeVolProc = &AcceptVolume;
    void* h = varnok::unace::Open(&d);
    if (!h) return -1;
    if (!a.password.empty()) varnok::unace::SetPassword(h, a.password.c_str());
    ACEHeaderData hd;
    int64_t total = 0;
    bool ok = true;
    while (varnok::unace::ReadHeader(h, &hd) == ACE_OK) {
        if (varnok::unace::ProcessFile(h, ACE_TEST, nullptr) != ACE_OK) ok = false;
        total += static_cast<int64_t>(hd.UnpSize);
    }
    varnok::unace::Close(h);
    return ok ? total : -1;
}

// Seconds for one command per archive, or a negative value when a command failed.
template <class Command>
double TimePeer(const Part& part, Command command) {
    const auto t0 = Clock::now();
    for (const Archive& a : part.archives) {
        const std::string cmd = command(a);
        if (cmd.empty() || std::system(cmd.c_str()) != 0) return -1;
    }
    return Seconds(t0, Clock::now());
}

// Regular files under `root`, sorted, that `take` accepts, until `limit` bytes.
template <class Take>
std::vector<std::vector<uint8_t>> Collect(const fs::path& root, uint64_t limit, Take take) {
    std::vector<std::vector<uint8_t>> files;
    std::error_code ec;
    if (!fs::exists(root, ec)) return files;
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && take(it->path(), it->file_size(ec)))
            paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    uint64_t have = 0;
    for (const fs::path& p : paths) {
        if (have >= limit) break;
        auto data = ReadFile(p);
        if (data.empty()) continue;
        if (data.size() > limit - have) data.resize(static_cast<size_t>(limit - have));
        have += data.size();
        files.push_back(std::move(data));
    }
    return files;
}

bool IsText(const fs::path& p) {
    const std::string ext = p.extension().string();
    return ext != ".gz" && ext != ".xz" && ext != ".bz2" && ext != ".zst" && ext != ".png" && ext != ".jpg";
}

// A solid archive of the files in the given method (1: ACE 1.0; 2: ACE 2.0 blocked, EXE mode when `exe`).
Archive MakeArchive(const fs::path& path, const std::vector<std::vector<uint8_t>>& files, uint8_t type, bool exe) {
    tw::LzOptions o;
    o.exe = exe;
    const auto packed = tw::PackSolidChain(files, std::vector<uint8_t>(files.size(), type), o);
    std::vector<tw::FileEntry> entries;
    Archive a;
    a.path = path;
    a.ace10 = type == 1;
    for (size_t i = 0; i < files.size(); ++i) {
        entries.push_back(tw::MakeEntry("f" + std::to_string(i), files[i], type, packed[i]));
        if (i) entries.back().flags = 0x8000;
        const auto c = tw::PackComment("file " + std::to_string(i));
        entries.back().comment.assign(c.begin(), c.end());
        a.unpacked += files[i].size();
    }
    tw::ArchiveOptions opts;
    opts.mainFlags = 0x8000;
    opts.versionExtract = type == 1 ? 10 : 20;
    opts.versionMadeBy = type == 1 ? 10 : 20;
    const auto vols = tw::BuildArchive(entries, opts);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(vols[0].data()), static_cast<std::streamsize>(vols[0].size()));
    return a;
}

// The fixtures that open, with their unpacked totals (the encrypted one with its password).
Part FixturePart(int repeats) {
    Part part{"fixtures", {}, repeats};
    const char* env = std::getenv("VARNOK_FIXTURES");
    const fs::path dir = fs::path(env ? env : VARNOK_FIXTURES) / "ace";
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return part;
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        if (e.path().extension() == ".ace") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& p : paths) {
        Archive a;
        a.path = p;
        if (p.filename().string().find("encrypted") != std::string::npos) a.password = "test";
        const int64_t n = TestWithEngine(a);
        if (n < 0) continue;
        a.unpacked = static_cast<uint64_t>(n);
        // ACE 1.0 when every file is stored or LZ77: ask the header walk.
        ACEOpenArchiveData d{};
        const std::string name = p.string();
        d.ArcName = name.c_str();
        d.OpenMode = ACE_OPEN_LIST;
        d.ChangeVolProc = &AcceptVolume;
        if (void* h = varnok::unace::Open(&d)) {
            ACEHeaderData hd;
            while (varnok::unace::ReadHeader(h, &hd) == ACE_OK)
                if (hd.Method > 1) a.ace10 = false;
            varnok::unace::Close(h);
        }
        part.archives.push_back(a);
    }
    return part;
}

// Whether `unace t` really tests the archive's files (it passes over some archives without a word).
bool UnaceReads(const fs::path& archive) {
    FILE* f = popen(("unace t -y " + Quote(archive) + " </dev/null 2>/dev/null").c_str(), "r");
    if (!f) return false;
    char line[512];
    bool ok = false;
    while (std::fgets(line, sizeof line, f))
        ok |= std::strstr(line, "CRC OK") != nullptr;
    pclose(f);
    return ok;
}

void Row(const char* who, double seconds, uint64_t bytes, double ours) {
    if (seconds < 0) {
        std::printf("    %-10s failed or does not read this part\n", who);
        return;
    }
    const double mbs = static_cast<double>(bytes) / 1e6 / seconds;
    std::printf("    %-10s %9.2f MB/s", who, mbs);
    if (ours > 0) std::printf("   ours %6.2fx", ours / mbs);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 50;
    const uint64_t limit = mb * 1000 * 1000;
    const std::string scratch = varnok::platform::CreateTempDir("", "bench_ace");
    if (scratch.empty()) return 1;
    const fs::path work(scratch);

    std::vector<Part> parts;
    parts.push_back(FixturePart(repeats));
    auto text = Collect("/usr/share/dict", limit, [](const fs::path& p, uint64_t) { return IsText(p); });
    if (uint64_t have = [&] {
            uint64_t n = 0;
            for (const auto& f : text)
                n += f.size();
            return n;
        }();
        have < limit) {
        auto more = Collect("/usr/share/doc", limit - have,
                            [](const fs::path& p, uint64_t size) { return IsText(p) && size < 4'000'000; });
        text.insert(text.end(), more.begin(), more.end());
    }
    const auto programs = Collect("/usr/bin", limit, [](const fs::path&, uint64_t size) { return size < 8'000'000; });
    std::printf("making the archives (%llu MB per part)...\n", static_cast<unsigned long long>(mb));
    parts.push_back({"text 1.0", {MakeArchive(work / "text10.ace", text, 1, false)}, 1});
    parts.push_back({"text 2.0", {MakeArchive(work / "text20.ace", text, 2, false)}, 1});
    parts.push_back({"bin 1.0", {MakeArchive(work / "bin10.ace", programs, 1, false)}, 1});
    parts.push_back({"bin 2.0 exe", {MakeArchive(work / "bin20.ace", programs, 2, true)}, 1});

    // Peers.
    const bool unace = Have("unace");
    std::string acefile;
    if (const char* p = std::getenv("VARNOK_ACEFILE"); p && fs::exists(p))
        acefile = "python3 " + Quote(p);
    else if (std::system("python3 -c 'import acefile' >/dev/null 2>&1") == 0)
        acefile = "python3 -m acefile";
    bool unar = false;
    if (Have("unar") && !parts[1].archives.empty()) {
        const fs::path out = work / "unar-probe";
        unar = std::system(("unar -q -o " + Quote(out) + " " + Quote(parts[1].archives[0].path) + " >/dev/null 2>&1")
                               .c_str()) == 0 &&
               fs::exists(out / "f0");
    }
    std::printf("peers: unace %s, acefile %s, unar %s\n", unace ? "yes" : "not installed",
                acefile.empty() ? "not found (set VARNOK_ACEFILE)" : acefile.c_str(),
                unar ? "yes" : Have("unar") ? "does not read ACE" : "not installed");

    std::map<std::string, double> fastestRatio;
    for (const Part& part : parts) {
        if (part.archives.empty()) continue;
        const uint64_t bytes = part.Bytes();
        // Ours: in process, `ourRepeats` passes.
        const auto t0 = Clock::now();
        bool ok = true;
        for (int r = 0; r < part.ourRepeats; ++r)
            for (const Archive& a : part.archives)
                ok &= TestWithEngine(a) >= 0;
        const double ours = ok ? Seconds(t0, Clock::now()) / part.ourRepeats : -1;
        const double oursMbs = ours > 0 ? static_cast<double>(bytes) / 1e6 / ours : 0;
        std::printf("\n%s: %zu archive(s), %.2f MB unpacked%s\n", part.name.c_str(), part.archives.size(),
                    static_cast<double>(bytes) / 1e6,
                    part.ourRepeats > 1 ? (", ours timed over " + std::to_string(part.ourRepeats) + " passes").c_str()
                                        : "");
        Row("varnok", ours, bytes, 0);
        double best = 0;
        auto peer = [&](const char* who, double s) {
            Row(who, s, bytes, oursMbs);
            if (s > 0) best = std::max(best, static_cast<double>(bytes) / 1e6 / s);
        };
        if (unace && part.Ace10() && UnaceReads(part.archives[0].path))
            peer("unace", TimePeer(part, [&](const Archive& a) -> std::string {
                     return a.password.empty() ? "unace t -y " + Quote(a.path) + " </dev/null >/dev/null 2>&1" : "";
                 }));
        if (!acefile.empty())
            peer("acefile", TimePeer(part, [&](const Archive& a) {
                     return acefile + " -t " + (a.password.empty() ? "" : "-p " + a.password + " ") + Quote(a.path) +
                            " >/dev/null 2>&1";
                 }));
        if (unar)
            peer("unar", TimePeer(part, [&](const Archive& a) {
                     return "unar -q -f -o " + Quote(work / "unar-out") + " " + Quote(a.path) + " >/dev/null 2>&1";
                 }));
        if (best > 0 && oursMbs > 0) std::printf("    ours / fastest peer: %.2fx\n", oursMbs / best);
    }
    varnok::platform::RemoveTree(scratch);
    return 0;
}
