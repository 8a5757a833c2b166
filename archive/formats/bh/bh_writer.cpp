#include "archive/formats/bh/bh_writer.h"

#include <algorithm>

#include "archive/codecs/deflate_encoder.h"
#include "archive/core/bytes.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "archive/formats/bh/bh_headers.h"
#include "archive/formats/bh/bh_walk.h"

namespace varnok {

namespace {

constexpr uint64_t kMax32 = 0xFFFFFFFFu;

std::vector<uint8_t> Header(const std::string& name, uint8_t flags, uint8_t method, uint32_t dosTime,
                            uint64_t packed, uint64_t unpacked, uint32_t crc, uint16_t attr) {
    std::vector<uint8_t> h;
    AppendLe32(h, bh::kSignature);
    AppendLe16(h, static_cast<uint16_t>(bh::kFixedSize + name.size()));
    h.push_back(static_cast<uint8_t>(bh::kFixedSize));
    h.push_back(3);   // made by
    h.push_back(51);  // needed
    h.push_back(flags);
    h.push_back(method);
    AppendLe32(h, dosTime);
    AppendLe32(h, static_cast<uint32_t>(packed));
    AppendLe32(h, static_cast<uint32_t>(unpacked));
    AppendLe32(h, crc);
    AppendLe16(h, attr);
    AppendLe32(h, 0);
    AppendLe16(h, static_cast<uint16_t>(name.size()));
    AppendLe16(h, 0);
    h.insert(h.end(), name.begin(), name.end());
    return h;
}

}  // namespace

TBlakHole::TBlakHole() : TCompBase(atBh, ".BH") { SetCompressMethod(cmFuse); }

void TBlakHole::LoadEntries() {
    OpenOldArchive(atBh, "it is not a BH archive");
    bh::Walk walk(*this);
    std::vector<bh::Item> items = ReadOldEntries(walk);
    for (auto& it : items) {
        TCompBaseHeaderObj e;
        e.name = it.entry.EntryName;
        e.directory = it.entry.IsDirectory;
        e.size = it.header.unpackedSize;
        e.mtime = it.entry.EntryDate;
        e.attr = it.header.attributes & 0xFF;
        e.oldOffset = it.header.pos;
        e.oldLength = it.header.nextPos - it.header.pos;
        e.oldName = it.header.name;
        AddOldEntry(std::move(e));
    }
}

bool TBlakHole::CompressFile(platform::File& out, TCompBaseHeaderObj& e) {
    const std::string name = e.directory ? e.name + "/" : e.name;
    // Readers take the low byte of the name's length.
    if (name.size() > 255) {
        ReportError(e.diskPath, "the name is longer than a BH entry can hold (255 bytes)", E_InvalidFileName);
        return false;
    }
    if (e.size >= kMax32) {
        ReportError(e.diskPath, "a BH entry holds less than 4 GiB", E_FileSizeExceedsOs);
        return false;
    }
    platform::File src;
    if (!e.directory && !OpenSource(e, src)) return false;
    const uint64_t start = out.Tell();
    const uint32_t dosTime = UnixToDosTime(e.mtime);
    const uint16_t attr = static_cast<uint16_t>(e.directory ? 0x10 : (e.attr & 0x27));
    std::vector<uint8_t> h = Header(name, 0, 0, dosTime, 0, 0, 0, attr);
    Write(out, h.data(), h.size());
    uint8_t flags = 0, method = 0;
    EntryData d;
    if (!e.directory) {
        EntryMethod wanted = EntryMethod::Store;
        if (!AlreadyCompressed(e.diskPath)) {
            if (CompressMethod() == cmDeflate) wanted = EntryMethod::Deflate;
            if (CompressMethod() == cmFuse) wanted = EntryMethod::Fuse;
        }
        if (!WriteEntryData(out, src, e, wanted, !Password.empty(), d)) return false;
        if (d.packed >= kMax32 || d.unpacked >= kMax32) {
            ReportError(e.diskPath, "the file grew past 4 GiB while it was added", E_FileSizeDifferent);
            return false;
        }
        if (d.encrypted) flags |= 1;
        if (d.method == EntryMethod::Deflate) {
            method = 8;
            flags = static_cast<uint8_t>(flags | DeflateFlagBits(DeflateType));
        } else if (d.method == EntryMethod::Fuse) {
            method = 1;
        }
    }
    h = Header(name, flags, method, dosTime, d.packed, d.unpacked, d.crc, attr);
    WriteAt(out, start, h.data(), h.size());
    if (!out.Seek(out.Size())) RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
    e.packed = d.packed;
    e.crc = d.crc;
    if (OnEnd) OnEnd(*this, e.name, true);
    return true;
}

void TBlakHole::CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) {
    bh::Header h;
    if (bh::ReadHeader(ArcFile, e.oldOffset, ArchiveSize, h) != bh::ReadResult::Ok)
        RaiseError(ArchiveFile(), "the header of " + e.name + " cannot be read", E_BadFileHeader);
    const std::string name = e.directory ? e.name + "/" : e.name;
    if (name.size() > 255) RaiseError(e.name, "the name is longer than a BH entry can hold (255 bytes)", E_InvalidFileName);
    std::vector<uint8_t> fixed(bh::kFixedSize);
    if (ArcFile.ReadAt(e.oldOffset, fixed.data(), fixed.size()) != fixed.size())
        RaiseError(ArchiveFile(), "the header of " + e.name + " cannot be read", E_ReadFile);
    PutLe16(&fixed[4], static_cast<uint16_t>(bh::kFixedSize + name.size() + h.extraLength));
    PutLe16(&fixed[33], static_cast<uint16_t>(name.size()));
    Write(out, fixed.data(), fixed.size());
    Write(out, name.data(), name.size());
    // The extra field and the data follow unchanged.
    const uint64_t rest = e.oldOffset + bh::kFixedSize + h.name.size();
    if (rest > e.oldOffset + e.oldLength) RaiseError(ArchiveFile(), "the header of " + e.name + " is damaged", E_BadFileHeader);
    CopyOld(out, rest, e.oldOffset + e.oldLength - rest);
}

}  // namespace varnok
