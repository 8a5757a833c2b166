// The ZIP writer (TZip) and its JAR form (TJar): creates and updates ZIP archives on the compression base.
//
// Old entries are read with the one ZIP directory walker the lister and the extractors use, and copied byte for
// byte: local header, name, extra field, data and the data descriptor when the entry has one. New entries are
// written with their sizes known before the central directory is written (the output is a file the writer can
// go back in), so no new entry needs a data descriptor. Names that are not ASCII are stored in UTF-8 with the
// language-encoding flag unless the user chose a code page that holds them. Unix modes go into the external
// attributes (host Unix) and the modification time into an extended-timestamp field as well as the DOS time.
// ZIP64 records are written for an entry whose sizes or offset pass 4 GiB and for more than 65,534 entries.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/core/compbase.h"
#include "archive/core/zip_records.h"
#include "archive/formats/zip/zip_directory.h"

namespace varnok {

class TZip : public TCompBase {
  public:
    explicit TZip(TArcType type = atZip);

    // The archive comment to write; the old archive's comment stays unless this is set.
    void SetArchiveComment(const std::string& comment) {
        comment_ = comment;
        commentSet_ = true;
    }
    // A code page for names that are not ASCII ("CP866"): used when it holds the name, UTF-8 otherwise.
    std::string NameEncoding;
    // Per FileSpec pattern (same index): the password of the files it finds, in place of Password; an empty
    // one stores them unencrypted.
    std::map<int, std::string> SpecPassword;
    // When set, the file-name suffixes (".gif", ignoring case) stored without compression, in place of the
    // base's table of compressed-file extensions; an empty list compresses every file.
    std::optional<std::vector<std::string>> StoreSuffixes;
    // Every folder found gets an entry of its own (with StoreEmptySubDirs), not only an empty one.
    bool AllDirEntries = false;
    // Asked for the comment of each file added (its stored name); an empty answer gives none.
    std::function<std::string(const std::string& name)> NewEntryComment;

    // Comment editing: LoadComments reads the entries of the archive (their count, 0 when it cannot be read);
    // the comments of entries (by their place) and of the archive can then be changed, and ApplyComments
    // writes them with an update that keeps every entry as it is.
    int LoadComments();
    const std::string& EntryName(int n) const { return loaded_.at(static_cast<size_t>(n)).first; }
    const std::string& GetEntryComment(int n) const { return loaded_.at(static_cast<size_t>(n)).second; }
    void SetEntryComment(int n, const std::string& comment);
    const std::string& GetArchiveComment() const { return commentSet_ ? comment_ : oldComment_; }
    bool ApplyComments();

    // Renaming entries in place: RenameEntry is asked for each entry of the archive (its name "/" separated,
    // a folder without its "/") and a non-empty answer is the entry's new name; RenameEntries then writes the
    // archive with every entry copied byte for byte (data descriptor, extra fields, comments and the archive
    // comment kept) and only the renamed ones given their new names. A new name that another entry has or
    // gets fails the run and leaves the archive as it was. RenameDosTime, when not 0, is given to the renamed
    // entries.
    std::function<std::string(const std::string& name, bool directory)> RenameEntry;
    uint32_t RenameDosTime = 0;
    bool RenameEntries();

    // Disk spanning (zip_writer_span.cpp): an archive whose target is a removable disk too small for it is
    // copied across several disks, each with a file of the archive's name and the label "PKBACK# 001", ...
    // Bytes kept free on the first disk.
    uint32_t LeaveSpaceOnFirstDisk = 0;
    // A disk is wanted (volumeName: its number from 1); cancel stops the run.
    TOnInsertDisk OnInsertDisk;
    // The disk in the drive holds files and has less than requiredSpace free: free some, or cancel.
    TOnClearDisk OnClearDisk;

  protected:
    bool AcceptsMethod(TCompressMethod m) const override { return m == cmStore || m == cmDeflate; }
    bool OtherChanges() const override;
    void LoadEntries() override;
    uint64_t PrefixLength() const override { return prefix_; }
    bool CompressFile(platform::File& out, TCompBaseHeaderObj& e) override;
    void FinishArchive(platform::File& out) override;
    void CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) override;
    void UpdateArchive() override;
    std::string SealOutput(platform::File& out, const std::string& path) override;
    bool WantsDirectory(const std::string& path) const override;

  private:
    struct Record {
        zip::CentralHeader h;
    };
    // The stored bytes of a name and whether they are UTF-8 (flag bit 11).
    std::pair<std::string, bool> StoredBytes(const std::string& name) const;
    // Gives the entries RenameEntry renames their new names; a name given twice is an error.
    void ApplyRenames();

    // The entries of the archive, read through the one ZIP directory walker, their names decided.
    std::vector<zip::Item> ReadDirectory();

    std::vector<Record> records_;  // by entry index
    std::vector<std::pair<std::string, std::string>> loaded_;  // LoadComments: name and comment
    std::map<size_t, std::string> pendingComments_;            // changed comments by the entry's place
    std::string comment_;
    bool commentSet_ = false;
    std::string oldComment_;
    uint64_t prefix_ = 0;
    struct DiskSpan;
    bool removableTarget_ = false;  // the run's target lies on a removable drive
};

class TJar : public TZip {
  public:
    TJar() : TZip(atJar) {}
};

namespace zip {
// A central record as stored: the fixed part, name, extra field (with a ZIP64 field when a value needs one)
// and comment. localOffset is where the entry's local header lies in the new archive.
std::vector<uint8_t> CentralRecordBytes(const CentralHeader& h, uint64_t localOffset);
}  // namespace zip

}  // namespace varnok
