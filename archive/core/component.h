// The common base of every archive component: identification of the archive, shared settings, events,
// numbered errors, cancel, progress and elapsed time, file patterns, volumes and spanned disks,
// temporary files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archive/core/arctype.h"
#include "archive/core/diskmanager.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/names.h"
#include "archive/core/zip_records.h"
#include "archive/core/stream.h"
#include "platform/file.h"

namespace varnok {

class TZipCommon;

enum TOverwriteMode { omOverwrite, omSkip };
enum TDateAttribute { daFileDate, daSysDate, daMaxFileDate };
enum TDeleteOptions { doFinal, doAllowUndo };
enum TStoredDirNames { sdNone, sdAbsolute, sdAbsoluteNoDrv, sdRelative, sdRelativeStoreStart, sdExplorer };

// HeadFlag bits set while looking for the ZIP end record.
enum : uint8_t {
    hfEndRecord = 0x01,
    hfCentralHeader = 0x08,
    hfLocalHeader = 0x10,
};

// Event types. Every handler gets the component that raised it first.
using TNotifyEvent = std::function<void(TZipCommon& sender)>;
using TOnError = std::function<void(TZipCommon& sender, const std::string& fileName,
                                    const std::string& extendedMsg, const std::string& volumeId, int code)>;
using TOnProgress = std::function<void(TZipCommon& sender, int progressByFile, int progressByArchive)>;
using TOnElapsedTime = std::function<void(TZipCommon& sender, double seconds)>;
using TOnBegin = std::function<void(TZipCommon& sender, const std::string& name, int count, bool& extract)>;
using TOnEnd = std::function<void(TZipCommon& sender, const std::string& name, bool crcPass)>;
using TUnBase_OnFileExists = std::function<void(TZipCommon& sender, const std::string& fileName,
                                                std::string& newFileName, TOverwriteMode& mode)>;
using TOnFileExists = std::function<void(TZipCommon& sender, const std::string& fileName, int64_t fileDate,
                                         TOverwriteMode& mode)>;
using TOnGetPassword =
    std::function<void(TZipCommon& sender, const std::string& name, std::string& password, bool& tryAgain)>;
using TOnGetZipFirstDisk = std::function<void(TZipCommon& sender, bool& cancel)>;
using TOnGetZipNextDisk =
    std::function<void(TZipCommon& sender, const std::string& volumeName, bool& cancel)>;
using TOnGetZipLastDisk = std::function<void(TZipCommon& sender, bool& cancel)>;
using TOnInsertDisk = std::function<void(TZipCommon& sender, const std::string& volumeName, bool& cancel)>;
using TOnClearDisk = std::function<void(TZipCommon& sender, const std::string& drive, uint64_t requiredSpace,
                                        uint64_t freeSpace, uint64_t totalSpace, bool& cancel)>;
using TOnNextVolume = std::function<void(TZipCommon& sender, std::string& volumeName,
                                         const std::string& volumeId, bool exists, bool& cancel)>;
using TOnCorruptZipHeader = std::function<void(TZipCommon& sender, uint8_t headFlag, bool& cancel)>;
using TOnRead = std::function<void(TZipCommon& sender, uint64_t offset, int fileNum)>;
using TOnReadFile = std::function<void(TZipCommon& sender, const std::string& fileName)>;
using TOnTotals =
    std::function<void(TZipCommon& sender, uint64_t unpackSize, uint64_t packSize, int ratio, int numFiles)>;
using TOnRecurseDir = std::function<void(TZipCommon& sender, const std::string& directory)>;
using TOnRenameFile =
    std::function<void(TZipCommon& sender, const std::string& oldName, std::string& newName)>;
using TOnReplaceFile = std::function<void(
    TZipCommon& sender, const std::string& oldName, const std::string& name, int64_t oldDate, int64_t newDate,
    uint64_t oldSize, uint64_t newSize, uint32_t oldAttr, uint32_t newAttr, bool& replace)>;
using TOnNonWriteableArchive =
    std::function<void(TZipCommon& sender, const std::string& archive, bool& writeToFile)>;
using TOnDeleteFile =
    std::function<void(TZipCommon& sender, const std::string& name, int count, int maxCount)>;
using TOnNestedTarFile = std::function<void(TZipCommon& sender, const std::string& name, bool& doUnTar)>;
using TOnRemoveTempfile = std::function<void(TZipCommon& sender, const std::string& name)>;
using TOnIntegrityBegin = std::function<void(TZipCommon& sender, const std::string& name)>;
using TOnIntegrityEnd = TOnIntegrityBegin;
using TOnIntegrityStatus = std::function<void(TZipCommon& sender, const std::string& name, bool pass)>;

// Thrown by RaiseError while the run is being cancelled: the run ends quietly.
class RunCancelled : public ArchiveError {
  public:
    RunCancelled() : ArchiveError(E_UserCanceled) {}
};

// Identification of an archive by content.
class TArchiveBase {
  public:
    TArchiveBase();
    virtual ~TArchiveBase();
    TArchiveBase(const TArchiveBase&) = delete;
    TArchiveBase& operator=(const TArchiveBase&) = delete;

    const std::string& ArchiveFile() const { return archiveFile_; }
    // Assigning the name identifies the file ("\" is taken as "/"); an empty name gives atNA.
    virtual void SetArchiveFile(const std::string& name);
    TArcType ArcType() const { return arcType_; }
    // The value is ignored: the current file is identified again.
    void SetArcType(TArcType);
    std::string ArcTypeName() const { return varnok::ArcTypeName(arcType_); }

    int ZipCmntBufSize() const { return zipCmntBufSize_; }
    // Stored clamped to 2000..32767 (0 stays 0).
    void SetZipCmntBufSize(int v);

    // Facts found by identification.
    uint64_t StartOffset = 0;
    uint8_t HeadFlag = 0;
    bool HasEndRecord = false;
    zip::EndRecord EndRecord;    // the ZIP end record, when found
    int64_t ZipOffsetDelta = 0;  // bytes in front of a ZIP whose offsets do not count them
    uint64_t ArchiveSize = 0;
    int VolumeNumber = 0;
    char VolumeLetter = 0;
    TDiskManager DiskManager;

    // Searches the end record; returns the central-directory offset (HeadFlag 0x08), the first local header
    // found by scanning (HeadFlag exactly 0x10), or 0. Sets HeadFlag, EndRecord and ZipOffsetDelta.
    uint64_t FindEndOfCentral(const platform::File& f);

    // Reports a numbered error; components route it to their OnError.
    virtual void ReportError(const std::string& fileName, const std::string& extendedMsg, int code,
                             const std::string& volumeId = "0") = 0;

  protected:
    void Identify();
    // What identification decided, without the jar rename and volume numbering (used for the disk checks).
    TArcType IdentifyFile(const std::string& path);
    void DeriveVolumeNumber();
    void RefreshDrive();

    std::string archiveFile_;
    TArcType arcType_ = atNA;
    int zipCmntBufSize_ = 0;

  private:
    // The families' signature tests in the registry's order.
    TArcType TestSignature(std::span<const uint8_t> p, bool program);
    // The families' content tests (only those that override a signature, when asked).
    TArcType Recognise(const platform::File& f, const std::vector<uint8_t>& head, uint64_t size,
                       bool overridingOnly);
    TArcType IdentifyPlain(const platform::File& f, const std::vector<uint8_t>& head, uint64_t size);
    TArcType IdentifyProgram(const platform::File& f, const std::vector<uint8_t>& head, uint64_t size);
    TArcType ScanForArchive(const platform::File& f, uint64_t from, uint64_t size, bool program);
};

// Where ReadBlock takes its bytes.
class FileSource final : public ByteSource {
  public:
    FileSource(const platform::File& f, uint64_t pos) : f_(f), pos_(pos) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t r = f_.ReadAt(pos_, buf, n);
        pos_ += r;
        return r;
    }
    uint64_t Position() const { return pos_; }
    void Seek(uint64_t pos) { pos_ = pos; }

  private:
    const platform::File& f_;
    uint64_t pos_;
};

// Writes into an open file; a short write throws E_WriteFile.
class FileSink final : public ByteSink {
  public:
    explicit FileSink(platform::File& f) : f_(f) {}
    void Write(const uint8_t* buf, size_t n) override;

  private:
    platform::File& f_;
};

enum class CrcKind { None, Crc16, Crc32 };

class TZipCommon : public TArchiveBase {
  public:
    TZipCommon();
    ~TZipCommon() override;

    // Settings shared by the components.
    bool TranslateOemChar = true;
    std::vector<std::string> FileSpec;
    std::vector<std::string> ExcludeSpec;
    std::string ExtractDir;
    bool ConfirmOverwrites = true;
    TOverwriteMode OverwriteMode = omOverwrite;
    TDateAttribute DateAttribute = daFileDate;
    TDeleteOptions DeleteOptions = doAllowUndo;
    TvnFileAttr FileAttribute;
    TStoredDirNames StoredDirNames = sdRelative;
    bool UseStoredDirs = true;
    bool RecurseDirs = false;
    std::string Password;
    std::vector<std::string> Passwords;
    int PasswordAttempts = 3;
    bool AsciiTranslation = false;
    // The code page of the archive's legacy names (an iconv name such as "CP866"); empty: decided from all
    // of the archive's names. Names the archive marks as UTF-8 are never read otherwise.
    std::string NameCodePage;
    // A compressed TAR (.tgz, .tar.Z) is read as the TAR inside it: its entries are the archive's entries.
    // False reads it as the one compressed file it is.
    bool OpenTarInside = true;

    // The temporary folder: the stored one when it exists, else the system's.
    std::string TempDir() const;
    // Empty means the system's. A missing folder is created when OnConfirmCreateDir (or its absence) says
    // yes.
    void SetTempDir(const std::string& dir);
    // Asked before a missing TempDir is created; the text is the folder, two line breaks and the 26899 text.
    std::function<bool(const std::string& text)> OnConfirmCreateDir;

    // The stop request; composite components point their parts at one shared flag.
    bool Cancel() const { return cancel_->load(); }
    void SetCancel(bool v) { cancel_->store(v); }
    CancelFlag* CancelPtr() const { return cancel_; }
    void ShareCancel(CancelFlag* shared) { cancel_ = shared ? shared : &ownCancel_; }

    // Events.
    TNotifyEvent OnActivate, OnDeactivate;
    TOnError OnError;
    TOnProgress OnProgress;
    TOnElapsedTime OnElapsedTime;
    TOnNextVolume OnNextVolume;
    TOnGetZipFirstDisk OnGetZipFirstDisk;
    TOnGetZipNextDisk OnGetZipNextDisk;
    TOnGetZipLastDisk OnGetZipLastDisk;
    // A ZIP archive whose directory structure is damaged (HeadFlag lacks one of its bits): cancel (preset
    // true) left true reads nothing; cleared, the local headers are walked instead.
    TOnCorruptZipHeader OnCorruptZipHeader;
    // Called between blocks so that an application can keep its window alive (and set Cancel).
    std::function<void()> ProcessMessages;

    // Errors. ReportError calls OnError (code 25449 while cancelling) and lets the run go on. RaiseError
    // reports and then throws ArchiveError, or RunCancelled while cancelling.
    void ReportError(const std::string& fileName, const std::string& extendedMsg, int code,
                     const std::string& volumeId = "0") override;
    [[noreturn]] void RaiseError(const std::string& fileName, const std::string& extendedMsg, int code,
                                 const std::string& volumeId = "0");
    // Reports 25270 for a missing handler.
    void ReportMissingEvent(const std::string& eventName);

    // Progress: percentages of the entry and of the whole run; the remaining-bytes counter drives the latter.
    std::function<void(int byFile, int byArchive)> DoProgress;
    void UpdateProgress(uint64_t doneInFile, uint64_t fileSize, uint64_t archiveTotal);
    uint64_t BytesRemaining = 0;  // lowered by every block processed

    // File patterns as the lister applies them.
    virtual bool SpecMatch(const std::string& name) const;

    // Volumes of multi-volume archives.
    std::string VolumeFileName(const std::string& name, int n);
    bool RequestVolume(std::string& name, int n);
    // Closes the current volume and opens the next one in ArcFile (names from VolumeNumber).
    bool OpenNextVolume();
    std::string CurrentVolume;

    // Disks of a ZIP set spanned over removable disks.
    bool RequestZipDisk(int n);
    bool RequestZipLastDisk();

    // A new empty file "vnk…" in TempDir; its name.
    std::string CreateTempFile();

    // The running checksums of the entry being decoded.
    uint32_t Crc32Value = 0xFFFFFFFF;
    uint16_t Crc16Value = 0;
    void ResetCrc() {
        Crc32Value = 0xFFFFFFFF;
        Crc16Value = 0;
    }

    // The archive handle of the current run.
    platform::File ArcFile;

    int FileCount = 0;
    uint64_t TotalPacked = 0, TotalUnpacked = 0;

    // The code-page decision of the current run's names.
    const NameCoding& Names() const { return names_; }

  protected:
    // Starts a new decision: NameCodePage when set, otherwise nothing decided yet.
    void BeginNames();
    NameCoding names_;

    // Run bracket: clears Cancel and the counters, starts the clock.
    void BeginRun();
    // Ends the clock; fires OnDeactivate (when activated) and OnElapsedTime.
    void EndRun(bool activated);
    void PauseClock();
    void ResumeClock();
    bool OpenArchiveForRead();

  private:
    CancelFlag ownCancel_{false};
    CancelFlag* cancel_ = &ownCancel_;
    std::string tempDir_;
    uint64_t clockStart_ = 0, pauseStart_ = 0;
    int pauseDepth_ = 0;
    int lastByFile_ = -1, lastByArchive_ = -1;
};

}  // namespace varnok
