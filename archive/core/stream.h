// Byte sources and sinks through which codecs read compressed data and write what they decode.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

namespace varnok {

// A pull source of bytes. Read returns the count delivered; 0 means the input has ended
// (a read failure also ends the input: the caller's checks then report the entry).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual size_t Read(uint8_t* buf, size_t n) = 0;
};

// A sink of decoded bytes. Write takes all n bytes or throws ArchiveError (E_WriteFile).
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual void Write(const uint8_t* buf, size_t n) = 0;
    // n zero bytes that the archive declares rather than stores (the holes of a sparse file). Sinks that
    // can, take them without touching every byte (an output file seeks over them); the others get them
    // written.
    virtual void WriteZeros(uint64_t n) {
        static const uint8_t kZeros[65536] = {};
        while (n) {
            const size_t k = n < sizeof kZeros ? static_cast<size_t>(n) : sizeof kZeros;
            Write(kZeros, k);
            n -= k;
        }
    }
};

// The stop request shared by a component and the codecs it runs.
using CancelFlag = std::atomic<bool>;

inline bool IsCancelled(const CancelFlag* flag) {
    return flag && flag->load(std::memory_order_relaxed);
}

// Reads from a memory block.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
    MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data), size) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t k = std::min(n, data_.size() - pos_);
        if (k) std::memcpy(buf, data_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    size_t Position() const { return pos_; }

  private:
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

// Delivers what another source reads after changing it in place (decryption): transform(buf, n).
template <class Transform>
class TransformSource final : public ByteSource {
  public:
    TransformSource(ByteSource& inner, Transform transform)
        : inner_(inner), transform_(std::move(transform)) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t got = inner_.Read(buf, n);
        transform_(buf, got);
        return got;
    }

  private:
    ByteSource& inner_;
    Transform transform_;
};

// Delivers at most `limit` bytes of another source.
class LimitedSource final : public ByteSource {
  public:
    LimitedSource(ByteSource& inner, uint64_t limit) : inner_(inner), left_(limit) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t want = static_cast<size_t>(std::min<uint64_t>(n, left_));
        if (!want) return 0;
        size_t got = inner_.Read(buf, want);
        left_ -= got;
        return got;
    }
    uint64_t Left() const { return left_; }

  private:
    ByteSource& inner_;
    uint64_t left_;
};

// Collects everything written into a vector; an optional cap throws E_WriteFile when exceeded.
class VectorSink final : public ByteSink {
  public:
    explicit VectorSink(size_t cap = SIZE_MAX) : cap_(cap) {}
    void Write(const uint8_t* buf, size_t n) override;
    std::vector<uint8_t>& Data() { return data_; }
    const std::vector<uint8_t>& Data() const { return data_; }

  private:
    std::vector<uint8_t> data_;
    size_t cap_;
};

// Counts and discards what is written (testing an archive).
class CountingSink final : public ByteSink {
  public:
    void Write(const uint8_t*, size_t n) override { count_ += n; }
    void WriteZeros(uint64_t n) override { count_ += n; }
    uint64_t Count() const { return count_; }

  private:
    uint64_t count_ = 0;
};

}  // namespace varnok
