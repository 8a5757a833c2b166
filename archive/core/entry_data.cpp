// The data of a new entry, as ZIP and BH write it: stored, deflated or fused, optionally under the traditional
// cipher. A compressed entry that does not come out smaller than the file is written again as stored; the
// file is read a second time for that (and a first time, before, when encrypting: the encryption header's
// check bytes come from the CRC, because these writers never write a data descriptor).
#include <algorithm>
#include <functional>

#include "archive/codecs/static_huffman_encoder.h"
#include "archive/core/compbase.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/core/zipcrypt.h"

namespace varnok {

namespace {

constexpr size_t kBlock = 64 * 1024;

// Passes a file on, computing its CRC-32, reporting progress and counting the bytes.
class CountingSource final : public ByteSource {
  public:
    CountingSource(platform::File& f, std::function<void(uint64_t)> progress)
        : f_(f), progress_(std::move(progress)) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t got = f_.Read(buf, n);
        crc_ = UpdateCrc32(crc_, buf, got);
        done_ += got;
        if (progress_) progress_(done_);
        return got;
    }
    uint32_t Crc() const { return crc_ ^ 0xFFFFFFFFu; }
    uint64_t Done() const { return done_; }

  private:
    platform::File& f_;
    std::function<void(uint64_t)> progress_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t done_ = 0;
};

// Encrypts (when given a cipher) and hands the bytes to the writer's output.
class CipherSink final : public ByteSink {
  public:
    CipherSink(ZipCipher* cipher, std::function<void(const uint8_t*, size_t)> write)
        : cipher_(cipher), write_(std::move(write)) {}
    void Write(const uint8_t* buf, size_t n) override {
        if (cipher_) {
            tmp_.assign(buf, buf + n);
            cipher_->Encrypt(tmp_.data(), n);
            buf = tmp_.data();
        }
        write_(buf, n);
        written_ += n;
    }
    uint64_t Written() const { return written_; }

  private:
    ZipCipher* cipher_;
    std::function<void(const uint8_t*, size_t)> write_;
    std::vector<uint8_t> tmp_;
    uint64_t written_ = 0;
};

}  // namespace

bool TCompBase::WriteEntryData(platform::File& out, platform::File& src, const TCompBaseHeaderObj& e,
                               EntryMethod wanted, bool encrypt, EntryData& r) {
    const uint64_t dataStart = out.Tell();
    auto rewind = [&]() {
        if (!out.Truncate(dataStart) || !out.Seek(dataStart))
            RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
    };
    auto readFailed = [&]() {
        ReportError(e.diskPath, platform::LastErrorText(), E_ReadFile);
        return false;
    };
    const std::function<void(uint64_t)> progress = [&](uint64_t done) {
        Progress(done, e.size);
        CheckCancel();
    };
    const auto write = [&](const uint8_t* p, size_t n) { Write(out, p, n); };

    ZipCipher cipher;
    uint32_t check = 0;
    if (encrypt) {
        CountingSource pass(src, [&](uint64_t) { CheckCancel(); });
        uint8_t buf[kBlock];
        while (pass.Read(buf, sizeof buf) > 0) {
        }
        check = pass.Crc();
        if (!src.Seek(0)) return readFailed();
    }
    auto begin = [&]() {
        if (!encrypt) return;
        uint8_t head[12];
        cipher.MakeCryptHeader(Password, check, head);
        Write(out, head, sizeof head);
    };
    r = EntryData{};
    if (wanted != EntryMethod::Store && e.size > 0) {
        begin();
        CountingSource in(src, progress);
        CipherSink sink(encrypt ? &cipher : nullptr, write);
        bool done = false;
        if (wanted == EntryMethod::Deflate) {
            DeflateEncoder encoder(DeflateType);
            done = encoder.Encode(in, sink, CancelPtr()).status == DecodeStatus::Ok;
        } else {
            // Fuse gives up as soon as its output has caught up with its input.
            StaticHuffmanEncoder encoder(kBhMethod1Params);
            done = encoder.Encode(in, sink, StaticHuffmanEncoder::IfNotSmaller::Stop, CancelPtr()).Ok();
        }
        CheckCancel();
        if (done) {
            if (ShortRead(e, in.Done())) return false;
            if (sink.Written() < in.Done()) {
                r.method = wanted;
                r.crc = in.Crc();
                r.unpacked = in.Done();
                r.packed = sink.Written() + (encrypt ? 12 : 0);
                r.encrypted = encrypt;
                BytesRemaining -= std::min(BytesRemaining, r.unpacked);
                return true;
            }
        }
        // Not smaller (or the coder gave up early for that reason): the entry is stored instead.
        rewind();
        if (!src.Seek(0)) return readFailed();
    }
    begin();
    CountingSource in(src, progress);
    CipherSink sink(encrypt ? &cipher : nullptr, write);
    uint8_t buf[kBlock];
    while (size_t got = in.Read(buf, sizeof buf))
        sink.Write(buf, got);
    if (ShortRead(e, in.Done())) return false;
    r.method = EntryMethod::Store;
    r.crc = in.Crc();
    r.unpacked = in.Done();
    r.packed = sink.Written() + (encrypt ? 12 : 0);
    r.encrypted = encrypt;
    if (r.unpacked == 0) {
        // An empty file: no encryption header and nothing to check.
        rewind();
        r = EntryData{};
    }
    BytesRemaining -= std::min(BytesRemaining, r.unpacked);
    return true;
}

}  // namespace varnok
