// Cabinet compressors' round trip: the input (after its first two bytes) is compressed as one cabinet
// folder with LZX or Quantum, under a window, effort or level and E8 setting picked from the first two
// bytes, wrapped into a cabinet in memory and extracted again by libmspack's cabinet decompressor through
// an in-memory mspack_system. Any error on the way back, or bytes that differ, is a crash.
//
// The compressors must accept every byte string, so the round trip has no excuse to fail; frames are
// kept short (the fuzzer's inputs are at most 64 KiB) so that every run crosses frame ends.
#include <mspack.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/codecs/lzx_encoder.h"
#include "archive/codecs/quantum_encoder.h"

namespace {

struct MemFile {
    std::vector<uint8_t>* data;
    size_t pos;
};

std::vector<uint8_t> g_cab;
std::vector<uint8_t> g_out;

mspack_file* Open(mspack_system*, const char* name, int mode) {
    auto* f = new MemFile{std::strcmp(name, "in.cab") == 0 ? &g_cab : &g_out, 0};
    if (mode != MSPACK_SYS_OPEN_READ && f->data == &g_out) g_out.clear();
    return reinterpret_cast<mspack_file*>(f);
}
void Close(mspack_file* file) { delete reinterpret_cast<MemFile*>(file); }
int Read(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<MemFile*>(file);
    const size_t n = std::min(static_cast<size_t>(bytes), f->data->size() - std::min(f->pos, f->data->size()));
    if (n) std::memcpy(buffer, f->data->data() + f->pos, n);
    f->pos += n;
    return static_cast<int>(n);
}
int Write(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<MemFile*>(file);
    const auto* p = static_cast<const uint8_t*>(buffer);
    f->data->insert(f->data->end(), p, p + bytes);
    return bytes;
}
int Seek(mspack_file* file, off_t offset, int mode) {
    auto* f = reinterpret_cast<MemFile*>(file);
    const off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                       : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(f->pos)
                                                     : static_cast<off_t>(f->data->size());
    if (base + offset < 0 || base + offset > static_cast<off_t>(f->data->size())) return 1;
    f->pos = static_cast<size_t>(base + offset);
    return 0;
}
off_t Tell(mspack_file* file) { return static_cast<off_t>(reinterpret_cast<MemFile*>(file)->pos); }
void Message(mspack_file*, const char*, ...) {}
void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void Free(void* p) { std::free(p); }
void Copy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

mspack_system g_system = {Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr};

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// One folder of `frames` holding one file "f" of `size` bytes; CFDATA checksums 0 (not checked).
std::vector<uint8_t> Cabinet(uint16_t type, const std::vector<std::vector<uint8_t>>& frames, uint32_t size) {
    std::vector<uint8_t> c = {'M', 'S', 'C', 'F'};
    Put32(c, 0);
    const size_t total = c.size();
    Put32(c, 0);
    Put32(c, 0);
    Put32(c, 36 + 8);  // coffFiles
    Put32(c, 0);
    c.push_back(3);
    c.push_back(1);
    Put16(c, 1);
    Put16(c, 1);
    Put16(c, 0);
    Put16(c, 0);
    Put16(c, 0);
    Put32(c, 36 + 8 + 16 + 2);  // first CFDATA
    Put16(c, static_cast<uint32_t>(frames.size()));
    Put16(c, type);
    Put32(c, size);
    Put32(c, 0);
    Put16(c, 0);
    Put16(c, 0x5821);
    Put16(c, 0);
    Put16(c, 0x20);
    c.push_back('f');
    c.push_back(0);
    for (size_t i = 0; i < frames.size(); ++i) {
        Put32(c, 0);
        Put16(c, static_cast<uint32_t>(frames[i].size()));
        Put16(c, static_cast<uint32_t>(std::min<size_t>(varnok::kCabFrameSize, size - i * varnok::kCabFrameSize)));
        c.insert(c.end(), frames[i].begin(), frames[i].end());
    }
    const auto n = static_cast<uint32_t>(c.size());
    for (int i = 0; i < 4; ++i) c[total + i] = static_cast<uint8_t>(n >> (8 * i));
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnok;
    if (size < 2) return 0;
    const uint8_t a = data[0], b = data[1];
    const std::span<const uint8_t> input(data + 2, size - 2);
    std::vector<std::vector<uint8_t>> frames;
    uint16_t type;
    if (a & 1) {
        LzxEncoderParams p;
        p.windowBits = 15 + (a >> 1) % 7;
        p.effort = static_cast<LzxEffort>(b % 3);
        p.translationSize = (b & 4) ? 0 : (b & 8) ? 12000000 : 1u + b * 1000u;
        frames = LzxCompressFolder(input, p);
        type = LzxTypeCompress(p.windowBits);
    } else {
        QuantumEncoderParams p;
        p.windowBits = 10 + (a >> 1) % 12;
        p.level = 1 + b % 7;
        frames = QuantumCompressFolder(input, p);
        type = QuantumTypeCompress(p.windowBits, p.level);
    }
    g_cab = Cabinet(type, frames, static_cast<uint32_t>(input.size()));
    g_out.clear();
    mscab_decompressor* d = mspack_create_cab_decompressor(&g_system);
    mscabd_cabinet* cab = d->open(d, "in.cab");
    if (!cab) abort();
    if (d->extract(d, cab->files, "out") != MSPACK_ERR_OK) abort();
    if (g_out.size() != input.size() || (!input.empty() && std::memcmp(g_out.data(), input.data(), input.size())))
        abort();
    d->close(d, cab);
    mspack_destroy_cab_decompressor(d);
    return 0;
}
