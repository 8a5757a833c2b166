// The program's arguments: an archive to open, the one-shot commands "-e" (extract everything) and "-a" (add to
// a ZIP archive), and the switches the file managers' context-menu actions call ("/vnset" ... "/vnsac") with the
// selected files. Reading the arguments gives a request; running it drives the main window through a small
// interface (SwitchTarget), so that every switch is exercised without a display.
//
// An option string is an argument that starts with "-": a file named "my-archive.zip" is a file. Names that are
// not absolute are taken from the folder the program was started in. The file list of a switch may be the list
// file "shextdat.par" of the user's runtime (or cache) folder, never a file beside the program. Batch work ends
// the program with status 0 when everything was done and 1 when something failed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/add_command.h"
#include "app/multi_extract.h"

namespace varnok::app {

struct Settings;

enum class SwitchMode {
    None,             // nothing to do: the window stays open
    OpenFile,         // an existing file: opened as the archive; the window stays open
    ExtractAll,       // "-e"
    AddToZip,         // "-a"
    ExtractDialog,    // "/vnset": the Extract command with its dialog, or the multi-extract window
    ExtractHere,      // "/vnseh"
    ExtractToFolder,  // "/vnsef"
    Mail,             // "/vnsma"
    MakeExe,          // "/vnsce"
    Test,             // "/vnsta"
    AddAsType,        // "/vnsaz"
    AddWithOptions,   // "/vnsac"
};

// Whether a first argument is one of the switches that do batch work (the window stays hidden and the program
// ends afterwards). Case is ignored.
bool IsBatchSwitch(const std::string& firstArgument);

inline constexpr const char* kShellListName = "shextdat.par";
// The folder of the list file: $XDG_RUNTIME_DIR/varnok, else $XDG_CACHE_HOME/varnok, else ~/.cache/varnok.
std::string ShellListFolder();

struct CommandLineRequest {
    SwitchMode mode = SwitchMode::None;
    std::string options;      // "-e", "-a": the option string as given ("-ro"), empty when none
    std::string archive;      // "-e", "-a", "/vnsaz" (the archive to make), the file to open
    std::string destination;  // "-e": the folder given (empty: the archive's folder)
    std::vector<std::string> files;  // the names to add, or the file list of a slash switch (absolute)
    std::string listFile;     // the list file the names were read from, when any
    bool deleteListFile = false;     // "/vnsaz" read "shextdat.par": it goes afterwards
    std::string type;         // "/vnsaz": the archive type, lower case
    bool noMainForm = false;  // "-nomf" was given
    // "Error opening file !" when a list file could not be read (the program then stops).
    std::string error;

    // "-e": r folder names, o overwrite, u skip older files.
    bool folderNames = false, overwrite = false, skipOlder = false;
    // "-a": r recurse, i folders as separate operations (r off), p relative paths, f full paths, s list file,
    // y directory entries.
    bool recurse = false, separateFolders = false, relativePaths = false, fullPaths = false, useListFile = false,
         directoryEntries = false;

    bool Batch() const { return mode != SwitchMode::None && mode != SwitchMode::OpenFile; }
};

struct CommandLineContext {
    std::string currentDir;  // where names that are not absolute are taken from
    std::string listFolder;  // where "shextdat.par" is read (ShellListFolder())
};

// Reads the arguments after the program's name.
CommandLineRequest ParseCommandLine(const std::vector<std::string>& args, const CommandLineContext& ctx);

// The add of "-a" and "/vnsaz" from the request's letters.
AddRequest AddRequestOf(const CommandLineRequest& r);
// The kind of "/vnsaz"'s type ("zip", "bh", "cab", "lha", "jar", "tar"); nullopt for any other.
std::optional<ArchiveKind> KindOfSwitchType(const std::string& type);

// What the switches do in the main window.
class SwitchTarget {
  public:
    virtual ~SwitchTarget() = default;
    // Opens the archive; buildRows false: no list rows are made (batch work). False when it is not an archive
    // that could be read.
    virtual bool OpenArchive(const std::string& path, bool buildRows) = 0;
    // Extracts everything of the open archive. False when something failed.
    virtual bool ExtractAll(const std::string& destination, bool folderNames, bool skipOlder, bool overwrite) = 0;
    // The Extract command with its dialog on the open archive. False when something failed.
    virtual bool ExtractWithDialog() = 0;
    // The multi-extract window, pre-filled. False when the batch it ran had failures.
    virtual bool ShowMultiExtract(const std::vector<std::string>& paths) = 0;
    // The batch without the window. False when something failed.
    virtual bool MultiExtract(const std::vector<std::string>& paths, const MultiExtractRequest& r) = 0;
    // Adds the files to a ZIP archive (made when missing). False when nothing was added.
    virtual bool AddToZip(const std::string& archive, const std::vector<std::string>& files,
                          const AddRequest& r) = 0;
    // Makes an archive of the kind (or adds to it when it exists) with the files. False when nothing was added.
    virtual bool CreateAndAdd(const std::string& archive, ArchiveKind kind, const std::vector<std::string>& files,
                              const AddRequest& r) = 0;
    virtual bool ShowTestWindow(const std::vector<std::string>& files) = 0;
    virtual bool ShowAddWithOptions(const std::vector<std::string>& files) = 0;
    virtual bool MailFiles(const std::vector<std::string>& files) = 0;
    // Make .EXE on the open archive. False when it failed.
    virtual bool MakeExe() = 0;
    virtual void Message(const std::string& title, const std::string& text) = 0;
    // A line for the terminal the program was started from (standard error).
    virtual void Report(const std::string& line) = 0;
    // Ends the program with the status.
    virtual void Quit(int status) = 0;
};

inline constexpr const char* kListFileError = "Error opening file !";
inline constexpr const char* kCantCreateDirectory = "Can\"t create directory !";

// Runs the request. Batch modes end with target.Quit(status); the status is returned too (0 for the window's
// modes).
int RunCommandLine(const CommandLineRequest& r, SwitchTarget& target, const Settings& settings);

}  // namespace varnok::app
