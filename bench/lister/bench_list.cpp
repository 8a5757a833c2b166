// Listing a ZIP file of 100,000 entries: our lister and the ZIP bridge against unzip and 7z on the same file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/lister.h"
#include "platform/file.h"
#include "platform/tempfile.h"
#include "zipbridge/zip_bridge.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
}

// Builds a ZIP of n small stored entries spread over folders.
void BuildZip(const std::string& path, int n) {
    std::vector<uint8_t> out, central;
    out.reserve(static_cast<size_t>(n) * 100);
    for (int i = 0; i < n; ++i) {
        char name[64];
        snprintf(name, sizeof name, "dir%03d/sub%02d/file%06d.txt", i % 997, i % 37, i);
        std::string data = "entry " + std::to_string(i) + "\n";
        uint32_t crc = varnok::Crc32(data.data(), data.size());
        uint32_t off = static_cast<uint32_t>(out.size());
        uint16_t nl = static_cast<uint16_t>(strlen(name));
        varnok::AppendLe32(out, 0x04034B50);
        varnok::AppendLe16(out, 10);
        varnok::AppendLe16(out, 0);
        varnok::AppendLe16(out, 0);
        varnok::AppendLe32(out, 0x58210000);
        varnok::AppendLe32(out, crc);
        varnok::AppendLe32(out, static_cast<uint32_t>(data.size()));
        varnok::AppendLe32(out, static_cast<uint32_t>(data.size()));
        varnok::AppendLe16(out, nl);
        varnok::AppendLe16(out, 0);
        out.insert(out.end(), name, name + nl);
        out.insert(out.end(), data.begin(), data.end());
        varnok::AppendLe32(central, 0x02014B50);
        varnok::AppendLe16(central, 0x031E);
        varnok::AppendLe16(central, 10);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe32(central, 0x58210000);
        varnok::AppendLe32(central, crc);
        varnok::AppendLe32(central, static_cast<uint32_t>(data.size()));
        varnok::AppendLe32(central, static_cast<uint32_t>(data.size()));
        varnok::AppendLe16(central, nl);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe32(central, 0x81A40000);
        varnok::AppendLe32(central, off);
        central.insert(central.end(), name, name + nl);
    }
    uint64_t cd = out.size();
    out.insert(out.end(), central.begin(), central.end());
    bool zip64 = n > 0xFFFF;
    if (zip64) {
        // More than 65,535 entries: the counts live in the ZIP64 end record.
        uint64_t rec = out.size();
        varnok::AppendLe32(out, 0x06064B50);
        for (uint64_t v : {uint64_t{44}}) {
            uint8_t b[8];
            varnok::PutLe64(b, v);
            out.insert(out.end(), b, b + 8);
        }
        varnok::AppendLe16(out, 45);
        varnok::AppendLe16(out, 45);
        varnok::AppendLe32(out, 0);
        varnok::AppendLe32(out, 0);
        for (uint64_t v : {uint64_t(n), uint64_t(n), uint64_t(central.size()), cd}) {
            uint8_t b[8];
            varnok::PutLe64(b, v);
            out.insert(out.end(), b, b + 8);
        }
        varnok::AppendLe32(out, 0x07064B50);
        varnok::AppendLe32(out, 0);
        uint8_t b[8];
        varnok::PutLe64(b, rec);
        out.insert(out.end(), b, b + 8);
        varnok::AppendLe32(out, 1);
    }
    varnok::AppendLe32(out, 0x06054B50);
    varnok::AppendLe16(out, 0);
    varnok::AppendLe16(out, 0);
    varnok::AppendLe16(out, zip64 ? 0xFFFF : static_cast<uint16_t>(n));
    varnok::AppendLe16(out, zip64 ? 0xFFFF : static_cast<uint16_t>(n));
    varnok::AppendLe32(out, static_cast<uint32_t>(central.size()));
    varnok::AppendLe32(out, zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(cd));
    varnok::AppendLe16(out, 0);
    varnok::platform::File f;
    f.Open(path, varnok::platform::File::Mode::Create);
    f.Write(out.data(), out.size());
}

double TimeCommand(const std::string& cmd) {
    auto t = Clock::now();
    int rc = system((cmd + " >/dev/null 2>&1").c_str());
    if (rc != 0) return -1;
    return Seconds(t);
}

}  // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? atoi(argv[1]) : 100000;
    std::string dir = varnok::platform::CreateTempDir("", "vnkbench");
    std::string path = dir + "/big.zip";
    BuildZip(path, n);

    // Best of three runs each.
    double lister = 1e9, bridge = 1e9;
    size_t count = 0;
    for (int run = 0; run < 3; ++run) {
        auto t = Clock::now();
        varnok::TArcLister l;
        l.FileSpec = {"*.*"};
        size_t seen = 0;
        l.OnRead = [&](varnok::TZipCommon&, uint64_t, int) { seen += l.Entry().EntryName.size() > 0; };
        l.SetArchiveFile(path);
        l.ReadArchive();
        lister = std::min(lister, Seconds(t));
        count = seen;
        t = Clock::now();
        varnok::TZipBridge z;
        z.Unattended = true;
        z.SetZipFileName(path);
        bridge = std::min(bridge, Seconds(t));
    }
    printf("entries listed: %zu of %d\n", count, n);
    printf("varnok lister:      %8.3f s\n", lister);
    printf("varnok zip bridge:  %8.3f s\n", bridge);
    for (const char* peer : {"unzip -l", "7z l"}) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            double s = TimeCommand(std::string(peer) + " '" + path + "'");
            if (s < 0) {
                best = -1;
                break;
            }
            best = std::min(best, s);
        }
        if (best < 0)
            printf("%-18s  not available\n", peer);
        else
            printf("%-18s  %8.3f s   ratio peer/varnok-lister = %.2f\n", peer, best, best / lister);
    }
    varnok::platform::RemoveTree(dir);
    return 0;
}
