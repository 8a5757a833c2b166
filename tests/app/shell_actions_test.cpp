// The file-manager actions generated from the shell-extension switches, installed into a scratch XDG tree.
// Each format's command line is taken apart the way its file manager does it (desktop-entry unquoting for
// Dolphin, Nemo's code replacement and shell-like split, Thunar's expansion and /bin/sh) or run for real
// (Nautilus scripts), against a program path full of characters that need quoting.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "app/ini_file.h"
#include "app/shell_actions.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteFile;
using Argv = std::vector<std::string>;

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

// The value of "key=" in a key file's group, or "<missing>".
std::string KeyOf(const std::string& text, const std::string& group, const std::string& key) {
    size_t g = text.find("[" + group + "]");
    if (g == std::string::npos) return "<missing>";
    size_t next = text.find("\n[", g + 1);
    size_t k = text.find("\n" + key + "=", g);
    if (k == std::string::npos || k > next) return "<missing>";
    k += key.size() + 2;
    return text.substr(k, text.find('\n', k) - k);
}

std::string KeyFileUnescape(const std::string& v) {
    std::string o;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            o += v[i];
            continue;
        }
        char c = v[++i];
        o += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return o;
}

// A desktop-entry Exec line as a launcher splits it, with %F replaced by the files and %% by %.
Argv DesktopExecArgv(const std::string& raw, const Argv& files) {
    std::string exec = KeyFileUnescape(raw);
    Argv out;
    std::string cur;
    bool have = false;
    auto flush = [&] {
        if (!have) return;
        if (cur == "%F")
            out.insert(out.end(), files.begin(), files.end());
        else
            out.push_back(Replace(cur, "%%", "%"));
        cur.clear();
        have = false;
    };
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == ' ') {
            flush();
        } else if (exec[i] == '"') {
            have = true;
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size() && std::string("\"`$\\").find(exec[i + 1]) != std::string::npos)
                    ++i;
                cur += exec[i];
            }
            EXPECT_LT(i, exec.size()) << "unclosed quote in " << exec;
        } else {
            EXPECT_EQ(std::string("\"`$\\").find(exec[i]), std::string::npos) << "unquoted reserved character in " << exec;
            have = true;
            cur += exec[i];
        }
    }
    flush();
    return out;
}

// A command line split the way GLib's g_shell_parse_argv does it: quotes and backslashes, no expansion.
Argv GlibShellSplit(const std::string& s) {
    Argv out;
    std::string cur;
    bool have = false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (have) out.push_back(cur);
            cur.clear();
            have = false;
        } else if (c == '\'') {
            size_t e = s.find('\'', i + 1);
            EXPECT_NE(e, std::string::npos) << s;
            cur += s.substr(i + 1, e - i - 1);
            i = e;
            have = true;
        } else if (c == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i) {
                if (s[i] == '\\' && i + 1 < s.size() && std::string("\"\\`$\n").find(s[i + 1]) != std::string::npos)
                    ++i;
                cur += s[i];
            }
            have = true;
        } else if (c == '\\' && i + 1 < s.size()) {
            cur += s[++i];
            have = true;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) out.push_back(cur);
    return out;
}

// Nemo: the Exec value with its codes replaced (Quote=double) and then split. Nemo stops replacing at the
// first "%" it does not know, which would leave %F unexpanded.
Argv NemoArgv(const std::string& raw, const Argv& files) {
    std::string exec = KeyFileUnescape(raw), line;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '%') {
            line += exec[i];
        } else if (exec.compare(i, 2, "%%") == 0) {
            line += '%', ++i;
        } else if (exec.compare(i, 2, "%F") == 0) {
            for (size_t f = 0; f < files.size(); ++f)
                line += (f ? " \"" : "\"") + Replace(Replace(files[f], "\\", "\\\\"), "\"", "\\\"") + "\"";
            ++i;
        } else {
            ADD_FAILURE() << "an unknown code stops Nemo's expansion: " << exec;
            return {};
        }
    }
    return GlibShellSplit(line);
}

std::string ShellWord(const std::string& s) {
    return "'" + Replace(s, "'", "'\\''") + "'";
}

std::string XmlText(const std::string& s) {
    return Replace(Replace(Replace(Replace(Replace(s, "&lt;", "<"), "&gt;", ">"), "&quot;", "\""), "&apos;", "'"),
                   "&amp;", "&");
}

// The <action> element whose unique-id is id, or empty.
std::string UcaAction(const std::string& xml, const std::string& id) {
    size_t u = xml.find("<unique-id>" + id + "</unique-id>");
    if (u == std::string::npos) return {};
    size_t b = xml.rfind("<action>", u), e = xml.find("</action>", u);
    return xml.substr(b, e - b);
}

// The text of <tag> in that action, or "<missing>".
std::string UcaField(const std::string& xml, const std::string& id, const std::string& tag) {
    std::string a = UcaAction(xml, id);
    size_t t = a.find("<" + tag + ">");
    if (t == std::string::npos) return "<missing>";
    t += tag.size() + 2;
    return XmlText(a.substr(t, a.find("</" + tag + ">", t) - t));
}

int ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// A scratch XDG tree and a stand-in program, in a folder whose name needs quoting in every format, that
// records its arguments (NUL-separated) in "<program>.argv".
struct Tree {
    TempDir d;
    std::string data = (d / "data").string();
    std::string config = (d / "config").string();
    std::string program = (d / "bin 'q\" $HOME `x` \\y &z %F%%;").string() + "/var nok";
    ShellActions actions{data, config, program};
    // Selected files with blanks, quotes, "$" and a leading "-".
    Argv files = {(d / "my \"odd\" 'arch' $x.zip").string(), (d / "-second & third.ZIP").string()};

    Tree() {
        WriteFile(program,
                  "#!/bin/sh\n: > \"$0.argv\"\nfor a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$0.argv\"; done\n");
        ::chmod(program.c_str(), 0755);
    }
    Argv Recorded() const {
        Argv out;
        std::string t = ReadText(program + ".argv"), cur;
        for (char c : t) {
            if (c) cur += c;
            else out.push_back(cur), cur.clear();
        }
        return out;
    }
    std::string Dolphin(const std::string& id) const { return data + "/kio/servicemenus/varnok-" + id + ".desktop"; }
    std::string Nemo(const std::string& id) const { return data + "/nemo/actions/varnok-" + id + ".nemo_action"; }
    std::string Script(const std::string& caption) const { return data + "/nautilus/scripts/Varnok/" + caption; }
    std::string Uca() const { return config + "/Thunar/uca.xml"; }
};

ShellSwitches AllOn() {
    ShellSwitches s;
    s.AddBh = s.AddCab = s.AddLha = s.AddJar = s.AddTar = s.Test = true;
    return s;
}

// ---- the switches in the registry ----

TEST(ShellSwitchesRegistry, EveryValueSurvivesTheRoundTrip) {
    TempDir d;
    ShellSwitches s;
    // Every value the opposite of its default.
    s.ShellExtension = s.DropHandler = s.Cascaded = s.ShowIcons = s.AddZip = false;
    s.AddBh = s.AddCab = s.AddLha = s.AddJar = s.AddTar = s.Test = true;
    s.ExtractHere = s.ExtractTo = s.ExtractToFolder = s.CreateExe = s.Email = s.AddTo = s.Add = false;
    {
        RegistryStore r(d.Path().string());
        WriteShellSwitches(r, s);
    }
    RegistryStore again(d.Path().string());
    ASSERT_TRUE(again.ShellSwitchesReadable());
    ShellSwitches back = ReadShellSwitches(again);
    EXPECT_EQ(std::memcmp(&back, &s, sizeof s), 0);
    EXPECT_EQ(again.Ini().ReadString("Software\\Varnok\\ShellExtension", "AddTar", ""), "1");
}

TEST(ShellSwitchesRegistry, AnUnreadableOrMissingValueGivesTheDefaults) {
    TempDir d;
    const ShellSwitches defaults;
    {
        RegistryStore r(d.Path().string());
        ShellSwitches s = AllOn();
        s.Cascaded = false;
        WriteShellSwitches(r, s);
    }
    IniFile ini((d / "registry.ini").string());
    ini.WriteString("Software\\Varnok\\ShellExtension", "Email", "yes");
    ASSERT_TRUE(ini.Flush());
    ShellSwitches got = ReadShellSwitches(RegistryStore(d.Path().string()));
    EXPECT_EQ(std::memcmp(&got, &defaults, sizeof got), 0);
    EXPECT_TRUE(got.Cascaded);
    EXPECT_FALSE(got.AddBh);
    EXPECT_FALSE(got.Test);

    TempDir empty;
    ShellSwitches fresh = ReadShellSwitches(RegistryStore(empty.Path().string()));
    EXPECT_EQ(std::memcmp(&fresh, &defaults, sizeof fresh), 0);
}

// ---- the generated files ----

TEST(ShellActionFiles, EveryFileInstallWritesIsListedAndExists) {
    Tree t;
    std::string err;
    ASSERT_TRUE(t.actions.Install(AllOn(), &err)) << err;
    auto files = t.actions.Files(AllOn());
    // 13 items in three per-item formats, and Thunar's file.
    ASSERT_EQ(files.size(), 13u * 3 + 1);
    for (const auto& f : files)
        EXPECT_TRUE(Exists(f)) << f;
    EXPECT_TRUE(Exists(t.Script("Extract to current folder")));
    EXPECT_TRUE(Exists(t.Script("Test archive(s)")));
    EXPECT_TRUE(Exists(t.Dolphin("add-to-tar")));
    EXPECT_TRUE(t.actions.Files(ShellSwitches{.ShellExtension = false}).empty());
}

TEST(ShellActionFiles, SwitchingAnItemOffRemovesItsFiles) {
    Tree t;
    ASSERT_TRUE(t.actions.Install(AllOn()));
    ShellSwitches s = AllOn();
    s.ExtractTo = false;
    s.AddCab = false;
    std::string err;
    ASSERT_TRUE(t.actions.Install(s, &err)) << err;
    for (const auto& gone : {t.Dolphin("extract-to"), t.Nemo("extract-to"), t.Script("Extract to custom folder"),
                             t.Dolphin("add-to-cab"), t.Nemo("add-to-cab"), t.Script("Add to Cabinet archive")})
        EXPECT_FALSE(Exists(gone)) << gone;
    std::string xml = ReadText(t.Uca());
    EXPECT_EQ(UcaAction(xml, "varnok-extract-to"), "");
    EXPECT_EQ(UcaAction(xml, "varnok-add-to-cab"), "");
    EXPECT_NE(UcaAction(xml, "varnok-extract-to-folder"), "");
    EXPECT_TRUE(Exists(t.Dolphin("extract-here")));

    // Un-cascading moves the Nautilus scripts out of the submenu folder and leaves no stale copy there.
    s.Cascaded = false;
    ASSERT_TRUE(t.actions.Install(s, &err)) << err;
    EXPECT_TRUE(Exists(t.data + "/nautilus/scripts/Extract to current folder"));
    EXPECT_FALSE(Exists(t.data + "/nautilus/scripts/Varnok"));
    EXPECT_EQ(KeyOf(ReadText(t.Dolphin("email")), "Desktop Entry", "X-KDE-Submenu"), "<missing>");

    // "Activate Shell Extensions" off takes every item away.
    s.ShellExtension = false;
    ASSERT_TRUE(t.actions.Install(s, &err)) << err;
    EXPECT_FALSE(Exists(t.Dolphin("extract-here")));
    EXPECT_FALSE(Exists(t.data + "/nautilus/scripts/Extract to current folder"));
    EXPECT_FALSE(Exists(t.Nemo("email")));
    EXPECT_FALSE(Exists(t.Uca()));
}

TEST(ShellActionFiles, DolphinServiceMenusAreValidExecutableAndCarryTheirKeys) {
    Tree t;
    ASSERT_TRUE(t.actions.Install(AllOn()));
    for (const std::string id : {"extract-here", "create-exe", "add-to-zip", "email"}) {
        std::string path = t.Dolphin(id), text = ReadText(path);
        EXPECT_EQ(ModeOf(path), 0755) << path;
        EXPECT_EQ(KeyOf(text, "Desktop Entry", "Type"), "Service");
        EXPECT_EQ(KeyOf(text, "Desktop Entry", "X-KDE-ServiceTypes"), "KonqPopupMenu/Plugin");
        EXPECT_EQ(KeyOf(text, "Desktop Entry", "Actions"), id + ";");
        EXPECT_EQ(KeyOf(text, "Desktop Entry", "X-KDE-Submenu"), "Varnok");
        EXPECT_EQ(KeyOf(text, "Desktop Action " + id, "Icon"), "varnok");
        if (!test::HaveTool("desktop-file-validate")) continue;
        std::string out;
        test::Run("desktop-file-validate " + test::Quote(path) + " 2>&1", &out);
        // A service menu is a "Service" entry by KDE's definition; the validator knows only applications
        // carrying MimeType and Actions. Any other complaint is ours.
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (line.find("but the type is \"Service\"") == std::string::npos) ADD_FAILURE() << line;
    }
    std::string archives = KeyOf(ReadText(t.Dolphin("test")), "Desktop Entry", "MimeType");
    EXPECT_NE(archives.find("application/zip;"), std::string::npos);
    EXPECT_NE(archives.find("application/x-lha;"), std::string::npos);
    EXPECT_EQ(KeyOf(ReadText(t.Dolphin("create-exe")), "Desktop Entry", "MimeType"), "application/zip;");
    EXPECT_EQ(KeyOf(ReadText(t.Dolphin("add")), "Desktop Entry", "MimeType"), "application/octet-stream;inode/directory;");

    ShellSwitches plain = AllOn();
    plain.ShowIcons = false;
    ASSERT_TRUE(t.actions.Install(plain));
    EXPECT_EQ(KeyOf(ReadText(t.Dolphin("test")), "Desktop Action test", "Icon"), "<missing>");
}

TEST(ShellActionFiles, CommandLinesGiveTheProgramItsSwitchAndTheFilesUnchanged) {
    Tree t;
    ASSERT_TRUE(t.actions.Install(AllOn()));
    const std::vector<std::pair<std::string, Argv>> expected = {
        {"extract-here", {"/vnseh"}},  {"extract-to", {"/vnset"}}, {"extract-to-folder", {"/vnsef"}},
        {"create-exe", {"/vnsce"}},    {"email", {"/vnsma"}},      {"test", {"/vnsta"}},
        {"add", {"/vnsac"}},           {"add-to-zip", {"/vnsaz"}}, {"add-to-bh", {"/vnsaz"}},
        {"add-to-tar", {"/vnsaz"}}};
    std::string xml = ReadText(t.Uca());
    for (const auto& [id, sw] : expected) {
        Argv want = {t.program, sw[0]};
        want.insert(want.end(), t.files.begin(), t.files.end());
        if (id.rfind("add-to-", 0) == 0) want.push_back(id.substr(7));

        EXPECT_EQ(DesktopExecArgv(KeyOf(ReadText(t.Dolphin(id)), "Desktop Action " + id, "Exec"), t.files), want)
            << "Dolphin " << id;
        EXPECT_EQ(NemoArgv(KeyOf(ReadText(t.Nemo(id)), "Nemo Action", "Exec"), t.files), want) << "Nemo " << id;

        // Thunar expands %F to shell-quoted paths and %% to %, then runs the line with /bin/sh.
        std::string cmd = UcaField(xml, "varnok-" + id, "command"), line;
        for (size_t i = 0; i < cmd.size(); ++i) {
            if (cmd.compare(i, 2, "%F") == 0) {
                for (size_t f = 0; f < t.files.size(); ++f)
                    line += (f ? " " : "") + ShellWord(t.files[f]);
                ++i;
            } else if (cmd.compare(i, 2, "%%") == 0) {
                line += '%', ++i;
            } else {
                line += cmd[i];
            }
        }
        ASSERT_EQ(test::Run("/bin/sh -c " + ShellWord(line)), 0) << line;
        Argv got = t.Recorded();
        got.insert(got.begin(), t.program);
        EXPECT_EQ(got, want) << "Thunar " << id;
    }
}

TEST(ShellActionFiles, NautilusScriptsPassTheSelectionUnchanged) {
    Tree t;
    ASSERT_TRUE(t.actions.Install(AllOn()));
    std::string script = t.Script("Add to Jar archive");
    EXPECT_EQ(ModeOf(script), 0755);
    EXPECT_NE(ReadText(script).find("no MIME filter"), std::string::npos);

    // The full paths from the environment, one per line.
    std::string list = t.files[0] + "\n" + t.files[1] + "\n";
    ASSERT_EQ(test::Run("cd / && NAUTILUS_SCRIPT_SELECTED_FILE_PATHS=" + ShellWord(list) + " " + ShellWord(script) +
                        " ignored-argument"),
              0);
    EXPECT_EQ(t.Recorded(), (Argv{"/vnsaz", t.files[0], t.files[1], "jar"}));

    // Without it, the argument names, taken relative to the current folder.
    std::string dir = t.d.Path().string();
    ASSERT_EQ(test::Run("cd " + ShellWord(dir) + " && unset NAUTILUS_SCRIPT_SELECTED_FILE_PATHS; " +
                        ShellWord(t.Script("Extract to subfolder")) + " 'a b*.zip' " + ShellWord(t.files[1])),
              0);
    EXPECT_EQ(t.Recorded(), (Argv{"/vnsef", dir + "/a b*.zip", t.files[1]}));
}

TEST(ShellActionFiles, NemoActionsFilterBySelection) {
    Tree t;
    ASSERT_TRUE(t.actions.Install(AllOn()));
    std::string test = ReadText(t.Nemo("test")), exe = ReadText(t.Nemo("create-exe")), add = ReadText(t.Nemo("add"));
    EXPECT_EQ(KeyOf(test, "Nemo Action", "Name"), "Test archive(s)");
    EXPECT_EQ(KeyOf(test, "Nemo Action", "Selection"), "notnone");
    EXPECT_EQ(KeyOf(test, "Nemo Action", "Icon-Name"), "varnok");
    EXPECT_NE(KeyOf(test, "Nemo Action", "Extensions").find(".lzh;"), std::string::npos);
    EXPECT_NE(KeyOf(test, "Nemo Action", "Mimetypes").find("application/x-arj;"), std::string::npos);
    EXPECT_EQ(KeyOf(exe, "Nemo Action", "Extensions"), ".zip;");
    EXPECT_EQ(KeyOf(add, "Nemo Action", "Extensions"), "any;");
    EXPECT_EQ(KeyOf(ReadText(t.Nemo("email")), "Nemo Action", "Extensions"), "nodirs;");
}

TEST(ShellActionFiles, OtherPeoplesFilesAreNeitherReplacedNorRemoved) {
    Tree t;
    std::string mine = t.data + "/nautilus/scripts/Varnok/Send as Email";
    std::string ownScript = t.data + "/nautilus/scripts/My script";
    std::string ownMenu = t.data + "/kio/servicemenus/varnok-extract-here.desktop";
    std::string ownAction = t.data + "/nemo/actions/other.nemo_action";
    for (const auto& f : {mine, ownScript, ownMenu, ownAction})
        WriteFile(f, "#!/bin/sh\necho the user's own\n");
    std::string err;
    EXPECT_FALSE(t.actions.Install(AllOn(), &err));
    EXPECT_NE(err.find(mine), std::string::npos) << err;
    EXPECT_NE(err.find(ownMenu), std::string::npos) << err;
    // Everything else was still installed.
    EXPECT_TRUE(Exists(t.Script("Extract to current folder")));
    EXPECT_TRUE(Exists(t.Nemo("extract-here")));

    EXPECT_TRUE(t.actions.Remove(&err)) << err;
    for (const auto& f : {mine, ownScript, ownMenu, ownAction})
        EXPECT_EQ(ReadText(f), "#!/bin/sh\necho the user's own\n") << f;
    EXPECT_FALSE(Exists(t.Script("Extract to current folder")));
    EXPECT_FALSE(Exists(t.Nemo("extract-here")));
    EXPECT_FALSE(Exists(t.Dolphin("email")));
}

TEST(ShellActionFiles, AProgramPathWithALineBreakIsRefused) {
    TempDir d;
    ShellActions a((d / "data").string(), (d / "config").string(), "/opt/var\nnok");
    std::string err;
    EXPECT_FALSE(a.Install(ShellSwitches{}, &err));
    EXPECT_NE(err.find("/opt/var?nok"), std::string::npos) << err;
    EXPECT_FALSE(Exists((d / "data").string()));
}

// ---- Thunar's shared uca.xml ----

const char* const kUserUca =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<actions>\n"
    "<action>\n"
    "\t<icon>utilities-terminal</icon>\n"
    "\t<name>Open Terminal Here</name>\n"
    "\t<unique-id>1660000000000000-1</unique-id>\n"
    "\t<command>exo-open --working-directory %f --launch TerminalEmulator</command>\n"
    "\t<description>Example for a custom action &amp; &lt;more&gt;</description>\n"
    "\t<patterns>*</patterns>\n"
    "\t<startup-notify/>\n"
    "\t<directories/>\n"
    "</action>\n"
    "<!-- a note with </actions> and <action> in it -->\n"
    "  <action><name>Compact</name><unique-id>varnok</unique-id><command>x %F</command></action>\n"
    "  </actions>\n";

TEST(ThunarActions, MergingKeepsTheUsersActionsAndRemoveRestoresTheFileExactly) {
    Tree t;
    WriteFile(t.Uca(), kUserUca);
    ::chmod(t.Uca().c_str(), 0600);
    std::string err;
    ASSERT_TRUE(t.actions.Install(AllOn(), &err)) << err;
    std::string merged = ReadText(t.Uca());
    // The user's text stands as it was up to the closing line, then ours.
    std::string userHead = kUserUca;
    userHead.resize(userHead.rfind("  </actions>"));
    EXPECT_EQ(merged.compare(0, userHead.size(), userHead), 0) << merged;
    EXPECT_EQ(UcaField(merged, "varnok-extract-here", "name"), "Extract to current folder");
    EXPECT_EQ(UcaField(merged, "varnok-extract-here", "submenu"), "Varnok");
    EXPECT_EQ(UcaField(merged, "varnok-create-exe", "patterns"), "*.zip;*.ZIP");
    // Adding is offered on folders too, mailing and extracting are not.
    EXPECT_NE(UcaAction(merged, "varnok-add").find("<directories/>"), std::string::npos);
    EXPECT_EQ(UcaAction(merged, "varnok-email").find("<directories/>"), std::string::npos);
    EXPECT_EQ(UcaAction(merged, "varnok-test").find("<directories/>"), std::string::npos);
    EXPECT_EQ(ModeOf(t.Uca()), 0600);

    // Installing again replaces ours instead of adding a second set.
    ASSERT_TRUE(t.actions.Install(AllOn(), &err)) << err;
    EXPECT_EQ(ReadText(t.Uca()), merged);
    ShellSwitches s = AllOn();
    s.Test = false;
    ASSERT_TRUE(t.actions.Install(s, &err)) << err;
    EXPECT_EQ(UcaAction(ReadText(t.Uca()), "varnok-test"), "");
    EXPECT_NE(UcaAction(ReadText(t.Uca()), "varnok-email"), "");

    ASSERT_TRUE(t.actions.Remove(&err)) << err;
    EXPECT_EQ(ReadText(t.Uca()), kUserUca);
}

TEST(ThunarActions, AFileWeCreatedIsDeletedWithOurLastAction) {
    Tree t;
    ASSERT_TRUE(t.actions.Install(ShellSwitches{}));
    EXPECT_NE(ReadText(t.Uca()).find("<actions>"), std::string::npos);
    ASSERT_TRUE(t.actions.Remove());
    EXPECT_FALSE(Exists(t.Uca()));
}

TEST(ThunarActions, ALinkedFileIsWrittenThroughTheLink) {
    Tree t;
    std::string real = (t.d / "dotfiles/uca.xml").string();
    WriteFile(real, kUserUca);
    std::filesystem::create_directories(t.config + "/Thunar");
    std::filesystem::create_symlink(real, t.Uca());
    ASSERT_TRUE(t.actions.Install(ShellSwitches{}));
    EXPECT_TRUE(std::filesystem::is_symlink(t.Uca()));
    EXPECT_NE(UcaAction(ReadText(real), "varnok-email"), "");
    ASSERT_TRUE(t.actions.Remove());
    EXPECT_EQ(ReadText(real), kUserUca);
}

TEST(ThunarActions, AFileThatCannotBeMergedSafelyIsLeftAlone) {
    const char* const broken[] = {
        "<actions>\n<action><name>a</name></action>\n",                      // never closed
        "<actions>\n<action><name>a</action></name>\n</actions>\n",          // crossed tags
        "<?xml version=\"1.0\"?>\n<menu>\n</menu>\n",                        // another root
        "<actions>\n<action><name>Tom & Jerry</name></action>\n</actions>\n",  // bare ampersand
        "<actions>\n</actions>\n<actions>\n</actions>\n",                    // two roots
        "<actions/>\n",
        "",
    };
    for (const char* text : broken) {
        Tree t;
        WriteFile(t.Uca(), text);
        std::string err;
        EXPECT_FALSE(t.actions.Install(ShellSwitches{}, &err)) << text;
        EXPECT_NE(err.find(t.Uca()), std::string::npos) << err;
        EXPECT_EQ(ReadText(t.Uca()), text);
        // The other file managers still got their items, and Remove says it could not clean Thunar's file.
        EXPECT_TRUE(Exists(t.Dolphin("extract-here")));
        EXPECT_FALSE(t.actions.Remove(&err));
        EXPECT_EQ(ReadText(t.Uca()), text);
    }
}

}  // namespace
}  // namespace varnok::app
