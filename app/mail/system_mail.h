// The system mail route: the archive handed to the desktop's mail program through xdg-email, which opens
// that program's compose window with the file attached; the user completes and sends the message there.
//
// Only the command and the meaning of its exit status live here; the window starts the program without
// waiting for it (the mail program may stay open for as long as the user writes) and reports a failed start
// or a failing status when the program ends.
#pragma once

#include <string>
#include <vector>

namespace varnok::mail {

inline constexpr const char* kXdgEmail = "xdg-email";

// xdg-email --attach FILE --subject NAME (the subject is the file's name).
std::vector<std::string> XdgEmailCommand(const std::string& archivePath);
// The text for a status xdg-email ended with; empty for 0 (the compose window was opened).
std::string XdgEmailStatusText(int status);
// The text when xdg-email is not installed.
std::string XdgEmailMissingText();

}  // namespace varnok::mail
