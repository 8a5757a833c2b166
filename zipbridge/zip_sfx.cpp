// Self-extracting programs: ZipToSfx puts a stub and a settings block in front of a ZIP archive, SfxToZip takes
// them off again. Nothing is compressed or decompressed; the archive's bytes are copied and only its stored
// offsets change.
//
// Why it is built this way:
// - The stub is a program, so it is taken only from this program's own folders (or from a path the user chose
//   explicitly); a stub lying in the current folder or beside a downloaded archive is never picked up.
// - Every stored offset (each central header's local-header offset, the directory offset of the end record,
//   and both offsets of the ZIP64 records) is moved by the same amount, computed from where the records really
//   lie. An archive whose offsets did not count bytes in front of it comes out right instead of carrying the
//   error along, so peers read the result without correcting it.
// - The output is built under a private temporary name beside the target and renamed into place only when it
//   is complete and has the expected length; on any failure the temporary file goes and the input and an
//   existing target stay as they were. The input is removed (to the trash, by default) only afterwards.
// - The block search of SfxToZip reads only bytes it has checked lie inside the buffer; a block whose texts
//   would run past it is no block.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "archive/core/bytes.h"
#include "archive/core/engine_library.h"
#include "archive/core/utils.h"
#include "archive/core/zip_records.h"
#include "platform/tempfile.h"
#include "zipbridge/messages.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {

namespace {

constexpr size_t kPiece = 8192;
constexpr uint32_t k32 = 0xFFFFFFFFu;
constexpr size_t kIconFileSize = 766, kIconImageSize = 744, kIconHeaderSize = 22;

std::mutex& StubFolderLock() {
    static std::mutex m;
    return m;
}
std::string& StubFolder() {
    static std::string f;
    return f;
}

bool IsRegular(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string LowerExt(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string e = name.substr(dot);
    for (char& c : e)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return e;
}

std::string WithExt(const std::string& name, const std::string& ext) {
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
    return name.substr(0, dot) + ext;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A private file beside the target; removed when the guard goes unless kept.
struct TempOutput {
    std::string path;
    platform::File file;
    ~TempOutput() {
        file.Close();
        if (!path.empty()) unlink(path.c_str());
    }
};

// ---- the Windows program format, as far as the icon needs it

struct PeIcon {
    size_t offset = 0;  // file offset of the 744-byte image
};

// Finds the first 744-byte image of the icon with identifier 1 (any language) in the resources of a Windows
// program held in memory. Every offset is checked against the image before it is read.
bool FindPeIcon(const std::vector<uint8_t>& b, PeIcon& icon) {
    const size_t n = b.size();
    auto in = [n](uint64_t off, uint64_t len) { return off <= n && len <= n - off; };
    if (!in(0, 64) || b[0] != 'M' || b[1] != 'Z') return false;
    const uint64_t pe = Le32(&b[60]);
    if (!in(pe, 24) || memcmp(&b[pe], "PE\0\0", 4) != 0) return false;
    const unsigned sections = Le16(&b[pe + 6]);
    const uint64_t optSize = Le16(&b[pe + 20]);
    const uint64_t opt = pe + 24;
    if (!in(opt, optSize) || optSize < 2) return false;
    const uint16_t magic = Le16(&b[opt]);
    const uint64_t dirs = magic == 0x20B ? opt + 112 : opt + 96;
    const uint64_t countAt = magic == 0x20B ? opt + 108 : opt + 92;
    if (!in(countAt, 4) || Le32(&b[countAt]) < 3 || dirs + 24 > opt + optSize) return false;
    const uint32_t rsrcRva = Le32(&b[dirs + 16]);
    uint64_t va = 0, raw = 0, span = 0;
    bool found = false;
    for (unsigned i = 0; i < sections && i < 96; ++i) {
        const uint64_t s = opt + optSize + uint64_t{i} * 40;
        if (!in(s, 40)) return false;
        if (memcmp(&b[s], ".rsrc\0\0\0", 8) != 0) continue;
        va = Le32(&b[s + 12]);
        span = std::max<uint64_t>(Le32(&b[s + 8]), Le32(&b[s + 16]));
        raw = Le32(&b[s + 20]);
        found = true;
        break;
    }
    if (!found || rsrcRva < va || rsrcRva >= va + span) return false;
    const uint64_t root = rsrcRva - va + raw;
    // The entries of a resource directory at off; each is (id, offset from the root with the folder bit).
    auto entries = [&](uint64_t off, std::vector<std::pair<uint32_t, uint32_t>>& out) {
        if (!in(off, 16)) return false;
        const unsigned count = Le16(&b[off + 12]) + Le16(&b[off + 14]);
        for (unsigned i = 0; i < count && i < 4096; ++i) {
            const uint64_t e = off + 16 + uint64_t{i} * 8;
            if (!in(e, 8)) return false;
            out.emplace_back(Le32(&b[e]), Le32(&b[e + 4]));
        }
        return true;
    };
    auto sub = [&](uint64_t off, uint32_t id, uint64_t& next) {
        std::vector<std::pair<uint32_t, uint32_t>> list;
        if (!entries(off, list)) return false;
        for (auto [name, to] : list)
            if (name == id && (to & 0x80000000u)) {
                next = root + (to & 0x7FFFFFFFu);
                return true;
            }
        return false;
    };
    uint64_t types = 0, ids = 0;
    if (!sub(root, 3, types) || !sub(types, 1, ids)) return false;
    std::vector<std::pair<uint32_t, uint32_t>> langs;
    if (!entries(ids, langs)) return false;
    for (auto [name, to] : langs) {
        (void)name;
        if (to & 0x80000000u) continue;
        const uint64_t d = root + to;
        if (!in(d, 8)) continue;
        const uint64_t rva = Le32(&b[d]), size = Le32(&b[d + 4]);
        if (size != kIconImageSize || rva < va || rva >= va + span) continue;
        const uint64_t at = rva - va + raw;
        if (!in(at, size)) continue;
        icon.offset = static_cast<size_t>(at);
        return true;
    }
    return false;
}

// An icon file holding one image.
std::vector<uint8_t> IconFile(const uint8_t* image) {
    std::vector<uint8_t> f = {0, 0, 1, 0, 1, 0};
    const int32_t width = static_cast<int32_t>(Le32(image + 4)), height = static_cast<int32_t>(Le32(image + 8)) / 2;
    const uint16_t bits = Le16(image + 14);
    f.push_back(static_cast<uint8_t>(width));
    f.push_back(static_cast<uint8_t>(height));
    f.push_back(bits < 8 ? static_cast<uint8_t>(1u << bits) : 0);
    f.push_back(0);
    AppendLe16(f, 1);
    AppendLe16(f, bits);
    AppendLe32(f, kIconImageSize);
    AppendLe32(f, kIconHeaderSize);
    f.insert(f.end(), image, image + kIconImageSize);
    return f;
}

bool IsElf(const std::vector<uint8_t>& b) { return b.size() >= 4 && memcmp(b.data(), "\x7f" "ELF", 4) == 0; }

}  // namespace

// ---- the settings block

std::vector<uint8_t> BuildSfxBlock(const SfxSettings& s) {
    uint8_t flags = 0;
    if (s.Options.Has(SFXAskCmdLine)) flags |= 0x01;
    if (s.Options.Has(SFXAskFiles)) flags |= 0x02;
    if (s.Options.Has(SFXHideOverWriteBox)) flags |= 0x04;
    if (s.OverWriteMode == OvrAlways) flags |= 0x08;
    if (s.OverWriteMode == OvrNever) flags |= 0x10;
    if (!s.Options.Has(SFXCheckSize)) flags |= 0x20;
    if (s.Options.Has(SFXAutoRun)) flags |= 0x40;
    if (s.Options.Has(SFXNoSuccessMsg)) flags |= 0x80;
    const std::string* texts[] = {&s.Caption, &s.DefaultDir, &s.CommandLine, &s.Message};
    size_t length = 12;
    for (const std::string* t : texts)
        length += std::min<size_t>(t->size(), 255);
    length = (length + 3) & ~size_t{3};
    std::vector<uint8_t> b = {'M', 'P', 'V', flags, 0, 1};
    AppendLe16(b, static_cast<uint16_t>(length));
    for (const std::string* t : texts) {
        const size_t k = std::min<size_t>(t->size(), 255);
        b.push_back(static_cast<uint8_t>(k));
        b.insert(b.end(), t->begin(), t->begin() + static_cast<ptrdiff_t>(k));
    }
    b.resize(length, 0);
    return b;
}

namespace {

// The block at i, when it is one whose texts lie inside the n bytes.
bool ParseSfxBlock(const uint8_t* p, size_t n, size_t i, SfxSettings& out) {
    {
        if (i + 3 > n || p[i] != 'M' || p[i + 1] != 'P' || (p[i + 2] != 'U' && p[i + 2] != 'V')) return false;
        const bool v = p[i + 2] == 'V';
        const uint8_t* b = p + i;
        const size_t left = n - i;
        SfxSettings s;
        std::string* texts[] = {&s.Caption, &s.DefaultDir, &s.CommandLine, &s.Message};
        size_t q = 0;
        bool fits = true;
        if (v) {
            // flags, 0, 1, length, then four texts each behind its length byte
            if (left < 12) return false;
            q = 8;
            for (std::string* t : texts) {
                if (q >= left || b[q] > left - q - 1) {
                    fits = false;
                    break;
                }
                t->assign(reinterpret_cast<const char*>(b + q + 1), b[q]);
                q += 1 + b[q];
            }
        } else {
            // flags, three lengths at 4, 5 and 6, the three texts from 7
            if (left < 7) return false;
            q = 7;
            for (int k = 0; k < 3 && fits; ++k) {
                if (b[4 + k] > left - q) fits = false;
                else {
                    texts[k]->assign(reinterpret_cast<const char*>(b + q), b[4 + k]);
                    q += b[4 + k];
                }
            }
        }
        if (!fits) return false;
        const uint8_t flags = b[3];
        s.Options = SFXOpts{};
        if (flags & 0x01) s.Options.Include(SFXAskCmdLine);
        if (flags & 0x02) s.Options.Include(SFXAskFiles);
        if (flags & 0x04) s.Options.Include(SFXHideOverWriteBox);
        if (!(flags & 0x20)) s.Options.Include(SFXCheckSize);
        if (flags & 0x40) s.Options.Include(SFXAutoRun);
        if (v && (flags & 0x80)) s.Options.Include(SFXNoSuccessMsg);
        s.OverWriteMode = flags & 0x08 ? OvrAlways : flags & 0x10 ? OvrNever : OvrConfirm;
        out = std::move(s);
        return true;
    }
}

}  // namespace

bool FindSfxBlock(const uint8_t* p, size_t n, SfxSettings& out) {
    // The block this program writes ends where the archive begins: such a block is taken before any earlier
    // bytes that merely look like one; otherwise the first block that fits.
    for (size_t i = 0; i + 12 <= n; ++i)
        if (p[i] == 'M' && p[i + 1] == 'P' && p[i + 2] == 'V' && Le16(p + i + 6) == n - i && ParseSfxBlock(p, n, i, out))
            return true;
    for (size_t i = 0; i + 3 <= n; ++i)
        if (ParseSfxBlock(p, n, i, out)) return true;
    return false;
}

// ---- the stub

bool TZipBridge::SetSfxFolder(const std::string& folder) {
    if (!folder.empty() && folder[0] != '/') return false;
    std::lock_guard<std::mutex> lock(StubFolderLock());
    StubFolder() = folder;
    return true;
}

std::string TZipBridge::FindSfxStub() const {
    if (!SFXPath.empty()) return SFXPath[0] == '/' && IsRegular(SFXPath) ? SFXPath : std::string();
    std::vector<std::string> candidates;
    {
        std::lock_guard<std::mutex> lock(StubFolderLock());
        if (!StubFolder().empty()) candidates.push_back(StubFolder() + "/" + kSfxStubName);
    }
    if (candidates.empty()) {
        const std::string prog = ::varnok::EngineLibrary::ProgramFolder();
        if (!prog.empty()) {
            candidates.push_back(prog + "/" + kSfxStubName);
            candidates.push_back(prog + "/../lib/varnok/" + kSfxStubName);
        }
    }
    for (const std::string& c : candidates)
        if (IsRegular(c)) return c;
    return {};
}

void TZipBridge::Say(const std::string& text, bool show) {
    lastMessage_ = text;
    errCode_ = 0;
    if (!Unattended && show && ShowMessage) ShowMessage(text);
    if (OnMessage) OnMessage(*this, 0, text);
}

bool TZipBridge::RemoveInput(const std::string& path) {
    if (HowToDelete == htdAllowUndo && platform::MoveToTrash(path)) return true;
    return unlink(path.c_str()) == 0;
}

// ---- copying the archive with its offsets moved

int TZipBridge::CopyShifted(platform::File& f, uint64_t from, int64_t shift, platform::File& out,
                            uint64_t& written) {
    written = 0;
    const uint64_t size = f.Size();
    zip::EndRecord e;
    if (!zip::FindEndRecord(f, size, e)) {
        Say(zipFileName_ + ": the archive's end record cannot be found", false);
        return -3;
    }
    if (e.thisDisk != 0 || e.cdDisk != 0) {
        Message(11041);
        return -3;
    }
    // Where the directory really lies: right in front of the ZIP64 records, or else of the end record.
    uint64_t cdEnd = e.pos, z64 = 0;
    if (e.zip64 && e.pos >= 20 + 56) {
        uint8_t rec[4];
        if (f.ReadAt(e.pos - 20 - 56, rec, 4) == 4 && Le32(rec) == zip::kEnd64Sig) {
            z64 = e.pos - 20 - 56;
            cdEnd = z64;
        } else {
            Say(zipFileName_ + ": the archive's ZIP64 end record is not where it belongs", false);
            return -3;
        }
    }
    const uint64_t end = std::min<uint64_t>(e.end(), size);
    if (e.cdSize > cdEnd || cdEnd - e.cdSize < from || e.cdSize > (uint64_t{1} << 32)) {
        Say(zipFileName_ + ": the archive's directory does not fit the file", false);
        return -3;
    }
    const uint64_t cd = cdEnd - e.cdSize;
    // The stored offsets count from where the archive thinks it starts; fix both at once.
    const int64_t fix = static_cast<int64_t>(cd) - static_cast<int64_t>(e.cdOffset);
    auto moved = [&](uint64_t stored, uint64_t& to) {
        const int64_t v = static_cast<int64_t>(stored) + fix + shift;
        if (v < 0) return false;
        to = static_cast<uint64_t>(v);
        return true;
    };
    std::vector<uint8_t> buf(kPiece);
    auto put = [&](const void* p, size_t n) {
        if (!out.Write(p, n)) return false;
        written += n;
        return true;
    };
    // The entries' bytes, unchanged.
    for (uint64_t pos = from; pos < cd;) {
        if (Cancel()) return -2;
        const size_t k = static_cast<size_t>(std::min<uint64_t>(kPiece, cd - pos));
        if (f.ReadAt(pos, buf.data(), k) != k) return -3;
        if (!put(buf.data(), k)) return -2;
        pos += k;
        if (ProcessMessages) ProcessMessages();
    }
    // The central directory, each local-header offset moved.
    std::vector<uint8_t> dir(static_cast<size_t>(e.cdSize));
    if (f.ReadAt(cd, dir.data(), dir.size()) != dir.size()) return -3;
    size_t p = 0;
    for (uint64_t n = 0; p < dir.size(); ++n) {
        zip::CentralHeader h;
        if (dir.size() - p < zip::kCentralSize || !zip::ParseCentralHeader(dir.data() + p, dir.size() - p, h)) {
            Message(11015);
            return -3;
        }
        uint8_t* r = dir.data() + p;
        uint64_t to = 0;
        if (!moved(h.localOffset, to)) return -3;
        if (Le32(r + 42) != k32) {
            if (to >= k32) {
                Say(zipFileName_ + ": an entry would start beyond 4 GiB, where its record has no room", false);
                return -2;
            }
            PutLe32(r + 42, static_cast<uint32_t>(to));
        } else {
            // The offset is the last value of the ZIP64 field that the 32-bit fields ask for.
            uint8_t* x = r + zip::kCentralSize + h.nameLength;
            uint8_t* xe = x + h.extraLength;
            bool done = false;
            while (xe - x >= 4) {
                const uint16_t id = Le16(x), len = Le16(x + 2);
                if (len > xe - x - 4) break;
                if (id == 0x0001) {
                    size_t at = 4 + (Le32(r + 20) == k32 ? 8 : 0) + (Le32(r + 16) == k32 ? 8 : 0);
                    if (at + 8 <= size_t{4} + len) {
                        PutLe64(x + at, to);
                        done = true;
                    }
                    break;
                }
                x += 4 + len;
            }
            if (!done) {
                Message(11013);
                return -3;
            }
        }
        p += static_cast<size_t>(h.recordSize());
    }
    if (!put(dir.data(), dir.size())) return -2;
    // The ZIP64 end record and its locator.
    if (z64) {
        std::vector<uint8_t> rec(static_cast<size_t>(e.pos - z64));
        if (f.ReadAt(z64, rec.data(), rec.size()) != rec.size() || rec.size() != 76) return -3;
        uint64_t to = 0;
        if (!moved(Le64(&rec[48]), to)) return -3;
        PutLe64(&rec[48], to);
        PutLe64(&rec[56 + 8], static_cast<uint64_t>(static_cast<int64_t>(z64) + shift));
        if (!put(rec.data(), rec.size())) return -2;
    }
    // The end record and the comment.
    uint8_t rec[zip::kEndSize];
    std::memcpy(rec, e.raw, sizeof rec);
    if (Le32(rec + 16) != k32) {
        uint64_t to = 0;
        if (!moved(e.cdOffset, to)) return -3;
        if (to >= k32) {
            Say(zipFileName_ + ": the directory would start beyond 4 GiB, where the end record has no room", false);
            return -2;
        }
        PutLe32(rec + 16, static_cast<uint32_t>(to));
    }
    if (!put(rec, sizeof rec)) return -2;
    for (uint64_t pos = e.pos + zip::kEndSize; pos < end;) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(kPiece, end - pos));
        if (f.ReadAt(pos, buf.data(), k) != k) return -3;
        if (!put(buf.data(), k)) return -2;
        pos += k;
    }
    return 0;
}

// ---- ZipToSfx

int TZipBridge::ZipToSfx(bool stubOnly) {
    if (!stubOnly && (zipFileName_.empty() || !IsRegular(zipFileName_))) {
        Message(10102);
        return -9;
    }
    SfxSettings s;
    s.Options = SFXOptions;
    s.OverWriteMode = SFXOverWriteMode;
    s.Caption = SFXCaption;
    s.DefaultDir = SFXDefaultDir;
    s.CommandLine = SFXCommandLine;
    s.Message = SFXMessage;
    if (SFXCaption.size() > 255 || SFXDefaultDir.size() > 255 || SFXCommandLine.size() > 255 || SFXMessage.size() > 255) {
        const size_t total = 12 + SFXCaption.size() + SFXDefaultDir.size() + SFXCommandLine.size() + SFXMessage.size();
        Message(10801, "\r\nSFXCaption + SFXDefaultDir + SFXCommandLine + SFXMessage = " +
                           std::to_string(((total + 3) & ~size_t{3}) + 1));
        return -9;
    }
    if (!SFXPath.empty() && SFXPath[0] != '/') {
        Message(10802, " (" + SFXPath + ": a stub is taken only by its absolute path)");
        return -9;
    }
    const std::string stub = FindSfxStub();
    if (stub.empty()) {
        Message(10802, SFXPath.empty() ? " (" + std::string(kSfxStubName) + " is not in the program's folders)"
                                       : " (" + SFXPath + ")");
        return -9;
    }
    std::string target;
    if (stubOnly) {
        target = ConvertTarget.empty() ? zipFileName_ : ConvertTarget;
    } else {
        if (LowerExt(zipFileName_) != ".zip") {
            Message(10803);
            return -9;
        }
        target = ConvertTarget.empty() ? WithExt(zipFileName_, ".exe") : ConvertTarget;
        if (target == zipFileName_) {
            Say(target + ": the self-extractor cannot replace the archive it is made of", true);
            return -9;
        }
    }
    // The stub, read whole: its icon may be replaced before it is written.
    platform::File in;
    if (!in.Open(stub, platform::File::Mode::Read)) {
        Say(stub + ": " + platform::LastErrorText(), false);
        return -3;
    }
    std::vector<uint8_t> image;
    try {
        const uint64_t n = in.Size();
        if (n > (uint64_t{256} << 20)) {
            Say(stub + ": too large for a self-extractor stub", false);
            return -3;
        }
        image.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        Message(10103);
        return -9;
    }
    if (in.ReadAt(0, image.data(), image.size()) != image.size()) {
        Say(stub + ": " + platform::LastErrorText(), false);
        return -2;
    }
    in.Close();
    if (!SFXIcon.empty()) {
        if (IsElf(image)) {
            Say("The icon cannot be set: the self-extractor stub " + stub +
                    " is a Linux program, which carries no icon; clear the icon or choose a Windows stub",
                true);
            return -10;
        }
        PeIcon icon;
        if (!FindPeIcon(image, icon)) {
            Say(stub + ": the stub has no 32x32 icon image to replace", false);
            return -10;
        }
        if (SFXIcon.size() != kIconFileSize || Le16(SFXIcon.data() + 4) != 1 ||
            Le32(SFXIcon.data() + 6 + 8) != kIconImageSize || Le32(SFXIcon.data() + 6 + 12) != kIconHeaderSize) {
            Say("The icon must be a single 32x32 image of 766 bytes as an icon file", false);
            return -12;
        }
        std::memcpy(image.data() + icon.offset, SFXIcon.data() + kIconHeaderSize, kIconImageSize);
    }
    const std::vector<uint8_t> block = BuildSfxBlock(s);

    TempOutput tmp;
    tmp.path = platform::CreateTempFile(FolderOf(target), "." + BaseOf(target) + ".", ".tmp", &tmp.file);
    if (tmp.path.empty()) {
        Say(target + ": cannot be created: " + platform::LastErrorText(), false);
        return -1;
    }
    if (!tmp.file.Write(image.data(), image.size()) || !tmp.file.Write(block.data(), block.size())) {
        Say(target + ": " + platform::LastErrorText(), false);
        return -2;
    }
    const uint64_t front = image.size() + block.size();
    uint64_t expected = front;
    if (stubOnly) {
        std::vector<uint8_t> end;
        AppendLe32(end, zip::kEndSig);
        for (int i = 0; i < 4; ++i)
            AppendLe16(end, 0);
        AppendLe32(end, 0);
        AppendLe32(end, static_cast<uint32_t>(front));
        AppendLe16(end, 0);
        if (!tmp.file.Write(end.data(), end.size())) return -2;
        expected += end.size();
    } else {
        platform::File zip;
        if (!zip.Open(zipFileName_, platform::File::Mode::Read)) {
            Message(11001);
            return -3;
        }
        uint64_t written = 0;
        const int r = CopyShifted(zip, 0, static_cast<int64_t>(front), tmp.file, written);
        if (r != 0) {
            if (r == -2 && lastMessage_.find(zipFileName_) == std::string::npos)
                Say(target + ": " + (Cancel() ? std::string("cancelled") : platform::LastErrorText()), false);
            return r;
        }
        expected += written;
    }
    // The result runs: it gets the execute bits the umask allows.
    const mode_t mask = umask(0);
    umask(mask);
    if (tmp.file.Size() != expected) return -9;
    if (fchmod(tmp.file.Fd(), 0777 & ~mask) != 0 || !tmp.file.Sync() || !tmp.file.Close()) {
        Say(target + ": " + platform::LastErrorText(), false);
        return -2;
    }
    if (rename(tmp.path.c_str(), target.c_str()) != 0) {
        Say(target + ": " + platform::LastErrorText(), false);
        return -1;
    }
    tmp.path.clear();
    if (!stubOnly && !KeepConvertSource && !RemoveInput(zipFileName_))
        Say(zipFileName_ + ": the archive could not be removed: " + platform::LastErrorText(), false);
    SetZipFileName(target);
    return 0;
}

// ---- SfxToZip

int TZipBridge::SfxToZip() {
    if (zipFileName_.empty() || !IsRegular(zipFileName_)) {
        Message(10901);
        return -3;
    }
    // On Linux a program needs no extension; only a file that already is a ".zip" is refused (its output
    // would be itself).
    const std::string target = ConvertTarget.empty() ? WithExt(zipFileName_, ".zip") : ConvertTarget;
    if (LowerExt(zipFileName_) == ".zip" || target == zipFileName_) {
        Message(10902);
        return -3;
    }
    if (entries_.empty() && skippedDirs_ == 0) List();
    if (firstLocal_ == 0 || firstLocal_ >= archiveSize_) {
        Message(10903);
        return -9;
    }
    const uint64_t stubSize = firstLocal_;
    platform::File f;
    if (!f.Open(zipFileName_, platform::File::Mode::Read)) {
        Message(11001);
        return -3;
    }
    // The settings: the last bytes in front of the archive.
    try {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(stubSize, 1032));
        std::vector<uint8_t> tail(k);
        if (f.ReadAt(stubSize - k, tail.data(), k) != k) return -2;
        SfxSettings s;
        if (FindSfxBlock(tail.data(), tail.size(), s)) {
            SFXOptions = s.Options;
            SFXOverWriteMode = s.OverWriteMode;
            SFXCaption = s.Caption;
            SFXDefaultDir = s.DefaultDir;
            SFXCommandLine = s.CommandLine;
            SFXMessage = s.Message;
        }
        // The icon of a Windows self-extractor.
        if (stubSize <= (uint64_t{64} << 20)) {
            std::vector<uint8_t> image(static_cast<size_t>(stubSize));
            PeIcon icon;
            if (f.ReadAt(0, image.data(), image.size()) == image.size() && FindPeIcon(image, icon))
                SFXIcon = IconFile(image.data() + icon.offset);
        }
    } catch (const std::bad_alloc&) {
        Message(10103);
        return -10;
    }
    TempOutput tmp;
    tmp.path = platform::CreateTempFile(FolderOf(target), "." + BaseOf(target) + ".", ".tmp", &tmp.file);
    if (tmp.path.empty()) {
        Say(target + ": cannot be created: " + platform::LastErrorText(), false);
        return -1;
    }
    uint64_t written = 0;
    int r = 0;
    try {
        r = CopyShifted(f, stubSize, -static_cast<int64_t>(stubSize), tmp.file, written);
    } catch (const std::bad_alloc&) {
        Message(10103);
        return -10;
    }
    if (r != 0) {
        if (r == -2) Say(target + ": " + (Cancel() ? std::string("cancelled") : platform::LastErrorText()), false);
        return r == -2 ? -2 : -3;
    }
    if (tmp.file.Size() != written) return -9;
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(tmp.file.Fd(), 0666 & ~mask) != 0 || !tmp.file.Sync() || !tmp.file.Close()) {
        Say(target + ": " + platform::LastErrorText(), false);
        return -2;
    }
    f.Close();
    if (rename(tmp.path.c_str(), target.c_str()) != 0) {
        Say(target + ": " + platform::LastErrorText(), false);
        return -1;
    }
    tmp.path.clear();
    if (!KeepConvertSource && !RemoveInput(zipFileName_))
        Say(zipFileName_ + ": the program could not be removed: " + platform::LastErrorText(), false);
    SetZipFileName(target);
    return 0;
}

}  // namespace varnok
