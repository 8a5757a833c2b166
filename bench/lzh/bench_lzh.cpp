// Decoding speed of the LZH-family decoders on large archives made by the peer tools (lha for
// -lh5-/-lh6-/-lh7-, arj for methods 1 and 4), compared with the peers testing the same archives:
// the family's own tool (`lhasa t`, `arj t`) and 7-Zip (`7z t`), which reads both families and is
// the faster peer for ARJ. Then the same archives tested end to end, by the extractors in process
// (TUnLha, TUnArj: archive walk, decoding, CRC check) and by `varnok-cli test`. Prints MB/s and, for
// each peer, the ratio of the peer's time to ours (above 1: we are faster).
//
// Usage: bench_lzh [megabytes]   (default 32)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/core/crc.h"
#include "archive/formats/arj/arj_methods.h"
#include "archive/formats/arj/unarj.h"
#include "archive/formats/lzh/lzh_methods.h"
#include "archive/formats/lzh/unlha.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/formats/lzh/test_data.h"
#include "tests/support/test_support.h"

using namespace varnok;
namespace fs = std::filesystem;

namespace {

// What an extractor's test run does besides decoding: keep the running CRC.
struct CrcSink : ByteSink {
    bool crc32 = false;
    uint32_t c32 = 0xFFFFFFFFu;
    uint16_t c16 = 0;
    uint64_t size = 0;
    void Write(const uint8_t* b, size_t n) override {
        size += n;
        if (crc32)
            c32 = UpdateCrc32(c32, b, n);
        else
            c16 = UpdateCrc16(c16, b, n);
    }
};

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Best of three runs of a shell command (its output discarded); negative when it fails.
double TimeCommand(const std::string& cmd) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) return -1;
        best = std::min(best, Seconds(t0));
    }
    return best;
}

template <class F>
double TimeBest(F&& f) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, Seconds(t0));
    }
    return best;
}

struct Peer {
    const char* name;
    double seconds;  // negative: not installed or failed
};

void Report(const std::string& what, uint64_t bytes, double ours, const std::vector<Peer>& peers) {
    double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%-16s %8.1f MB/s", what.c_str(), mb / ours);
    for (const Peer& p : peers) {
        if (p.seconds > 0)
            std::printf("   %s %7.1f MB/s ratio %.2fx", p.name, mb / p.seconds, p.seconds / ours);
        else
            std::printf("   (%s n/a)", p.name);
    }
    std::printf("\n");
}

// The family's own tool and 7-Zip on the same archive (7z is best of three like the rest).
std::vector<Peer> TimePeers(bool arj, const std::string& archive) {
    std::vector<Peer> peers;
    if (arj)
        peers.push_back({"arj t", test::HaveTool("arj") ? TimeCommand("arj t -y " + archive) : -1});
    else
        peers.push_back({"lhasa t", test::HaveTool("lhasa") ? TimeCommand("lhasa t " + archive) : -1});
    peers.push_back({"7z t", test::HaveTool("7z") ? TimeCommand("7z t " + archive) : -1});
    return peers;
}

// Tests a whole archive with an extractor in process; false when an entry fails.
bool TestWith(TUnBase& x, const fs::path& archive) {
    x.SetArchiveFile(archive.string());
    x.FileSpec = {"*.*"};
    bool ok = true;
    x.OnEnd = [&](TZipCommon&, const std::string&, bool pass) { ok = ok && pass; };
    x.OnError = [&](TZipCommon&, const std::string&, const std::string&, const std::string&, int) {
        ok = false;
    };
    return x.TestArchive() > 0 && ok && x.FailedEntries() == 0;
}

struct Made {
    std::string label;  // method
    fs::path path;
    uint64_t bytes;  // uncompressed
    bool arj;
};

}  // namespace

int main(int argc, char** argv) {
    size_t mb = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 32;
    test::TempDir dir;
    auto data = test::MixedData(mb * 1024 * 1024, 11);
    test::WriteFile(dir / "mixed.bin", data);
    std::printf("input: %zu MB of mixed text, noise, runs and long-distance repeats\n", mb);
    const std::string cd = "cd " + test::Quote(dir.Path()) + " && ";

    std::vector<Made> made;
    if (!test::HaveTool("lha")) std::printf("lha not installed: no LZH archives\n");
    for (const char* m : {"5", "6", "7"}) {
        if (!test::HaveTool("lha")) break;
        std::string name = std::string("t") + m + ".lzh";
        if (std::system((cd + "lha a2o" + m + " " + name + " mixed.bin >/dev/null 2>&1").c_str()) != 0) {
            std::printf("lha failed for -lh%s-\n", m);
            continue;
        }
        auto file = test::ReadFile(dir / name);
        auto entries = test::WalkLzh(file);
        if (entries.size() != 1) continue;
        const auto& e = entries[0];
        bool ok = true;
        double ours = TimeBest([&] {
            MemorySource src(file.data() + e.dataOffset, e.packed);
            CrcSink sink;
            auto r = DecodeLzhMethod(e.method, src, e.packed, sink, e.unpacked);
            ok = ok && r.Ok() && sink.c16 == e.crc16;
        });
        Report(e.method + (ok ? "" : " (FAILED)"), e.unpacked, ours,
               TimePeers(false, test::Quote(dir / name)));
        made.push_back({e.method, dir / name, e.unpacked, false});
    }

    if (test::HaveTool("arj")) {
        for (const char* m : {"1", "4"}) {
            std::string name = std::string("m") + m + ".arj";
            if (std::system((cd + "arj a -y -m" + m + " " + name + " mixed.bin >/dev/null 2>&1").c_str()) !=
                0)
                continue;
            auto file = test::ReadFile(dir / name);
            auto entries = test::WalkArj(file);
            if (entries.size() != 1) continue;
            const auto& e = entries[0];
            bool ok = true;
            double ours = TimeBest([&] {
                MemorySource src(file.data() + e.dataOffset, e.packed);
                CrcSink sink;
                sink.crc32 = true;
                auto r = DecodeArjMethod(e.method, src, e.packed, sink, e.unpacked);
                ok = ok && r.Ok() && ~sink.c32 == e.crc32;
            });
            Report(std::string("ARJ method ") + m + (ok ? "" : " (FAILED)"), e.unpacked, ours,
                   TimePeers(true, test::Quote(dir / name)));
            made.push_back({std::string("ARJ m") + m, dir / name, e.unpacked, true});
        }
    } else {
        std::printf("arj not installed: no ARJ archives\n");
    }

    // End to end: the whole archive tested, header walk and CRC check included.
    const fs::path cli = test::BinDir() / "varnok-cli";
    const bool haveCli = fs::exists(cli);
    std::printf(
        "\nend to end, whole archive tested (%s):\n",
        haveCli ? "extractor in process, varnok-cli test" : "extractor in process; varnok-cli not built");
    for (const Made& a : made) {
        const std::vector<Peer> peers = TimePeers(a.arj, test::Quote(a.path));
        bool ok = true;
        double ours = TimeBest([&] {
            if (a.arj) {
                TUnArj x;
                ok = TestWith(x, a.path) && ok;
            } else {
                TUnLha x;
                ok = TestWith(x, a.path) && ok;
            }
        });
        Report((a.arj ? "TUnArj " : "TUnLha ") + a.label + (ok ? "" : " (FAILED)"), a.bytes, ours, peers);
        if (haveCli) {
            double viaCli = TimeCommand(test::Quote(cli) + " test " + test::Quote(a.path));
            if (viaCli > 0)
                Report("cli " + a.label, a.bytes, viaCli, peers);
            else
                std::printf("cli %s: FAILED\n", a.label.c_str());
        }
    }
    return 0;
}
