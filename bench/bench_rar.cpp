// RAR 1.5-4 decoding speed: our decoders (through the RAR engine, testing every entry in memory: decoding and
// the CRC, no file written) against the programs that read RAR, each testing or extracting the same archive:
//   unar -q -f -o OUT     7z t     bsdtar -xOf ARCHIVE > /dev/null
// No RAR compressor is packaged for Debian, so the archives are the fixtures:
//   RAR 2.9 LZ    libarchive_rar_multi_lzss_blocks.rar and libarchive_rar_filter.rar (small: repeated)
//   RAR 2.9 PPMd  libarchive_rar_ppmd_lzss_conversion.rar (241 MB of text, PPMd and LZ blocks; once)
//   RAR 2.0       sharpcompress_Rar2.rar (100 KB: repeated)
// A peer whose output fails its check (bsdtar's libarchive on the PPMd sample) is reported as failing, not
// timed. The small archives' peer rows include starting a program per repetition; ours does not.
// Figures are MB/s of decoded data, best of the runs; "ours/peer" above 1 means we are faster.
//
// usage: bench_rar [runs (default 3)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engines/unrar/unrar_engine.h"

namespace fs = std::filesystem;
using namespace varnok;

namespace {

double Best(const std::function<bool()>& f, int runs, bool& ok) {
    double best = 1e30;
    ok = true;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!f()) ok = false;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

int Volume(char*, int) { return 1; }

// Tests every entry of the archive through the engine; the bytes decoded, or -1 on a failure.
int64_t OursOnce(const fs::path& archive) {
    RAROpenArchiveData d{};
    const std::string name = archive.string();
    d.ArcName = const_cast<char*>(name.c_str());
    d.OpenMode = RAR_OM_EXTRACT;
    std::unique_ptr<unrar::Session> s(unrar::Session::Open(&d));
    if (!s) return -1;
    s->SetChangeVolProc(Volume);
    RARHeaderData h;
    int64_t total = 0;
    while (s->ReadHeader(&h) == RAR_OK) {
        if (s->Process(RAR_TEST, nullptr, nullptr) != RAR_OK) return -1;
        total += static_cast<int64_t>(h.UnpSize);
    }
    return total;
}

bool Sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const char* env = std::getenv("VARNOK_FIXTURES");
    const fs::path dir = fs::path(env ? env : VARNOK_BENCH_FIXTURES) / "rar";
    struct Row {
        const char* label;
        const char* file;
        int repeat;
    };
    const Row rows[] = {{"RAR 2.9 LZ (multi blocks)", "libarchive_rar_multi_lzss_blocks.rar", 20},
                        {"RAR 2.9 LZ + filters", "libarchive_rar_filter.rar", 10},
                        {"RAR 2.9 PPMd + LZ (241 MB)", "libarchive_rar_ppmd_lzss_conversion.rar", 1},
                        {"RAR 2.0", "sharpcompress_Rar2.rar", 10}};
    const fs::path out = fs::temp_directory_path() / ("bench_rar." + std::to_string(getpid()));
    std::printf("%-28s %10s %10s %10s %10s   ours/unar ours/7z ours/bsdtar\n", "archive", "ours MB/s", "unar", "7z",
                "bsdtar");
    std::fflush(stdout);
    for (const Row& r : rows) {
        const fs::path a = dir / r.file;
        if (!fs::exists(a)) {
            std::printf("%-28s (fixture absent)\n", r.label);
            continue;
        }
        const int64_t bytes = OursOnce(a);
        if (bytes < 0) {
            std::printf("%-28s ours fails\n", r.label);
            continue;
        }
        const double mb = static_cast<double>(bytes) * r.repeat / 1e6;
        bool ok = false;
        const double ours = Best([&] {
            for (int i = 0; i < r.repeat; ++i)
                if (OursOnce(a) != bytes) return false;
            return true;
        }, runs, ok);
        auto peer = [&](const std::string& cmd) -> double {
            bool good = false;
            const double t = Best([&] {
                for (int i = 0; i < r.repeat; ++i) {
                    fs::remove_all(out);
                    fs::create_directories(out);
                    if (!Sh(cmd)) return false;
                }
                return true;
            }, runs, good);
            return good ? mb / t : -1;
        };
        const double unar = peer("unar -q -f -o " + Q(out) + " " + Q(a) + " >/dev/null 2>&1");
        const double sevenz = peer("7z t " + Q(a) + " >/dev/null 2>&1");
        const double bsdtar = peer("bsdtar -xOf " + Q(a) + " >/dev/null 2>&1");
        const double us = mb / ours;
        auto cell = [](double v) {
            static char buf[4][32];
            static int k = 0;
            char* b = buf[k++ % 4];
            if (v < 0)
                std::snprintf(b, 32, "fails");
            else
                std::snprintf(b, 32, "%.1f", v);
            return b;
        };
        auto ratio = [](double ours_, double p) {
            static char buf[4][32];
            static int k = 0;
            char* b = buf[k++ % 4];
            if (p < 0)
                std::snprintf(b, 32, "-");
            else
                std::snprintf(b, 32, "%.2f", ours_ / p);
            return b;
        };
        std::printf("%-28s %10.1f %10s %10s %10s   %9s %7s %11s\n", r.label, us, cell(unar), cell(sevenz), cell(bsdtar),
                    ratio(us, unar), ratio(us, sevenz), ratio(us, bsdtar));
        std::fflush(stdout);
    }
    fs::remove_all(out);
    return 0;
}
