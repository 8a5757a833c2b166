// SHA-256, for comparing what the tests extract with the digests the peer tools recorded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varnok::test {

// Incremental SHA-256.
class Sha256 {
  public:
    Sha256();
    void Update(const uint8_t* data, size_t n);
    std::string FinishHex();

  private:
    void Block(const uint8_t* p);
    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buf_{};
    size_t used_ = 0;
    uint64_t total_ = 0;
};

std::string Sha256Hex(const uint8_t* data, size_t n);
std::string Sha256Hex(const std::vector<uint8_t>& data);
// The digest of a file's content; throws when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& p);

}  // namespace varnok::test
