// SHA-256, for comparing what the tests extract with the digests the peer tools recorded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/core/crypto/sha256.h"

namespace varnok::test {

// Incremental SHA-256 with a hex digest: the program's own SHA-256 (checked against the FIPS 180 vectors in
// the crypto tests), so the tests and the RAR 5 key derivation share one implementation.
class Sha256 {
  public:
    void Update(const uint8_t* data, size_t n) { inner_.Update(data, n); }
    std::string FinishHex();

  private:
    crypto::Sha256 inner_;
};

std::string Sha256Hex(const uint8_t* data, size_t n);
std::string Sha256Hex(const std::vector<uint8_t>& data);
// The digest of a file's content; throws when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& p);

}  // namespace varnok::test
