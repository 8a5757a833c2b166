// End-to-end CAB extraction speed: TUnCab (through the cabinet library) against the programs that read
// cabinets, each extracting the same cabinet into an empty folder:
//   cabextract -q -d OUT     7z x -oOUT     unar -q -D -o OUT     bsdtar -xf -C OUT
// Cabinets:
//   MSZIP   made by gcab -cz from generated files (text and binary) of the size asked for
//   stored  made by gcab -c from the same files
//   LZX     cabinets of the same files made by our own cabinet writer (window 2^21 and 2^16); no Debian tool
//           writes LZX cabinets (gcab writes stored and MSZIP only). The fixture row extracts the LZX fixture cabinets (libarchive_cab_3.cab, window 2^18, and libmspack_mszip_lzx_qtm.cab)
//           again and again; their files are small, so that row mostly measures the cost of a run and of
//           starting a peer program, not LZX decoding.
// The best of several runs; MB/s of decoded data; "vs best" is our speed over the fastest peer's (above 1
// means we are faster).
//
// usage: bench_cab [MiB (default 16)] [runs (default 3)]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/formats/cab/uncab.h"

namespace fs = std::filesystem;
using namespace varnok;

namespace {

double Seconds(const std::function<void()>& f, int runs) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

bool Have(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int Sh(const std::string& cmd) {
    return std::system(cmd.c_str());
}

std::string Q(const fs::path& p) {
    return "'" + p.string() + "'";
}

void WriteBytes(const fs::path& p, const std::string& s) {
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) return;
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
}

// Files of about `bytes` in all: text with repeats (compresses well) and noisy binary (does not).
std::vector<std::string> MakeFiles(const fs::path& dir, uint64_t bytes) {
    fs::create_directories(dir);
    std::vector<std::string> names;
    std::mt19937 rng(42);
    const char* words[] = {"cabinet", "folder", "block", "window", "match", "literal", "length", "stream"};
    for (int i = 0; bytes > 0; ++i) {
        const uint64_t size = std::min<uint64_t>(bytes, 1u << 20);
        std::string s;
        s.reserve(size);
        if (i % 3 == 2) {
            while (s.size() < size) s.push_back(static_cast<char>(rng() % 64 + (rng() % 4 ? 0 : 128)));
        } else {
            while (s.size() < size) {
                s += words[rng() % 8];
                s += (rng() % 10) ? ' ' : '\n';
            }
        }
        s.resize(size);
        std::string name = "f" + std::to_string(i) + (i % 3 == 2 ? ".bin" : ".txt");
        WriteBytes(dir / name, s);
        names.push_back(name);
        bytes -= size;
    }
    return names;
}

uint64_t TreeBytes(const fs::path& dir) {
    uint64_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) n += e.file_size();
    return n;
}

bool Ours(const fs::path& cab, const fs::path& out) {
    TUnCab x;
    x.SetArchiveFile(cab.string());
    x.FileSpec = {"*.*"};
    x.ConfirmOverwrites = false;
    x.ExtractDir = out.string();
    x.ExtractArchive();
    return x.FailedEntries() == 0;
}

struct Peer {
    const char* tool;
    std::string (*command)(const fs::path& cab, const fs::path& out);
};

const Peer kPeers[] = {
    {"cabextract",
     [](const fs::path& c, const fs::path& o) { return "cabextract -q -d " + Q(o) + " " + Q(c) + " >/dev/null"; }},
    {"7z", [](const fs::path& c, const fs::path& o) { return "7z x -y -o" + Q(o) + " " + Q(c) + " >/dev/null"; }},
    {"unar", [](const fs::path& c, const fs::path& o) { return "unar -q -D -o " + Q(o) + " " + Q(c) + " >/dev/null"; }},
    {"bsdtar", [](const fs::path& c, const fs::path& o) { return "bsdtar -xf " + Q(c) + " -C " + Q(o); }},
};

// Extracts every cabinet `repeat` times per run with ours and each peer; prints one row per tool.
void Row(const char* what, const std::vector<fs::path>& cabs, int repeat, const fs::path& tmp, int runs) {
    fs::path out = tmp / "out";
    auto fresh = [&] {
        fs::remove_all(out);
        fs::create_directories(out);
    };
    fresh();
    for (const auto& c : cabs)
        if (!Ours(c, out)) std::printf("%s: our extraction of %s failed\n", what, c.c_str());
    const uint64_t bytes = TreeBytes(out) * static_cast<uint64_t>(repeat);
    const double mb = static_cast<double>(bytes) / 1e6;
    const double ours = Seconds(
        [&] {
            for (int r = 0; r < repeat; ++r) {
                fresh();
                for (const auto& c : cabs) Ours(c, out);
            }
        },
        runs);
    std::printf("%-7s %8.2f MB decoded   ours        %9.1f MB/s\n", what, mb, mb / ours);
    double best = 0;
    const char* bestTool = nullptr;
    for (const Peer& p : kPeers) {
        if (!Have(p.tool)) {
            std::printf("%-7s %28s %-10s (not installed)\n", "", "", p.tool);
            continue;
        }
        bool ok = true;
        double t = Seconds(
            [&] {
                for (int r = 0; r < repeat; ++r) {
                    fresh();
                    for (const auto& c : cabs) ok = ok && Sh(p.command(c, out)) == 0;
                }
            },
            runs);
        if (!ok) {
            std::printf("%-7s %28s %-10s failed\n", "", "", p.tool);
            continue;
        }
        std::printf("%-7s %28s %-10s %9.1f MB/s   ours/peer %.2f\n", "", "", p.tool, mb / t, t / ours);
        if (mb / t > best) {
            best = mb / t;
            bestTool = p.tool;
        }
    }
    if (bestTool) std::printf("%-7s vs best peer (%s): %.2f\n\n", what, bestTool, (mb / ours) / best);
    fs::remove_all(out);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 16;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (!TUnCab::LibraryLoaded()) {
        std::fprintf(stderr, "bench_cab: libvarnok-cabinet.so is not in the program's folders\n");
        return 1;
    }
    char tmpl[] = "/tmp/vnkcabbenchXXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    fs::path tmp = tmpl;
    if (Have("gcab")) {
        auto names = MakeFiles(tmp / "src", mib << 20);
        std::string list;
        for (const auto& n : names) list += " " + n;
        Sh("cd " + Q(tmp / "src") + " && gcab -cz " + Q(tmp / "mszip.cab") + list);
        Sh("cd " + Q(tmp / "src") + " && gcab -c " + Q(tmp / "stored.cab") + list);
        Row("MSZIP", {tmp / "mszip.cab"}, 1, tmp, runs);
        Row("stored", {tmp / "stored.cab"}, 1, tmp, runs);
        // LZX cabinets of the same files, written by our own cabinet writer (varnok-cli beside the benches).
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        const fs::path cli = n > 0 ? fs::path(std::string(self, static_cast<size_t>(n))).parent_path().parent_path() /
                                         "bin" / "varnok-cli"
                                   : fs::path();
        if (!cli.empty() && fs::exists(cli)) {
            for (int bits : {21, 16}) {
                const fs::path cab = tmp / ("lzx" + std::to_string(bits) + ".cab");
                if (Sh("cd " + Q(tmp / "src") + " && " + Q(cli) + " add " + Q(cab) + list +
                       " --type cab --method lzx --lzx-level " + std::to_string(bits) + " >/dev/null") == 0)
                    Row(("LZX 2^" + std::to_string(bits) + " (ours)").c_str(), {cab}, 1, tmp, runs);
            }
        } else {
            std::printf("varnok-cli not built beside the benches: no LZX cabinets of our own\n");
        }
    } else {
        std::printf("gcab not installed: no MSZIP or stored cabinets\n");
    }
    const char* fixtures = std::getenv("VARNOK_FIXTURES");
    fs::path dir = fixtures ? fs::path(fixtures) / "cab" : fs::path(VARNOK_BENCH_FIXTURES) / "cab";
    std::vector<fs::path> lzx;
    for (const char* n : {"libarchive_cab_3.cab", "libmspack_mszip_lzx_qtm.cab"})
        if (fs::exists(dir / n)) lzx.push_back(dir / n);
    if (lzx.empty())
        std::printf("LZX fixtures not found in %s\n", dir.c_str());
    else
        Row("LZX", lzx, 20, tmp, runs);
    fs::remove_all(tmp);
    return 0;
}
