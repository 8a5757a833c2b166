// The decoder of RAR 2.9 to 4 compression (RAR 3.x/4.x, version needed 29 and 36): LZ blocks with four Huffman
// tables, PPMd variant H blocks, and the filters the stream asks for.
//
// One object decodes the entries of one archive in order. Between entries it keeps what a solid archive
// carries on: the window, the last code lengths, the repeated distances, the PPMd model and escape byte, the
// filter programs seen so far. An entry that is not solid starts it all afresh. Once an entry failed, the
// state is unusable for the solid entries after it, and they are refused until a non-solid entry restarts.
//
// The stream of one entry ends with an end marker (an LZ end-of-block code whose next bit says "new file",
// or PPMd's escape followed by 2); the marker also says whether the next solid entry reads new tables. The
// decoder therefore reads on after the entry's last byte up to that marker, and stops there or where the
// entry's data end. Output past the entry's size (damaged data) is decoded into the window but never written.
//
// Filter blocks are held back in the window until the block is complete, then run (see rar_vm_filters.h)
// and written. Only the standard filters run; a stream carrying any other program fails with a clear error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/core/codec.h"
#include "archive/core/stream.h"
#include "archive/formats/rar/rar_lz_common.h"
#include "archive/formats/rar/rar_ppmd.h"
#include "archive/formats/rar/rar_vm_filters.h"

namespace varnok::rar {

class Rar29Decoder {
  public:
    Rar29Decoder();
    ~Rar29Decoder();
    Rar29Decoder(const Rar29Decoder&) = delete;
    Rar29Decoder& operator=(const Rar29Decoder&) = delete;

    // Decodes one entry from its packed bytes, writing exactly unpackedSize bytes (fewer on failure).
    // solid: the entry continues the state of the one decoded before.
    DecodeResult Decode(ByteSource& in, ByteSink& out, uint64_t unpackedSize, bool solid,
                        const CancelFlag* cancel = nullptr);
    // Why the last Decode failed, in words.
    const std::string& Error() const { return error_; }

  private:
    enum class Step { More, FileEnd, Fail };

    void ResetState();
    bool Fail(int code, const char* why);
    bool ReadTables();
    bool InitPpm();
    Step ReadEndOfBlock();
    Step DecodeLz();
    Step DecodePpm();
    bool ReadVmCodeLz();
    bool ReadVmCodePpm();
    bool AddVmCode(uint32_t firstByte, const uint8_t* data, uint32_t size);
    bool WriteBuf();
    bool RunPending(size_t index, uint32_t& outPos, uint32_t& outSize);
    void CopyMatch(uint32_t dist0, uint32_t len);  // dist0: distance - 1
    bool SizeReached() const { return window_.filled - entryStart_ >= out_->Size(); }
    bool NeedFlush() const { return wrPtr_ != window_.pos && ((wrPtr_ - window_.pos) & RarWindow::kMask) < 260; }

    static constexpr int kMainSize = 299, kDistSize = 60, kAlignSize = 17, kLenSize = 28;
    static constexpr int kTablesSize = kMainSize + kDistSize + kAlignSize + kLenSize;

    struct Program {
        VmFilter kind = VmFilter::Unknown;
        uint32_t blockSize = 0;
        uint32_t execCount = 0;
    };
    struct Pending {
        uint32_t program = 0;
        uint32_t blockStart = 0;
        uint32_t blockSize = 0;
        uint32_t r[7] = {};
        bool nextWindow = false;
        bool live = true;
    };

    RarWindow window_;
    RarHuffman main_, dist_, align_, len_;
    uint8_t lastLevels_[kTablesSize] = {};
    uint32_t reps_[4] = {};
    uint32_t lastLength_ = 0;
    uint32_t prevAlign_ = 0, alignCount_ = 0;
    bool tablesRead_ = false, tablesOk_ = false, lzMode_ = true;
    RarPpmd ppm_;
    int ppmEsc_ = 2;
    bool ppmOk_ = false;
    std::vector<Program> programs_;
    std::vector<Pending> pending_;
    uint32_t lastFilter_ = 0;
    uint32_t wrPtr_ = 0;
    std::unique_ptr<uint8_t[]> vm_;
    std::vector<uint8_t> vmData_;
    bool started_ = false;
    bool broken_ = false;

    // The entry being decoded.
    RarBits* br_ = nullptr;
    RarEntryOutput* out_ = nullptr;
    uint64_t entryStart_ = 0;
    int errorCode_ = 0;
    std::string error_;
};

}  // namespace varnok::rar
