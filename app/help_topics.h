// Help topics: the help pages shipped with the program, opened in the user's browser. Linux has no viewer for
// compiled help files, so the help is plain HTML (index.html and a page per area) that any browser shows.
//
// The pages are found only relative to the running program, the way its engines are: an installed
// PREFIX/bin/varnok reads PREFIX/share/varnok/help (PREFIX/share/doc/varnok/html is accepted too, for
// packagers who move the pages there), and a program in the build tree reads the copy the build makes in
// build/share/varnok/help. Nothing is taken from the current folder or from beside an archive.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/view.h"

namespace varnok::app {

// The folders the help may be in for a program running from programDir, in search order.
std::vector<std::string> HelpFolders(const std::string& programDir);
// The full path of index.html in the first of HelpFolders() that has it; empty when none has.
std::string FindHelpIndex(const std::string& programDir);

// Opens a help page with the desktop's browser (through xdg-open). Every outside call can be replaced, so that
// tests see what would be started instead of starting it.
struct HelpOpener {
    HelpOpener();
    // Where the program runs from (default: the running program's folder).
    std::string programDir;
    // Whether a program is on PATH (default ProgramOnPath).
    std::function<bool(const std::string&)> onPath;
    // Starts a program without waiting for it (default SpawnDetached).
    std::function<bool(const std::vector<std::string>&, const std::string&)> spawn;

    // Opens page (a file name of the help folder; "index.html" for the contents). False, after telling the
    // view why ("Error" messages), when the pages are missing, the page is not among them, or the browser
    // cannot be started.
    bool Open(ArchiveView& view, const std::string& page = "index.html") const;
};

}  // namespace varnok::app
