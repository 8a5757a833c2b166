#include "app/help_topics.h"

#include "app/paths.h"
#include "app/process.h"
#include "platform/fileattr.h"

namespace varnok::app {

std::vector<std::string> HelpFolders(const std::string& programDir) {
    if (programDir.empty() || programDir[0] != '/') return {};
    const std::string dir = WithoutSlash(programDir);
    return {AbsoluteFolder(dir + "/../share/varnok/help"), AbsoluteFolder(dir + "/../share/doc/varnok/html")};
}

std::string FindHelpIndex(const std::string& programDir) {
    for (const std::string& f : HelpFolders(programDir))
        if (platform::FileExists(f + "/index.html")) return f + "/index.html";
    return {};
}

HelpOpener::HelpOpener()
    : programDir(ProgramDir()),
      onPath(ProgramOnPath),
      spawn([](const std::vector<std::string>& argv, const std::string& dir) { return SpawnDetached(argv, dir); }) {}

bool HelpOpener::Open(ArchiveView& view, const std::string& page) const {
    const std::string index = FindHelpIndex(programDir);
    if (index.empty()) {
        std::string where;
        for (const std::string& f : HelpFolders(programDir))
            where += (where.empty() ? "" : " or ") + f;
        view.Message("Error", "The help pages are not installed: index.html was looked for in " +
                                  (where.empty() ? std::string("the program's folder") : where) + ".");
        return false;
    }
    const std::string folder = ParentFolder(index);
    // Only a page of the help folder itself: no folder part, nothing hidden.
    if (page.empty() || page.find('/') != std::string::npos || page[0] == '.' ||
        !platform::FileExists(folder + page)) {
        view.Message("Error", "The help page " + page + " is not in " + WithoutSlash(folder) + ".");
        return false;
    }
    if (!onPath("xdg-open")) {
        view.Message("Error", "xdg-open is not installed: the help pages in " + WithoutSlash(folder) +
                                  " cannot be shown in a browser. Open " + folder + page + " yourself.");
        return false;
    }
    if (!spawn({"xdg-open", folder + page}, folder)) {
        view.Message("Error", "xdg-open could not be started to show " + folder + page + ".");
        return false;
    }
    return true;
}

}  // namespace varnok::app
