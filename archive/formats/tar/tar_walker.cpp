#include "archive/formats/tar/tar_walker.h"

#include <algorithm>
#include <vector>

#include "archive/codecs/stored.h"
#include "platform/codepage.h"

namespace varnok {

namespace {

constexpr size_t kMaxKnownFiles = 2'000'000;

// Reads size bytes of an entry's data from pos onwards.
class TarDataSource final : public ByteSource {
  public:
    TarDataSource(TarInput& in, uint64_t pos, uint64_t size) : in_(in), pos_(pos), left_(size) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t want = static_cast<size_t>(std::min<uint64_t>(n, left_));
        if (!want) return 0;
        size_t got = in_.ReadAt(pos_, buf, want);
        pos_ += got;
        left_ -= got;
        return got;
    }

  private:
    TarInput& in_;
    uint64_t pos_;
    uint64_t left_;
};

}  // namespace

size_t StreamTarInput::ReadAt(uint64_t pos, void* buf, size_t n) {
    if (pos < at_) return 0;
    uint8_t drop[16384];
    while (at_ < pos) {
        size_t k = src_.Read(drop, static_cast<size_t>(std::min<uint64_t>(sizeof drop, pos - at_)));
        if (k == 0) return 0;
        at_ += k;
    }
    size_t done = 0;
    while (done < n) {
        size_t k = src_.Read(static_cast<uint8_t*>(buf) + done, n - done);
        if (k == 0) break;
        done += k;
    }
    at_ += done;
    return done;
}

TarWalker::TarWalker(TUnBase& owner, TarInput& input, uint64_t size, std::string archiveName)
    : o_(owner), in_(input), size_(size), archiveName_(std::move(archiveName)) {
    if (!o_.NameCodePage.empty()) {
        names_.Force(o_.NameCodePage);
        namesDecided_ = true;
    }
}

ArchiveEntry TarWalker::EntryFor(const tar::Entry& t) {
    ArchiveEntry e = tar::EntryOf(t);
    const bool legacy = e.Origin != NameOrigin::Utf8 &&
                        (!platform::IsValidUtf8(e.RawName) || !platform::IsValidUtf8(e.RawLinkTarget));
    if (legacy && !namesDecided_) {
        namesDecided_ = true;
        if (SampleNames) SampleNames(names_);
        names_.Decide();
    }
    DecodeTexts(e, names_);
    return e;
}

int TarWalker::Run(uint64_t pos) {
    // The headers as the lister reads them; what each one holds is extracted here.
    tar::Walk walk(in_, pos, size_, archiveName_);
    walk.IncludeUnlisted = true;
    int headers = 0;
    ArchiveEntry listed;
    while (!o_.Cancel() && walk.Next(listed)) {
        ++headers;
        Entry(walk.Header());
    }
    if (walk.Error()) o_.EntryFailed(archiveName_, walk.Error(), walk.ErrorDetail());
    return headers;
}

void TarWalker::Entry(const tar::Entry& t) {
    ArchiveEntry e = EntryFor(t);
    const std::string& name = e.EntryName;
    const std::string key = SafeRelativeName(t.name);
    if (e.IsDirectory) {
        // "./" and the like stand for the destination itself: nothing to create.
        if (key.empty() && t.name.find("..") == std::string::npos) return;
        if (o_.SelectsEntry(name, true)) o_.ExtractEntry(e, CrcKind::None, 0, nullptr);
        return;
    }
    switch (t.type) {
        case '2':
            if (!o_.SpecMatch(name)) return;
            o_.ExtractEntry(e, CrcKind::None, 0, nullptr);
            return;
        case '1':
            ExtractHardLink(t, e, key);
            return;
        case '3':  // character and block devices, FIFOs: nothing to write as a file
        case '4':
        case '6':
        case 'V':  // volume label
        case 'N':  // old GNU list of long names
            return;
        case 'M':
            if (o_.SpecMatch(name) && o_.BuildOutputName(name))
                o_.EntryFailed(name, E_BrokenMultiVolume, "it continues a file from the previous volume");
            return;
        default:
            // Regular files, and (as POSIX asks) every type not known here.
            ExtractFile(t, e, key);
    }
}

void TarWalker::ExtractFile(const tar::Entry& t, const ArchiveEntry& entry, const std::string& key) {
    Known k;
    k.dataPos = t.dataPos;
    k.size = t.size;
    k.realSize = t.realSize;
    k.sparse = t.sparse;
    if (t.sparse) k.sparseMap = t.sparseMap;
    ArchiveEntry e = entry;
    e.IsHardLink = false;
    e.PackedSize = t.size;
    e.UnpackedSize = t.sparse ? t.realSize : t.size;
    if (o_.SpecMatch(e.EntryName)) {
        bool blocked = false;
        if (!ProtectedPaths.empty() && !o_.Testing() && !SafeRelativeName(e.EntryName).empty() &&
            o_.BuildOutputName(e.EntryName) &&
            std::find(ProtectedPaths.begin(), ProtectedPaths.end(), o_.OutputName()) !=
                ProtectedPaths.end()) {
            o_.EntryFailed(e.EntryName, E_SameInOut, "it would replace the TAR being extracted");
            blocked = true;
        }
        if (!blocked) {
            auto r = o_.ExtractEntry(e, CrcKind::None, 0, [&](ByteSink& sink) { return CopyData(k, sink); });
            k.extracted = r == TUnBase::EntryResult::Extracted;
            k.failed = r == TUnBase::EntryResult::Failed;
        }
    }
    if (!key.empty() && (files_.size() < kMaxKnownFiles || files_.count(key))) files_[key] = std::move(k);
}

void TarWalker::ExtractHardLink(const tar::Entry& t, ArchiveEntry& e, const std::string& key) {
    if (t.size > 0) {
        // A link that carries its own copy of the data is written like a file.
        ExtractFile(t, e, key);
        return;
    }
    if (!o_.SpecMatch(e.EntryName)) return;
    std::string target = SafeRelativeName(t.linkName);
    auto it = target.empty() ? files_.end() : files_.find(target);
    if (it == files_.end()) {
        if (o_.BuildOutputName(e.EntryName))
            o_.EntryFailed(e.EntryName, E_FileNotFound,
                           "its link target " + e.LinkTarget + " is not in the archive");
        return;
    }
    Known k = it->second;
    if (k.failed) {
        // Its data did not come out once: a copy per link would write them again for every link.
        if (o_.BuildOutputName(e.EntryName))
            o_.EntryFailed(e.EntryName, E_FileNotFound,
                           "its link target " + e.LinkTarget + " could not be extracted");
        return;
    }
    if (o_.Testing() || k.extracted) {
        // The target was written by this run: link to it.
        e.IsHardLink = true;
        auto r = o_.ExtractEntry(e, CrcKind::None, 0, nullptr);
        k.extracted = r == TUnBase::EntryResult::Extracted;
    } else if (in_.Seekable()) {
        // The target was not written (not selected, or declined): the link gets a copy of its data.
        e.IsHardLink = false;
        e.PackedSize = k.size;
        e.UnpackedSize = k.sparse ? k.realSize : k.size;
        auto r = o_.ExtractEntry(e, CrcKind::None, 0, [&](ByteSink& sink) { return CopyData(k, sink); });
        k.extracted = r == TUnBase::EntryResult::Extracted;
    } else {
        if (o_.BuildOutputName(e.EntryName))
            o_.EntryFailed(e.EntryName, E_FileNotFound,
                           "its link target " + e.LinkTarget + " was not extracted");
        return;
    }
    if (!key.empty() && (files_.size() < kMaxKnownFiles || files_.count(key))) files_[key] = std::move(k);
}

DecodeResult TarWalker::CopyData(const Known& k, ByteSink& sink) {
    TarDataSource src(in_, k.dataPos, k.size);
    const CancelFlag* cancel = o_.CancelPtr();
    if (!k.sparse) return CopyStoredEntry(src, k.size, sink, k.size, cancel);
    // A sparse file: the stored chunks in order, the holes between them declared zero bytes, which the output
    // seeks over (a hole of any size costs nothing). The map must lead forward, stay inside the file's size
    // and account for no more data than is stored.
    uint64_t produced = 0, consumed = 0;
    auto zeros = [&](uint64_t n) {
        if (!n) return;
        sink.WriteZeros(n);
        produced += n;
    };
    uint64_t at = 0, stored = 0;
    for (const auto& c : k.sparseMap) {
        if (c.offset < at || c.offset > k.realSize || c.size > k.realSize - c.offset ||
            c.size > k.size - stored)
            return MakeResult(DecodeStatus::Corrupt, E_CorruptInput, produced, consumed);
        zeros(c.offset - at);
        DecodeResult r = CopyStoredEntry(src, c.size, sink, c.size, cancel);
        produced += r.produced;
        consumed += r.consumed;
        if (!r.Ok()) return MakeResult(r.status, r.errorCode, produced, consumed);
        stored += c.size;
        at = c.offset + c.size;
    }
    zeros(k.realSize - at);
    return MakeResult(DecodeStatus::Ok, 0, produced, consumed);
}

}  // namespace varnok
