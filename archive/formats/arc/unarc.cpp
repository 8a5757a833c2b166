#include "archive/formats/arc/unarc.h"

#include "archive/core/crc.h"
#include "archive/core/utils.h"
#include "archive/formats/arc/arc_codecs.h"

namespace varnok {

namespace {

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

bool TUnArc::DecodesWithKey(const arc::Item& s, const std::string& key) {
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

std::string TUnArc::ChooseKey(const arc::Item& s) {
    if (!passwordGiven_ || DecodesWithKey(s, {})) return {};
    std::string chosen;
    bool found = AcquirePassword(s.entry.EntryName, [&](const std::string& password) {
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

void TUnArc::ExtractOne(const arc::Item& s) {
    const arc::Header& h = s.header;
    const ArchiveEntry& e = s.entry;
    if (e.IsDirectory) {
        ExtractEntry(e, CrcKind::None, 0, nullptr);
        return;
    }
    if (!ArcMethodSupported(h.method)) {
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_UnsupportedMethod, "method " + std::to_string(h.method));
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
    arc::Walk walk(*this);
    for (const arc::Item& s : Collect(walk)) {
        if (Cancel()) return;
        ExtractOne(s);
    }
}

}  // namespace varnok
