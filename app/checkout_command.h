// Checkout of the open archive, without a toolkit: everything is extracted into a folder the user chooses and a
// menu folder of the desktop's application menu is made for it, with one launcher per program or document.
//
// Design: the menu folder follows the freedesktop menu and desktop-entry specifications. A ".menu" file and a
// ".directory" file go into $XDG_CONFIG_HOME/menus/applications-merged/, one ".desktop" file per launcher into
// $XDG_DATA_HOME/applications/; every one of them is named "varnok-checkout-..." and carries a key (or, for the
// menu, a menu name) saying it is ours, so that a file of the same name that is not ours is never replaced.
// Nothing else is written outside the chosen folder. A launcher runs its file only when the file is an
// executable regular file inside the chosen folder (the path quoted as the Exec key requires, field codes
// escaped); anything else gets a link that the desktop opens with the file's program. Entry names reach the
// files only through one escaping place per syntax (desktop values, Exec arguments, URLs, XML), and a name that
// cannot be written safely (a control character in a path) gets no launcher.
#pragma once

#include <string>
#include <vector>

namespace varnok::app {

class ArchiveModel;

// The checkout dialog's fields.
struct CheckoutRequest {
    std::string folder;
    std::string group;
    std::string maxIcons = "40";
    bool appsAndDocsOnly = true;
};

enum class CheckoutStatus {
    Done,
    FolderFailed,  // the folder could not be made: the dialog stays open
    NotStarted,    // no open archive, or another run is going on
    Cancelled,     // the extraction was cancelled: no menu folder was made
    WrongCount,    // the number of launchers is not a number: extracted, no launcher made
};

// The folder field after the "..." button picked a folder: the picked folder with the field's last name
// component appended (the picked folder alone when the field has none).
std::string CheckoutFolderPicked(const std::string& field, const std::string& picked);

// A name as a part of a file name: letters, digits, "-" and "_" are kept, anything else becomes "_" and then a
// short hash of the whole text is appended so that different names stay different; never empty.
std::string CheckoutNamePart(const std::string& text);
// A value of type string or localestring as it stands in a desktop file: backslashes escaped, line breaks and
// other control characters as spaces, a leading space kept.
std::string DesktopValue(const std::string& text);
// A file:// URL of an absolute path.
std::string FileUrl(const std::string& path);
// Whether a row counts when only applications and documents get launchers: ".exe", ".com", ".hlp", ".txt",
// ".doc" (any case), or a file that may be executed.
bool CheckoutCounts(const std::string& name, bool executable);

class CheckoutCommand {
  public:
    explicit CheckoutCommand(ArchiveModel& model) : model_(model) {}

    // The dialog's first fields for the open archive: a folder below the user's data folder named after the
    // archive, and the archive's name without extension as the group.
    CheckoutRequest Defaults() const;
    CheckoutStatus Run(const CheckoutRequest& r);

    // What the last run wrote (absolute paths).
    const std::vector<std::string>& Launchers() const { return launchers_; }
    const std::string& MenuFile() const { return menuFile_; }
    const std::string& DirectoryFile() const { return directoryFile_; }
    const std::string& Folder() const { return folder_; }

    // Where the files go (from $XDG_CONFIG_HOME and $XDG_DATA_HOME at the time of the call).
    static std::string MenuFolder();
    static std::string LauncherFolder();

  private:
    bool WriteMenu(const std::string& gid, const std::string& groupName, const std::vector<std::string>& ids);
    bool WriteLauncher(const std::string& path, const std::string& text);
    void Problem(const std::string& text) { problems_.push_back(text); }

    ArchiveModel& model_;
    bool running_ = false;
    std::string folder_;
    std::string menuFile_, directoryFile_;
    std::vector<std::string> launchers_;
    std::vector<std::string> problems_;
};

}  // namespace varnok::app
