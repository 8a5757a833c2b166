// The cabinet writer: folders, data blocks and cabinets built from the caller's files, through the caller's
// callbacks only.
//
// How a cabinet comes together. Files go into the current folder's stream one after another; the stream is
// cut into 32 KiB frames, and a full frame is compressed only when the next byte arrives or the folder ends
// (a compressor may want to know which frame is the folder's last). Each compressed frame becomes a CFDATA
// block in a temporary file of the cabinet being built; the folder and file records stay in memory (their
// number is bounded by the format). When a block would make the cabinet larger than cb, the cabinet is
// closed: its records are worked out from the folder ranges it holds, the next cabinet's name is asked for,
// and header, records and the blocks are copied into the cabinet file in one sequential pass. The blocks
// of a cabinet are never split; a folder goes on in the next cabinet only where a file spans the cut (the
// readers join a folder's parts through the files both cabinets list as continued), and otherwise the
// folder ends at the cut and a new one starts in the next cabinet, its first frame compressed again from
// a fresh state.
//
// The size check reserves room for the longest next-cabinet and next-disk names, so a cabinet never grows
// past cb once the names are known. Memory: one frame, one compressed block and the records.
#include "engines/fci/fci_engine.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "archive/codecs/deflate_encoder.h"
#include "archive/codecs/lzx_encoder.h"
#include "archive/codecs/quantum_encoder.h"
#include "archive/core/stream.h"

namespace varnok::fci {

namespace {

constexpr uint16_t kPrevCabinet = 0x0001, kNextCabinet = 0x0002, kReservePresent = 0x0004;
constexpr uint16_t kContinuedFromPrev = 0xFFFD, kContinuedToNext = 0xFFFE, kContinuedPrevAndNext = 0xFFFF;
constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderRecord = 8;
constexpr size_t kFileRecord = 16;
constexpr size_t kDataHeader = 8;
constexpr size_t kMaxCount = 0xFFFF;
constexpr uint64_t kMaxCabinet = 0x7FFFFFFF;
constexpr size_t kCopyChunk = 64 * 1024;

// A failure on its way to the ERF record.
struct Failure {
    int oper;
    int type;
};

[[noreturn]] void Fail(int oper, int type = 0) { throw Failure{oper, type}; }

void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void PutText(std::vector<uint8_t>& v, const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    v.push_back(0);
}

// Whether s is well-formed UTF-8 (lead bytes, continuation bytes, no overlong two-byte forms).
bool ValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const uint8_t c = static_cast<uint8_t>(s[i]);
        size_t more = 0;
        if (c < 0x80)
            more = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if ((c & 0xF0) == 0xE0)
            more = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3;
        else
            return false;
        if (s.size() - i - 1 < more) return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
        i += more + 1;
    }
    return true;
}

// A text field of a CCAB: the bytes up to the terminator, which must lie inside the field.
bool FieldText(const char* field, size_t size, std::string& out) {
    const void* end = std::memchr(field, 0, size);
    if (!end) return false;
    out.assign(field, static_cast<const char*>(end));
    return true;
}

class StoredCompressor final : public BlockCompressor {
  public:
    void Encode(std::span<const uint8_t> frame, std::vector<uint8_t>& out) override {
        out.insert(out.end(), frame.begin(), frame.end());
    }
    void Reset() override {}
};

// MSZIP: "CK" and a complete deflate stream per block. Readers keep the previous block as history, but a
// block that does not refer to it is read the same; independent blocks keep the compressor simple.
class MsZipCompressor final : public BlockCompressor {
  public:
    void Encode(std::span<const uint8_t> frame, std::vector<uint8_t>& out) override {
        out.push_back('C');
        out.push_back('K');
        MemorySource src(frame);
        VectorSink sink;
        DecodeResult r = encoder_.Encode(src, sink);
        if (!r.Ok() || r.consumed != frame.size()) throw std::runtime_error("deflate failed");
        out.insert(out.end(), sink.Data().begin(), sink.Data().end());
    }
    void Reset() override {}

  private:
    DeflateEncoder encoder_{dtDeflateX};
};

class LzxCompressor final : public BlockCompressor {
  public:
    explicit LzxCompressor(unsigned windowBits) : encoder_(Params(windowBits)) {}
    void Encode(std::span<const uint8_t> frame, std::vector<uint8_t>& out) override {
        encoder_.EncodeFrame(frame, out);
    }
    void Reset() override { encoder_.Reset(); }
    uint16_t FolderType() const { return encoder_.TypeCompress(); }

  private:
    static LzxEncoderParams Params(unsigned windowBits) {
        LzxEncoderParams p;
        p.windowBits = windowBits;
        return p;
    }
    LzxEncoder encoder_;
};

class QuantumCompressor final : public BlockCompressor {
  public:
    QuantumCompressor(unsigned windowBits, unsigned level) : encoder_(Params(windowBits, level)) {}
    void Encode(std::span<const uint8_t> frame, std::vector<uint8_t>& out) override {
        encoder_.EncodeFrame(frame, out);
    }
    void Reset() override { encoder_.Reset(); }
    uint16_t FolderType() const { return encoder_.TypeCompress(); }

  private:
    static QuantumEncoderParams Params(unsigned windowBits, unsigned level) {
        QuantumEncoderParams p;
        p.windowBits = windowBits;
        p.level = level;
        return p;
    }
    QuantumEncoder encoder_;
};

}  // namespace

// Bits a type does not use are ignored (a caller may pass a Quantum level with another type); the window
// and level of the types that use them must be in range.
std::unique_ptr<BlockCompressor> MakeCompressor(TCOMP t, uint16_t& folderType) {
    if (t & 0xE000) return nullptr;
    switch (t & tcompMASK_TYPE) {
        case tcompTYPE_NONE:
            folderType = tcompTYPE_NONE;
            return std::make_unique<StoredCompressor>();
        case tcompTYPE_MSZIP:
            folderType = tcompTYPE_MSZIP;
            return std::make_unique<MsZipCompressor>();
        case tcompTYPE_LZX: {
            const unsigned window = (t & tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW;
            if (window < 15 || window > 21) return nullptr;
            auto c = std::make_unique<LzxCompressor>(window);
            folderType = c->FolderType();
            return c;
        }
        case tcompTYPE_QUANTUM: {
            const unsigned level = (t & tcompMASK_QUANTUM_LEVEL) >> tcompSHIFT_QUANTUM_LEVEL;
            const unsigned window = (t & tcompMASK_QUANTUM_MEM) >> tcompSHIFT_QUANTUM_MEM;
            if (level < 1 || level > 7 || window < 10 || window > 21) return nullptr;
            auto c = std::make_unique<QuantumCompressor>(window, level);
            folderType = c->FolderType();
            return c;
        }
        default:
            return nullptr;
    }
}

uint32_t Checksum(const uint8_t* data, size_t n, uint32_t seed) {
    uint32_t sum = seed;
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        sum ^= static_cast<uint32_t>(data[i]) | static_cast<uint32_t>(data[i + 1]) << 8 |
               static_cast<uint32_t>(data[i + 2]) << 16 | static_cast<uint32_t>(data[i + 3]) << 24;
    uint32_t tail = 0;
    switch (n - i) {
        case 3:
            tail |= static_cast<uint32_t>(data[i++]) << 16;
            [[fallthrough]];
        case 2:
            tail |= static_cast<uint32_t>(data[i++]) << 8;
            [[fallthrough]];
        case 1:
            tail |= data[i];
            break;
        default:
            break;
    }
    return sum ^ tail;
}

namespace {

struct FileRec {
    std::string name;
    uint64_t offset = 0;  // in the folder's uncompressed stream
    uint64_t size = 0;
    uint16_t date = 0, time = 0, attribs = 0;
};

// A folder's stream: its files in order of their offsets.
struct Folder {
    uint16_t folderType = 0;
    TCOMP tcomp = 0;
    std::vector<FileRec> files;
    uint64_t size = 0;          // uncompressed bytes so far
    uint64_t compressed = 0;    // bytes of its blocks so far
};

// The part of a folder that one cabinet holds.
struct Part {
    std::shared_ptr<Folder> folder;
    uint64_t start = 0, end = 0;  // uncompressed range
    uint64_t dataOffset = 0;      // where its blocks start in the cabinet's data file
    uint64_t dataBytes = 0;
    uint32_t blocks = 0;
    bool complete = false;        // the folder ends in this cabinet
    bool contFrom = false;        // starts with the second half of a block split across the cut
    bool contTo = false;          // ends with the first half of a block split across the cut
    uint64_t splitStart = 0;      // with contTo: where that block's data starts
};

class Context {
  public:
    Context(ERF* erf, PFNFCIFILEPLACED placed, PFNFCIALLOC alloc, PFNFCIFREE free, PFNFCIOPEN open,
            PFNFCIREAD read, PFNFCIWRITE write, PFNFCICLOSE close, PFNFCISEEK seek, PFNFCIDELETE del,
            PFNFCIGETTEMPFILE temp, const CCAB& ccab, void* pv)
        : erf_(erf), placed_(placed), free_(free), open_(open), read_(read), write_(write), close_(close),
          seek_(seek), delete_(del), temp_(temp), ccab_(ccab), pv_(pv) {
        (void)alloc;
        maxCabinet_ = ccab.cb ? std::min<uint64_t>(ccab.cb, kMaxCabinet) : kMaxCabinet;
        threshold_ = ccab.cbFolderThresh ? ccab.cbFolderThresh : maxCabinet_;
        frame_.reserve(CB_MAX_CHUNK);
    }
    ~Context() { DropData(); }

    PFNFCIFREE FreeFunction() const { return free_; }

    int AddFile(const char* source, const char* name, int execute, PFNFCIGETNEXTCABINET next,
                PFNFCISTATUS status, PFNFCIGETOPENINFO openInfo, TCOMP tcomp) {
        return Guard([&] { DoAddFile(source, name, execute != 0, next, status, openInfo, tcomp); });
    }
    int FlushFolder(PFNFCIGETNEXTCABINET next, PFNFCISTATUS status) {
        return Guard([&] {
            next_ = next;
            status_ = status;
            CloseFolder();
        });
    }
    int FlushCabinet(bool getNext, PFNFCIGETNEXTCABINET next, PFNFCISTATUS status) {
        return Guard([&] {
            next_ = next;
            status_ = status;
            CloseFolder();
            if (!parts_.empty()) WriteCabinet(getNext);
        });
    }

  private:
    template <class F>
    int Guard(F&& f) {
        if (broken_) {
            SetError(FCIERR_USER_ABORT, 0);
            return 0;
        }
        untouched_ = false;
        try {
            f();
            return 1;
        } catch (const Failure& x) {
            SetError(x.oper, x.type);
            // A refusal before any of the file's data was taken leaves everything as it was.
            if (!untouched_) broken_ = true;
        } catch (const std::bad_alloc&) {
            SetError(FCIERR_ALLOC_FAIL, 0);
            broken_ = true;
        } catch (const std::exception&) {
            SetError(FCIERR_MCI_FAIL, 0);
            broken_ = true;
        }
        untouched_ = false;
        return 0;
    }

    void SetError(int oper, int type) {
        if (!erf_) return;
        erf_->erfOper = oper;
        erf_->erfType = type;
        erf_->fError = 1;
    }

    void DoAddFile(const char* source, const char* name, bool execute, PFNFCIGETNEXTCABINET next,
                   PFNFCISTATUS status, PFNFCIGETOPENINFO openInfo, TCOMP tcomp) {
        untouched_ = true;
        next_ = next;
        status_ = status;
        if (!source || !name || !openInfo) Fail(FCIERR_OPEN_SRC);
        FileRec rec;
        rec.name = name;
        if (rec.name.empty() || rec.name.size() >= CB_MAX_FILENAME) Fail(FCIERR_CAB_FORMAT_LIMIT);
        uint16_t folderType = 0;
        if (!MakeCompressor(tcomp, folderType)) Fail(FCIERR_BAD_COMPR_TYPE);
        int err = 0;
        std::string src = source;
        intptr_t h = openInfo(src.data(), &rec.date, &rec.time, &rec.attribs, &err, pv_);
        if (h == -1) Fail(FCIERR_OPEN_SRC, err);
        struct Closer {
            Context& c;
            intptr_t h;
            ~Closer() {
                int e = 0;
                c.close_(h, &e, c.pv_);
            }
        } closer{*this, h};
        // The size as the file stands now, to keep the folder within its limit; the bytes actually read count.
        const long size = seek_(h, 0, 2, &err, pv_);
        if (size < 0 || seek_(h, 0, 0, &err, pv_) != 0) Fail(FCIERR_READ_SRC, err);
        if (static_cast<uint64_t>(size) > CB_MAX_FOLDER) Fail(FCIERR_CAB_FORMAT_LIMIT);
        untouched_ = false;

        rec.attribs &= 0x7F;
        if (execute) rec.attribs |= FCI_A_EXEC;
        for (char c : rec.name)
            if (static_cast<uint8_t>(c) >= 0x80) {
                if (ValidUtf8(rec.name)) rec.attribs |= FCI_A_NAME_IS_UTF;
                break;
            }

        if (cur_ && (cur_->tcomp != tcomp || cur_->size + static_cast<uint64_t>(size) > CB_MAX_FOLDER))
            CloseFolder();
        if (!cur_) OpenFolder(tcomp);
        rec.offset = cur_->size;
        // The size as it stood when the file was opened is the size in the records (a cabinet written while
        // the file is still being read already lists it); a file that shrinks meanwhile fails, one that
        // grows is taken up to that size.
        rec.size = static_cast<uint64_t>(size);
        cur_->files.push_back(rec);
        std::vector<uint8_t> buf(kCopyChunk);
        uint64_t left = rec.size;
        while (left) {
            const unsigned want = static_cast<unsigned>(std::min<uint64_t>(left, buf.size()));
            unsigned got = read_(h, buf.data(), want, &err, pv_);
            if (got == static_cast<unsigned>(-1)) Fail(FCIERR_READ_SRC, err);
            if (got == 0 || got > want) Fail(FCIERR_READ_SRC, 0);
            left -= got;
            size_t at = 0;
            while (at < got) {
                if (frame_.size() == CB_MAX_CHUNK) CommitFrame();
                size_t k = std::min<size_t>(got - at, CB_MAX_CHUNK - frame_.size());
                frame_.insert(frame_.end(), buf.begin() + static_cast<ptrdiff_t>(at),
                              buf.begin() + static_cast<ptrdiff_t>(at + k));
                at += k;
                cur_->size += k;
            }
        }
        if (closeAfterFile_ || cur_->compressed + frame_.size() >= threshold_) CloseFolder();
    }

    void OpenFolder(TCOMP tcomp) {
        cur_ = std::make_shared<Folder>();
        cur_->tcomp = tcomp;
        compressor_ = MakeCompressor(tcomp, cur_->folderType);
        frameStart_ = 0;
        placedFiles_ = 0;
        closeAfterFile_ = false;
        StartPart(cur_);
    }

    // Records of the current folder's files not yet counted in this cabinet whose data starts at or before
    // end (an empty file at end may still land here).
    void PendingRecords(uint64_t end, size_t& bytes, size_t& count) const {
        bytes = count = 0;
        if (!cur_) return;
        for (size_t i = placedFiles_; i < cur_->files.size() && cur_->files[i].offset <= end; ++i) {
            bytes += kFileRecord + cur_->files[i].name.size() + 1;
            ++count;
        }
    }

    uint64_t HeaderBytes(bool next) const {
        uint64_t n = kHeaderSize;
        if (Reserves()) n += 4 + ccab_.cbReserveCFHeader;
        if (cabIndex_ > 0) n += prevCab_.size() + 1 + prevDisk_.size() + 1;
        if (next) n += CB_MAX_CABINET_NAME + CB_MAX_DISK_NAME;
        return n;
    }

    bool Reserves() const {
        return ccab_.cbReserveCFHeader || ccab_.cbReserveCFFolder || ccab_.cbReserveCFData;
    }

    // Whether the cabinet, as it would be with extra records and data, stays within its limits.
    bool Fits(size_t extraRecordBytes, size_t extraFiles, uint64_t extraData) const {
        const uint64_t total = HeaderBytes(true) + parts_.size() * (kFolderRecord + ccab_.cbReserveCFFolder) +
                               recordBytes_ + extraRecordBytes + dataBytes_ + extraData;
        return total <= maxCabinet_ && fileCount_ + extraFiles <= kMaxCount;
    }

    void Compress(std::vector<uint8_t>& block) {
        block.clear();
        block.resize(kDataHeader + ccab_.cbReserveCFData);
        compressor_->Encode(frame_, block);
        // The format's limit for a block's data (a block that grows by more than 6 KiB).
        if (block.size() - kDataHeader - ccab_.cbReserveCFData > CB_MAX_CHUNK + 6144) Fail(FCIERR_MCI_FAIL);
        Seal(block, frame_.size());
    }

    // Room every cabinet keeps for the header of a block split across the cut.
    uint64_t SplitSlack() const { return kDataHeader + ccab_.cbReserveCFData; }

    // The most a frame of n bytes may become: every compressor here grows incompressible data by a few
    // bytes per frame at most.
    uint64_t Bound(size_t n) const { return n + n / 16 + 64 + kDataHeader + ccab_.cbReserveCFData; }

    // Compresses the pending frame and puts its block into the cabinet. When it may not fit, the cabinet is
    // cut here: a file that runs across the cut goes on in the next cabinet (its block split between the
    // two, the folder closing where the file ends), otherwise the folder ends at the cut and the frame starts
    // a new one there.
    void CommitFrame() {
        if (frame_.empty()) return;
        const size_t n = frame_.size();
        const uint64_t bs = frameStart_, be = bs + n;
        size_t extraBytes = 0, extraFiles = 0;
        PendingRecords(be, extraBytes, extraFiles);
        const bool emptyCabinet = dataBytes_ == 0 && parts_.size() == 1 && !parts_.back().contFrom;
        if (emptyCabinet || Fits(extraBytes, extraFiles, Bound(n) + SplitSlack())) {
            std::vector<uint8_t> block;
            Compress(block);
            return CommitBlock(block, n);
        }
        Part& part = parts_.back();
        if (part.blocks == 0) {
            // Nothing of this folder is here yet: it moves to the next cabinet whole.
            std::shared_ptr<Folder> f = part.folder;
            parts_.pop_back();
            WriteCabinet(true);
            StartPart(f);
            std::vector<uint8_t> block;
            Compress(block);
            return CommitBlock(block, n);
        }
        const FileRec* across = nullptr;
        for (const FileRec& r : cur_->files)
            if (r.size && r.offset < bs && r.offset + r.size > bs) across = &r;
        if (!across) {
            // The cut falls between files: the folder ends here, complete, and the frame starts a new folder
            // in the next cabinet, compressed from a fresh state.
            part.end = bs;
            part.complete = true;
            std::shared_ptr<Folder> rest = SplitFolder(bs);
            WriteCabinet(true);
            cur_ = rest;
            compressor_->Reset();
            frameStart_ = 0;
            placedFiles_ = 0;
            StartPart(cur_);
            std::vector<uint8_t> block;
            Compress(block);
            return CommitBlock(block, n);
        }
        const bool continues = across->offset + across->size > be;
        if (continues) {
            // The file goes on past this frame: the folder follows it into the next cabinet and closes where
            // it ends, so that the next cabinet's part of the folder holds this file only.
            std::vector<uint8_t> block;
            Compress(block);
            SplitBlock(block, n);
            closeAfterFile_ = true;
            return;
        }
        // The file ends inside this frame: the folder's last block holds the rest of it, and the files after
        // it start a new folder with the rest of the frame.
        const uint64_t cut = across->offset + across->size;
        std::vector<uint8_t> tail(frame_.begin() + static_cast<ptrdiff_t>(cut - bs), frame_.end());
        frame_.resize(static_cast<size_t>(cut - bs));
        std::shared_ptr<Folder> rest = SplitFolder(cut);
        std::vector<uint8_t> block;
        Compress(block);
        SplitBlock(block, frame_.size());
        parts_.back().complete = true;
        if (rest->files.empty() && tail.empty()) {
            cur_.reset();
            compressor_.reset();
            frameStart_ = 0;
            placedFiles_ = 0;
            return;
        }
        cur_ = rest;
        compressor_->Reset();
        frame_ = std::move(tail);
        frameStart_ = 0;
        placedFiles_ = 0;
        StartPart(cur_);
    }

    // Moves the current folder's files from offset `at` on into a new folder of the same compression.
    std::shared_ptr<Folder> SplitFolder(uint64_t at) {
        std::shared_ptr<Folder> rest = std::make_shared<Folder>();
        rest->tcomp = cur_->tcomp;
        rest->folderType = cur_->folderType;
        auto split = std::find_if(cur_->files.begin(), cur_->files.end(),
                                  [&](const FileRec& r) { return r.offset >= at; });
        for (auto it = split; it != cur_->files.end(); ++it) {
            FileRec r = *it;
            r.offset -= at;
            rest->files.push_back(r);
        }
        cur_->files.erase(split, cur_->files.end());
        rest->size = cur_->size - at;
        cur_->size = at;
        return rest;
    }

    void StartPart(const std::shared_ptr<Folder>& f) {
        Part p;
        p.folder = f;
        p.dataOffset = dataBytes_;
        parts_.push_back(p);
        if (parts_.size() > kMaxCount) Fail(FCIERR_CAB_FORMAT_LIMIT);
    }

    // Header fields and checksum of a block (or a part of one) whose data follows the header in b.
    void Seal(std::vector<uint8_t>& b, size_t uncompressed) const {
        const size_t data = b.size() - kDataHeader - ccab_.cbReserveCFData;
        b[4] = static_cast<uint8_t>(data);
        b[5] = static_cast<uint8_t>(data >> 8);
        b[6] = static_cast<uint8_t>(uncompressed);
        b[7] = static_cast<uint8_t>(uncompressed >> 8);
        uint32_t sum = Checksum(b.data() + kDataHeader + ccab_.cbReserveCFData, data, 0);
        sum = Checksum(b.data() + 4, 4, sum);
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<uint8_t>(sum >> (8 * i));
    }

    // Puts as much of the block as fits into this cabinet (its uncompressed size given as 0, as the readers
    // expect of a block that goes on in the next cabinet), writes the cabinet, and starts the next one with
    // the rest of the block: the folder's part there is continued from this one.
    void SplitBlock(const std::vector<uint8_t>& block, size_t n) {
        const size_t head = kDataHeader + ccab_.cbReserveCFData;
        const size_t data = block.size() - head;
        size_t extraBytes = 0, extraFiles = 0;
        const uint64_t bs = frameStart_, be = bs + n;
        PendingRecords(be, extraBytes, extraFiles);
        const uint64_t used = HeaderBytes(true) + parts_.size() * (kFolderRecord + ccab_.cbReserveCFFolder) +
                              recordBytes_ + extraBytes + dataBytes_ + head;
        if (used > maxCabinet_) Fail(FCIERR_CAB_FORMAT_LIMIT);
        const size_t first = static_cast<size_t>(std::min<uint64_t>(maxCabinet_ - used, data ? data - 1 : 0));
        std::vector<uint8_t> a(block.begin(), block.begin() + static_cast<ptrdiff_t>(head + first));
        Seal(a, 0);
        WriteData(a);
        Part& part = parts_.back();
        ++part.blocks;
        part.dataBytes += a.size();
        part.end = be;
        part.contTo = true;
        part.splitStart = bs;
        PlaceUpTo(be);
        std::shared_ptr<Folder> f = part.folder;
        WriteCabinet(true);

        StartPart(f);
        Part& next = parts_.back();
        next.start = bs;
        next.contFrom = true;
        for (const FileRec& r : f->files)
            if (r.size && r.offset < be && r.offset + r.size > bs) {
                recordBytes_ += kFileRecord + r.name.size() + 1;
                ++fileCount_;
            }
        std::vector<uint8_t> b(block.begin(), block.begin() + static_cast<ptrdiff_t>(head));
        b.insert(b.end(), block.begin() + static_cast<ptrdiff_t>(head + first), block.end());
        Seal(b, n);
        if (!Fits(0, 0, b.size() + SplitSlack())) Fail(FCIERR_CAB_FORMAT_LIMIT);
        WriteData(b);
        ++next.blocks;
        next.dataBytes += b.size();
        next.end = be;
        f->compressed += block.size();
        Status(block.size() - head, n);
        frameStart_ = be;
        frame_.clear();
    }

    // Files whose data starts before end are counted in this cabinet.
    void PlaceUpTo(uint64_t end) {
        while (placedFiles_ < cur_->files.size() && cur_->files[placedFiles_].offset < end) {
            recordBytes_ += kFileRecord + cur_->files[placedFiles_].name.size() + 1;
            ++fileCount_;
            ++placedFiles_;
        }
    }

    void Status(size_t compressed, size_t uncompressed) {
        if (status_ && status_(statusFile, static_cast<unsigned long>(compressed),
                               static_cast<unsigned long>(uncompressed), pv_) == -1)
            Fail(FCIERR_USER_ABORT);
    }

    void CommitBlock(const std::vector<uint8_t>& block, size_t n) {
        const uint64_t end = frameStart_ + n;
        size_t extraBytes = 0, extraFiles = 0;
        PendingRecords(end, extraBytes, extraFiles);
        if (!Fits(extraBytes, extraFiles, block.size() + SplitSlack())) Fail(FCIERR_CAB_FORMAT_LIMIT);
        WriteData(block);
        Part& part = parts_.back();
        ++part.blocks;
        part.dataBytes += block.size();
        part.end = end;
        cur_->compressed += block.size();
        PlaceUpTo(end);
        Status(block.size() - kDataHeader - ccab_.cbReserveCFData, n);
        frameStart_ = end;
        frame_.clear();
    }

    void CloseFolder() {
        // A cut may move the files after it into a new folder with part of the frame; that one closes too.
        for (int guard = 0; cur_ && !frame_.empty() && guard < 4; ++guard)
            CommitFrame();
        if (!cur_) return;
        // The empty files at the folder's end.
        size_t extraBytes = 0, extraFiles = 0;
        PendingRecords(cur_->size, extraBytes, extraFiles);
        if (extraFiles && !Fits(extraBytes, extraFiles, SplitSlack())) {
            Part& part = parts_.back();
            if (part.blocks > 0 || parts_.size() == 1) Fail(FCIERR_CAB_FORMAT_LIMIT);
            std::shared_ptr<Folder> f = part.folder;
            parts_.pop_back();
            WriteCabinet(true);
            StartPart(f);
            if (!Fits(extraBytes, extraFiles, SplitSlack())) Fail(FCIERR_CAB_FORMAT_LIMIT);
        }
        recordBytes_ += extraBytes;
        fileCount_ += extraFiles;
        Part& part = parts_.back();
        part.end = cur_->size;
        part.complete = true;
        cur_.reset();
        compressor_.reset();
        frameStart_ = 0;
        placedFiles_ = 0;
        closeAfterFile_ = false;
    }

    void WriteData(const std::vector<uint8_t>& block) {
        int err = 0;
        if (dataFile_ == -1) {
            char name[CB_MAX_CAB_PATH] = {};
            if (!temp_ || !temp_(name, sizeof name, pv_) || !std::memchr(name, 0, sizeof name))
                Fail(FCIERR_TEMP_FILE);
            dataName_ = name;
            dataFile_ = open_(dataName_.data(), FCI_O_RDWR | FCI_O_CREAT | FCI_O_EXCL | FCI_O_BINARY,
                              FCI_S_IREAD | FCI_S_IWRITE, &err, pv_);
            if (dataFile_ == -1) {
                dataName_.clear();
                Fail(FCIERR_TEMP_FILE, err);
            }
        }
        if (write_(dataFile_, const_cast<uint8_t*>(block.data()), static_cast<unsigned>(block.size()), &err,
                   pv_) != block.size())
            Fail(FCIERR_TEMP_FILE, err);
        dataBytes_ += block.size();
    }

    void DropData() {
        int err = 0;
        if (dataFile_ != -1) close_(dataFile_, &err, pv_);
        dataFile_ = -1;
        if (!dataName_.empty()) delete_(dataName_.data(), &err, pv_);
        dataName_.clear();
        dataBytes_ = 0;
    }

    void WriteCabinet(bool withNext) {
        CCAB next{};
        std::string nextCab, nextDisk;
        if (withNext && cabIndex_ == 0xFFFF) Fail(FCIERR_CAB_FORMAT_LIMIT);
        if (withNext) {
            next = ccab_;
            ++next.iCab;
            const uint64_t estimate = HeaderBytes(true) + recordBytes_ + dataBytes_ +
                                      parts_.size() * (kFolderRecord + ccab_.cbReserveCFFolder);
            if (!next_ || !next_(&next, static_cast<unsigned long>(estimate), pv_)) Fail(FCIERR_USER_ABORT);
            if (!FieldText(next.szCab, sizeof next.szCab, nextCab) || nextCab.empty() ||
                !FieldText(next.szDisk, sizeof next.szDisk, nextDisk) ||
                !std::memchr(next.szCabPath, 0, sizeof next.szCabPath))
                Fail(FCIERR_CAB_FORMAT_LIMIT);
        }
        std::string cab, disk, path;
        if (!FieldText(ccab_.szCab, sizeof ccab_.szCab, cab) || cab.empty() ||
            !FieldText(ccab_.szDisk, sizeof ccab_.szDisk, disk) ||
            !FieldText(ccab_.szCabPath, sizeof ccab_.szCabPath, path))
            Fail(FCIERR_CAB_FORMAT_LIMIT);

        // The records, from the folder ranges this cabinet holds.
        struct Placed {
            const FileRec* rec;
            uint16_t folder;
            bool continuation;
        };
        std::vector<Placed> files;
        for (size_t i = 0; i < parts_.size(); ++i) {
            const Part& p = parts_[i];
            for (const FileRec& r : p.folder->files) {
                const uint64_t end = r.offset + r.size;
                // A continued part lists the files of the split block (all of them run on from the last
                // cabinet); empty files are listed where their offset lies.
                bool in = p.contFrom ? r.size && r.offset < p.end && end > p.start
                          : r.size   ? r.offset < p.end && end > p.start
                                     : r.offset >= p.start && (r.offset < p.end || (p.complete && r.offset == p.end));
                if (!in) continue;
                const bool prev = p.contFrom;
                const bool after = p.contTo && r.size && end > p.splitStart;
                uint16_t index = static_cast<uint16_t>(i);
                if (prev && after)
                    index = kContinuedPrevAndNext;
                else if (prev)
                    index = kContinuedFromPrev;
                else if (after)
                    index = kContinuedToNext;
                files.push_back({&r, index, prev});
            }
        }
        if (files.size() > kMaxCount) Fail(FCIERR_CAB_FORMAT_LIMIT);

        std::vector<uint8_t> head;
        uint16_t flags = 0;
        if (cabIndex_ > 0) flags |= kPrevCabinet;
        if (withNext) flags |= kNextCabinet;
        if (Reserves()) flags |= kReservePresent;
        size_t headerSize = kHeaderSize + (Reserves() ? 4 + ccab_.cbReserveCFHeader : 0);
        if (flags & kPrevCabinet) headerSize += prevCab_.size() + prevDisk_.size() + 2;
        if (withNext) headerSize += nextCab.size() + nextDisk.size() + 2;
        const size_t foldersSize = parts_.size() * (kFolderRecord + ccab_.cbReserveCFFolder);
        size_t filesSize = 0;
        for (const Placed& f : files)
            filesSize += kFileRecord + f.rec->name.size() + 1;
        const uint64_t dataStart = headerSize + foldersSize + filesSize;
        const uint64_t total = dataStart + dataBytes_;
        if (total > maxCabinet_) Fail(FCIERR_CAB_FORMAT_LIMIT);

        head.insert(head.end(), {'M', 'S', 'C', 'F'});
        Put32(head, 0);
        Put32(head, static_cast<uint32_t>(total));
        Put32(head, 0);
        Put32(head, static_cast<uint32_t>(headerSize + foldersSize));
        Put32(head, 0);
        head.push_back(3);
        head.push_back(1);
        Put16(head, static_cast<uint16_t>(parts_.size()));
        Put16(head, static_cast<uint16_t>(files.size()));
        Put16(head, flags);
        Put16(head, ccab_.setID);
        Put16(head, cabIndex_);
        if (Reserves()) {
            Put16(head, static_cast<uint16_t>(ccab_.cbReserveCFHeader));
            head.push_back(static_cast<uint8_t>(ccab_.cbReserveCFFolder));
            head.push_back(static_cast<uint8_t>(ccab_.cbReserveCFData));
            head.insert(head.end(), ccab_.cbReserveCFHeader, 0);
        }
        if (flags & kPrevCabinet) {
            PutText(head, prevCab_);
            PutText(head, prevDisk_);
        }
        if (withNext) {
            PutText(head, nextCab);
            PutText(head, nextDisk);
        }
        for (const Part& p : parts_) {
            Put32(head, static_cast<uint32_t>(dataStart + p.dataOffset));
            Put16(head, static_cast<uint16_t>(p.blocks));
            Put16(head, p.folder->folderType);
            head.insert(head.end(), ccab_.cbReserveCFFolder, 0);
        }
        for (const Placed& f : files) {
            Put32(head, static_cast<uint32_t>(f.rec->size));
            Put32(head, static_cast<uint32_t>(f.rec->offset));
            Put16(head, f.folder);
            Put16(head, f.rec->date);
            Put16(head, f.rec->time);
            Put16(head, f.rec->attribs);
            PutText(head, f.rec->name);
        }
        if (status_ && status_(statusCabinet, static_cast<unsigned long>(HeaderBytes(withNext) + foldersSize +
                                                                         filesSize + dataBytes_),
                               static_cast<unsigned long>(total), pv_) == -1)
            Fail(FCIERR_USER_ABORT);

        std::string full = path;
        if (!full.empty() && full.back() != '/') full += '/';
        full += cab;
        int err = 0;
        intptr_t h = open_(full.data(), FCI_O_RDWR | FCI_O_CREAT | FCI_O_TRUNC | FCI_O_BINARY,
                           FCI_S_IREAD | FCI_S_IWRITE, &err, pv_);
        if (h == -1) Fail(FCIERR_CAB_FILE, err);
        struct Closer {
            Context& c;
            intptr_t h;
            bool open = true;
            int Close() {
                int e = 0;
                open = false;
                return c.close_(h, &e, c.pv_) == 0 ? 0 : (e ? e : -1);
            }
            ~Closer() {
                if (open) Close();
            }
        } closer{*this, h};
        if (write_(h, head.data(), static_cast<unsigned>(head.size()), &err, pv_) != head.size())
            Fail(FCIERR_CAB_FILE, err);
        if (dataBytes_) {
            if (seek_(dataFile_, 0, 0, &err, pv_) != 0) Fail(FCIERR_TEMP_FILE, err);
            std::vector<uint8_t> buf(kCopyChunk);
            uint64_t left = dataBytes_;
            while (left) {
                const unsigned want = static_cast<unsigned>(std::min<uint64_t>(left, buf.size()));
                if (read_(dataFile_, buf.data(), want, &err, pv_) != want) Fail(FCIERR_TEMP_FILE, err);
                if (write_(h, buf.data(), want, &err, pv_) != want) Fail(FCIERR_CAB_FILE, err);
                left -= want;
                if (status_ && status_(statusFolder, static_cast<unsigned long>(dataBytes_ - left),
                                       static_cast<unsigned long>(dataBytes_), pv_) == -1)
                    Fail(FCIERR_USER_ABORT);
            }
        }
        if (int e = closer.Close()) Fail(FCIERR_CAB_FILE, e > 0 ? e : 0);
        if (placed_)
            for (const Placed& f : files)
                if (placed_(&ccab_, const_cast<char*>(f.rec->name.c_str()), static_cast<long>(f.rec->size),
                            f.continuation, pv_) == -1)
                    Fail(FCIERR_USER_ABORT);

        // The next cabinet starts empty; the caller puts the open folder's part into it.
        DropData();
        parts_.clear();
        recordBytes_ = 0;
        fileCount_ = 0;
        prevCab_ = cab;
        prevDisk_ = disk;
        ++cabIndex_;
        if (withNext) ccab_ = next;
    }

    ERF* erf_;
    PFNFCIFILEPLACED placed_;
    PFNFCIFREE free_;
    PFNFCIOPEN open_;
    PFNFCIREAD read_;
    PFNFCIWRITE write_;
    PFNFCICLOSE close_;
    PFNFCISEEK seek_;
    PFNFCIDELETE delete_;
    PFNFCIGETTEMPFILE temp_;
    PFNFCIGETNEXTCABINET next_ = nullptr;
    PFNFCISTATUS status_ = nullptr;
    CCAB ccab_;
    void* pv_;
    uint64_t maxCabinet_ = kMaxCabinet;
    uint64_t threshold_ = 0;
    bool broken_ = false;
    bool untouched_ = false;

    // The folder being filled, its compressor and its pending frame.
    std::shared_ptr<Folder> cur_;
    std::unique_ptr<BlockCompressor> compressor_;
    std::vector<uint8_t> frame_;
    uint64_t frameStart_ = 0;
    size_t placedFiles_ = 0;  // files of cur_ counted in this cabinet (or an earlier one)
    bool closeAfterFile_ = false;  // the folder runs on into a cabinet for the current file only

    // The cabinet being built.
    std::vector<Part> parts_;
    size_t recordBytes_ = 0, fileCount_ = 0;
    intptr_t dataFile_ = -1;
    std::string dataName_;
    uint64_t dataBytes_ = 0;
    uint16_t cabIndex_ = 0;
    std::string prevCab_, prevDisk_;
};

bool ValidCcab(const CCAB& c) {
    return c.cbReserveCFHeader <= 60000 && c.cbReserveCFFolder <= 255 && c.cbReserveCFData <= 255 &&
           (c.cb == 0 || c.cb >= CB_MIN_CABINET) && std::memchr(c.szCab, 0, sizeof c.szCab) &&
           std::memchr(c.szDisk, 0, sizeof c.szDisk) && std::memchr(c.szCabPath, 0, sizeof c.szCabPath) &&
           c.szCab[0] != 0;
}

}  // namespace

HFCI Create(ERF* perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
            PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
            PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void* pv) noexcept {
    auto fail = [&](int oper) -> HFCI {
        if (perf) {
            perf->erfOper = oper;
            perf->erfType = 0;
            perf->fError = 1;
        }
        return nullptr;
    };
    if (!pfna || !pfnf || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek || !pfndelete ||
        !pfnfcigtf || !pccab)
        return fail(FCIERR_CAB_FORMAT_LIMIT);
    if (!ValidCcab(*pccab)) return fail(FCIERR_CAB_FORMAT_LIMIT);
    void* mem = pfna(sizeof(Context));
    if (!mem) return fail(FCIERR_ALLOC_FAIL);
    try {
        return new (mem) Context(perf, pfnfcifp, pfna, pfnf, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek,
                                 pfndelete, pfnfcigtf, *pccab, pv);
    } catch (...) {
        pfnf(mem);
        return fail(FCIERR_ALLOC_FAIL);
    }
}

int AddFile(HFCI hfci, const char* source, const char* name, int execute, PFNFCIGETNEXTCABINET next,
            PFNFCISTATUS status, PFNFCIGETOPENINFO openInfo, TCOMP typeCompress) noexcept {
    if (!hfci) return 0;
    return static_cast<Context*>(hfci)->AddFile(source, name, execute, next, status, openInfo, typeCompress);
}

int FlushCabinet(HFCI hfci, int getNextCab, PFNFCIGETNEXTCABINET next, PFNFCISTATUS status) noexcept {
    if (!hfci) return 0;
    return static_cast<Context*>(hfci)->FlushCabinet(getNextCab != 0, next, status);
}

int FlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET next, PFNFCISTATUS status) noexcept {
    if (!hfci) return 0;
    return static_cast<Context*>(hfci)->FlushFolder(next, status);
}

int Destroy(HFCI hfci) noexcept {
    if (!hfci) return 0;
    Context* c = static_cast<Context*>(hfci);
    PFNFCIFREE f = c->FreeFunction();
    c->~Context();
    f(c);
    return 1;
}

}  // namespace varnok::fci
