// A sink that keeps the check value of what passes through it (CRC-16/ARC or CRC-32) and its size, for the
// extractors of the LZH, ARJ and BH families.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/core/component.h"
#include "archive/core/stream.h"

namespace varnok {

class CheckSink final : public ByteSink {
  public:
    // inner may be null: the data is only checked.
    CheckSink(ByteSink* inner, CrcKind kind) : inner_(inner), kind_(kind) {}
    void Write(const uint8_t* buf, size_t n) override;
    // Starts a new check (a new part of a file split over volumes); the size keeps counting.
    void Restart() { crc_ = kind_ == CrcKind::Crc32 ? 0xFFFFFFFFu : 0; }
    // The finished check value.
    uint32_t Value() const { return kind_ == CrcKind::Crc32 ? ~crc_ : crc_; }
    // Whether a stored check value matches: the finished value, or (as the extraction base accepts it) its
    // complement.
    bool Matches(uint32_t stored) const;
    uint64_t Size() const { return size_; }

  private:
    ByteSink* inner_;
    CrcKind kind_;
    uint32_t crc_ = kind_ == CrcKind::Crc32 ? 0xFFFFFFFFu : 0;
    uint64_t size_ = 0;
};

}  // namespace varnok
