// Cabinet compression: our LZX (windows 2^15, 2^18, 2^21) and Quantum (a few level/window pairs) against
// our MSZIP (the deflate compressor at its normal strength, one independent stream per 32 KiB frame, as a
// cabinet writer makes MSZIP folders), wimlib's LZX (through wimlib-imagex, when installed: the data's
// blob in a WIM captured with 32 KiB chunks, and with 2 MiB chunks for the 2^21 window) and xz -6, on one
// corpus in one run.
//
// The corpus is built from files on this machine in sorted order, so runs compare: text (uncompressed
// files under /usr/share/doc, then C headers under /usr/include) and binary (shared libraries under
// /usr/lib/x86_64-linux-gnu), a few MiB each. Each part is compressed frame by frame as a folder would be;
// sizes count each frame's CFDATA header (8 bytes) and, for MSZIP, its "CK" signature. Speeds are MB/s
// of input, the best of the runs; wimlib and xz are timed as whole processes (so their speeds include
// start-up and file writing). Correctness is the tests' business: they read every cabinet back with
// libmspack, cabextract and 7-Zip.
//
// usage: bench_cab_encode [MiB per part (default 4)] [runs (default 2)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "archive/codecs/deflate_encoder.h"
#include "archive/codecs/lzx_encoder.h"
#include "archive/codecs/quantum_encoder.h"

namespace fs = std::filesystem;
using namespace varnok;

namespace {

template <class Want>
void Collect(const fs::path& root, size_t limit, std::vector<uint8_t>& out, Want want) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && want(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        if (out.size() >= limit) break;
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
        out.insert(out.end(), data.begin(), data.begin() + static_cast<ptrdiff_t>(std::min(data.size(), limit - out.size())));
    }
}

double Seconds(const std::function<void()>& f, int runs) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

size_t Frames(const std::vector<std::vector<uint8_t>>& frames) {
    size_t n = 0;
    for (const auto& f : frames) n += f.size() + 8;
    return n;
}

std::string Shell(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Compressed size of the data's blob in a WIM that wimlib-imagex captured with LZX; 0 when it failed.
size_t WimlibLzx(const fs::path& dir, const fs::path& wim, const std::string& chunk, size_t size) {
    fs::remove(wim);
    if (std::system(("wimlib-imagex capture '" + dir.string() + "' '" + wim.string() + "' --compress=LZX --chunk-size=" +
                     chunk + " --threads=1 >/dev/null 2>&1")
                        .c_str()) != 0)
        return 0;
    const std::string info = Shell("wimlib-imagex info '" + wim.string() + "' --blobs 2>/dev/null");
    const std::string key = "Uncompressed size = " + std::to_string(size) + " bytes\nCompressed size   = ";
    const size_t at = info.find(key);
    return at == std::string::npos ? 0 : std::stoull(info.substr(at + key.size()));
}

struct Row {
    std::string name;
    size_t size;
    double seconds;
};

void Print(const std::string& part, size_t input, const std::vector<Row>& rows, size_t mszip) {
    std::printf("\n%s: %.2f MiB\n", part.c_str(), input / 1048576.0);
    std::printf("  %-28s %12s %8s %9s %10s\n", "compressor", "bytes", "ratio", "MB/s", "vs MSZIP");
    for (const auto& r : rows) {
        if (!r.size) continue;
        std::printf("  %-28s %12zu %7.2f%% %9.1f %+9.1f%%\n", r.name.c_str(), r.size, 100.0 * r.size / input,
                    input / 1e6 / r.seconds, 100.0 * (static_cast<double>(r.size) / mszip - 1));
    }
}

void Bench(const std::string& part, const std::vector<uint8_t>& data, int runs) {
    std::vector<Row> rows;
    const std::span<const uint8_t> all(data);
    size_t mszip = 0;
    const double tz = Seconds(
        [&] {
            mszip = 0;
            for (size_t at = 0; at < data.size(); at += kCabFrameSize)
                mszip += DeflateBuffer(all.subspan(at, std::min(kCabFrameSize, data.size() - at))).size() + 2 + 8;
        },
        runs);
    rows.push_back({"MSZIP (deflate normal)", mszip, tz});
    for (unsigned bits : {15u, 18u, 21u}) {
        for (LzxEffort e : {LzxEffort::Normal, LzxEffort::Best}) {
            if (e == LzxEffort::Best && bits != 21) continue;
            size_t n = 0;
            const double t = Seconds([&] { n = Frames(LzxCompressFolder(all, {.windowBits = bits, .effort = e})); }, runs);
            rows.push_back({"LZX " + std::to_string(bits) + (e == LzxEffort::Best ? " best" : ""), n, t});
        }
    }
    for (auto [level, bits] : {std::pair{1u, 21u}, std::pair{4u, 16u}, std::pair{7u, 21u}}) {
        size_t n = 0;
        const double t = Seconds([&] { n = Frames(QuantumCompressFolder(all, {.windowBits = bits, .level = level})); }, runs);
        rows.push_back({"Quantum level " + std::to_string(level) + " window " + std::to_string(bits), n, t});
    }
    const fs::path tmp = fs::temp_directory_path() / ("bench_cab_" + std::to_string(::getpid()));
    fs::create_directories(tmp / "d");
    {
        std::ofstream out(tmp / "d" / "data", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    if (std::system("command -v wimlib-imagex >/dev/null 2>&1") == 0) {
        for (const char* chunk : {"32K", "2M"}) {
            size_t n = 0;
            const double t = Seconds([&] { n = WimlibLzx(tmp / "d", tmp / "o.wim", chunk, data.size()); }, 1);
            rows.push_back({std::string("wimlib LZX chunks ") + chunk, n, t});
        }
    } else {
        std::printf("(wimlib-imagex not installed: no wimlib figures)\n");
    }
    if (std::system("command -v xz >/dev/null 2>&1") == 0) {
        size_t n = 0;
        const double t = Seconds(
            [&] { n = std::stoull(Shell("xz -6 -T1 -c '" + (tmp / "d" / "data").string() + "' | wc -c")); }, 1);
        rows.push_back({"xz -6", n, t});
    }
    fs::remove_all(tmp);
    Print(part, data.size(), rows, mszip);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 2;
    const size_t limit = mib << 20;
    std::vector<uint8_t> text, binary;
    Collect("/usr/share/doc", limit / 3, text, [](const fs::path& p) {
        const auto e = p.extension();
        return e != ".gz" && e != ".xz" && e != ".bz2" && e != ".png" && e != ".jpg" && e != ".svg" && e != ".zip";
    });
    Collect("/usr/include", limit, text, [](const fs::path& p) { return p.extension() == ".h"; });
    Collect("/usr/lib/x86_64-linux-gnu", limit, binary,
            [](const fs::path& p) { return p.filename().string().find(".so") != std::string::npos; });
    std::printf("bench_cab_encode: %zu MiB per part, best of %d runs (wimlib and xz: one run)\n", mib, runs);
    Bench("text", text, runs);
    Bench("binary", binary, runs);
    return 0;
}
