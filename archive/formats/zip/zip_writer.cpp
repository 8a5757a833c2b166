#include "archive/formats/zip/zip_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "archive/core/zipcrypt.h"
#include "archive/formats/zip/zip_directory.h"
#include "platform/charset.h"

namespace varnok {

namespace {

constexpr size_t kBlock = 64 * 1024;
constexpr uint32_t k32 = 0xFFFFFFFFu;
constexpr uint16_t kExtZip64 = 0x0001, kExtTime = 0x5455, kExtUnicodePath = 0x7075;
constexpr uint16_t kFlagEncrypted = 0x0001, kFlagDescriptor = 0x0008, kFlagUtf8 = 0x0800;
constexpr uint16_t kHostUnix = 3;

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8(const std::string& s) {
    size_t pos = 0;
    while (pos < s.size())
        if (platform::NextUtf8(s, pos) == platform::kBadUtf8) return false;
    return true;
}

// The extra field without the fields of one id (a ZIP64 field is added again when the new record needs one; a
// Unicode path field goes with the name it spelt). A damaged tail is dropped rather than carried on.
std::vector<uint8_t> WithoutField(const std::vector<uint8_t>& extra, uint16_t drop) {
    std::vector<uint8_t> out;
    size_t p = 0;
    while (p + 4 <= extra.size()) {
        const uint16_t id = Le16(&extra[p]);
        const size_t len = Le16(&extra[p + 2]);
        if (p + 4 + len > extra.size()) break;
        if (id != drop) out.insert(out.end(), extra.begin() + p, extra.begin() + p + 4 + len);
        p += 4 + len;
    }
    return out;
}

// The extended timestamp field: the modification time in UTC seconds.
std::vector<uint8_t> TimeField(int64_t mtime) {
    std::vector<uint8_t> f;
    AppendLe16(f, kExtTime);
    AppendLe16(f, 5);
    f.push_back(1);
    AppendLe32(f, static_cast<uint32_t>(std::clamp<int64_t>(mtime, 0, INT32_MAX)));
    return f;
}

}  // namespace

namespace zip {

std::vector<uint8_t> CentralRecordBytes(const CentralHeader& h, uint64_t localOffset) {
    const bool bigUnpacked = h.unpackedSize >= k32, bigPacked = h.packedSize >= k32, bigOffset = localOffset >= k32;
    std::vector<uint8_t> extra = WithoutField(h.extra, kExtZip64);
    if (bigUnpacked || bigPacked || bigOffset) {
        std::vector<uint8_t> z;
        if (bigUnpacked) AppendLe64(z, h.unpackedSize);
        if (bigPacked) AppendLe64(z, h.packedSize);
        if (bigOffset) AppendLe64(z, localOffset);
        std::vector<uint8_t> f;
        AppendLe16(f, kExtZip64);
        AppendLe16(f, static_cast<uint16_t>(z.size()));
        f.insert(f.end(), z.begin(), z.end());
        extra.insert(extra.begin(), f.begin(), f.end());
    }
    if (extra.size() > 0xFFFF) extra.resize(0);  // cannot happen with fields read from a 16-bit length
    std::vector<uint8_t> r;
    AppendLe32(r, kCentralSig);
    uint16_t needed = h.versionNeeded;
    if (bigUnpacked || bigPacked || bigOffset) needed = std::max<uint16_t>(needed, 45);
    AppendLe16(r, h.versionMadeBy);
    AppendLe16(r, needed);
    AppendLe16(r, h.flags);
    AppendLe16(r, h.method);
    AppendLe32(r, h.dosTime);
    AppendLe32(r, h.crc);
    AppendLe32(r, bigPacked ? k32 : static_cast<uint32_t>(h.packedSize));
    AppendLe32(r, bigUnpacked ? k32 : static_cast<uint32_t>(h.unpackedSize));
    AppendLe16(r, static_cast<uint16_t>(h.name.size()));
    AppendLe16(r, static_cast<uint16_t>(extra.size()));
    AppendLe16(r, static_cast<uint16_t>(h.comment.size()));
    AppendLe16(r, 0);  // disk number start
    AppendLe16(r, h.internalAttr);
    AppendLe32(r, h.externalAttr);
    AppendLe32(r, bigOffset ? k32 : static_cast<uint32_t>(localOffset));
    r.insert(r.end(), h.name.begin(), h.name.end());
    r.insert(r.end(), extra.begin(), extra.end());
    r.insert(r.end(), h.comment.begin(), h.comment.end());
    return r;
}

}  // namespace zip

TZip::TZip(TArcType type) : TCompBase(type, type == atJar ? ".JAR" : ".ZIP") { SetCompressMethod(cmDeflate); }

std::vector<zip::Item> TZip::ReadDirectory() {
    const TArcType found = IdentifyFile(ArchiveFile());
    const FormatRecord* f = FormatOf(atZip);
    if (found == atZipMV) RaiseError(ArchiveFile(), "a set of volumes cannot be updated", E_InvalidArcType);
    if (!f || !f->Has(found)) RaiseError(ArchiveFile(), "it is not a ZIP archive", E_InvalidArcType);
    if (!OpenArchiveForRead()) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
    oldComment_ = HasEndRecord ? EndRecord.comment : std::string();

    zip::Walk walk(*this);
    std::vector<zip::Item> items = ReadOldEntries(walk);
    if (!walk.Central() && !items.empty())
        RaiseError(ArchiveFile(), "its central directory is missing or damaged", E_BadFileHeader);
    return items;
}

int TZip::LoadComments() {
    loaded_.clear();
    pendingComments_.clear();
    commentSet_ = false;
    try {
        for (auto& it : ReadDirectory())
            loaded_.emplace_back(it.entry.EntryName, it.central.comment);
    } catch (const ArchiveError&) {
        loaded_.clear();  // reported where it happened
    }
    ArcFile.Close();
    return static_cast<int>(loaded_.size());
}

void TZip::SetEntryComment(int n, const std::string& comment) {
    if (n < 0 || static_cast<size_t>(n) >= loaded_.size() || loaded_[static_cast<size_t>(n)].second == comment) return;
    loaded_[static_cast<size_t>(n)].second = comment.substr(0, 0xFFFF);
    pendingComments_[static_cast<size_t>(n)] = loaded_[static_cast<size_t>(n)].second;
}

bool TZip::ApplyComments() {
    FileSpec.clear();
    Switch = swAdd;
    CompressArchive();
    if (!Failed()) pendingComments_.clear();
    return !Failed();
}

bool TZip::RenameEntries() {
    FileSpec.clear();
    Switch = swAdd;
    CompressArchive();
    return !Failed();
}

bool TZip::OtherChanges() const {
    return !pendingComments_.empty() || (commentSet_ && comment_ != oldComment_);
}

void TZip::LoadEntries() {
    std::vector<zip::Item> items = ReadDirectory();
    prefix_ = items.empty() ? 0 : UINT64_MAX;
    for (size_t n = 0; n < items.size(); ++n) {
        zip::Item& it = items[n];
        // A comment set since LoadComments replaces the stored one.
        if (auto c = pendingComments_.find(n); c != pendingComments_.end()) it.central.comment = c->second;
        const zip::CentralHeader& h = it.central;
        zip::LocalHeader lh;
        const uint64_t pos = it.localOffset;
        if (!zip::ReadLocalHeader(ArcFile, pos, lh))
            RaiseError(ArchiveFile(), "the local header of " + it.entry.EntryName + " cannot be read",
                       E_BadFileHeader);
        const uint64_t dataEnd = pos + lh.headerSize() + h.packedSize;
        if (dataEnd > ArchiveSize || dataEnd < pos)
            RaiseError(ArchiveFile(), "the data of " + it.entry.EntryName + " runs past the end of the archive",
                       E_BadFileHeader);
        // A data descriptor after the data belongs to the entry and is kept with it.
        uint64_t descriptor = 0;
        if ((lh.flags | h.flags) & kFlagDescriptor) {
            uint8_t d[24] = {};
            const size_t got = ArcFile.ReadAt(dataEnd, d, sizeof d);
            const bool sig = got >= 16 && Le32(d) == zip::kSpanSig;
            const uint8_t* p = sig ? d + 4 : d;
            const size_t have = sig ? got - 4 : got;
            if (have >= 12 && Le32(p) == h.crc) {
                const bool wide = have >= 20 && Le64(p + 4) == h.packedSize && Le64(p + 12) == h.unpackedSize &&
                                  !(Le32(p + 4) == static_cast<uint32_t>(h.packedSize) &&
                                    Le32(p + 8) == static_cast<uint32_t>(h.unpackedSize));
                descriptor = (sig ? 4 : 0) + (wide ? 20 : 12);
            }
        }
        TCompBaseHeaderObj e;
        e.name = it.entry.EntryName;
        e.directory = it.entry.IsDirectory;
        e.size = h.unpackedSize;
        e.mtime = it.entry.EntryDate;
        e.attr = it.entry.ExternalAttr & 0xFF;
        e.oldOffset = pos;
        e.oldLength = dataEnd + descriptor - pos;
        e.oldName = h.name;
        e.packed = h.packedSize;
        e.crc = h.crc;
        prefix_ = std::min(prefix_, pos);
        const size_t index = EntryList().size();
        AddOldEntry(std::move(e));
        records_.resize(index + 1);
        records_[index].h = h;
    }
    if (RenameEntry) ApplyRenames();
}

void TZip::ApplyRenames() {
    auto& list = EntryList();
    for (auto& e : list) {
        if (e.action != acKeep) continue;
        std::string to = RenameEntry(e.name, e.directory);
        while (!to.empty() && to.back() == '/')
            to.pop_back();
        if (to.empty() || to == e.name) continue;
        e.name = std::move(to);
        e.action = acRename;
    }
    // Two entries under one name would leave one of them unreachable.
    std::map<std::string, const TCompBaseHeaderObj*> names;
    for (const auto& e : list) {
        if (e.action == acDrop) continue;
        auto [it, fresh] = names.emplace(e.directory ? e.name + "/" : e.name, &e);
        if (!fresh && (e.action == acRename || it->second->action == acRename))
            RaiseError(ArchiveFile(), "the new name " + e.name + " is already in the archive", E_InvalidFileName);
    }
}

std::pair<std::string, bool> TZip::StoredBytes(const std::string& name) const {
    if (IsAscii(name)) return {name, false};
    if (!NameEncoding.empty()) {
        platform::Converter to("UTF-8", NameEncoding);
        std::string out;
        if (to.IsOpen() && to.Convert(name, out)) return {out, false};
    }
    if (IsUtf8(name)) return {name, true};
    return {name, false};  // bytes of an unknown code page, stored as they are
}

bool TZip::CompressFile(platform::File& out, TCompBaseHeaderObj& e) {
    const std::pair<std::string, bool> stored = StoredBytes(e.directory ? e.name + "/" : e.name);
    const std::string& name = stored.first;
    const bool utf8 = stored.second;
    if (name.size() > 0xFFFF) {
        ReportError(e.diskPath, "the name is longer than a ZIP entry can hold", E_InvalidFileName);
        return false;
    }
    platform::File src;
    if (!e.directory && !OpenSource(e, src)) return false;

    const uint64_t start = out.Tell();
    // A pattern's own password stands in for the run's while this file is written.
    struct PasswordSwap {
        std::string& target;
        std::string saved;
        bool active = false;
        ~PasswordSwap() {
            if (active) target = std::move(saved);
        }
    } swap{Password, {}};
    if (auto own = SpecPassword.find(e.pattern); own != SpecPassword.end() && e.pattern >= 0) {
        swap.saved = Password;
        swap.active = true;
        Password = own->second;
    }
    const bool encrypt = !Password.empty() && !e.directory && e.size > 0;
    // An entry that may pass 4 GiB gets room for its 64-bit sizes in the local header from the start.
    const bool wide = e.size >= k32 - 64 * 1024;
    const uint32_t dosTime = UnixToDosTime(e.mtime);

    std::vector<uint8_t> localExtra;
    if (wide) {
        AppendLe16(localExtra, kExtZip64);
        AppendLe16(localExtra, 16);
        AppendLe64(localExtra, 0);
        AppendLe64(localExtra, 0);
    }
    const std::vector<uint8_t> time = TimeField(e.mtime);
    localExtra.insert(localExtra.end(), time.begin(), time.end());

    auto localHeader = [&](uint16_t flags, uint16_t method, uint32_t crc, uint64_t packed, uint64_t unpacked) {
        std::vector<uint8_t> h;
        AppendLe32(h, zip::kLocalSig);
        AppendLe16(h, wide ? 45 : 20);
        AppendLe16(h, flags);
        AppendLe16(h, method);
        AppendLe32(h, dosTime);
        AppendLe32(h, crc);
        AppendLe32(h, wide ? k32 : static_cast<uint32_t>(packed));
        AppendLe32(h, wide ? k32 : static_cast<uint32_t>(unpacked));
        AppendLe16(h, static_cast<uint16_t>(name.size()));
        AppendLe16(h, static_cast<uint16_t>(localExtra.size()));
        h.insert(h.end(), name.begin(), name.end());
        std::vector<uint8_t> x = localExtra;
        if (wide) {
            PutLe64(&x[4], unpacked);
            PutLe64(&x[12], packed);
        }
        h.insert(h.end(), x.begin(), x.end());
        return h;
    };
    const uint16_t baseFlags = static_cast<uint16_t>((encrypt ? kFlagEncrypted : 0) | (utf8 ? kFlagUtf8 : 0));
    const std::vector<uint8_t> first = localHeader(baseFlags, 0, 0, 0, 0);
    Write(out, first.data(), first.size());

    uint16_t method = 0, flags = static_cast<uint16_t>(baseFlags & ~kFlagEncrypted);
    uint32_t crc = 0;
    uint64_t packed = 0, unpacked = 0;
    if (!e.directory) {
        bool storeIt = AlreadyCompressed(e.diskPath);
        if (StoreSuffixes) {
            const std::string lower = LowerAscii(e.diskPath);
            storeIt = std::any_of(StoreSuffixes->begin(), StoreSuffixes->end(), [&](const std::string& x) {
                return !x.empty() && lower.size() >= x.size() &&
                       lower.compare(lower.size() - x.size(), x.size(), LowerAscii(x)) == 0;
            });
        }
        const EntryMethod wanted =
            CompressMethod() == cmDeflate && !storeIt ? EntryMethod::Deflate : EntryMethod::Store;
        EntryData d;
        if (!WriteEntryData(out, src, e, wanted, encrypt, d)) return false;
        if (d.encrypted) flags |= kFlagEncrypted;
        if (d.method == EntryMethod::Deflate) {
            method = 8;
            flags |= DeflateFlagBits(DeflateType);
        }
        crc = d.crc;
        packed = d.packed;
        unpacked = d.unpacked;
    }
    if (!wide && (packed >= k32 || unpacked >= k32)) {
        ReportError(e.diskPath, "the file grew past 4 GiB while it was added", E_FileSizeDifferent);
        return false;
    }
    const std::vector<uint8_t> final = localHeader(flags, method, crc, packed, unpacked);
    WriteAt(out, start, final.data(), final.size());
    if (!out.Seek(out.Size())) RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);

    zip::CentralHeader h;
    h.versionMadeBy = static_cast<uint16_t>(kHostUnix << 8 | (wide ? 45 : 20));
    h.versionNeeded = wide ? 45 : 20;
    h.flags = flags;
    h.method = method;
    h.dosTime = dosTime;
    h.crc = crc;
    h.packedSize = packed;
    h.unpackedSize = unpacked;
    h.internalAttr = 1;
    h.externalAttr = (e.mode & 0xFFFF) << 16 | (e.directory ? 0x10 : (e.attr & 0x27));
    h.name = name;
    h.extra = time;
    if (NewEntryComment) {
        h.comment = NewEntryComment(e.name);
        if (h.comment.size() > 0xFFFF) h.comment.resize(0xFFFF);
    }
    const size_t index = static_cast<size_t>(&e - EntryList().data());
    if (records_.size() <= index) records_.resize(index + 1);
    records_[index].h = std::move(h);
    e.packed = packed;
    e.crc = crc;
    e.size = unpacked;
    if (OnEnd) OnEnd(*this, e.name, true);
    return true;
}

void TZip::CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) {
    zip::LocalHeader lh;
    if (!zip::ReadLocalHeader(ArcFile, e.oldOffset, lh))
        RaiseError(ArchiveFile(), "the local header of " + e.name + " cannot be read", E_BadFileHeader);
    uint8_t fixed[zip::kLocalSize];
    if (ArcFile.ReadAt(e.oldOffset, fixed, sizeof fixed) != sizeof fixed)
        RaiseError(ArchiveFile(), "the local header of " + e.name + " cannot be read", E_ReadFile);
    const std::pair<std::string, bool> stored = StoredBytes(e.directory ? e.name + "/" : e.name);
    const std::vector<uint8_t> extra = WithoutField(lh.extra, kExtUnicodePath);
    uint16_t flags = Le16(fixed + 6);
    flags = static_cast<uint16_t>(stored.second ? flags | kFlagUtf8 : flags & ~kFlagUtf8);
    PutLe16(fixed + 6, flags);
    if (stored.first.size() > 0xFFFF)
        RaiseError(ArchiveFile(), "the new name of " + e.name + " is longer than a ZIP entry can hold",
                   E_InvalidFileName);
    PutLe16(fixed + 26, static_cast<uint16_t>(stored.first.size()));
    PutLe16(fixed + 28, static_cast<uint16_t>(extra.size()));
    if (RenameDosTime) PutLe32(fixed + 10, RenameDosTime);
    Write(out, fixed, sizeof fixed);
    Write(out, stored.first.data(), stored.first.size());
    Write(out, extra.data(), extra.size());
    CopyOld(out, e.oldOffset + lh.headerSize(), e.oldLength - lh.headerSize());
    const size_t index = static_cast<size_t>(&e - EntryList().data());
    zip::CentralHeader& h = records_[index].h;
    h.name = stored.first;
    h.flags = static_cast<uint16_t>(stored.second ? h.flags | kFlagUtf8 : h.flags & ~kFlagUtf8);
    h.extra = WithoutField(h.extra, kExtUnicodePath);
    if (RenameDosTime) h.dosTime = RenameDosTime;
}

bool TZip::WantsDirectory(const std::string& path) const {
    return AllDirEntries || TCompBase::WantsDirectory(path);
}

void TZip::FinishArchive(platform::File& out) {
    const uint64_t cdStart = out.Tell();
    uint64_t count = 0;
    std::vector<uint8_t> buf;
    auto& list = EntryList();
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].action == acDrop || i >= records_.size()) continue;
        const std::vector<uint8_t> r = zip::CentralRecordBytes(records_[i].h, list[i].newOffset);
        buf.insert(buf.end(), r.begin(), r.end());
        ++count;
        if (buf.size() >= kBlock) {
            Write(out, buf.data(), buf.size());
            buf.clear();
        }
    }
    Write(out, buf.data(), buf.size());
    buf.clear();
    const uint64_t cdSize = out.Tell() - cdStart;
    const std::string comment = commentSet_ ? comment_ : oldComment_;
    const bool z64 = count >= 0xFFFF || cdSize >= k32 || cdStart >= k32;
    if (z64) {
        const uint64_t end64 = out.Tell();
        AppendLe32(buf, zip::kEnd64Sig);
        AppendLe64(buf, 44);
        AppendLe16(buf, kHostUnix << 8 | 45);
        AppendLe16(buf, 45);
        AppendLe32(buf, 0);
        AppendLe32(buf, 0);
        AppendLe64(buf, count);
        AppendLe64(buf, count);
        AppendLe64(buf, cdSize);
        AppendLe64(buf, cdStart);
        AppendLe32(buf, zip::kEnd64LocatorSig);
        AppendLe32(buf, 0);
        AppendLe64(buf, end64);
        AppendLe32(buf, 1);
    }
    AppendLe32(buf, zip::kEndSig);
    AppendLe16(buf, 0);
    AppendLe16(buf, 0);
    AppendLe16(buf, static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF)));
    AppendLe16(buf, static_cast<uint16_t>(std::min<uint64_t>(count, 0xFFFF)));
    AppendLe32(buf, static_cast<uint32_t>(std::min<uint64_t>(cdSize, k32)));
    AppendLe32(buf, static_cast<uint32_t>(std::min<uint64_t>(cdStart, k32)));
    const size_t clen = std::min<size_t>(comment.size(), 0xFFFF);
    AppendLe16(buf, static_cast<uint16_t>(clen));
    buf.insert(buf.end(), comment.begin(), comment.begin() + static_cast<ptrdiff_t>(clen));
    Write(out, buf.data(), buf.size());
}

}  // namespace varnok
