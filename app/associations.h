// File associations on a freedesktop system. The application's "class" is the desktop entry "varnok.desktop"
// in $XDG_DATA_HOME/applications (its Exec line is the open command); associating an extension makes that
// entry the default application of the extension's MIME type in $XDG_CONFIG_HOME/mimeapps.list. Extensions
// the shared MIME database does not know get their types from a small package in
// $XDG_DATA_HOME/mime/packages. Nothing is written outside the user's XDG folders.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "archive/core/format.h"

namespace varnok::app {

inline constexpr const char* kDesktopFileName = "varnok.desktop";

// One row of the association dialog and of the Preferences file-type page.
struct AssociationRow {
    std::string caption;
    std::vector<std::string> extensions;
    bool tickedByDefault;
};
// The rows in their order (ace, arc, arj, bh, cab, vca, gz, lha/lzh, jar, pak/pk3, rar, tar, uue/uu/enc, xxe,
// z/zoo, zip).
const std::vector<AssociationRow>& AssociationRows();
// The file types the program opens: those of every family in the format registry, and the encryption
// plug-in's archives.
std::vector<const FileType*> DesktopFileTypes();
// The extensions that must all be associated for the start-up check to stay quiet.
const std::vector<std::string>& CheckedExtensions();
// The MIME type standing for an extension (lower-case, with its dot); empty for an unknown extension.
std::string MimeTypeOfExtension(const std::string& ext);

class Associations {
  public:
    // dataHome and configHome are the XDG base folders; programPath the executable named in the open command.
    Associations(std::string dataHome, std::string configHome, std::string programPath,
                 std::string iconName = {});

    std::string DesktopFilePath() const;
    std::string MimeAppsPath() const;
    std::string MimePackagePath() const;
    // The Exec line the desktop entry must carry: the program in double quotes and "%f".
    std::string OpenCommand() const;
    // Whether the desktop entry exists with this program's open command.
    bool ClassKeyCurrent() const;
    // Writes the desktop entry (name, comment "Varnok file", icon, open command, MIME types) and the MIME
    // package for the extensions the system database lacks. False when a file cannot be written.
    bool WriteClassKey();
    // Makes sure the class key is there (writes it when its open command differs). False on a write failure.
    bool EnsureClassKey();

    bool IsAssociated(const std::string& ext) const;
    bool AllAssociated(const std::vector<std::string>& exts) const;
    // Makes the application the default for the extension's type. False for an unknown extension or a write
    // failure.
    bool Associate(const std::string& ext);
    // Removes the default only when it is this application. True when nothing of ours is left.
    bool Unassociate(const std::string& ext);
    // Tells the desktop that associations changed (refreshes the desktop and MIME caches when the tools
    // exist).
    void NotifyChanged();
    // Replaces the notification (tests).
    std::function<void()> OnNotify;

  private:
    std::string dataHome_, configHome_, programPath_, iconName_;
};

// What the start-up check does.
enum class AssociationAction { None, Silent, Dialog };
// The decision of the start-up check from Associate, NoDialog, whether ".zip" is ours and whether every
// checked extension is ours.
AssociationAction DecideAssociationCheck(bool associate, bool noDialog, bool zipIsOurs, bool allAssociated);

// The start-up check: makes sure the class key exists, decides, and for the silent case associates every
// extension whose [FileAssociation] key is 1. Returns the decision (Dialog: the caller shows the dialog).
AssociationAction RunAssociationCheck(Associations& a, const IniFile& ini, const Settings& s);

// The association dialog's answers. ticked: one flag per AssociationRows() row. Associates the ticked rows
// and writes "1" for each of their extensions; with neverAsk also NoDialog=1 and Associate=1.
void ApplyAssociationDialog(Associations& a, IniFile& ini, Settings& s, const std::vector<bool>& ticked,
                            bool neverAsk);
// "&Cancel": with neverAsk writes NoDialog=1 and Associate=0.
void CancelAssociationDialog(IniFile& ini, Settings& s, bool neverAsk);

}  // namespace varnok::app
