// The cabinet engine's walk and decoding on arbitrary bytes through the FDI interface: the input is served
// from memory as the cabinet (and, from a second "MSCF" on, as every next cabinet asked for); every file is
// taken, or every other one by the first byte's choice, and a listing copy runs first. Whatever the bytes,
// a file is either closed whole with exactly its size written, or its handle is closed as failed; no handle
// stays open.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engines/cabinet/fdi_engine.h"

namespace {

struct State {
    const uint8_t* first = nullptr;
    size_t firstSize = 0;
    const uint8_t* next = nullptr;
    size_t nextSize = 0;
    struct Open {
        bool isNext;
        uint64_t pos;
    };
    std::map<intptr_t, Open> open;
    intptr_t nextHandle = 100;
    std::map<intptr_t, uint64_t> outputs;  // handle -> bytes written
    std::map<intptr_t, long> expected;     // handle -> the size announced
    intptr_t nextOutput = 1;
    bool listing = false;
    bool skipOdd = false;
    int copies = 0;
};
State* s = nullptr;

void* Alloc(unsigned long n) {
    return std::malloc(n ? n : 1);
}
void Free(void* p) {
    std::free(p);
}
intptr_t OpenCb(char* name, int, int) {
    bool isNext = std::strcmp(name, "in/first.cab") != 0;
    if (isNext && !s->next) return -1;
    intptr_t h = s->nextHandle++;
    s->open[h] = {isNext, 0};
    return h;
}
unsigned ReadCb(intptr_t hf, void* buf, unsigned n) {
    auto it = s->open.find(hf);
    if (it == s->open.end()) return static_cast<unsigned>(-1);
    const uint8_t* d = it->second.isNext ? s->next : s->first;
    size_t size = it->second.isNext ? s->nextSize : s->firstSize;
    uint64_t avail = it->second.pos < size ? size - it->second.pos : 0;
    unsigned take = static_cast<unsigned>(avail < n ? avail : n);
    if (take) std::memcpy(buf, d + it->second.pos, take);
    it->second.pos += take;
    return take;
}
unsigned WriteCb(intptr_t hf, void*, unsigned n) {
    auto it = s->outputs.find(hf);
    if (it == s->outputs.end()) abort();  // the library writes only to handles it was given
    it->second += n;
    return n;
}
int CloseCb(intptr_t hf) {
    if (s->open.erase(hf)) return 0;
    if (!s->outputs.erase(hf)) abort();  // an unknown handle
    return 0;
}
long SeekCb(intptr_t hf, long dist, int type) {
    auto it = s->open.find(hf);
    if (it == s->open.end()) return -1;
    size_t size = it->second.isNext ? s->nextSize : s->firstSize;
    int64_t base = type == 0 ? 0 : type == 1 ? static_cast<int64_t>(it->second.pos) : static_cast<int64_t>(size);
    int64_t to = base + dist;
    if (to < 0) return -1;
    it->second.pos = static_cast<uint64_t>(to);
    return static_cast<long>(to);
}
intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) {
    switch (type) {
        case fdintCOPY_FILE: {
            if (s->listing || (s->skipOdd && (s->copies++ & 1))) return 0;
            intptr_t h = s->nextOutput++;
            s->outputs[h] = 0;
            s->expected[h] = n->cb;
            return h;
        }
        case fdintCLOSE_FILE_INFO: {
            auto it = s->outputs.find(n->hf);
            if (it == s->outputs.end()) abort();
            // A file said to be whole has exactly its size.
            if (static_cast<long>(it->second) != s->expected[n->hf]) abort();
            s->outputs.erase(it);
            return 1;
        }
        case fdintNEXT_CABINET:
            return s->next ? 0 : -1;
        default:
            return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    State state;
    s = &state;
    state.skipOdd = data[0] & 1;
    state.first = data + 1;
    state.firstSize = size - 1;
    // A second cabinet in the input stands for every next cabinet.
    for (size_t i = 37; i + 4 <= state.firstSize; ++i) {
        if (std::memcmp(state.first + i, "MSCF", 4) == 0) {
            state.next = state.first + i;
            state.nextSize = state.firstSize - i;
            state.firstSize = i;
            break;
        }
    }
    ERF erf{};
    HFDI h = varnok::cabinet::Create(Alloc, Free, OpenCb, ReadCb, WriteCb, CloseCb, SeekCb, cpuUNKNOWN, &erf);
    if (!h) abort();
    FDICABINETINFO info{};
    intptr_t hf = OpenCb(const_cast<char*>("in/first.cab"), 0, 0);
    varnok::cabinet::IsCabinet(h, hf, &info);
    CloseCb(hf);
    state.listing = true;
    varnok::cabinet::Copy(h, "first.cab", "in/", 0, Notify, nullptr);
    state.listing = false;
    varnok::cabinet::Copy(h, "first.cab", "in/", 0, Notify, nullptr);
    if (!varnok::cabinet::Destroy(h)) abort();
    if (!state.open.empty() || !state.outputs.empty()) abort();  // a handle left open
    s = nullptr;
    return 0;
}
