// Helpers shared by the test programs: scratch folders, fixture lookup, small file utilities.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varnok::test {

namespace fs = std::filesystem;

// A fresh folder removed again when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// The interoperability fixtures folder, or an empty path when it is absent (tests then skip).
fs::path FixturesDir();
// A fixture file by its path relative to the fixtures folder; empty when absent.
fs::path Fixture(const std::string& rel);
// Folder of the built programs (varnok-cli and friends).
fs::path BinDir();
// The source tree (VARNOK_SOURCE, else the tree this build was made from).
fs::path SourceDir();

std::vector<uint8_t> ReadFile(const fs::path& p);
void WriteFile(const fs::path& p, const std::vector<uint8_t>& data);
void WriteFile(const fs::path& p, const std::string& data);
std::string ReadText(const fs::path& p);

// Whether a program is on PATH (interoperability tests skip without their peer tool).
bool HaveTool(const std::string& name);
// Runs a shell command; returns its exit status, and its standard output in *out when given.
int Run(const std::string& command, std::string* out = nullptr);
// Quotes a path for a shell command.
std::string Quote(const fs::path& p);

}  // namespace varnok::test

#define VARNOK_REQUIRE_FIXTURE(var, rel)           \
    const auto var = ::varnok::test::Fixture(rel); \
    if (var.empty()) GTEST_SKIP() << "fixture not available: " << (rel)

#define VARNOK_REQUIRE_TOOL(name) \
    if (!::varnok::test::HaveTool(name)) GTEST_SKIP() << "peer tool not installed: " << (name)
