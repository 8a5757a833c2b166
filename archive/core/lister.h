// The archive lister: reads the directory of an archive of any recognised type and reports its entries one by
// one through OnRead. It never decompresses anything.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archive/core/component.h"

namespace varnok {

// The entry being reported; valid while OnRead runs.
struct ListEntry {
    std::string EntryName;  // with its folders, "/" separated, as UTF-8
    int64_t EntryDate = 0;  // Unix seconds
    uint64_t PackedSize = 0;
    uint64_t UnpackedSize = 0;
    uint32_t EntryCrc = 0;
    bool Encrypted = false;
    uint16_t MethodCode = 0;
    std::string MethodText;
    uint16_t InternalAttr = 0;
    uint32_t ExternalAttr = 0;
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    int Ratio = 0;
    std::string EntryComment;
    std::string VolumeName;
    // Beyond the classic record: what a file manager shows too.
    bool IsDirectory = false;
    int CrcBits = 32;        // 32, 16 or 0 (no check value, or a header checksum)
    uint32_t UnixMode = 0;   // when the archive stores one
    std::string LinkTarget;  // symbolic links
    uint64_t Offset = 0;     // where the entry's header starts
    int FileNum = 0;
};

class TArcLister : public TZipCommon {
  public:
    TArcLister();

    bool ShowEmptyDirs = false;

    TOnRead OnRead;
    TOnReadFile OnReadFile;
    TNotifyEvent OnReadBegin, OnReadEnd;
    TOnTotals OnTotals;
    TOnCorruptZipHeader OnCorruptZipHeader;
    TOnInsertDisk OnInsertDisk;
    // Measures the decoded size of a stream whose headers do not give it (compress files); set by callers
    // that have the decoders. Gets the archive handle and the offset of the compressed data.
    std::function<std::optional<uint64_t>(const platform::File& f, uint64_t dataPos)> OnMeasureStream;
    // Measures the decoded size of a whole gzip file (its trailer holds the size of the last member only);
    // set by callers that have the decoders. Gets the archive handle and the file's size; no answer keeps
    // the trailer's size.
    std::function<std::optional<uint64_t>(const platform::File& f, uint64_t fileSize)> OnMeasureGzip;

    // Lists the archive. False when the run does not start or an exception ended it; never throws.
    bool ReadArchive();

    // The current entry (during OnRead).
    const ListEntry& Entry() const { return entry_; }
    ListEntry& Entry() { return entry_; }

    // The first bad header that ended a walk early (0 when the walk reached the archive's end).
    int WalkError() const { return walkError_; }

  private:
    void Walk();
    // Runs the common rules for one entry: name conversion, OnReadFile, the file pattern, counting.
    void Report(ListEntry& e, bool testSpec = true);
    void BadHeader(bool anyReported);
    bool NextVolume();

    void WalkZip();
    void WalkZipCentral(uint64_t start);
    void WalkZipLocal(uint64_t start);
    void WalkArj();
    void WalkLzh();
    void WalkArc(bool pak);
    void WalkZoo();
    void WalkBh();
    void WalkTar();
    void WalkGzip();
    void WalkCab();
    void WalkRar();
    void WalkAce();
    void WalkHa();
    void WalkMsgz();
    void WalkEncoded();

    std::string Name(const std::string& raw, bool dosHost = true) const;
    bool StopRequested();

    ListEntry entry_;
    int reported_ = 0;
    int walkError_ = 0;
    uint64_t end_ = 0;
};

// The method text of an entry by family and code.
std::string MethodText(TArcType type, uint16_t code, uint16_t flags = 0, bool directory = false);

}  // namespace varnok
