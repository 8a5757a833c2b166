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
#include "bench/app/big_zip.h"
#include "platform/tempfile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
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
    varnok::bench::BuildZip(path, n);

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
