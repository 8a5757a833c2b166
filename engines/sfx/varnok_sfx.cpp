// varnok-sfx: the self-extractor stub. A self-extracting program is this executable, then the settings block,
// then a ZIP archive whose offsets count everything in front of it; the program reads itself through
// /proc/self/exe.
//
// Why it is built this way:
// - The stub knows where it ends from its own ELF headers (the last section or segment), so the settings
//   block is read at exactly that place and never found by searching bytes that could occur in the code.
// - The archive is read through its end record and central directory with the project's ZIP records, stored
//   and deflated data decoded with the project's inflate and the traditional cipher; anything else (other
//   methods, AES, links, devices) is refused by name rather than half extracted.
// - Every name goes through SafeRelativeName; files are created below one destination descriptor with openat,
//   each folder opened with O_NOFOLLOW and each file created with O_EXCL, so neither a ".." component nor a
//   symbolic link, whether planted beforehand or made by an earlier entry, leads a write outside the
//   destination. A file whose data fail their check is removed again.
// - Texts from the archive and the block (caption, message, names) reach the terminal only through
//   TerminalSafe. The block's command line and auto-run setting are shown, never run: a program that runs
//   what a downloaded file names is a way in for whoever made the file.
// - Questions (destination, file question, overwrite, password) are asked on /dev/tty and only there; without
//   a terminal, or with --yes, the defaults hold and an existing file is never replaced unless the block or
//   --overwrite says so.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/codecs/inflate.h"
#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/core/printable.h"
#include "archive/core/unbase.h"
#include "archive/core/utils.h"
#include "archive/core/zip_records.h"
#include "archive/core/zipcrypt.h"
#include "platform/codepage.h"
#include "platform/file.h"

using namespace varnok;

namespace {

enum Exit { kOk = 0, kSomeFailed = 1, kNoArchive = 2, kUsage = 3 };
enum class Overwrite { Ask, Always, Never };

// The settings block written in front of the archive ("MPV" form).
struct Settings {
    uint8_t flags = 0;
    std::string caption = "Self-extracting Archive", defaultDir, commandLine, message;
    bool found = false;
};
constexpr uint8_t kAskCmdLine = 0x01, kAskFiles = 0x02, kOvrAlways = 0x08, kOvrNever = 0x10, kAutoRun = 0x40,
                  kNoSuccessMsg = 0x80;

// Where the program's own image ends: the end of the furthest of its section table, sections and segments.
uint64_t ElfEnd(const platform::File& f, uint64_t size) {
    Elf64_Ehdr h;
    if (f.ReadAt(0, &h, sizeof h) != sizeof h || memcmp(h.e_ident, ELFMAG, SELFMAG) != 0 ||
        h.e_ident[EI_CLASS] != ELFCLASS64)
        return 0;
    uint64_t end = uint64_t{h.e_shoff} + uint64_t{h.e_shnum} * h.e_shentsize;
    for (unsigned i = 0; i < h.e_phnum && i < 256; ++i) {
        Elf64_Phdr p;
        if (f.ReadAt(h.e_phoff + uint64_t{i} * sizeof p, &p, sizeof p) != sizeof p) return 0;
        end = std::max<uint64_t>(end, p.p_offset + p.p_filesz);
    }
    for (unsigned i = 0; i < h.e_shnum && i < 4096; ++i) {
        Elf64_Shdr s;
        if (f.ReadAt(h.e_shoff + uint64_t{i} * sizeof s, &s, sizeof s) != sizeof s) return 0;
        if (s.sh_type != SHT_NOBITS) end = std::max<uint64_t>(end, s.sh_offset + s.sh_size);
    }
    return end <= size ? end : 0;
}

// Reads the block at pos: "MPV", flags, 0, 1, its length, then four texts each with a length byte.
Settings ReadSettings(const platform::File& f, uint64_t pos, uint64_t limit) {
    Settings s;
    uint8_t b[8 + 4 * 256];
    const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof b, limit > pos ? limit - pos : 0));
    const size_t got = f.ReadAt(pos, b, want);
    if (got < 12 || memcmp(b, "MPV", 3) != 0) return s;
    const size_t length = Le16(b + 6);
    if (length < 12 || length > got) return s;
    size_t p = 8;
    std::string* texts[] = {&s.caption, &s.defaultDir, &s.commandLine, &s.message};
    for (std::string* t : texts) {
        if (p >= length || p + 1 + b[p] > length) return Settings{};
        t->assign(reinterpret_cast<const char*>(b + p + 1), b[p]);
        p += 1 + b[p];
    }
    s.flags = b[3];
    s.found = true;
    return s;
}

// ---- the terminal

int Tty() {
    static int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    return fd;
}

bool Ask(const std::string& prompt, std::string& answer, bool hidden = false) {
    const int fd = Tty();
    if (fd < 0) return false;
    if (write(fd, prompt.data(), prompt.size()) < 0) return false;
    termios old{};
    const bool restore = hidden && tcgetattr(fd, &old) == 0;
    if (restore) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    answer.clear();
    char c;
    bool any = false;
    while (read(fd, &c, 1) == 1) {
        any = true;
        if (c == '\n') break;
        if (answer.size() < 4096) answer.push_back(c);
    }
    if (restore) {
        tcsetattr(fd, TCSAFLUSH, &old);
        if (write(fd, "\n", 1) < 0) return false;
    }
    return any;
}

bool AskYes(const std::string& prompt, bool byDefault) {
    std::string a;
    if (!Ask(prompt, a)) return byDefault;
    if (a.empty()) return byDefault;
    return a[0] == 'y' || a[0] == 'Y';
}

// ---- the archive

struct Entry {
    zip::CentralHeader h;
    std::string name;  // UTF-8, as stored otherwise
};

std::string NameOf(const zip::CentralHeader& h) {
    if (h.utf8() || platform::IsValidUtf8(h.name)) return h.name;
    std::string n = platform::ConvertCharset(h.name, "CP437", "UTF-8");
    return n.empty() ? h.name : n;
}

bool ReadDirectory(const platform::File& f, uint64_t size, std::vector<Entry>& out, std::string& why) {
    zip::EndRecord e;
    if (!zip::FindEndRecord(f, size, e)) {
        why = "no archive found after the program";
        return false;
    }
    if (e.thisDisk != 0 || e.cdDisk != 0) {
        why = "the archive is part of a set of volumes";
        return false;
    }
    if (e.cdSize > size || e.cdOffset > size - e.cdSize || e.cdSize > (uint64_t{1} << 31)) {
        why = "the archive's directory lies outside the file";
        return false;
    }
    std::vector<uint8_t> dir(static_cast<size_t>(e.cdSize));
    if (f.ReadAt(e.cdOffset, dir.data(), dir.size()) != dir.size()) {
        why = "the archive's directory cannot be read";
        return false;
    }
    size_t p = 0;
    for (uint64_t n = 0; n < e.entriesTotal; ++n) {
        zip::CentralHeader h;
        if (p + zip::kCentralSize > dir.size() || !zip::ParseCentralHeader(dir.data() + p, dir.size() - p, h)) {
            why = "the archive's directory is damaged";
            return false;
        }
        p += static_cast<size_t>(h.recordSize());
        Entry x;
        x.name = NameOf(h);
        x.h = std::move(h);
        out.push_back(std::move(x));
    }
    return true;
}

// Reads len bytes of a file from pos on.
class RangeSource final : public ByteSource {
  public:
    RangeSource(const platform::File& f, uint64_t pos, uint64_t len) : f_(f), pos_(pos), left_(len) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n, left_));
        const size_t r = k ? f_.ReadAt(pos_, buf, k) : 0;
        pos_ += r;
        left_ -= r;
        return r;
    }

  private:
    const platform::File& f_;
    uint64_t pos_, left_;
};

struct TooLong {};
struct WriteFailed {};

// Takes an entry's data: the CRC, a count held to the entry's size, and the output file when there is one.
class EntrySink final : public ByteSink {
  public:
    EntrySink(int fd, uint64_t limit) : fd_(fd), limit_(limit) {}
    void Write(const uint8_t* buf, size_t n) override {
        if (n > limit_ - count_) throw TooLong{};
        crc_ = UpdateCrc32(crc_, buf, n);
        count_ += n;
        while (fd_ >= 0 && n) {
            const ssize_t w = write(fd_, buf, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) throw WriteFailed{};
            buf += w;
            n -= static_cast<size_t>(w);
        }
    }
    uint32_t Crc() const { return ~crc_; }
    uint64_t Count() const { return count_; }

  private:
    int fd_;
    uint64_t limit_, count_ = 0;
    uint32_t crc_ = 0xFFFFFFFFu;
};

struct Options {
    std::string dir;
    bool dirGiven = false, list = false, test = false, yes = false;
    std::optional<Overwrite> overwrite;
    std::optional<std::string> password;
};

class Extractor {
  public:
    Extractor(const platform::File& f, const Options& o, Overwrite ow) : f_(f), o_(o), overwrite_(ow) {}
    // Extracts (or tests) one entry; false when it failed.
    bool Run(const Entry& x, int root);
    int Done() const { return done_; }

  private:
    bool Decode(const Entry& x, int fd);
    bool Password(const Entry& x, const uint8_t header[12], ZipCipher& keys);
    int OpenParent(int root, const std::string& rel, std::string& leaf);
    void Fail(const std::string& name, const std::string& why) {
        fprintf(stderr, "varnok-sfx: %s: %s\n", TerminalSafe(name).c_str(), why.c_str());
    }

    const platform::File& f_;
    const Options& o_;
    Overwrite overwrite_;
    std::string password_;
    bool havePassword_ = false;
    int done_ = 0;
};

bool Extractor::Password(const Entry& x, const uint8_t header[12], ZipCipher& keys) {
    if (!havePassword_ && o_.password) {
        password_ = *o_.password;
        havePassword_ = true;
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (havePassword_) {
            ZipCipher k;
            if (k.CheckCryptHeader(header, password_, x.h.flags, x.h.dosTime, x.h.crc)) {
                keys = k;
                return true;
            }
            if (o_.password && attempt == 0 && password_ == *o_.password) {
                Fail(x.name, "the password given does not fit");
                if (o_.yes) return false;
            }
        }
        if (o_.yes) break;
        std::string typed;
        if (!Ask("Password for " + TerminalSafe(x.name) + ": ", typed, true) || typed.empty()) break;
        password_ = typed;
        havePassword_ = true;
    }
    Fail(x.name, havePassword_ ? "wrong password" : "the entry is encrypted and no password was given");
    return false;
}

bool Extractor::Decode(const Entry& x, int fd) {
    const zip::CentralHeader& h = x.h;
    if (h.method != 0 && h.method != 8) {
        Fail(x.name, "compression method " + std::to_string(h.method) + " is not supported by this program");
        return false;
    }
    zip::LocalHeader lh;
    if (!zip::ReadLocalHeader(f_, h.localOffset, lh)) {
        Fail(x.name, "its local header is damaged");
        return false;
    }
    uint64_t data = h.localOffset + lh.headerSize();
    uint64_t packed = h.packedSize;
    if (data > f_.Size() || packed > f_.Size() - data) {
        Fail(x.name, "its data run past the end of the file");
        return false;
    }
    RangeSource raw(f_, data, packed);
    ZipCipher keys;
    bool encrypted = h.encrypted();
    if (encrypted) {
        uint8_t header[12];
        if (packed < 12 || raw.Read(header, 12) != 12) {
            Fail(x.name, "its encryption header is missing");
            return false;
        }
        if (!Password(x, header, keys)) return false;
    }
    auto decrypt = [&keys, encrypted](uint8_t* b, size_t n) {
        if (encrypted) keys.Decrypt(b, n);
    };
    TransformSource<decltype(decrypt)> src(raw, decrypt);
    EntrySink sink(fd, h.unpackedSize);
    try {
        if (h.method == 0) {
            uint8_t buf[65536];
            while (size_t n = src.Read(buf, sizeof buf))
                sink.Write(buf, n);
        } else {
            Inflater inflater;
            if (!inflater.Decode(src, sink).Ok()) {
                Fail(x.name, "its compressed data are damaged");
                return false;
            }
        }
    } catch (const TooLong&) {
        Fail(x.name, "its data are longer than the archive says");
        return false;
    } catch (const WriteFailed&) {
        Fail(x.name, std::string("cannot write: ") + strerror(errno));
        return false;
    }
    if (sink.Count() != h.unpackedSize || sink.Crc() != h.crc) {
        Fail(x.name, "its data fail their check (CRC)");
        return false;
    }
    return true;
}

// Opens (creating) the folders of rel below root, never following a link; returns the folder's descriptor.
int Extractor::OpenParent(int root, const std::string& rel, std::string& leaf) {
    int cur = dup(root);
    size_t start = 0;
    for (;;) {
        const size_t slash = rel.find('/', start);
        if (slash == std::string::npos) {
            leaf = rel.substr(start);
            return cur;
        }
        const std::string part = rel.substr(start, slash - start);
        if (mkdirat(cur, part.c_str(), 0755) != 0 && errno != EEXIST) {
            close(cur);
            return -1;
        }
        const int next = openat(cur, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(cur);
        if (next < 0) return -1;
        cur = next;
        start = slash + 1;
    }
}

bool Extractor::Run(const Entry& x, int root) {
    const zip::CentralHeader& h = x.h;
    const uint32_t mode = h.unixMode();
    const bool folder = h.isDirectory();
    if (!folder && mode && !S_ISREG(mode)) {
        Fail(x.name, "not a regular file; not extracted");
        return false;
    }
    if (o_.test) {
        if (folder) return true;
        if (!Decode(x, -1)) return false;
        printf("OK    %s\n", TerminalSafe(x.name).c_str());
        ++done_;
        return true;
    }
    const std::string rel = SafeRelativeName(x.name);
    if (rel.empty()) {
        if (folder && x.name.find("..") == std::string::npos) return true;  // the destination itself
        Fail(x.name, "the name would leave the destination folder; not extracted");
        return false;
    }
    if (rel != x.name && rel + "/" != x.name)
        fprintf(stderr, "varnok-sfx: %s: extracted as %s\n", TerminalSafe(x.name).c_str(), TerminalSafe(rel).c_str());
    if (folder) {
        std::string leaf;
        int parent = OpenParent(root, rel + "/", leaf);
        if (parent < 0) {
            Fail(x.name, std::string("cannot create the folder: ") + strerror(errno));
            return false;
        }
        close(parent);
        return true;
    }
    std::string leaf;
    const int parent = OpenParent(root, rel, leaf);
    if (parent < 0) {
        Fail(x.name, std::string("cannot create its folder: ") + strerror(errno));
        return false;
    }
    struct stat st;
    if (fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        bool replace = overwrite_ == Overwrite::Always;
        if (overwrite_ == Overwrite::Ask)
            replace = !o_.yes && AskYes(TerminalSafe(rel) + " exists. Replace it? [y/N] ", false);
        if (!replace || S_ISDIR(st.st_mode)) {
            printf("skipped %s (exists)\n", TerminalSafe(rel).c_str());
            close(parent);
            return true;
        }
        // The old name goes first, whatever it is: a link is removed, never written through.
        if (unlinkat(parent, leaf.c_str(), 0) != 0) {
            Fail(x.name, std::string("cannot replace the existing file: ") + strerror(errno));
            close(parent);
            return false;
        }
    }
    mode_t perms = mode ? (mode & 0777) : 0644;
    const int fd =
        openat(parent, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, perms | S_IWUSR);
    if (fd < 0) {
        Fail(x.name, std::string("cannot create the file: ") + strerror(errno));
        close(parent);
        return false;
    }
    const bool ok = Decode(x, fd);
    if (ok) {
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(DosToUnixTime(h.dosTime));
        times[0].tv_nsec = times[1].tv_nsec = 0;
        futimens(fd, times);
        fchmod(fd, perms);
    }
    if (close(fd) != 0 || !ok) {
        unlinkat(parent, leaf.c_str(), 0);
        close(parent);
        return false;
    }
    close(parent);
    printf("  %s\n", TerminalSafe(rel).c_str());
    ++done_;
    return true;
}

void Usage(FILE* out) {
    fputs("usage: PROGRAM [--dir DIR] [--list] [--test] [--overwrite ask|always|never] [--password P] [--yes]\n"
          "  extracts the archive this program carries (default: into the folder its maker chose)\n"
          "  --dir DIR      extract into DIR\n"
          "  --list         list the entries\n"
          "  --test         decode every entry and check it, writing nothing\n"
          "  --overwrite    what to do with files that exist (default: as the maker chose, else ask)\n"
          "  --password P   the password of encrypted entries (otherwise asked on the terminal)\n"
          "  --yes          ask nothing: take the defaults (scripts)\n",
          out);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= argc) return false;
            v = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--dir" && value(v)) {
            o.dir = v;
            o.dirGiven = true;
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--test") {
            o.test = true;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "--password" && value(v)) {
            o.password = v;
        } else if (a == "--overwrite" && value(v) && (v == "ask" || v == "always" || v == "never")) {
            o.overwrite = v == "ask" ? Overwrite::Ask : v == "always" ? Overwrite::Always : Overwrite::Never;
        } else if (a == "--help" || a == "-h") {
            Usage(stdout);
            return kOk;
        } else {
            fprintf(stderr, "varnok-sfx: unknown or incomplete option %s\n", TerminalSafe(a).c_str());
            Usage(stderr);
            return kUsage;
        }
    }

    platform::File self;
    if (!self.Open("/proc/self/exe", platform::File::Mode::Read)) {
        fprintf(stderr, "varnok-sfx: cannot read the program itself: %s\n", platform::LastErrorText().c_str());
        return kNoArchive;
    }
    const uint64_t size = self.Size();
    const uint64_t stubEnd = ElfEnd(self, size);
    const Settings s = ReadSettings(self, stubEnd, size);
    std::vector<Entry> entries;
    std::string why;
    if (stubEnd == 0 || !ReadDirectory(self, size, entries, why)) {
        fprintf(stderr, "varnok-sfx: %s\n", why.empty() ? "this program carries no archive" : why.c_str());
        return kNoArchive;
    }
    // Only entries behind the program: a directory naming bytes of the program itself is not an archive.
    for (const Entry& x : entries)
        if (x.h.localOffset < stubEnd) {
            fprintf(stderr, "varnok-sfx: the archive's directory points into the program; nothing extracted\n");
            return kNoArchive;
        }

    printf("%s\n", TerminalSafe(s.caption).c_str());
    if (o.list) {
        for (const Entry& x : entries)
            printf("%12llu  %s\n", static_cast<unsigned long long>(x.h.unpackedSize), TerminalSafe(x.name).c_str());
        return kOk;
    }
    const bool talk = !o.yes && Tty() >= 0;
    if (!s.commandLine.empty() && (s.flags & (kAskCmdLine | kAutoRun)))
        printf("This program does not run commands; the archive names one: %s\n", TerminalSafe(s.commandLine).c_str());
    if (!s.message.empty()) {
        printf("%s\n", TerminalSafe(s.message).c_str());
        if (talk && !AskYes("Continue? [Y/n] ", true)) return kOk;
    }
    if ((s.flags & kAskFiles) && talk) {
        for (const Entry& x : entries)
            printf("  %s\n", TerminalSafe(x.name).c_str());
        if (!AskYes("Extract these files? [Y/n] ", true)) return kOk;
    }

    Overwrite ow = s.flags & kOvrAlways ? Overwrite::Always : s.flags & kOvrNever ? Overwrite::Never : Overwrite::Ask;
    if (o.overwrite) ow = *o.overwrite;
    Extractor x(self, o, ow);
    int root = -1;
    std::string dest = o.dirGiven ? o.dir : s.defaultDir.empty() ? std::string(".") : s.defaultDir;
    if (!o.test) {
        if (talk && !o.dirGiven) {
            std::string typed;
            if (Ask("Extract to [" + TerminalSafe(dest) + "]: ", typed) && !typed.empty()) dest = typed;
        }
        // The destination itself is the user's (or the maker's) choice; everything below it is ours to make.
        std::string made;
        for (size_t i = 0; i <= dest.size(); ++i) {
            if (i == dest.size() || dest[i] == '/') {
                made = dest.substr(0, i);
                if (!made.empty()) mkdir(made.c_str(), 0755);
            }
        }
        root = open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
            fprintf(stderr, "varnok-sfx: %s: cannot open the destination folder: %s\n", TerminalSafe(dest).c_str(),
                    strerror(errno));
            return kSomeFailed;
        }
    }
    int failed = 0;
    for (const Entry& e : entries)
        if (!x.Run(e, root)) ++failed;
    if (root >= 0) close(root);
    if (failed) {
        fprintf(stderr, "varnok-sfx: %d of %zu entries failed\n", failed, entries.size());
        return kSomeFailed;
    }
    if (!(s.flags & kNoSuccessMsg)) {
        if (o.test) printf("%d files tested, no errors\n", x.Done());
        else printf("%d files extracted into %s\n", x.Done(), TerminalSafe(dest).c_str());
    }
    return kOk;
}
