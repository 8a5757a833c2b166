// The ZIP directory: the one walker of the central directory (or, without one, of the local headers) and the
// one function that turns a ZIP header into an entry record. The lister, TUnZip, the ZIP bridge and the
// extract engine library all read ZIP archives through these, so that a name one of them shows is the name
// every other one selects and writes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/core/format.h"
#include "archive/core/zip_records.h"

namespace varnok {
class TZipCommon;
class ZipVolumeSet;
}

namespace varnok::zip {

// How the name of an entry is to be read: UTF-8 when the entry says so (general-purpose bit 11); otherwise
// by the system that made it (the high byte of "version made by").
NameOrigin OriginOf(uint16_t versionMadeBy, uint16_t flags);

// The entry record of a central header; its name is the Info-ZIP Unicode path when that field fits the
// stored name, else the stored name.
ArchiveEntry EntryOf(const CentralHeader& h, bool jar = false);
// Only the stored texts of a central header (name, comment, their origin): what the name decision needs.
ArchiveEntry TextsOf(const CentralHeader& h);
// The entry record of a local header at pos (an archive without a central directory).
ArchiveEntry EntryOf(const LocalHeader& h, uint64_t pos);

std::string MethodText(uint16_t method, uint16_t flags, bool directory);
// How an entry's compression method is named in an error ("method 14 (LZMA)").
std::string MethodName(uint16_t method);

// Why a walk of central records stopped.
enum class DirStop {
    End,         // the announced records were read (or the bytes ended on a record boundary)
    Short,       // fewer bytes than a record's fixed part remain
    NotCentral,  // a record without the central signature
    Truncated,   // a record's name, extra field or comment runs past the end of the bytes
};
struct DirResult {
    DirStop stop = DirStop::End;
    size_t offset = 0;  // where in the bytes the walk stopped
    uint64_t records = 0;
};

// Walks the central records held in dir: at most count of them (UINT64_MAX: as many as the bytes hold).
// each gets every record in turn and may stop the walk by returning false.
DirResult ParseCentralDirectory(std::span<const uint8_t> dir, uint64_t count,
                                const std::function<bool(CentralHeader& h)>& each);

// Whether four bytes start one of the records that may follow the central directory (the end records, the
// digital signature).
bool EndsDirectory(const uint8_t* p);

// The data descriptor of an entry whose sizes follow its data (bit 3 with sizes of 0): the descriptor whose
// compressed size is its distance from the data. Searches up to end; false when none fits.
struct Descriptor {
    uint32_t crc = 0;
    uint64_t packedSize = 0, unpackedSize = 0;
    uint64_t next = 0;  // the first byte after it
};
bool FindDescriptor(const platform::File& f, uint64_t data, uint64_t end, Descriptor& d,
                    const std::function<bool()>& stop = {});

struct Item {
    CentralHeader central;  // from the central directory, or made from the local header
    ArchiveEntry entry;
    bool fromCentral = false;
    uint64_t localOffset = 0;  // in its part or disk, bytes in front of the archive counted
    int disk = 0;              // 0-based part or disk
};

// Finds entries of the central directory whose data overlap: the same local data named by several central
// records (the small archive that extracts to a huge output). A local record takes at least its 30 bytes and
// the packed data; an entry whose start lies inside the one before it overlaps.
class OverlapCheck {
  public:
    void Add(const Item& item);
    // The names of two overlapping entries, if any.
    std::optional<std::pair<std::string, std::string>> Find();

  private:
    struct Span {
        int disk;
        uint64_t start, end;
        uint32_t index;
    };
    std::vector<Span> spans_;
    std::vector<std::string> rawNames_;
};

// The walk of a ZIP archive the component has identified: the central directory of a plain file (with the
// bytes in front of a self-extractor counted), of a set split into files, or of a set spanned over removable
// disks (the disks are asked for); without a directory, the local headers.
class Walk final : public EntryWalk {
  public:
    using Item = ::varnok::zip::Item;
    explicit Walk(TZipCommon& c);
    ~Walk() override;
    bool Next(Item& item);
    bool Next(ArchiveEntry& e) override;
    // Whether the walk reads the central directory (or else the local headers).
    bool Central() const { return central_; }
    // A set split into files: its parts.
    ZipVolumeSet* Volumes() const { return volumes_.get(); }

  private:
    bool Start();
    bool NextCentral(Item& item);
    bool NextLocal(Item& item);

    TZipCommon& c_;
    bool started_ = false, done_ = false, central_ = false, removable_ = false;
    std::unique_ptr<ZipVolumeSet> volumes_;
    std::vector<uint8_t> dir_;
    size_t p_ = 0;
    uint64_t pos_ = 0;
    uint32_t index_ = 0;
};

}  // namespace varnok::zip
