// Extracting a large ZIP end to end: varnok-cli against unzip and 7z on the same archive, in one run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Time(const std::string& cmd) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        auto t = Clock::now();
        if (system((cmd + " >/dev/null 2>&1").c_str()) != 0) return -1;
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t).count());
    }
    return best;
}

// About 200 MB of mixed files: text-like, binary, and runs.
void MakeTree(const std::string& dir) {
    std::mt19937 rng(42);
    const char* words[] = {"archive ", "varnok ", "the ", "data ", "of ",
                           "zip ",     "entry ",  "\n",   "0123 ", "lorem "};
    for (int f = 0; f < 40; ++f) {
        std::string path = dir + "/dir" + std::to_string(f % 5) + "/file" + std::to_string(f) + ".dat";
        varnok::platform::ForceDirectories(dir + "/dir" + std::to_string(f % 5));
        std::ofstream o(path, std::ios::binary);
        std::string chunk;
        for (int i = 0; i < 5 * 1024 * 1024 / 6; ++i) {
            if (f % 3 == 0)
                chunk += words[rng() % 10];
            else if (f % 3 == 1)
                chunk += static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);
            else
                chunk += static_cast<char>(rng());
            if (chunk.size() > (1 << 16)) {
                o << chunk;
                chunk.clear();
            }
        }
        o << chunk;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string cli = argc > 1 ? argv[1] : "build/bin/varnok-cli";
    std::string dir = varnok::platform::CreateTempDir("", "vnkbenchx");
    MakeTree(dir + "/src");
    std::string zip = dir + "/big.zip";
    if (system(("cd '" + dir + "/src' && zip -q -r -6 '" + zip + "' .").c_str()) != 0) {
        printf("zip is needed to build the archive\n");
        return 1;
    }
    printf("archive: %lld bytes\n", static_cast<long long>(varnok::platform::FileSizeOf(zip)));
    double ours = Time(cli + " extract '" + zip + "' -d '" + dir + "/o1' --overwrite");
    double test = Time(cli + " test '" + zip + "'");
    double unzip = Time("unzip -o -q '" + zip + "' -d '" + dir + "/o2'");
    double unzipT = Time("unzip -tq '" + zip + "'");
    double sevenZ = Time("7z x -y '-o" + dir + "/o3' '" + zip + "'");
    printf("varnok-cli extract: %7.3f s   test: %7.3f s\n", ours, test);
    if (unzip > 0)
        printf("unzip              %7.3f s   -t:   %7.3f s   ratio unzip/varnok = %.2f (test %.2f)\n", unzip,
               unzipT, unzip / ours, unzipT / test);
    if (sevenZ > 0)
        printf("7z x               %7.3f s                  ratio 7z/varnok    = %.2f\n", sevenZ,
               sevenZ / ours);
    varnok::platform::RemoveTree(dir);
    return 0;
}
