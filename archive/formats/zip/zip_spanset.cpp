#include "archive/formats/zip/zip_spanset.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/zip_records.h"

namespace varnok::zip {
namespace {

constexpr uint32_t kTempSpanSig = 0x30304B50;  // "PK00": a set that turned out to need one volume only
constexpr size_t kChunk = 65536;
// Per-volume offsets are stored in 32 bits: no volume may pass them.
constexpr uint64_t kVolumeCap = 0xFFFFFFFF;
constexpr int kMaxDisk = 0xFFFE;  // 0xFFFF means "see the ZIP64 record"
// A ZIP64 end record is 56 bytes and rarely carries more; a huge one is damage.
constexpr uint64_t kMaxZip64Record = 1 << 20;

[[noreturn]] void Fail(SpanFault f, std::string detail = {}) { throw SpanError{f, std::move(detail)}; }

// A central record as stored, with where its local header lies.
struct Record {
    std::vector<uint8_t> bytes;
    std::string name;
    uint32_t disk = 0;
    uint64_t local = 0;
    int writtenDisk = 0;
    uint64_t packed = 0;
};

std::vector<Record> ParseDirectory(const std::vector<uint8_t>& dir, uint64_t expected) {
    std::vector<Record> recs;
    size_t pos = 0;
    while (pos < dir.size()) {
        if (dir.size() - pos < kCentralSize) Fail(SpanFault::ReadCentral, "short central header");
        if (Le32(dir.data() + pos) != kCentralSig) Fail(SpanFault::CentralSig);
        CentralHeader h;
        if (!ParseCentralHeader(dir.data() + pos, dir.size() - pos, h))
            Fail(SpanFault::ReadCentral, "central header runs past the directory");
        Record r;
        size_t len = static_cast<size_t>(h.recordSize());
        r.bytes.assign(dir.begin() + static_cast<ptrdiff_t>(pos), dir.begin() + static_cast<ptrdiff_t>(pos + len));
        r.name = h.name;
        r.disk = h.diskStart;
        r.local = h.localOffset;
        r.packed = h.packedSize;
        recs.push_back(std::move(r));
        pos += len;
    }
    // A count that wrapped at 65,535 (writers without ZIP64 records) is taken as it is.
    bool wrapped = expected == 0xFFFF && recs.size() >= 0xFFFF;
    if (recs.size() != expected && !wrapped)
        Fail(SpanFault::ReadCentral, std::to_string(recs.size()) + " central headers, the end record says " +
                                         std::to_string(expected));
    return recs;
}

// Puts disk and offset into a central record: into its ZIP64 field where the fixed field says so.
void PatchCentral(std::vector<uint8_t>& r, uint32_t disk, uint64_t off) {
    uint8_t* p = r.data();
    const size_t n = Le16(p + 28), m = Le16(p + 30);
    bool offSlot = Le32(p + 42) == 0xFFFFFFFF, diskSlot = Le16(p + 34) == 0xFFFF;
    if (offSlot || diskSlot) {
        uint8_t* data = nullptr;
        size_t len = 0;
        for (size_t at = kCentralSize + n, end = kCentralSize + n + m; at + 4 <= end;) {
            size_t flen = Le16(p + at + 2);
            if (at + 4 + flen > end) break;
            if (Le16(p + at) == 1) {
                data = p + at + 4;
                len = flen;
                break;
            }
            at += 4 + flen;
        }
        size_t slot = 0;
        if (Le32(p + 24) == 0xFFFFFFFF) slot += 8;
        if (Le32(p + 20) == 0xFFFFFFFF) slot += 8;
        if (offSlot) {
            if (data && slot + 8 <= len)
                PutLe64(data + slot, off);
            else
                offSlot = false;
            slot += 8;
        }
        if (diskSlot) {
            if (data && slot + 4 <= len)
                PutLe32(data + slot, disk);
            else
                diskSlot = false;
        }
    }
    if (!offSlot) {
        if (off >= 0xFFFFFFFF) Fail(SpanFault::OffsetTooLarge);
        PutLe32(p + 42, static_cast<uint32_t>(off));
    }
    if (!diskSlot) PutLe16(p + 34, static_cast<uint16_t>(disk));
}

// The end records as stored after the central directory: the optional ZIP64 record and its locator, then
// the classic record and the comment.
struct Tail {
    std::vector<uint8_t> z64;  // empty without one
    uint8_t eocd[kEndSize] = {};
    std::string comment;
    size_t size() const { return z64.size() + (z64.empty() ? 0 : 20) + kEndSize + comment.size(); }
};

// Reads the ZIP64 record that the locator before the end record at endPos names (recPos: its offset when
// the locator's disk is this file's). Returns its position, or UINT64_MAX when there is no locator.
uint64_t ReadZip64(const platform::File& f, uint64_t endPos, Tail& t) {
    uint8_t loc[20];
    if (endPos < 20 || f.ReadAt(endPos - 20, loc, 20) != 20 || Le32(loc) != kEnd64LocatorSig) return UINT64_MAX;
    for (uint64_t pos : {Le64(loc + 8), endPos >= 20 + 56 ? endPos - 20 - 56 : UINT64_MAX}) {
        uint8_t rec[56];
        if (pos == UINT64_MAX || pos >= endPos || f.ReadAt(pos, rec, 56) != 56 || Le32(rec) != kEnd64Sig)
            continue;
        uint64_t len = 12 + Le64(rec + 4);
        if (len < 56 || len > kMaxZip64Record || pos + len > endPos - 20) continue;
        t.z64.resize(static_cast<size_t>(len));
        if (f.ReadAt(pos, t.z64.data(), t.z64.size()) != t.z64.size()) Fail(SpanFault::ReadCentral);
        return pos;
    }
    Fail(SpanFault::ReadCentral, "the ZIP64 end record is missing");
}

void ReadComment(const platform::File& f, const EndRecord& e, Tail& t) {
    std::copy(e.raw, e.raw + kEndSize, t.eocd);
    t.comment.resize(e.commentLength);
    if (f.ReadAt(e.pos + kEndSize, t.comment.data(), t.comment.size()) != t.comment.size())
        Fail(SpanFault::ReadComment);
}

// Writes the bytes of the set with units kept whole, opening volumes as they fill.
class Layout {
  public:
    explicit Layout(VolumeSink& sink) : sink_(sink) {}
    // Makes sure the next n bytes go onto one volume; n larger than an empty volume is an error.
    void Whole(uint64_t n) {
        for (;;) {
            if (!open_) Open();
            if (n <= space_) return;
            if (used_ == 0)
                Fail(SpanFault::UnitTooLarge, "a unit of " + std::to_string(n) + " bytes, volumes of " +
                                                  std::to_string(space_));
            Next();
        }
    }
    void Put(const uint8_t* p, size_t n) {
        while (n > 0) {
            sink_.Poll();
            if (!open_) Open();
            if (space_ == 0) {
                if (used_ == 0) Fail(SpanFault::UnitTooLarge, "a volume that holds nothing");
                Next();
                continue;
            }
            size_t k = static_cast<size_t>(std::min<uint64_t>(n, space_));
            if (!sink_.Write(p, k)) Fail(SpanFault::Write);
            p += k;
            n -= k;
            space_ -= k;
            used_ += k;
        }
    }
    void Finish() {
        if (!open_) Open();
        sink_.CloseVolume(disk_, true);
        open_ = false;
    }
    int disk() const { return disk_; }
    uint64_t used() const { return used_; }

  private:
    void Open() {
        if (disk_ > kMaxDisk) Fail(SpanFault::TooManyVolumes);
        space_ = std::min(sink_.OpenVolume(disk_), kVolumeCap);
        used_ = 0;
        open_ = true;
    }
    void Next() {
        sink_.CloseVolume(disk_, false);
        open_ = false;
        ++disk_;
    }
    VolumeSink& sink_;
    int disk_ = 0;
    bool open_ = false;
    uint64_t space_ = 0, used_ = 0;
};

}  // namespace

const char* SpanFaultText(SpanFault f) {
    switch (f) {
        case SpanFault::NotZip:
            return "not a single-file ZIP archive";
        case SpanFault::ReadCentral:
            return "the central directory cannot be read";
        case SpanFault::CentralSig:
            return "a central header signature is wrong";
        case SpanFault::ReadLocal:
            return "a local header cannot be read";
        case SpanFault::LocalSig:
            return "a local header signature is wrong";
        case SpanFault::LocalNotFound:
            return "a central header names no local header";
        case SpanFault::ReadData:
            return "a volume ends early";
        case SpanFault::ReadComment:
            return "the archive comment cannot be read";
        case SpanFault::UnitTooLarge:
            return "a header does not fit on an empty volume";
        case SpanFault::TooManyVolumes:
            return "more than 65535 volumes";
        case SpanFault::OffsetTooLarge:
            return "an offset does not fit its field";
        case SpanFault::Write:
            return "write error";
    }
    return "";
}

int WriteSpanSet(const platform::File& in, VolumeSink& sink) {
    const uint64_t size = in.Size();
    EndRecord e;
    if (!FindEndRecord(in, size, e)) Fail(SpanFault::NotZip, "no end record");
    if (e.thisDisk != 0 || e.cdDisk != 0) Fail(SpanFault::NotZip, "already a multi-disk set");
    Tail tail;
    uint64_t cdEnd = e.pos;
    if (uint64_t z = ReadZip64(in, e.pos, tail); z != UINT64_MAX) cdEnd = z;
    ReadComment(in, e, tail);
    if (e.cdSize > cdEnd) Fail(SpanFault::ReadCentral, "the directory is larger than what precedes it");
    // The directory lies where its size puts it; offsets that do not count bytes in front are moved alike.
    const uint64_t cdStart = cdEnd - e.cdSize;
    const int64_t delta = static_cast<int64_t>(cdStart) - static_cast<int64_t>(e.cdOffset);
    std::vector<uint8_t> dir(static_cast<size_t>(e.cdSize));
    if (in.ReadAt(cdStart, dir.data(), dir.size()) != dir.size()) Fail(SpanFault::ReadCentral);
    std::vector<Record> recs = ParseDirectory(dir, e.entriesTotal);
    dir = {};

    // Local headers by their place in the file; two records naming one place share it.
    std::vector<uint64_t> starts;
    starts.reserve(recs.size());
    for (auto& r : recs) {
        int64_t at = static_cast<int64_t>(r.local) + delta;
        if (r.disk != 0 || at < 0 || static_cast<uint64_t>(at) >= cdStart) Fail(SpanFault::LocalNotFound, r.name);
        r.local = static_cast<uint64_t>(at);
        starts.push_back(r.local);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());

    Layout w(sink);
    uint8_t sig[4];
    PutLe32(sig, kSpanSig);
    w.Whole(sizeof sig);
    w.Put(sig, sizeof sig);
    std::map<uint64_t, std::pair<int, uint64_t>> placed;
    std::vector<uint8_t> buf(kChunk);
    for (size_t k = 0; k < starts.size(); ++k) {
        const uint64_t pos = starts[k], next = k + 1 < starts.size() ? starts[k + 1] : cdStart;
        uint8_t fixed[kLocalSize];
        if (next - pos < kLocalSize || in.ReadAt(pos, fixed, kLocalSize) != kLocalSize)
            Fail(SpanFault::ReadLocal, "at offset " + std::to_string(pos));
        if (Le32(fixed) != kLocalSig) Fail(SpanFault::LocalSig, "at offset " + std::to_string(pos));
        const uint64_t hdr = kLocalSize + Le16(fixed + 26) + Le16(fixed + 28);
        if (hdr > next - pos) Fail(SpanFault::ReadLocal, "at offset " + std::to_string(pos));
        std::vector<uint8_t> head(static_cast<size_t>(hdr));
        if (in.ReadAt(pos, head.data(), head.size()) != head.size()) Fail(SpanFault::ReadLocal);
        sink.Entry(std::string(head.begin() + kLocalSize, head.begin() + kLocalSize + Le16(fixed + 26)), next - pos);
        w.Whole(hdr);
        placed[pos] = {w.disk(), w.used()};
        w.Put(head.data(), head.size());
        for (uint64_t at = pos + hdr; at < next;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, next - at));
            if (in.ReadAt(at, buf.data(), n) != n) Fail(SpanFault::ReadData);
            w.Put(buf.data(), n);
            at += n;
        }
    }

    sink.Entry({}, e.cdSize + tail.size());
    int cdDisk = 0;
    uint64_t cdOff = 0;
    for (size_t i = 0; i < recs.size(); ++i) {
        Record& r = recs[i];
        auto [disk, off] = placed.at(r.local);
        PatchCentral(r.bytes, static_cast<uint32_t>(disk), off);
        w.Whole(r.bytes.size());
        if (i == 0) {
            cdDisk = w.disk();
            cdOff = w.used();
        }
        r.writtenDisk = w.disk();
        w.Put(r.bytes.data(), r.bytes.size());
    }
    w.Whole(tail.size());
    if (recs.empty()) {
        cdDisk = w.disk();
        cdOff = w.used();
    }
    const int last = w.disk();
    const uint64_t onLast = static_cast<uint64_t>(
        std::count_if(recs.begin(), recs.end(), [&](const Record& r) { return r.writtenDisk == last; }));
    std::vector<uint8_t> out;
    out.reserve(tail.size());
    if (!tail.z64.empty()) {
        std::vector<uint8_t> z = tail.z64;
        PutLe32(z.data() + 16, static_cast<uint32_t>(last));
        PutLe32(z.data() + 20, static_cast<uint32_t>(cdDisk));
        PutLe64(z.data() + 24, onLast);
        PutLe64(z.data() + 48, cdOff);
        const uint64_t zOff = w.used();
        out.insert(out.end(), z.begin(), z.end());
        uint8_t loc[20];
        PutLe32(loc, kEnd64LocatorSig);
        PutLe32(loc + 4, static_cast<uint32_t>(last));
        PutLe64(loc + 8, zOff);
        PutLe32(loc + 16, static_cast<uint32_t>(last + 1));
        out.insert(out.end(), loc, loc + 20);
    }
    uint8_t* eo = tail.eocd;
    if (Le16(eo + 4) != 0xFFFF) PutLe16(eo + 4, static_cast<uint16_t>(last));
    if (Le16(eo + 6) != 0xFFFF) PutLe16(eo + 6, static_cast<uint16_t>(cdDisk));
    if (Le16(eo + 8) != 0xFFFF) PutLe16(eo + 8, static_cast<uint16_t>(std::min<uint64_t>(onLast, 0xFFFE)));
    if (Le32(eo + 16) != 0xFFFFFFFF) PutLe32(eo + 16, static_cast<uint32_t>(cdOff));
    out.insert(out.end(), eo, eo + kEndSize);
    out.insert(out.end(), tail.comment.begin(), tail.comment.end());
    w.Put(out.data(), out.size());
    w.Finish();
    return last + 1;
}

void JoinSpanSet(VolumeSource& src, platform::File& out) {
    Tail tail;
    EndRecord e;
    {
        platform::File& f = src.OpenLast();
        if (!FindEndRecord(f, f.Size(), e)) Fail(SpanFault::NotZip, "no end record on the last volume");
        ReadZip64(f, e.pos, tail);
        ReadComment(f, e, tail);
    }
    const int lastDisk = e.thisDisk;
    const int cdDisk = e.cdDisk;
    if (cdDisk > lastDisk) Fail(SpanFault::ReadCentral, "the directory starts after the last volume");

    // The central directory, running on across volumes when it must.
    std::vector<uint8_t> dir;
    uint64_t off = e.cdOffset;
    for (int d = cdDisk; dir.size() < e.cdSize; ++d, off = 0) {
        if (d > lastDisk) Fail(SpanFault::ReadCentral);
        src.Poll();
        platform::File& f = src.Open(d, lastDisk);
        const uint64_t fs = f.Size();
        if (off > fs) Fail(SpanFault::ReadCentral);
        size_t want = static_cast<size_t>(std::min<uint64_t>(e.cdSize - dir.size(), fs - off));
        size_t old = dir.size();
        dir.resize(old + want);
        if (f.ReadAt(off, dir.data() + old, want) != want) Fail(SpanFault::ReadCentral);
    }
    std::vector<Record> recs = ParseDirectory(dir, e.entriesTotal);
    dir = {};

    using Key = std::pair<uint64_t, uint64_t>;  // disk, offset
    const Key cdKey{static_cast<uint64_t>(cdDisk), e.cdOffset};
    std::vector<Key> keys;
    std::map<Key, const Record*> first;
    for (const auto& r : recs) {
        Key k{r.disk, r.local};
        if (!(k < cdKey)) Fail(SpanFault::LocalNotFound, r.name);
        keys.push_back(k);
        first.emplace(k, &r);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

    // Every byte from the first volume's signature up to the directory is copied; the local headers are met
    // on the way, in the order of their places.
    std::map<Key, uint64_t> newOffset;
    uint64_t outPos = 0;
    int d = 0;
    platform::File* f = &src.Open(0, lastDisk);
    uint64_t fsz = f->Size(), o = 0;
    uint8_t head[4];
    if (f->ReadAt(0, head, 4) == 4 && (Le32(head) == kSpanSig || Le32(head) == kTempSpanSig)) o = 4;
    std::vector<uint8_t> buf(kChunk);
    uint8_t sig[4];
    size_t sigHave = 4;  // bytes of the current local header's signature seen (4: none pending)
    for (size_t mark = 0;;) {
        src.Poll();
        const Key target = mark < keys.size() ? keys[mark] : cdKey;
        const bool isEntry = mark < keys.size();
        if (static_cast<uint64_t>(d) == target.first && o == target.second) {
            if (sigHave < 4) Fail(SpanFault::LocalSig);
            if (!isEntry) break;
            newOffset[target] = outPos;
            const Record* r = first.at(target);
            src.Entry(r->name, r->packed);
            sigHave = 0;
            ++mark;
            continue;
        }
        uint64_t limit = fsz;
        if (static_cast<uint64_t>(d) == target.first) {
            if (target.second < o || target.second > fsz)
                Fail(isEntry ? SpanFault::LocalNotFound : SpanFault::ReadCentral,
                     isEntry ? first.at(target)->name : std::string());
            limit = target.second;
        }
        if (o == limit) {
            if (++d > lastDisk) Fail(SpanFault::ReadData);
            f = &src.Open(d, lastDisk);
            fsz = f->Size();
            o = 0;
            continue;
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, limit - o));
        if (f->ReadAt(o, buf.data(), n) != n) Fail(SpanFault::ReadData);
        for (size_t i = 0; sigHave < 4 && i < n; ++i) {
            sig[sigHave++] = buf[i];
            if (sigHave == 4 && Le32(sig) != kLocalSig) Fail(SpanFault::LocalSig);
        }
        if (!out.Write(buf.data(), n)) Fail(SpanFault::Write);
        o += n;
        outPos += n;
    }

    const uint64_t cdNew = outPos;
    for (auto& r : recs) {
        PatchCentral(r.bytes, 0, newOffset.at(Key{r.disk, r.local}));
        if (!out.Write(r.bytes.data(), r.bytes.size())) Fail(SpanFault::Write);
        outPos += r.bytes.size();
    }
    if (!tail.z64.empty()) {
        std::vector<uint8_t> z = tail.z64;
        PutLe32(z.data() + 16, 0);
        PutLe32(z.data() + 20, 0);
        PutLe64(z.data() + 24, Le64(z.data() + 32));
        PutLe64(z.data() + 48, cdNew);
        uint8_t loc[20];
        PutLe32(loc, kEnd64LocatorSig);
        PutLe32(loc + 4, 0);
        PutLe64(loc + 8, outPos);
        PutLe32(loc + 16, 1);
        if (!out.Write(z.data(), z.size()) || !out.Write(loc, sizeof loc)) Fail(SpanFault::Write);
    }
    uint8_t* eo = tail.eocd;
    if (Le16(eo + 4) != 0xFFFF) PutLe16(eo + 4, 0);
    if (Le16(eo + 6) != 0xFFFF) PutLe16(eo + 6, 0);
    if (Le16(eo + 8) != 0xFFFF) PutLe16(eo + 8, Le16(eo + 10));
    if (Le32(eo + 16) != 0xFFFFFFFF) {
        if (cdNew >= 0xFFFFFFFF) Fail(SpanFault::OffsetTooLarge);
        PutLe32(eo + 16, static_cast<uint32_t>(cdNew));
    }
    if (!out.Write(eo, kEndSize) || !out.Write(tail.comment.data(), tail.comment.size())) Fail(SpanFault::Write);
}

}  // namespace varnok::zip
