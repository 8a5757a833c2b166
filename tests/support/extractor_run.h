// Running an extractor with its events recorded, and reading back what it wrote (every family's tests).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/core/unbase.h"
#include "tests/support/test_support.h"

namespace varnok::test {

struct Outcome {
    int result = 0;                     // what ExtractArchive / TestArchive returned
    int failed = 0;                     // FailedEntries()
    std::map<std::string, bool> ends;   // OnEnd: name (relative to the destination when written) -> pass
    std::vector<int> codes;             // every error code reported through OnError
    std::vector<std::string> messages;  // "file: code: detail"
    bool threw = false;
    int thrownCode = 0;

    bool HasCode(int code) const { return std::find(codes.begin(), codes.end(), code) != codes.end(); }
    bool Passed(const std::string& name) const {
        auto it = ends.find(name);
        return it != ends.end() && it->second;
    }
    bool FailedEntry(const std::string& name) const {
        auto it = ends.find(name);
        return it != ends.end() && !it->second;
    }
};

// Runs x on archive (extracting into dir, or testing when dir is empty). setup may adjust x first; by default
// every entry is selected and existing files are replaced.
inline Outcome RunExtractor(TUnBase& x, const fs::path& archive, const fs::path& dir,
                            const std::function<void(TUnBase&)>& setup = {}) {
    Outcome o;
    x.SetArchiveFile(archive.string());
    x.FileSpec = {"*.*"};
    x.ConfirmOverwrites = false;
    if (!dir.empty()) x.ExtractDir = dir.string();
    std::string root = dir.empty() ? std::string() : fs::weakly_canonical(dir).string() + "/";
    x.OnEnd = [&o, root](TZipCommon&, const std::string& name, bool pass) {
        std::string n =
            !root.empty() && name.compare(0, root.size(), root) == 0 ? name.substr(root.size()) : name;
        o.ends[n] = pass;
    };
    x.OnError = [&o](TZipCommon&, const std::string& file, const std::string& msg, const std::string&,
                     int code) {
        o.codes.push_back(code);
        o.messages.push_back(file + ": " + std::to_string(code) + ": " + msg);
    };
    if (setup) setup(x);
    try {
        o.result = dir.empty() ? x.TestArchive() : x.ExtractArchive();
    } catch (const ArchiveError& e) {
        o.threw = true;
        o.thrownCode = e.Code();
    }
    o.failed = x.FailedEntries();
    return o;
}

// Every regular file and symbolic link below a folder: relative path -> contents (a link: "-> target").
inline std::map<std::string, std::string> FilesUnder(const fs::path& dir) {
    std::map<std::string, std::string> out;
    if (!fs::exists(dir)) return out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = it->path().lexically_relative(dir).string();
        if (it->is_symlink()) {
            out[rel] = "-> " + fs::read_symlink(it->path()).string();
            it.disable_recursion_pending();
        } else if (it->is_regular_file()) {
            out[rel] = ReadText(it->path());
        }
    }
    return out;
}

inline std::string Str(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}
inline std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace varnok::test
