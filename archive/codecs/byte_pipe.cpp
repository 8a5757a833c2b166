#include "archive/codecs/byte_pipe.h"

#include <algorithm>
#include <cstring>

namespace varnok {

BytePipe::BytePipe(size_t capacity) : ring_(std::max<size_t>(capacity, 1)) {}

void BytePipe::Write(const uint8_t* buf, size_t n) {
    std::unique_lock lock(m_);
    while (n > 0) {
        cv_.wait(lock, [&] { return readerClosed_ || count_ < ring_.size(); });
        if (readerClosed_) throw Closed{};
        size_t tail = (head_ + count_) % ring_.size();
        size_t k = std::min({n, ring_.size() - count_, ring_.size() - tail});
        std::memcpy(ring_.data() + tail, buf, k);
        count_ += k;
        buf += k;
        n -= k;
        cv_.notify_all();
    }
}

void BytePipe::CloseWriter() {
    std::lock_guard lock(m_);
    writerClosed_ = true;
    cv_.notify_all();
}

size_t BytePipe::Read(uint8_t* buf, size_t n) {
    std::unique_lock lock(m_);
    cv_.wait(lock, [&] { return count_ > 0 || writerClosed_ || readerClosed_; });
    if (readerClosed_) return 0;
    size_t k = std::min({n, count_, ring_.size() - head_});
    std::memcpy(buf, ring_.data() + head_, k);
    head_ = (head_ + k) % ring_.size();
    count_ -= k;
    cv_.notify_all();
    return k;
}

void BytePipe::CloseReader() {
    std::lock_guard lock(m_);
    readerClosed_ = true;
    cv_.notify_all();
}

class PipedDecoding::Sink final : public ByteSink {
  public:
    explicit Sink(BytePipe& p) : p_(p) {}
    void Write(const uint8_t* buf, size_t n) override { p_.Write(buf, n); }

  private:
    BytePipe& p_;
};

PipedDecoding::PipedDecoding(Producer producer) {
    worker_ = std::thread([this, producer = std::move(producer)] {
        Sink sink(pipe_);
        try {
            result_ = producer(sink);
        } catch (const BytePipe::Closed&) {
            // The reader stopped early: the decoding was abandoned.
            result_ = MakeResult(DecodeStatus::Cancelled, 0, 0, 0);
        } catch (...) {
            failure_ = std::current_exception();
        }
        pipe_.CloseWriter();
    });
}

PipedDecoding::~PipedDecoding() {
    pipe_.CloseReader();
    if (!joined_) worker_.join();
}

size_t PipedDecoding::Read(uint8_t* buf, size_t n) {
    return pipe_.Read(buf, n);
}

DecodeResult PipedDecoding::Finish() {
    std::vector<uint8_t> drop(64 * 1024);
    while (pipe_.Read(drop.data(), drop.size()) > 0) {
    }
    worker_.join();
    joined_ = true;
    if (failure_) std::rethrow_exception(failure_);
    return result_;
}

}  // namespace varnok
