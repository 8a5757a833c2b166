// The Preferences dialog without its widgets: one plain struct per page holding every control's value, filled
// from the settings, the main window's list and bar state, the shell-extension switches and the file
// associations, and OK's steps carried out in their fixed order.
//
// The order matters to the user: a step that fails (a proxy port that is not a number) stops OK with the
// dialog still open, and everything before it stays applied. What OK changes on the window itself (list look,
// toolbar and status bar, columns, the directory read again) goes through PreferencesWindow, so the steps run
// and are tested without a display. Closing (after OK and after Cancel alike) writes the temporary folder
// field and the start-up choice and touches nothing else: the ZIP level is what OK's compression step made it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/shell_actions.h"

namespace varnok::app {

enum class PreferencesPage { View, Folders, Miscellaneous, Compression, Extraction, Mail, Filetypes, ShellExtension,
                             AutoUpdate };
inline constexpr int kPreferencesPageCount = 9;
// The page captions, in their order.
extern const std::array<const char*, kPreferencesPageCount> kPreferencesPageNames;

// The list look OK gives the entry list.
struct ListLook {
    bool rowSelect = false;
    bool gridLines = false;
    bool singleClick = false;  // hot tracking on: a single click opens
    bool underlineHot = false;    // hand cursor and underline under the mouse (single click only)
    bool underlineAlways = false; // hand cursor and all names underlined (single click only)
};

// What OK asks of the main window, and the window state the dialog shows.
class PreferencesWindow {
  public:
    virtual ~PreferencesWindow() = default;
    virtual bool ToolbarShown() const = 0;
    virtual bool StatusbarShown() const = 0;
    // The width a column is shown with; 0 when it is hidden.
    virtual int ColumnWidth(int column) const = 0;

    virtual void ApplyListLook(const ListLook& look) = 0;
    // Shows or hides the bars (the menu ticks follow).
    virtual void ShowBars(bool toolbar, bool statusbar) = 0;
    // Width 0 hides the column.
    virtual void SetColumnWidth(int column, int width) = 0;
    // The open ZIP archive's directory read again (the list not painted meanwhile) and its totals shown.
    virtual void ReadDirectoryAgain() = 0;
};

// ---- The pages ----

struct ViewPrefs {
    bool rowSelect = false, gridLines = false;
    bool singleClick = false;  // false: "Double click to open"
    bool underlineHot = false, underlineAlways = false;
    bool toolbar = true, statusbar = true;
    std::array<bool, kColumnCount> columns{};  // by column index; the name column is always shown
    bool dirEntries = false;                   // "Directory(ies) in ZIP archive"
    bool operator==(const ViewPrefs&) const = default;
};

struct FolderPrefs {
    bool tempSystem = true;  // "System default"; false: "Other" with the field
    std::string temp;
    bool openLast = true;  // "Last open folder"; false: "Other" with the field
    std::string open;
    bool extractLast = true;
    std::string extract;
    std::string favourite;
    bool operator==(const FolderPrefs&) const = default;
};

struct MiscPrefs {
    bool viewerOther = false;  // false: the system's text editor
    std::string viewer;
    bool iniExtra = false;     // "in an extra location (local):"
    std::string iniFolder;     // its folder
    std::string appFolder;     // shown after "in Application directory:"
    bool operator==(const MiscPrefs&) const = default;
};

struct CompressionPrefs {
    int zip = 4, cab = 2, lha = 1, tar = 1;  // list positions (the [Compression] values)
    bool operator==(const CompressionPrefs&) const = default;
};

struct ExtractionPrefs {
    bool useFolderNames = true, overwrite = true, skipOlder = true;
    bool operator==(const ExtractionPrefs&) const = default;
};

struct MailPrefs {
    bool internal = true;
    std::string host, user, name, address;
    // The connection, as the mail settings keep it.
    int port = 25;
    std::string security = "starttls";
    std::string authUser, password;
    bool operator==(const MailPrefs&) const = default;
};

struct FileTypePrefs {
    // Filled when the page is first shown; until then OK leaves the associations alone.
    bool loaded = false;
    std::vector<bool> ticked;  // one per AssociationRows() row
    bool operator==(const FileTypePrefs&) const = default;
};

struct AutoUpdatePrefs {
    bool active = true;  // false: "Deactivate AutoUpdate"
    int period = 1;      // 0 daily, 1 weekly, 2 monthly
    std::string proxy;
    std::string port;
    bool operator==(const AutoUpdatePrefs&) const = default;
};

// How OK ended.
struct PreferencesResult {
    bool ok = true;
    int stoppedAt = 0;  // the step that stopped OK (0: none)
    std::string error;  // why, naming the field
    PreferencesPage page = PreferencesPage::View;  // where that field is
    // Steps that did not fully succeed but did not stop OK (a type that could not be associated, action files
    // that could not be written); shown after OK.
    std::vector<std::string> warnings;
};

// The proxy port of a field: -1 when the field holds no usable port (empty counts as "none given": 0).
int ProxyPortOfField(const std::string& field);
// What is said about a port field that holds no port.
std::string ProxyPortFieldError(const std::string& field);

class PreferencesModel {
  public:
    ViewPrefs view;
    FolderPrefs folders;
    MiscPrefs misc;
    CompressionPrefs compression;
    ExtractionPrefs extraction;
    MailPrefs mail;
    FileTypePrefs fileTypes;
    ShellSwitches shell;
    AutoUpdatePrefs autoUpdate;

    // Fills every page but the file types from the application and the window.
    void Load(Application& app, const PreferencesWindow& window);
    // Fills the file-type page (once): a row is ticked when every one of its extensions is ours.
    void LoadFileTypes(const Associations& a);

    // OK's steps 1-16 in their order. Stops at the first step that cannot go on, with the steps before it
    // applied; the dialog then stays open.
    PreferencesResult Apply(Application& app, PreferencesWindow& window);
    // Closing, after OK and after Cancel: writes Temp (the field's text) and StartUp.
    void Close(Application& app) const;

    // "&Check for Update NOW": the proxy host and port the checker gets from the fields (80 for an empty port
    // field, -1 for one that holds no port: the check is then refused, as OK refuses it).
    std::pair<std::string, int> CheckNowProxy() const;

  private:
    PreferencesResult Steps(Application& app, PreferencesWindow& window);
};

}  // namespace varnok::app
