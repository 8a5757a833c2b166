#include "zipbridge/zip_bridge.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "platform/codepage.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "zipbridge/messages.h"

namespace varnok {

uint16_t ZipDirEntry::VersionNeeded() const { return Le16(Raw + 2); }
uint16_t ZipDirEntry::Flag() const { return Le16(Raw + 4); }
uint16_t ZipDirEntry::CompressionMethod() const { return Le16(Raw + 6); }
uint32_t ZipDirEntry::DateTime() const { return Le32(Raw + 8); }
uint32_t ZipDirEntry::CRC32() const { return Le32(Raw + 12); }
uint16_t ZipDirEntry::FileNameLength() const { return Le16(Raw + 24); }
uint16_t ZipDirEntry::ExtraFieldLength() const { return Le16(Raw + 26); }
uint16_t ZipDirEntry::FileCommentLen() const { return Le16(Raw + 28); }
uint16_t ZipDirEntry::StartOnDisk() const { return Le16(Raw + 30); }
uint16_t ZipDirEntry::IntFileAttrib() const { return Le16(Raw + 32); }
uint32_t ZipDirEntry::ExtFileAttrib() const { return Le32(Raw + 34); }

namespace {

// An error met while reading, carrying its message number.
struct BridgeError {
    int id;
    std::string extra;
    bool show = true;
};

}  // namespace

void TZipBridge::Message(int id, const std::string& extra, bool show) {
    // A text with a placeholder takes the extra text in its place; others get it appended.
    std::string text = BridgeMessageText(id);
    if (text.find('%') != std::string::npos && !extra.empty()) text = FormatMessage(id, {extra});
    else text += extra;
    lastMessage_ = text;
    errCode_ = id;
    if (!Unattended && show && ShowMessage) ShowMessage(lastMessage_);
    if (OnMessage) OnMessage(*this, 0, lastMessage_);
}

bool TZipBridge::Translate(uint8_t host, uint8_t version) const {
    if (CodePage == cpOEM) return true;
    if (CodePage == cpNone) return false;
    return host == 0 || host == 6 || (host == 11 && version == 50);
}

std::string TZipBridge::TranslateName(const std::string& raw, uint8_t host, uint8_t version, bool utf8) const {
    if (utf8) return raw;
    if (Translate(host, version)) return platform::OemToUtf8(raw);
    // Names kept as stored: make them displayable when they are not UTF-8.
    return platform::IsValidUtf8(raw) ? raw : platform::ConvertCharset(raw, "ISO-8859-1", "UTF-8");
}

std::string TZipBridge::ZipComment() const {
    if (comment_.empty()) return {};
    if (CodePage == cpNone) return platform::IsValidUtf8(comment_) ? comment_ : platform::OemToUtf8(comment_);
    return platform::ToDisplayUtf8(comment_);
}

void TZipBridge::SetZipFileName(const std::string& name) {
    zipFileName_ = name;
    List();
}

bool TZipBridge::FindEndRecord(platform::File& f, bool raise, zip::EndRecord& e) {
    comment_.clear();
    if (!f.Open(zipFileName_, platform::File::Mode::Read)) {
        if (raise) throw BridgeError{11001};
        Message(11002);
        return false;
    }
    platform::DriveFacts drive = platform::QueryDrive(zipFileName_);
    labelDisk_ = 0;
    if (drive.label.rfind("PKBACK# ", 0) == 0) {
        std::string d = drive.label.substr(8, 3);
        labelDisk_ = IsDigits(d) && !d.empty() ? std::stoi(d) : 0;
    }
    uint8_t head[8];
    bool firstPart = f.ReadAt(0, head, 8) == 8 && Le32(head) == zip::kSpanSig && Le32(head + 4) == zip::kLocalSig;
    if (firstPart) spanned_ = true;
    fileSize_ = f.Size();
    archiveSize_ = fileSize_;
    if (fileSize_ >= zip::kEndSize) {
        uint8_t last[zip::kEndSize];
        if (f.ReadAt(fileSize_ - zip::kEndSize, last, zip::kEndSize) == zip::kEndSize && Le32(last) == zip::kEndSig &&
            Le16(last + 20) == 0) {
            e = zip::EndRecord{};
            e.pos = fileSize_ - zip::kEndSize;
            zip::ParseEndRecord(last, e);
            if (e.entriesTotal == 0xFFFF || e.cdSize == 0xFFFFFFFF || e.cdOffset == 0xFFFFFFFF) {
                zip::EndRecord full;
                if (zip::FindEndRecord(f, fileSize_, full) && full.pos == e.pos) e = full;
            }
            return true;
        }
    }
    if (zip::FindEndRecord(f, fileSize_, e)) {
        comment_ = e.comment;
        uint64_t end = e.pos + zip::kEndSize + e.commentLength;
        if (end < fileSize_) {
            archiveSize_ = end;
            // Padding of zero bytes up to a 512-byte boundary is left alone.
            bool padding = false;
            if (fileSize_ % 512 == 0 && fileSize_ - end < 512) {
                std::vector<uint8_t> tail(static_cast<size_t>(fileSize_ - end));
                padding = f.ReadAt(end, tail.data(), tail.size()) == tail.size() &&
                          std::all_of(tail.begin(), tail.end(), [](uint8_t b) { return b == 0; });
            }
            if (!padding) Message(10204, {}, false);
        } else if (end > fileSize_) {
            // The comment length runs past the end of the file: keep what is there.
            archiveSize_ = fileSize_;
        }
        return true;
    }
    if (!raise) return false;
    if (!firstPart && labelDisk_ > 0) {
        throw BridgeError{11038, std::to_string(labelDisk_)};
    }
    if (!firstPart) throw BridgeError{11036};
    if (labelDisk_ == 1) throw BridgeError{11037};
    throw BridgeError{11045};
}

void TZipBridge::List() {
    entries_.clear();
    archiveSize_ = fileSize_ = eocOffset_ = firstLocal_ = 0;
    comment_.clear();
    spanned_ = false;
    wrongStructure_ = false;
    skippedDirs_ = 0;
    lastDisk_ = 0;
    if (zipFileName_.empty() || !platform::FileExists(zipFileName_)) {
        if (OnDirUpdate) OnDirUpdate(*this);
        return;
    }
    std::vector<ZipDirEntry> list;
    try {
        platform::DriveFacts drive = platform::QueryDrive(zipFileName_);
        if (!drive.ready) throw BridgeError{11004, ""};
        platform::File f;
        zip::EndRecord e;
        FindEndRecord(f, true, e);
        eocOffset_ = e.pos;
        lastDisk_ = e.thisDisk;
        if (e.thisDisk != 0) spanned_ = true;
        // The directory: in this file, or (a set split into files) starting in an earlier part.
        std::vector<uint8_t> dir;
        uint64_t computed = 0;
        if (e.cdDisk == e.thisDisk) {
            uint64_t end = e.pos;
            if (e.zip64) {
                uint8_t loc[4];
                if (end >= 20 + 56 && f.ReadAt(end - 20, loc, 4) == 4 && Le32(loc) == zip::kEnd64LocatorSig)
                    end -= 20 + 56;
            }
            computed = end >= e.cdSize ? end - e.cdSize : 0;
            firstLocal_ = fileSize_ == zip::kEndSize ? 0 : archiveSize_;
            if (computed != e.cdOffset) {
                wrongStructure_ = true;
                Message(10203, {}, false);
            }
            if (e.cdSize > (uint64_t{1} << 32) || computed + e.cdSize > fileSize_) throw BridgeError{10201};
            dir.resize(static_cast<size_t>(e.cdSize));
            if (f.ReadAt(computed, dir.data(), dir.size()) != dir.size()) throw BridgeError{11013};
        } else {
            ZipVolumeSet vols(zipFileName_, e.thisDisk);
            if (!vols.ReadSpan(e.cdDisk, e.cdOffset, e.cdSize, dir)) throw BridgeError{11013, ": " + vols.MissingVolume()};
            firstLocal_ = 0;
        }
        int64_t delta = static_cast<int64_t>(computed) - static_cast<int64_t>(e.cdOffset);
        if (e.cdDisk != e.thisDisk) delta = 0;
        size_t p = 0;
        uint64_t total = e.entriesTotal;
        int sequence = 0;
        // Writers without ZIP64 records let the count wrap at 65,535: then the directory's size decides.
        const bool wrapped = total == 0xFFFF && !e.zip64;
        for (uint64_t n = 0; n < total || (wrapped && p < dir.size()); ++n) {
            if (p + zip::kCentralSize > dir.size()) throw BridgeError{11013};
            if (Le32(dir.data() + p) != zip::kCentralSig) throw BridgeError{11015};
            zip::CentralHeader h;
            if (!zip::ParseCentralHeader(dir.data() + p, dir.size() - p, h)) throw BridgeError{11017};
            ZipDirEntry d;
            std::copy(h.raw, h.raw + sizeof d.Raw, d.Raw);
            std::string unicode = zip::ExtraUnicodePath(h.extra, h.name);
            d.FileName = !unicode.empty() ? unicode
                                          : TranslateName(h.name, h.hostSystem(), static_cast<uint8_t>(h.versionMadeBy),
                                                          h.utf8());
            for (char& c : d.FileName)
                if (c == '\\') c = '/';
            d.FileComment = TranslateName(h.comment, h.hostSystem(), static_cast<uint8_t>(h.versionMadeBy), h.utf8());
            d.Encrypted = h.encrypted();
            d.ExtraData = h.extra;
            d.CompressedSize = h.packedSize;
            d.UncompressedSize = h.unpackedSize;
            d.RelOffLocalHdr = static_cast<uint64_t>(static_cast<int64_t>(h.localOffset) + delta);
            p += static_cast<size_t>(h.recordSize());
            if (h.diskStart == e.thisDisk || e.thisDisk == 0)
                firstLocal_ = std::min<uint64_t>(firstLocal_, d.RelOffLocalHdr);
            if (!UseDirOnlyEntries && !d.FileName.empty() && d.FileName.back() == '/') {
                ++skippedDirs_;
                continue;
            }
            list.push_back(std::move(d));
            if (OnNewName) OnNewName(*this, ++sequence, list.back());
        }
        entries_ = std::move(list);
    } catch (const BridgeError& err) {
        entries_.clear();
        Message(err.id, err.extra, err.show);
    } catch (const std::bad_alloc&) {
        entries_.clear();
        Message(10103);
    } catch (const std::exception& ex) {
        entries_.clear();
        Message(10202, ex.what());
    }
    if (OnDirUpdate) OnDirUpdate(*this);
}

bool TZipBridge::SetZipComment(const std::string& comment) {
    std::string oem = platform::IsValidUtf8(comment) && CodePage != cpNone ? platform::Utf8ToOem(comment) : comment;
    if (oem.size() > 65535) {
        Message(11030, " (comment longer than 65535 bytes)");
        return false;
    }
    if (zipFileName_.empty()) {
        Message(11001);
        return false;
    }
    platform::File f;
    if (!f.Open(zipFileName_, platform::File::Mode::ReadWrite)) {
        Message(11002);
        return false;
    }
    uint8_t rec[zip::kEndSize];
    if (f.ReadAt(eocOffset_, rec, zip::kEndSize) != zip::kEndSize) {
        Message(11008);
        return false;
    }
    if (Le32(rec) != zip::kEndSig) {
        Message(11011);
        return false;
    }
    PutLe16(rec + 20, static_cast<uint16_t>(oem.size()));
    if (!f.WriteAt(eocOffset_, rec, zip::kEndSize)) {
        Message(11030);
        return false;
    }
    if (!f.WriteAt(eocOffset_ + zip::kEndSize, oem.data(), oem.size()) ||
        !f.Truncate(eocOffset_ + zip::kEndSize + oem.size())) {
        Message(11010);
        f.Close();
        List();
        return false;
    }
    f.Close();
    comment_ = oem;
    archiveSize_ = fileSize_ = eocOffset_ + zip::kEndSize + oem.size();
    return true;
}

}  // namespace varnok
