// Runs an extractor of the LZH family (TUnLha, TUnArj, TUnBh) on an archive file and records what it
// reported, and reads back extracted folder trees for comparison.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "archive/core/unbase.h"

namespace varnok::test {

struct ExtractOptions {
    std::vector<std::string> fileSpec{"*.*"};
    std::vector<std::string> passwords;  // the Passwords list
    std::vector<std::string> answers;    // OnGetPassword's answers in turn; then it gives up
    bool test = false;                   // TestArchive instead of ExtractArchive
    bool skipExisting = false;           // OnFileExists answers "skip"
    bool askForVolumes = true;           // OnNextVolume takes a volume that exists
};

struct ExtractLog {
    int result = 0;  // what the run returned
    int failed = 0;  // FailedEntries()
    int passwordRequests = 0;
    std::map<std::string, bool> verdicts;             // OnEnd by entry name (folder part left out)
    std::vector<std::pair<std::string, int>> errors;  // OnError: file and code
    bool Has(int code) const;
    // The verdict of an entry by the end of its name; false when it had none.
    bool Passed(const std::string& tail) const;
    bool Failed(const std::string& tail) const;
};

ExtractLog RunExtractor(TUnBase& x, const std::filesystem::path& archive, const std::filesystem::path& dest,
                        const ExtractOptions& o = {});

// Regular files below root by relative name, with their bytes (links and folders left out).
std::map<std::string, std::vector<uint8_t>> ReadTree(const std::filesystem::path& root);

}  // namespace varnok::test
