#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <string_view>

#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok::test {

namespace {

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> cols;
    for (size_t start = 0;;) {
        size_t tab = line.find('\t', start);
        cols.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) return cols;
        start = tab + 1;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "\xNN" becomes the byte NN; any other backslash is part of the name (DOS separators, the second byte
// of a CP932 character).
std::string Unescape(std::string_view s, bool& escaped) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && HexDigit(s[i + 2]) >= 0 &&
            HexDigit(s[i + 3]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
            escaped = true;
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// A digest is 64 hex digits; "-" is none. Anything else makes the line unreadable.
bool ReadDigest(std::string_view s, std::string& out) {
    if (s == "-") return true;
    if (s.size() != 64) return false;
    for (char c : s) {
        if (HexDigit(c) < 0) return false;
        out += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    return true;
}

// The readable lines of a table, its header left out; a line ending in "\r\n" loses the "\r".
template <class Row>
void ReadLines(const fs::path& tsv, std::string_view header, Row&& row) {
    std::ifstream in(tsv, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto cols = SplitTabs(line);
        if (cols[0] == header) continue;
        row(cols);
    }
}

bool ReadExpectedRow(const std::vector<std::string_view>& cols, ExpectedEntry& e) {
    if (cols.size() < 5 || cols[0].empty() || cols[1].empty()) return false;
    if (!ReadDigest(cols[3], e.sha256)) return false;
    e.archive = cols[0];
    e.peer = cols[4];
    uint64_t size = 0;
    const char* end = cols[2].data() + cols[2].size();
    auto [ptr, ec] = std::from_chars(cols[2].data(), end, size);
    if (ec == std::errc() && ptr == end) e.size = size;

    const std::string_view name = cols[1];
    e.nonFirstVolume = name.starts_with("(non-first volume");
    e.unextracted = e.peer.starts_with("none:") || e.peer.find("no peer extracted") != std::string::npos;
    e.peerFailed = e.peer.find("rc=") != std::string::npos;
    e.partial = e.peer.find("partial") != std::string::npos;
    if (size_t p = e.peer.find("(password "); p != std::string::npos) {
        p += 10;
        e.password = e.peer.substr(p, e.peer.find(')', p) - p);
    }
    if (e.nonFirstVolume || (e.unextracted && name == "-")) return true;  // no entry on this row
    // Links carry no content of their own; a name with " -> " and a size is a file of that name.
    size_t arrow = name.find(" -> ");
    if (arrow != std::string_view::npos && !e.size && !e.HasDigest()) {
        e.symlink = true;
        e.entry = Unescape(name.substr(0, arrow), e.escaped);
        e.linkTarget = Unescape(name.substr(arrow + 4), e.escaped);
    } else {
        e.entry = Unescape(name, e.escaped);
        e.directory = e.entry.back() == '/';
    }
    return true;
}

}  // namespace

ExpectedTable ExpectedTable::Read(const fs::path& tsv) {
    ExpectedTable t;
    ReadLines(tsv, "archive path", [&](const std::vector<std::string_view>& cols) {
        ExpectedEntry e;
        if (!ReadExpectedRow(cols, e)) {
            ++t.skipped_;
            return;
        }
        t.archives_[e.archive].push_back(std::move(e));
    });
    return t;
}

const std::vector<ExpectedEntry>& ExpectedTable::Of(const std::string& archive) const {
    static const std::vector<ExpectedEntry> none;
    auto it = archives_.find(archive);
    return it == archives_.end() ? none : it->second;
}

std::vector<ManifestEntry> ReadManifest(const fs::path& tsv) {
    std::vector<ManifestEntry> out;
    ReadLines(tsv, "path", [&](const std::vector<std::string_view>& cols) {
        if (cols.size() < 3 || cols[0].empty() || cols[1].empty()) return;
        out.push_back({std::string(cols[0]), std::string(cols[1]), std::string(cols[2])});
    });
    return out;
}

const ExpectedTable& Expected() {
    static const ExpectedTable table =
        FixturesDir().empty() ? ExpectedTable() : ExpectedTable::Read(FixturesDir() / "EXPECTED.tsv");
    return table;
}

const std::vector<ManifestEntry>& Manifest() {
    static const std::vector<ManifestEntry> rows =
        FixturesDir().empty() ? std::vector<ManifestEntry>() : ReadManifest(FixturesDir() / "MANIFEST.tsv");
    return rows;
}

const std::vector<ExpectedEntry>& ExpectedOf(const std::string& archive) {
    return Expected().Of(archive);
}

std::vector<ExpectedEntry> ExtractedFiles(const std::string& archive) {
    std::vector<ExpectedEntry> out;
    for (const auto& r : ExpectedOf(archive))
        if (r.HasDigest() && !r.partial) out.push_back(r);
    return out;
}

std::vector<std::string> FixturesOfFormat(const std::string& format) {
    std::vector<std::string> out;
    for (const auto& m : Manifest())
        if (m.format == format) out.push_back(m.path);
    return out;
}

bool ExtractedWhole(const std::vector<ExpectedEntry>& rows) {
    for (const auto& r : rows)
        if (r.partial || r.unextracted || !r.HasDigest() || r.escaped || r.entry.find('\\') != std::string::npos)
            return false;
    return !rows.empty();
}

std::string PasswordOf(const std::vector<ExpectedEntry>& rows) {
    for (const auto& r : rows)
        if (!r.password.empty()) return r.password;
    return {};
}

int ExpectFilesAsPeers(const fs::path& dir, const std::vector<ExpectedEntry>& rows) {
    int compared = 0;
    for (const auto& r : rows) {
        if (r.directory || r.symlink || !r.HasDigest()) continue;
        std::string name = r.entry;
        while (!name.empty() && name[0] == '/')
            name.erase(0, 1);
        const fs::path f = dir / name;
        ++compared;
        if (!fs::exists(f)) {
            ADD_FAILURE() << r.archive << ": " << name << " not extracted";
            continue;
        }
        EXPECT_EQ(Sha256OfFile(f), r.sha256) << r.archive << ": " << name;
    }
    return compared;
}

}  // namespace varnok::test
