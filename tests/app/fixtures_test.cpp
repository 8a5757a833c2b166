// The real archives of the fixtures folder, opened in the main window's model and extracted completely with
// folder names: every file must come out as the peer tools extracted it. Archive types without an extractor
// in this build are left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "app/archive_model.h"
#include "app/extract.h"
#include "archive/extractors.h"
#include "tests/app/app_test_support.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using varnok::test::TempDir;

struct Expected {
    std::string entry;
    uint64_t size = 0;
    std::string sha256;
    std::string password;  // what the peer needed
};

// Names that every family stores the same way: printable ASCII, no escaped bytes, no "\\" and no "..", and no
// run of "_" that a peer put for characters it could not show.
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

std::map<std::string, std::vector<Expected>> ReadExpected(const varnok::test::fs::path& tsv) {
    std::map<std::string, std::vector<Expected>> out;
    std::ifstream in(tsv);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::string archive, entry, size, sha, peer;
        if (!std::getline(ss, archive, '\t') || !std::getline(ss, entry, '\t') ||
            !std::getline(ss, size, '\t') || !std::getline(ss, sha, '\t'))
            continue;
        std::getline(ss, peer, '\t');
        // Folders, links and entries no peer extracted have no digest. Damaged archives that peers extracted
        // only in part, and names of other character sets, belong to the families' own tests.
        if (sha.size() != 64 || size.empty() || size[0] < '0' || size[0] > '9') continue;
        if (peer.find("rc=") != std::string::npos || peer.find("partial") != std::string::npos) continue;
        if (!PlainName(entry)) continue;
        std::string password;
        if (size_t p = peer.find("(password "); p != std::string::npos)
            password = peer.substr(p + 10, peer.find(')', p) - p - 10);
        out[archive].push_back({entry, std::stoull(size), sha, password});
    }
    return out;
}

std::string Sha256Of(const std::string& path) {
    auto data = varnok::test::ReadFile(path);
    varnok::test::Sha256 h;
    h.Update(data.data(), data.size());
    return h.FinishHex();
}

TEST(AppFixtures, ArchivesOpenedInTheWindowExtractAsThePeersDid) {
    VARNOK_REQUIRE_FIXTURE(tsv, "EXPECTED.tsv");
    auto expected = ReadExpected(tsv);
    int archives = 0, files = 0;
    for (const auto& [rel, entries] : expected) {
        auto archive = varnok::test::Fixture(rel);
        if (archive.empty()) continue;
        Settings settings;
        test::RecordingView view;
        // Encrypted samples: the password window answers with the peer's password.
        if (!entries.front().password.empty()) view.lastPassword = entries.front().password;
        ArchiveModel model(settings, view);
        TempDir tmp;
        model.SetSessionTempDir(tmp.Path().string());
        ASSERT_TRUE(model.Open(archive.string()));
        // The follow-ups (a single tar inside, encoded text) replace the archive: these are compared
        // elsewhere.
        if (model.ArchivePath() != archive.string()) continue;
        // A compressed TAR opens as the TAR's entries, where the peers show the one compressed file: the TAR
        // tests compare those.
        if (model.ArcType() == atGZip && (model.RowCount() != 1 || model.Row(0).StoredName() != entries.front().entry))
            continue;
        if (model.Engine() == EngineKind::Lister && !HasExtractor(model.ArcType())) continue;
        // ARC marks no entry as garbled, so nothing asks for their password: that is the ARC tests' business.
        if (!entries.front().password.empty() && (model.ArcType() == atArc || model.ArcType() == atPak))
            continue;
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
            EXPECT_EQ(Sha256Of(path), e.sha256) << rel << ": " << e.entry;
        }
    }
    EXPECT_GT(archives, 0);
    printf("%d archives, %d files compared\n", archives, files);
}

}  // namespace
}  // namespace varnok::app
