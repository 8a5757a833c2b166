// End-to-end speed of the gzip, TAR and UUE extractors against the programs people use for the same job:
//   gzip test        TUnGZip::TestArchive on a .gz           vs  gzip -t
//   tgz test         TUnGZip::TestArchive on a .tar.gz (the TAR streamed out of the gzip data)
//                                                             vs  tar -xzOf (decompress and unpack to
//                                                             /dev/null)
//   tar extract      TUnTar::ExtractArchive into a folder    vs  tar -xf into a folder
//   uudecode         TUUDecode::ExtractArchive               vs  uudecode -o
// The data: the system's C headers (text) and shared libraries (binary), as many files as fit the size asked
// for. The peers include their process start. The best of several runs is reported in MB/s of decoded data,
// with the ratio ours/peer (above 1 means we are faster).
//
// usage: bench_legacy_extract [MiB (default 64)] [runs (default 3)]
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

#include "archive/formats/gzip/ungzip.h"
#include "archive/formats/tar/untar.h"
#include "archive/formats/uue/uudecode.h"

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

// Copies files of the system into dir until about `limit` bytes are there.
uint64_t FillTree(const fs::path& dir, uint64_t limit) {
    uint64_t total = 0;
    std::error_code ec;
    int n = 0;
    for (const char* root : {"/usr/include", "/usr/lib/x86_64-linux-gnu", "/usr/lib"}) {
        for (auto it =
                 fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator() && total < limit; it.increment(ec)) {
            if (ec) break;
            if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
            uint64_t size = it->file_size(ec);
            if (ec || size == 0 || size > (8u << 20)) continue;
            fs::path to = dir / ("d" + std::to_string(n / 200)) /
                          (std::to_string(n) + "_" + it->path().filename().string());
            fs::create_directories(to.parent_path());
            fs::copy_file(it->path(), to, ec);
            if (!ec) total += size, ++n;
        }
    }
    return total;
}

template <class X>
void Run(X& x, const fs::path& archive, const fs::path& out, bool test) {
    x.SetArchiveFile(archive.string());
    x.FileSpec = {"*.*"};
    x.ConfirmOverwrites = false;
    if (!out.empty()) x.ExtractDir = out.string();
    int failed = 0;
    x.OnEnd = [&](TZipCommon&, const std::string&, bool pass) { failed += !pass; };
    if (test)
        x.TestArchive();
    else
        x.ExtractArchive();
    if (failed) std::fprintf(stderr, "bench: %d entries failed\n", failed);
}

void Report(const char* what, uint64_t bytes, double ours, double peer) {
    double mb = static_cast<double>(bytes) / 1e6;
    if (peer > 0)
        std::printf("%-14s ours %8.1f MB/s   peer %8.1f MB/s   ratio %.2f\n", what, mb / ours, mb / peer,
                    peer / ours);
    else
        std::printf("%-14s ours %8.1f MB/s   (peer not installed)\n", what, mb / ours);
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 64;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    char tmpl[] = "/tmp/vnkbenchXXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    fs::path tmp = tmpl;
    fs::path tree = tmp / "tree";
    uint64_t bytes = FillTree(tree, mib << 20);
    std::printf("data: %.1f MB in files of the system\n", static_cast<double>(bytes) / 1e6);
    fs::path tarPath = tmp / "t.tar", tgz = tmp / "t.tar.gz";
    Sh("tar -cf " + Q(tarPath) + " -C " + Q(tree) + " .");
    Sh("gzip -6 -c " + Q(tarPath) + " > " + Q(tgz));
    fs::path gz = tmp / "one.gz";
    Sh("gzip -6 -c " + Q(tarPath) + " > " + Q(gz));
    uint64_t tarBytes = fs::file_size(tarPath);

    // gzip test: our decoder on the single-file stream.
    {
        double ours = Seconds(
            [&] {
                TUnGZip x;
                x.OnNestedTarFile = [](TZipCommon&, const std::string&, bool& untar) { untar = false; };
                Run(x, gz, {}, true);
            },
            runs);
        double peer = Have("gzip") ? Seconds([&] { Sh("gzip -t " + Q(gz)); }, runs) : 0;
        Report("gzip test", tarBytes, ours, peer);
    }
    // tgz test: the TAR streamed out of the gzip data.
    {
        double ours = Seconds(
            [&] {
                TUnGZip x;
                Run(x, tgz, {}, true);
            },
            runs);
        double peer = Have("tar") ? Seconds([&] { Sh("tar -xzOf " + Q(tgz) + " > /dev/null"); }, runs) : 0;
        Report("tgz test", tarBytes, ours, peer);
    }
    // tar extract into a folder.
    {
        fs::path out = tmp / "out";
        double ours = Seconds(
            [&] {
                fs::remove_all(out);
                TUnTar x;
                Run(x, tarPath, out, false);
            },
            runs);
        double peer = Have("tar") ? Seconds(
                                        [&] {
                                            fs::remove_all(out);
                                            fs::create_directories(out);
                                            Sh("tar -xf " + Q(tarPath) + " -C " + Q(out));
                                        },
                                        runs)
                                  : 0;
        Report("tar extract", tarBytes, ours, peer);
        fs::remove_all(out);
    }
    // uudecode.
    if (Have("uuencode")) {
        fs::path uue = tmp / "t.uue", out = tmp / "uu";
        Sh("uuencode " + Q(gz) + " payload.bin > " + Q(uue));
        uint64_t payload = fs::file_size(gz);
        double ours = Seconds(
            [&] {
                TUUDecode x;
                Run(x, uue, out, false);
            },
            runs);
        double peer = Have("uudecode")
                          ? Seconds([&] { Sh("uudecode -o " + Q(out / "peer.bin") + " " + Q(uue)); }, runs)
                          : 0;
        Report("uudecode", payload, ours, peer);
    }
    fs::remove_all(tmp);
    return 0;
}
