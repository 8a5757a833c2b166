// TZipBridge: everything the main window needs for ZIP archives. This part reads the directory itself (end
// record, central directory, archive comment) into one record per entry and sets the archive comment in place.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/core/component.h"
#include "archive/core/headers/zip.h"
#include "platform/file.h"

namespace varnok {

enum CodePageOpts { cpAuto, cpNone, cpOEM };
enum DeleteOpts { htdFinal, htdAllowUndo };

// One entry of the directory: the 42 bytes of its central header after the signature, unchanged, then the
// translated name and comment, the encrypted flag and a copy of the extra field.
struct ZipDirEntry {
    uint8_t Raw[42] = {};
    std::string FileName;     // "/" separated
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
    uint64_t CompressedSize = 0;    // ZIP64 sizes applied
    uint64_t UncompressedSize = 0;
    uint16_t FileNameLength() const;
    uint16_t ExtraFieldLength() const;
    uint16_t FileCommentLen() const;
    uint16_t StartOnDisk() const;
    uint16_t IntFileAttrib() const;
    uint32_t ExtFileAttrib() const;
    uint64_t RelOffLocalHdr = 0;    // ZIP64 offset applied
};

class TZipBridge {
public:
    TZipBridge();
    TZipBridge(const TZipBridge&) = delete;
    TZipBridge& operator=(const TZipBridge&) = delete;

    // Settings used by the directory reader.
    bool Unattended = false;
    CodePageOpts CodePage = cpAuto;
    bool UseDirOnlyEntries = false;
    std::string TempDir;

    // Events.
    std::function<void(TZipBridge&)> OnDirUpdate;
    std::function<void(TZipBridge&, int code, const std::string& message)> OnMessage;
    std::function<void(TZipBridge&, int sequence, const ZipDirEntry& entry)> OnNewName;
    // Shows a message when not Unattended (the application supplies its message box).
    std::function<void(const std::string& message)> ShowMessage;

    const std::string& ZipFileName() const { return zipFileName_; }
    // Assigning the name reads the directory at once.
    void SetZipFileName(const std::string& name);
    // Reads the directory again (after an operation changed the archive).
    void List();

    int Count() const { return static_cast<int>(entries_.size()); }
    const ZipDirEntry& Entry(int i) const { return entries_.at(static_cast<size_t>(i)); }
    const std::vector<ZipDirEntry>& Entries() const { return entries_; }

    // The archive comment, translated from OEM when it is not UTF-8.
    std::string ZipComment() const;
    // Rewrites the end record and the comment in place. False on failure (the message says why).
    bool SetZipComment(const std::string& comment);

    // State of the last directory read.
    uint64_t ZipArchiveSize() const { return archiveSize_; }  // where the end record and comment end
    uint64_t ZipFileSize() const { return fileSize_; }
    uint64_t ZipEOCOffset() const { return eocOffset_; }
    uint64_t SFXOffset() const { return firstLocal_; }        // bytes in front of the first local header
    bool IsSpanned() const { return spanned_; }
    bool WrongZipStruct() const { return wrongStructure_; }
    int SkippedDirEntries() const { return skippedDirs_; }
    int LastDisk() const { return lastDisk_; }
    const std::string& LastMessage() const { return lastMessage_; }
    int ErrCode() const { return errCode_; }

private:
    // Finds the end record (with raise: a missing one is an error with a number; without: "not found").
    bool FindEndRecord(platform::File& f, bool raise, zip::EndRecord& e);
    void Message(int id, const std::string& extra = {}, bool show = true);
    bool Translate(uint8_t host, uint8_t version) const;
    std::string TranslateName(const std::string& raw, uint8_t host, uint8_t version, bool utf8) const;

    std::string zipFileName_;
    std::vector<ZipDirEntry> entries_;
    std::string comment_;  // raw bytes as stored
    uint64_t archiveSize_ = 0, fileSize_ = 0, eocOffset_ = 0, firstLocal_ = 0;
    bool spanned_ = false, wrongStructure_ = false;
    int skippedDirs_ = 0;
    int lastDisk_ = 0;
    int labelDisk_ = 0;
    std::string lastMessage_;
    int errCode_ = 0;
};

}  // namespace varnok
