// Running an archive writer with its events recorded, a tree of awkward files to archive, and checks that an
// update left nothing behind (every writer family's tests).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/core/compbase.h"
#include "archive/core/unbase.h"
#include "tests/support/test_support.h"

namespace varnok::test {

struct WriteOutcome {
    int result = 0;
    bool failed = false;
    std::vector<int> codes;
    std::vector<std::string> messages;
    bool HasCode(int code) const { return std::find(codes.begin(), codes.end(), code) != codes.end(); }
};

// Runs w on archive with the given FileSpec, searching subfolders; setup may adjust it first. Patterns without a
// folder are found in from (the default folder); names are stored relative to it.
inline WriteOutcome RunWriter(TCompBase& w, const fs::path& archive, const std::vector<std::string>& specs,
                              const fs::path& from, const std::function<void(TCompBase&)>& setup = {}) {
    WriteOutcome o;
    w.SetArchiveFile(archive.string());
    w.FileSpec = specs;
    w.SetDefaultDir(from.string());
    w.StoredDirNames = sdExplorer;
    w.StoreEmptySubDirs = true;
    w.RecurseDirs = true;
    w.OnError = [&o](TZipCommon&, const std::string& file, const std::string& msg, const std::string&, int code) {
        o.codes.push_back(code);
        o.messages.push_back(file + ": " + std::to_string(code) + ": " + msg);
    };
    w.OnReplaceFile = [](TZipCommon&, const std::string&, const std::string&, int64_t, int64_t, uint64_t, uint64_t,
                         uint32_t, uint32_t, bool& replace) { replace = true; };
    if (setup) setup(w);
    o.result = w.CompressArchive();
    o.failed = w.Failed();
    return o;
}

inline std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

inline std::string Text(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i % 977) + " of some text that repeats with small changes\n";
    s.resize(n);
    return s;
}

// A tree with the names and contents that trip writers up: a name starting with "-", spaces, non-ASCII, an
// empty file, an empty folder, a deep path with a long name, incompressible and compressible data, and an
// executable mode. Returns relative path -> contents (folders end in "/").
inline std::map<std::string, std::string> MakeTree(const fs::path& root) {
    std::map<std::string, std::string> t;
    auto file = [&](const std::string& rel, const std::string& data, unsigned mode = 0644) {
        fs::create_directories((root / rel).parent_path());
        WriteFile(root / rel, data);
        chmod((root / rel).c_str(), mode);
        t[rel] = data;
    };
    file("-dash.txt", "a file whose name looks like an option\n");
    file("space name.txt", "spaces\n");
    file("caf\xC3\xA9 \xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", "non-ASCII name\n");
    file("empty.bin", "");
    file("run.sh", "#!/bin/sh\necho hi\n", 0755);
    file("noise.bin", RandomBytes(150000, 7));
    file("text/big.txt", Text(400000));
    const std::string deep = "d1/d2/d3/d4/d5/d6/d7/d8/" + std::string(120, 'n') + "/leaf with a rather long name.txt";
    file(deep, "deep\n");
    fs::create_directories(root / "emptydir");
    t["emptydir/"] = "";
    return t;
}

// Every file and folder of a tree made by MakeTree is at its place under out, with its contents.
inline void ExpectTree(const std::map<std::string, std::string>& tree, const fs::path& out) {
    for (const auto& [rel, data] : tree) {
        if (rel.back() == '/') {
            EXPECT_TRUE(fs::is_directory(out / rel)) << rel;
            continue;
        }
        ASSERT_TRUE(fs::exists(out / rel)) << rel;
        EXPECT_EQ(ReadText(out / rel), data) << rel;
    }
}

// Folder entries made as folders, as varnok-cli and the window do.
inline void WithFolders(TUnBase& x) { x.CreateStoredDirs = true; }

// Files in a folder whose names start with "." and end with ".tmp": what a failed update must not leave.
inline std::vector<std::string> TempLeftovers(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n.size() > 4 && n[0] == '.' && n.find(".tmp") != std::string::npos) out.push_back(n);
    }
    return out;
}

}  // namespace varnok::test
