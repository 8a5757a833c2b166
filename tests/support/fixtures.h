// The tables of the interoperability fixtures: EXPECTED.tsv (what the peer tools extracted from each
// archive) and MANIFEST.tsv (what each file is). Read once, on first use, and shared by every test program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace varnok::test {

namespace fs = std::filesystem;

// One row of EXPECTED.tsv.
struct ExpectedEntry {
    std::string archive;  // path relative to the fixtures folder
    // The entry's name with "\xNN" escapes turned back into their bytes; a folder keeps its trailing "/",
    // a link is its own name (the target is below). Empty on the rows that stand for no entry (a later
    // volume, an archive no peer read).
    std::string entry;
    std::optional<uint64_t> size;  // unknown for folders and links, and where the peer's size was unusable
    std::string sha256;            // lower-case hex; empty when no peer extracted the entry
    std::string peer;              // the peer column as written

    bool escaped = false;    // the name had bytes written as "\xNN" (not UTF-8, or control characters)
    bool directory = false;  // the name ends with "/"
    bool symlink = false;    // written "name -> target"
    std::string linkTarget;
    std::string password;      // "(password X)" in the peer column: what the peer needed
    bool peerFailed = false;   // the peer ended with an error status ("rc=N")
    bool partial = false;      // ... and left what it could: the row may be truncated or wrong (damaged samples)
    bool unextracted = false;  // no peer extracted anything from the archive ("none: ...", listed only)
    bool nonFirstVolume = false;  // a later volume of a set: its entries are on the first volume's rows

    bool HasDigest() const { return !sha256.empty(); }
};

// A table in the layout of EXPECTED.tsv, grouped by archive.
class ExpectedTable {
  public:
    // Reads a table; a missing file gives an empty one. Lines that cannot be read are left out and counted.
    static ExpectedTable Read(const fs::path& tsv);
    // The rows of one archive, in the order of the file; empty when the table does not name it.
    const std::vector<ExpectedEntry>& Of(const std::string& archive) const;
    // Every archive with its rows, by path.
    const std::map<std::string, std::vector<ExpectedEntry>>& Archives() const { return archives_; }
    int Skipped() const { return skipped_; }

  private:
    std::map<std::string, std::vector<ExpectedEntry>> archives_;
    int skipped_ = 0;
};

// One row of MANIFEST.tsv.
struct ManifestEntry {
    std::string path;         // relative to the fixtures folder
    std::string format;       // "lzh", "arj", "zip", ...
    std::string description;  // what the file exercises
};

// Reads a table in the layout of MANIFEST.tsv (in file order); lines that cannot be read are left out.
std::vector<ManifestEntry> ReadManifest(const fs::path& tsv);

// The fixtures' own tables, read on first use; empty when the fixtures are not available.
const ExpectedTable& Expected();
const std::vector<ManifestEntry>& Manifest();

// Expected().Of(archive).
const std::vector<ExpectedEntry>& ExpectedOf(const std::string& archive);
// The rows of an archive that a peer extracted whole: files with a digest, from a peer that did not stop
// part-way.
std::vector<ExpectedEntry> ExtractedFiles(const std::string& archive);
// The paths of every fixture of one format, in manifest order.
std::vector<std::string> FixturesOfFormat(const std::string& format);
// Whether a peer extracted every entry of these rows whole, under the name the table gives: none from a
// damaged or unread archive, none without a digest, no name written with escapes or with a "\\" in it.
bool ExtractedWhole(const std::vector<ExpectedEntry>& rows);
// The password the peers needed for these rows (the first one named), or empty.
std::string PasswordOf(const std::vector<ExpectedEntry>& rows);

// Checks the files extracted under `dir` against rows of one archive: every file row with a digest must be
// there (a leading "/" dropped, as the peers do) with the peer's digest. Returns how many were compared.
int ExpectFilesAsPeers(const fs::path& dir, const std::vector<ExpectedEntry>& rows);

}  // namespace varnok::test
