// Listing of one family: the input gets the family's signature so that it reaches that family's header walk.
#include <cstring>
#include <string>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/lister.h"
#include "fuzz/core/fuzz_support.h"

#ifndef FUZZ_FAMILY
#error FUZZ_FAMILY must name the family
#endif

namespace {

void Put(std::vector<uint8_t>& v, size_t at, const char* sig, size_t n) {
    if (v.size() < at + n) v.resize(at + n, 0);
    std::memcpy(v.data() + at, sig, n);
}

std::vector<uint8_t> Shape(const std::string& family, const uint8_t* data, size_t size) {
    std::vector<uint8_t> v(data, data + size);
    if (family == "zip")
        Put(v, 0, "PK\x03\x04", 4);
    else if (family == "lzh")
        Put(v, 2, "-l", 2);
    else if (family == "arj")
        Put(v, 0, "\x60\xEA", 2);
    else if (family == "arc")
        Put(v, 0, "\x1A\x08", 2);
    else if (family == "pak")
        Put(v, 0, "\x1A\x0A", 2);
    else if (family == "zoo") {
        Put(v, 0, "ZOO 2.10 Archive.\x1A", 18);
        Put(v, 20, "\xDC\xA7\xC4\xFD", 4);
        if (v.size() >= 32) varnok::PutLe32(&v[28], 0u - varnok::Le32(&v[24]));
    } else if (family == "bh")
        Put(v, 0, "BH\x05\x07", 4);
    else if (family == "gzip")
        Put(v, 0, "\x1F\x8B", 2);
    else if (family == "cab")
        Put(v, 0, "MSCF", 4);
    else if (family == "rar")
        Put(v, 0, "Rar!\x1A\x07\x00", 7);
    else if (family == "rar5")
        Put(v, 0, "Rar!\x1A\x07\x01\x00", 8);
    else if (family == "ace")
        Put(v, 7, "**ACE**", 7);
    else if (family == "ha")
        Put(v, 0, "HA", 2);
    else if (family == "msgz")
        Put(v, 0, "\x13\x5D\x65\x8C", 4);
    else if (family == "uue")
        Put(v, 0, "begin 644 ", 10);
    else if (family == "tar") {
        if (v.size() < 1024) v.resize(1024, 0);
        std::memset(&v[148], ' ', 8);
        unsigned sum = 0;
        for (int i = 0; i < 512; ++i)
            sum += v[static_cast<size_t>(i)];
        snprintf(reinterpret_cast<char*>(&v[148]), 8, "%06o", sum & 0777777);
        v[155] = ' ';
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto v = Shape(FUZZ_FAMILY, data, size);
    varnok::fuzz::InputFile in(v.data(), v.size());
    varnok::TArcLister c;
    c.FileSpec = {"*.*"};
    c.ShowEmptyDirs = true;
    size_t seen = 0;
    c.OnRead = [&](varnok::TZipCommon&, uint64_t, int) { seen += c.Entry().EntryName.size(); };
    c.OnNextVolume = [](varnok::TZipCommon&, std::string&, const std::string&, bool, bool& cancel) {
        cancel = true;
    };
    c.SetArchiveFile(in.Path());
    c.ReadArchive();
    return 0;
}
