// The commands of the main window's menus, toolbar and pop-up menu: captions, shortcuts, the group that
// decides when each is enabled, and whether its work is present in this program.
#pragma once

#include <string>
#include <vector>

namespace varnok::app {

enum class Cmd {
    // File
    OpenArchive,
    NewArchive,
    CloseArchive,
    CopyArchive,
    MoveArchive,
    RenameArchive,
    DeleteArchive,
    Properties,
    CreateShortcut,
    Exit,
    // Actions
    Extract,
    ExtractToNamedFolder,
    ExtractHere,
    ExtractToFavourite,
    Add,
    Delete,
    DeleteSelected,
    DeleteAll,
    OpenEntry,
    ViewEntry,
    OpenWithBoth,
    Install,
    RenameEntry,
    Comment,
    MakeExe,
    ExeToZip,
    WriteSpan,
    Test,
    Checkout,
    SendMail,
    UUEncode,
    FindFiles,
    SelectAll,
    UnselectAll,
    InvertSelection,
    // Options
    Preferences,
    ViewToolbar,
    ViewStatusbar,
    ViewLog,
    SortByName,
    SortByType,
    SortBySize,
    SortByPacked,
    SortByRatio,
    SortByDate,
    SortByPath,
    // Extras
    ConvertArchive,
    RepairZips,
    MultiExtract,
    // Help
    HelpTopics,
    About,
    // Log pane
    ClearLog,
    SaveLog,
    Count
};

// When a command is enabled.
enum class CmdGroup {
    Always,
    ArchiveFile,  // an archive is open
    OpenArchive,  // an archive is open (commands on its entries)
    ZipOnly,      // a ZIP archive served by the ZIP bridge
    MakeExe,      // ZIP-only, and the archive is not a program
    ExeToZip,     // ZIP-only, and the archive is a program
    Writing,      // the archive can be written (ZIP, compressible types, new archives)
    Install,      // a ZIP archive with an install entry
    Selection,    // open archive with at least one selected row
};

struct CommandInfo {
    Cmd id;
    const char* caption;   // menu caption with its accelerator
    const char* shortcut;  // key sequence text ("Ctrl+O"), or empty
    CmdGroup group;
    bool present;          // false: the command's work is not part of this program yet (shown disabled)
    const char* toolText;  // caption under a toolbar button (empty: not on the toolbar)
};

const CommandInfo& Info(Cmd c);
const std::vector<CommandInfo>& AllCommands();

// The facts enabling depends on.
struct CommandState {
    bool open = false;
    bool zip = false;         // served by the ZIP bridge (or a new ZIP archive)
    bool executable = false;  // the archive's extension is ".exe"
    bool writable = false;    // add and delete possible
    bool installRow = false;
    bool anySelected = false;
    bool busy = false;
};

// Whether a command is enabled in a state (false for every command while busy, and for absent commands).
bool CommandEnabled(Cmd c, const CommandState& s);
// Whether the group allows the command in the state (ignoring busy and presence).
bool GroupAllows(CmdGroup g, const CommandState& s);

// The sort command of a column (columns 0-6), and the column of a sort command (-1 for other commands).
Cmd SortCommandOf(int column);
int ColumnOfSortCommand(Cmd c);

}  // namespace varnok::app
