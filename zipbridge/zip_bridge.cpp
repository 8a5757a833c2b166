#include "zipbridge/zip_bridge.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "archive/formats/zip/zip_directory.h"
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

std::string TZipBridge::ForcedCodePage() const {
    if (!NameCodePage.empty()) return NameCodePage;
    if (CodePage == cpOEM) return platform::OemCodePage();
    // Names kept as stored: taken as UTF-8 (bytes that are not are shown one by one).
    if (CodePage == cpNone) return "UTF-8";
    return {};
}

std::string TZipBridge::ZipComment() const {
    if (comment_.empty()) return {};
    // OEM text, like the names of DOS archivers; but OEM text with letters beyond ASCII almost never forms
    // valid UTF-8, while comments written on Unix are UTF-8.
    if (!names_.Forced() && platform::IsValidUtf8(comment_)) return comment_;
    return names_.Decode(comment_, NameOrigin::Dos);
}

std::string TZipBridge::CommentBytes(const std::string& text) const {
    const std::string page = names_.CodePage(NameOrigin::Dos);
    if (!platform::IsValidUtf8(text) || page.empty() || page == "UTF-8") return text;
    std::string oem = platform::ConvertCharset(text, "UTF-8", page.c_str());
    return platform::ConvertCharset(oem, page.c_str(), "UTF-8") == text ? oem : text;
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
        if (!drive.ready) throw BridgeError{11004, drive.root.empty() ? zipFileName_ : drive.root};
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
        uint64_t total = e.entriesTotal;
        // Writers without ZIP64 records let the count wrap at 65,535: then the directory's size decides.
        const bool wrapped = total == 0xFFFF && !e.zip64;
        // Names that read the same whatever is decided are read at once; the others wait for the decision.
        std::vector<std::pair<size_t, ArchiveEntry>> waiting;
        std::vector<bool> folders;
        names_ = NameCoding();
        if (std::string forced = ForcedCodePage(); !forced.empty()) names_.Force(forced);
        // Room for the entries the directory can hold (46 bytes each at least), whatever its count says.
        list.reserve(static_cast<size_t>(std::min<uint64_t>(total, dir.size() / 46)));
        zip::DirResult r = zip::ParseCentralDirectory(dir, wrapped ? UINT64_MAX : total, [&](zip::CentralHeader& h) {
            ZipDirEntry d;
            std::copy(h.raw, h.raw + sizeof d.Raw, d.Raw);
            d.Encrypted = h.encrypted();
            d.ExtraData = h.extra;
            d.CompressedSize = h.packedSize;
            d.UncompressedSize = h.unpackedSize;
            d.RelOffLocalHdr = static_cast<uint64_t>(static_cast<int64_t>(h.localOffset) + delta);
            if (h.diskStart == e.thisDisk || e.thisDisk == 0)
                firstLocal_ = std::min<uint64_t>(firstLocal_, d.RelOffLocalHdr);
            ArchiveEntry a = zip::TextsOf(h);
            SampleTexts(a, names_);
            // A folder entry is a name that ends in a separator.
            folders.push_back(!h.name.empty() && (h.name.back() == '/' || h.name.back() == '\\'));
            if (TextsSettled(a, names_)) {
                DecodeTexts(a, names_);
                d.FileName = std::move(a.EntryName);
                d.FileComment = std::move(a.EntryComment);
            } else {
                waiting.emplace_back(list.size(), std::move(a));
            }
            list.push_back(std::move(d));
            return true;
        });
        if (r.stop == zip::DirStop::Short) throw BridgeError{11013};
        if (r.stop == zip::DirStop::NotCentral) throw BridgeError{11015};
        if (r.stop == zip::DirStop::Truncated) throw BridgeError{11017};
        // The names are read once all of them are known: the code page is decided from them together.
        names_.Decide();
        for (auto& [i, a] : waiting) {
            DecodeTexts(a, names_);
            list[i].FileName = std::move(a.EntryName);
            list[i].FileComment = std::move(a.EntryComment);
        }
        std::vector<ZipDirEntry> kept;
        kept.reserve(list.size());
        int sequence = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            ZipDirEntry& d = list[i];
            const bool folder = folders[i];
            if (folder) d.FileName.push_back('/');
            if (!UseDirOnlyEntries && folder) {
                ++skippedDirs_;
                continue;
            }
            kept.push_back(std::move(d));
            if (OnNewName) OnNewName(*this, ++sequence, kept.back());
        }
        list = std::move(kept);
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
    const std::string oem = CommentBytes(comment);
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
