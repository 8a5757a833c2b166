#include "app/commands.h"

namespace varnok::app {

namespace {

using G = CmdGroup;

const std::vector<CommandInfo>& Table() {
    static const std::vector<CommandInfo> t = {
        {Cmd::OpenArchive, "&Open Archive", "Ctrl+O", G::Always, true, "Open"},
        {Cmd::NewArchive, "&New archive...", "Ctrl+N", G::Always, true, "New"},
        {Cmd::CloseArchive, "&Close Archive", "", G::OpenArchive, true, ""},
        {Cmd::CopyArchive, "Copy Archive...", "", G::OpenArchive, true, ""},
        {Cmd::MoveArchive, "Move Archive...", "", G::OpenArchive, true, ""},
        {Cmd::RenameArchive, "Rename Archive...", "", G::OpenArchive, true, ""},
        {Cmd::DeleteArchive, "&Delete Archive", "", G::OpenArchive, true, ""},
        {Cmd::Properties, "Properties...", "", G::ArchiveFile, true, ""},
        {Cmd::CreateShortcut, "Create Shortcut", "", G::ArchiveFile, true, ""},
        {Cmd::Exit, "E&xit", "Ctrl+Q", G::Always, true, ""},

        {Cmd::Extract, "&Extract...", "Ctrl+E", G::OpenArchive, true, "Extract"},
        {Cmd::ExtractToNamedFolder, "Extract to", "", G::OpenArchive, true, ""},
        {Cmd::ExtractHere, "Extract to", "", G::OpenArchive, true, ""},
        {Cmd::ExtractToFavourite, "Extract to Favourite folder", "", G::OpenArchive, true, ""},
        {Cmd::Add, "&Add...", "", G::Writing, true, "Add"},
        {Cmd::Delete, "&Delete...", "Del", G::Writing, true, "Delete"},
        {Cmd::DeleteSelected, "Delete selected", "", G::Writing, true, ""},
        {Cmd::DeleteAll, "Delete all", "", G::Writing, true, ""},
        {Cmd::OpenEntry, "O&pen", "", G::OpenArchive, true, ""},
        {Cmd::ViewEntry, "&View", "", G::Selection, true, "View"},
        {Cmd::OpenWithBoth, "Open with both", "", G::OpenArchive, true, ""},
        {Cmd::Install, "&Install", "", G::Install, true, "Install"},
        {Cmd::RenameEntry, "&Rename...", "", G::ZipOnly, true, ""},
        {Cmd::Comment, "&Comment...", "", G::ZipOnly, true, ""},
        {Cmd::MakeExe, "&Make .EXE file...", "", G::MakeExe, true, ""},
        {Cmd::ExeToZip, ".EXE -> Zip", "", G::ExeToZip, true, ""},
        {Cmd::WriteSpan, "Write Zip &span...", "", G::ZipOnly, true, ""},
        {Cmd::Test, "Test", "", G::OpenArchive, true, "Test"},
        {Cmd::Checkout, "Checkout...", "", G::OpenArchive, true, ""},
        {Cmd::SendMail, "Mail Archive...", "", G::OpenArchive, true, ""},
        {Cmd::UUEncode, "UUEncode...", "", G::OpenArchive, true, ""},
        {Cmd::FindFiles, "&Find files...", "", G::OpenArchive, true, ""},
        {Cmd::SelectAll, "Select all", "Ctrl+A", G::OpenArchive, true, ""},
        {Cmd::UnselectAll, "UnSelect all", "", G::OpenArchive, true, ""},
        {Cmd::InvertSelection, "Invert selection", "", G::OpenArchive, true, ""},

        {Cmd::Preferences, "&Preferences...", "Ctrl+Alt+P", G::Always, true, "Options"},
        {Cmd::ViewToolbar, "View Toolbar", "", G::Always, true, ""},
        {Cmd::ViewStatusbar, "View Statusbar", "", G::Always, true, ""},
        {Cmd::ViewLog, "View Log", "", G::Always, true, ""},
        {Cmd::SortByName, "by Name", "", G::OpenArchive, true, ""},
        {Cmd::SortByType, "by Filetype", "", G::OpenArchive, true, ""},
        {Cmd::SortBySize, "by Size", "", G::OpenArchive, true, ""},
        {Cmd::SortByPacked, "by Compressed Size", "", G::OpenArchive, true, ""},
        {Cmd::SortByRatio, "by Compression Ratio", "", G::OpenArchive, true, ""},
        {Cmd::SortByDate, "by Date and Time", "", G::OpenArchive, true, ""},
        {Cmd::SortByPath, "by Path", "", G::OpenArchive, true, ""},

        {Cmd::ConvertArchive, "C&onvert Archive...", "", G::Always, true, ""},
        {Cmd::RepairZips, "Repair zips...", "", G::Always, true, ""},
        {Cmd::MultiExtract, "&MultiExtract...", "Ctrl+M", G::Always, true, ""},

        {Cmd::HelpTopics, "&Help topics", "F1", G::Always, true, ""},
        {Cmd::About, "&About Varnok...", "", G::Always, true, ""},

        {Cmd::ClearLog, "Clear Log", "", G::Always, true, ""},
        {Cmd::SaveLog, "Save Log...", "", G::Always, true, ""},
    };
    return t;
}

}  // namespace

const std::vector<CommandInfo>& AllCommands() {
    return Table();
}

const CommandInfo& Info(Cmd c) {
    // The table is in the order of the enumeration.
    return Table().at(static_cast<size_t>(c));
}

bool GroupAllows(CmdGroup g, const CommandState& s) {
    switch (g) {
        case G::Always:
            return true;
        case G::ArchiveFile:
        case G::OpenArchive:
            return s.open;
        case G::ZipOnly:
            return s.open && s.zip;
        case G::MakeExe:
            return s.open && s.zip && !s.executable;
        case G::ExeToZip:
            return s.open && s.zip && s.executable;
        case G::Writing:
            return s.open && s.writable;
        case G::Install:
            return s.open && s.zip && s.installRow;
        case G::Selection:
            return s.open && s.anySelected;
    }
    return false;
}

bool CommandEnabled(Cmd c, const CommandState& s) {
    const CommandInfo& i = Info(c);
    if (!i.present) return false;
    // Window-layout commands stay usable while an operation runs; nothing else does.
    if (s.busy && c != Cmd::ViewToolbar && c != Cmd::ViewStatusbar && c != Cmd::ViewLog) return false;
    return GroupAllows(i.group, s);
}

Cmd SortCommandOf(int column) {
    static const Cmd k[] = {Cmd::SortByName,  Cmd::SortByType, Cmd::SortBySize, Cmd::SortByPacked,
                            Cmd::SortByRatio, Cmd::SortByDate, Cmd::SortByPath};
    return column >= 0 && column < 7 ? k[column] : Cmd::Count;
}

int ColumnOfSortCommand(Cmd c) {
    for (int i = 0; i < 7; ++i)
        if (SortCommandOf(i) == c) return i;
    return -1;
}

}  // namespace varnok::app
