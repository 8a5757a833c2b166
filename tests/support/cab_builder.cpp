#include "tests/support/cab_builder.h"

#include <algorithm>

#include "tests/support/test_support.h"

namespace varnok::test {

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
void Set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

uint32_t Checksum(const uint8_t* p, size_t n, uint32_t sum) {
    size_t i = 0;
    for (; i + 4 <= n; i += 4) sum ^= uint32_t{p[i]} | uint32_t{p[i + 1]} << 8 | uint32_t{p[i + 2]} << 16 |
                                      uint32_t{p[i + 3]} << 24;
    uint32_t tail = 0;
    switch (n - i) {
        case 3: tail |= uint32_t{p[i++]} << 16; [[fallthrough]];
        case 2: tail |= uint32_t{p[i++]} << 8; [[fallthrough]];
        case 1: tail |= p[i]; break;
        default: break;
    }
    return sum ^ tail;
}

}  // namespace

uint32_t CabDataChecksum(const std::vector<uint8_t>& data, uint16_t uncompressed) {
    uint8_t sizes[4];
    sizes[0] = static_cast<uint8_t>(data.size());
    sizes[1] = static_cast<uint8_t>(data.size() >> 8);
    sizes[2] = static_cast<uint8_t>(uncompressed);
    sizes[3] = static_cast<uint8_t>(uncompressed >> 8);
    return Checksum(sizes, 4, Checksum(data.data(), data.size(), 0));
}

std::vector<uint8_t> BuildCabinet(const std::vector<CabTestFolder>& folders, const std::vector<CabTestFile>& files) {
    std::vector<uint8_t> cab = {'M', 'S', 'C', 'F'};
    Put32(cab, 0);
    Put32(cab, 0);  // cbCabinet, set at the end
    Put32(cab, 0);
    Put32(cab, 0);  // coffFiles, set below
    Put32(cab, 0);
    cab.push_back(3);
    cab.push_back(1);
    Put16(cab, static_cast<uint32_t>(folders.size()));
    Put16(cab, static_cast<uint32_t>(files.size()));
    Put16(cab, 0);       // flags
    Put16(cab, 0x1234);  // set id
    Put16(cab, 0);       // index in the set
    const size_t folderAt = cab.size();
    for (const auto& f : folders) {
        Put32(cab, 0);  // coffCabStart, set below
        Put16(cab, static_cast<uint32_t>(f.blocks.size()));
        Put16(cab, f.typeCompress);
    }
    Set32(cab, 16, static_cast<uint32_t>(cab.size()));
    for (const auto& f : files) {
        Put32(cab, f.size);
        Put32(cab, f.folderOffset);
        Put16(cab, f.folder);
        Put16(cab, (44u << 9) | (1u << 5) | 1u);  // 2024-01-01
        Put16(cab, 0);
        Put16(cab, 0x20);
        cab.insert(cab.end(), f.name.begin(), f.name.end());
        cab.push_back(0);
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        Set32(cab, folderAt + 8 * i, static_cast<uint32_t>(cab.size()));
        const auto& f = folders[i];
        for (size_t b = 0; b < f.blocks.size(); ++b) {
            Put32(cab, CabDataChecksum(f.blocks[b], f.uncompressed[b]));
            Put16(cab, static_cast<uint32_t>(f.blocks[b].size()));
            Put16(cab, f.uncompressed[b]);
            cab.insert(cab.end(), f.blocks[b].begin(), f.blocks[b].end());
        }
    }
    Set32(cab, 8, static_cast<uint32_t>(cab.size()));
    return cab;
}

std::vector<uint8_t> BuildOneFileCabinet(uint16_t typeCompress, const std::vector<std::vector<uint8_t>>& frames,
                                         uint32_t size, const std::string& name) {
    CabTestFolder folder;
    folder.typeCompress = typeCompress;
    folder.blocks = frames;
    for (size_t i = 0; i < frames.size(); ++i)
        folder.uncompressed.push_back(static_cast<uint16_t>(std::min<size_t>(32768, size - 32768 * i)));
    return BuildCabinet({folder}, {{name, size, 0, 0}});
}

std::vector<uint8_t> ExtractWithTool(const std::string& tool, const std::filesystem::path& cab,
                                     const std::filesystem::path& dir, const std::string& name, std::string* error) {
    std::filesystem::create_directories(dir);
    std::string command;
    if (tool == "cabextract")
        command = "cabextract -q -d " + Quote(dir) + " " + Quote(cab);
    else if (tool == "7z")
        command = "7z x -y -bd -o" + Quote(dir) + " " + Quote(cab);
    else
        command = "unar -q -f -D -o " + Quote(dir) + " " + Quote(cab);
    std::string out;
    const int status = Run(command + " 2>&1", &out);
    const auto path = dir / name;
    if (status != 0 || !std::filesystem::exists(path)) {
        if (error) *error = tool + " exit " + std::to_string(status) + ": " + out;
        return {};
    }
    return ReadFile(path);
}

}  // namespace varnok::test
