// ZIP repair: rebuilds a damaged ZIP file from the entries whose local records survive.
//
// Why it is built this way:
// - The scan looks for local headers with a Boyer-Moore-Horspool search over the four signature bytes (a skip
//   table per signature), so that it touches at most every fourth byte of the space between entries. After an
//   accepted entry it goes on from that entry's end, so a "PK\3\4" inside stored data (a ZIP stored in a ZIP)
//   is never taken for an entry of its own; after a rejected header it goes on four bytes later.
// - A header alone proves nothing: every candidate whose data can be decoded (stored, deflate, Deflate64 and
// the
//   early methods) is decoded and its CRC and size compared, so a plausible header over damaged or cut-off
//   data is rejected. Encrypted entries and methods without a decoder here cannot be checked; they are kept
//   when their sizes fit, and reported as unchecked.
// - An entry whose sizes follow its data (flag bit 3) is bounded by the descriptor that fits: for deflate the
//   stream's own end, for everything else a descriptor (with or without its signature, 32- or 64-bit sizes)
//   whose compressed size is its distance from the data. Those descriptors are indexed by the data start they
//   imply in one pass, so finding the one for an entry costs a look-up, not a walk to the end of the file.
// - Local records are copied unchanged (the descriptor included) and a fresh central directory is written for
//   them, ZIP64 where a size, an offset or the count needs it. Where central records of the old directory
//   survive, an entry that matches one by its local-header offset (and CRC and size) takes what only the
//   central record knows: the host system, the attributes and Unix mode, the comment, the UTF-8 flag, the
//   extra fields.
// - The input is mapped read-only, never read whole into memory, and never changed. A file output is written
// under
//   a private name (mkstemp) beside the target and renamed into place only when complete; a failed or stopped
//   run leaves no partial target and an existing one as it was.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "archive/core/component.h"

namespace varnok {

// What the scan made of one local header.
enum TFixVerdict : uint8_t {
    fvVerified,      // decoded: CRC and size match
    fvEncrypted,     // kept: encrypted, sizes fit, data cannot be checked without the password
    fvUnchecked,     // kept: a method without a decoder here, sizes fit, data not checked
    fvBadName,       // dropped: empty name or a control character in it
    fvCutOff,        // dropped: the header, name, data or descriptor runs past the end of the file
    fvDamaged,       // dropped: the data do not decode to the stored CRC and size
    fvNoDescriptor,  // dropped: sizes after the data (bit 3), but no descriptor fits
    fvBadSizes,      // dropped: sizes that cannot belong to such an entry
};
bool IsKept(TFixVerdict v);
// A short text for a verdict ("encrypted, not verified", "data damaged", ...).
const char* VerdictText(TFixVerdict v);

// One entry found: the fields of its central record (in the record's order) and its name, plus where it lies
// in the damaged file and what the old central directory added.
struct TFileInfo {
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t Time = 0;
    uint16_t Date = 0;
    uint32_t Crc32 = 0;
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
    uint16_t NameLength = 0;
    uint16_t ExtraLength = 0;  // of the local header
    uint16_t CommentLength = 0;
    uint16_t DiskNumberStart = 0;
    uint16_t InternalAttributes = 0;
    uint32_t ExternalAttributes = 0;
    uint64_t LocalHeaderOffset = 0;  // in the damaged file
    std::string Name;                // raw bytes as stored

    uint64_t DataOffset = 0;      // in the damaged file
    uint32_t DescriptorSize = 0;  // 0, 12, 16, 20 or 24
    std::string Comment;          // from a surviving central record
    std::vector<uint8_t>
        Extra;                 // central extra fields from a surviving central record (ZIP64 field left out)
    bool FromCentral = false;  // matched a surviving central record
    TFixVerdict Verdict = fvVerified;
    // The bytes copied into the new file: header, name, extra field, data, descriptor.
    uint64_t RecordSize() const { return DataOffset - LocalHeaderOffset + CompressedSize + DescriptorSize; }
};

using TOnFileFoundEvent =
    std::function<void(TZipCommon& sender, const std::string& fileName, bool fileInfoIsOK)>;

class TZipFix : public TZipCommon {
  public:
    // Every local header the scan looked at: its name (empty when the name itself was bad) and whether it is
    // kept.
    TOnFileFoundEvent OnFileFound;
    // The same, with the whole record and the reason (kept unchecked, dropped as damaged, ...).
    std::function<void(TZipCommon& sender, const TFileInfo& info)> OnFileChecked;

    // Repairs the file input into the file output (an existing output is replaced when the new one is
    // complete). True when the run completed (the output then holds every kept entry, or is empty when none
    // was kept); false when it was stopped (nothing written). A file that cannot be read or written raises
    // ArchiveError naming it. The input and the output must differ.
    bool Repair(const std::string& input, const std::string& output);
    // Repairs what input holds into output. Throws std::invalid_argument "No input or no output stream has
    // been defined" when either is missing.
    bool Repair(std::istream* input, std::ostream* output);

    // The output name the repair window gives: the path without its extension, followed by "_fixed.zip".
    static std::string FixedName(const std::string& input);
    // The skip table of a right-to-left search for a 4-byte little-endian signature.
    static std::array<uint8_t, 256> SkipTable(uint32_t signature);

    // Of the last run: the entries kept (in file order), and the headers dropped that had a usable name.
    const std::vector<TFileInfo>& Entries() const { return entries_; }
    int Dropped() const { return dropped_; }
    int Unchecked() const;

  private:
    struct Scan;
    bool Run(const platform::File& in, const std::string& inName,
             const std::function<void(const void*, size_t)>& write);

    std::vector<TFileInfo> entries_;
    int dropped_ = 0;
};

}  // namespace varnok
