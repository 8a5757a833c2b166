// TZipBridge: everything the main window needs for ZIP archives. It reads the directory itself (end record,
// central directory, archive comment) into one record per entry and sets the archive comment in place; it
// extracts and tests through the extract engine library "libvarnok-unzdll.so", which it loads at run time.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/core/component.h"
#include "archive/core/zip_records.h"
#include "platform/file.h"

struct ZipCallbackRecord;

namespace varnok {

enum CodePageOpts { cpAuto, cpNone, cpOEM };
// Self-extractor options (SFXOptions) and what the self-extractor does with existing files.
enum SFXOptsEnum : uint8_t { SFXAskCmdLine, SFXAskFiles, SFXAutoRun, SFXHideOverWriteBox, SFXCheckSize, SFXNoSuccessMsg };
enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };
enum DeleteOpts { htdFinal, htdAllowUndo };

// Options of adding (bits 0-14 of AddOptions).
enum AddOptsEnum : uint8_t {
    AddDirNames, AddRecurseDirs, AddMove, AddFreshen, AddUpdate, AddZipTime, AddForceDOS, AddHiddenFiles,
    AddArchiveOnly, AddResetArchive, AddEncrypt, AddSeparateDirs, AddVolume, AddDiskSpan, AddDiskSpanErase
};
// Suffixes of files stored without compression when adding: "gif", "png", "z", "zip", "zoo", "arc", "lzh",
// "arj", "taz", "tgz", "lha", "exe".
enum AddStoreSuffixEnum : uint8_t { assGIF, assPNG, assZ, assZIP, assZOO, assARC, assLZH, assARJ, assTAZ, assTGZ, assLHA, assEXE };

// A set of enumeration values of up to 16 members (AddOptsEnum, AddStoreSuffixEnum).
template <typename E>
class SmallSet {
  public:
    constexpr SmallSet() = default;
    constexpr SmallSet(std::initializer_list<E> values) {
        for (auto v : values)
            Include(v);
    }
    constexpr bool Has(E v) const { return (bits_ & Bit(v)) != 0; }
    constexpr void Include(E v) { bits_ = static_cast<uint16_t>(bits_ | Bit(v)); }
    constexpr void Exclude(E v) { bits_ = static_cast<uint16_t>(bits_ & ~Bit(v)); }
    constexpr uint16_t Bits() const { return bits_; }
    constexpr bool operator==(const SmallSet&) const = default;

  private:
    static constexpr uint16_t Bit(E v) { return static_cast<uint16_t>(1u << v); }
    uint16_t bits_ = 0;
};
using AddOpts = SmallSet<AddOptsEnum>;
using AddStoreSuffixSet = SmallSet<AddStoreSuffixEnum>;

// Options of extracting (bits 0-4 of ExtrOptions).
enum ExtrOptsEnum : uint8_t { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest };

// A set of ExtrOptsEnum.
class ExtrOpts {
  public:
    constexpr ExtrOpts() = default;
    constexpr ExtrOpts(std::initializer_list<ExtrOptsEnum> options) {
        for (auto o : options)
            bits_ = static_cast<uint8_t>(bits_ | Bit(o));
    }
    constexpr bool Has(ExtrOptsEnum o) const { return (bits_ & Bit(o)) != 0; }
    constexpr void Include(ExtrOptsEnum o) { bits_ = static_cast<uint8_t>(bits_ | Bit(o)); }
    constexpr void Exclude(ExtrOptsEnum o) { bits_ = static_cast<uint8_t>(bits_ & ~Bit(o)); }
    constexpr uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const ExtrOpts&) const = default;

  private:
    static constexpr uint8_t Bit(ExtrOptsEnum o) { return static_cast<uint8_t>(1u << o); }
    uint8_t bits_ = 0;
};

// A set of SFXOptsEnum.
class SFXOpts {
  public:
    constexpr SFXOpts() = default;
    constexpr SFXOpts(std::initializer_list<SFXOptsEnum> options) {
        for (auto o : options)
            bits_ = static_cast<uint8_t>(bits_ | Bit(o));
    }
    constexpr bool Has(SFXOptsEnum o) const { return (bits_ & Bit(o)) != 0; }
    constexpr void Include(SFXOptsEnum o) { bits_ = static_cast<uint8_t>(bits_ | Bit(o)); }
    constexpr void Exclude(SFXOptsEnum o) { bits_ = static_cast<uint8_t>(bits_ & ~Bit(o)); }
    constexpr bool operator==(const SFXOpts&) const = default;

  private:
    static constexpr uint8_t Bit(SFXOptsEnum o) { return static_cast<uint8_t>(1u << o); }
    uint8_t bits_ = 0;
};

// The self-extractor settings a block between stub and archive carries.
struct SfxSettings {
    SFXOpts Options{SFXCheckSize};
    OvrOpts OverWriteMode = OvrConfirm;
    std::string Caption = "Self-extracting Archive", DefaultDir, CommandLine, Message;
};
// The block written in front of the archive ("MPV" form): flags, the four texts; its length is a multiple of 4.
// Texts longer than 255 bytes are the caller's to refuse.
std::vector<uint8_t> BuildSfxBlock(const SfxSettings& s);
// Searches bytes (the end of the stub) from their start for a block of either form ("MPU", "MPV") whose texts
// lie inside them; the first that does is taken. False when there is none.
bool FindSfxBlock(const uint8_t* p, size_t n, SfxSettings& out);

// One entry rename: a file by its full name, or a folder (a name ending in "/") with everything below it.
struct ZipRenameRec {
    std::string OldName, NewName;
    uint32_t DateTime = 0;  // DOS date-time for the renamed entries; 0 keeps theirs
};

// What the built-in password prompt shows; the application supplies the dialog (TZipBridge::PasswordDialog).
struct PasswordPrompt {
    std::string Caption;     // "Password"
    std::string Prompt;      // "Enter Password " or "Confirm Password "
    std::string OkText;      // "&Ok"
    std::string CancelText;  // "&Cancel"
    size_t MaxLength = 80;   // characters the edit takes
};

// One entry of the directory: the 42 bytes of its central header after the signature, unchanged, then the
// translated name and comment, the encrypted flag and a copy of the extra field.
struct ZipDirEntry {
    uint8_t Raw[42] = {};
    std::string FileName;  // "/" separated
    std::string FileComment;
    bool Encrypted = false;
    std::vector<uint8_t> ExtraData;

    uint8_t MadeByVersion() const { return Raw[0]; }
    uint8_t HostVersionNo() const { return Raw[1]; }
    uint16_t VersionNeeded() const;
    uint16_t Flag() const;
    uint16_t CompressionMethod() const;
    uint32_t DateTime() const;
    uint32_t CRC32() const;
    uint64_t CompressedSize = 0;  // ZIP64 sizes applied
    uint64_t UncompressedSize = 0;
    uint16_t FileNameLength() const;
    uint16_t ExtraFieldLength() const;
    uint16_t FileCommentLen() const;
    uint16_t StartOnDisk() const;
    uint16_t IntFileAttrib() const;
    uint32_t ExtFileAttrib() const;
    uint64_t RelOffLocalHdr = 0;  // ZIP64 offset applied
};

class TZipBridge {
  public:
    TZipBridge();
    ~TZipBridge();
    TZipBridge(const TZipBridge&) = delete;
    TZipBridge& operator=(const TZipBridge&) = delete;

    // Settings used by the directory reader.
    bool Unattended = false;
    CodePageOpts CodePage = cpAuto;
    bool UseDirOnlyEntries = false;
    std::string TempDir;
    // The code page of the names not flagged UTF-8 (an iconv name such as "CP866"); empty: decided from all
    // of the archive's names (or forced by CodePage). The extract engine reads the names alike.
    std::string NameCodePage;
    // What was decided for the names of the directory last read.
    const NameCoding& Names() const { return names_; }

    // Events.
    std::function<void(TZipBridge&)> OnDirUpdate;
    std::function<void(TZipBridge&, int code, const std::string& message)> OnMessage;
    std::function<void(TZipBridge&, int sequence, const ZipDirEntry& entry)> OnNewName;
    // Shows a message when not Unattended (the application supplies its message box).
    std::function<void(const std::string& message)> ShowMessage;

    // ---- Self-extractors and renaming (zip_sfx.cpp, zip_rename.cpp) ----

    // The self-extractor stub of this program: found only in the program's own folders (beside it, then
    // ../lib/varnok), or in the folder SetSfxFolder chose; never in the current folder.
    static constexpr const char* kSfxStubName = "varnok-sfx";
    // An absolute folder to take the stub from instead (tests); empty restores the default. A relative one is
    // refused.
    static bool SetSfxFolder(const std::string& folder);
    // Where the stub would be taken from now (SFXPath when set), or empty when there is none.
    std::string FindSfxStub() const;

    // Another stub chosen by the user (a Windows self-extractor): an absolute path; empty: our own stub.
    std::string SFXPath;
    SFXOpts SFXOptions{SFXCheckSize};
    OvrOpts SFXOverWriteMode = OvrConfirm;
    std::string SFXCaption = "Self-extracting Archive";
    std::string SFXDefaultDir, SFXCommandLine, SFXMessage;
    // An icon file (.ico bytes) put into a Windows stub in place of its own 32x32 icon; taken over from a
    // Windows self-extractor by SfxToZip.
    std::vector<uint8_t> SFXIcon;
    // How a converted file is removed: to the trash or for good.
    DeleteOpts HowToDelete = htdAllowUndo;
    // The output of ZipToSfx and SfxToZip; empty: ZipFileName with ".exe" or ".zip".
    std::string ConvertTarget;
    // Keep the input of a conversion (by default it is removed once the output is in place).
    bool KeepConvertSource = false;

    // Makes a self-extracting program of the archive (stubOnly: ZipFileName becomes a stub with an empty
    // archive). 0 or a negative result: -1 output not created, -2 write or copy failure, -3 stub or archive
    // unreadable, -9 a check failed, -10 no icon to replace, -11 icon replacement failed, -12 not a single
    // 766-byte icon. The output is built under a temporary name beside it and renamed into place; on failure
    // nothing is left and the input is untouched.
    int ZipToSfx(bool stubOnly = false);
    // Makes a ZIP archive of a self-extracting program. -1 output not created, -2 read or write failure, -3
    // no file or not a program, -9 no archive behind a stub or wrong length, -10 out of memory.
    int SfxToZip();
    // Renames entries in place: 0, -7 (the archive cannot be read), -8 (the new archive cannot be written),
    // -9 (a name collides, or nothing matched), -10 (an old file name meets a new name without a file part).
    // dateTime, when not 0, is given to every renamed entry that has none of its own.
    int Rename(const std::vector<ZipRenameRec>& list, uint32_t dateTime = 0);

    // ---- Adding and deleting through the add/delete engine library (zip_add.cpp) ----

    // The file name of the add/delete engine library.
    static constexpr const char* kZipDllName = "libvarnok-zipdll.so";
    int AddCompLevel = 9;  // 0 (store) to 9
    AddOpts AddOptions;
    AddStoreSuffixSet AddStoreSuffixes{assGIF, assPNG, assZ,   assZIP, assZOO, assARC,
                                       assLZH, assARJ, assTAZ, assTGZ, assLHA};
    // Exclusion patterns for adding (compared with the stored names); emptied by every add.
    std::vector<std::string> FSpecArgsExcl;
    // A new archive comment written by the next add; unset keeps the archive's comment. Used up by the add.
    std::optional<std::string> AddComment;
    // The folder relative specifications start from and names are stored relative to; a non-empty value gets
    // a trailing "/".
    const std::string& RootDir() const { return rootDir_; }
    void SetRootDir(const std::string& dir);
    // Adds the files FSpecArgs names (">" before an item searches its subfolders, "|" does not; "name<pw"
    // gives it its own password, "name<" stores it unencrypted, the last "<" being the marker, so that a name
    // holding "<" is passed as "name<" or "name<pw"); returns the number of files added. The
    // archive is replaced only by a complete new one; moved files go only after that.
    int Add();
    // Deletes the entries FSpecArgs selects (patterns, or ExactSpec names); returns the number deleted.
    int Delete();
    bool AddBusy() const { return addBusy_; }
    // The add/delete library: loads it (10601-10604), unloads it, its version (0 when it cannot be loaded)
    // and where it was loaded from.
    bool LoadZipDll();
    void UnloadZipDll();
    bool ZipDllLoaded() const { return zip_ != nullptr; }
    int ZipDllVersion();
    std::string ZipDllPath() const;

    // ---- Extracting through the extract engine library ----

    // The file name of the extract engine library.
    static constexpr const char* kUnzDllName = "libvarnok-unzdll.so";

    std::string ExtrBaseDir;  // destination folder; empty: the current folder
    ExtrOpts ExtrOptions;
    // Patterns of the entries to extract (all entries when empty); emptied by every extract. Patterns use "*"
    // and "?" ignoring case; ExactSpec gives the pattern that selects one entry and nothing else.
    std::vector<std::string> FSpecArgs;
    std::string Password;  // at most 80 characters reach the library; a longer one is refused
    // Decompression-bomb limits of the library's runs: an entry may decode to at most ExtrMaxRatio times its
    // packed size (0: no limit); a run writes at most ExtrMaxSize bytes, in whole MiB (0: the destination's
    // free space).
    uint64_t ExtrMaxRatio = 1'000'000;
    uint64_t ExtrMaxSize = 0;
    bool Verbose = false;  // a message per entry
    bool Trace = false;    // run details; implies Verbose; also reports loading the library

    // How often the library may ask for a password per entry; values above 15 are stored as 15.
    unsigned PasswordReqCount() const { return passwordReqCount_; }
    void SetPasswordReqCount(unsigned n) { passwordReqCount_ = n > 15 ? 15 : n; }
    // Folder of the engine library. Empty: the program's own folder, then its ../lib/varnok. Otherwise it
    // must be an absolute folder (a relative one loads nothing); a trailing "/" is removed on assignment.
    const std::string& DLLDirectory() const { return dllDirectory_; }
    void SetDLLDirectory(const std::string& dir);
    // The stop request: the next callback of the library tells it to stop. Cleared when an extract starts and
    // ends.
    bool Cancel() const { return cancel_.load(); }
    void SetCancel(bool v) { cancel_.store(v); }

    // Progress from the library: kind 0 new file (name, size), 1 bytes just done, 2 end of batch, 3 total
    // number of files, 4 total size.
    std::function<void(TZipBridge&, int kind, const std::string& fileName, int64_t number)> OnProgress;
    // The library needs a password: set it (empty for none) and the repeat count (how often it may ask
    // again).
    std::function<void(TZipBridge&, std::string& newPassword, const std::string& fileName,
                       unsigned& repeatCount)>
        OnPasswordError;
    // The data of an entry came out wrong; extractAnyway (default true) keeps the file written.
    std::function<void(TZipBridge&, const std::string& fileName, uint32_t foundCrc, uint32_t expectedCrc,
                       bool& extractAnyway)>
        OnCRC32Error;
    // A file to be written exists; overwrite starts with the library's default answer.
    std::function<void(TZipBridge&, const std::string& fileName, bool isOlder, bool& overwrite)>
        OnExtractOverwrite;
    // The library skipped an entry: skip type (ZipSkipType) and its error value (UnzDllError).
    std::function<void(TZipBridge&, const std::string& fileName, int skipType, int errorValue)>
        OnExtractSkipped;
    // The add library asks whether to store a file under another name, or for a file comment.
    std::function<void(TZipBridge&, std::string& name, bool& changed)> OnSetNewName;
    std::function<void(TZipBridge&, const std::string& fileName, std::string& comment, bool& changed)>
        OnFileComment;
    // A disk of a set spanned over removable disks is wanted (1-based; 0 for the last disk).
    std::function<void(TZipBridge&, int diskSeqNo, int diskTotal, const std::string& drive,
                       bool& abortAction)>
        OnGetNextDisk;
    // Called after every callback of a library, so that the application can keep its window alive (and
    // Cancel).
    std::function<void()> ProcessMessages;
    // The built-in password prompt's dialog: shows the texts, returns false when cancelled. Without it (or
    // with Unattended) no one is asked.
    std::function<bool(const PasswordPrompt& prompt, std::string& password)> PasswordDialog;

    // Extracts (or with ExtrTest tests) the entries FSpecArgs selects; returns the number of files done with
    // a good result (also SuccessCnt).
    int Extract();
    // Extracts the entry named by the first item of FSpecArgs into MemoryStream; returns 1 on success, else 0
    // with the stream emptied. Needs a library of version 160 or later (10503).
    int ExtractToMemory();
    const std::vector<uint8_t>& MemoryStream() const { return memory_; }
    int SuccessCnt() const { return successCnt_; }
    // The pattern that selects exactly the entry of that name (no wildcards, case kept).
    static std::string ExactSpec(const std::string& entryName) { return "\\" + entryName; }

    // The extract library: loads it (10701-10704), unloads it, its version (loading it for the question when
    // it is not loaded; 0 when it cannot be loaded) and where it was loaded from.
    bool LoadUnzDll();
    void UnloadUnzDll();
    bool UnzDllLoaded() const { return unz_ != nullptr; }
    int UnzDllVersion();
    std::string UnzDllPath() const;

    // The callback handed to the engine libraries (with this component as the record's caller value): serves
    // the action codes of both libraries and returns -1 when Cancel is set.
    static int32_t EngineCallback(ZipCallbackRecord* record);

    // ---- Spanned sets (zip_span.cpp) ----

    // What OnStatusDisk is told about the volume about to be written (flags), and what it answers.
    enum TZipDiskStatusFlag : int {
        zdsEmpty = 1,           // the disk holds nothing
        zdsHasFiles = 2,        // the disk holds data
        zdsPreviousDisk = 4,    // the file there is an earlier volume of this same set
        zdsSameFileName = 8,    // another file of the volume's name is there
        zdsNotEnoughSpace = 16  // too little free space for a volume
    };
    using TZipDiskStatus = int;
    enum TZipDiskAction : int { zdaOk = 0, zdaErase = 1, zdaReject = 2, zdaCancel = 3 };
    // How the volumes of a set on a fixed drive are named: archive001.zip, archive002.zip, ... or, as
    // Info-ZIP's "zip -s" names them, archive.z01, archive.z02, ..., archive.zip (the last).
    enum TSpanNaming { snNumbered, snZ01 };

    int64_t KeepFreeOnDisk1 = 0;       // bytes kept free on the first volume
    int64_t MaxVolumeSize = 0;         // largest volume; 0: what the disk holds
    int64_t MinFreeVolumeSize = 65536;  // least room for a volume to be used
    TSpanNaming SpanNaming = snNumbered;
    // The volume about to be written needs a decision: previousDisk is the number in the disk's label (1
    // without one), previousFile the volume's file; action starts at zdaOk. After zdsNotEnoughSpace:
    // zdaCancel cancels, anything else asks for another disk.
    std::function<void(TZipBridge&, int previousDisk, const std::string& previousFile, TZipDiskStatus status,
                       int& action)>
        OnStatusDisk;
    // The question box of the application, used where no disk event is assigned: kind 0 OK/Cancel, 1
    // Yes/No/Cancel, 2 Retry/Cancel; returns zdaOk (OK, Yes, Retry), zdaReject (No) or zdaCancel.
    std::function<int(const std::string& title, const std::string& text, int kind)> QuestionBox;

    // Writes the ZIP file input as a spanned set named after output: numbered or "zip -s" volume files on a
    // fixed drive, disks labelled "PKBACK# 001", ... on a removable one. 0 on success; -7 a failure reported
    // with its message, -8 out of memory, -9 any other failure. On a fixed drive the volumes appear only when
    // the whole set is written; on failure none is left and files of those names stay as they were. On
    // removable disks each volume replaces its file when its disk is full; the disks already taken out stay.
    int WriteSpan(const std::string& input, const std::string& output);
    // Joins the set whose last volume is setName into one ZIP file: output names the file (given the
    // extension ".zip") or a folder to make a new file in (the name is handed back). Results as WriteSpan;
    // on failure the output is emptied and a file of its name stays as it was.
    int ReadSpan(const std::string& setName, std::string& output);
    // The volume files of the last successful WriteSpan, in order.
    const std::vector<std::string>& SpanVolumes() const { return spanVolumes_; }

    const std::string& ZipFileName() const { return zipFileName_; }
    // Assigning the name reads the directory at once.
    void SetZipFileName(const std::string& name);
    // Reads the directory again (after an operation changed the archive).
    void List();

    int Count() const { return static_cast<int>(entries_.size()); }
    const ZipDirEntry& Entry(int i) const { return entries_.at(static_cast<size_t>(i)); }
    const std::vector<ZipDirEntry>& Entries() const { return entries_; }

    // The archive comment, read in the code page decided for the names of DOS archivers; a comment that is
    // valid UTF-8 as it stands (what zip on Unix stores) is taken as it is unless a page is forced.
    std::string ZipComment() const;
    // The bytes a comment is stored as: in the code page of DOS archivers' names when that page holds the
    // whole text, else the text as it is (UTF-8), so that nothing typed is lost and ZipComment gives it back.
    std::string CommentBytes(const std::string& text) const;
    // Rewrites the end record and the comment in place. False on failure (the message says why).
    bool SetZipComment(const std::string& comment);

    // State of the last directory read.
    uint64_t ZipArchiveSize() const { return archiveSize_; }  // where the end record and comment end
    uint64_t ZipFileSize() const { return fileSize_; }
    uint64_t ZipEOCOffset() const { return eocOffset_; }
    uint64_t SFXOffset() const { return firstLocal_; }  // bytes in front of the first local header
    bool IsSpanned() const { return spanned_; }
    bool WrongZipStruct() const { return wrongStructure_; }
    int SkippedDirEntries() const { return skippedDirs_; }
    int LastDisk() const { return lastDisk_; }
    const std::string& LastMessage() const { return lastMessage_; }
    int ErrCode() const { return errCode_; }

  private:
    struct EngineLibrary;
    // The span operations' disk handling (zip_span.cpp).
    struct SpanWriter;
    struct SpanReader;
    int SpanResult(const std::function<void()>& run);
    int ExtractRun(bool toMemory);
    // Loads an engine library from the program's folders (or DLLDirectory) and finds its two entry points;
    // messageBase + 1 to + 4 are its loaded, no-exec, no-version and not-found messages.
    std::unique_ptr<EngineLibrary> LoadEngine(const char* fileName, const char* execName, const char* versionName,
                                              int messageBase);
    int AddRun(bool deleting);
    int AddSpanned();
    int32_t HandleCallback(ZipCallbackRecord& r);
    std::string AskPassword(bool adding);
    std::string FormatMessage(int id, std::initializer_list<std::string> args) const;

    // Finds the end record (with raise: a missing one is an error with a number; without: "not found").
    bool FindEndRecord(platform::File& f, bool raise, zip::EndRecord& e);
    void Message(int id, const std::string& extra = {}, bool show = true);
    // A message of the component that has no number (the reason of a failed conversion).
    void Say(const std::string& text, bool show);
    // Copies the archive part of zip (from its start up to the end of its comment) into out, every stored
    // offset moved by shift (offsets that did not count bytes in front of the archive are put right too).
    int CopyShifted(platform::File& zip, uint64_t from, int64_t shift, platform::File& out, uint64_t& written);
    // Removes a converted input as HowToDelete says.
    bool RemoveInput(const std::string& path);
    // The code page the settings force on the names, or empty for the one decided from them.
    std::string ForcedCodePage() const;

    std::string zipFileName_;
    std::vector<ZipDirEntry> entries_;
    std::string comment_;  // raw bytes as stored
    NameCoding names_;
    uint64_t archiveSize_ = 0, fileSize_ = 0, eocOffset_ = 0, firstLocal_ = 0;
    bool spanned_ = false, wrongStructure_ = false;
    int skippedDirs_ = 0;
    int lastDisk_ = 0;
    int labelDisk_ = 0;
    std::string lastMessage_;
    int errCode_ = 0;

    std::unique_ptr<EngineLibrary> unz_;
    std::unique_ptr<EngineLibrary> zip_;
    std::string rootDir_;
    bool addBusy_ = false;
    std::string dllDirectory_;
    unsigned passwordReqCount_ = 1;
    std::atomic<bool> cancel_{false};
    bool extractBusy_ = false;
    int successCnt_ = 0;
    int64_t totalSize_ = 0;
    std::vector<uint8_t> memory_;
    std::exception_ptr callbackFailure_;
    std::vector<std::string> spanVolumes_;
};

}  // namespace varnok
