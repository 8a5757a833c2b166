// ACE's cipher: the key made from a password and Blowfish-CBC decryption, against values acefile documents for
// the same inputs; the decrypting source with ciphertext cut in odd places.
#include <gtest/gtest.h>

#include <string>

#include "archive/formats/ace/ace_crypt.h"
#include "tests/formats/ace/ace_test_data.h"
#include "tests/formats/ace/ace_test_writer.h"

namespace varnok::test::ace {
namespace {

using varnok::ace::Blowfish;
using varnok::ace::DecryptingSource;
using varnok::ace::DeriveKey;

std::vector<uint8_t> Bytes(const char* s, size_t n) {
    return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(s), reinterpret_cast<const uint8_t*>(s) + n);
}

TEST(AceCipher, KeyFromPasswordIsSha0OfLittleEndianWords) {
    const auto key = DeriveKey("123456789");
    const std::array<uint32_t, 5> expected = {3071200156u, 3325860325u, 4058316933u, 1308772094u, 896611998u};
    EXPECT_EQ(key, expected);
}

TEST(AceCipher, OnlyTheFirstFiftyBytesOfThePasswordCount) {
    const std::string fifty(50, 'x');
    EXPECT_EQ(DeriveKey(fifty + "tail"), DeriveKey(fifty));
    EXPECT_NE(DeriveKey(fifty.substr(0, 49)), DeriveKey(fifty));
}

TEST(AceCipher, CbcDecryptionChainsAcrossCalls) {
    Blowfish bf("123456789");
    std::vector<uint8_t> a(8, 0xFF), b(8, 0xC7);
    bf.DecryptCbc(a.data(), a.size());
    EXPECT_EQ(a, Bytes("\xb7wF@5.er", 8));
    bf.DecryptCbc(b.data(), b.size());  // the first block's ciphertext is this one's vector
    EXPECT_EQ(b, Bytes("eE\x05\xc4\xa5\x85)\xbc", 8));
}

// Hands out its bytes a few at a time, as volume parts do.
class Trickle final : public ByteSource {
  public:
    Trickle(const std::vector<uint8_t>& d, size_t step) : d_(d), step_(step) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t k = std::min({n, step_, d_.size() - pos_});
        std::copy_n(d_.data() + pos_, k, buf);
        pos_ += k;
        return k;
    }

  private:
    const std::vector<uint8_t>& d_;
    size_t step_, pos_ = 0;
};

TEST(AceCipher, DecryptingSourceIsIndependentOfHowTheInputArrives) {
    const auto plain = Noise(10000, 3);  // a multiple of 8
    const auto cipher = Encrypt(plain, "pass word");
    for (size_t step : {1u, 3u, 7u, 8u, 13u, 4096u}) {
        Trickle in(cipher, step);
        DecryptingSource src(in, "pass word");
        std::vector<uint8_t> out(plain.size() + 16);
        size_t got = 0;
        while (size_t k = src.Read(out.data() + got, std::min<size_t>(5, out.size() - got)))
            got += k;
        out.resize(got);
        EXPECT_EQ(out, plain) << "step " << step;
        EXPECT_FALSE(src.Ragged());
    }
}

TEST(AceCipher, CiphertextCutInsideABlockIsReported) {
    auto cipher = Encrypt(Noise(64, 1), "x");
    cipher.resize(cipher.size() - 3);
    MemorySource in(cipher.data(), cipher.size());
    DecryptingSource src(in, "x");
    uint8_t buf[128];
    EXPECT_EQ(src.Read(buf, sizeof buf), 56u);
    EXPECT_TRUE(src.Ragged());
}

TEST(AceCipher, WrongPasswordYieldsOtherBytes) {
    const auto plain = Words(4096, 2);
    const auto cipher = Encrypt(plain, "right");
    MemorySource in(cipher.data(), cipher.size());
    DecryptingSource src(in, "wrong");
    std::vector<uint8_t> out(plain.size());
    ASSERT_EQ(src.Read(out.data(), out.size()), plain.size());
    EXPECT_NE(out, plain);
}

}  // namespace
}  // namespace varnok::test::ace
