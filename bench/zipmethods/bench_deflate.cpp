// Deflate compression: our four strengths against zlib (levels 1, 6, 9) and libdeflate (levels 1, 6, 9, 12)
// on one corpus, in one run.
//
// The corpus is built from files on this machine, in sorted order so that runs are comparable: text (the
// uncompressed files under /usr/share/doc, up to a sixth of the corpus, then C headers under /usr/include
// up to half of it), binary (shared libraries under /usr/lib/x86_64-linux-gnu, the other half) and the
// project's samples. Every compressor gets the whole corpus in one call and writes into memory; the best
// of several runs is reported as MB/s of input, with the compressed size and the ratios of speed and size
// against zlib levels 6 and 9. Every stream ours produces is checked by decompressing it with libdeflate.
//
// usage: bench_deflate [MiB (default 24)] [runs (default 3)]
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "archive/codecs/deflate_encoder.h"

namespace fs = std::filesystem;
using namespace varnok;

namespace {

// Appends regular files under `root` whose names pass `want` until `limit` bytes are collected.
template <class Want>
size_t Collect(const fs::path& root, size_t limit, std::vector<uint8_t>& out, Want want) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && want(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    const size_t start = out.size();
    for (const auto& f : files) {
        if (out.size() - start >= limit) break;
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
        const size_t k = std::min(data.size(), limit - (out.size() - start));
        out.insert(out.end(), data.begin(), data.begin() + static_cast<ptrdiff_t>(k));
    }
    return out.size() - start;
}

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<uint8_t> LibdeflateCompress(const std::vector<uint8_t>& data, int level) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    std::vector<uint8_t> out(libdeflate_deflate_compress_bound(c, data.size()));
    const size_t n = libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size());
    libdeflate_free_compressor(c);
    if (n == 0) std::abort();
    out.resize(n);
    return out;
}

class BufferSink final : public ByteSink {
  public:
    void Write(const uint8_t* p, size_t n) override { data.insert(data.end(), p, p + n); }
    std::vector<uint8_t> data;
};

std::vector<uint8_t> OursCompress(const std::vector<uint8_t>& data, TDeflateType type) {
    static DeflateEncoder encoder;
    encoder.SetType(type);
    MemorySource src(data);
    BufferSink sink;
    sink.data.reserve(data.size() + data.size() / 100 + 64);
    if (!encoder.Encode(src, sink).Ok()) std::abort();
    return std::move(sink.data);
}

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 24;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const size_t size = mib << 20;

    std::vector<uint8_t> corpus;
    const size_t doc = Collect("/usr/share/doc", size / 6, corpus, [](const fs::path& p) {
        return p.extension() != ".gz" && p.extension() != ".bz2" && p.extension() != ".xz";
    });
    const size_t headers = Collect("/usr/include", size / 2 - doc, corpus, [](const fs::path& p) {
        return p.extension() == ".h" || p.extension() == ".hpp";
    });
    const size_t libs =
        Collect("/usr/lib/x86_64-linux-gnu", size - corpus.size(), corpus,
                [](const fs::path& p) { return p.filename().string().find(".so") != std::string::npos; });
    size_t samples = 0;
    for (const char* dir : {"/work/main/samples", "samples", "../samples"})
        if (fs::is_directory(dir)) {
            samples = Collect(dir, size, corpus, [](const fs::path&) { return true; });
            break;
        }
    std::printf(
        "corpus: %.1f MB = /usr/share/doc text %.1f MB + /usr/include headers %.1f MB + shared "
        "libraries %.1f MB + samples %zu bytes; best of %d runs\n\n",
        static_cast<double>(corpus.size()) / 1e6, static_cast<double>(doc) / 1e6,
        static_cast<double>(headers) / 1e6, static_cast<double>(libs) / 1e6, samples, runs);

    struct Row {
        std::string name;
        std::function<std::vector<uint8_t>()> run;
        bool ours = false;
        double seconds = 0;
        size_t bytes = 0;
    };
    std::vector<Row> rows;
    const char* ourNames[] = {"ours S (dtDeflateS)", "ours F (dtDeflateF)", "ours N (dtDeflateN)",
                              "ours X (dtDeflateX)"};
    for (TDeflateType t : {dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX})
        rows.push_back({ourNames[t], [&corpus, t] { return OursCompress(corpus, t); }, true});
    for (int level : {1, 6, 9})
        rows.push_back(
            {"zlib " + std::to_string(level), [&corpus, level] { return ZlibCompress(corpus, level); }});
    for (int level : {1, 6, 9, 12})
        rows.push_back({"libdeflate " + std::to_string(level),
                        [&corpus, level] { return LibdeflateCompress(corpus, level); }});

    libdeflate_decompressor* check = libdeflate_alloc_decompressor();
    std::vector<uint8_t> back(corpus.size());
    for (Row& r : rows) {
        r.seconds = 1e30;
        for (int i = 0; i < runs; ++i) {
            const double t0 = Seconds();
            const std::vector<uint8_t> out = r.run();
            r.seconds = std::min(r.seconds, Seconds() - t0);
            r.bytes = out.size();
            if (r.ours && i == 0) {
                size_t n = 0;
                if (libdeflate_deflate_decompress(check, out.data(), out.size(), back.data(), back.size(),
                                                  &n) != LIBDEFLATE_SUCCESS ||
                    n != corpus.size() || back != corpus) {
                    std::printf("%s: the stream does not decode to the corpus\n", r.name.c_str());
                    return 1;
                }
            }
        }
    }
    libdeflate_free_decompressor(check);

    const Row& z6 = rows[5];
    const Row& z9 = rows[6];
    const double mb = static_cast<double>(corpus.size()) / 1e6;
    std::printf("%-20s %9s %11s %7s %11s %10s %11s %10s\n", "compressor", "MB/s", "bytes", "ratio",
                "speed/z6", "size/z6", "speed/z9", "size/z9");
    for (const Row& r : rows)
        std::printf("%-20s %9.1f %11zu %7.4f %11.2f %10.4f %11.2f %10.4f\n", r.name.c_str(), mb / r.seconds,
                    r.bytes, static_cast<double>(r.bytes) / static_cast<double>(corpus.size()),
                    z6.seconds / r.seconds, static_cast<double>(r.bytes) / static_cast<double>(z6.bytes),
                    z9.seconds / r.seconds, static_cast<double>(r.bytes) / static_cast<double>(z9.bytes));
    return 0;
}
