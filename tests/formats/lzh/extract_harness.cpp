#include "tests/formats/lzh/extract_harness.h"

#include "tests/support/test_support.h"

namespace varnok::test {

bool ExtractLog::Has(int code) const {
    for (const auto& e : errors)
        if (e.second == code) return true;
    return false;
}

namespace {
const bool* VerdictOf(const std::map<std::string, bool>& v, const std::string& tail) {
    for (const auto& [name, pass] : v)
        if (name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
            return &pass;
    return nullptr;
}
}  // namespace

bool ExtractLog::Passed(const std::string& tail) const {
    const bool* p = VerdictOf(verdicts, tail);
    return p && *p;
}

bool ExtractLog::Failed(const std::string& tail) const {
    const bool* p = VerdictOf(verdicts, tail);
    return p && !*p;
}

ExtractLog RunExtractor(TUnBase& x, const fs::path& archive, const fs::path& dest, const ExtractOptions& o) {
    ExtractLog log;
    size_t answer = 0;
    x.SetArchiveFile(archive.string());
    x.FileSpec = o.fileSpec;
    x.Passwords = o.passwords;
    x.ExtractDir = dest.string();
    x.CreateStoredDirs = true;
    x.ConfirmOverwrites = true;
    x.OnFileExists = [&](TZipCommon&, const std::string&, std::string&, TOverwriteMode& mode) {
        mode = o.skipExisting ? omSkip : omOverwrite;
    };
    x.OnEnd = [&](TZipCommon&, const std::string& name, bool pass) { log.verdicts[name] = pass; };
    x.OnError = [&](TZipCommon&, const std::string& file, const std::string&, const std::string&, int code) {
        log.errors.emplace_back(file, code);
    };
    x.OnGetPassword = [&](TZipCommon&, const std::string&, std::string& pw, bool& tryAgain) {
        ++log.passwordRequests;
        if (answer < o.answers.size())
            pw = o.answers[answer++];
        else
            tryAgain = false;
    };
    x.OnNextVolume = [&](TZipCommon&, std::string&, const std::string&, bool exists, bool& cancel) {
        cancel = !(o.askForVolumes && exists);
    };
    log.result = o.test ? x.TestArchive() : x.ExtractArchive();
    log.failed = x.FailedEntries();
    return log;
}

std::map<std::string, std::vector<uint8_t>> ReadTree(const fs::path& root) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_symlink() || !it->is_regular_file()) continue;
        out[fs::relative(it->path(), root).generic_string()] = ReadFile(it->path());
    }
    return out;
}

}  // namespace varnok::test
