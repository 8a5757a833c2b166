// Inflate speed: our Inflater against zlib and libdeflate on the same raw deflate streams.
//
// The data are three kinds (text: the system's C headers; binary: its shared libraries; low-entropy:
// generated records, sparse tables and small-alphabet bytes), each compressed by zlib at levels 1, 6 and 9
// and by our own compressor at its normal and maximum strengths (levels "N" and "X": other block sizes and
// code shapes than zlib's). The "all" row sums the zlib streams, "all+ours" every stream.
// Every decoder writes the whole output into memory; the best of several runs is reported as MB/s of output,
// with the ratios ours/zlib and ours/libdeflate.
//
// usage: bench_inflate [MiB per kind (default 64)] [runs (default 5)]
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/codecs/deflate_encoder.h"
#include "archive/codecs/inflate.h"

namespace fs = std::filesystem;
using varnok::ByteSink;
using varnok::Inflater;
using varnok::MemorySource;

namespace {

// Appends regular files under `root` whose names pass `want` until `limit` bytes are collected.
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
        out.insert(out.end(), data.begin(), data.end());
    }
}

// Repeats the collected data (with a small mutation per pass) until it fills `size`.
void FillTo(std::vector<uint8_t>& v, size_t size) {
    if (v.empty()) v.push_back(0);
    const size_t base = v.size();
    for (uint8_t pass = 1; v.size() < size; ++pass)
        for (size_t i = 0; i < base && v.size() < size; ++i)
            v.push_back(static_cast<uint8_t>(v[i] ^ (i % 97 == 0 ? pass : 0)));
    v.resize(size);
}

std::vector<uint8_t> LowEntropy(size_t size) {
    std::vector<uint8_t> v;
    v.reserve(size);
    uint64_t s = 88172645463325252ull;
    auto rnd = [&] {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<uint32_t>(s);
    };
    uint32_t counter = 0;
    while (v.size() < size) {
        switch (rnd() % 3) {
            case 0:  // fixed-layout records with slowly changing fields
                for (int r = 0; r < 200; ++r) {
                    uint8_t rec[32] = {};
                    ++counter;
                    std::memcpy(rec, &counter, 4);
                    rec[8] = static_cast<uint8_t>(counter >> 6);
                    rec[12] = 'R';
                    rec[20] = static_cast<uint8_t>(rnd() % 3);
                    v.insert(v.end(), rec, rec + sizeof rec);
                }
                break;
            case 1:  // a sparse table: mostly zeros
                for (int i = 0; i < 8192; ++i)
                    v.push_back(rnd() % 29 == 0 ? static_cast<uint8_t>(rnd()) : 0);
                break;
            default:  // a small alphabet
                for (int i = 0; i < 8192; ++i)
                    v.push_back("ACGT"[rnd() % 4]);
                break;
        }
    }
    v.resize(size);
    return v;
}

std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.next_out = out.data();
    size_t inLeft = data.size();
    // zlib counts in uInt: feed at most 1 GiB per call.
    for (;;) {
        const uInt piece = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        z.avail_in = piece;
        z.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - z.total_out, 1u << 30));
        inLeft -= piece;
        const int rc = deflate(&z, inLeft ? Z_NO_FLUSH : Z_FINISH);
        inLeft += z.avail_in;
        if (rc == Z_STREAM_END) break;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Writes into a preallocated buffer, as the other two decoders do.
class BufferSink final : public ByteSink {
  public:
    explicit BufferSink(std::vector<uint8_t>& buf) : buf_(buf) {}
    void Write(const uint8_t* p, size_t n) override {
        if (n > buf_.size() - pos_) std::abort();
        std::memcpy(buf_.data() + pos_, p, n);
        pos_ += n;
    }
    size_t pos_ = 0;

  private:
    std::vector<uint8_t>& buf_;
};

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

template <class F>
double Time(F f) {
    const double t0 = Seconds();
    f();
    return Seconds() - t0;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const size_t size = mib << 20;

    struct Kind {
        const char* name;
        std::vector<uint8_t> data;
    };
    std::vector<Kind> kinds(3);
    kinds[0].name = "text";
    Collect("/usr/include", size, kinds[0].data, [](const fs::path& p) {
        const auto e = p.extension();
        return e == ".h" || e == ".hpp" || e == ".txt" || e == ".def" || e == ".inc";
    });
    FillTo(kinds[0].data, size);
    kinds[1].name = "binary";
    Collect("/usr/lib/x86_64-linux-gnu", size, kinds[1].data,
            [](const fs::path& p) { return p.filename().string().find(".so") != std::string::npos; });
    FillTo(kinds[1].data, size);
    kinds[2].name = "lowentropy";
    kinds[2].data = LowEntropy(size);

    std::printf("%-11s %5s %8s %10s %10s %10s %9s %9s\n", "data", "level", "ratio", "ours MB/s", "zlib MB/s",
                "ldef MB/s", "ours/zlib", "ours/ldef");
    Inflater inflater;
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    // Totals over the zlib streams ([0], the figure compared across versions) and over all streams ([1]).
    double sumOurs[2] = {}, sumZlib[2] = {}, sumLd[2] = {}, total[2] = {};
    std::vector<uint8_t> out(size);
    for (const Kind& k : kinds) {
        for (int level : {1, 6, 9, int{'N'}, int{'X'}}) {
            const std::vector<uint8_t> comp = level == 'N' ? varnok::DeflateBuffer(k.data, varnok::dtDeflateN)
                                              : level == 'X'
                                                  ? varnok::DeflateBuffer(k.data, varnok::dtDeflateX)
                                                  : ZlibDeflate(k.data, level);
            const std::string levelName =
                level < 10 ? std::to_string(level) : std::string(1, static_cast<char>(level));
            const double mb = static_cast<double>(k.data.size()) / 1e6;

            auto ours = [&] {
                MemorySource src(comp.data(), comp.size());
                BufferSink sink(out);
                const auto r = inflater.Decode(src, sink);
                if (!r.Ok() || sink.pos_ != k.data.size()) std::abort();
            };
            auto zlib = [&] {
                z_stream z{};
                inflateInit2(&z, -15);
                z.next_in = const_cast<Bytef*>(comp.data());
                z.avail_in = static_cast<uInt>(comp.size());
                z.next_out = out.data();
                z.avail_out = static_cast<uInt>(out.size());
                if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
                inflateEnd(&z);
            };
            auto libdeflate = [&] {
                size_t n = 0;
                if (libdeflate_deflate_decompress(ld, comp.data(), comp.size(), out.data(), out.size(), &n) !=
                    LIBDEFLATE_SUCCESS)
                    std::abort();
            };
            ours();
            if (std::memcmp(out.data(), k.data.data(), size) != 0) {
                std::printf("ours: output differs\n");
                return 1;
            }
            // Rounds alternate the decoders so that a change in the machine's load hits all three alike.
            double tOurs = 1e30, tZlib = 1e30, tLd = 1e30;
            for (int r = 0; r < runs; ++r) {
                tOurs = std::min(tOurs, Time(ours));
                tZlib = std::min(tZlib, Time(zlib));
                tLd = std::min(tLd, Time(libdeflate));
            }
            std::printf("%-11s %5s %8.3f %10.1f %10.1f %10.1f %9.2f %9.2f\n", k.name, levelName.c_str(),
                        static_cast<double>(comp.size()) / static_cast<double>(k.data.size()), mb / tOurs,
                        mb / tZlib, mb / tLd, tZlib / tOurs, tLd / tOurs);
            std::fflush(stdout);
            for (int t = level < 10 ? 0 : 1; t < 2; ++t) {
                sumOurs[t] += tOurs;
                sumZlib[t] += tZlib;
                sumLd[t] += tLd;
                total[t] += mb;
            }
        }
    }
    for (int t = 0; t < 2; ++t)
        std::printf("%-11s %5s %8s %10.1f %10.1f %10.1f %9.2f %9.2f\n", t == 0 ? "all" : "all+ours",
                    t == 0 ? "1,6,9" : "-", "-", total[t] / sumOurs[t], total[t] / sumZlib[t],
                    total[t] / sumLd[t], sumZlib[t] / sumOurs[t], sumLd[t] / sumOurs[t]);
    libdeflate_free_decompressor(ld);
    return 0;
}
