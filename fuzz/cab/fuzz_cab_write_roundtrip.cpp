// The cabinet writer on arbitrary files: the input is cut into a few files (contents and names chosen by its
// bytes), written through the FCI entry points with each compression into an in-memory cabinet (and sets of
// small cabinets), and read back through libmspack; every file must come back byte for byte under its name.
//
// Everything lives in memory: the callbacks serve named buffers, so a run touches no disk and the same input
// always gives the same cabinets.
#include <mspack.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engines/fci/fci_engine.h"

namespace {

using namespace varnok::fci;

// Named in-memory files, shared by the writer's callbacks and libmspack's system.
std::map<std::string, std::vector<uint8_t>> g_files;
struct OpenFile {
    std::string name;
    size_t pos = 0;
};
std::map<intptr_t, OpenFile> g_open;
intptr_t g_next = 1;
int g_temp = 0;
int g_nextCab = 0;

void* Alloc(unsigned long cb) { return std::malloc(cb); }
void Free(void* p) { std::free(p); }
intptr_t Open(char* name, int oflag, int, int* err, void*) {
    if (!(oflag & FCI_O_CREAT) && !g_files.count(name)) {
        *err = 2;
        return -1;
    }
    if (oflag & (FCI_O_CREAT | FCI_O_TRUNC)) g_files[name].clear();
    g_open[g_next] = {name, 0};
    return g_next++;
}
unsigned Read(intptr_t h, void* p, unsigned cb, int*, void*) {
    OpenFile& f = g_open.at(h);
    const auto& d = g_files[f.name];
    const size_t n = std::min<size_t>(cb, d.size() - std::min(d.size(), f.pos));
    if (n) std::memcpy(p, d.data() + f.pos, n);
    f.pos += n;
    return static_cast<unsigned>(n);
}
unsigned Write(intptr_t h, void* p, unsigned cb, int*, void*) {
    OpenFile& f = g_open.at(h);
    auto& d = g_files[f.name];
    if (d.size() < f.pos + cb) d.resize(f.pos + cb);
    if (cb) std::memcpy(d.data() + f.pos, p, cb);
    f.pos += cb;
    return cb;
}
int Close(intptr_t h, int*, void*) { return g_open.erase(h) ? 0 : -1; }
long Seek(intptr_t h, long dist, int type, int*, void*) {
    OpenFile& f = g_open.at(h);
    const long base = type == 0 ? 0 : type == 1 ? static_cast<long>(f.pos) : static_cast<long>(g_files[f.name].size());
    if (base + dist < 0) return -1;
    f.pos = static_cast<size_t>(base + dist);
    return static_cast<long>(f.pos);
}
int Delete(char* name, int*, void*) { return g_files.erase(name) ? 0 : -1; }
int Temp(char* buf, int size, void*) {
    return std::snprintf(buf, static_cast<size_t>(size), "/tmp-%d", ++g_temp) < size;
}
int NextCab(PCCAB ccab, unsigned long, void*) {
    std::snprintf(ccab->szCab, sizeof ccab->szCab, "c%d.cab", ++g_nextCab + 1);
    std::snprintf(ccab->szCabPath, sizeof ccab->szCabPath, "/");
    return 1;
}
intptr_t OpenInfo(char* name, unsigned short* date, unsigned short* time, unsigned short* attribs, int* err,
                  void* pv) {
    *date = 0x5021;
    *time = 0x6000;
    *attribs = 0x20;
    return Open(name, 0, 0, err, pv);
}

// libmspack's view of the same files.
struct MemFile {
    std::string name;
    size_t pos = 0;
};
mspack_file* MsOpen(mspack_system*, const char* name, int mode) {
    if (mode == MSPACK_SYS_OPEN_READ && !g_files.count(name)) return nullptr;
    if (mode == MSPACK_SYS_OPEN_WRITE) g_files[name].clear();
    return reinterpret_cast<mspack_file*>(new MemFile{name, 0});
}
void MsClose(mspack_file* f) { delete reinterpret_cast<MemFile*>(f); }
int MsRead(mspack_file* f, void* buf, int bytes) {
    auto* m = reinterpret_cast<MemFile*>(f);
    const auto& d = g_files[m->name];
    const size_t n = std::min<size_t>(static_cast<size_t>(bytes), d.size() - std::min(d.size(), m->pos));
    if (n) std::memcpy(buf, d.data() + m->pos, n);
    m->pos += n;
    return static_cast<int>(n);
}
int MsWrite(mspack_file* f, void* buf, int bytes) {
    auto* m = reinterpret_cast<MemFile*>(f);
    auto& d = g_files[m->name];
    d.insert(d.end(), static_cast<uint8_t*>(buf), static_cast<uint8_t*>(buf) + bytes);
    return bytes;
}
int MsSeek(mspack_file* f, off_t offset, int mode) {
    auto* m = reinterpret_cast<MemFile*>(f);
    const off_t base = mode == MSPACK_SYS_SEEK_START ? 0 : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(m->pos)
                                                                                        : static_cast<off_t>(g_files[m->name].size());
    if (base + offset < 0) return -1;
    m->pos = static_cast<size_t>(base + offset);
    return 0;
}
off_t MsTell(mspack_file* f) { return static_cast<off_t>(reinterpret_cast<MemFile*>(f)->pos); }
void MsMessage(mspack_file*, const char*, ...) {}
void* MsAlloc(mspack_system*, size_t n) { return std::malloc(n); }
void MsFree(void* p) { std::free(p); }
void MsCopy(void* s, void* d, size_t n) { std::memmove(d, s, n); }
mspack_system g_sys = {MsOpen, MsClose, MsRead, MsWrite, MsSeek, MsTell, MsMessage, MsAlloc, MsFree, MsCopy, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    g_files.clear();
    g_open.clear();
    g_temp = 0;
    static const TCOMP kMethods[] = {tcompTYPE_NONE, tcompTYPE_MSZIP, 0x0F03, 0x1003, 0x0A12, 0x1042};
    const TCOMP tcomp = kMethods[data[0] % 6];
    const bool set = data[1] & 1;
    data += 2;
    size -= 2;
    // Files: each takes a length byte pair's worth of the input (cycled so that small inputs make big files).
    std::map<std::string, std::vector<uint8_t>> want;
    std::vector<std::pair<std::string, std::string>> adds;
    size_t at = 0;
    for (int i = 0; at < size && i < 8; ++i) {
        const size_t len = (data[at] * 997u) % 90000u;
        const uint8_t nameByte = data[at];
        ++at;
        std::vector<uint8_t> content(len);
        for (size_t k = 0; k < len; ++k)
            content[k] = size > at ? data[at + (k % (size - at))] : 0;
        at += std::min<size_t>(len, 64);
        std::string name = "f" + std::to_string(i) + (nameByte & 1 ? "\xC3\xA9" : "") + "\\x" +
                           std::to_string(nameByte);
        const std::string src = "/src" + std::to_string(i);
        g_files[src] = content;
        want[name] = content;
        adds.push_back({src, name});
    }
    ERF erf{};
    CCAB ccab{};
    ccab.cb = set ? CB_MIN_CABINET : 0;
    ccab.cbFolderThresh = 100000;
    std::snprintf(ccab.szCab, sizeof ccab.szCab, "c1.cab");
    std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "/");
    g_nextCab = 0;
    HFCI h = Create(&erf, nullptr, Alloc, Free, Open, Read, Write, Close, Seek, Delete, Temp, &ccab, nullptr);
    if (!h) abort();
    for (auto& [src, name] : adds)
        if (!AddFile(h, src.c_str(), name.c_str(), 0, NextCab, nullptr, OpenInfo, tcomp)) abort();
    if (!FlushCabinet(h, 0, NextCab, nullptr)) abort();
    Destroy(h);
    if (!g_open.empty()) abort();
    for (const auto& [n, d] : g_files)
        if (n.rfind("/tmp-", 0) == 0) abort();  // a scratch file left behind

    // Read back: the first cabinet, with every later one appended.
    mscab_decompressor* d = mspack_create_cab_decompressor(&g_sys);
    mscabd_cabinet* first = d->open(d, "/c1.cab");
    if (!first) abort();
    mscabd_cabinet* last = first;
    // libmspack keeps the name pointers of open cabinets (it reopens them while extracting).
    static std::vector<std::string> names;
    names.clear();
    for (int i = 2; i < 1000; ++i)
        names.push_back("/c" + std::to_string(i) + ".cab");
    for (int i = 2; g_files.count(names[static_cast<size_t>(i - 2)]); ++i) {
        mscabd_cabinet* c = d->open(d, names[static_cast<size_t>(i - 2)].c_str());
        if (!c || d->append(d, last, c) != MSPACK_ERR_OK) abort();
        last = c;
    }
    size_t found = 0;
    for (mscabd_file* f = first->files; f; f = f->next) {
        auto it = want.find(f->filename);
        if (it == want.end()) abort();
        if (d->extract(d, f, "/out") != MSPACK_ERR_OK) abort();
        if (g_files["/out"] != it->second) abort();
        ++found;
    }
    if (found != want.size()) abort();
    // Closing one cabinet of a joined set frees the whole set.
    d->close(d, first);
    mspack_destroy_cab_decompressor(d);
    g_files.clear();
    g_open.clear();
    g_temp = 0;
    return 0;
}
