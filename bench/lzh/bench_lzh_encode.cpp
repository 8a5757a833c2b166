// Compression speed and size of the static-Huffman LZ encoder with the -lh5-, -lh6- and -lh7-
// parameters, next to zlib's deflate at level 6 (raw streams), on a corpus of files found on this
// machine: word lists (/usr/share/dict), uncompressed documentation (/usr/share/doc) and programs
// (/usr/bin). Each file is compressed on its own, as an archive writer does. Prints, per corpus
// part and in total: MB/s, compressed size as a percentage of the input, the size relative to zlib's
// (below 1: smaller than zlib), the speed relative to zlib's, and how many files the encoder found
// not smaller than their input (a writer would store those). When an `lha` command is installed
// (LHa for UNIX, or jLHA's front end), each part is also packed by `lha a` with -o5/-o6/-o7 into a
// scratch archive and its packed total (from `lha v`) printed relative to ours, with its speed: one run of
// the command, its start-up included (for jLHA, a Java program, about half a second of it).
//
// Usage: bench_lzh_encode [megabytes per part]   (default 8)
#include <zlib.h>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "archive/codecs/static_huffman_encoder.h"

using namespace varnok;
namespace fs = std::filesystem;

namespace {

struct Part {
    std::string name;
    std::vector<std::vector<uint8_t>> files;
    uint64_t bytes = 0;
};

std::vector<uint8_t> ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Regular files under `root` (sorted by path, so every run takes the same ones) that `take` accepts,
// until `limit` bytes.
template <class Take>
Part Collect(const std::string& name, const fs::path& root, uint64_t limit, Take take) {
    Part part{name, {}, 0};
    std::error_code ec;
    if (!fs::exists(root, ec)) return part;
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && take(it->path(), it->file_size(ec)))
            paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    for (const fs::path& p : paths) {
        if (part.bytes >= limit) break;
        std::vector<uint8_t> d = ReadFile(p);
        if (d.empty()) continue;
        part.bytes += d.size();
        part.files.push_back(std::move(d));
    }
    return part;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Run {
    double seconds = 1e30;  // best of three
    uint64_t packed = 0;
    int notSmaller = 0;
};

Run RunLzh(const StaticHuffmanParams& params, const Part& part) {
    Run run;
    StaticHuffmanEncoder enc(params);
    for (int rep = 0; rep < 3; ++rep) {
        uint64_t packed = 0;
        int notSmaller = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (const auto& f : part.files) {
            MemorySource src(f);
            CountingSink sink;
            const StaticHuffmanEncodeResult r =
                enc.Encode(src, sink, StaticHuffmanEncoder::IfNotSmaller::Finish);
            packed += r.produced;
            notSmaller += r.notSmaller;
        }
        run.seconds = std::min(run.seconds, Seconds(t0));
        run.packed = packed;
        run.notSmaller = notSmaller;
    }
    return run;
}

Run RunZlib(const Part& part) {
    Run run;
    std::vector<uint8_t> out;
    for (int rep = 0; rep < 3; ++rep) {
        uint64_t packed = 0;
        int notSmaller = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (const auto& f : part.files) {
            z_stream z{};
            deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
            out.resize(deflateBound(&z, f.size()));
            z.next_in = const_cast<Bytef*>(f.data());
            z.avail_in = static_cast<uInt>(f.size());
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, Z_FINISH);
            packed += z.total_out;
            notSmaller += z.total_out >= f.size();
            deflateEnd(&z);
        }
        run.seconds = std::min(run.seconds, Seconds(t0));
        run.packed = packed;
        run.notSmaller = notSmaller;
    }
    return run;
}

// Packed total of `lha a -o<method>` over the part's files (copied to a scratch directory), or 0; seconds
// gets the command's wall time.
uint64_t LhaPacked(int method, const Part& part, const fs::path& scratch, double& seconds) {
    const fs::path in = scratch / "in";
    if (!fs::exists(in)) {
        fs::create_directories(in);
        for (size_t i = 0; i < part.files.size(); ++i) {
            std::ofstream f(in / ("f" + std::to_string(i)), std::ios::binary);
            f.write(reinterpret_cast<const char*>(part.files[i].data()),
                    static_cast<std::streamsize>(part.files[i].size()));
        }
    }
    const std::string arc = (scratch / ("o" + std::to_string(method) + ".lzh")).string();
    const std::string add =
        "cd '" + in.string() + "' && lha ao" + std::to_string(method) + " '" + arc + "' * >/dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(add.c_str()) != 0) return 0;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The total line: "Total  <n> files  <packed> <original> ...".
    FILE* f = popen(("lha v '" + arc + "' 2>/dev/null").c_str(), "r");
    if (!f) return 0;
    uint64_t packed = 0;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        const char* t = std::strstr(line, "Total");
        if (!t) continue;
        unsigned long long files = 0, p = 0, orig = 0;
        char word[32];
        if (std::sscanf(t, "Total %llu %31s %llu %llu", &files, word, &p, &orig) == 4) packed = p;
    }
    pclose(f);
    return packed;
}

void Report(const char* what, const Part& part, const Run& r, const Run& zlib) {
    const double mb = static_cast<double>(part.bytes) / 1e6;
    std::printf("  %-8s %7.1f MB/s  %6.2f%%  size/zlib %.3f  speed/zlib %.2f  not smaller %d\n", what,
                mb / r.seconds, 100.0 * static_cast<double>(r.packed) / static_cast<double>(part.bytes),
                static_cast<double>(r.packed) / static_cast<double>(zlib.packed), zlib.seconds / r.seconds,
                r.notSmaller);
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t limit = static_cast<uint64_t>(argc > 1 ? std::atof(argv[1]) : 8.0) * 1000000;
    std::vector<Part> parts;
    parts.push_back(Collect("words (/usr/share/dict)", "/usr/share/dict", limit,
                            [](const fs::path&, uintmax_t size) { return size > 0; }));
    parts.push_back(Collect("docs (/usr/share/doc, not gzipped)", "/usr/share/doc", limit,
                            [](const fs::path& p, uintmax_t size) {
                                const std::string e = p.extension().string();
                                return size > 0 && e != ".gz" && e != ".bz2" && e != ".xz" && e != ".png" &&
                                       e != ".jpg" && e != ".gif" && e != ".pdf" && e != ".zst";
                            }));
    parts.push_back(
        Collect("programs (/usr/bin, 64 KB..4 MB)", "/usr/bin", limit,
                [](const fs::path&, uintmax_t size) { return size >= 65536 && size <= (4u << 20); }));
    std::erase_if(parts, [](const Part& p) { return p.files.empty(); });

    const struct {
        const char* name;
        StaticHuffmanParams params;
    } methods[] = {{"-lh5-", kLh5Params}, {"-lh6-", kLh6Params}, {"-lh7-", kLh7Params}};
    constexpr size_t kMethods = std::size(methods);

    // The total adds up the parts' runs.
    Part total{"all", {}, 0};
    Run totalZlib{0, 0, 0};
    std::vector<Run> totalLzh(kMethods, Run{0, 0, 0});
    auto add = [](Run& sum, const Run& r) {
        sum.seconds += r.seconds;
        sum.packed += r.packed;
        sum.notSmaller += r.notSmaller;
    };
    const bool haveLha = std::system("command -v lha >/dev/null 2>&1") == 0;
    std::vector<uint64_t> lhaTotal(kMethods, 0);
    std::vector<double> lhaSeconds(kMethods, 0);
    int partIndex = 0;
    for (const Part& part : parts) {
        std::printf("%s: %zu files, %.2f MB\n", part.name.c_str(), part.files.size(),
                    static_cast<double>(part.bytes) / 1e6);
        const Run zlib = RunZlib(part);
        Report("zlib -6", part, zlib, zlib);
        add(totalZlib, zlib);
        std::vector<Run> runs;
        for (size_t i = 0; i < kMethods; ++i) {
            runs.push_back(RunLzh(methods[i].params, part));
            Report(methods[i].name, part, runs.back(), zlib);
            add(totalLzh[i], runs.back());
        }
        if (haveLha) {
            const fs::path scratch =
                fs::temp_directory_path() /
                ("bench_lzh_encode_" + std::to_string(::getpid()) + "_" + std::to_string(partIndex));
            for (size_t i = 0; i < kMethods; ++i) {
                double seconds = 0;
                const uint64_t packed = LhaPacked(5 + static_cast<int>(i), part, scratch, seconds);
                if (packed) {
                    std::printf("  lha -o%zu  %7.1f MB/s  %6.2f%%  size ours/lha %.4f  speed ours/lha %.2f\n", 5 + i,
                                static_cast<double>(part.bytes) / 1e6 / seconds,
                                100.0 * static_cast<double>(packed) / static_cast<double>(part.bytes),
                                static_cast<double>(runs[i].packed) / static_cast<double>(packed),
                                seconds / runs[i].seconds);
                    lhaTotal[i] += packed;
                    lhaSeconds[i] += seconds;
                }
            }
            fs::remove_all(scratch);
        }
        total.bytes += part.bytes;
        ++partIndex;
    }
    std::printf("all: %.2f MB\n", static_cast<double>(total.bytes) / 1e6);
    Report("zlib -6", total, totalZlib, totalZlib);
    for (size_t i = 0; i < kMethods; ++i)
        Report(methods[i].name, total, totalLzh[i], totalZlib);
    for (size_t i = 0; i < kMethods; ++i)
        if (lhaTotal[i])
            std::printf("  lha -o%zu  %7.1f MB/s  %6.2f%%  size ours/lha %.4f  speed ours/lha %.2f\n", 5 + i,
                        static_cast<double>(total.bytes) / 1e6 / lhaSeconds[i],
                        100.0 * static_cast<double>(lhaTotal[i]) / static_cast<double>(total.bytes),
                        static_cast<double>(totalLzh[i].packed) / static_cast<double>(lhaTotal[i]),
                        lhaSeconds[i] / totalLzh[i].seconds);
    return 0;
}
