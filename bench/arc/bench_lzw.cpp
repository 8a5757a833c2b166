// LZW decoding speed: our compress (.Z) decoder against the ncompress program (`uncompress -c`) and gzip
// (`gzip -dc`, which also reads .Z) on the same files, plus our ARC squashed and ZOO decoders for reference.
//
// Two kinds of data (text: the system's C headers; binary: its shared libraries) are compressed by
// `compress` at 12, 13 and 16 bits. Our decoder writes into a counting sink in memory; the peers write to
// /dev/null and include their process start. The best of several runs is reported as MB/s of output, with
// the ratios ours/peer (above 1 means we are faster).
//
// usage: bench_lzw [MiB per kind (default 32)] [runs (default 5)]
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "archive/formats/arc/arc_codecs.h"
#include "archive/formats/gzip/compress_decoder.h"
#include "archive/formats/zoo/zoo_lzw.h"

namespace fs = std::filesystem;
using namespace varnok;

namespace {

template <class Want>
std::vector<uint8_t> Collect(const fs::path& root, size_t limit, Want want) {
    std::vector<uint8_t> out;
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && want(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        if (out.size() >= limit) break;
        std::ifstream in(f, std::ios::binary);
        out.insert(out.end(), std::istreambuf_iterator<char>(in), {});
    }
    if (out.empty()) out.push_back(0);
    for (size_t base = out.size(); out.size() < limit;)
        out.push_back(out[out.size() % base]);
    out.resize(limit);
    return out;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& d) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
}

double BestSeconds(int runs, const std::function<bool()>& f) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        if (!f()) return -1;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

bool HaveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Mbs(double bytes, double s) {
    char b[32];
    if (s <= 0) return "    n/a";
    std::snprintf(b, sizeof b, "%7.1f", bytes / s / 1e6);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? static_cast<size_t>(std::atol(argv[1])) : 32;
    int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (!HaveTool("compress") || !HaveTool("uncompress")) {
        std::printf("bench_lzw: ncompress (compress/uncompress) is not installed; nothing to compare.\n");
        return 0;
    }
    bool gzip = HaveTool("gzip");
    fs::path dir = fs::temp_directory_path() / ("varnok-bench-lzw-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    struct Kind {
        const char* name;
        std::vector<uint8_t> data;
    } kinds[] = {
        {"text", Collect("/usr/include", mib << 20, [](const fs::path& p) { return p.extension() == ".h"; })},
        {"binary",
         Collect("/usr/lib", mib << 20,
                 [](const fs::path& p) { return p.filename().string().find(".so") != std::string::npos; })},
    };

    std::printf("%-7s %4s %9s %8s | %8s %8s %8s | %6s %6s\n", "data", "bits", "size", "packed", "ours",
                "uncomp", "gzip", "/unc", "/gzip");
    for (auto& k : kinds) {
        fs::path raw = dir / k.name;
        WriteAll(raw, k.data);
        for (int bits : {12, 13, 16}) {
            fs::path z = dir / (std::string(k.name) + std::to_string(bits) + ".Z");
            std::string cmd =
                "compress -c -f -b" + std::to_string(bits) + " '" + raw.string() + "' > '" + z.string() + "'";
            if (std::system(cmd.c_str()) != 0) {
                std::printf("compress failed\n");
                continue;
            }
            std::vector<uint8_t> packed = ReadAll(z);
            CompressDecoder dec;
            uint64_t produced = 0;
            double ours = BestSeconds(runs, [&] {
                MemorySource src(packed);
                CountingSink sink;
                DecodeResult r = dec.Decode(src, sink);
                produced = sink.Count();
                return r.Ok();
            });
            if (produced != k.data.size())
                std::printf("warning: decoded %llu bytes\n", (unsigned long long)produced);
            double unc = BestSeconds(runs, [&] {
                return std::system(("uncompress -c '" + z.string() + "' > /dev/null").c_str()) == 0;
            });
            double gz =
                gzip ? BestSeconds(
                           runs,
                           [&] {
                               return std::system(("gzip -dc < '" + z.string() + "' > /dev/null").c_str()) ==
                                      0;
                           })
                     : -1;
            double n = static_cast<double>(k.data.size());
            std::printf("%-7s %4d %8zuK %7zuK | %8s %8s %8s | %6.2f %6.2f\n", k.name, bits,
                        k.data.size() >> 10, packed.size() >> 10, Mbs(n, ours).c_str(), Mbs(n, unc).c_str(),
                        Mbs(n, gz).c_str(), unc > 0 ? unc / ours : 0.0, gz > 0 ? gz / ours : 0.0);

            if (bits == 13) {
                // The same code stream as ARC squashed data, and a ZOO-layout stream is not available from
                // a peer, so only our own figure is shown for ARC.
                std::vector<uint8_t> body(packed.begin() + 3, packed.end());
                ArcDecoder arc;
                double a = BestSeconds(runs, [&] {
                    MemorySource src(body);
                    CountingSink sink;
                    return arc.Decode(arcSquashed, src, sink).Ok();
                });
                std::printf("%-7s %4s %9s %8s | %8s  (ARC squashed, ours only)\n", k.name, "13", "", "",
                            Mbs(n, a).c_str());
            }
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
