// BLAKE2s and BLAKE2sp against published vectors: RFC 7693's "abc" and its self-test (every digest length and
// key case folded into one hash), the reference keyed BLAKE2s and BLAKE2sp known answers, and unkeyed BLAKE2sp
// (the form RAR 5 stores) as Python's hashlib computes it from BLAKE2s tree parameters. Pieces of every size
// must give the digest of the whole, since leaves change every 64 bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/core/crypto/blake2sp.h"

namespace varnok::crypto {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i);
    return v;
}

std::string B2s(const std::vector<uint8_t>& in, size_t outLen = 32, const std::vector<uint8_t>& key = {}) {
    Blake2s h(outLen, key.empty() ? nullptr : key.data(), key.size());
    h.Update(in.data(), in.size());
    uint8_t out[32];
    h.Finish(out);
    return Hex(out, outLen);
}

std::string B2sp(const std::vector<uint8_t>& in, const std::vector<uint8_t>& key = {}, size_t piece = 0) {
    Blake2sp h(key.empty() ? nullptr : key.data(), key.size());
    if (piece == 0) piece = in.size() + 1;
    for (size_t i = 0; i < in.size(); i += piece)
        h.Update(in.data() + i, std::min(piece, in.size() - i));
    const auto d = h.Finish();
    return Hex(d.data(), d.size());
}

TEST(Blake2s, Rfc7693Vectors) {
    EXPECT_EQ(B2s({'a', 'b', 'c'}), "508c5e8c327c14e2e1a72ba34eeb452f37458b209ed63a294d999b4c86675982");
    // The RFC's self-test: digests of lengths 16..32 of inputs 0..1024 bytes long, unkeyed and keyed.
    auto seq = [](size_t n, uint32_t seed) {
        std::vector<uint8_t> out(n);
        uint32_t a = 0xDEAD4BADu * seed, b = 1;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t t = a + b;
            a = b;
            b = t;
            out[i] = static_cast<uint8_t>(t >> 24);
        }
        return out;
    };
    Blake2s all(32);
    for (size_t outLen : {16, 20, 28, 32})
        for (size_t inLen : {0, 3, 64, 65, 255, 1024}) {
            const auto in = seq(inLen, static_cast<uint32_t>(inLen));
            uint8_t md[32];
            Blake2s plain(outLen);
            plain.Update(in.data(), in.size());
            plain.Finish(md);
            all.Update(md, outLen);
            const auto key = seq(outLen, static_cast<uint32_t>(outLen));
            Blake2s keyed(outLen, key.data(), key.size());
            keyed.Update(in.data(), in.size());
            keyed.Finish(md);
            all.Update(md, outLen);
        }
    uint8_t grand[32];
    all.Finish(grand);
    EXPECT_EQ(Hex(grand, 32), "6a411f08ce25adcdfb02aba641451cec53c598b24f4fc787fbdc88797f4c1dfe");
}

TEST(Blake2s, ReferenceKeyedKnownAnswers) {
    const auto key = Counting(32);
    EXPECT_EQ(B2s({}, 32, key), "48a8997da407876b3d79c0d92325ad3b89cbb754d86ab71aee047ad345fd2c49");
    EXPECT_EQ(B2s(Counting(1), 32, key), "40d15fee7c328830166ac3f918650f807e7e01e177258cdc0a39b11f598066f1");
    EXPECT_EQ(B2s(Counting(255), 32, key), "3fb735061abc519dfe979e54c1ee5bfad0a9d858b3315bad34bde999efd724dd");
}

TEST(Blake2sp, ReferenceKeyedKnownAnswers) {
    const auto key = Counting(32);
    EXPECT_EQ(B2sp({}, key), "715cb13895aeb678f6124160bff21465b30f4f6874193fc851b4621043f09cc6");
    EXPECT_EQ(B2sp(Counting(1), key), "40578ffa52bf51ae1866f4284d3a157fc1bcd36ac13cbdcb0377e4d0cd0b6603");
    EXPECT_EQ(B2sp(Counting(64), key), "1d3701a5661bd31ab20562bd07b74dd19ac8f3524b73ce7bc996b788afd2f317");
    EXPECT_EQ(B2sp(Counting(65), key), "874e1938033d7d383597a2a65f58b554e41106f6d1d50e9ba0eb685f6b6da071");
}

TEST(Blake2sp, UnkeyedAsRar5StoresIt) {
    EXPECT_EQ(B2sp({}), "dd0e891776933f43c7d032b08a917e25741f8aa9a12c12e1cac8801500f2ca4f");
    EXPECT_EQ(B2sp({'a', 'b', 'c'}), "70f75b58f1fecab821db43c88ad84edde5a52600616cd22517b7bb14d440a7d5");
    std::vector<uint8_t> k(1000);
    for (size_t i = 0; i < k.size(); ++i)
        k[i] = static_cast<uint8_t>(i % 256);
    EXPECT_EQ(B2sp(k), "7e2830f74fc7c4d224a201b46f95e37ebbfb56dddc492f8227e4d905201734b8");
    // Three rounds of the eight leaves and 17 bytes more: every leaf several blocks deep, the first one partial.
    std::vector<uint8_t> m(8 * 64 * 3 + 17);
    for (size_t i = 0; i < m.size(); ++i)
        m[i] = static_cast<uint8_t>((i * 7 + 3) % 251);
    const std::string whole = "8c3bedf50e8c1e07b4fb1997f8d513c455d063ccfcb918fcaacd1ffb822f62df";
    EXPECT_EQ(B2sp(m), whole);
    for (size_t piece : {1, 7, 63, 64, 65, 511, 512, 513})
        EXPECT_EQ(B2sp(m, {}, piece), whole) << "pieces of " << piece;
}

}  // namespace
}  // namespace varnok::crypto
