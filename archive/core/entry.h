// The entry record: what one header of an archive says of one entry, in the same form for every family. The
// family's walk fills it from its header (one function per family), the lister reports it, the extractors
// extract from it and the ZIP bridge builds its rows from it, so that all of them show, select and name an
// entry alike.
//
// Names are kept twice: as stored (bytes in whatever code page the archiver wrote) and as shown (UTF-8). The
// stored form is what the code-page decision of the archive is made from; the shown form is made from it only
// once that decision stands (DecodeTexts), because a name can only be read right when all names of the archive
// have been seen.
#pragma once

#include <cstdint>
#include <string>

#include "archive/core/names.h"

namespace varnok {

struct ArchiveEntry {
    // ---- What is shown (UTF-8, filled by DecodeTexts) ----
    std::string EntryName;  // with its folders, "/" separated, without a trailing "/"
    std::string EntryComment;
    std::string LinkTarget;  // symbolic links; hard links: the name of the entry linked to

    // ---- What is stored ----
    std::string RawName;  // the name's bytes as stored, "/" or (see BackslashSeparates) "\" between folders
    std::string RawComment;
    std::string RawLinkTarget;
    NameOrigin Origin = NameOrigin::Dos;
    // A "\" in the stored name separates folders (names written by DOS and Windows archivers). It is read
    // as a separator only after the name is decoded: in CP932 and the other double-byte code pages it can be
    // the second byte of a character.
    bool BackslashSeparates = true;
    // The name is shown in lower case when it has no lower-case letter (DOS archivers stored capitals only).
    bool LowerIfCapitals = false;

    int64_t EntryDate = 0;  // Unix seconds
    uint64_t PackedSize = 0;
    uint64_t UnpackedSize = 0;
    // False when the format does not store the decoded size (gzip streams, parts of volume-spanning files):
    // no cap is put on the output then.
    bool SizeKnown = true;
    uint32_t EntryCrc = 0;
    int CrcBits = 32;  // 32, 16 or 0 (no check value, or a header checksum)
    bool Encrypted = false;
    uint16_t MethodCode = 0;
    std::string MethodText;
    uint16_t InternalAttr = 0;
    uint32_t ExternalAttr = 0;  // DOS attribute bits (read-only 0x01, hidden 0x02, system 0x04, folder 0x10, ...)
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    int Ratio = 0;
    std::string VolumeName;
    bool IsDirectory = false;
    bool IsVolumeLabel = false;
    bool IsSymlink = false;
    bool IsHardLink = false;  // LinkTarget names an earlier entry of the archive
    uint32_t UnixMode = 0;    // permission (and type) bits when the archive stores them
    uint64_t Offset = 0;      // where the entry's header starts
    int FileNum = 0;          // 1-based number among the entries reported
    uint32_t Index = 0;       // 0-based position among all entries the walk read
    // The entry stands for the whole file (a gzip or compress stream, encoded text): the lister shows it
    // whatever the file patterns say.
    bool WholeFile = false;
    // The lister does not count the entry in its totals (encoded text).
    bool NotCounted = false;
};

// Fills the shown texts of an entry from its stored ones: decoded with the archive's code-page decision, "\"
// read as "/" where the family says so, trailing separators and a leading "./" of the name removed.
void DecodeTexts(ArchiveEntry& e, const NameCoding& coding);

// Whether DecodeTexts gives the same for the entry whatever the code-page decision: it can be shown before
// the decision is made.
bool TextsSettled(const ArchiveEntry& e, const NameCoding& coding);

// Adds the stored texts of an entry to the sample the archive's code-page decision is made from.
void SampleTexts(const ArchiveEntry& e, NameCoding& coding);

}  // namespace varnok
