#include "archive/formats/arc/unarc.h"

#include "archive/core/crc.h"
#include "archive/core/utils.h"
#include "archive/formats/arc/arc_codecs.h"
#include "platform/codepage.h"

namespace varnok {

namespace {

constexpr int kMaxEntries = 1'000'000;
constexpr size_t kMaxFolderDepth = 64;

// Counts what a trial decoding produces and keeps its CRC-16; stops the decoder once the data runs past the
// entry's size.
class TrialSink final : public ByteSink {
  public:
    struct TooLong {};
    explicit TrialSink(uint64_t limit) : limit_(limit) {}
    void Write(const uint8_t* buf, size_t n) override {
        if (n > limit_ - count_) throw TooLong{};
        crc_ = UpdateCrc16(crc_, buf, n);
        count_ += n;
    }
    uint16_t Crc() const { return crc_; }
    uint64_t Count() const { return count_; }

  private:
    uint64_t limit_;
    uint64_t count_ = 0;
    uint16_t crc_ = 0;
};

}  // namespace

size_t GarbledSource::Read(uint8_t* buf, size_t n) {
    size_t got = inner_.Read(buf, n);
    if (!key_.empty()) {
        for (size_t i = 0; i < got; ++i) {
            buf[i] ^= static_cast<uint8_t>(key_[pos_]);
            if (++pos_ == key_.size()) pos_ = 0;
        }
    }
    return got;
}

std::vector<std::string> GarbleKeys(const std::string& password) {
    std::vector<std::string> keys;
    if (password.empty()) return keys;
    keys.push_back(password);
    std::string upper = UpperAscii(password);
    if (upper != password) keys.push_back(upper);
    return keys;
}

TUnArc::TUnArc() : decoder_(std::make_unique<ArcDecoder>()) {}
TUnArc::~TUnArc() = default;

bool TUnArc::AcceptsType(TArcType t) const {
    return t == atArc || t == atArcExe || t == atPak || t == atPakExe;
}

void TUnArc::Collect(std::vector<Selected>& out) {
    uint64_t pos = StartOffset;
    std::vector<std::string> folders;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (Cancel()) return;
        Selected s;
        auto r = arc::ReadHeader(ArcFile, pos, ArchiveEnd, s.header);
        if (r == arc::ReadResult::End) {
            // The end of a folder's entries: back to the folder around it.
            if (s.header.method == arc::kEndOfDirectory && !folders.empty()) {
                folders.pop_back();
                pos = s.header.nextPos;
                continue;
            }
            return;
        }
        if (r == arc::ReadResult::Bad) {
            EntryFailed(ArchiveFile(), E_BadFileHeader,
                        "the entry header at offset " + std::to_string(pos) + " is damaged");
            return;
        }
        std::string name = TranslateOemChar ? platform::ToDisplayUtf8(s.header.name) : s.header.name;
        for (char& c : name)
            if (c == '\\') c = '/';
        std::string path;
        for (const auto& f : folders)
            path += f + "/";
        s.name = path + name;
        s.directory = s.header.method == arc::kDirectory;
        if (s.directory) {
            if (folders.size() >= kMaxFolderDepth) {
                EntryFailed(s.name, E_TooManyNestedDirs);
                return;
            }
            folders.push_back(name);
            if (SpecMatch(s.name + "/x")) out.push_back(s);
        } else if (SpecMatch(s.name)) {
            out.push_back(s);
        }
        // Headers follow each other forward; anything else is damage that would loop.
        if (s.header.nextPos <= pos) return;
        pos = s.header.nextPos;
    }
}

bool TUnArc::DecodesWithKey(const Selected& s, const std::string& key) {
    const arc::Header& h = s.header;
    FileSource file(ArcFile, h.dataPos);
    LimitedSource limited(file, h.packedSize);
    GarbledSource garbled(limited, key);
    TrialSink sink(h.unpackedSize);
    try {
        decoder_->Decode(h.method, garbled, sink, CancelPtr());
    } catch (const TrialSink::TooLong&) {
        return false;
    }
    return sink.Count() == h.unpackedSize && sink.Crc() == h.crc;
}

std::string TUnArc::ChooseKey(const Selected& s) {
    if (!passwordGiven_ || DecodesWithKey(s, {})) return {};
    std::string chosen;
    bool found = AcquirePassword(s.name, [&](const std::string& password) {
        for (const auto& key : GarbleKeys(password)) {
            if (DecodesWithKey(s, key)) {
                chosen = key;
                return true;
            }
        }
        return false;
    });
    // Without a fitting password the data is taken as it stands; its CRC check then reports the entry.
    return found ? chosen : std::string();
}

void TUnArc::ExtractOne(const Selected& s) {
    const arc::Header& h = s.header;
    UnEntry e;
    e.name = s.name;
    e.packedSize = s.directory ? 0 : h.packedSize;
    e.unpackedSize = s.directory ? 0 : h.unpackedSize;
    e.date = DosToUnixTime(h.dosTime);
    e.attributes = s.directory ? 0x10 : 0x20;
    e.isDirectory = s.directory;
    if (s.directory) {
        ExtractEntry(e, CrcKind::None, 0, nullptr);
        return;
    }
    if (!ArcMethodSupported(h.method)) {
        BuildOutputName(s.name);
        EntryFailed(s.name, E_UnsupportedMethod, "method " + std::to_string(h.method));
        SkipProgress(h.unpackedSize);
        return;
    }
    std::string key = ChooseKey(s);
    ExtractEntry(e, CrcKind::Crc16, h.crc, [&](ByteSink& sink) {
        FileSource file(ArcFile, h.dataPos);
        LimitedSource limited(file, h.packedSize);
        GarbledSource garbled(limited, key);
        return decoder_->Decode(h.method, garbled, sink, CancelPtr());
    });
}

void TUnArc::ProcessArchive() {
    passwordGiven_ = !Password.empty() || !Passwords.empty();
    std::vector<Selected> list;
    Collect(list);
    uint64_t total = 0;
    for (const auto& s : list)
        total += s.directory ? 0 : s.header.unpackedSize;
    SetRunTotal(total);
    for (const auto& s : list) {
        if (Cancel()) return;
        ExtractOne(s);
    }
}

}  // namespace varnok
