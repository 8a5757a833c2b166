#include "app/preferences.h"

#include <algorithm>

#include "app/paths.h"
#include "platform/fileattr.h"

namespace varnok::app {

const std::array<const char*, kPreferencesPageCount> kPreferencesPageNames = {
    "View", "Folders", "Miscellaneous", "Compression", "Extraction", "Mail", "Filetypes", "Shell Extension",
    "AutoUpdate"};

namespace {

const char* const kSettingsSection = "Settings";
const char* const kDirs = "Directories";
const char* const kAssoc = "FileAssociation";

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

const char* Flag(bool b) {
    return b ? "1" : "0";
}

int Clamp(int v, int count, int def) {
    return v >= 0 && v < count ? v : def;
}

// A stop of OK at a step, naming the field.
PreferencesResult Stop(PreferencesResult r, int step, PreferencesPage page, std::string error) {
    r.ok = false;
    r.stoppedAt = step;
    r.page = page;
    r.error = std::move(error);
    return r;
}

// A folder typed into a field: an absolute path, "~" standing for the home folder; with a trailing "/".
// Empty when the text is no such path.
std::string FolderOfField(const std::string& text) {
    std::string t = Trim(text);
    if (t == "~" || t.rfind("~/", 0) == 0) t = HomeDir() + t.substr(1);
    if (t.empty() || t.front() != '/') return {};
    return WithSlash(AbsoluteFolder(t));
}

}  // namespace

int ProxyPortOfField(const std::string& field) {
    std::string t = Trim(field);
    if (t.empty()) return 0;
    if (t.size() > 5 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
    int v = std::stoi(t);
    return v >= 1 && v <= 65535 ? v : -1;
}

std::string ProxyPortFieldError(const std::string& field) {
    return "AutoUpdate Options: \"" + Trim(field) +
           "\" is not a valid port. Enter a number from 1 to 65535 in \"Port\", or leave it empty.";
}

void PreferencesModel::Load(Application& app, const PreferencesWindow& window) {
    const Settings& s = app.Config();

    view.rowSelect = s.RowSelect;
    view.gridLines = s.GridLines;
    view.singleClick = s.SingleClick;
    view.underlineHot = s.MousePoint;
    view.underlineAlways = s.AlwaysUnder;
    view.toolbar = window.ToolbarShown();
    view.statusbar = window.StatusbarShown();
    for (int c = 0; c < kColumnCount; ++c)
        view.columns[static_cast<size_t>(c)] = c == colName || window.ColumnWidth(c) != 0;
    view.dirEntries = s.ShowDirEntry;

    folders.tempSystem = s.SysTemp;
    folders.temp = s.Temp;
    folders.openLast = s.OpenLast;
    folders.open = s.Open;
    folders.extractLast = s.ExtractLast;
    folders.extract = s.Extract;
    folders.favourite = s.optFavFolder;

    misc.viewerOther = s.View == "3";
    misc.viewer = s.ViewProg;
    misc.appFolder = app.Store().BaseDir();
    misc.iniExtra = app.Store().Relocated();
    misc.iniFolder = misc.iniExtra ? ParentFolder(app.Store().Ini().Path()) : std::string();

    compression.zip = Clamp(s.zipCR, 5, 4);
    compression.cab = Clamp(s.cabCR, 4, 2);
    compression.lha = Clamp(s.lhaCR, 2, 1);
    compression.tar = Clamp(s.tarCR, 2, 1);

    extraction.useFolderNames = s.optZipDirs;
    extraction.overwrite = s.optOverwrite;
    extraction.skipOlder = s.optUpdate;

    mail.internal = s.InternalMail;
    mail.host = s.MailHost;
    mail.user = s.MailUserID;
    mail.name = s.MailName;
    mail.address = s.MailAddress;
    mail.port = s.MailPort;
    mail.security = s.MailSecurity;
    mail.authUser = s.MailAuthUser;
    mail.password = s.MailPassword;

    shell = ReadShellSwitches(app.Registry());

    autoUpdate.active = s.AutoUpd;
    autoUpdate.period = Clamp(s.CheckPeriod, 3, 1);
    autoUpdate.proxy = s.Proxy;
    autoUpdate.port = s.ProxyPort;
}

void PreferencesModel::LoadFileTypes(const Associations& a) {
    if (fileTypes.loaded) return;
    fileTypes.ticked.clear();
    for (const auto& row : AssociationRows())
        fileTypes.ticked.push_back(a.AllAssociated(row.extensions));
    fileTypes.loaded = true;
}

PreferencesResult PreferencesModel::Apply(Application& app, PreferencesWindow& window) {
    PreferencesResult r = Steps(app, window);
    // What the steps wrote reaches the file also when OK stopped.
    IniFile& ini = app.Store().Ini();
    if (!ini.Flush()) r.warnings.push_back("The settings could not be written to \"" + ini.Path() + "\".");
    return r;
}

PreferencesResult PreferencesModel::Steps(Application& app, PreferencesWindow& window) {
    PreferencesResult r;
    Settings& s = app.Config();
    SettingsStore& store = app.Store();
    ArchiveModel& model = app.Model();

    // 1. Where the settings file lives. The settings go with it, so that nothing the user set is left behind
    // in the file that is no longer read.
    {
        std::string folder;
        bool extra = misc.iniExtra;
        if (extra) {
            folder = FolderOfField(misc.iniFolder);
            if (folder.empty())
                return Stop(r, 1, PreferencesPage::Miscellaneous,
                            "Store varnok.ini (Settings): \"" + Trim(misc.iniFolder) +
                                "\" is not a folder. Enter the full path of the folder that is to hold "
                                "varnok.ini, or choose \"in Application directory\".");
            // The application folder itself is no extra location.
            if (folder == WithSlash(store.BaseDir())) extra = false;
        }
        const std::string current = ParentFolder(store.Ini().Path());
        const bool same = extra ? store.Relocated() && current == folder : !store.Relocated();
        if (!same) {
            const std::string path = extra ? folder + kIniName : store.BaseIniPath();
            const std::string carried = store.Ini().Text();
            const std::string before = store.Ini().Path();
            const bool switched =
                store.Switch(extra ? SettingsStore::Location::Extra : SettingsStore::Location::ProgramFolder, path);
            model.SetSettingsFile(&store.Ini());
            if (!switched)
                return Stop(r, 1, PreferencesPage::Miscellaneous,
                            "Store varnok.ini (Settings): the settings file cannot be written in \"" +
                                (extra ? folder : WithSlash(store.BaseDir())) + "\".");
            IniFile& now = store.Ini();
            if (now.Path() != before) {
                now.Parse(carried);
                now.DeleteKey(kSettingsSection, "LocalIni");
                now.DeleteKey(kSettingsSection, "IniPath");
                now.WriteBool(kSettingsSection, "LocalIni", extra);
                now.WriteString(kSettingsSection, "IniPath", path);
                if (!now.Flush())
                    r.warnings.push_back("The settings could not be written to \"" + now.Path() + "\".");
            }
            s.LocalIni = extra;
            s.IniPath = path;
        }
    }
    IniFile& ini = store.Ini();

    // 2. Compression defaults; the ZIP level they give is also kept as Packrate.
    s.zipCR = compression.zip;
    s.cabCR = compression.cab;
    s.lhaCR = compression.lha;
    s.tarCR = compression.tar;
    const CompressionDefaults defaults = s.Compression();
    app.SetCompression(defaults);
    if (compression.zip >= 0 && compression.zip <= 4) model.Bridge().AddCompLevel = defaults.zipAddCompLevel;
    s.SaveCompression(ini);
    s.Packrate = std::to_string(model.Bridge().AddCompLevel);
    ini.WriteString(kSettingsSection, "Packrate", s.Packrate);

    // 3. The viewer.
    if (misc.viewerOther && Trim(misc.viewer).empty())
        return Stop(r, 3, PreferencesPage::Miscellaneous,
                    "To view files use...: \"Other :\" needs the program that is to show the files.");
    s.View = misc.viewerOther ? "3" : "2";
    ini.WriteString(kSettingsSection, "View", s.View);
    s.ViewProg = Trim(misc.viewer);
    ini.WriteString(kSettingsSection, "ViewProg", s.ViewProg);

    // 4. and 5. The work folder and the extract folder.
    if (!folders.openLast) {
        std::string f = FolderOfField(folders.open);
        if (f.empty())
            return Stop(r, 4, PreferencesPage::Folders,
                        "Work folders: \"" + Trim(folders.open) + "\" is not a folder. Enter a full path.");
        s.Open = f;
        ini.WriteString(kDirs, "Open", s.Open);
    }
    s.OpenLast = folders.openLast;
    ini.WriteString(kSettingsSection, "OpenLast", Flag(s.OpenLast));
    if (!folders.extractLast) {
        std::string f = FolderOfField(folders.extract);
        if (f.empty())
            return Stop(r, 5, PreferencesPage::Folders,
                        "Extract to folder: \"" + Trim(folders.extract) + "\" is not a folder. Enter a full path.");
        s.Extract = f;
        ini.WriteString(kDirs, "Extract", s.Extract);
    }
    s.ExtractLast = folders.extractLast;
    ini.WriteString(kSettingsSection, "ExtractLast", Flag(s.ExtractLast));

    // 6. The temporary folder: the system's, or the field's. The field is kept either way.
    {
        std::string f = FolderOfField(folders.temp);
        if (!folders.tempSystem && f.empty())
            return Stop(r, 6, PreferencesPage::Folders,
                        "Temp folder: \"" + Trim(folders.temp) + "\" is not a folder. Enter a full path.");
        s.SysTemp = folders.tempSystem;
        if (!f.empty()) s.Temp = f;
        std::string temp = s.TempFolder();
        if (!platform::DirectoryExists(temp)) {
            r.warnings.push_back("Temp folder: \"" + temp +
                                 "\" does not exist; the system's temporary folder is used until it does.");
            temp = DefaultTempFolder();
        }
        model.Bridge().TempDir = temp;
    }

    // 7. Extracting defaults and the favourite folder.
    s.optZipDirs = extraction.useFolderNames;
    s.optOverwrite = extraction.overwrite;
    s.optUpdate = extraction.skipOlder;
    s.optFavFolder = Trim(folders.favourite);
    ini.WriteString(kDirs, "optFavFolder", s.optFavFolder);

    // 8. The list look.
    s.RowSelect = view.rowSelect;
    s.GridLines = view.gridLines;
    s.SingleClick = view.singleClick;
    s.MousePoint = view.underlineHot;
    s.AlwaysUnder = view.underlineAlways;
    window.ApplyListLook({view.rowSelect, view.gridLines, view.singleClick, view.underlineHot,
                          view.underlineAlways});

    // 9. Mail.
    s.InternalMail = mail.internal;
    s.MailHost = Trim(mail.host);
    s.MailUserID = Trim(mail.user);
    s.MailName = Trim(mail.name);
    s.MailAddress = Trim(mail.address);
    if (mail.port >= 1 && mail.port <= 65535) s.MailPort = mail.port;
    s.MailSecurity = mail.security;
    s.MailAuthUser = Trim(mail.authUser);
    s.MailPassword = mail.password;
    s.SaveMail(ini);

    // 10. File types (only when their page was shown). The [FileAssociation] keys follow, so that the silent
    // association at start keeps the user's choice.
    if (fileTypes.loaded) {
        Associations& a = app.FileAssociations();
        const auto& rows = AssociationRows();
        const bool anyTicked = std::find(fileTypes.ticked.begin(), fileTypes.ticked.end(), true) !=
                               fileTypes.ticked.end();
        if (anyTicked && !a.EnsureClassKey())
            r.warnings.push_back("Filetypes: the desktop entry \"" + a.DesktopFilePath() + "\" cannot be written.");
        for (size_t i = 0; i < rows.size() && i < fileTypes.ticked.size(); ++i) {
            const bool tick = fileTypes.ticked[i];
            for (const auto& ext : rows[i].extensions) {
                ini.WriteString(kAssoc, ext, Flag(tick));
                if (tick) {
                    if (!a.Associate(ext)) {
                        r.warnings.push_back("Filetypes: " + ext + " could not be associated with Varnok (\"" +
                                             a.MimeAppsPath() + "\" cannot be written).");
                        break;
                    }
                } else if (a.IsAssociated(ext) && !a.Unassociate(ext)) {
                    r.warnings.push_back("Filetypes: the association of " + ext + " could not be removed (\"" +
                                         a.MimeAppsPath() + "\" cannot be written).");
                }
            }
        }
        a.NotifyChanged();
    }

    // 11. and 12. The bars and the columns. A column shown again gets its default width; one already shown
    // keeps the width the user gave it.
    window.ShowBars(view.toolbar, view.statusbar);
    s.tbVisible = view.toolbar ? 1 : 0;
    s.sbVisible = view.statusbar ? 1 : 0;
    for (int c = 0; c < kColumnCount; ++c) {
        if (c == colName) continue;
        const int current = window.ColumnWidth(c);
        const int width = !view.columns[static_cast<size_t>(c)] ? 0
                          : current > 0                         ? current
                                                                : kDefaultColumnWidths[static_cast<size_t>(c)];
        if (width != current) window.SetColumnWidth(c, width);
        s.Columns[static_cast<size_t>(c)].width = width;
    }

    // 13. Directory entries of ZIP archives.
    if (view.dirEntries != s.ShowDirEntry) {
        s.ShowDirEntry = view.dirEntries;
        model.Bridge().UseDirOnlyEntries = view.dirEntries;
        if (model.IsOpen() && model.Engine() == EngineKind::ZipBridge && model.NewWriter() == NewWriterKind::None)
            window.ReadDirectoryAgain();
    }

    // 14. and 15. The file managers' actions, made from the switches, and the switches themselves.
    {
        const ApplicationFolders& f = app.Folders();
        ShellActions actions(f.dataHome, f.configHome, f.program);
        std::string why;
        if (shell.ShellExtension ? !actions.Install(shell, &why) : !actions.Remove(&why))
            r.warnings.push_back("Shell Extension: " + why);
        WriteShellSwitches(app.Registry(), shell);
        if (!app.Registry().Flush())
            r.warnings.push_back("Shell Extension: the switches could not be written to \"" +
                                 app.Registry().Ini().Path() + "\".");
    }

    // 16. The update check. A port that is not a number stops here, with everything before applied.
    if (ProxyPortOfField(autoUpdate.port) < 0)
        return Stop(r, 16, PreferencesPage::AutoUpdate, ProxyPortFieldError(autoUpdate.port));
    s.AutoUpd = autoUpdate.active;
    s.CheckPeriod = autoUpdate.period;
    s.Proxy = Trim(autoUpdate.proxy);
    s.ProxyPort = Trim(autoUpdate.port);
    s.SaveAutoUpd(ini);
    return r;
}

void PreferencesModel::Close(Application& app) const {
    IniFile& ini = app.Store().Ini();
    ini.WriteString(kDirs, "Temp", folders.temp);
    app.Config().StartUp = folders.openLast ? "0" : "1";
    ini.WriteString(kSettingsSection, "StartUp", app.Config().StartUp);
    ini.Flush();
}

std::pair<std::string, int> PreferencesModel::CheckNowProxy() const {
    const int port = ProxyPortOfField(autoUpdate.port);
    return {Trim(autoUpdate.proxy), port == 0 ? 80 : port};
}

}  // namespace varnok::app
