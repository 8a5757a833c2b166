// RAR encryption: the three ciphers the format has used for data and headers, and a ByteSource that decrypts
// an entry's packed bytes on their way to the decoder.
//
//   RAR 2.0  a 16-byte block cipher of the format's own (32 rounds over a password-keyed substitution table,
//            keys updated by every ciphertext block).
//   RAR 3-4  AES-128-CBC; key and IV from 2^18 rounds of SHA-1 over the UTF-16LE password, the 8-byte salt
//            and a round counter.
//   RAR 5    AES-256-CBC; PBKDF2-HMAC-SHA256 with 2^n rounds (n from the record, at most kRar5MaxKdfLog2: a
//            hostile record cannot make a password check run for years). The same chain, run 16 and 32 rounds
//            further, gives the key of the checksum MAC and the 8-byte password check value.
//
// The decryption is kept apart from the decoders: a decoder reads plain packed bytes from a ByteSource and
// never knows whether they were encrypted, so every method and both header readers share one path.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/core/crypto/aes_cbc.h"
#include "archive/core/stream.h"

namespace varnok::rar {

// RAR 2.0 (file headers of version 20 to 28).
class Rar20Cipher {
  public:
    explicit Rar20Cipher(std::string_view password);
    // Decrypts whole 16-byte blocks in place (n rounded down to them).
    void Decrypt(uint8_t* data, size_t n);

  private:
    void Crypt(uint8_t* block, bool decrypt);
    void UpdateKeys(const uint8_t* block);
    uint32_t Subst(uint32_t t) const;
    uint32_t key_[4];
    uint8_t table_[256];
};

// RAR 3 and 4: the AES-128 key and IV for a salt (nullptr: an entry stored without one).
struct Rar3Key {
    std::array<uint8_t, 16> key{}, iv{};
};
Rar3Key DeriveRar3Key(std::string_view password, const uint8_t* salt8);

// The derivation costs 2^18 SHA-1 rounds, and headers encrypted with -hp each carry a salt (usually one salt
// for the whole archive): the last few salts' keys are kept.
class Rar3KeyCache {
  public:
    const Rar3Key& Get(std::string_view password, const uint8_t* salt8);

  private:
    struct Item {
        std::string password;
        std::array<uint8_t, 8> salt{};
        bool hasSalt = false;
        Rar3Key key;
    };
    std::vector<Item> items_;
};

// RAR 5.
inline constexpr int kRar5MaxKdfLog2 = 24;
// Lowers the cap on the KDF count (log2) for the whole process, never above kRar5MaxKdfLog2. For programs that
// open many hostile archives in a row (the fuzz targets), where one record of 2^24 rounds costs seconds.
void LimitRar5Kdf(int log2);

// The encryption record of a file header (extra record type 1) or the archive encryption header's body.
struct Rar5Crypt {
    uint64_t version = 0;  // 0: AES-256
    uint8_t kdfLog2 = 0;
    std::array<uint8_t, 16> salt{}, iv{};
    bool hasCheck = false;  // a password check value is stored (and its own checksum matched)
    std::array<uint8_t, 8> check{};
    bool useMac = false;  // the stored checksums are MACs keyed by the password
};
// fileRecord: the record carries an IV (file headers) or not (the archive encryption header).
bool ParseRar5Crypt(const uint8_t* p, size_t n, bool fileRecord, Rar5Crypt& c);

struct Rar5Keys {
    std::array<uint8_t, 32> key{}, hashKey{};
    std::array<uint8_t, 8> check{};
};
enum class Rar5KdfResult { Ok, WrongPassword, Unsupported };
// Derives the keys; WrongPassword when the record's check value does not match, Unsupported for a cipher
// version other than AES-256 or a round count above the cap.
Rar5KdfResult DeriveRar5Keys(std::string_view password, const Rar5Crypt& c, Rar5Keys& keys);

// The CRC-32 as stored by an entry whose checksums are MACs.
uint32_t Rar5MacCrc(uint32_t crc, const std::array<uint8_t, 32>& hashKey);
// The BLAKE2sp digest as stored by such an entry.
std::array<uint8_t, 32> Rar5MacDigest(const uint8_t digest[32], const std::array<uint8_t, 32>& hashKey);

// Decrypts the packed bytes read from `inner`. The ciphers work on 16-byte blocks: a source that ends inside
// a block ends with the last whole block (the decoder then finds its input cut short).
class DecryptingSource final : public ByteSource {
  public:
    static std::unique_ptr<DecryptingSource> Rar20(ByteSource& inner, std::string_view password);
    static std::unique_ptr<DecryptingSource> Aes(ByteSource& inner, const uint8_t* key, size_t keyLen,
                                                 const uint8_t iv[16]);
    size_t Read(uint8_t* buf, size_t n) override;

  private:
    explicit DecryptingSource(ByteSource& inner) : inner_(inner) {}
    bool Fill();
    ByteSource& inner_;
    std::unique_ptr<Rar20Cipher> rar20_;
    std::unique_ptr<crypto::AesCbcDecryptor> aes_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, end_ = 0;
    size_t carry_ = 0;  // bytes of an incomplete block kept at the buffer's start
    bool ended_ = false;
};

// The password as UTF-16LE code units from UTF-8 (invalid bytes taken as Latin-1), at most 127 units.
std::u16string PasswordUtf16(std::string_view utf8);

}  // namespace varnok::rar
