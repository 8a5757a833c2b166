// The extraction base: runs an extraction or a test, and gives every extractor the per-entry services its
// family needs: selection, the begin-entry decision with overwrite handling, safe output naming under
// ExtractDir, output creation, stored-data copying, closing with date and attributes, passwords and the CRC
// verdict.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "archive/core/codec.h"
#include "archive/core/component.h"
#include "archive/core/entry.h"
#include "archive/core/format.h"
#include "archive/core/zipcrypt.h"
#include "platform/file.h"

namespace varnok {

enum TCpuType { cptAuto, cpt80386, cpt80486, cptPentium };

class TUnBase : public TZipCommon {
  public:
    TUnBase();
    ~TUnBase() override;

    bool CreateStoredDirs = false;
    bool RestoreFileAttr = true;
    // Decompression bombs. An entry whose data grow past MaxRatio times their packed size (and past 64 MiB)
    // is refused; 0 turns the check off. The default, a million to one, is beyond what real data reach:
    // deflate cannot pass about 1,032 to one, compress about 33,000 to one, and the LZH and ARJ methods reach
    // about 100,000 to one only on files of nothing but zero bytes hundreds of megabytes long.
    uint64_t MaxRatio = 1'000'000;
    // The bytes a run may write at most (holes excluded); 0: as many as the destination has free (testing: no
    // limit). A run that reaches it ends with an error naming the entry.
    uint64_t MaxSize = 0;
    // Said after a refusal by either limit: how this caller's user raises them ("--max-ratio ...").
    std::string LimitsHint;
    TCpuType CpuType = cptAuto;

    TOnBegin OnBegin;
    TOnEnd OnEnd;
    // An entry failed (its data, its password, its output): fired once per entry, just before OnEnd, with
    // the stored name, the output path (empty when testing or when none was made) and the reason: the last
    // error reported while the entry was being handled, or else the failed check.
    std::function<void(TZipCommon& sender, const std::string& storedName, const std::string& outputPath,
                       int code, const std::string& detail)>
        OnEntryFailed;
    TUnBase_OnFileExists OnFileExists;
    TOnGetPassword OnGetPassword;

    // Extracts the selected entries into ExtractDir; returns the number of files extracted. Raises
    // ArchiveError for an archive that cannot be extracted at all (no file 25172, wrong type 25242,
    // unopenable 25235).
    int ExtractArchive();
    // Decodes the selected entries without writing anything; returns the number of entries tested.
    int TestArchive();

    bool Testing() const { return testing_; }
    int FilesExtracted() const { return extracted_; }
    // Entries whose data failed (CRC, decoding, password, output) in the last run.
    int FailedEntries() const { return failed_; }

    // ---- Services for the extractors ----

    // Selection with the extraction rules: a pattern with a folder also selects entries below it
    // (RecurseDirs).
    bool SpecMatch(const std::string& name) const override;
    // Selection of an entry or (for a folder entry, named without its trailing "/") of a folder: a folder is
    // taken when the file patterns take what lies in it.
    bool SelectsEntry(const std::string& name, bool folder) const {
        if (name.empty()) return !folder && SpecMatch(name);  // a file without a name: reported if taken
        return folder ? SpecMatch(name + "/x") : SpecMatch(name);
    }
    // Sets the output name of an entry below ExtractDir. A stored name that would leave the destination (".."
    // components, a drive, a name made only of separators) is refused with a reported error: false.
    bool BuildOutputName(const std::string& entryName);
    const std::string& OutputName() const { return outputName_; }
    const std::string& EntryName() const { return entryName_; }
    // The date of the entry being extracted (for overwrite decisions by date).
    int64_t CurrentEntryDate() const { return currentDate_; }
    // The begin-entry decision (OnBegin, overwrite rules). Force answers yes at once.
    bool ShouldExtract(bool force);
    // Opens the output of the current entry: folders are created below ExtractDir without ever following a
    // symbolic link; an existing link in the file's place is replaced, never written through.
    bool OpenOutput(bool append = false);
    // The sink an entry's decoder writes into: it keeps the running CRC, counts, reports progress, and
    // refuses more data than the entry's size (the decoding then stops as corrupt).
    ByteSink& Output();
    uint64_t OutputCount() const;
    bool OutputOverflowed() const;
    // Finishes the current output: closes it, sets its date and attributes (or Unix mode).
    void CloseOutput(const ArchiveEntry& e);
    // The verdict on the entry's data: the stored value against the running CRC (or its complement); fires
    // OnEnd, or reports 25151 without it.
    bool CheckCrc(CrcKind kind, uint32_t stored);
    // Whether the running CRC of the entry's data matches the stored value (or its complement).
    bool CrcMatches(CrcKind kind, uint32_t stored) const;
    // The verdict without a CRC (formats that store none): fires OnEnd, or reports 25151 for a failure.
    bool Verdict(bool pass);
    // Counts an entry that is not extracted as done for the run's progress.
    void SkipProgress(uint64_t size);
    // Finds a password for an encrypted entry: the current one, then Passwords in order, then OnGetPassword
    // up to PasswordAttempts times. test tells whether a password fits. Success leaves it in Password.
    bool AcquirePassword(const std::string& entryName, const std::function<bool(const std::string&)>& test);
    // The traditional ZIP cipher's check (ZIP and BH entries): an entry's 12-byte encryption header against
    // the current password, Passwords and OnGetPassword. On success keys stand ready for the entry's data.
    bool CheckZipPassword(const uint8_t header[12], const std::string& entryName, uint16_t gpFlags,
                          uint32_t dosTime, uint32_t crc, ZipCipher& keys);
    bool PasswordFailed() const { return passwordFailed_; }
    // During OnError: whether the error belongs to the entry being handled (its one failure report follows
    // through OnEntryFailed) rather than to the run as a whole.
    bool ReportingForEntry() const { return inEntry_; }
    // During OnError: whether the error says that one typed password was wrong (the entry is asked for
    // another, or fails afterwards with its own report).
    bool ReportingAttempt() const { return reportingAttempt_; }
    // During OnError: whether the error is a warning about the entry, which is extracted all the same (an
    // absolute path stripped).
    bool ReportingWarning() const { return reportingWarning_; }
    void ReportError(const std::string& fileName, const std::string& extendedMsg, int code,
                     const std::string& volumeId = "0") override;
    void SetPasswordFailed() { passwordFailed_ = true; }

    enum class EntryResult { Extracted, Skipped, Failed };
    // The whole per-entry sequence: output name, begin decision, open, decode, close, CRC. decode writes the
    // entry's data into the sink it gets and returns how the decoding went. For folders, links and volume
    // labels no decoder runs. With CrcKind::None (formats that store no check value) the decoder's verdict
    // and the size decide.
    EntryResult ExtractEntry(const ArchiveEntry& e, CrcKind kind, uint32_t storedCrc,
                             const std::function<DecodeResult(ByteSink&)>& decode);

    // The bytes of the whole run, for its progress (extractors set it from their selected entries).
    void SetRunTotal(uint64_t bytes);
    uint64_t RunTotal() const { return runTotal_; }

    // Reports a warning about an entry: said through OnError, but the entry does not fail for it.
    void ReportWarning(const std::string& fileName, const std::string& detail, int code);

    // Reports a failed entry (counted in FailedEntries).
    void EntryFailed(const std::string& name, int code, const std::string& detail = {});

  protected:
    // Reads every entry of the archive through its family's walk, decides the code page of the names from
    // them (from the first volume's, for a set of volumes), and keeps the entries the file patterns select
    // (a folder when they take what lies in it), setting the run's total from their sizes. A damaged header
    // that ends the walk is reported once; what was read before it is still extracted. each, when given,
    // sees every entry the walk reads, selected or not.
    template <class Walk, class Each = std::nullptr_t>
    std::vector<typename Walk::Item> Collect(Walk& walk, Each each = nullptr) {
        std::vector<typename Walk::Item> all;
        BeginNames();
        typename Walk::Item item;
        while (!Cancel() && walk.Next(item)) {
            if constexpr (!std::is_same_v<Each, std::nullptr_t>) each(item);
            if (!walk.PastFirstVolume()) SampleTexts(item.entry, names_);
            all.push_back(std::move(item));
        }
        if (walk.Error()) WalkFailed(walk);
        names_.Decide();
        std::vector<typename Walk::Item> selected;
        uint64_t total = 0;
        for (auto& it : all) {
            DecodeTexts(it.entry, names_);
            if (!Selects(it.entry)) continue;
            total += it.entry.UnpackedSize;
            selected.push_back(std::move(it));
        }
        SetRunTotal(total);
        return selected;
    }
    // Whether the file patterns select an entry.
    bool Selects(const ArchiveEntry& e) const { return SelectsEntry(e.EntryName, e.IsDirectory); }
    // Reports the damaged header that ended a walk (a failure of the run).
    void WalkFailed(const EntryWalk& walk);

    // Walks the archive and extracts; runs with the archive open in ArcFile (unless an outside library reads
    // it).
    virtual void ProcessArchive() = 0;
    // Types an extractor accepts beyond the extractable ones (for example PAK archives).
    virtual bool AcceptsType(TArcType t) const { return IsExtractable(t); }
    // Whether the family writes text entries with their line ends widened when AsciiTranslation asks for it
    // (single-file compressed text); for every other family the setting is ignored.
    virtual bool TranslatesLineEnds() const { return false; }
    // Whether the extractor opens the archive itself (outside libraries).
    virtual bool OpensArchiveItself() const { return IsDllType(ArcType()); }

    uint64_t ArchiveEnd = 0;  // file size of the current volume

  private:
    int Run(bool testing);
    // The handling of one entry: from its name being taken (output name, password) to its verdict.
    void EnterEntry(const std::string& storedName);
    void LeaveEntry();
    // The one failure report of the current entry.
    void FailEntry(int code, const std::string& detail);
    EntryResult HandleEntry(const ArchiveEntry& e, CrcKind kind, uint32_t storedCrc,
                            const std::function<DecodeResult(ByteSink&)>& decode);
    bool EnsureRoot();
    bool MakeParents(const std::string& path);
    bool Unsafe(const std::string& path);
    bool CreateLink(const ArchiveEntry& e);
    void FinishDirectories();

    class Sink;
    friend class Sink;
    std::unique_ptr<Sink> sink_;
    platform::File out_;
    bool outputOpen_ = false;
    // Runs of zero bytes in a new output file are left as holes: outHole_ zero bytes follow what was written,
    // outPos_ is the logical end of the file; outZeros_ zero bytes before it begin a block not yet complete.
    bool outSparse_ = false;
    uint64_t outPos_ = 0, outHole_ = 0;
    size_t outZeros_ = 0;
    bool WriteOutput(const uint8_t* buf, size_t n);
    bool WriteBytes(const uint8_t* buf, size_t n);
    bool SkipOutput(uint64_t n);
    bool FinishOutput();
    // Removes the output this run created for the current entry.
    void DropOutput();
    // Whether the file system takes the open output file at that length.
    bool FitsFileSystem(uint64_t size);
    static constexpr uint64_t kProbeSize = uint64_t{1} << 30;  // larger files are tried first
    void SetRunLimits();
    [[noreturn]] void RunLimitReached();
    std::string HintText() const { return LimitsHint.empty() ? std::string() : "; " + LimitsHint; }
    uint64_t maxFileSize_ = UINT64_MAX;  // the destination's largest file
    uint64_t runLimit_ = 0, runWritten_ = 0;
    int runLimitCode_ = 0;
    std::string runLimitText_;
    bool runLimitHit_ = false;
    bool ratioHit_ = false;  // this entry grew past MaxRatio
    bool testing_ = false;
    int extracted_ = 0;
    int failed_ = 0;
    bool passwordFailed_ = false;
    bool passwordOffered_ = false;  // a password was there to try in this run
    bool inEntry_ = false;
    bool verdictGiven_ = false;
    bool reportingAttempt_ = false;
    bool reportingWarning_ = false;
    std::set<std::string> warnedAbsolute_;
    int entryCode_ = 0;  // the last error reported for the current entry
    std::string entryDetail_;
    std::string entryName_;
    std::string outputName_;
    std::string root_;  // ExtractDir, resolved
    uint64_t runTotal_ = 0;
    uint64_t expected_ = 0;
    bool capOutput_ = true;
    int64_t newestDate_ = 0;
    int64_t currentDate_ = 0;
    std::set<std::string> createdFiles_;  // outputs of this run (hard links may only point at these)
    struct DirTime {
        std::string path;
        int64_t date;
        uint32_t mode;
    };
    std::vector<DirTime> dirTimes_;
};

// Whether a stored name is absolute: a leading separator (also a UNC name such as \\server\share) or a drive.
bool IsAbsoluteName(const std::string& stored);

// Makes a stored name safe to create below a destination: "\" and "/" separate folders, "." components and
// leading separators or a drive go, and a ".." component makes the name unusable (empty result).
std::string SafeRelativeName(const std::string& stored);

}  // namespace varnok
