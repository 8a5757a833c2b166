// AES decryption and CBC, SHA-256, HMAC-SHA256 and PBKDF2-HMAC-SHA256 against the published vectors
// (FIPS-197 appendix C, SP 800-38A F.2, FIPS 180 examples, RFC 4231, RFC 7914 section 11).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/core/crypto/aes.h"
#include "archive/core/crypto/aes_cbc.h"
#include "archive/core/crypto/sha256.h"

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

std::vector<uint8_t> Unhex(const std::string& s) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        v.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return v;
}

const uint8_t* U8(const char* s) {
    return reinterpret_cast<const uint8_t*>(s);
}

TEST(AesDecrypt, Fips197InverseCipherForEveryKeySize) {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<uint8_t>(i);
    const char* cipher[] = {"69c4e0d86a7b0430d8cdb78070b4c55a", "dda97ca4864cdfe06eaf70a0ec0d7191",
                            "8ea2b7ca516745bfeafc49904b496089"};
    const size_t lens[] = {16, 24, 32};
    for (int k = 0; k < 3; ++k) {
        AesDecryptor d;
        ASSERT_TRUE(d.SetKey(key, lens[k]));
        const auto ct = Unhex(cipher[k]);
        uint8_t pt[16];
        d.DecryptBlock(ct.data(), pt);
        EXPECT_EQ(Hex(pt, 16), "00112233445566778899aabbccddeeff") << lens[k];
    }
}

TEST(AesDecrypt, UndoesTheEncryptorOnManyBlocks) {
    // The ZIP side's encryptor and this decryptor must be exact inverses for keys other than the vectors'.
    uint8_t key[32];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<uint8_t>(i * 37 + 11);
    for (size_t len : {size_t{16}, size_t{24}, size_t{32}}) {
        Aes e;
        e.SetKey(key, len);
        AesDecryptor d;
        ASSERT_TRUE(d.SetKey(key, len));
        uint8_t block[16], ct[16], back[16];
        for (int n = 0; n < 64; ++n) {
            for (int i = 0; i < 16; ++i)
                block[i] = static_cast<uint8_t>(n * 16 + i * 7);
            e.EncryptBlock(block, ct);
            d.DecryptBlock(ct, back);
            ASSERT_EQ(Hex(back, 16), Hex(block, 16));
        }
    }
}

TEST(AesDecrypt, RejectsKeyLengthsAesDoesNotHave) {
    uint8_t key[33] = {};
    AesDecryptor d;
    EXPECT_FALSE(d.SetKey(key, 0));
    EXPECT_FALSE(d.SetKey(key, 20));
    EXPECT_FALSE(d.SetKey(key, 33));
}

TEST(AesCbc, Sp80038aVectorsAlsoWhenFedInPieces) {
    struct Case {
        const char* key;
        const char* ct;
    } cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e22229516"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461"},
    };
    const std::string plain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52ef";
    const auto iv = Unhex("000102030405060708090a0b0c0d0e0f");
    for (const Case& c : cases) {
        const auto key = Unhex(c.key);
        auto whole = Unhex(c.ct);
        AesCbcDecryptor d;
        ASSERT_TRUE(d.Init(key.data(), key.size(), iv.data()));
        d.Decrypt(whole.data(), whole.size());
        EXPECT_EQ(Hex(whole.data(), whole.size()), plain);
        // The chain must carry across calls.
        auto parts = Unhex(c.ct);
        AesCbcDecryptor p;
        ASSERT_TRUE(p.Init(key.data(), key.size(), iv.data()));
        p.Decrypt(parts.data(), 16);
        p.Decrypt(parts.data() + 16, 32);
        EXPECT_EQ(Hex(parts.data(), parts.size()), plain);
    }
}

TEST(Sha256Test, Fips180Examples) {
    Sha256 s;
    s.Update(U8("abc"), 3);
    auto d = s.Finish();
    EXPECT_EQ(Hex(d.data(), 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    d = s.Finish();  // the hash restarts after Finish: the empty message
    EXPECT_EQ(Hex(d.data(), 32), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const char* two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    s.Update(U8(two), 56);  // the padding spills into a second block
    d = s.Finish();
    EXPECT_EQ(Hex(d.data(), 32), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string a(1001, 'a');
    for (int i = 0; i < 1000; ++i)
        s.Update(U8(a.data()), i % 2 ? 999 : 1001);  // uneven pieces across block borders
    d = s.Finish();
    EXPECT_EQ(Hex(d.data(), 32), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(HmacSha256Test, Rfc4231IncludingKeysLongerThanABlock) {
    const std::vector<uint8_t> k1(20, 0x0b);
    HmacSha256 m1(k1.data(), k1.size());
    m1.Update(U8("Hi There"), 8);
    auto d = m1.Finish();
    EXPECT_EQ(Hex(d.data(), 32), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    HmacSha256 m2(U8("Jefe"), 4);
    const char* msg = "what do ya want for nothing?";
    m2.Update(U8(msg), std::strlen(msg));
    d = m2.Finish();
    EXPECT_EQ(Hex(d.data(), 32), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    // The same key again after Finish gives the same code.
    m2.Update(U8(msg), std::strlen(msg));
    d = m2.Finish();
    EXPECT_EQ(Hex(d.data(), 32), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    const std::vector<uint8_t> k6(131, 0xaa);
    HmacSha256 m6(k6.data(), k6.size());
    const char* m = "Test Using Larger Than Block-Size Key - Hash Key First";
    m6.Update(U8(m), std::strlen(m));
    d = m6.Finish();
    EXPECT_EQ(Hex(d.data(), 32), "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

TEST(Pbkdf2Sha256Test, Rfc7914VectorsWithTwoOutputBlocks) {
    auto a = Pbkdf2Sha256("passwd", U8("salt"), 4, 1, 64);
    EXPECT_EQ(Hex(a.data(), a.size()),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
              "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    auto b = Pbkdf2Sha256("Password", U8("NaCl"), 4, 80000, 64);
    EXPECT_EQ(Hex(b.data(), b.size()),
              "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
              "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
}

TEST(Pbkdf2Sha256Test, RunningChainEqualsTheOneShotAtEveryStop) {
    // RAR 5 reads the chain at three points: stopping and going on must not change the result.
    Pbkdf2Sha256Stream s("Password", U8("NaCl"), 4);
    s.Run(1);
    s.Run(39999);
    s.Run(40000);
    const auto whole = Pbkdf2Sha256("Password", U8("NaCl"), 4, 80000, 32);
    EXPECT_EQ(Hex(s.Value().data(), 32), Hex(whole.data(), 32));
}

}  // namespace
}  // namespace varnok::crypto
