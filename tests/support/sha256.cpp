#include "tests/support/sha256.h"

#include <fstream>
#include <stdexcept>

namespace varnok::test {

std::string Sha256::FinishHex() {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : inner_.Finish()) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string Sha256Hex(const uint8_t* data, size_t n) {
    Sha256 s;
    s.Update(data, n);
    return s.FinishHex();
}

std::string Sha256Hex(const std::vector<uint8_t>& data) {
    return Sha256Hex(data.data(), data.size());
}

std::string Sha256OfFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + p.string());
    Sha256 s;
    char buf[65536];
    while (f.read(buf, sizeof buf) || f.gcount() > 0)
        s.Update(reinterpret_cast<const uint8_t*>(buf), static_cast<size_t>(f.gcount()));
    return s.FinishHex();
}

}  // namespace varnok::test
