#include "archive/formats/zip/unzip.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/crypto/aes.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "archive/formats/zip/zip_method.h"
#include "platform/codepage.h"

namespace varnok {

namespace {

// Reads the data of a split set: when one part ends, the next one goes on.
class SplitSource final : public ByteSource {
  public:
    SplitSource(ZipVolumeSet& set, int disk, uint64_t offset) : set_(set), disk_(disk), pos_(offset) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t done = 0;
        while (done < n && disk_ <= set_.LastDisk()) {
            if (!f_.IsOpen() && !f_.Open(set_.PathOf(disk_), platform::File::Mode::Read)) return done;
            size_t got = f_.ReadAt(pos_, buf + done, n - done);
            done += got;
            pos_ += got;
            if (got == 0) {
                f_.Close();
                ++disk_;
                pos_ = 0;
            }
        }
        return done;
    }

  private:
    ZipVolumeSet& set_;
    int disk_;
    uint64_t pos_;
    platform::File f_;
};

// Reads the data of a set spanned over removable disks: at the end of a disk the next one is asked for.
class DiskSource final : public ByteSource {
  public:
    DiskSource(TZipCommon& c, uint64_t pos) : c_(c), pos_(pos) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t done = 0;
        while (done < n) {
            size_t got = c_.ArcFile.ReadAt(pos_, buf + done, n - done);
            done += got;
            pos_ += got;
            if (got == 0) {
                int next = c_.DiskManager.DiskNumber + 1;
                if (c_.Cancel() || !c_.RequestZipDisk(next)) {
                    c_.SetCancel(true);
                    return done;
                }
                pos_ = 0;
            }
        }
        return done;
    }

  private:
    TZipCommon& c_;
    uint64_t pos_;
};

}  // namespace

TUnZip::TUnZip() : decoder_(std::make_unique<ZipMethodDecoder>()) {}
TUnZip::~TUnZip() = default;

bool TUnZip::SplitSet() const {
    return ArcType() == atZipMV && !DiskManager.IsRemovable() && HasEndRecord && EndRecord.thisDisk > 0;
}

std::unique_ptr<ByteSource> TUnZip::DataSource(const zip::Item& s, uint64_t dataPos) {
    if (SplitSet()) {
        if (!volumes_) volumes_ = std::make_unique<ZipVolumeSet>(ArchiveFile(), EndRecord.thisDisk);
        return std::make_unique<SplitSource>(*volumes_, s.disk, dataPos);
    }
    if (ArcType() == atZipMV && DiskManager.IsRemovable())
        return std::make_unique<DiskSource>(*this, dataPos);
    return std::make_unique<FileSource>(ArcFile, dataPos);
}

void TUnZip::ExtractOne(const zip::Item& s) {
    const zip::CentralHeader& c = s.central;
    ArchiveEntry e = s.entry;
    // The exact time of the extended-timestamp fields when there is one.
    if (int64_t exact = zip::ExtraUnixTime(c.extra)) e.EntryDate = exact;
    if (e.IsDirectory || e.IsVolumeLabel) {
        ExtractEntry(e, CrcKind::Crc32, c.crc, nullptr);
        return;
    }
    // WinZip AES: method 99 with the 0x9901 field naming the strength and the real method.
    AesField aes;
    if (c.method == 99 && !FindAesField(c.extra, aes)) {
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_UnsupportedMethod, "AES encryption without its description");
        SkipProgress(c.packedSize);
        return;
    }
    if (c.method != 99 && !IsZipMethodSupported(c.method)) {
        // Refused before anything is written for it.
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_UnsupportedMethod, zip::MethodName(c.method));
        SkipProgress(c.packedSize);
        return;
    }
    if (c.flags & 0x40) {
        // PKWARE strong encryption is not the traditional cipher.
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_UnsupportedMethod, "strong encryption");
        SkipProgress(c.packedSize);
        return;
    }
    // The local header: where the data starts.
    uint64_t local = s.localOffset;
    std::unique_ptr<ByteSource> src;
    zip::LocalHeader lh;
    if (SplitSet() || (ArcType() == atZipMV && DiskManager.IsRemovable())) {
        if (ArcType() == atZipMV && DiskManager.IsRemovable() && !RequestZipDisk(s.disk + 1)) {
            RaiseError(ArchiveFile(), "", E_ReadFile, std::to_string(s.disk + 1));
        }
        auto head = DataSource(s, local);
        uint8_t fixed[zip::kLocalSize];
        if (head->Read(fixed, sizeof fixed) != sizeof fixed || Le32(fixed) != zip::kLocalSig) {
            EntryFailed(e.EntryName, E_BadFileHeader, "its local header is missing");
            return;
        }
        std::vector<uint8_t> skip(static_cast<size_t>(Le16(fixed + 26)) + Le16(fixed + 28));
        if (!skip.empty() && head->Read(skip.data(), skip.size()) != skip.size()) {
            EntryFailed(e.EntryName, E_BadFileHeader, "its local header is cut short");
            return;
        }
        lh.dosTime = Le32(fixed + 10);
        lh.crc = Le32(fixed + 14);
        lh.flags = Le16(fixed + 6);
        src = std::move(head);
    } else {
        if (!zip::ReadLocalHeader(ArcFile, local, lh)) {
            EntryFailed(e.EntryName, E_BadFileHeader, "its local header is missing");
            return;
        }
        src = std::make_unique<FileSource>(ArcFile, local + lh.headerSize());
    }
    uint64_t packed = c.packedSize;
    if (c.method == 99) {
        ExtractAes(s, e, *src, aes);
        return;
    }
    if (e.Encrypted) {
        if (!PasswordFailed()) {
            uint8_t header[12];
            if (packed < 12 || src->Read(header, 12) != 12) {
                EntryFailed(e.EntryName, E_BadFileHeader, "the encryption header is missing");
                return;
            }
            // The check byte: the time when sizes follow the data, otherwise the CRC's high byte.
            uint16_t flags = lh.flags ? lh.flags : c.flags;
            uint32_t crc = (flags & 8) ? c.crc : (lh.crc ? lh.crc : c.crc);
            uint32_t time = lh.dosTime ? lh.dosTime : c.dosTime;
            if (!SplitSet() && !(ArcType() == atZipMV && DiskManager.IsRemovable()))
                ChooseAmongPasswords(header, flags, time, crc, c, local + lh.headerSize() + 12);
            if (!CheckZipPassword(header, e.EntryName, flags, time, crc, cipher_)) SetPasswordFailed();
        }
        packed = packed >= 12 ? packed - 12 : 0;
    }
    LimitedSource limited(*src, packed);
    TransformSource decrypted(limited, [this](uint8_t* b, size_t n) { cipher_.Decrypt(b, n); });
    ByteSource& input = e.Encrypted ? static_cast<ByteSource&>(decrypted) : limited;
    if (e.IsSymlink && !PasswordFailed()) {
        // The link's target is the entry's data.
        VectorSink target(4096);
        DecodeResult r = decoder_->Decode(c.method, c.flags, c.unpackedSize, input, target, CancelPtr());
        if (!r.Ok() || Crc32(target.Data()) != c.crc) {
            BuildOutputName(e.EntryName);
            EntryFailed(e.EntryName, E_CrcCheck, "the link's target is damaged");
            return;
        }
        e.LinkTarget.assign(target.Data().begin(), target.Data().end());
        ExtractEntry(e, CrcKind::Crc32, c.crc, nullptr);
        return;
    }
    ExtractEntry(e, CrcKind::Crc32, c.crc, [&](ByteSink& sink) {
        return decoder_->Decode(c.method, c.flags, c.unpackedSize, input, sink, CancelPtr());
    });
}

void TUnZip::ChooseAmongPasswords(const uint8_t header[12], uint16_t flags, uint32_t time, uint32_t crc,
                                  const zip::CentralHeader& c, uint64_t dataPos) {
    // The header check is one byte: a wrong password passes it once in 256 tries. When several known
    // passwords pass, the one whose decoded data match the CRC is taken, so that a list of passwords cannot
    // pick a wrong one by chance.
    std::vector<std::string> candidates;
    ZipCipher probe;
    if (probe.CheckCryptHeader(header, Password, flags, time, crc)) candidates.push_back(Password);
    for (const auto& p : Passwords)
        if (p != Password && probe.CheckCryptHeader(header, p, flags, time, crc)) candidates.push_back(p);
    if (candidates.size() < 2) return;
    for (const auto& p : candidates) {
        ZipCipher keys;
        keys.CheckCryptHeader(header, p, flags, time, crc);
        FileSource raw(ArcFile, dataPos);
        LimitedSource limited(raw, c.packedSize >= 12 ? c.packedSize - 12 : 0);
        TransformSource plain(limited, [&keys](uint8_t* b, size_t n) { keys.Decrypt(b, n); });
        class CrcSink final : public ByteSink {
          public:
            void Write(const uint8_t* buf, size_t n) override { crc = UpdateCrc32(crc, buf, n); }
            uint32_t crc = 0xFFFFFFFF;
        } sink;
        DecodeResult r = decoder_->Decode(c.method, c.flags, c.unpackedSize, plain, sink, CancelPtr());
        if (r.Ok() && ~sink.crc == c.crc) {
            Password = p;
            return;
        }
    }
}

bool TUnZip::FindAesField(const std::vector<uint8_t>& extra, AesField& f) {
    for (size_t i = 0; i + 4 <= extra.size();) {
        uint16_t id = Le16(&extra[i]), len = Le16(&extra[i + 2]);
        if (i + 4 + len > extra.size()) break;
        if (id == 0x9901 && len >= 7 && extra[i + 6] == 'A' && extra[i + 7] == 'E') {
            f.version = Le16(&extra[i + 4]);
            f.strength = extra[i + 8];
            f.method = Le16(&extra[i + 9]);
            return f.strength >= 1 && f.strength <= 3;
        }
        i += 4 + len;
    }
    return false;
}

void TUnZip::ExtractAes(const zip::Item& s, ArchiveEntry& e, ByteSource& src, const AesField& aes) {
    const zip::CentralHeader& c = s.central;
    const size_t saltLen = crypto::WinZipAes::SaltLength(aes.strength);
    const uint64_t overhead = saltLen + 2 + 10;
    crypto::WinZipAes cipher;
    e.Encrypted = true;
    if (c.packedSize < overhead) {
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_BadFileHeader, "the AES header is cut short");
        return;
    }
    uint8_t head[18];
    if (src.Read(head, saltLen + 2) != saltLen + 2) {
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_BadFileHeader, "the AES header is cut short");
        return;
    }
    if (!IsZipMethodSupported(aes.method)) {
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_UnsupportedMethod, zip::MethodName(aes.method));
        return;
    }
    if (!PasswordFailed() && !AcquirePassword(e.EntryName, [&](const std::string& pw) {
            return cipher.Init(pw, aes.strength, head, head + saltLen);
        }))
        SetPasswordFailed();
    // The data are decrypted while read; the authentication code covers every encrypted byte.
    LimitedSource limited(src, c.packedSize - overhead);
    TransformSource plain(limited, [&cipher](uint8_t* b, size_t n) { cipher.Decrypt(b, n); });
    // Version 1 keeps the CRC-32 of the data; version 2 leaves it out and relies on the authentication code.
    const bool checkCrc = aes.version == 1;
    auto decode = [&](ByteSink& sink) {
        class CrcSink final : public ByteSink {
          public:
            explicit CrcSink(ByteSink& out) : out_(out) {}
            void Write(const uint8_t* buf, size_t n) override {
                crc = UpdateCrc32(crc, buf, n);
                out_.Write(buf, n);
            }
            uint32_t crc = 0xFFFFFFFF;

          private:
            ByteSink& out_;
        } checked(sink);
        DecodeResult r = decoder_->Decode(aes.method, c.flags, c.unpackedSize, plain, checked, CancelPtr());
        // Whatever the decoder left unread still counts for the authentication code.
        uint8_t rest[4096];
        while (plain.Read(rest, sizeof rest) > 0) {
        }
        uint8_t code[10];
        if (src.Read(code, 10) != 10 || !cipher.Authentic(code)) {
            if (r.Ok()) r = MakeResult(DecodeStatus::Corrupt, E_CrcCheck, r.produced, r.consumed);
        } else if (checkCrc && ~checked.crc != c.crc && r.Ok()) {
            r = MakeResult(DecodeStatus::Corrupt, E_CrcCheck, r.produced, r.consumed);
        }
        return r;
    };
    if (e.IsSymlink && !PasswordFailed()) {
        // The link's target is the entry's data.
        VectorSink target(4096);
        if (!decode(target).Ok()) {
            BuildOutputName(e.EntryName);
            EntryFailed(e.EntryName, E_CrcCheck, "the link's target is damaged");
            return;
        }
        e.LinkTarget.assign(target.Data().begin(), target.Data().end());
        ExtractEntry(e, CrcKind::None, 0, nullptr);
        return;
    }
    ExtractEntry(e, CrcKind::None, 0, decode);
}

void TUnZip::ProcessArchive() {
    volumes_.reset();
    zip::Walk walk(*this);
    zip::OverlapCheck overlaps;
    auto selected = Collect(walk, [&overlaps](const zip::Item& i) { overlaps.Add(i); });
    if (const auto clash = overlaps.Find()) {
        // Entries sharing their data: a small archive that extracts to many times its size. Nothing of it is
        // extracted (unzip refuses such files too).
        RaiseError(ArchiveFile(),
                   "the data of \"" + clash->first + "\" and \"" + clash->second +
                       "\" overlap: entries that share their data are a ZIP bomb; nothing is extracted",
                   E_BadFileHeader);
    }
    for (const zip::Item& s : selected) {
        if (Cancel()) return;
        ExtractOne(s);
    }
}

}  // namespace varnok
