// The format registry: one record per archive family, saying everything the rest of the program needs to know
// of it: its type values and their display names, its file extensions and MIME types, how identification
// recognises it, the walk that turns its headers into entry records, and the factories of its extractor and
// writer. Identification, the lister, the extractor factory, the window's open-dialog filters, the file
// associations and varnok-cli loop over the registry; none of them names a family. Adding a family is one
// folder under archive/formats plus one line in archive/formats.cpp.
//
// The list itself is defined above the families (archive/formats.cpp) and declared here, below them, so that
// the framework (identification, the lister) can loop over it while every family builds on the framework.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/core/arctype.h"
#include "archive/core/entry.h"
#include "platform/file.h"

namespace varnok {

class TArchiveBase;
class TZipCommon;
class TUnBase;
class TCompBase;  // the writers' base

// A family's walk over the headers of an archive: every entry in turn, in the order they are stored. The
// lister and the family's extractor read an archive through the same walk.
class EntryWalk {
  public:
    virtual ~EntryWalk() = default;
    // The next entry, with its stored texts (the shown ones follow from the code-page decision). False at the
    // end of the archive, or when a damaged header ends the walk (Error says so).
    virtual bool Next(ArchiveEntry& e) = 0;
    // Why the walk ended early: a numbered error (E_BadFileHeader, ...) and where; 0 when it reached the end.
    int Error() const { return error_; }
    uint64_t ErrorOffset() const { return errorAt_; }
    const std::string& ErrorDetail() const { return errorDetail_; }
    // Whether the walk has gone on into a further volume. The names of the first volume decide the code page
    // of a multi-volume set, so that its extractor, which meets the volumes one after the other, decides alike.
    bool PastFirstVolume() const { return pastFirstVolume_; }

  protected:
    // Ends the walk with an error (the first one stays).
    bool Fail(int code, uint64_t at, std::string detail = {}) {
        if (!error_) {
            error_ = code;
            errorAt_ = at;
            errorDetail_ = std::move(detail);
        }
        return false;
    }
    void LeftFirstVolume() { pastFirstVolume_ = true; }

  private:
    int error_ = 0;
    uint64_t errorAt_ = 0;
    std::string errorDetail_;
    bool pastFirstVolume_ = false;
};

// A type value of a family and its names.
struct TypeInfo {
    TArcType type;
    const char* displayName;  // fixed width: "ZIP       ", "LHA SFX   "
    const char* id;           // the enumeration's name: "atZip"
};

// A stretch of a self-extracting program that identification scans for an embedded archive: the bytes from
// at to size are readable, and at least 8 before at when the file has them.
struct ScanView {
    const uint8_t* data;
    size_t at;
    size_t size;
    uint64_t filePos;  // the file offset of data[at]
    const uint8_t* here() const { return data + at; }
    size_t avail() const { return size - at; }
};

// A kind of file of a family as file dialogs and the desktop's associations know it.
struct FileType {
    const char* name;                     // "Zip": "Zip files (*.zip)" in file dialogs, "Zip archives (...)"
    std::vector<std::string> extensions;  // lower case, without the dot; the first is the usual one
    const char* mimeType;
    // Set when the shared MIME database lacks the type: this program's MIME package defines it so.
    const char* mimeComment = nullptr;
    bool associate = true;     // ticked in the association dialog unless the user says otherwise
    bool openFilter = true;    // an entry of its own in the Open dialog's filters
};

struct FormatRecord {
    const char* name;                // the family as the user knows it: "ZIP", "LZH/LHA"
    std::vector<TypeInfo> types;     // the type values identification gives it, the plain one first
    std::vector<FileType> fileTypes; // its files' extensions and MIME types

    // ---- Identification (each answers with a type, or nothing when the bytes are not this family's; the
    // registry's order is the order of the tests, and the first family whose test applies decides) ----
    // The signature test on the bytes at the start of the file (after leading zero bytes) or, with program,
    // at a place inside a self-extracting program. May set StartOffset and HeadFlag in facts.
    std::optional<TArcType> (*signature)(std::span<const uint8_t> p, bool program, TArchiveBase& facts) = nullptr;
    // A content test for files without a known signature (the text, checksum or marker tests).
    std::optional<TArcType> (*recognise)(const platform::File& f, std::span<const uint8_t> head, uint64_t size,
                                         TArchiveBase& facts) = nullptr;
    // Whether recognise overrides what the signature test found (an ACE marker at offset 7 does).
    bool recogniseOverrides = false;
    // An archive at a fixed place of a known self-extractor stub.
    std::optional<TArcType> (*stub)(const platform::File& f, uint64_t size, TArchiveBase& facts) = nullptr;
    // A header found by scanning a self-extractor (or a file of unknown content), proven by its checksum.
    std::optional<TArcType> (*scan)(const ScanView& v, bool program, const platform::File& f,
                                    TArchiveBase& facts) = nullptr;

    // ---- Reading ----
    // The walk over an archive the component has identified and opened (ArcFile, StartOffset, ...).
    std::unique_ptr<EntryWalk> (*walk)(TZipCommon& c) = nullptr;
    // The extractor of the family's types; nullptr while the family has none.
    std::unique_ptr<TUnBase> (*extractor)(TArcType t) = nullptr;
    // The writer; nullptr while the family has none.
    std::unique_ptr<TCompBase> (*writer)(TArcType t) = nullptr;

    // Every extension of the family's files.
    std::vector<std::string> Extensions() const {
        std::vector<std::string> out;
        for (const auto& f : fileTypes)
            out.insert(out.end(), f.extensions.begin(), f.extensions.end());
        return out;
    }
    bool Has(TArcType t) const {
        for (const auto& i : types)
            if (i.type == t) return true;
        return false;
    }
};

// Every family, in the order identification tries them.
std::span<const FormatRecord* const> Formats();
// The family of a type; nullptr for the four invalid types.
const FormatRecord* FormatOf(TArcType t);

}  // namespace varnok
