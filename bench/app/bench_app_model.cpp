// The main window's model on a ZIP file of 100,000 entries: opening it into rows, making the texts of a
// screenful of rows, and sorting by every column in both directions. The references are "unzip -l" on the
// same file and a plain sort of the bare names.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/archive_model.h"
#include "app/settings.h"
#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "platform/file.h"
#include "platform/tempfile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
}

void Put64(std::vector<uint8_t>& out, uint64_t v) {
    uint8_t b[8];
    varnok::PutLe64(b, v);
    out.insert(out.end(), b, b + 8);
}

// A ZIP of n small stored entries over many folders, with varied sizes, dates and extensions (ZIP64 end
// records above 65,535 entries).
void BuildZip(const std::string& path, int n) {
    static const char* const kExt[] = {"txt", "c", "h", "png", "html", "md", "json", "bin", "o", "cpp"};
    std::vector<uint8_t> out, central;
    out.reserve(static_cast<size_t>(n) * 140);
    for (int i = 0; i < n; ++i) {
        char name[96];
        const long long k = i;
        snprintf(name, sizeof name, "dir%03lld/sub%02d/File%06lld.%s", (k * 7919) % 997, i % 37,
                 (k * 104729) % 1000003, kExt[i % 10]);
        std::string data(static_cast<size_t>((i * 31) % 211), static_cast<char>('a' + i % 26));
        uint32_t crc = varnok::Crc32(data.data(), data.size());
        uint32_t packed = static_cast<uint32_t>(data.size() - data.size() * (i % 5) / 10);
        uint32_t dos = ((20u + i % 20) << 25) | ((1u + i % 12) << 21) | ((1u + i % 28) << 16) |
                       ((i % 24) << 11) | ((i % 60) << 5);
        uint32_t off = static_cast<uint32_t>(out.size());
        uint16_t nl = static_cast<uint16_t>(strlen(name));
        varnok::AppendLe32(out, 0x04034B50);
        varnok::AppendLe16(out, 10);
        varnok::AppendLe16(out, 0);
        varnok::AppendLe16(out, 0);
        varnok::AppendLe32(out, dos);
        varnok::AppendLe32(out, crc);
        varnok::AppendLe32(out, static_cast<uint32_t>(data.size()));
        varnok::AppendLe32(out, static_cast<uint32_t>(data.size()));
        varnok::AppendLe16(out, nl);
        varnok::AppendLe16(out, 0);
        out.insert(out.end(), name, name + nl);
        out.insert(out.end(), data.begin(), data.end());
        varnok::AppendLe32(central, 0x02014B50);
        varnok::AppendLe16(central, 0x0014);
        varnok::AppendLe16(central, 10);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe32(central, dos);
        varnok::AppendLe32(central, crc);
        varnok::AppendLe32(central, packed);
        varnok::AppendLe32(central, static_cast<uint32_t>(data.size()));
        varnok::AppendLe16(central, nl);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe32(central, i % 3 == 0 ? 0x21u : 0x20u);
        varnok::AppendLe32(central, off);
        central.insert(central.end(), name, name + nl);
    }
    uint64_t cd = out.size();
    out.insert(out.end(), central.begin(), central.end());
    const bool zip64 = n > 0xFFFF;
    if (zip64) {
        uint64_t rec = out.size();
        varnok::AppendLe32(out, 0x06064B50);
        Put64(out, 44);
        varnok::AppendLe16(out, 45);
        varnok::AppendLe16(out, 45);
        varnok::AppendLe32(out, 0);
        varnok::AppendLe32(out, 0);
        for (uint64_t v : {uint64_t(n), uint64_t(n), uint64_t(central.size()), cd})
            Put64(out, v);
        varnok::AppendLe32(out, 0x07064B50);
        varnok::AppendLe32(out, 0);
        Put64(out, rec);
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
    if (system((cmd + " >/dev/null 2>&1").c_str()) != 0) return -1;
    return Seconds(t);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace varnok::app;
    const int n = argc > 1 ? atoi(argv[1]) : 100000;
    std::string dir = varnok::platform::CreateTempDir("", "vnkbench");
    std::string path = dir + "/big.zip";
    BuildZip(path, n);

    Settings settings;
    ArchiveView view;
    ArchiveModel model(settings, view);

    double open = 1e9;
    for (int run = 0; run < 3; ++run) {
        auto t = Clock::now();
        model.Open(path);
        open = std::min(open, Seconds(t));
    }
    printf("entries: %d rows of %d\n", model.RowCount(), n);
    printf("open into rows:            %8.3f s\n", open);

    // A screenful of rows, as the view asks for them.
    auto t = Clock::now();
    size_t chars = 0;
    for (int r = 0; r < 60; ++r)
        for (int c = 0; c < kColumnCount; ++c)
            chars += model.Text(r * (model.RowCount() / 60), c).size();
    printf("texts of 60 rows:          %8.6f s (%zu characters)\n", Seconds(t), chars);

    std::vector<std::string> names;
    for (const auto& r : model.Rows())
        names.push_back(r.name);
    t = Clock::now();
    std::sort(names.begin(), names.end());
    double plain = Seconds(t);
    printf("reference std::sort of the names: %8.3f s\n", plain);

    double worst = 0;
    for (int c = 0; c < kColumnCount; ++c) {
        double asc = 1e9, desc = 1e9;
        for (int run = 0; run < 3; ++run) {
            // Two clicks on a column: ascending, then descending.
            auto a = Clock::now();
            model.SortByColumn(c);
            asc = std::min(asc, Seconds(a));
            a = Clock::now();
            model.SortByColumn(c);
            desc = std::min(desc, Seconds(a));
        }
        worst = std::max({worst, asc, desc});
        printf("sort by %-10s  asc %7.3f s  desc %7.3f s   ratio to the reference %.1f\n", kColumnCaptions[c],
               asc, desc, std::max(asc, desc) / plain);
    }
    printf("slowest sort:              %8.3f s\n", worst);

    double unzip = 1e9;
    for (int run = 0; run < 3; ++run) {
        double s = TimeCommand("unzip -l '" + path + "'");
        if (s < 0) {
            unzip = -1;
            break;
        }
        unzip = std::min(unzip, s);
    }
    if (unzip < 0)
        printf("unzip -l                   not available\n");
    else
        printf("unzip -l                   %8.3f s   ratio unzip/open = %.2f\n", unzip, unzip / open);
    if (!getenv("VARNOK_BENCH_KEEP"))
        varnok::platform::RemoveTree(dir);
    else
        printf("kept %s\n", path.c_str());
    return 0;
}
