#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/core/crypto/aes.h"

namespace varnok::crypto {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
    static const char* h = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += h[p[i] >> 4];
        s += h[p[i] & 15];
    }
    return s;
}

TEST(Crypto, AesKnownAnswers) {
    uint8_t key[32], pt[16], ct[16];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 16; ++i)
        pt[i] = static_cast<uint8_t>(i * 0x11);
    Aes a;
    a.SetKey(key, 16);
    a.EncryptBlock(pt, ct);
    EXPECT_EQ(Hex(ct, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
    a.SetKey(key, 24);
    a.EncryptBlock(pt, ct);
    EXPECT_EQ(Hex(ct, 16), "dda97ca4864cdfe06eaf70a0ec0d7191");
    a.SetKey(key, 32);
    a.EncryptBlock(pt, ct);
    EXPECT_EQ(Hex(ct, 16), "8ea2b7ca516745bfeafc49904b496089");
}

TEST(Crypto, Sha1HmacAndPbkdf2) {
    Sha1 s;
    s.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
    auto d = s.Finish();
    EXPECT_EQ(Hex(d.data(), 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
    std::string million(1000000, 'a');
    Sha1 m;
    m.Update(reinterpret_cast<const uint8_t*>(million.data()), million.size());
    auto dm = m.Finish();
    EXPECT_EQ(Hex(dm.data(), 20), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    HmacSha1 h(reinterpret_cast<const uint8_t*>("key"), 3);
    const char* msg = "The quick brown fox jumps over the lazy dog";
    h.Update(reinterpret_cast<const uint8_t*>(msg), strlen(msg));
    auto hm = h.Finish();
    EXPECT_EQ(Hex(hm.data(), 20), "de7c9b85b8b78aa6bc8a7a36f70a90701c9db4d9");
    const uint8_t* salt = reinterpret_cast<const uint8_t*>("salt");
    EXPECT_EQ(Hex(Pbkdf2Sha1("password", salt, 4, 1, 20).data(), 20),
              "0c60c80f961f0e71f3a9b524af6012062fe037a6");
    EXPECT_EQ(Hex(Pbkdf2Sha1("password", salt, 4, 4096, 20).data(), 20),
              "4b007901b765489abead49d926f721d065a429c1");
    auto longer =
        Pbkdf2Sha1("passwordPASSWORDpassword",
                   reinterpret_cast<const uint8_t*>("saltSALTsaltSALTsaltSALTsaltSALTsalt"), 36, 4096, 25);
    EXPECT_EQ(Hex(longer.data(), 25), "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
}

TEST(Crypto, WinZipAesRejectsAWrongPassword) {
    uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    auto keys = Pbkdf2Sha1("right", salt, 16, 1000, 66);
    WinZipAes ok, bad;
    EXPECT_TRUE(ok.Init("right", 3, salt, &keys[64]));
    EXPECT_FALSE(bad.Init("wrong", 3, salt, &keys[64]));
    // Decrypting twice with fresh state gives the data back, and the code authenticates only the right bytes.
    std::string data = "attack at dawn, attack at dawn, attack at dawn";
    WinZipAes enc;
    ASSERT_TRUE(enc.Init("right", 3, salt, &keys[64]));
    enc.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());  // CTR: the same operation both ways
    WinZipAes dec;
    ASSERT_TRUE(dec.Init("right", 3, salt, &keys[64]));
    std::string back = data;
    dec.Decrypt(reinterpret_cast<uint8_t*>(back.data()), back.size());
    EXPECT_EQ(back, "attack at dawn, attack at dawn, attack at dawn");
}

}  // namespace
}  // namespace varnok::crypto
