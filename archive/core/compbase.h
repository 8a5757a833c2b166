// The compression base: the run every archive writer shares. It turns FileSpec into files on disk, merges them
// with the entries of the existing archive, builds the new archive in a temporary file and puts it in place.
//
// Nothing is lost on failure. The new archive is built in a private temporary file beside the target (same file
// system), and only a run that finished without error, cancel or short write replaces the target, with one
// atomic rename; every other outcome removes the temporary file and leaves the old archive byte for byte as it
// was. Sources moved into the archive are deleted only after the new archive is in place, and only those this
// run wrote. An existing archive whose headers cannot be read completely is never rewritten: a writer that
// could not carry over every old entry would silently drop some.
//
// A writer supplies the format: loading the existing entries (through its family's one reader), compressing a
// new file and writing the directory or end marker. Kept entries are copied
// byte for byte from the old archive by the base.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/codecs/deflate_encoder.h"
#include "archive/core/component.h"
#include "platform/file.h"

namespace varnok {

enum TSwitch { swAdd, swMove, swDelete, swRead };

enum TCompressMethod {
    cmStore,
    cmDeflate,
    cmFuse,
    cmFrozen5,
    cmFrozen6,
    cmMsZip,
    cmLzx,
    cmQuantum,
    cmUUEncode,
    cmXXEncode,
    cmBase64,
    cmTarred,
    cmGzipTar,
};

// What a run does with an entry.
enum TEntryAction {
    acNew = 0,      // a file from disk, to be compressed
    acKeep = 2,     // an entry of the old archive, copied unchanged
    acDrop = 3,     // not written
    acRename = 4,   // an entry of the old archive, copied under a new name
    acReplace = 5,  // an entry of the old archive replaced by the file of the same name
};

// One entry of a run.
struct TCompBaseHeaderObj {
    std::string name;      // the stored name, "/" separated
    std::string diskPath;  // the file on disk (new and replaced entries)
    TEntryAction action = acNew;
    bool directory = false;
    uint64_t size = 0;      // unpacked bytes
    int64_t mtime = 0;      // seconds since 1970 (as chosen by DateAttribute for new files)
    uint32_t attr = 0;      // DOS attribute bits
    uint32_t mode = 0;      // Unix mode (type and permission bits) of a file from disk
    int pattern = -1;       // the FileSpec entry that found it
    dev_t dev = 0;          // identity of the source file
    ino_t ino = 0;
    // Old archive: where the entry's bytes lie (header, name, extra field, data, descriptor) and its raw name.
    uint64_t oldOffset = 0, oldLength = 0;
    std::string oldName;
    // Output: where the entry starts, and the writer's own record of it (a ZIP central record, a TAR header).
    uint64_t newOffset = 0;
    uint64_t packed = 0;
    uint32_t crc = 0;
    std::vector<uint8_t> record;
    bool added = false;  // written by this run from a file on disk
};

class TCompBase : public TZipCommon {
  public:
    TCompBase(TArcType ownType, std::string ownExt);
    ~TCompBase() override;

    TSwitch Switch = swAdd;
    bool StoreEmptySubDirs = false;
    bool StoreAlreadyCompressedFiles = true;
    bool VerifyBeforeDelete = true;
    TDeflateType DeflateType = dtDeflateN;
    // Where the temporary archive is built: beside the archive unless set.
    std::string TempDirOverride;
    // Only files that replace entries of the archive are taken; new names are passed over.
    bool FreshenOnly = false;
    // Per FileSpec pattern (same index): 1 searches the folders below it, 0 does not; a missing or negative
    // value follows RecurseDirs.
    std::vector<int> SpecRecurse;
    // Files and folders whose names begin with "." (hidden) are passed over by the search; a file named by a
    // pattern without wildcards is still taken.
    bool SkipHidden = false;
    // The new archive reaches the disk (fsync) before it replaces the old one. Off only where durability
    // does not matter (scratch archives of tests and fuzzing, where a slow disk would read as a hang).
    bool SyncBeforeReplace = true;
    // With swDelete: which entries go (by their name, "/" separated, without a trailing "/"). Unset, the
    // FileSpec patterns decide.
    std::function<bool(const std::string& name)> SelectForDelete;

    TCompressMethod CompressMethod() const { return method_; }
    // Accepted only when the writer can write the method; otherwise ignored.
    void SetCompressMethod(TCompressMethod m);
    const std::string& DefaultExt() const { return defaultExt_; }
    void SetDefaultExt(const std::string& ext);
    std::string DefaultDir() const;
    void SetDefaultDir(const std::string& dir);
    void SetArchiveFile(const std::string& name) override;

    TOnBegin OnBegin;
    TOnEnd OnEnd;
    TOnRead OnRead;
    TOnRecurseDir OnRecurseDir;
    TOnRenameFile OnRenameFile;
    // Asked when a file found on disk has the name of an entry it does not replace: a new file name (in the
    // same folder) moves the old entry aside, and the file is added under its own name.
    TOnRenameFile OnRenameDupFile;
    TOnReplaceFile OnReplaceFile;
    TOnNonWriteableArchive OnNonWriteableArchive;
    TOnDeleteFile OnDeleteFile;

    // Runs the update (or the read walk, Switch swRead). Returns the number of files added (swDelete: of the
    // entries deleted). Errors go to OnError, once each; Failed tells whether the archive was left as it was
    // because of one.
    int CompressArchive();
    bool Failed() const { return failed_; }

    // The entries of the last run, in archive order.
    const std::vector<TCompBaseHeaderObj>& Entries() const { return entries_; }
    // The files whose names matched FileSpec but that could not be added (unreadable, vanished).
    int SkippedFiles() const { return skipped_; }

    // The stored name of a file found under the base folder base (the pattern's folder).
    std::string StoredName(const std::string& fullName, const std::string& base) const;

  protected:
    // ---- the format, supplied by each writer ----
    virtual bool AcceptsMethod(TCompressMethod m) const = 0;
    // Puts the entries of the open old archive (ArcFile) into the list with action acKeep; raises an error
    // (ArchiveError) when its headers cannot all be read. Entries the run deletes are dropped and counted.
    virtual void LoadEntries() = 0;
    // Bytes in front of the first entry that a new archive must keep (a self-extractor's program).
    virtual uint64_t PrefixLength() const { return 0; }
    // Writes a new file (or folder) entry at the end of out. False drops it (the writer reported why).
    virtual bool CompressFile(platform::File& out, TCompBaseHeaderObj& e) = 0;
    // Copies an old entry unchanged (its bytes oldOffset..+oldLength); writers fix up their record.
    virtual void CopyKept(platform::File& out, TCompBaseHeaderObj& e);
    // Writes the directory or end marker after the entries.
    virtual void FinishArchive(platform::File& out) = 0;
    // Copies an old entry under its new name (e.name; the stored one is e.oldName).
    virtual void CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) = 0;
    // Whether a writer needs the run's archive bytes to have at least one entry; a writer with a directory
    // writes an empty archive as nothing.
    virtual bool EmptyArchiveIsDeleted() const { return true; }
    // The whole update; TGZip replaces it with its own run.
    virtual void UpdateArchive();
    // Changes of the writer's own beside added, deleted and renamed entries (a new comment).
    virtual bool OtherChanges() const { return false; }
    // Attributes are not compared when deciding whether a file differs from its entry (TAR stores none).
    virtual bool ComparesAttributes() const { return true; }
    // The finished temporary archive at path may be turned into another file that takes the archive's place
    // (a TAR compressed into a .tgz); returns that file's path. The writer removes it when it raises.
    virtual std::string SealOutput(platform::File& out, const std::string& path) {
        (void)out;
        return path;
    }
    // Whether a folder found with StoreEmptySubDirs gets an entry: only an empty one by default (the names of
    // the files inside carry the others).
    virtual bool WantsDirectory(const std::string& path) const;

    // ---- services for writers ----
    enum class EntryMethod { Store, Deflate, Fuse };
    struct EntryData {
        EntryMethod method = EntryMethod::Store;
        uint32_t crc = 0;
        uint64_t packed = 0;  // bytes written, the encryption header included
        uint64_t unpacked = 0;
        bool encrypted = false;
    };
    // Writes the data of a new file entry at the end of out: compressed as wanted, stored when that does not
    // make it smaller, encrypted with Password when asked (never an empty file). False when the file could
    // not be read (reported); the caller then drops the entry.
    bool WriteEntryData(platform::File& out, platform::File& src, const TCompBaseHeaderObj& e, EntryMethod wanted,
                        bool encrypt, EntryData& r);
    // Asks OnBegin whether to add the file; false skips it.
    bool BeginFile(TCompBaseHeaderObj& e);
    // Opens a source file; a failure is reported and the entry dropped.
    bool OpenSource(const TCompBaseHeaderObj& e, platform::File& src);
    // Opens the old archive for LoadEntries, raising when it is not of the family of type family.
    void OpenOldArchive(TArcType family, const std::string& notOurs);
    // Every entry of the old archive through the family's walk, with the code page of the names decided from
    // all of them. An archive the walk cannot read to its end raises: it is never rewritten without entries.
    template <class Walk>
    std::vector<typename Walk::Item> ReadOldEntries(Walk& walk) {
        std::vector<typename Walk::Item> items;
        typename Walk::Item item;
        BeginNames();
        while (walk.Next(item)) {
            CheckCancel();
            SampleTexts(item.entry, names_);
            items.push_back(std::move(item));
            item = typename Walk::Item{};
        }
        if (walk.Error()) RaiseError(ArchiveFile(), walk.ErrorDetail(), walk.Error());
        names_.Decide();
        for (auto& it : items)
            DecodeTexts(it.entry, names_);
        return items;
    }
    // Whether a file gave fewer bytes than its size (it shrank while it was read, or could not be read); says
    // so, naming it.
    bool ShortRead(const TCompBaseHeaderObj& e, uint64_t got);
    // Writes to the output; a short write raises "Error writing to file" naming the archive.
    void Write(platform::File& out, const void* buf, size_t n);
    void WriteAt(platform::File& out, uint64_t pos, const void* buf, size_t n);
    // Copies n bytes of the old archive from pos to the output.
    void CopyOld(platform::File& out, uint64_t pos, uint64_t n);
    // Raises a cancel when the user asked for one.
    void CheckCancel();
    // Whether a file's extension says it is compressed already.
    bool AlreadyCompressed(const std::string& name) const;
    // Progress within the current file.
    void Progress(uint64_t doneInFile, uint64_t fileSize);
    // The entries, for writers.
    std::vector<TCompBaseHeaderObj>& EntryList() { return entries_; }
    // Adds an old entry to the list (or drops it when the run deletes it). Returns whether it was kept.
    bool AddOldEntry(TCompBaseHeaderObj e);
    uint64_t TotalBytes() const { return totalBytes_; }
    // The name the archive is known by in messages.
    const std::string& TargetName() const { return ArchiveFile(); }

    // Turns FileSpec into the entries of new files (merged with the loaded ones).
    void FindFiles();
    // Deletes the sources this run added (Switch swMove), after the archive is in place.
    void MoveCleanup();
    void SetFailed() { failed_ = true; }
    void CountAdded() { ++added_; }

    const TArcType ownType_;

  private:
    bool CheckWritable();
    void SearchDir(const std::string& dir, const std::string& mask, const std::string& base, int pattern,
                   bool recurse, int depth);
    void FoundFile(const std::string& path, const std::string& base, int pattern, const struct stat& st);
    void ProcessFiles(platform::File& out);
    int FindEntry(const std::string& name) const;
    void ReadMode();
    bool Excluded(const std::string& stored) const;
    void RenameDuplicate(size_t found, TCompBaseHeaderObj&& file);

    TCompressMethod method_;
    std::string ownExt_, defaultExt_, defaultDir_;
    std::vector<TCompBaseHeaderObj> entries_;
    std::map<std::string, size_t> index_;  // stored names (folded for lookups) to entries
    uint64_t totalBytes_ = 0;
    int added_ = 0, deleted_ = 0, skipped_ = 0;
    uint64_t found_ = 0;  // files and folders the patterns found (new, replacing or unchanged)
    bool failed_ = false;
    bool isNew_ = false;
    dev_t targetDev_ = 0;
    ino_t targetIno_ = 0;
    dev_t tempDev_ = 0;
    ino_t tempIno_ = 0;
    int64_t newestDate_ = 0;
};

}  // namespace varnok
