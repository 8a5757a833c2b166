// Where the application keeps and finds its files on a freedesktop system: the configuration folder (settings
// and the registry stand-in), the data folder (desktop entries), the program's own folders (engines, help)
// and the translation of the classic "C:\" and "C:\Temp" defaults.
#pragma once

#include <string>
#include <vector>

namespace varnok::app {

// $HOME, or the password database's home folder, without a trailing "/".
std::string HomeDir();
// $XDG_CONFIG_HOME (absolute) or ~/.config.
std::string ConfigHome();
// $XDG_DATA_HOME (absolute) or ~/.local/share.
std::string DataHome();
// The folder holding the settings file and the registry stand-in: ConfigHome()/varnok.
std::string AppConfigDir();
// The folder of the running program (from /proc/self/exe), without a trailing "/".
std::string ProgramDir();
// The full path of the running program.
std::string ProgramPath();
// The program's own folders, in search order: its folder, ../lib/varnok, ../lib, ../share/varnok. Engines and
// shipped files are looked up only there (never on a search path).
std::vector<std::string> ProgramFolders();
// The first of ProgramFolders() that holds every one of the given file names; empty when none does.
std::string FindInProgramFolders(const std::vector<std::string>& names);

// The defaults of the classic settings ("C:\" and "C:\Temp") on this system: the home folder and the system
// temporary folder, each with a trailing "/".
std::string DefaultRootFolder();
std::string DefaultTempFolder();
// A stored folder value as a path of this system: "C:\" style values (a drive letter) become the home folder,
// "\" separators become "/". Other values are returned unchanged.
std::string NativeFolder(const std::string& stored);

// Path helpers on "/" separated paths.
std::string WithSlash(const std::string& path);         // appends "/" unless empty or already there
std::string WithoutSlash(const std::string& path);      // removes one trailing "/" (not from "/")
std::string ParentFolder(const std::string& path);      // folder part with its trailing "/", or empty
std::string FileNameOf(const std::string& path);        // the part after the last "/"
std::string ExtensionOf(const std::string& path);       // ".ext" of the file-name part, or empty
std::string WithoutExtension(const std::string& path);  // path without the file-name part's extension
std::string AbsoluteFolder(const std::string& path);    // absolute, lexically normalised, no trailing "/"

}  // namespace varnok::app
