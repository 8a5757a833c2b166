#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace varnok::test {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "varnok-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make read-only folders removable again before deleting the tree.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

fs::path FixturesDir() {
    const char* env = getenv("VARNOK_FIXTURES");
    fs::path p = env && *env ? fs::path(env) : fs::path(VARNOK_DEFAULT_FIXTURES);
    std::error_code ec;
    if (fs::is_regular_file(p / "MANIFEST.tsv", ec)) return p;
    return {};
}

fs::path Fixture(const std::string& rel) {
    fs::path d = FixturesDir();
    if (d.empty()) return {};
    std::error_code ec;
    if (!fs::exists(d / rel, ec)) return {};
    return d / rel;
}

fs::path BinDir() {
    const char* env = getenv("VARNOK_BIN");
    return env && *env ? fs::path(env) : fs::path(VARNOK_DEFAULT_BIN);
}

fs::path SourceDir() {
    const char* env = getenv("VARNOK_SOURCE");
    return env && *env ? fs::path(env) : fs::path(VARNOK_DEFAULT_SOURCE);
}

std::vector<uint8_t> ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + p.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const fs::path& p, const std::vector<uint8_t>& data) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) throw std::runtime_error("cannot write " + p.string());
}

void WriteFile(const fs::path& p, const std::string& data) {
    WriteFile(p, std::vector<uint8_t>(data.begin(), data.end()));
}

std::string ReadText(const fs::path& p) {
    auto v = ReadFile(p);
    return std::string(v.begin(), v.end());
}

bool HaveTool(const std::string& name) {
    return Run("command -v " + name + " >/dev/null 2>&1") == 0;
}

int Run(const std::string& command, std::string* out) {
    FILE* f = popen(command.c_str(), "r");
    if (!f) return -1;
    std::array<char, 4096> buf;
    size_t n;
    std::string s;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0)
        s.append(buf.data(), n);
    int st = pclose(f);
    if (out) *out = std::move(s);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string Quote(const fs::path& p) {
    std::string s = p.string(), r = "'";
    for (char c : s) {
        if (c == '\'')
            r += "'\\''";
        else
            r += c;
    }
    return r + "'";
}

}  // namespace varnok::test
