// An INI settings file: "[Section]" lines and "key=value" lines. Sections and keys are found ignoring ASCII
// case; the file keeps its order, comments and unknown keys. Changes are held in memory until Flush(), which
// replaces the file atomically (a new file beside it, then a rename).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::app {

class IniFile {
  public:
    IniFile() = default;
    // Opens (reads) the file; a missing file is an empty one. The folder is created on the first Flush().
    explicit IniFile(std::string path);

    const std::string& Path() const { return path_; }
    // Reads the file again, dropping unsaved changes. False when it exists but cannot be read.
    bool Reload();
    // Writes the file when something changed. False on failure (the changes stay pending).
    bool Flush();
    bool Dirty() const { return dirty_; }

    bool HasSection(const std::string& section) const;
    bool HasKey(const std::string& section, const std::string& key) const;
    std::vector<std::string> Keys(const std::string& section) const;

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // A decimal integer (optional sign, surrounding blanks allowed); anything else gives def.
    int64_t ReadInteger(const std::string& section, const std::string& key, int64_t def) const;
    // An integer read as a truth value: non-zero is true; a value that is not a number gives def.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    // A "1"/"0" text flag: a number that is not 0 is true; a value that is not a number counts as 0.
    bool ReadFlag(const std::string& section, const std::string& key, bool def) const;
    double ReadFloat(const std::string& section, const std::string& key, double def) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int64_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    void WriteFloat(const std::string& section, const std::string& key, double value);
    void DeleteKey(const std::string& section, const std::string& key);
    void EraseSection(const std::string& section);

    // The whole text as it would be written.
    std::string Text() const;
    // Replaces the contents by parsing text (used by Reload and tests).
    void Parse(const std::string& text);

  private:
    struct Line {
        std::string key;    // empty for comments and blank lines
        std::string value;  // or the raw text of a comment line
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };
    Section* FindSection(const std::string& name);
    const Section* FindSection(const std::string& name) const;
    const Line* FindLine(const std::string& section, const std::string& key) const;

    std::string path_;
    std::vector<std::string> head_;  // lines before the first section
    std::vector<Section> sections_;
    bool dirty_ = false;
};

}  // namespace varnok::app
