#include "archive/tools/zipfix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <unordered_map>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/core/utils.h"
#include "archive/core/zip_records.h"
#include "archive/formats/zip/zip_method.h"
#include "platform/file.h"
#include "platform/tempfile.h"

namespace varnok {

namespace {

constexpr uint64_t kNotFound = UINT64_MAX;
constexpr uint64_t kUnknown = UINT64_MAX;
constexpr uint32_t kDescriptorSig = zip::kSpanSig;
// Descriptors indexed for entries whose sizes follow their data; beyond this many (only a file built to be
// hostile holds that many signatures) the rest are not indexed.
constexpr size_t kMaxDescriptorCandidates = size_t{1} << 20;
constexpr size_t kChunk = size_t{1} << 20;

// The whole input, mapped read-only: the kernel reads pages as the scan reaches them and may drop them again,
// so a file of any size is repaired in bounded memory.
class Mapping {
  public:
    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() {
        if (data_) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
    }
    bool Map(int fd, uint64_t size) {
        size_ = size;
        if (size == 0) return true;
        if (size > SIZE_MAX) return false;
        void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) return false;
        data_ = static_cast<const uint8_t*>(p);
        return true;
    }
    const uint8_t* Data() const { return data_; }
    uint64_t Size() const { return size_; }

  private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

// Right-to-left search for one 4-byte signature.
class SignatureSearch {
  public:
    explicit SignatureSearch(uint32_t sig) : sig_(sig), skip_(TZipFix::SkipTable(sig)) {}
    // The first signature starting at or after from; kNotFound when none.
    uint64_t Find(const uint8_t* buf, uint64_t size, uint64_t from) const {
        if (size < 4 || from > size - 4) return kNotFound;
        uint64_t p = from + 3;  // where the signature's last byte would be
        while (p < size) {
            const uint8_t s = skip_[buf[p]];
            if (s) {
                p += s;
                continue;
            }
            if (Le32(buf + p - 3) == sig_) return p - 3;
            p += 4;
        }
        return kNotFound;
    }

  private:
    uint32_t sig_;
    std::array<uint8_t, 256> skip_;
};

// Computes the CRC-32 of what a decoder writes; more than limit bytes stop the decoder.
class CrcSink final : public ByteSink {
  public:
    struct TooLong {};
    explicit CrcSink(uint64_t limit) : limit_(limit) {}
    void Write(const uint8_t* buf, size_t n) override {
        if (n > limit_ - size_) throw TooLong{};
        crc_ = UpdateCrc32(crc_, buf, n);
        size_ += n;
    }
    uint32_t Crc() const { return ~crc_; }
    uint64_t Size() const { return size_; }

  private:
    uint64_t limit_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t size_ = 0;
};

struct Decoded {
    bool ok = false;
    bool cancelled = false;
    bool truncated = false;
    uint32_t crc = 0;
    uint64_t produced = 0, consumed = 0;
};

// A data descriptor that may end an entry with flag bit 3: where it lies and what it says.
struct DescriptorCandidate {
    uint64_t data;  // the data start its compressed size points back to
    uint64_t pos;
    uint32_t length;  // 12, 16, 20, 24
    uint32_t crc;
    uint64_t packed, unpacked;
};

bool IsRecordSig(uint32_t sig) {
    return sig == zip::kLocalSig || sig == zip::kCentralSig || sig == zip::kEndSig || sig == zip::kEnd64Sig;
}

// The central extra fields worth keeping: all but the ZIP64 field (its offsets belong to the old file).
std::vector<uint8_t> KeptExtra(const std::vector<uint8_t>& extra) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 4 <= extra.size();) {
        const uint16_t id = Le16(&extra[i]), len = Le16(&extra[i + 2]);
        if (i + 4 + len > extra.size()) break;
        if (id != 0x0001)
            out.insert(out.end(), extra.begin() + static_cast<ptrdiff_t>(i),
                       extra.begin() + static_cast<ptrdiff_t>(i + 4 + len));
        i += 4 + len;
    }
    return out;
}

}  // namespace

bool IsKept(TFixVerdict v) {
    return v == fvVerified || v == fvEncrypted || v == fvUnchecked;
}

const char* VerdictText(TFixVerdict v) {
    switch (v) {
        case fvVerified:
            return "verified";
        case fvEncrypted:
            return "encrypted, sizes fit, data not verified";
        case fvUnchecked:
            return "method not decoded here, sizes fit, data not verified";
        case fvBadName:
            return "empty name or control character in the name";
        case fvCutOff:
            return "cut off by the end of the file";
        case fvDamaged:
            return "data damaged (CRC or size does not match)";
        case fvNoDescriptor:
            return "no data descriptor fits";
        case fvBadSizes:
            return "sizes do not fit the entry";
    }
    return "";
}

std::array<uint8_t, 256> TZipFix::SkipTable(uint32_t signature) {
    std::array<uint8_t, 256> t;
    t.fill(4);
    for (int i = 0; i < 3; ++i)
        t[(signature >> (8 * i)) & 0xFF] = static_cast<uint8_t>(3 - i);
    t[signature >> 24] = 0;
    return t;
}

std::string TZipFix::FixedName(const std::string& input) {
    std::string name = input;
    const std::string ext = ExtractFileExt(ExtractFileName(input));
    if (!ext.empty() && ext.size() < ExtractFileName(input).size()) name.resize(name.size() - ext.size());
    return name + "_fixed.zip";
}

int TZipFix::Unchecked() const {
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                          [](const TFileInfo& e) { return e.Verdict != fvVerified; }));
}

// ------------------------------------------------------------------------------------------------ the scan

struct TZipFix::Scan {
    TZipFix& owner;
    const platform::File& file;
    const uint8_t* buf;
    uint64_t size;
    SignatureSearch local{zip::kLocalSig};
    ZipMethodDecoder decoder;
    bool indexed = false;
    std::vector<DescriptorCandidate> descriptors;  // sorted by (data, pos)
    int lastPercent = -1;

    Scan(TZipFix& o, const platform::File& f, const uint8_t* b, uint64_t s)
        : owner(o), file(f), buf(b), size(s) {}

    bool Cancelled() const { return owner.Cancel(); }

    void Progress(uint64_t at) {
        const int percent = size ? static_cast<int>(std::min<uint64_t>(at, size) * 100 / size) : 100;
        if (percent != lastPercent) {
            lastPercent = percent;
            if (owner.OnProgress) owner.OnProgress(owner, percent, percent);
        }
        if (owner.ProcessMessages) owner.ProcessMessages();
    }

    // Decodes the data at pos (at most avail bytes) with the entry's method.
    Decoded Check(uint16_t method, uint16_t flags, uint64_t pos, uint64_t avail, uint64_t unpacked) {
        Decoded d;
        if (method == zmStored) {
            // Stored data are their own output: the CRC of the bytes as they lie.
            if (unpacked != kUnknown && unpacked != avail) return d;
            uint32_t crc = 0xFFFFFFFFu;
            for (uint64_t at = 0; at < avail; at += kChunk) {
                if (Cancelled()) {
                    d.cancelled = true;
                    return d;
                }
                crc = UpdateCrc32(crc, buf + pos + at,
                                  static_cast<size_t>(std::min<uint64_t>(kChunk, avail - at)));
            }
            d.ok = true;
            d.crc = ~crc;
            d.produced = d.consumed = avail;
            return d;
        }
        MemorySource src(buf + pos, static_cast<size_t>(avail));
        CrcSink sink(unpacked);
        try {
            const DecodeResult r = decoder.Decode(method, flags, unpacked, src, sink, owner.CancelPtr());
            d.ok = r.Ok();
            d.cancelled = r.status == DecodeStatus::Cancelled;
            d.truncated = r.status == DecodeStatus::Truncated;
            d.consumed = r.consumed;
        } catch (const CrcSink::TooLong&) {
            d.ok = false;
        } catch (const ArchiveError&) {
            d.ok = false;
        }
        d.crc = sink.Crc();
        d.produced = sink.Size();
        if (d.consumed > avail) d.ok = false;
        return d;
    }

    // One pass over the file that indexes every descriptor an entry with bit 3 could end with: those with
    // their signature, and those without, anchored by the record that follows them (or the end of the file).
    void IndexDescriptors() {
        indexed = true;
        auto add = [this](const DescriptorCandidate& c) {
            if (descriptors.size() < kMaxDescriptorCandidates) descriptors.push_back(c);
        };
        SignatureSearch sigSearch(kDescriptorSig);
        for (uint64_t q = sigSearch.Find(buf, size, 0); q != kNotFound;
             q = sigSearch.Find(buf, size, q + 1)) {
            if (q + 16 <= size && Le32(buf + q + 8) <= q)
                add({q - Le32(buf + q + 8), q, 16, Le32(buf + q + 4), Le32(buf + q + 8), Le32(buf + q + 12)});
            if (q + 24 <= size && Le64(buf + q + 8) <= q)
                add({q - Le64(buf + q + 8), q, 24, Le32(buf + q + 4), Le64(buf + q + 8), Le64(buf + q + 16)});
        }
        auto anchored = [&](uint64_t s) {
            if (s >= 12 && Le32(buf + s - 8) <= s - 12) {
                const uint64_t q = s - 12;
                add({q - Le32(buf + q + 4), q, 12, Le32(buf + q), Le32(buf + q + 4), Le32(buf + q + 8)});
            }
            if (s >= 20 && Le64(buf + s - 16) <= s - 20) {
                const uint64_t q = s - 20;
                add({q - Le64(buf + q + 4), q, 20, Le32(buf + q), Le64(buf + q + 4), Le64(buf + q + 12)});
            }
        };
        for (uint32_t sig : {zip::kLocalSig, zip::kCentralSig, zip::kEndSig, zip::kEnd64Sig}) {
            SignatureSearch anchor(sig);
            for (uint64_t s = anchor.Find(buf, size, 0); s != kNotFound; s = anchor.Find(buf, size, s + 1))
                anchored(s);
        }
        anchored(size);
        std::sort(descriptors.begin(), descriptors.end(), [](const auto& a, const auto& b) {
            return a.data != b.data ? a.data < b.data : a.pos < b.pos;
        });
    }

    // Whether the bytes at end start a record (or the file ends there): what follows a true descriptor.
    bool RecordAt(uint64_t end) const {
        return end == size || (end + 4 <= size && IsRecordSig(Le32(buf + end)));
    }

    // The descriptor at q that says crc and the sizes; its length, or 0.
    uint32_t DescriptorAt(uint64_t q, uint32_t crc, uint64_t packed, uint64_t unpacked) const {
        uint32_t fits[4];
        int n = 0;
        if (q + 16 <= size && Le32(buf + q) == kDescriptorSig && Le32(buf + q + 4) == crc &&
            Le32(buf + q + 8) == packed && Le32(buf + q + 12) == unpacked)
            fits[n++] = 16;
        if (q + 24 <= size && Le32(buf + q) == kDescriptorSig && Le32(buf + q + 4) == crc &&
            Le64(buf + q + 8) == packed && Le64(buf + q + 16) == unpacked)
            fits[n++] = 24;
        if (q + 12 <= size && Le32(buf + q) == crc && Le32(buf + q + 4) == packed &&
            Le32(buf + q + 8) == unpacked)
            fits[n++] = 12;
        if (q + 20 <= size && Le32(buf + q) == crc && Le64(buf + q + 4) == packed &&
            Le64(buf + q + 12) == unpacked)
            fits[n++] = 20;
        // Several forms can read alike (sizes of zero); the one followed by a record is the one written.
        for (int i = 0; i < n; ++i)
            if (RecordAt(q + fits[i])) return fits[i];
        return n ? fits[0] : 0;
    }

    static bool EncryptedSizesFit(uint16_t method, uint64_t packed, uint64_t unpacked) {
        if (method == 99) return packed >= 20;  // AES: salt, password check and authentication code
        if (packed < 12) return false;          // the traditional cipher's header
        return method != zmStored || unpacked == kUnknown || packed == unpacked + 12;
    }

    // Decides one local header at h.
    TFileInfo Evaluate(uint64_t h, bool& cancelled) {
        TFileInfo fi;
        fi.LocalHeaderOffset = h;
        zip::LocalHeader lh;
        if (!zip::ReadLocalHeader(file, h, lh)) {
            fi.Verdict = fvCutOff;
            return fi;
        }
        fi.VersionNeeded = lh.versionNeeded;
        fi.Flags = lh.flags;
        fi.Method = lh.method;
        fi.Time = static_cast<uint16_t>(lh.dosTime & 0xFFFF);
        fi.Date = static_cast<uint16_t>(lh.dosTime >> 16);
        fi.Crc32 = lh.crc;
        fi.CompressedSize = lh.packedSize;
        fi.UncompressedSize = lh.unpackedSize;
        fi.NameLength = lh.nameLength;
        fi.ExtraLength = lh.extraLength;
        fi.DataOffset = h + lh.headerSize();
        if (lh.name.empty() || std::any_of(lh.name.begin(), lh.name.end(),
                                           [](char c) { return static_cast<unsigned char>(c) < 32; })) {
            fi.Verdict = fvBadName;
            return fi;
        }
        fi.Name = lh.name;
        if (fi.Name.back() == '/') fi.ExternalAttributes = 0x10;  // a folder, as MS-DOS marks it

        const uint64_t d = fi.DataOffset;
        const uint64_t avail = size - d;
        const bool encrypted = (lh.flags & 0x0041) || lh.method == 99;
        const bool decodable = !encrypted && IsZipMethodSupported(lh.method);

        // Sizes before the data: they bound it.
        auto withSizes = [&](uint64_t packed, uint64_t unpacked, uint32_t crc) -> TFixVerdict {
            if (packed > avail) return fvCutOff;
            if (encrypted) return EncryptedSizesFit(lh.method, packed, unpacked) ? fvEncrypted : fvBadSizes;
            if (!decodable) return fvUnchecked;
            const Decoded r = Check(lh.method, lh.flags, d, packed, unpacked);
            if (r.cancelled) cancelled = true;
            return r.ok && r.crc == crc && r.produced == unpacked ? fvVerified : fvDamaged;
        };

        if (!lh.hasDescriptor()) {
            fi.Verdict = withSizes(lh.packedSize, lh.unpackedSize, lh.crc);
            return fi;
        }

        auto take = [&](uint32_t crc, uint64_t packed, uint64_t unpacked, uint32_t descriptor,
                        TFixVerdict v) {
            fi.Crc32 = crc;
            fi.CompressedSize = packed;
            fi.UncompressedSize = unpacked;
            fi.DescriptorSize = descriptor;
            fi.Verdict = v;
        };

        if (decodable && (lh.method == zmDeflated || lh.method == zmDeflate64)) {
            // The stream ends by itself; the descriptor must follow right there and say what was decoded.
            const Decoded r = Check(lh.method, lh.flags, d, avail, kUnknown);
            if (r.cancelled) {
                cancelled = true;
                fi.Verdict = fvDamaged;
                return fi;
            }
            if (!r.ok) {
                fi.Verdict = r.truncated ? fvCutOff : fvDamaged;
                return fi;
            }
            if (uint32_t len = DescriptorAt(d + r.consumed, r.crc, r.consumed, r.produced))
                take(r.crc, r.consumed, r.produced, len, fvVerified);
            else if (lh.crc == r.crc && lh.packedSize == r.consumed && lh.unpackedSize == r.produced)
                take(r.crc, r.consumed, r.produced, 0, fvVerified);
            else
                fi.Verdict = fvNoDescriptor;
            return fi;
        }

        // Any other method: the descriptors whose compressed size points back to this data start, nearest
        // first.
        if (!indexed) IndexDescriptors();
        auto it = std::lower_bound(descriptors.begin(), descriptors.end(), d,
                                   [](const DescriptorCandidate& c, uint64_t v) { return c.data < v; });
        bool sawDamage = false;
        for (; it != descriptors.end() && it->data == d; ++it) {
            const TFixVerdict v = withSizes(it->packed, it->unpacked, it->crc);
            if (cancelled) break;
            if (IsKept(v)) {
                take(it->crc, it->packed, it->unpacked, it->length, v);
                return fi;
            }
            sawDamage = sawDamage || v == fvDamaged;
        }
        // Some writers set bit 3 and still give the sizes before the data.
        if (!cancelled && (lh.packedSize || lh.unpackedSize) && decodable &&
            withSizes(lh.packedSize, lh.unpackedSize, lh.crc) == fvVerified) {
            take(lh.crc, lh.packedSize, lh.unpackedSize, 0, fvVerified);
            return fi;
        }
        fi.Verdict = sawDamage ? fvDamaged : fvNoDescriptor;
        return fi;
    }
};

// ------------------------------------------------------------------------------------------------ the run

bool TZipFix::Run(const platform::File& in, const std::string& inName,
                  const std::function<void(const void*, size_t)>& write) {
    entries_.clear();
    dropped_ = 0;
    const uint64_t size = in.Size();
    Mapping map;
    if (!map.Map(in.Fd(), size)) RaiseError(inName, platform::LastErrorText(), E_ReadFile);
    const uint8_t* buf = map.Data();
    Scan scan(*this, in, buf, size);

    // 1. The local headers, in file order.
    uint64_t from = 0;
    while (true) {
        if (Cancel()) return false;
        const uint64_t h = scan.local.Find(buf, size, from);
        if (h == kNotFound) break;
        bool cancelled = false;
        TFileInfo fi = scan.Evaluate(h, cancelled);
        if (cancelled || Cancel()) return false;
        const bool kept = IsKept(fi.Verdict);
        if (kept) {
            from = h + fi.RecordSize();
        } else {
            from = h + 4;
            if (!fi.Name.empty()) ++dropped_;
        }
        if (OnFileFound) OnFileFound(*this, fi.Name, kept);
        if (OnFileChecked) OnFileChecked(*this, fi);
        if (kept) entries_.push_back(std::move(fi));
        scan.Progress(from);
    }
    if (entries_.empty()) return true;  // the output stays empty

    // 2. What surviving central records add, for the entries they name by local-header offset.
    std::unordered_map<uint64_t, size_t> byOffset;
    uint64_t lastEnd = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        byOffset.emplace(entries_[i].LocalHeaderOffset, i);
        lastEnd = std::max(lastEnd, entries_[i].LocalHeaderOffset + entries_[i].RecordSize());
    }
    std::vector<int64_t> deltas{0};
    zip::EndRecord end;
    if (zip::FindEndRecord(in, size, end)) {
        // Bytes in front of the archive that its offsets do not count (a self-extractor).
        for (uint64_t cdEnd : {end.pos, end.pos >= 76 ? end.pos - 76 : end.pos})
            if (cdEnd >= end.cdSize)
                deltas.push_back(static_cast<int64_t>(cdEnd - end.cdSize) -
                                 static_cast<int64_t>(end.cdOffset));
    }
    std::vector<bool> matched(entries_.size(), false);
    SignatureSearch central(zip::kCentralSig);
    for (uint64_t q = central.Find(buf, size, lastEnd); q != kNotFound;) {
        if (Cancel()) return false;
        zip::CentralHeader ch;
        if (!zip::ParseCentralHeader(buf + q, static_cast<size_t>(std::min<uint64_t>(size - q, SIZE_MAX)),
                                     ch)) {
            q = central.Find(buf, size, q + 1);
            continue;
        }
        for (int64_t delta : deltas) {
            auto found = byOffset.find(ch.localOffset + static_cast<uint64_t>(delta));
            if (found == byOffset.end() || matched[found->second]) continue;
            TFileInfo& e = entries_[found->second];
            if (ch.crc != e.Crc32 || ch.packedSize != e.CompressedSize || ch.method != e.Method) continue;
            matched[found->second] = true;
            e.VersionMadeBy = ch.versionMadeBy;
            e.InternalAttributes = ch.internalAttr;
            e.ExternalAttributes = ch.externalAttr;
            e.Comment = ch.comment;
            e.Flags |= ch.flags & 0x0800;
            e.Extra = KeptExtra(ch.extra);
            e.FromCentral = true;
            break;
        }
        q = central.Find(buf, size, q + ch.recordSize());
    }

    // 3. The new file: the local records as they are, a fresh central directory, the end records.
    uint64_t pos = 0;
    std::vector<uint64_t> newOffsets;
    newOffsets.reserve(entries_.size());
    for (const TFileInfo& e : entries_) {
        newOffsets.push_back(pos);
        const uint64_t n = e.RecordSize();
        for (uint64_t at = 0; at < n; at += kChunk) {
            if (Cancel()) return false;
            write(buf + e.LocalHeaderOffset + at, static_cast<size_t>(std::min<uint64_t>(kChunk, n - at)));
        }
        pos += n;
        scan.Progress(e.LocalHeaderOffset + n);
    }
    const uint64_t cdStart = pos;
    std::vector<uint8_t> cd;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const TFileInfo& e = entries_[i];
        const bool bigUnpacked = e.UncompressedSize >= 0xFFFFFFFFu;
        const bool bigPacked = e.CompressedSize >= 0xFFFFFFFFu;
        const bool bigOffset = newOffsets[i] >= 0xFFFFFFFFu;
        std::vector<uint8_t> extra;
        if (bigUnpacked || bigPacked || bigOffset) {
            AppendLe16(extra, 0x0001);
            AppendLe16(extra, static_cast<uint16_t>(8 * (bigUnpacked + bigPacked + bigOffset)));
            if (bigUnpacked) AppendLe64(extra, e.UncompressedSize);
            if (bigPacked) AppendLe64(extra, e.CompressedSize);
            if (bigOffset) AppendLe64(extra, newOffsets[i]);
        }
        if (extra.size() + e.Extra.size() <= 0xFFFF)
            extra.insert(extra.end(), e.Extra.begin(), e.Extra.end());
        const std::string comment = e.Comment.substr(0, 0xFFFF);
        const bool zip64 = bigUnpacked || bigPacked || bigOffset;
        AppendLe32(cd, zip::kCentralSig);
        AppendLe16(cd, e.VersionMadeBy);
        AppendLe16(cd, zip64 ? std::max<uint16_t>(e.VersionNeeded, 45) : e.VersionNeeded);
        AppendLe16(cd, e.Flags);
        AppendLe16(cd, e.Method);
        AppendLe16(cd, e.Time);
        AppendLe16(cd, e.Date);
        AppendLe32(cd, e.Crc32);
        AppendLe32(cd, bigPacked ? 0xFFFFFFFFu : static_cast<uint32_t>(e.CompressedSize));
        AppendLe32(cd, bigUnpacked ? 0xFFFFFFFFu : static_cast<uint32_t>(e.UncompressedSize));
        AppendLe16(cd, static_cast<uint16_t>(e.Name.size()));
        AppendLe16(cd, static_cast<uint16_t>(extra.size()));
        AppendLe16(cd, static_cast<uint16_t>(comment.size()));
        AppendLe16(cd, 0);  // disk number start
        AppendLe16(cd, e.InternalAttributes);
        AppendLe32(cd, e.ExternalAttributes);
        AppendLe32(cd, bigOffset ? 0xFFFFFFFFu : static_cast<uint32_t>(newOffsets[i]));
        AppendBytes(cd, e.Name);
        cd.insert(cd.end(), extra.begin(), extra.end());
        AppendBytes(cd, comment);
        if (cd.size() >= kChunk) {
            write(cd.data(), cd.size());
            pos += cd.size();
            cd.clear();
        }
    }
    write(cd.data(), cd.size());
    pos += cd.size();
    const uint64_t cdSize = pos - cdStart;
    const uint64_t count = entries_.size();
    std::vector<uint8_t> tail;
    const bool zip64End = count >= 0xFFFF || cdSize >= 0xFFFFFFFFu || cdStart >= 0xFFFFFFFFu;
    if (zip64End) {
        AppendLe32(tail, zip::kEnd64Sig);
        AppendLe64(tail, 44);  // the record's size after this field
        AppendLe16(tail, 45);
        AppendLe16(tail, 45);
        AppendLe32(tail, 0);
        AppendLe32(tail, 0);
        AppendLe64(tail, count);
        AppendLe64(tail, count);
        AppendLe64(tail, cdSize);
        AppendLe64(tail, cdStart);
        AppendLe32(tail, zip::kEnd64LocatorSig);
        AppendLe32(tail, 0);
        AppendLe64(tail, pos);  // where the ZIP64 end record starts
        AppendLe32(tail, 1);
    }
    AppendLe32(tail, zip::kEndSig);
    AppendLe16(tail, 0);
    AppendLe16(tail, 0);
    AppendLe16(tail, static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF)));
    AppendLe16(tail, static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF)));
    AppendLe32(tail, static_cast<uint32_t>(std::min<uint64_t>(cdSize, 0xFFFFFFFFu)));
    AppendLe32(tail, static_cast<uint32_t>(std::min<uint64_t>(cdStart, 0xFFFFFFFFu)));
    AppendLe16(tail, 0);
    write(tail.data(), tail.size());
    scan.Progress(size);
    return true;
}

bool TZipFix::Repair(const std::string& input, const std::string& output) {
    SetCancel(false);
    platform::File in;
    if (!in.Open(input, platform::File::Mode::Read)) RaiseError(input, platform::LastErrorText(), E_OpenFile);
    struct stat si {
    }, so{};
    if (fstat(in.Fd(), &si) != 0 || !S_ISREG(si.st_mode)) RaiseError(input, "not a regular file", E_OpenFile);
    if (stat(output.c_str(), &so) == 0 && so.st_dev == si.st_dev && so.st_ino == si.st_ino)
        RaiseError(output, "", E_SameInOut);

    std::string dir = ExtractFilePath(output);
    if (dir.empty()) dir = "./";
    platform::File out;
    const std::string temp = platform::CreateTempFile(dir, "." + ExtractFileName(output) + ".", ".tmp", &out);
    if (temp.empty()) RaiseError(output, platform::LastErrorText(), E_WriteFile);
    bool done = false;
    try {
        done = Run(in, input, [&](const void* p, size_t n) {
            if (n && !out.Write(p, n)) throw ArchiveError(E_WriteFile, output, platform::LastErrorText());
        });
        if (done) {
            const mode_t mask = umask(0);
            umask(mask);
            if (fchmod(out.Fd(), 0666 & ~mask) != 0 || !out.Close())
                throw ArchiveError(E_WriteFile, output, platform::LastErrorText());
            if (rename(temp.c_str(), output.c_str()) != 0)
                throw ArchiveError(E_WriteFile, output, platform::LastErrorText());
        }
    } catch (const ArchiveError& e) {
        out.Close();
        unlink(temp.c_str());
        if (e.Code() == E_WriteFile && e.FileName() == output) RaiseError(output, e.Detail(), E_WriteFile);
        throw;
    }
    if (!done) {
        out.Close();
        unlink(temp.c_str());
    }
    return done;
}

bool TZipFix::Repair(std::istream* input, std::ostream* output) {
    if (!input || !output) throw std::invalid_argument("No input or no output stream has been defined");
    SetCancel(false);
    // The stream's bytes go into an anonymous memory file so that the scan maps them like any file.
    const int fd = memfd_create("varnok-zipfix", MFD_CLOEXEC);
    if (fd < 0) RaiseError("input stream", platform::LastErrorText(), E_ReadFile);
    platform::File mem;
    mem.Adopt(fd, "input stream");
    std::vector<char> chunk(kChunk);
    while (*input) {
        input->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<size_t>(input->gcount());
        if (got && !mem.Write(chunk.data(), got))
            RaiseError("input stream", platform::LastErrorText(), E_ReadFile);
        if (!got) break;
    }
    return Run(mem, "input stream", [&](const void* p, size_t n) {
        output->write(static_cast<const char*>(p), static_cast<std::streamsize>(n));
        if (!*output) throw ArchiveError(E_WriteFile, "output stream");
    });
}

}  // namespace varnok
