// Writes seed inputs for fuzz_ace_decode and fuzz_unace_walk with the ACE test writer:
//   make_ace_seeds <source folder>   (seeds go to fuzz/corpus/fuzz_ace_decode and fuzz/corpus/fuzz_unace_walk)
// Small streams that reach every method and block mode, and small archives: solid, encrypted, commented,
// behind a program.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/formats/ace/ace_test_data.h"
#include "tests/formats/ace/ace_test_writer.h"

namespace fs = std::filesystem;
using namespace varnok::test::ace;

namespace {

void Put(const fs::path& p, const std::vector<uint8_t>& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
}

std::vector<Segment> Modes() {
    std::vector<Segment> s(1);
    s[0].data = Words(300, 1);
    Segment exe;
    exe.mode.mode = 2;
    exe.mode.exeMode = 1;
    exe.data = X86(400, 2);
    s.push_back(exe);
    Segment delta;
    delta.mode.mode = 1;
    delta.mode.deltaDist = 2;
    delta.mode.deltaLen = 200;
    delta.data = Audio(400, 2);
    s.push_back(delta);
    for (int m = 3; m <= 6; ++m) {
        Segment snd;
        snd.mode.mode = m;
        snd.data = Audio(240, m == 3 ? 1 : 2);
        s.push_back(snd);
    }
    Segment pic;
    pic.mode.mode = 7;
    pic.mode.picWidth = 30;
    pic.mode.picPlanes = 3;
    pic.picKinds = {1, 2};
    pic.data = Image(30, 6, 3);
    s.push_back(pic);
    Segment tail;
    tail.data = Words(100, 3);
    s.push_back(tail);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ace_seeds <source folder>\n");
        return 2;
    }
    const fs::path corpus = fs::path(argv[1]) / "fuzz" / "corpus";
    const auto segs = Modes();
    std::vector<uint8_t> all;
    for (const auto& s : segs)
        all.insert(all.end(), s.data.begin(), s.data.end());

    // Decoder seeds: options byte (type 2 = blocked, 1 = LZ77, 0 = stored; dictionary 10 bits), lead-in byte.
    auto decoderSeed = [&](uint8_t opts, const std::vector<uint8_t>& packed) {
        std::vector<uint8_t> v = {opts, 0};
        v.insert(v.end(), packed.begin(), packed.end());
        return v;
    };
    Put(corpus / "fuzz_ace_decode" / "blocked_modes", decoderSeed(2 | (10 << 2), PackBlocked(segs)));
    Put(corpus / "fuzz_ace_decode" / "lz77", decoderSeed(1 | (10 << 2), PackLz77(Words(2000, 4))));
    Put(corpus / "fuzz_ace_decode" / "stored", decoderSeed(0, Words(300, 5)));
    const auto chain = PackSolidChain({Words(1500, 6), Words(1500, 6)}, {1, 1});
    auto two = chain[0];
    two.insert(two.end(), chain[1].begin(), chain[1].end());
    Put(corpus / "fuzz_ace_decode" / "solid_pair", decoderSeed(1 | (10 << 2) | 0x40, two));

    // Engine seeds: whole archives.
    const auto walk = corpus / "fuzz_unace_walk";
    {
        auto text = Words(1000, 7);
        std::vector<FileEntry> files = {MakeEntry("modes.bin", all, 2, PackBlocked(segs)),
                                        MakeEntry("text.txt", text, 1, PackLz77(text)),
                                        MakeEntry("stored.txt", text, 0, text)};
        FileEntry dir = MakeEntry("folder", {}, 1, {});
        dir.attributes = 0x10;
        files.insert(files.begin(), dir);
        ArchiveOptions o;
        o.comment = PackComment("seed archive");
        o.advert = "*UNREGISTERED VERSION*";
        Put(walk / "methods.ace", BuildArchive(files, o)[0]);
        // Behind a program.
        auto sfx = Noise(600, 8);
        const auto arc = BuildArchive({files[2]})[0];
        sfx.insert(sfx.end(), arc.begin(), arc.end());
        Put(walk / "sfx.exe", sfx);
    }
    {
        const std::vector<std::vector<uint8_t>> data = {Words(800, 9), Noise(200, 9), Words(900, 9)};
        const auto packed = PackSolidChain(data, {2, 0, 1});
        std::vector<FileEntry> files;
        for (size_t i = 0; i < data.size(); ++i) {
            files.push_back(MakeEntry("s" + std::to_string(i), data[i], i == 1 ? 0 : i == 0 ? 2 : 1, packed[i]));
            if (i) files.back().flags = 0x8000;
        }
        ArchiveOptions o;
        o.mainFlags = 0x8000;
        Put(walk / "solid.ace", BuildArchive(files, o)[0]);
    }
    {
        const auto text = Words(700, 10);
        auto e = MakeEntry("secret.txt", text, 1, Encrypt(PackLz77(text), "test"));
        e.flags = 0x4000;
        auto s = MakeEntry("secret.bin", text, 0, Encrypt(text, "test"));
        s.flags = 0x4000;
        Put(walk / "encrypted.ace", BuildArchive({e, s})[0]);
    }
    return 0;
}
