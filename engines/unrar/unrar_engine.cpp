#include "engines/unrar/unrar_engine.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "archive/core/crc.h"
#include "archive/core/crypto/blake2sp.h"
#include "archive/core/errors.h"
#include "archive/core/unbase.h"
#include "archive/core/utils.h"
#include "archive/formats/rar/rar5_decoder.h"
#include "archive/formats/rar/rar_crypt.h"

namespace varnok::unrar {

namespace {

constexpr uint64_t kMaxBlocks = 10'000'000;     // headers walked per archive at most
constexpr size_t kMaxVolumes = 10'000;          // volumes of a set at most
constexpr uint64_t kSfxScan = 16u << 20;        // how far into a self-extractor the archive is looked for

bool EqualsNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
}

// A RAR 5 variable-length integer, bounded by n.
bool Vint(const uint8_t* p, size_t n, size_t& i, uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (i >= n) return false;
        const uint8_t c = p[i++];
        v |= static_cast<uint64_t>(c & 0x7F) << shift;
        if (!(c & 0x80)) return true;
    }
    return false;
}

// The flags of a RAR 5 end-of-archive block (bit 0: more volumes follow); 0 when unreadable.
uint64_t EndFlags5(const platform::File& f, uint64_t pos) {
    uint8_t h[64];
    const size_t n = f.ReadAt(pos, h, sizeof h);
    size_t i = 4;
    uint64_t size, type, flags, skip, endFlags;
    if (!Vint(h, n, i, size) || !Vint(h, n, i, type) || !Vint(h, n, i, flags)) return 0;
    if ((flags & 1) && !Vint(h, n, i, skip)) return 0;
    if ((flags & 2) && !Vint(h, n, i, skip)) return 0;
    return Vint(h, n, i, endFlags) ? endFlags : 0;
}

rar::ReadResult ReadBlock(rar::Format fmt, const platform::File& f, uint64_t pos, uint64_t size, rar::Block& b,
                          rar::HeaderCrypt* crypt = nullptr) {
    return fmt == rar::Format::Rar4 ? rar::ReadBlock4(f, pos, size, b, crypt) : rar::ReadBlock5(f, pos, size, b, crypt);
}

// Owns the packed source under a decrypting one.
class OwningDecrypt final : public ByteSource {
  public:
    explicit OwningDecrypt(std::unique_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
    size_t Read(uint8_t* buf, size_t n) override { return dec_ ? dec_->Read(buf, n) : 0; }
    ByteSource& Inner() { return *inner_; }
    std::unique_ptr<rar::DecryptingSource> dec_;

  private:
    std::unique_ptr<ByteSource> inner_;
};

uint64_t MarkerSize(rar::Format fmt) {
    return fmt == rar::Format::Rar4 ? rar::kMarker4Size : rar::kMarker5Size;
}

// Where the archive starts: at 0, or (a self-extractor) at the first marker followed by a readable main header.
bool FindStart(const platform::File& f, uint64_t size, uint64_t& start, rar::Format& fmt) {
    std::vector<uint8_t> buf(1u << 16);
    const uint64_t limit = std::min(size, kSfxScan);
    for (uint64_t base = 0; base < limit; base += buf.size() - 8) {
        const size_t n = f.ReadAt(base, buf.data(), buf.size());
        if (n < 7) break;
        for (size_t i = 0; i + 7 <= n; ++i) {
            if (buf[i] != 'R' || std::memcmp(&buf[i], "Rar!\x1A\x07", 6) != 0) continue;
            const rar::Format found = rar::DetectFormat(f, base + i);
            if (found == rar::Format::None) continue;
            rar::Block b;
            if (ReadBlock(found, f, base + i + MarkerSize(found), size, b) != rar::ReadResult::Ok) continue;
            // The archive header, or (RAR 5 with encrypted headers) the encryption header before it.
            if (found == rar::Format::Rar4 ? b.type != 0x73 : (b.type != 1 && b.type != 4)) continue;
            start = base + i;
            fmt = found;
            return true;
        }
        if (n < buf.size()) break;
    }
    return false;
}

// Creates the folders of path that are missing (the file's own name excluded).
bool MakeParentFolders(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/') continue;
        const std::string dir = path.substr(0, i);
        struct stat st;
        if (lstat(dir.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) return false;
            continue;
        }
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// The output of an extraction: a temporary file beside the destination, renamed into place at the end.
class Output {
  public:
    explicit Output(std::string dest) : dest_(std::move(dest)) {}
    ~Output() { Discard(); }
    bool Write(const uint8_t* p, size_t n, int& code, std::string& why) {
        if (fd_ < 0 && !Create(code, why)) return false;
        while (n) {
            const ssize_t w = ::write(fd_, p, n);
            if (w <= 0) {
                code = RAR_ERR_EWRITE;
                why = dest_ + ": " + std::strerror(errno);
                return false;
            }
            p += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
    bool Finish(int& code, std::string& why) {
        if (fd_ < 0 && !Create(code, why)) return false;
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            code = RAR_ERR_ECLOSE;
            why = dest_ + ": " + std::strerror(errno);
            ::unlink(temp_.c_str());
            return false;
        }
        if (::rename(temp_.c_str(), dest_.c_str()) != 0) {
            code = RAR_ERR_ECREATE;
            why = dest_ + ": " + std::strerror(errno);
            ::unlink(temp_.c_str());
            return false;
        }
        temp_.clear();
        return true;
    }
    void Discard() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!temp_.empty()) ::unlink(temp_.c_str());
        temp_.clear();
    }

  private:
    bool Create(int& code, std::string& why) {
        if (!CreateTemp(why)) {
            code = RAR_ERR_ECREATE;
            return false;
        }
        return true;
    }
    bool CreateTemp(std::string& why) {
        const size_t slash = dest_.find_last_of('/');
        const std::string dir = slash == std::string::npos ? "." : dest_.substr(0, slash == 0 ? 1 : slash);
        struct stat st;
        if (lstat(dest_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            why = dest_ + ": a folder of that name exists";
            return false;
        }
        if (!MakeParentFolders(dest_)) {
            why = dest_ + ": its folder cannot be created";
            return false;
        }
        std::string tmpl = (dir == "/" ? std::string() : dir) + "/.vnkrar.XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) {
            why = dest_ + ": " + std::strerror(errno);
            return false;
        }
        temp_ = name.data();
        ::fchmod(fd_, 0644);
        return true;
    }

    std::string dest_, temp_;
    int fd_ = -1;
};

// Where a decoded entry goes: its size enforced, its CRC taken, the output file and the data callback fed.
// A failure is kept (code and reason) and thrown on as ArchiveError to stop the decoder.
class DeliverSink final : public ByteSink {
  public:
    DeliverSink(uint64_t size, Output* out, RarDataProc proc) : size_(size), out_(out), proc_(proc) {}
    void Write(const uint8_t* p, size_t n) override {
        if (n > size_ - total_) Stop(RAR_ERR_BAD_DATA, "more data than the header's size");
        total_ += n;
        crc_ = UpdateCrc32(crc_, p, n);
        if (blake2_) blake2_->Update(p, n);
        if (out_ && !out_->Write(p, n, code_, why_)) throw ArchiveError(E_WriteFile);
        while (proc_ && n) {
            const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(n, 1u << 30));
            if (!proc_(p, piece)) Stop(RAR_ERR_USER, "stopped by the caller");
            p += piece;
            n -= piece;
        }
    }
    uint64_t Total() const { return total_; }
    uint32_t Crc() const { return ~crc_; }
    // RAR 5 entries may be checked by BLAKE2sp: taken from the start when asked for before the first byte.
    void WantBlake2() {
        if (!blake2_ && total_ == 0) blake2_ = std::make_unique<crypto::Blake2sp>();
    }
    bool HasBlake2() const { return blake2_ != nullptr; }
    std::array<uint8_t, 32> Blake2() { return blake2_->Finish(); }
    int code_ = RAR_OK;
    std::string why_;

  private:
    [[noreturn]] void Stop(int code, const char* why) {
        code_ = code;
        why_ = why;
        throw ArchiveError(E_WriteFile);
    }
    uint64_t size_;
    Output* out_;
    RarDataProc proc_;
    uint64_t total_ = 0;
    uint32_t crc_ = 0xFFFFFFFFu;
    std::unique_ptr<crypto::Blake2sp> blake2_;
};

void CopyName(char (&dst)[RAR_NAME_SIZE], const std::string& s) {
    const size_t n = std::min(s.size(), sizeof dst - 1);
    std::memcpy(dst, s.data(), n);
    dst[n] = '\0';
}

}  // namespace

std::string NextVolumeName(const std::string& current) {
    const size_t slash = current.find_last_of('/');
    const size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = current.find_last_of('.');
    if (dot == std::string::npos || dot < fileStart) return {};
    const std::string ext = current.substr(dot + 1);
    const std::string stem = current.substr(0, dot);
    // name.partN.rar (or .exe for a self-extracting first volume): N counts up.
    if (EqualsNoCase(ext, "rar") || EqualsNoCase(ext, "exe")) {
        size_t d = stem.size();
        while (d > fileStart && std::isdigit(static_cast<unsigned char>(stem[d - 1])))
            --d;
        if (d < stem.size() && d >= fileStart + 4 && EqualsNoCase(stem.substr(d - 4, 4), "part")) {
            std::string digits = stem.substr(d);
            int i = static_cast<int>(digits.size()) - 1;
            while (i >= 0 && digits[static_cast<size_t>(i)] == '9')
                digits[static_cast<size_t>(i--)] = '0';
            if (i < 0)
                digits.insert(digits.begin(), '1');
            else
                ++digits[static_cast<size_t>(i)];
            const bool upper = ext[0] == 'R' || ext[0] == 'E';
            return stem.substr(0, d) + digits + (upper ? ".RAR" : ".rar");
        }
        return stem + (std::isupper(static_cast<unsigned char>(ext[0])) ? ".R00" : ".r00");
    }
    // name.r00 .. name.r99, then name.s00 ...
    if (ext.size() == 3 && std::isalpha(static_cast<unsigned char>(ext[0])) &&
        std::isdigit(static_cast<unsigned char>(ext[1])) && std::isdigit(static_cast<unsigned char>(ext[2]))) {
        int n = (ext[1] - '0') * 10 + (ext[2] - '0') + 1;
        char letter = ext[0];
        if (n > 99) {
            if (letter == 'z' || letter == 'Z') return {};
            ++letter;
            n = 0;
        }
        std::string next = stem + ".";
        next += letter;
        next += static_cast<char>('0' + n / 10);
        next += static_cast<char>('0' + n % 10);
        return next;
    }
    return {};
}

Session* Session::Open(RAROpenArchiveData* data) {
    if (!data) return nullptr;
    data->OpenResult = RAR_OK;
    data->CmtSize = 0;
    data->CmtState = 0;
    if (!data->ArcName || !*data->ArcName) {
        data->OpenResult = RAR_ERR_EOPEN;
        return nullptr;
    }
    if (std::strlen(data->ArcName) >= RAR_NAME_SIZE) {
        data->OpenResult = RAR_ERR_EOPEN;
        return nullptr;
    }
    auto* s = new (std::nothrow) Session;
    if (!s) {
        data->OpenResult = RAR_ERR_NO_MEMORY;
        return nullptr;
    }
    s->volumes_.push_back(data->ArcName);
    s->continues_.push_back(-1);
    if (!s->hf_.Open(data->ArcName, platform::File::Mode::Read)) {
        data->OpenResult = RAR_ERR_EOPEN;
        delete s;
        return nullptr;
    }
    s->hsize_ = s->hf_.Size();
    if (!FindStart(s->hf_, s->hsize_, s->start_, s->fmt_)) {
        data->OpenResult = RAR_ERR_BAD_ARCHIVE;
        delete s;
        return nullptr;
    }
    s->hpos_ = s->start_ + MarkerSize(s->fmt_);
    // Encrypted entries are decrypted on their way from the packed bytes to the decoder.
    s->packedWrapper_ = [s](std::unique_ptr<ByteSource> src, const rar::Block& b) {
        return s->Decrypting(std::move(src), b);
    };
    return s;
}

Session::~Session() = default;

int Session::Fail(int code, std::string why) {
    error_ = std::move(why);
    return code;
}

bool Session::HaveVolume(size_t k) {
    if (k < volumes_.size()) return true;
    if (k != volumes_.size() || k >= kMaxVolumes) return false;
    const std::string proposed = NextVolumeName(volumes_.back());
    if (proposed.empty()) {
        error_ = "no name follows " + volumes_.back() + " in a set of volumes";
        return false;
    }
    if (proposed.size() >= RAR_NAME_SIZE) {
        error_ = "the name of the volume after " + volumes_.back() + " is too long";
        return false;
    }
    if (!volProc_) {
        error_ = "the next volume " + proposed + " was not confirmed (no volume callback)";
        return false;
    }
    char buf[RAR_NAME_SIZE] = {};
    std::memcpy(buf, proposed.data(), proposed.size());
    struct stat st;
    const int mode = stat(proposed.c_str(), &st) == 0 ? RAR_VOL_NOTIFY : RAR_VOL_ASK;
    if (!volProc_(buf, mode)) {
        error_ = "the next volume " + proposed + " is missing or was refused";
        return false;
    }
    buf[sizeof buf - 1] = '\0';
    const std::string confirmed(buf);
    platform::File probe;
    if (confirmed.empty() || !probe.Open(confirmed, platform::File::Mode::Read)) {
        error_ = "the next volume " + (confirmed.empty() ? proposed : confirmed) + " does not open";
        return false;
    }
    volumes_.push_back(confirmed);
    continues_.push_back(-1);
    return true;
}

bool Session::ContinuesAfter(size_t k) {
    if (k >= volumes_.size()) return false;
    if (continues_[k] >= 0) return continues_[k] == 1;
    platform::File f;
    bool more = false;
    if (f.Open(volumes_[k], platform::File::Mode::Read)) {
        const uint64_t size = f.Size();
        uint64_t start = 0;
        rar::Format fmt = rar::DetectFormat(f, 0);
        if (k == 0) {
            start = start_;
            fmt = fmt_;
        }
        if (fmt != rar::Format::None) {
            uint64_t pos = start + MarkerSize(fmt);
            bool multi = false, lastSplit = false;
            rar::HeaderCrypt crypt;
            crypt.password = password_;
            for (uint64_t n = 0; n < kMaxBlocks; ++n) {
                rar::Block b;
                const rar::ReadResult r = ReadBlock(fmt, f, pos, size, b, &crypt);
                if (r == rar::ReadResult::Bad) break;
                if (r == rar::ReadResult::End) {
                    if (pos < size) {
                        // An end block: it says whether another volume follows.
                        if (fmt == rar::Format::Rar4 && (b.flags & 0x0001)) lastSplit = true;
                        if (fmt == rar::Format::Rar5 && (b.moreVolumes || (EndFlags5(f, pos) & 1))) lastSplit = true;
                    }
                    break;
                }
                if (b.multiVolume) multi = true;
                if (b.isFile) lastSplit = b.splitAfter;
                if (b.nextPos <= pos) break;
                pos = b.nextPos;
            }
            more = multi && lastSplit;
        }
    }
    continues_[k] = more ? 1 : 0;
    return more;
}

bool Session::OpenHeaderVolume(size_t k) {
    if (!HaveVolume(k)) return false;
    platform::File f;
    if (!f.Open(volumes_[k], platform::File::Mode::Read)) {
        error_ = volumes_[k] + ": " + platform::LastErrorText();
        return false;
    }
    const rar::Format fmt = rar::DetectFormat(f, 0);
    if (fmt == rar::Format::None) {
        error_ = volumes_[k] + " is not a volume of a RAR archive";
        return false;
    }
    hf_ = std::move(f);
    hsize_ = hf_.Size();
    hvol_ = k;
    fmt_ = fmt;
    hpos_ = MarkerSize(fmt);
    hcrypt_.active = false;  // each volume has its own main (and encryption) header
    return true;
}

int Session::ReadHeader(RARHeaderData* h) {
    if (!h) return Fail(RAR_ERR_BAD_ARCHIVE, "no header record");
    if (fatal_) return fatal_;
    haveCur_ = false;
    while (blocks_++ < kMaxBlocks) {
        rar::Block b;
        const uint64_t here = hpos_;
        hcrypt_.password = password_;
        const rar::ReadResult r = ReadBlock(fmt_, hf_, hpos_, hsize_, b, &hcrypt_);
        if (r == rar::ReadResult::Bad && hcrypt_.active) {
            // An encrypted header that does not check out: RAR 4 tells a wrong password only this way.
            fatal_ = RAR_ERR_PASSWORD;
            return Fail(fatal_, "the archive's headers do not decrypt with the password (a wrong password, or "
                                "damage at offset " + std::to_string(here) + ")");
        }
        if (r == rar::ReadResult::Bad) {
            fatal_ = RAR_ERR_BAD_DATA;
            return Fail(fatal_, "a damaged header at offset " + std::to_string(here) + " of " + volumes_[hvol_]);
        }
        if (r == rar::ReadResult::End) {
            if (!ContinuesAfter(hvol_)) {
                fatal_ = RAR_ERR_END_ARCHIVE;
                return fatal_;
            }
            if (!OpenHeaderVolume(hvol_ + 1)) {
                fatal_ = RAR_ERR_VOLUME;
                volumeMissing_ = true;
                return fatal_;
            }
            continue;
        }
        if (b.nextPos <= here) {
            fatal_ = RAR_ERR_BAD_DATA;
            return Fail(fatal_, "a header that points back at offset " + std::to_string(here));
        }
        hpos_ = b.nextPos;
        if (b.headersEncrypted && !hcrypt_.active) {
            fatal_ = hcrypt_.unsupported ? RAR_ERR_UNKNOWN_FORMAT : RAR_ERR_PASSWORD;
            return Fail(fatal_, password_.empty()    ? "the archive's headers are encrypted and no password was given"
                                : hcrypt_.unsupported ? "the archive's headers use a cipher or key derivation this "
                                                        "library does not take"
                                                      : "the password does not fit the archive's encrypted headers");
        }
        if (b.multiVolume) multi_ = true;
        if (!b.isFile || b.splitBefore) continue;  // service blocks; parts continuing an earlier file
        if (b.name.size() >= RAR_NAME_SIZE) {
            fatal_ = RAR_ERR_BAD_DATA;
            return Fail(fatal_, "a file name of " + std::to_string(b.name.size()) + " bytes");
        }
        cur_ = b;
        curVol_ = hvol_;
        haveCur_ = true;
        ++ordinal_;
        std::memset(h, 0, sizeof *h);
        CopyName(h->ArcName, volumes_[hvol_]);
        CopyName(h->FileName, b.name);
        h->PackSize = b.dataSize;
        h->UnpSize = b.unpackedSize;
        h->FileCRC = b.crc;
        h->Method = b.method;
        h->FileAttr = b.attributes;
        if (fmt_ == rar::Format::Rar4) {
            h->Flags = b.flags & 0xFFFF;
            h->HostOS = b.hostOs;
            h->FileTime = b.dosTime;
            h->UnpVer = b.versionNeeded;
        } else {
            h->Flags = (b.splitBefore ? RAR_FLAG_SPLIT_BEFORE : 0) | (b.splitAfter ? RAR_FLAG_SPLIT_AFTER : 0) |
                       (b.encrypted ? RAR_FLAG_PASSWORD : 0) | (b.solid ? RAR_FLAG_SOLID : 0) |
                       (b.isDirectory ? RAR_FLAG_DIRECTORY : 0);
            h->HostOS = b.hostOs == 1 ? RAR_OS_UNIX : RAR_OS_WIN32;
            h->FileTime = b.unixTime ? UnixToDosTime(b.unixTime) : 0;
            h->UnpVer = 50;
            // A checksum stored as a MAC of the password is no CRC of the data: the verdict is the library's.
            rar::Rar5Crypt c;
            if (b.encrypted && rar::ParseRar5Crypt(b.cryptRecord.data(), b.cryptRecord.size(), true, c) && c.useMac)
                h->FileCRC = 0;
        }
        if (b.isDirectory) h->Flags |= RAR_FLAG_DIRECTORY;
        return RAR_OK;
    }
    fatal_ = RAR_ERR_BAD_DATA;
    return Fail(fatal_, "too many headers");
}

int Session::Process(int operation, const char* destPath, const char* destName) {
    if (!haveCur_) return Fail(RAR_ERR_BAD_ARCHIVE, "no file header was read");
    haveCur_ = false;
    if (operation == RAR_SKIP) {
        // Passed over in a solid stream: decoded later, silently, if an entry after it is wanted.
        if (fmt_ == rar::Format::Rar5 && !cur_.isDirectory && cur_.method != '0') {
            if (!cur_.solid) skipped5_.clear();
            skipped5_.push_back({cur_, curVol_});
        }
        if (fmt_ == rar::Format::Rar4 && !cur_.isDirectory && !cur_.encrypted && cur_.method != '0') {
            if (!cur_.solid) skipped_.clear();
            skipped_.push_back({cur_, curVol_});
        }
        return RAR_OK;
    }
    if (operation != RAR_TEST && operation != RAR_EXTRACT) return Fail(RAR_ERR_BAD_ARCHIVE, "unknown operation");
    std::string dest;
    if (operation == RAR_EXTRACT) {
        if (destName && *destName) {
            dest = destName;
        } else {
            const std::string rel = SafeRelativeName(cur_.name);
            if (rel.empty()) return Fail(RAR_ERR_ECREATE, cur_.name + ": the name leads outside the destination");
            const std::string base = destPath && *destPath ? destPath : ".";
            dest = base + (base.back() == '/' ? "" : "/") + rel;
        }
    }
    if (cur_.isDirectory) {
        if (operation == RAR_EXTRACT && !MakeParentFolders(dest + "/"))
            return Fail(RAR_ERR_ECREATE, dest + ": the folder cannot be created");
        return RAR_OK;
    }
    if (cur_.encrypted && password_.empty() && fmt_ == rar::Format::Rar4 && cur_.unpackedSize == 0) {
        // An empty file is empty whatever the password: nothing to decrypt, and its CRC is that of no data.
        if (cur_.crc != 0) return Fail(RAR_ERR_BAD_DATA, cur_.name + ": an empty file with a CRC of data");
        int code = RAR_OK;
        std::string why;
        if (operation == RAR_EXTRACT) {
            Output out(dest);
            if (!out.Finish(code, why)) return Fail(code, why);
        }
        return RAR_OK;
    }
    if (cur_.encrypted) {
        if (password_.empty()) return Fail(RAR_ERR_PASSWORD, cur_.name + " is encrypted and no password was given");
        if (fmt_ == rar::Format::Rar4 && cur_.versionNeeded < 20)
            return Fail(RAR_ERR_UNKNOWN_FORMAT, cur_.name + ": the RAR 1.5 cipher, which this library does not take");
    }
    int rc = fmt_ == rar::Format::Rar4 ? DecodeOwn(operation, dest) : DecodeRar5(operation, dest);
    if (rc == RAR_ERR_BAD_DATA && cur_.encrypted && fmt_ == rar::Format::Rar4) {
        // Decrypted with a wrong key, the data fail to decode or fail their CRC: RAR 2.0 to 4 store no other
        // password check.
        rc = Fail(RAR_ERR_PASSWORD, cur_.name + ": a wrong password (or damaged data): " + error_);
    }
    return rc;
}

// The packed bytes of one entry, part after part across the volumes.
class Session::PackedSource final : public ByteSource {
  public:
    PackedSource(Session& s, size_t vol, const rar::Block& b, uint32_t* lastCrc)
        : s_(s), vol_(vol), lastCrc_(lastCrc) {
        if (!f_.Open(s.volumes_[vol], platform::File::Mode::Read)) failed_ = true;
        Take(b);
    }
    size_t Read(uint8_t* buf, size_t n) override {
        for (int parts = 0; parts < 100000 && n; ++parts) {
            if (failed_) return 0;
            if (left_) {
                const size_t want = static_cast<size_t>(std::min<uint64_t>(n, left_));
                const size_t got = f_.ReadAt(pos_, buf, want);
                if (!got) {
                    failed_ = true;  // the volume ends before the data its header announces
                    return 0;
                }
                pos_ += got;
                left_ -= got;
                return got;
            }
            if (!NextPart()) return 0;
        }
        return 0;
    }
    // Follows the remaining parts' headers (without their data) so that the last part's CRC is known.
    void FinishParts() {
        for (int parts = 0; parts < 100000 && !failed_ && splitAfter_; ++parts)
            if (!NextPart()) break;
    }
    // The BLAKE2sp digest in the header of the part reached last (RAR 5), if it has one.
    const std::array<uint8_t, 32>* LastBlake2() const { return lastHasBlake2_ ? &lastBlake2_ : nullptr; }

  private:
    void Take(const rar::Block& b) {
        pos_ = b.nextPos - b.dataSize;
        left_ = b.dataSize;
        splitAfter_ = b.splitAfter;
        if (lastCrc_) *lastCrc_ = b.crc;
        lastHasBlake2_ = b.hasBlake2;
        lastBlake2_ = b.blake2;
    }
    bool NextPart() {
        if (!splitAfter_) return false;
        if (!s_.HaveVolume(vol_ + 1)) {
            s_.volumeMissing_ = true;
            failed_ = true;
            return false;
        }
        ++vol_;
        platform::File f;
        const rar::Format fmt = f.Open(s_.volumes_[vol_], platform::File::Mode::Read) ? rar::DetectFormat(f, 0)
                                                                                       : rar::Format::None;
        if (fmt != s_.fmt_) {
            s_.volumeMissing_ = true;
            failed_ = true;
            return false;
        }
        const uint64_t size = f.Size();
        uint64_t pos = MarkerSize(fmt);
        rar::HeaderCrypt crypt;
        crypt.password = s_.password_;
        for (int n = 0; n < 100000; ++n) {
            rar::Block b;
            if (ReadBlock(fmt, f, pos, size, b, &crypt) != rar::ReadResult::Ok || b.nextPos <= pos) break;
            if (b.isFile) {
                if (!b.splitBefore) break;
                f_ = std::move(f);
                Take(b);
                return true;
            }
            pos = b.nextPos;
        }
        failed_ = true;
        return false;
    }

    Session& s_;
    size_t vol_;
    uint32_t* lastCrc_;
    platform::File f_;
    uint64_t pos_ = 0, left_ = 0;
    bool splitAfter_ = false;
    bool failed_ = false;
    bool lastHasBlake2_ = false;
    std::array<uint8_t, 32> lastBlake2_{};
};

std::unique_ptr<ByteSource> Session::Decrypting(std::unique_ptr<ByteSource> src, const rar::Block& b) {
    if (!b.encrypted || password_.empty()) return src;
    auto own = std::make_unique<OwningDecrypt>(std::move(src));
    if (fmt_ == rar::Format::Rar4) {
        if (b.versionNeeded >= 29) {
            const rar::Rar3Key& k = hcrypt_.rar3.Get(password_, b.hasSalt ? b.salt.data() : nullptr);
            own->dec_ = rar::DecryptingSource::Aes(own->Inner(), k.key.data(), 16, k.iv.data());
        } else {
            own->dec_ = rar::DecryptingSource::Rar20(own->Inner(), password_);
        }
    } else {
        rar::Rar5Crypt c;
        rar::Rar5Keys keys;
        if (rar::ParseRar5Crypt(b.cryptRecord.data(), b.cryptRecord.size(), true, c) &&
            rar::DeriveRar5Keys(password_, c, keys) == rar::Rar5KdfResult::Ok)
            own->dec_ = rar::DecryptingSource::Aes(own->Inner(), keys.key.data(), 32, c.iv.data());
    }
    return own;
}

std::unique_ptr<ByteSource> Session::OpenPackedData(size_t vol, const rar::Block& b, uint32_t* lastCrc) {
    std::unique_ptr<ByteSource> src = std::make_unique<PackedSource>(*this, vol, b, lastCrc);
    if (packedWrapper_) src = packedWrapper_(std::move(src), b);
    return src;
}

int Session::DecodeSkipped() {
    std::vector<Located> todo;
    todo.swap(skipped_);
    for (const Located& e : todo) {
        DeliverSink sink(e.block.unpackedSize, nullptr, nullptr);
        auto src = OpenPackedData(e.vol, e.block);
        DecodeResult r;
        try {
            r = decoders_->Decode(e.block.versionNeeded, e.block.method, *src, sink, e.block.unpackedSize,
                                  e.block.solid);
        } catch (const ArchiveError&) {
            r.status = DecodeStatus::Corrupt;
        }
        if (!r.Ok() || sink.Total() != e.block.unpackedSize) {
            const int code = volumeMissing_ ? RAR_ERR_VOLUME : RAR_ERR_BAD_DATA;
            return Fail(code, cur_.name + ": the solid stream before it fails at " + e.block.name + " (" +
                                  (decoders_->Error().empty() ? sink.why_ : decoders_->Error()) + ")");
        }
    }
    return RAR_OK;
}

int Session::DecodeOwn(int operation, const std::string& dest) {
    if (!rar::RarDecoderSet::Supports(cur_.versionNeeded, cur_.method))
        return Fail(RAR_ERR_UNKNOWN_FORMAT, cur_.name + ": RAR " + std::to_string(cur_.versionNeeded / 10) + "." +
                                                std::to_string(cur_.versionNeeded % 10) + " method " +
                                                std::string(1, static_cast<char>(cur_.method)) +
                                                ", which this library does not decode");
    if (!decoders_) decoders_ = std::make_unique<rar::RarDecoderSet>();
    if (cur_.method != '0') {
        if (!cur_.solid) skipped_.clear();
        if (const int r = DecodeSkipped(); r != RAR_OK) return r;
    }
    Output out(dest);
    const bool extract = operation == RAR_EXTRACT;
    DeliverSink sink(cur_.unpackedSize, extract ? &out : nullptr, dataProc_);
    uint32_t lastCrc = cur_.crc;
    auto* packed = new PackedSource(*this, curVol_, cur_, &lastCrc);
    std::unique_ptr<ByteSource> src(packed);
    if (packedWrapper_) src = packedWrapper_(std::move(src), cur_);
    DecodeResult r;
    bool stopped = false;
    try {
        r = decoders_->Decode(cur_.versionNeeded, cur_.method, *src, sink, cur_.unpackedSize, cur_.solid);
    } catch (const ArchiveError&) {
        stopped = true;
    }
    int code = RAR_OK;
    std::string why;
    if (stopped) {
        code = sink.code_ != RAR_OK ? sink.code_ : RAR_ERR_BAD_DATA;
        why = sink.why_.empty() ? "the data cannot be written" : sink.why_;
    } else if (!r.Ok()) {
        code = volumeMissing_ ? RAR_ERR_VOLUME : RAR_ERR_BAD_DATA;
        why = volumeMissing_ ? error_ : decoders_->Error();
    } else if (sink.Total() != cur_.unpackedSize) {
        code = RAR_ERR_BAD_DATA;
        why = "the data end after " + std::to_string(sink.Total()) + " of " + std::to_string(cur_.unpackedSize) +
              " bytes";
    } else {
        // A split entry's CRC is in the header of its last part.
        packed->FinishParts();
        if (sink.Crc() != lastCrc) {
            code = volumeMissing_ ? RAR_ERR_VOLUME : RAR_ERR_BAD_DATA;
            why = volumeMissing_ ? error_ : "the data fail their CRC check";
        }
    }
    if (code == RAR_OK && extract) out.Finish(code, why);
    if (code != RAR_OK) {
        out.Discard();
        return Fail(code, cur_.name + ": " + why);
    }
    return RAR_OK;
}

int Session::DecodeRar5Entry(const Located& e, ByteSink& sink, uint32_t* lastCrc, std::string& why) {
    const rar::Block& b = e.block;
    rar::Rar5Crypt c;
    rar::Rar5Keys keys;
    if (b.encrypted) {
        if (password_.empty()) {
            why = "encrypted, and no password was given";
            return RAR_ERR_PASSWORD;
        }
        if (!rar::ParseRar5Crypt(b.cryptRecord.data(), b.cryptRecord.size(), true, c)) {
            why = "a damaged encryption record";
            return RAR_ERR_BAD_DATA;
        }
        switch (rar::DeriveRar5Keys(password_, c, keys)) {
            case rar::Rar5KdfResult::Ok: break;
            case rar::Rar5KdfResult::WrongPassword: why = "a wrong password"; return RAR_ERR_PASSWORD;
            case rar::Rar5KdfResult::Unsupported:
                why = "a cipher or key derivation count this library does not take";
                return RAR_ERR_UNKNOWN_FORMAT;
        }
    }
    // Damage that a wrong key would also cause: said as a wrong password when nothing checked the password.
    const int damaged = b.encrypted && !c.hasCheck ? RAR_ERR_PASSWORD : RAR_ERR_BAD_DATA;
    auto* deliver = dynamic_cast<DeliverSink*>(&sink);
    if (deliver && (b.hasBlake2 || b.splitAfter)) deliver->WantBlake2();
    auto* packed = new PackedSource(*this, e.vol, b, lastCrc);
    std::unique_ptr<ByteSource> holder(packed);
    std::unique_ptr<rar::DecryptingSource> dec;
    ByteSource* src = packed;
    if (b.encrypted) {
        dec = rar::DecryptingSource::Aes(*packed, keys.key.data(), 32, c.iv.data());
        src = dec.get();
    }
    // A split entry's packed size is known part by part only: the source's end bounds it then.
    const uint64_t packedSize = b.splitAfter ? uint64_t{1} << 56 : b.dataSize;
    try {
        if (b.method == '0') {
            std::vector<uint8_t> buf(1u << 16);
            uint64_t left = b.unpackedSize;
            while (left) {
                const size_t got = src->Read(buf.data(), static_cast<size_t>(std::min<uint64_t>(left, buf.size())));
                if (!got) break;
                sink.Write(buf.data(), got);
                left -= got;
            }
            if (left) {
                why = "the data end " + std::to_string(left) + " bytes early";
                return volumeMissing_ ? RAR_ERR_VOLUME : damaged;
            }
        } else {
            const auto r = rar5_->Decode(*src, packedSize, b.unpackedSize, b.dictionarySize, b.solid, sink,
                                         b.compVersion);
            if (r.status != rar::Rar5Decoder::Status::Ok) {
                why = volumeMissing_ ? error_ : r.why;
                return volumeMissing_ ? RAR_ERR_VOLUME
                       : r.status == rar::Rar5Decoder::Status::Unsupported ? RAR_ERR_UNKNOWN_FORMAT
                                                                          : damaged;
            }
        }
    } catch (const ArchiveError&) {
        return -1;  // the sink stopped: its own code and reason
    }
    // A split entry's checksum is in the header of its last part; a MAC when the entry says so.
    packed->FinishParts();
    if (const auto* want = packed->LastBlake2()) {
        if (deliver && deliver->HasBlake2()) {
            std::array<uint8_t, 32> digest = deliver->Blake2();
            if (b.encrypted && c.useMac) digest = rar::Rar5MacDigest(digest.data(), keys.hashKey);
            if (digest != *want) {
                why = volumeMissing_ ? error_ : "the data fail their BLAKE2sp check";
                return volumeMissing_ ? RAR_ERR_VOLUME : damaged;
            }
        }
    } else if (lastCrc && *lastCrc != 0) {
        uint32_t crc = deliver ? deliver->Crc() : 0;
        if (b.encrypted && c.useMac) crc = rar::Rar5MacCrc(crc, keys.hashKey);
        if (deliver && crc != *lastCrc) {
            why = volumeMissing_ ? error_ : "the data fail their CRC check";
            return volumeMissing_ ? RAR_ERR_VOLUME : damaged;
        }
    }
    return RAR_OK;
}

int Session::DecodeRar5(int operation, const std::string& dest) {
    if (!rar5_) rar5_ = std::make_unique<rar::Rar5Decoder>();
    if (cur_.method != '0') {
        if (!cur_.solid) skipped5_.clear();
        std::vector<Located> todo;
        todo.swap(skipped5_);
        for (const Located& e : todo) {
            DeliverSink sink(e.block.unpackedSize, nullptr, nullptr);
            uint32_t crc = e.block.crc;
            std::string why;
            int code = DecodeRar5Entry(e, sink, &crc, why);
            if (code == -1) code = sink.code_ != RAR_OK ? sink.code_ : RAR_ERR_BAD_DATA, why = sink.why_;
            if (code != RAR_OK)
                return Fail(code, cur_.name + ": the solid stream before it fails at " + e.block.name + " (" +
                                      why + ")");
        }
    }
    Output out(dest);
    const bool extract = operation == RAR_EXTRACT;
    DeliverSink sink(cur_.unpackedSize, extract ? &out : nullptr, dataProc_);
    uint32_t crc = cur_.crc;
    std::string why;
    int code = DecodeRar5Entry({cur_, curVol_}, sink, &crc, why);
    if (code == -1) {
        code = sink.code_ != RAR_OK ? sink.code_ : RAR_ERR_EWRITE;
        why = sink.why_.empty() ? "the data cannot be written" : sink.why_;
    }
    if (code == RAR_OK && sink.Total() != cur_.unpackedSize) {
        code = RAR_ERR_BAD_DATA;
        why = "the data end after " + std::to_string(sink.Total()) + " of " + std::to_string(cur_.unpackedSize) +
              " bytes";
    }
    if (code == RAR_OK && extract) out.Finish(code, why);
    if (code != RAR_OK) {
        out.Discard();
        return Fail(code, cur_.name + ": " + why);
    }
    return RAR_OK;
}

}  // namespace varnok::unrar
