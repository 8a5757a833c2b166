// A bounded pipe between two threads: a decoder writes into one end while a reader takes the bytes from the
// other (a TAR read straight out of its compressed stream, without an intermediate file).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

class BytePipe {
  public:
    // Thrown to the writer when the reader has gone away.
    struct Closed {};

    explicit BytePipe(size_t capacity = 1 << 20);

    // Writer side: blocks while the pipe is full; throws Closed once the reader has closed its end.
    void Write(const uint8_t* buf, size_t n);
    void CloseWriter();
    // Reader side: blocks while the pipe is empty; 0 once the writer has closed its end and all is read.
    size_t Read(uint8_t* buf, size_t n);
    void CloseReader();

  private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<uint8_t> ring_;
    size_t head_ = 0, count_ = 0;
    bool writerClosed_ = false, readerClosed_ = false;
};

// Runs a decoder in a second thread with its output going into a pipe, and offers that output as a source.
// The destructor closes the reading end and waits for the decoder, so leaving early (an exception, a reader
// that stops before the end) never blocks.
class PipedDecoding final : public ByteSource {
  public:
    using Producer = std::function<DecodeResult(ByteSink&)>;
    explicit PipedDecoding(Producer producer);
    ~PipedDecoding() override;
    PipedDecoding(const PipedDecoding&) = delete;
    PipedDecoding& operator=(const PipedDecoding&) = delete;

    size_t Read(uint8_t* buf, size_t n) override;
    // Reads and drops the rest of the output, waits for the decoder and returns its result. An exception the
    // decoder threw is thrown here.
    DecodeResult Finish();

  private:
    class Sink;
    BytePipe pipe_;
    DecodeResult result_;
    std::exception_ptr failure_;
    std::thread worker_;
    bool joined_ = false;
};

}  // namespace varnok
