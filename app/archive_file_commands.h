// The commands of the main window that act on the archive file itself: copy, move, rename and delete it (to the
// freedesktop trash), and a desktop shortcut to it, without a toolkit.
//
// Design: a copy is written under a temporary name in the target folder and renamed into place when complete,
// so a failed copy leaves nothing behind; a move is a rename when it stays on one file system and a copy and
// removal otherwise, the original removed only once the copy is in place. Nothing is replaced without a
// question, and the open archive follows the file (history included).
#pragma once

#include <string>

namespace varnok::app {

class ArchiveModel;

// Characters a new archive name may not hold (the name is refused silently).
bool ArchiveNameAcceptable(const std::string& name);

// The user's desktop folder: XDG_DESKTOP_DIR of user-dirs.dirs in the configuration folder, else ~/Desktop.
std::string DesktopFolder();

// The text of a freedesktop link entry that opens target (a "Type=Link" desktop entry).
std::string LinkDesktopEntry(const std::string& name, const std::string& target);

class ArchiveFileCommands {
  public:
    explicit ArchiveFileCommands(ArchiveModel& model) : model_(model) {}

    // Copies or moves the open archive into a folder (same file name). True when done.
    bool CopyTo(const std::string& folder);
    bool MoveTo(const std::string& folder);
    // Renames the open archive within its folder; a name with a forbidden character does nothing.
    bool Rename(const std::string& newName);
    // Moves the open archive to the trash after asking; closes it when done.
    bool Delete();
    // A link to the archive on the desktop; its path, or empty.
    std::string CreateShortcut();

  private:
    bool Transfer(const std::string& folder, bool move);
    void FollowMovedArchive(const std::string& from, const std::string& to);

    ArchiveModel& model_;
};

}  // namespace varnok::app
