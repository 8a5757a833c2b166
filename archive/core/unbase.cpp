#include "archive/core/unbase.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "archive/core/utils.h"
#include "archive/core/wildcard.h"
#include "platform/datetime.h"
#include "platform/fileattr.h"

namespace varnok {

// ---------------------------------------------------------------------------------------------- naming
// safety

bool IsAbsoluteName(const std::string& stored) {
    if (stored.empty()) return false;
    if (stored[0] == '/' || stored[0] == '\\') return true;  // also a UNC name such as \\server\share
    return stored.size() >= 2 && stored[1] == ':' &&
           ((stored[0] >= 'A' && stored[0] <= 'Z') || (stored[0] >= 'a' && stored[0] <= 'z'));
}

std::string SafeRelativeName(const std::string& stored) {
    std::string s = stored;
    for (char& c : s)
        if (c == '\\') c = '/';
    // A drive ("C:") in front of the name.
    if (s.size() >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')))
        s.erase(0, 2);
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find('/', i);
        if (j == std::string::npos) j = s.size();
        std::string part = s.substr(i, j - i);
        if (part == "..") return {};
        if (!part.empty() && part != ".") parts.push_back(part);
        i = j + 1;
    }
    std::string r;
    for (const auto& p : parts) {
        if (!r.empty()) r += '/';
        r += p;
    }
    return r;
}

namespace {

// A name made only of "." components and separators.
bool NamesTheDestination(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name)
        if (c != '.' && c != '/' && c != '\\') return false;
    return name.find("..") == std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------- sink

// Writes an entry's data: to the output file (or nowhere when testing), with the running CRC and progress.
class TUnBase::Sink final : public ByteSink {
  public:
    explicit Sink(TUnBase& owner) : o_(owner) {}
    void Reset(CrcKind kind, uint64_t expected, bool cap, uint64_t packed) {
        kind_ = kind;
        expected_ = expected;
        cap_ = cap;
        packed_ = packed ? packed : 1;
        count_ = decoded_ = 0;
        overflow_ = false;
        lastProgress_ = 0;
    }
    void Write(const uint8_t* buf, size_t n) override {
        if (o_.Cancel()) throw RunCancelled();
        const size_t fit = Fits(n);
        if (fit) Put(buf, fit);
        if (fit < n) Overflowed();
    }
    // Declared zero bytes: counted and checked as data, but the output seeks over them and testing does
    // nothing for them, so that a hole costs no time however large the archive says it is.
    void WriteZeros(uint64_t n) override {
        if (o_.Cancel()) throw RunCancelled();
        const uint64_t fit = cap_ ? std::min<uint64_t>(n, expected_ - std::min(expected_, count_)) : n;
        if (kind_ == CrcKind::Crc32)
            o_.Crc32Value = UpdateCrc32Zeros(o_.Crc32Value, fit);
        else if (kind_ == CrcKind::Crc16)
            o_.Crc16Value = UpdateCrc16Zeros(o_.Crc16Value, fit);
        if (o_.outputOpen_ && !o_.SkipOutput(fit))
            throw ArchiveError(E_WriteFile, o_.OutputName(), platform::LastErrorText());
        Counted(fit);
        if (fit < n) Overflowed();
    }
    uint64_t Count() const { return count_; }
    bool Overflow() const { return overflow_; }

  private:
    size_t Fits(size_t n) const {
        if (!cap_) return n;
        return static_cast<size_t>(std::min<uint64_t>(n, expected_ - std::min(expected_, count_)));
    }
    [[noreturn]] void Overflowed() {
        // More data than the entry's size: what fits is kept, the decoding stops.
        overflow_ = true;
        throw ArchiveError(E_CorruptInput, o_.EntryName(), "more data than the entry's size");
    }
    void Put(const uint8_t* buf, size_t n) {
        // A stream that decodes to far more than anything real: a decompression bomb.
        decoded_ += n;
        if (o_.MaxRatio && decoded_ > kRatioFloor && decoded_ / o_.MaxRatio > packed_) {
            o_.ratioHit_ = true;
            throw ArchiveError(E_MaxFileSize, o_.EntryName(),
                               "its data grow past " + std::to_string(o_.MaxRatio) +
                                   " times their packed size (a decompression bomb?)" + o_.HintText());
        }
        if (kind_ == CrcKind::Crc32)
            o_.Crc32Value = UpdateCrc32(o_.Crc32Value, buf, n);
        else if (kind_ == CrcKind::Crc16)
            o_.Crc16Value = UpdateCrc16(o_.Crc16Value, buf, n);
        if (o_.outputOpen_) {
            if (o_.AsciiTranslation) {
                std::vector<uint8_t> wide;
                wide.reserve(n + n / 8);
                for (size_t i = 0; i < n; ++i) {
                    if (buf[i] == '\n' && prev_ != '\r') wide.push_back('\r');
                    wide.push_back(buf[i]);
                    prev_ = buf[i];
                }
                if (!o_.WriteBytes(wide.data(), wide.size()))
                    throw ArchiveError(E_WriteFile, o_.OutputName(), platform::LastErrorText());
            } else if (!o_.WriteOutput(buf, n)) {
                throw ArchiveError(E_WriteFile, o_.OutputName(), platform::LastErrorText());
            }
        } else if (o_.runLimit_ && (o_.runWritten_ += n) > o_.runLimit_) {
            o_.RunLimitReached();
        }
        Counted(n);
    }
    void Counted(uint64_t n) {
        count_ += n;
        o_.BytesRemaining -= std::min<uint64_t>(o_.BytesRemaining, n);
        if (count_ - lastProgress_ >= (1u << 18) || count_ == expected_) {
            lastProgress_ = count_;
            o_.UpdateProgress(count_, expected_, o_.runTotal_);
        }
    }

    // Entries decoding to less than this are never taken for bombs, whatever their ratio.
    static constexpr uint64_t kRatioFloor = uint64_t{64} << 20;

    TUnBase& o_;
    CrcKind kind_ = CrcKind::None;
    uint64_t expected_ = 0, count_ = 0, decoded_ = 0, lastProgress_ = 0, packed_ = 1;
    bool cap_ = true, overflow_ = false;
    uint8_t prev_ = 0;
};

// ---------------------------------------------------------------------------------------------------- output

namespace {

constexpr size_t kHoleBlock = 4096;

bool AllZero(const uint8_t* p) {
    uint64_t acc = 0;
    for (size_t i = 0; i < kHoleBlock; i += 64) {
        for (size_t j = 0; j < 64; j += 8) {
            uint64_t w;
            std::memcpy(&w, p + i + j, 8);
            acc |= w;
        }
        if (acc) return false;
    }
    return true;
}

}  // namespace

// Writes bytes at the end of the output, counting them against the run's limit.
bool TUnBase::WriteBytes(const uint8_t* p, size_t n) {
    if (!n) return true;
    if (outHole_) {
        if (lseek(out_.Fd(), static_cast<off_t>(outHole_), SEEK_CUR) < 0) return false;
        outHole_ = 0;
    }
    if (runLimit_ && (runWritten_ += n) > runLimit_) RunLimitReached();
    return out_.Write(p, n);
}

// Writes data at the end of the output. Whole file blocks of zero bytes are not written but skipped over, so
// that a file of mostly zeros costs neither the time nor the disk space of writing them. Decoders hand over
// their data in pieces that need not fall on block bounds: zeros that begin a block at the end of one piece
// wait (outZeros_) for the next piece to tell whether the block is all zeros.
bool TUnBase::WriteOutput(const uint8_t* buf, size_t n) {
    if (!outSparse_) return WriteBytes(buf, n);
    static const uint8_t kZeros[kHoleBlock] = {};
    size_t i = 0;
    if (outZeros_) {
        const size_t take = std::min(kHoleBlock - outZeros_, n);
        if (std::memcmp(buf, kZeros, take) == 0) {
            outZeros_ += take;
            outPos_ += take;
            i = take;
            if (outZeros_ == kHoleBlock) {
                outHole_ += kHoleBlock;
                outZeros_ = 0;
            }
            if (i == n) return true;
        } else {
            const size_t z = outZeros_;
            outZeros_ = 0;
            if (!WriteBytes(kZeros, z)) return false;
        }
    }
    const uint64_t base = outPos_ - i;  // the file position of buf[0]
    size_t dataStart = i;
    while (i < n) {
        const size_t len = std::min(kHoleBlock - static_cast<size_t>((base + i) % kHoleBlock), n - i);
        if (len == kHoleBlock && AllZero(buf + i)) {
            if (!WriteBytes(buf + dataStart, i - dataStart)) return false;
            outHole_ += kHoleBlock;
            dataStart = i + kHoleBlock;
        } else if (i + len == n && (base + i) % kHoleBlock == 0 && std::memcmp(buf + i, kZeros, len) == 0) {
            // The start of a block, zeros so far: kept back until the block is complete.
            if (!WriteBytes(buf + dataStart, i - dataStart)) return false;
            outZeros_ = len;
            dataStart = n;
        }
        i += len;
    }
    if (!WriteBytes(buf + dataStart, n - dataStart)) return false;
    outPos_ = base + n;
    return true;
}

// Declared zero bytes: a hole in a new file; written out where the file cannot have one.
bool TUnBase::SkipOutput(uint64_t n) {
    if (outSparse_ && !AsciiTranslation) {
        outHole_ += outZeros_ + n;
        outZeros_ = 0;
        outPos_ += n;
        return true;
    }
    static const uint8_t kZeros[kHoleBlock] = {};
    while (n) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n, sizeof kZeros));
        if (!WriteBytes(kZeros, k)) return false;
        n -= k;
    }
    return true;
}

// A file that ends in a hole gets its full length.
bool TUnBase::FinishOutput() {
    outHole_ += outZeros_;
    outZeros_ = 0;
    if (!outHole_) return true;
    outHole_ = 0;
    return ftruncate(out_.Fd(), static_cast<off_t>(outPos_)) == 0;
}

void TUnBase::RunLimitReached() {
    runLimitHit_ = true;
    throw ArchiveError(runLimitCode_, OutputName(), runLimitText_);
}

// ---------------------------------------------------------------------------------------------------- run

TUnBase::TUnBase() : sink_(std::make_unique<Sink>(*this)) {
    RecurseDirs = true;
}
TUnBase::~TUnBase() = default;

ByteSink& TUnBase::Output() {
    return *sink_;
}
uint64_t TUnBase::OutputCount() const {
    return sink_->Count();
}
bool TUnBase::OutputOverflowed() const {
    return sink_->Overflow();
}

int TUnBase::ExtractArchive() {
    return Run(false);
}
int TUnBase::TestArchive() {
    return Run(true);
}

void TUnBase::SetRunTotal(uint64_t bytes) {
    runTotal_ = bytes;
    BytesRemaining = bytes;
}

int TUnBase::Run(bool testing) {
    BeginRun();
    testing_ = testing;
    extracted_ = 0;
    failed_ = 0;
    passwordFailed_ = false;
    passwordOffered_ = false;
    inEntry_ = false;
    OverwriteMode = omOverwrite;
    if (CpuType == cpt80486) CpuType = cptAuto;
    ExcludeSpec.clear();
    createdFiles_.clear();
    warnedAbsolute_.clear();
    dirTimes_.clear();
    newestDate_ = 0;
    const std::string archive = ArchiveFile();
    if (archive.empty()) RaiseError(archive, "", E_FileNotFound);
    if (!AcceptsType(ArcType())) RaiseError(archive, "", E_InvalidArcType);
    if (!OpensArchiveItself() && !OpenArchiveForRead())
        RaiseError(archive, platform::LastErrorText(), E_OpenFile);
    ArchiveEnd = ArchiveSize;
    if (!testing && !EnsureRoot()) {
        ArcFile.Close();
        RaiseError(ExtractDir, "", E_UnableCreateDir);
    }
    SetRunLimits();
    bool activated = true;
    if (OnActivate) OnActivate(*this);
    Password.clear();
    entryName_.clear();
    if (!TranslatesLineEnds()) AsciiTranslation = false;
    SetRunTotal(ArchiveSize);
    std::exception_ptr failure;
    try {
        ProcessArchive();
    } catch (const RunCancelled&) {
    } catch (...) {
        failure = std::current_exception();
    }
    if (outputOpen_) {
        FinishOutput();
        out_.Close();
        outputOpen_ = false;
    }
    if (!testing) FinishDirectories();
    archiveFile_ = archive;
    EndRun(activated);
    if (failure) std::rethrow_exception(failure);
    return extracted_;
}

void TUnBase::SetRunLimits() {
    runWritten_ = 0;
    runLimitHit_ = false;
    maxFileSize_ = UINT64_MAX;
    runLimit_ = MaxSize;
    runLimitCode_ = E_MaxFileSize;
    runLimitText_ = "the run would write more than " + std::to_string(MaxSize) + " bytes" + HintText();
    if (testing_) return;
    // The largest file the destination's file system takes (its offsets' bits, one of them the sign).
    long bits = pathconf(root_.c_str(), _PC_FILESIZEBITS);
    if (bits > 1 && bits < 64) maxFileSize_ = (uint64_t{1} << (bits - 1)) - 1;
    if (bits >= 64) maxFileSize_ = INT64_MAX;
    if (MaxSize == 0) {
        // No limit asked for: the space the destination has, which no extraction can go past anyway. Holes
        // take none of it.
        struct statvfs fs {};
        if (statvfs(root_.c_str(), &fs) == 0) {
            runLimit_ = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
            runLimitCode_ = E_NotEnoughSpace;
            runLimitText_ =
                "the archive holds more than the " + std::to_string(runLimit_) + " bytes free at " + root_;
        }
    }
}

bool TUnBase::FitsFileSystem(uint64_t size) {
    // A file of that length, all hole, and back: instant, and nothing is written.
    if (size > static_cast<uint64_t>(INT64_MAX)) return false;
    const bool fits = ftruncate(out_.Fd(), static_cast<off_t>(size)) == 0;
    if (ftruncate(out_.Fd(), 0) != 0) return false;
    return fits;
}

void TUnBase::DropOutput() {
    if (testing_ || !createdFiles_.count(outputName_)) return;
    unlink(outputName_.c_str());
    createdFiles_.erase(outputName_);
}

bool TUnBase::EnsureRoot() {
    std::string dir = ExtractDir;
    if (dir.empty()) dir = ExtractFilePath(ArchiveFile());
    if (dir.empty()) {
        char cwd[PATH_MAX];
        dir = getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    dir = RemoveSlash(dir);
    if (!platform::ForceDirectories(dir)) return false;
    char real[PATH_MAX];
    root_ = realpath(dir.c_str(), real) ? real : dir;
    return true;
}

bool TUnBase::SpecMatch(const std::string& name) const {
    size_t slash = name.find_last_of('/');
    std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    if (name.empty()) {
        // An entry without a name is in "everything": it is taken, to be reported, never passed over quietly.
        return std::any_of(FileSpec.begin(), FileSpec.end(),
                           [](const std::string& p) { return p == "*" || p == "*.*"; });
    }
    if (file.empty()) return false;
    bool selected = false;
    std::string nameDir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    for (const auto& p : FileSpec) {
        std::string pattern = p;
        size_t ps = p.find_last_of('/');
        if (RecurseDirs && ps != std::string::npos && !nameDir.empty()) {
            std::string patDir = p.substr(0, ps + 1);
            if (nameDir.size() >= patDir.size() &&
                UpperAscii(nameDir.substr(0, patDir.size())) == UpperAscii(patDir))
                pattern = nameDir + p.substr(ps + 1);
        }
        if (p == "*.*" || NameMatchesSpec(name, pattern)) {
            selected = true;
            break;
        }
    }
    if (!selected) return false;
    for (const auto& x : ExcludeSpec)
        if (x == "*.*" || NameMatchesSpec(name, x)) return false;
    return true;
}

void TUnBase::EnterEntry(const std::string& storedName) {
    if (inEntry_ && storedName == entryName_) return;
    inEntry_ = true;
    entryName_ = storedName;
    outputName_.clear();
    entryCode_ = 0;
    entryDetail_.clear();
}

void TUnBase::LeaveEntry() {
    // An error said of the entry without a verdict after it (an existing file kept for want of someone to
    // ask, a close that failed): the entry did not come out, and says so once.
    if (inEntry_ && entryCode_ && !verdictGiven_) {
        FailEntry(entryCode_, entryDetail_);
        if (OnEnd) OnEnd(*this, testing_ || outputName_.empty() ? entryName_ : outputName_, false);
    }
    inEntry_ = false;
    verdictGiven_ = false;
    entryCode_ = 0;
    entryDetail_.clear();
}

void TUnBase::ReportError(const std::string& fileName, const std::string& extendedMsg, int code,
                          const std::string& volumeId) {
    if (inEntry_) {
        entryCode_ = code;
        entryDetail_ = extendedMsg;
    }
    TZipCommon::ReportError(fileName, extendedMsg, code, volumeId);
}

void TUnBase::FailEntry(int code, const std::string& detail) {
    ++failed_;
    if (OnEntryFailed) OnEntryFailed(*this, entryName_, testing_ ? std::string() : outputName_, code, detail);
}

bool TUnBase::BuildOutputName(const std::string& entryName) {
    EnterEntry(entryName);
    outputName_.clear();
    if (entryName.empty()) return false;
    std::string rel = SafeRelativeName(entryName);
    if (rel.empty()) {
        EntryFailed(entryName, E_InvalidFileName, "the name leads outside the destination folder");
        return false;
    }
    if (!UseStoredDirs) rel = ExtractFileName(rel);
    if (root_.empty()) EnsureRoot();
    outputName_ = root_ == "/" ? "/" + rel : root_ + "/" + rel;
    if (!testing_ && IsAbsoluteName(entryName) && !warnedAbsolute_.count(entryName)) {
        // Written inside the destination, as every archiver does; but said, once per entry.
        warnedAbsolute_.insert(entryName);
        ReportWarning(entryName, "its absolute path was stripped: written as " + rel, E_InvalidFileName);
    }
    return true;
}

void TUnBase::ReportWarning(const std::string& fileName, const std::string& detail, int code) {
    reportingWarning_ = true;
    TZipCommon::ReportError(fileName, detail, code);
    reportingWarning_ = false;
}

bool TUnBase::ShouldExtract(bool force) {
    if (force) return true;
    PauseClock();
    bool extract = true;
    // Every entry starts from overwriting; an earlier "skip" answer applies to its own file only.
    OverwriteMode = omOverwrite;
    if (OnBegin) OnBegin(*this, testing_ ? entryName_ : outputName_, extracted_, extract);
    bool result = false;
    if (!Cancel() && extract && !outputName_.empty()) {
        if (!ConfirmOverwrites || testing_) {
            result = OverwriteMode == omOverwrite;
        } else if (OnFileExists) {
            int rounds = 0;
            while (!Cancel() && OverwriteMode == omOverwrite && platform::PathExists(outputName_) &&
                   rounds++ < 100) {
                std::string newName;
                OnFileExists(*this, outputName_, newName, OverwriteMode);
                if (OverwriteMode != omOverwrite) break;
                if (newName.empty() || newName == outputName_) break;
                // Another name: it must stay inside the destination.
                std::string rel = newName;
                if (!rel.empty() && rel[0] == '/') {
                    if (rel.compare(0, root_.size() + 1, root_ + "/") != 0) {
                        EntryFailed(newName, E_InvalidFileName,
                                    "the name leads outside the destination folder");
                        OverwriteMode = omSkip;
                        break;
                    }
                    rel = rel.substr(root_.size() + 1);
                }
                rel = SafeRelativeName(rel);
                if (rel.empty()) {
                    EntryFailed(newName, E_InvalidFileName, "the name leads outside the destination folder");
                    OverwriteMode = omSkip;
                    break;
                }
                outputName_ = root_ + "/" + rel;
            }
            result = !Cancel() && OverwriteMode == omOverwrite;
        } else if (platform::PathExists(outputName_)) {
            // No one to ask: the existing file is kept, and only this one.
            ReportError(outputName_, "OnFileExists", E_EventNotAssigned);
            result = false;
        } else {
            result = true;
        }
    }
    if (result && !testing_) {
        uint32_t a = platform::AttributesOf(outputName_);
        if ((a & platform::faReadOnly) && !(a & (platform::faSysFile | platform::faDirectory)))
            chmod(outputName_.c_str(), 0644);
    }
    ResumeClock();
    return result;
}

bool TUnBase::Unsafe(const std::string& path) {
    // Every folder between the destination and the file must be a real folder, not a link.
    if (path.compare(0, root_.size(), root_) != 0) return true;
    size_t i = root_.size();
    while (true) {
        size_t j = path.find('/', i + 1);
        if (j == std::string::npos) break;
        std::string dir = path.substr(0, j);
        struct stat st;
        if (lstat(dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return true;
        i = j;
    }
    return false;
}

bool TUnBase::MakeParents(const std::string& path) {
    size_t i = root_.size();
    while (true) {
        size_t j = path.find('/', i + 1);
        if (j == std::string::npos) return true;
        std::string dir = path.substr(0, j);
        struct stat st;
        if (lstat(dir.c_str(), &st) != 0) {
            if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
        } else if (!S_ISDIR(st.st_mode)) {
            return false;
        }
        i = j;
    }
}

bool TUnBase::OpenOutput(bool append) {
    if (testing_) return true;
    if (outputName_.empty()) return false;
    if (Unsafe(outputName_) || !MakeParents(outputName_)) {
        EntryFailed(outputName_, E_OpenFile, "a folder of the path is a link or a file");
        return false;
    }
    struct stat st;
    if (lstat(outputName_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            EntryFailed(outputName_, E_OpenFile, "a folder of that name exists");
            return false;
        }
        // A link in the file's place is replaced, never followed.
        if (S_ISLNK(st.st_mode) && !append) unlink(outputName_.c_str());
    }
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    int fd = ::open(outputName_.c_str(), flags, 0644);
    if (fd < 0 && errno == EACCES && !append) {
        chmod(outputName_.c_str(), 0644);
        fd = ::open(outputName_.c_str(), flags, 0644);
    }
    if (fd < 0) {
        EntryFailed(outputName_, E_OpenFile, platform::LastErrorText());
        return false;
    }
    out_.Adopt(fd, outputName_);
    outputOpen_ = true;
    outSparse_ = !append;
    outPos_ = outHole_ = 0;
    outZeros_ = 0;
    createdFiles_.insert(outputName_);
    return true;
}

void TUnBase::CloseOutput(const ArchiveEntry& e) {
    if (!outputOpen_) {
        if (testing_) outputName_ = entryName_;
        return;
    }
    if (!FinishOutput() || !out_.Close()) ReportError(outputName_, platform::LastErrorText(), E_CloseFile);
    outputOpen_ = false;
    int64_t date = e.EntryDate;
    if (DateAttribute == daSysDate)
        date = platform::NowUnix();
    else if (DateAttribute == daMaxFileDate && newestDate_)
        date = newestDate_;
    if (e.UnixMode && RestoreFileAttr) {
        // The stored permissions, without set-id bits.
        chmod(outputName_.c_str(), e.UnixMode & 01777);
    } else if (const uint32_t dos = e.ExternalAttr & 0x27; RestoreFileAttr && dos && dos != 0x20) {
        platform::ApplyDosAttributes(outputName_, dos);
    }
    platform::SetFileTime(outputName_, date);
    newestDate_ = std::max(newestDate_, e.EntryDate);
}

bool TUnBase::CrcMatches(CrcKind kind, uint32_t stored) const {
    uint32_t running = kind == CrcKind::Crc16 ? Crc16Value : Crc32Value;
    if (kind == CrcKind::Crc16)
        return (stored & 0xFFFF) == running || (stored & 0xFFFF) == (~running & 0xFFFF);
    return stored == running || stored == ~running;
}

bool TUnBase::CheckCrc(CrcKind kind, uint32_t stored) {
    return Verdict(CrcMatches(kind, stored));
}

bool TUnBase::Verdict(bool pass) {
    std::string name = testing_ || outputName_.empty() ? entryName_ : outputName_;
    // An error said of the entry while it was handled fails it, whatever its data's check says.
    if (entryCode_) pass = false;
    verdictGiven_ = true;
    if (!pass) {
        // The reason is what was said of the entry while it was handled, or else the check itself.
        if (!entryCode_) {
            entryCode_ = E_CrcCheck;
            if (!OnEnd) ReportError(name, "", E_CrcCheck);
        }
        FailEntry(entryCode_, entryDetail_);
    }
    if (OnEnd) OnEnd(*this, name, pass);
    LeaveEntry();
    return pass;
}

void TUnBase::SkipProgress(uint64_t size) {
    BytesRemaining -= std::min(BytesRemaining, size);
    UpdateProgress(size, size, runTotal_);
}

bool TUnBase::AcquirePassword(const std::string& entryName,
                              const std::function<bool(const std::string&)>& test) {
    EnterEntry(entryName);
    passwordOffered_ = passwordOffered_ || !Password.empty() || !Passwords.empty();
    // Password holds the one that fitted an earlier entry, if any. It is empty at the start of a run, and an
    // empty password is not tried on its own: the traditional ZIP cipher checks a single byte, so it would pass
    // one encrypted entry in 256 and leave that entry failing its CRC although the right password was given.
    // An empty password given on purpose (in Passwords, or as an answer) is still tried.
    if (!Password.empty() && test(Password)) return true;
    for (const auto& p : Passwords) {
        if (test(p)) {
            Password = p;
            return true;
        }
    }
    if (!OnGetPassword) {
        ReportError(entryName, "OnGetPassword", E_EventNotAssigned);
        return false;
    }
    for (int attempt = 0; attempt < PasswordAttempts && !Cancel(); ++attempt) {
        std::string p;
        bool tryAgain = true;
        PauseClock();
        OnGetPassword(*this, entryName, p, tryAgain);
        ResumeClock();
        if (!tryAgain) break;
        passwordOffered_ = true;
        if (test(p)) {
            Password = p;
            Passwords.insert(Passwords.begin(), p);
            return true;
        }
        // Said of this attempt only: the entry's own verdict comes when its data are read.
        Password.clear();
        reportingAttempt_ = true;
        TZipCommon::ReportError(entryName, "", E_InvalidPassword);
        reportingAttempt_ = false;
    }
    return false;
}

bool TUnBase::CheckZipPassword(const uint8_t header[12], const std::string& entryName, uint16_t gpFlags,
                               uint32_t dosTime, uint32_t crc, ZipCipher& keys) {
    ZipCipher probe;
    bool ok = AcquirePassword(entryName, [&](const std::string& pw) {
        return probe.CheckCryptHeader(header, pw, gpFlags, dosTime, crc);
    });
    if (ok) keys.CheckCryptHeader(header, Password, gpFlags, dosTime, crc);
    return ok;
}

void TUnBase::WalkFailed(const EntryWalk& walk) {
    std::string detail =
        walk.ErrorDetail().empty() ? "at offset " + std::to_string(walk.ErrorOffset()) : walk.ErrorDetail();
    ++failed_;
    ReportError(CurrentVolume.empty() ? ArchiveFile() : CurrentVolume, detail, walk.Error());
}

void TUnBase::EntryFailed(const std::string& name, int code, const std::string& detail) {
    if (!inEntry_) EnterEntry(name);
    ReportError(name, detail, code);
    FailEntry(code, detail);
    verdictGiven_ = true;
    if (OnEnd) OnEnd(*this, name, false);
    LeaveEntry();
}

bool TUnBase::CreateLink(const ArchiveEntry& e) {
    if (testing_) return true;
    if (Unsafe(outputName_) || !MakeParents(outputName_)) {
        EntryFailed(outputName_, E_OpenFile, "a folder of the path is a link or a file");
        return false;
    }
    struct stat st;
    if (lstat(outputName_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            EntryFailed(outputName_, E_OpenFile, "a folder of that name exists");
            return false;
        }
        unlink(outputName_.c_str());
    }
    if (e.IsSymlink) {
        if (symlink(e.LinkTarget.c_str(), outputName_.c_str()) != 0) {
            EntryFailed(outputName_, E_OpenFile, platform::LastErrorText());
            return false;
        }
        platform::SetFileTime(outputName_, e.EntryDate, false);
        return true;
    }
    // A hard link: to a file of this run inside the destination.
    std::string rel = SafeRelativeName(e.LinkTarget);
    std::string target =
        rel.empty() ? std::string() : root_ + "/" + (UseStoredDirs ? rel : ExtractFileName(rel));
    if (target.empty() || !createdFiles_.count(target) || Unsafe(target)) {
        EntryFailed(outputName_, E_FileNotFound, "the link's target " + e.LinkTarget + " was not extracted");
        return false;
    }
    if (link(target.c_str(), outputName_.c_str()) != 0) {
        EntryFailed(outputName_, E_OpenFile, platform::LastErrorText());
        return false;
    }
    createdFiles_.insert(outputName_);
    return true;
}

void TUnBase::FinishDirectories() {
    // Deepest first, so that setting a folder's time is not undone by its children.
    std::sort(dirTimes_.begin(), dirTimes_.end(),
              [](const DirTime& a, const DirTime& b) { return a.path.size() > b.path.size(); });
    for (const auto& d : dirTimes_) {
        struct stat st;
        if (lstat(d.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (d.mode && RestoreFileAttr) chmod(d.path.c_str(), (d.mode & 0777) | 0700);
        platform::SetFileTime(d.path, d.date);
    }
}

TUnBase::EntryResult TUnBase::ExtractEntry(const ArchiveEntry& e, CrcKind kind, uint32_t storedCrc,
                                           const std::function<DecodeResult(ByteSink&)>& decode) {
    EntryResult r = HandleEntry(e, kind, storedCrc, decode);
    LeaveEntry();
    return r;
}

TUnBase::EntryResult TUnBase::HandleEntry(const ArchiveEntry& e, CrcKind kind, uint32_t storedCrc,
                                          const std::function<DecodeResult(ByteSink&)>& decode) {
    currentDate_ = e.EntryDate;
    if (e.IsDirectory && NamesTheDestination(e.EntryName)) {
        // A folder entry for the archive's own top ("./", as tar-style writers store it) is the destination.
        ResetCrc();
        return EntryResult::Skipped;
    }
    if (e.EntryName.empty() && !e.IsVolumeLabel) {
        // Nothing to write it as; said under its place in the archive, so that it is not passed over quietly.
        const std::string place = "(the unnamed entry at offset " + std::to_string(e.Offset) + ")";
        EnterEntry(place);
        EntryFailed(place, E_InvalidFileName, "it has no name");
        SkipProgress(e.PackedSize);
        return EntryResult::Failed;
    }
    if (!BuildOutputName(e.EntryName)) {
        SkipProgress(e.PackedSize);
        return EntryResult::Failed;
    }
    if (e.IsVolumeLabel) {
        ResetCrc();
        return EntryResult::Skipped;
    }
    if (e.IsDirectory) {
        if (!ShouldExtract(true)) return EntryResult::Skipped;
        if (!testing_ && CreateStoredDirs && UseStoredDirs) {
            if (Unsafe(outputName_ + "/x") || !MakeParents(outputName_ + "/x")) {
                EntryFailed(outputName_, E_UnableCreateDir, "a folder of the path is a link or a file");
                return EntryResult::Failed;
            }
            dirTimes_.push_back({outputName_, e.EntryDate, e.UnixMode});
        }
        return EntryResult::Skipped;
    }
    if (!ShouldExtract(false)) {
        SkipProgress(e.PackedSize);
        return EntryResult::Skipped;
    }
    if (e.Encrypted && passwordFailed_) {
        // No usable password: nothing is written, and the entry does not pass.
        SkipProgress(e.PackedSize);
        if (passwordOffered_)
            EntryFailed(testing_ ? entryName_ : outputName_, E_InvalidPassword, "no password given fits");
        else
            EntryFailed(testing_ ? entryName_ : outputName_, E_PasswordProtected, "no password was given");
        return EntryResult::Failed;
    }
    ++extracted_;
    if (e.IsSymlink || e.IsHardLink) {
        if (!CreateLink(e)) {
            --extracted_;
            return EntryResult::Failed;
        }
        Verdict(true);
        return EntryResult::Extracted;
    }
    if (!testing_ && e.SizeKnown && e.UnpackedSize > maxFileSize_) {
        // Refused before anything is written: the destination could never hold it.
        --extracted_;
        SkipProgress(e.PackedSize);
        EntryFailed(outputName_, E_FileSizeExceedsOs,
                    "its size of " + std::to_string(e.UnpackedSize) +
                        " bytes is more than the file system of " + root_ + " can hold");
        return EntryResult::Failed;
    }
    if (!OpenOutput()) {
        --extracted_;
        SkipProgress(e.PackedSize);
        return EntryResult::Failed;
    }
    if (!testing_ && e.SizeKnown && e.UnpackedSize > kProbeSize && !FitsFileSystem(e.UnpackedSize)) {
        // The file system refuses a file of that length (its limit is often below what it says it takes):
        // found out before anything is written.
        out_.Close();
        outputOpen_ = false;
        DropOutput();
        --extracted_;
        SkipProgress(e.PackedSize);
        EntryFailed(outputName_, E_FileSizeExceedsOs,
                    "its size of " + std::to_string(e.UnpackedSize) +
                        " bytes is more than the file system of " + root_ + " can hold");
        return EntryResult::Failed;
    }
    ResetCrc();
    ratioHit_ = false;
    sink_->Reset(kind, e.UnpackedSize, e.SizeKnown, e.PackedSize);
    DecodeResult r;
    std::string failure;  // what the decoding's own error said
    bool decodeFailed = false;
    try {
        r = decode(*sink_);
    } catch (const RunCancelled&) {
        CloseOutput(e);
        throw;
    } catch (const ArchiveError& ex) {
        decodeFailed = true;
        r.status = DecodeStatus::Corrupt;
        r.errorCode = ex.Code();
        failure = ex.Detail();
        if (ex.Code() == E_WriteFile || runLimitHit_) {
            // The output cannot take more: the run ends here, and what it left of this file goes.
            CloseOutput(e);
            DropOutput();
            RaiseError(outputName_, ex.Detail(), ex.Code());
        }
        if (ratioHit_) {
            // A refused bomb leaves nothing of itself behind; the other entries go on.
            CloseOutput(e);
            DropOutput();
        }
    }
    CloseOutput(e);
    if (r.status == DecodeStatus::Cancelled || Cancel()) throw RunCancelled();
    if (!r.Ok() && r.errorCode && r.errorCode != E_CrcCheck) {
        const bool unsupported = r.errorCode == E_UnsupportedMethod;
        ReportError(testing_ ? entryName_ : outputName_,
                    decodeFailed  ? failure
                    : unsupported ? ""
                                  : "damaged data",
                    r.errorCode);
        if (unsupported && sink_->Count() == 0 && !testing_ && createdFiles_.count(outputName_)) {
            // Nothing could be decoded: no empty file in its place.
            unlink(outputName_.c_str());
            createdFiles_.erase(outputName_);
        }
    }
    const bool sizeOk = !e.SizeKnown || sink_->Count() == e.UnpackedSize;
    if (!sizeOk && !entryCode_)
        ReportError(testing_ ? entryName_ : outputName_, "the data ends early", E_CrcCheck);
    // Without a stored check value the decoder's own verdict decides.
    const bool checked = kind == CrcKind::None ? r.Ok() : CrcMatches(kind, storedCrc);
    const bool pass = Verdict(checked && sizeOk);
    if (!pass && e.Encrypted && !testing_ && createdFiles_.count(outputName_)) {
        // Encrypted data that do not check out were decrypted with a wrong key: garbage, not a damaged file.
        unlink(outputName_.c_str());
        createdFiles_.erase(outputName_);
    }
    return pass ? EntryResult::Extracted : EntryResult::Failed;
}

}  // namespace varnok
