// The end of the desktop session for the main window. Logging out, shutting down or "kill" send SIGTERM, a closed
// terminal SIGHUP, Ctrl+C in it SIGINT; by default each would end the program on the spot and lose what the
// window saves when it closes (the Preferences, its placement, the folders, the history). Instead an open dialog
// is answered as by Escape, a running operation is stopped, the window closes as if the user had closed it (the
// settings are saved), and the program ends with the status of a process ended by that signal (128 + its
// number).
#pragma once

#include <functional>

namespace varnok::ui {

class MainWindow;

// Handles the three signals for w until the first of them comes or w is destroyed (the default handling comes back
// then, so a second signal ends the program at once). quit ends the program with the status;
// QCoreApplication::exit unless given (tests record it).
void EndWithTheSession(MainWindow& w, std::function<void(int)> quit = {});

}  // namespace varnok::ui
