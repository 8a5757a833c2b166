#include "app/ini_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/paths.h"
#include "platform/file.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::app {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t'))
        ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r'))
        --b;
    return s.substr(a, b - a);
}

bool ParseInt(const std::string& text, int64_t& out) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    const char* b = t.data();
    const char* e = b + t.size();
    if (*b == '+') ++b;
    auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    Reload();
}

bool IniFile::Reload() {
    head_.clear();
    sections_.clear();
    dirty_ = false;
    if (path_.empty() || !platform::FileExists(path_)) return true;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    Parse(ss.str());
    return true;
}

void IniFile::Parse(const std::string& text) {
    head_.clear();
    sections_.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string raw = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::string t = Trim(raw);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections_.push_back({Trim(t.substr(1, t.size() - 2)), {}});
            continue;
        }
        size_t eq = t.find('=');
        bool comment = t.empty() || t[0] == ';' || t[0] == '#' || eq == std::string::npos || eq == 0;
        Line line;
        if (comment) {
            line.value = raw;
        } else {
            line.key = Trim(t.substr(0, eq));
            line.value = Trim(t.substr(eq + 1));
        }
        if (sections_.empty()) {
            head_.push_back(raw);
        } else {
            sections_.back().lines.push_back(std::move(line));
        }
    }
}

std::string IniFile::Text() const {
    std::string out;
    for (const auto& h : head_)
        out += h + "\n";
    for (const auto& s : sections_) {
        out += "[" + s.name + "]\n";
        for (const auto& l : s.lines) {
            if (l.key.empty())
                out += l.value + "\n";
            else
                out += l.key + "=" + l.value + "\n";
        }
    }
    return out;
}

bool IniFile::Flush() {
    if (!dirty_) return true;
    if (path_.empty()) return false;
    std::string dir = ParentFolder(path_);
    if (!dir.empty() && !platform::DirectoryExists(dir) && !platform::ForceDirectories(dir)) return false;
    platform::File f;
    std::string tmp = platform::CreateTempFile(dir.empty() ? "." : WithoutSlash(dir), ".varnok-ini-", {}, &f);
    if (tmp.empty()) return false;
    std::string text = Text();
    bool ok = f.Write(text.data(), text.size()) && f.Sync();
    ok = f.Close() && ok;
    if (!ok || std::rename(tmp.c_str(), path_.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    dirty_ = false;
    return true;
}

IniFile::Section* IniFile::FindSection(const std::string& name) {
    for (auto& s : sections_)
        if (SameText(s.name, name)) return &s;
    return nullptr;
}

const IniFile::Section* IniFile::FindSection(const std::string& name) const {
    for (const auto& s : sections_)
        if (SameText(s.name, name)) return &s;
    return nullptr;
}

const IniFile::Line* IniFile::FindLine(const std::string& section, const std::string& key) const {
    const Section* s = FindSection(section);
    if (!s) return nullptr;
    for (const auto& l : s->lines)
        if (!l.key.empty() && SameText(l.key, key)) return &l;
    return nullptr;
}

bool IniFile::HasSection(const std::string& section) const {
    return FindSection(section) != nullptr;
}

bool IniFile::HasKey(const std::string& section, const std::string& key) const {
    return FindLine(section, key) != nullptr;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
    std::vector<std::string> out;
    if (const Section* s = FindSection(section))
        for (const auto& l : s->lines)
            if (!l.key.empty()) out.push_back(l.key);
    return out;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    const Line* l = FindLine(section, key);
    return l ? l->value : def;
}

int64_t IniFile::ReadInteger(const std::string& section, const std::string& key, int64_t def) const {
    const Line* l = FindLine(section, key);
    int64_t v;
    return l && ParseInt(l->value, v) ? v : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::ReadFlag(const std::string& section, const std::string& key, bool def) const {
    const Line* l = FindLine(section, key);
    if (!l) return def;
    int64_t v;
    return ParseInt(l->value, v) && v != 0;
}

double IniFile::ReadFloat(const std::string& section, const std::string& key, double def) const {
    const Line* l = FindLine(section, key);
    if (!l) return def;
    std::string t = Trim(l->value);
    if (t.empty()) return def;
    // Either decimal separator is accepted.
    for (char& c : t)
        if (c == ',') c = '.';
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(t.c_str(), &end);
    return end && *end == 0 && errno == 0 ? v : def;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    // Line breaks would split the entry: they are stored as blanks.
    std::string v = value;
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    Section* s = FindSection(section);
    if (!s) {
        sections_.push_back({section, {}});
        s = &sections_.back();
    }
    for (auto& l : s->lines) {
        if (!l.key.empty() && SameText(l.key, key)) {
            if (l.value != v) {
                l.value = v;
                dirty_ = true;
            }
            return;
        }
    }
    // New keys go after the last key of the section (before trailing blank lines).
    size_t at = s->lines.size();
    while (at > 0 && s->lines[at - 1].key.empty() && Trim(s->lines[at - 1].value).empty())
        --at;
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), Line{key, v});
    dirty_ = true;
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int64_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
    char b[64];
    snprintf(b, sizeof b, "%.10g", value);
    WriteString(section, key, b);
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
    Section* s = FindSection(section);
    if (!s) return;
    for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
        if (!it->key.empty() && SameText(it->key, key)) {
            s->lines.erase(it);
            dirty_ = true;
            return;
        }
    }
}

void IniFile::EraseSection(const std::string& section) {
    for (auto it = sections_.begin(); it != sections_.end(); ++it) {
        if (SameText(it->name, section)) {
            sections_.erase(it);
            dirty_ = true;
            return;
        }
    }
}

}  // namespace varnok::app
