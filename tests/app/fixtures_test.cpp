// The real archives of the fixtures folder, opened in the main window's model and extracted completely with
// folder names: every file must come out as the peer tools extracted it. Archive types without an extractor
// in this build are left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "app/archive_model.h"
#include "app/extract.h"
#include "archive/extractors.h"
#include "tests/app/app_test_support.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using varnok::test::TempDir;

// Names that every family stores the same way: printable ASCII (no bytes the table had to escape), no "\\",
// no "..", and no run of "_" that a peer put for characters it could not show.
bool PlainName(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E || c == '\\') return false;
    return s.find("..") == std::string::npos && s.find("__") == std::string::npos;
}

// The extracted file of an entry; names from DOS archives may differ from the peer's in letter case only.
std::string FindExtracted(const std::string& dest, const std::string& entry) {
    namespace fs = varnok::test::fs;
    if (fs::exists(dest + entry)) return dest + entry;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dest, ec); it != fs::recursive_directory_iterator();
         ++it) {
        std::string rel = it->path().string().substr(dest.size());
        if (rel.size() == entry.size() && std::equal(rel.begin(), rel.end(), entry.begin(),
                                                     [](char a, char b) { return tolower(a) == tolower(b); }))
            return it->path().string();
    }
    return {};
}

// The rows the window's extraction is compared with: files with a digest from a peer that ended without an
// error. Damaged archives that peers extracted only in part, and names of other character sets, belong to the
// families' own tests.
std::vector<varnok::test::ExpectedEntry> Comparable(const std::vector<varnok::test::ExpectedEntry>& rows) {
    std::vector<varnok::test::ExpectedEntry> out;
    for (const auto& r : rows)
        if (r.HasDigest() && r.size && !r.peerFailed && !r.partial && PlainName(r.entry)) out.push_back(r);
    return out;
}

TEST(AppFixtures, ArchivesOpenedInTheWindowExtractAsThePeersDid) {
    VARNOK_REQUIRE_FIXTURE(tsv, "EXPECTED.tsv");
    int archives = 0, files = 0;
    for (const auto& [rel, rows] : varnok::test::Expected().Archives()) {
        const auto entries = Comparable(rows);
        auto archive = varnok::test::Fixture(rel);
        if (entries.empty() || archive.empty()) continue;
        Settings settings;
        test::RecordingView view;
        // Encrypted samples: the password window answers with the peer's password.
        const std::string password = varnok::test::PasswordOf(entries);
        if (!password.empty()) view.lastPassword = password;
        ArchiveModel model(settings, view);
        TempDir tmp;
        model.SetSessionTempDir(tmp.Path().string());
        ASSERT_TRUE(model.Open(archive.string()));
        // The follow-ups (a single tar inside, encoded text) replace the archive: these are compared
        // elsewhere.
        if (model.ArchivePath() != archive.string()) continue;
        // A compressed TAR opens as the TAR's entries, where the peers show the one compressed file: the TAR
        // tests compare those.
        if (model.ArcType() == atGZip &&
            (model.RowCount() != 1 || model.Row(0).StoredName() != entries.front().entry))
            continue;
        if (model.Engine() == EngineKind::Lister && !HasExtractor(model.ArcType())) continue;
        // ARC marks no entry as garbled, so nothing asks for their password: that is the ARC tests' business.
        if (!password.empty() && (model.ArcType() == atArc || model.ArcType() == atPak)) continue;
        // Archives of huge entries are left to the families' own tests, and so are stored names that lead out
        // of the destination (peers cut them down; this program refuses them).
        if (model.TotalUnpacked() > (uint64_t{64} << 20)) continue;
        bool unsafe = false;
        for (const auto& row : model.Rows()) {
            std::string n = "/" + row.StoredName();
            unsafe = unsafe || n.find("/../") != std::string::npos || row.StoredName().front() == '/';
        }
        if (unsafe) continue;
        std::string dest = (tmp.Path() / "out").string() + "/";
        ExtractRequest r;
        r.destination = dest;
        r.useFolderNames = true;
        model.Extractor().Run(r);
        // A method this build does not decode yet is the decoders' business, not the window's.
        bool unsupported = false;
        for (const auto& err : model.Extractor().Errors())
            unsupported = unsupported || err.find("(25326)") != std::string::npos;
        if (unsupported) continue;
        ++archives;
        for (const auto& e : entries) {
            std::string path = FindExtracted(dest, e.entry);
            ++files;
            EXPECT_FALSE(path.empty()) << rel << ": " << e.entry;
            if (path.empty()) continue;
            EXPECT_EQ(varnok::test::Sha256OfFile(path), e.sha256) << rel << ": " << e.entry;
        }
    }
    EXPECT_GT(archives, 0);
    printf("%d archives, %d files compared\n", archives, files);
}

}  // namespace
}  // namespace varnok::app
