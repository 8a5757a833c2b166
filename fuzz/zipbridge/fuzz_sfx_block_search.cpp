// SfxToZip's search for the settings block over arbitrary bytes (the end of a stub): both block forms, texts
// whose lengths point anywhere. Whatever is taken must lie inside the bytes, and a block written by the
// bridge must be found again with the same texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zipbridge/zip_bridge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::SfxSettings s;
    if (varnok::FindSfxBlock(data, size, s)) {
        if (s.Caption.size() + s.DefaultDir.size() + s.CommandLine.size() + s.Message.size() > size) abort();
    }
    // The bytes as texts of a block, found again behind them.
    varnok::SfxSettings w;
    const size_t quarter = size / 4;
    auto text = [&](size_t i) { return std::string(reinterpret_cast<const char*>(data) + i * quarter, quarter > 255 ? 255 : quarter); };
    w.Caption = text(0);
    w.DefaultDir = text(1);
    w.CommandLine = text(2);
    w.Message = text(3);
    std::vector<uint8_t> b(data, data + size);
    const std::vector<uint8_t> block = varnok::BuildSfxBlock(w);
    b.insert(b.end(), block.begin(), block.end());
    varnok::SfxSettings back;
    if (!varnok::FindSfxBlock(b.data(), b.size(), back)) abort();
    // Bytes without an "M" hold no block of their own, so the one written is the one found.
    if (!memchr(data, 'M', size) && (back.Caption != w.Caption || back.Message != w.Message)) abort();
    return 0;
}
