// The file-manager actions of the shell-extension switches. One item is one file per file manager (Dolphin
// service menu, Nautilus script, Nemo action) and one <action> in Thunar's shared uca.xml. Every file we write
// carries a marker line, and only files with that marker are ever replaced or deleted: a user's own script or
// action that happens to share a name is left alone and reported.
//
// Each format quotes the command differently, and a program path with blanks, quotes, "$", "%" or backslashes
// must reach the program unchanged through all of them:
//   - Dolphin: desktop-entry Exec quoting (double quotes, "\" before `"`, "`", "$", "\"), "%%" for "%", and
//     the string-value escape that doubles every backslash once more;
//   - Nemo: the Exec line is split like a shell command line (without expansion) after Nemo replaced its
//     "%" codes, so the path is single-quoted, "%" doubled, then key-file escaped;
//   - Thunar: the command runs through /bin/sh -c after its "%" codes were expanded, so the path is
//     single-quoted with "%" doubled, and the whole command XML-escaped;
//   - Nautilus: a shell script, the path single-quoted.
#include "app/shell_actions.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "app/associations.h"
#include "app/desktop_entry.h"
#include "app/paths.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"
#include "archive/core/utils.h"

namespace varnok::app {

namespace {

namespace fs = std::filesystem;

// The fields of ShellSwitches by their registry value names.
constexpr std::pair<const char*, bool ShellSwitches::*> kSwitchFields[] = {
    {"ShellExtension", &ShellSwitches::ShellExtension},
    {"DropHandler", &ShellSwitches::DropHandler},
    {"Cascaded", &ShellSwitches::Cascaded},
    {"ShowIcons", &ShellSwitches::ShowIcons},
    {"AddZip", &ShellSwitches::AddZip},
    {"AddBh", &ShellSwitches::AddBh},
    {"AddCab", &ShellSwitches::AddCab},
    {"AddLha", &ShellSwitches::AddLha},
    {"AddJar", &ShellSwitches::AddJar},
    {"AddTar", &ShellSwitches::AddTar},
    {"ExtractHere", &ShellSwitches::ExtractHere},
    {"ExtractTo", &ShellSwitches::ExtractTo},
    {"ExtractToFolder", &ShellSwitches::ExtractToFolder},
    {"CreateExe", &ShellSwitches::CreateExe},
    {"Email", &ShellSwitches::Email},
    {"AddTo", &ShellSwitches::AddTo},
    {"Add", &ShellSwitches::Add},
    {"Test", &ShellSwitches::Test},
};
static_assert(std::size(kSwitchFields) == std::tuple_size_v<decltype(kShellExtensionValues)>);

constexpr const char* kSubmenu = "Varnok";
constexpr const char* kIcon = "varnok";
constexpr const char* kIdPrefix = "varnok-";
// The line that marks a file as ours (key files and scripts).
constexpr const char* kMarker =
    "# Written by Varnok from its shell-extension settings; it replaces or removes this file when they change.";
// The comment of a uca.xml that we created ourselves: removed again with our last action.
constexpr const char* kUcaMarker = "<!-- Created by Varnok for its shell-extension items -->";

// Which selections an item is offered for.
enum class Scope { Archives, Zip, Files, FilesAndFolders };

struct Item {
    std::string id;  // file names and Thunar's unique-id ("varnok-" + id)
    std::string caption;
    std::string sw;    // the program's switch
    std::string type;  // the archive type after the files ("/vnsaz" only)
    Scope scope;
};

// The items the switches ask for, in menu order. DropHandler stands for dropping files onto archives in the
// Windows shell, which these file managers have no hook for: it is only kept in the registry.
std::vector<Item> ItemsOf(const ShellSwitches& s) {
    std::vector<Item> v;
    if (!s.ShellExtension) return v;
    if (s.ExtractHere) v.push_back({"extract-here", "Extract to current folder", "/vnseh", "", Scope::Archives});
    if (s.ExtractTo) v.push_back({"extract-to", "Extract to custom folder", "/vnset", "", Scope::Archives});
    if (s.ExtractToFolder)
        v.push_back({"extract-to-folder", "Extract to subfolder", "/vnsef", "", Scope::Archives});
    if (s.CreateExe) v.push_back({"create-exe", "Create Exe from Zip", "/vnsce", "", Scope::Zip});
    if (s.AddTo) {
        // A static menu cannot name the archive ("Add to NAME.zip"): the captions name its type.
        const std::pair<bool, std::pair<const char*, const char*>> types[] = {
            {s.AddZip, {"zip", "Zip"}}, {s.AddBh, {"bh", "BlakHole"}}, {s.AddCab, {"cab", "Cabinet"}},
            {s.AddLha, {"lha", "Lha"}}, {s.AddJar, {"jar", "Jar"}},    {s.AddTar, {"tar", "Tar"}}};
        for (const auto& [on, t] : types)
            if (on)
                v.push_back({std::string("add-to-") + t.first, std::string("Add to ") + t.second + " archive",
                             "/vnsaz", t.first, Scope::FilesAndFolders});
    }
    if (s.Add) v.push_back({"add", "Add to archive with options", "/vnsac", "", Scope::FilesAndFolders});
    if (s.Email) v.push_back({"email", "Send as Email", "/vnsma", "", Scope::Files});
    if (s.Test) v.push_back({"test", "Test archive(s)", "/vnsta", "", Scope::Archives});
    return v;
}

// The MIME types and extensions (lower case, without the dot) an item's scope stands for.
struct TypeSet {
    std::vector<std::string> mimes, exts;
};

void AddUnique(std::vector<std::string>& v, const std::string& s) {
    if (!s.empty() && std::find(v.begin(), v.end(), s) == v.end()) v.push_back(s);
}

TypeSet TypesOf(Scope scope) {
    TypeSet t;
    if (scope == Scope::Zip) {
        t.mimes.push_back(MimeTypeOfExtension(".zip"));
        t.exts.push_back("zip");
    } else if (scope == Scope::Archives) {
        for (const FileType* ft : DesktopFileTypes()) {
            AddUnique(t.mimes, ft->mimeType ? ft->mimeType : "");
            for (const auto& e : ft->extensions)
                AddUnique(t.exts, e);
        }
    }
    return t;
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

// One shell word: single quotes, a quote inside written as '\''.
std::string ShellQuote(const std::string& s) {
    return "'" + ReplaceAll(s, "'", "'\\''") + "'";
}

std::string Join(const std::vector<std::string>& v, const std::string& prefix, const std::string& suffix) {
    std::string o;
    for (const auto& s : v)
        o += prefix + s + suffix;
    return o;
}

// A path as it may appear in a message: control characters shown as "?".
std::string Printable(const std::string& s) {
    std::string o = s;
    for (char& c : o)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return o;
}

std::string ErrnoText() {
    return std::strerror(errno);
}

void AddError(std::string* all, const std::string& msg) {
    if (!all) return;
    if (!all->empty()) *all += "\n";
    *all += msg;
}

bool ReadWhole(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    *text = ss.str();
    return true;
}

// Whether a file is one we wrote: a regular file (not a link) whose head carries the marker.
bool IsOurs(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    std::string head(1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return head.find(kMarker) != std::string::npos;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Writes one of our files unless a file of someone else's is in the way.
bool WriteOwnFile(const std::string& path, const std::string& text, mode_t mode, std::string* errors) {
    if (Exists(path) && !IsOurs(path)) {
        AddError(errors, Printable(path) + ": a file not written by Varnok is in the way; it was left alone");
        return false;
    }
    std::string why;
    if (platform::WriteFileAtomically(path, text, mode, &why)) return true;
    AddError(errors, Printable(path) + ": cannot write the file: " + why);
    return false;
}

// Deletes our files in a folder whose names pass the filter, except those in keep.
bool RemoveOwnFiles(const std::string& dir, bool (*nameMatches)(const std::string&),
                    const std::vector<std::string>& keep, std::string* errors) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return true;
    bool ok = true;
    std::vector<std::string> doomed;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string path = it->path().string();
        if (!nameMatches(it->path().filename().string())) continue;
        if (std::find(keep.begin(), keep.end(), path) != keep.end()) continue;
        if (IsOurs(path)) doomed.push_back(path);
    }
    if (ec) {
        AddError(errors, Printable(dir) + ": cannot list the folder: " + ec.message());
        ok = false;
    }
    for (const auto& p : doomed)
        if (std::remove(p.c_str()) != 0) {
            AddError(errors, Printable(p) + ": cannot delete the file: " + ErrnoText());
            ok = false;
        }
    return ok;
}

bool IsDolphinName(const std::string& n) {
    return n.rfind(kIdPrefix, 0) == 0 && n.size() > 8 && n.compare(n.size() - 8, 8, ".desktop") == 0;
}
bool IsNemoName(const std::string& n) {
    return n.rfind(kIdPrefix, 0) == 0 && n.size() > 12 && n.compare(n.size() - 12, 12, ".nemo_action") == 0;
}
bool AnyName(const std::string& n) {
    return !n.empty() && n[0] != '.';
}

// ---- Thunar's uca.xml ----

// Where our actions sit in a uca.xml and where new ones go.
struct UcaLayout {
    size_t insertAt = 0;
    std::vector<std::pair<size_t, size_t>> ours;  // byte ranges to delete, in order
};

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == ':' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string XmlUnescape(const std::string& s) {
    std::string o;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            o += s[i];
            continue;
        }
        size_t semi = s.find(';', i);
        if (semi == std::string::npos) {
            o.append(s, i, std::string::npos);
            break;
        }
        std::string ent = s.substr(i + 1, semi - i - 1);
        if (ent == "amp") o += '&';
        else if (ent == "lt") o += '<';
        else if (ent == "gt") o += '>';
        else if (ent == "quot") o += '"';
        else if (ent == "apos") o += '\'';
        else o += "&" + ent + ";";  // character references do not occur in our ids
        i = semi;
    }
    return o;
}

// Reads the structure of a uca.xml: the <actions> root, its <action> children with their unique-ids, and
// comments, processing instructions and CDATA sections wherever they are allowed. Anything that is not
// well-formed, or another root element, is refused: merging into a file we do not understand could lose the
// user's actions.
class UcaScanner {
  public:
    explicit UcaScanner(const std::string& t) : t_(t) {}

    bool Scan(UcaLayout* out, std::string* why) {
        if (t_.compare(0, 3, "\xEF\xBB\xBF") == 0) p_ = 3;
        // Prolog: declaration, comments, a document type without internal subset.
        for (;;) {
            SkipBlanks();
            if (p_ >= t_.size()) return Fail(why, "no <actions> element");
            if (Starts("<?")) {
                if (!SkipPast("?>")) return Fail(why, "an unterminated processing instruction");
            } else if (Starts("<!--")) {
                if (!SkipPast("-->")) return Fail(why, "an unterminated comment");
            } else if (Starts("<!DOCTYPE")) {
                size_t gt = t_.find('>', p_), br = t_.find('[', p_);
                if (gt == std::string::npos || br < gt) return Fail(why, "a document type we cannot read");
                p_ = gt + 1;
            } else if (t_[p_] == '<') {
                break;
            } else {
                return Fail(why, "text before the <actions> element");
            }
        }
        std::string name;
        bool empty = false;
        if (!StartTag(&name, &empty, why)) return false;
        if (name != "actions") return Fail(why, "the root element is <" + name + ">, not <actions>");
        if (empty) return Fail(why, "an empty <actions/> element");

        std::vector<std::string> stack;  // open elements inside <actions>
        size_t actionStart = 0;
        std::string uniqueId;
        size_t idTextStart = 0;
        for (;;) {
            size_t lt = t_.find('<', p_);
            if (lt == std::string::npos) return Fail(why, "the <actions> element is not closed");
            if (!CheckText(p_, lt, why)) return false;
            p_ = lt;
            if (Starts("<!--")) {
                if (!SkipPast("-->")) return Fail(why, "an unterminated comment");
            } else if (Starts("<![CDATA[")) {
                if (!SkipPast("]]>")) return Fail(why, "an unterminated CDATA section");
            } else if (Starts("<?")) {
                if (!SkipPast("?>")) return Fail(why, "an unterminated processing instruction");
            } else if (Starts("</")) {
                size_t closeAt = p_;
                p_ += 2;
                std::string n = Name();
                SkipBlanks();
                if (n.empty() || p_ >= t_.size() || t_[p_] != '>') return Fail(why, "a broken end tag");
                ++p_;
                if (stack.empty()) {
                    if (n != "actions") return Fail(why, "</" + n + "> where </actions> belongs");
                    out->insertAt = LineStartIfIndented(closeAt);
                    break;
                }
                if (n != stack.back()) return Fail(why, "</" + n + "> where </" + stack.back() + "> belongs");
                if (stack.size() == 2 && stack[0] == "action" && n == "unique-id")
                    uniqueId = Trim(XmlUnescape(t_.substr(idTextStart, closeAt - idTextStart)));
                stack.pop_back();
                if (stack.empty() && n == "action" && uniqueId.rfind(kIdPrefix, 0) == 0)
                    out->ours.push_back(RemovalRange(actionStart, p_));
            } else if (Starts("<!")) {
                return Fail(why, "a declaration inside <actions>");
            } else {
                size_t tagAt = p_;
                if (!StartTag(&name, &empty, why)) return false;
                if (stack.empty() && name == "action") {
                    actionStart = tagAt;
                    uniqueId.clear();
                }
                // An empty <action/> has no id: never ours.
                if (!empty) {
                    stack.push_back(name);
                    if (stack.size() == 2 && stack[0] == "action" && name == "unique-id") idTextStart = p_;
                }
            }
        }
        // Epilogue: only blanks, comments and processing instructions.
        for (;;) {
            SkipBlanks();
            if (p_ >= t_.size()) return true;
            if (Starts("<!--")) {
                if (!SkipPast("-->")) return Fail(why, "an unterminated comment");
            } else if (Starts("<?")) {
                if (!SkipPast("?>")) return Fail(why, "an unterminated processing instruction");
            } else {
                return Fail(why, "content after </actions>");
            }
        }
    }

  private:
    bool Fail(std::string* why, const std::string& what) {
        size_t line = 1;
        for (size_t i = 0; i < p_ && i < t_.size(); ++i)
            line += t_[i] == '\n';
        *why = what + " (line " + std::to_string(line) + ")";
        return false;
    }
    bool Starts(const char* s) const { return t_.compare(p_, std::strlen(s), s) == 0; }
    void SkipBlanks() {
        while (p_ < t_.size() && IsBlank(t_[p_]))
            ++p_;
    }
    bool SkipPast(const char* end) {
        size_t e = t_.find(end, p_ + 2);
        if (e == std::string::npos) return false;
        p_ = e + std::strlen(end);
        return true;
    }
    std::string Name() {
        size_t b = p_;
        while (p_ < t_.size() && IsNameChar(t_[p_]))
            ++p_;
        return t_.substr(b, p_ - b);
    }
    static std::string Trim(const std::string& s) {
        size_t b = 0, e = s.size();
        while (b < e && IsBlank(s[b]))
            ++b;
        while (e > b && IsBlank(s[e - 1]))
            --e;
        return s.substr(b, e - b);
    }
    // A start tag at p_: its name, whether it is empty ("/>"); attributes are checked for quoting.
    bool StartTag(std::string* name, bool* empty, std::string* why) {
        ++p_;  // '<'
        *name = Name();
        if (name->empty()) return Fail(why, "a broken start tag");
        for (;;) {
            SkipBlanks();
            if (p_ >= t_.size()) return Fail(why, "an unterminated start tag");
            if (Starts("/>")) {
                p_ += 2;
                *empty = true;
                return true;
            }
            if (t_[p_] == '>') {
                ++p_;
                *empty = false;
                return true;
            }
            if (Name().empty()) return Fail(why, "a broken attribute in <" + *name + ">");
            SkipBlanks();
            if (p_ >= t_.size() || t_[p_] != '=') return Fail(why, "an attribute without value in <" + *name + ">");
            ++p_;
            SkipBlanks();
            if (p_ >= t_.size() || (t_[p_] != '"' && t_[p_] != '\'')) return Fail(why, "an unquoted attribute");
            size_t close = t_.find(t_[p_], p_ + 1);
            if (close == std::string::npos) return Fail(why, "an unterminated attribute value");
            if (t_.find('<', p_ + 1) < close) return Fail(why, "\"<\" inside an attribute value");
            if (!CheckText(p_ + 1, close, why)) return false;
            p_ = close + 1;
        }
    }
    // Character data: every "&" starts a complete reference.
    bool CheckText(size_t b, size_t e, std::string* why) {
        for (size_t i = b; i < e; ++i) {
            if (t_[i] != '&') continue;
            size_t semi = t_.find(';', i);
            bool ok = semi != std::string::npos && semi < e && semi > i + 1;
            for (size_t k = i + 1; ok && k < semi; ++k)
                ok = IsNameChar(t_[k]) || t_[k] == '#';
            if (!ok) {
                p_ = i;
                return Fail(why, "a bare \"&\"");
            }
        }
        return true;
    }
    // Where something inserted before the tag at pos goes: the start of its line when only blanks precede
    // it there.
    size_t LineStartIfIndented(size_t pos) const {
        size_t b = pos;
        while (b > 0 && (t_[b - 1] == ' ' || t_[b - 1] == '\t'))
            --b;
        return (b == 0 || t_[b - 1] == '\n') ? b : pos;
    }
    // The bytes an action takes: with its indentation and line break when it stands on lines of its own.
    std::pair<size_t, size_t> RemovalRange(size_t b, size_t e) const {
        size_t lineStart = LineStartIfIndented(b);
        size_t end = e;
        if (end < t_.size() && t_[end] == '\n')
            ++end;
        else if (end + 1 < t_.size() && t_[end] == '\r' && t_[end + 1] == '\n')
            end += 2;
        else
            return {b, e};
        return {lineStart, end};
    }

    const std::string& t_;
    size_t p_ = 0;
};

std::string WithoutRanges(const std::string& text, const std::vector<std::pair<size_t, size_t>>& ranges) {
    std::string o;
    size_t at = 0;
    for (const auto& [b, e] : ranges) {
        o.append(text, at, b - at);
        at = e;
    }
    o.append(text, at, std::string::npos);
    return o;
}

std::string UcaSkeleton() {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + kUcaMarker + "\n<actions>\n</actions>\n";
}

// The path to write a shared file through: the target of a symbolic link (a user's dotfiles often are links
// into a repository), so that the link stays.
std::string WriteTarget(const std::string& path) {
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        fs::path real = fs::canonical(path, ec);
        if (!ec) return real.string();
    }
    return path;
}

// Rewrites uca.xml without our actions and with the given ones (empty: only removal). A missing file is
// created when there is something to add; a file that held nothing but ours and was created by us is
// deleted again.
bool UpdateUca(const std::string& path, const std::string& ourActions, std::string* errors) {
    std::string target = WriteTarget(path);
    std::string text;
    bool existed = Exists(target);
    if (existed && !ReadWhole(target, &text)) {
        AddError(errors, Printable(path) + ": cannot read the file: " + ErrnoText());
        return false;
    }
    if (!existed) {
        if (ourActions.empty()) return true;
        text = UcaSkeleton();
    }
    UcaLayout layout;
    std::string why;
    if (!UcaScanner(text).Scan(&layout, &why)) {
        AddError(errors, Printable(path) + ": left unchanged, Varnok cannot merge its items into it safely: " + why);
        return false;
    }
    std::string updated = WithoutRanges(text, layout.ours);
    if (!ourActions.empty()) {
        UcaLayout again;
        if (!UcaScanner(updated).Scan(&again, &why)) {
            AddError(errors, Printable(path) + ": left unchanged, Varnok cannot merge its items into it safely: " + why);
            return false;
        }
        updated.insert(again.insertAt, ourActions);
    }
    if (existed && updated == text) return true;
    if (ourActions.empty() && updated == UcaSkeleton()) {
        if (std::remove(target.c_str()) != 0) {
            AddError(errors, Printable(path) + ": cannot delete the file: " + ErrnoText());
            return false;
        }
        return true;
    }
    mode_t mode = 0644;
    struct stat st;
    if (existed && ::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    if (!platform::WriteFileAtomically(target, updated, mode, &why)) {
        AddError(errors, Printable(path) + ": cannot write the file: " + why);
        return false;
    }
    return true;
}

}  // namespace

ShellSwitches ReadShellSwitches(const RegistryStore& r) {
    ShellSwitches s;
    if (!r.ShellSwitchesReadable()) return s;
    for (const auto& [name, field] : kSwitchFields)
        s.*field = r.ShellSwitch(name, s.*field);
    return s;
}

void WriteShellSwitches(RegistryStore& r, const ShellSwitches& s) {
    for (const auto& [name, field] : kSwitchFields)
        r.SetShellSwitch(name, s.*field);
    // A failed write stays pending in the store: the caller's next Flush() reports it.
    r.Flush();
}

ShellActions::ShellActions(std::string dataHome, std::string configHome, std::string programPath)
    : dataHome_(WithoutSlash(std::move(dataHome))),
      configHome_(WithoutSlash(std::move(configHome))),
      programPath_(std::move(programPath)) {}

std::string ShellActions::DolphinDir() const {
    return dataHome_ + "/kio/servicemenus";
}
std::string ShellActions::NautilusDir() const {
    return dataHome_ + "/nautilus/scripts";
}
std::string ShellActions::NemoDir() const {
    return dataHome_ + "/nemo/actions";
}
std::string ShellActions::ThunarFile() const {
    return configHome_ + "/Thunar/uca.xml";
}

std::vector<std::string> ShellActions::Files(const ShellSwitches& s) const {
    std::vector<std::string> out;
    auto items = ItemsOf(s);
    for (const auto& i : items)
        out.push_back(DolphinDir() + "/" + kIdPrefix + i.id + ".desktop");
    // Nautilus shows the scripts of a folder as a submenu named after it.
    std::string scripts = NautilusDir() + (s.Cascaded ? std::string("/") + kSubmenu : std::string());
    for (const auto& i : items)
        out.push_back(scripts + "/" + i.caption);
    for (const auto& i : items)
        out.push_back(NemoDir() + "/" + kIdPrefix + i.id + ".nemo_action");
    if (!items.empty()) out.push_back(ThunarFile());
    return out;
}

bool ShellActions::Current(const ShellSwitches& s) const {
    if (!s.ShellExtension) return true;
    for (const auto& f : Files(s)) {
        std::ifstream in(f, std::ios::binary);
        if (!in) return false;
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (text.find(programPath_) == std::string::npos) return false;
    }
    return true;
}

bool ShellActions::Install(const ShellSwitches& s, std::string* error) {
    if (error) error->clear();
    if (!s.ShellExtension) return Remove(error);
    for (char c : programPath_)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            AddError(error, Printable(programPath_) +
                                ": the program path holds a control character and cannot be put into a menu item");
            return false;
        }
    if (programPath_.empty() || programPath_[0] != '/') {
        AddError(error, "\"" + programPath_ + "\": the menu items need the program's absolute path");
        return false;
    }

    const auto items = ItemsOf(s);
    const auto files = Files(s);
    std::string errors;
    bool ok = true;
    size_t f = 0;

    // The desktop-entry form of the program, and the shell word with its "%" doubled for Nemo and Thunar,
    // whose own "%" codes are replaced before the command line is split.
    const std::string execProgram = DesktopExecArgument(programPath_);
    const std::string shellProgram = ShellQuote(programPath_);
    const std::string percentShellProgram = ReplaceAll(shellProgram, "%", "%%");
    auto tail = [](const Item& i) { return i.type.empty() ? std::string() : " " + i.type; };

    // Dolphin service menus. Files in kio/servicemenus must be executable for Dolphin to use them, and
    // the files that name the same X-KDE-Submenu share one submenu.
    for (const auto& i : items) {
        TypeSet t = TypesOf(i.scope);
        std::string mimes;
        if (i.scope == Scope::FilesAndFolders)
            mimes = "application/octet-stream;inode/directory;";
        else if (i.scope == Scope::Files)
            mimes = "application/octet-stream;";
        else
            mimes = Join(t.mimes, "", ";");
        std::string text = std::string(kMarker) + "\n[Desktop Entry]\nType=Service\nName=Varnok\n" +
                           "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\nMimeType=" + mimes + "\nActions=" + i.id +
                           ";\n";
        if (s.Cascaded) text += std::string("X-KDE-Submenu=") + kSubmenu + "\n";
        if (s.ShowIcons) text += std::string("Icon=") + kIcon + "\n";
        text += "\n[Desktop Action " + i.id + "]\nName=" + KeyFileValue(i.caption) + "\n";
        if (s.ShowIcons) text += std::string("Icon=") + kIcon + "\n";
        text += "Exec=" + execProgram + " " + i.sw + " %F" + tail(i) + "\n";
        ok = WriteOwnFile(files[f++], text, 0755, &errors) && ok;
    }

    // Nautilus scripts.
    for (const auto& i : items) {
        std::string text = "#!/bin/sh\n" + std::string(kMarker) + "\n# Varnok: " + i.caption +
                           "\n"
                           "#\n"
                           "# Nautilus scripts have no MIME filter: this item is offered for every selection, and\n"
                           "# the program itself tells when a file is not something it can work on.\n"
                           "# Nautilus gives the selection's full paths one per line in\n"
                           "# NAUTILUS_SCRIPT_SELECTED_FILE_PATHS (local folders only) and the names as arguments;\n"
                           "# names taken from the arguments are made absolute.\n"
                           "if [ -n \"${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS:-}\" ]; then\n"
                           "    old_ifs=$IFS\n"
                           "    IFS='\n"
                           "'\n"
                           "    set -f\n"
                           "    set -- $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS\n"
                           "    set +f\n"
                           "    IFS=$old_ifs\n"
                           "else\n"
                           "    for f in \"$@\"; do\n"
                           "        shift\n"
                           "        case $f in\n"
                           "            /*) set -- \"$@\" \"$f\" ;;\n"
                           "            *) set -- \"$@\" \"$PWD/$f\" ;;\n"
                           "        esac\n"
                           "    done\n"
                           "fi\n"
                           "[ $# -gt 0 ] || exit 0\n"
                           "exec " +
                           shellProgram + " " + i.sw + " \"$@\"" + tail(i) + "\n";
        ok = WriteOwnFile(files[f++], text, 0755, &errors) && ok;
    }

    // Nemo actions. Nemo has no submenus of its own in action files (its layout editor keeps them in a
    // file of the user's), so Cascaded does not apply here.
    for (const auto& i : items) {
        std::string text = std::string(kMarker) + "\n[Nemo Action]\nActive=true\nName=" + KeyFileValue(i.caption) +
                           "\nComment=" + KeyFileValue("Varnok: " + i.caption) + "\nExec=" +
                           KeyFileValue(percentShellProgram) + " " + i.sw + " %F" + tail(i) + "\n";
        if (s.ShowIcons) text += std::string("Icon-Name=") + kIcon + "\n";
        text += "Selection=notnone\n";
        if (i.scope == Scope::FilesAndFolders) {
            text += "Extensions=any;\n";
        } else if (i.scope == Scope::Files) {
            text += "Extensions=nodirs;\n";
        } else {
            TypeSet t = TypesOf(i.scope);
            text += "Extensions=" + Join(t.exts, ".", ";") + "\nMimetypes=" + Join(t.mimes, "", ";") + "\n";
        }
        // Nemo puts each path in double quotes, escaping the quotes and backslashes inside.
        text += "Quote=double\n";
        ok = WriteOwnFile(files[f++], text, 0644, &errors) && ok;
    }

    // Thunar custom actions, merged into the user's file. Thunar's patterns are case-sensitive.
    std::string actions;
    for (const auto& i : items) {
        std::string patterns;
        if (i.scope == Scope::Files || i.scope == Scope::FilesAndFolders) {
            patterns = "*";
        } else {
            TypeSet t = TypesOf(i.scope);
            std::vector<std::string> p;
            for (const auto& e : t.exts) {
                AddUnique(p, "*." + e);
                AddUnique(p, "*." + Upper(e));
            }
            patterns = Join(p, "", ";");
            patterns.pop_back();
        }
        actions += "<action>\n\t<icon>" + std::string(s.ShowIcons ? kIcon : "") + "</icon>\n\t<name>" +
                   XmlEscape(i.caption) + "</name>\n\t<submenu>" + (s.Cascaded ? kSubmenu : "") +
                   "</submenu>\n\t<unique-id>" + kIdPrefix + i.id + "</unique-id>\n\t<command>" +
                   XmlEscape(percentShellProgram + " " + i.sw + " %F" + tail(i)) +
                   "</command>\n\t<description>" + XmlEscape("Varnok: " + i.caption) +
                   "</description>\n\t<range></range>\n\t<patterns>" + XmlEscape(patterns) + "</patterns>\n";
        if (i.scope == Scope::FilesAndFolders) actions += "\t<directories/>\n";
        actions += "\t<audio-files/>\n\t<image-files/>\n\t<other-files/>\n\t<text-files/>\n\t<video-files/>\n"
                   "</action>\n";
    }
    ok = UpdateUca(ThunarFile(), actions, &errors) && ok;

    // Our files of items now switched off, and those of the other Nautilus folder.
    ok = RemoveOwnFiles(DolphinDir(), IsDolphinName, files, &errors) && ok;
    ok = RemoveOwnFiles(NemoDir(), IsNemoName, files, &errors) && ok;
    ok = RemoveOwnFiles(NautilusDir(), AnyName, files, &errors) && ok;
    ok = RemoveOwnFiles(NautilusDir() + "/" + kSubmenu, AnyName, files, &errors) && ok;
    if (!s.Cascaded) ::rmdir((NautilusDir() + "/" + kSubmenu).c_str());  // only when empty

    if (error) *error = errors;
    return ok;
}

bool ShellActions::Remove(std::string* error) {
    std::string errors;
    bool ok = RemoveOwnFiles(DolphinDir(), IsDolphinName, {}, &errors);
    ok = RemoveOwnFiles(NemoDir(), IsNemoName, {}, &errors) && ok;
    ok = RemoveOwnFiles(NautilusDir(), AnyName, {}, &errors) && ok;
    ok = RemoveOwnFiles(NautilusDir() + "/" + kSubmenu, AnyName, {}, &errors) && ok;
    ::rmdir((NautilusDir() + "/" + kSubmenu).c_str());  // only when empty
    ok = UpdateUca(ThunarFile(), {}, &errors) && ok;
    if (error) *error = errors;
    return ok;
}

}  // namespace varnok::app
