// Names from archives shown to people. A stored name is whatever bytes its archive holds: it can carry
// terminal control sequences (which retitle or drive a terminal), C1 controls, bidirectional overrides
// (which make "txt.exe" read as "exe.txt") or bytes that are not UTF-8. Every place that shows a name on a
// terminal or in a window shows it through one of these.
#pragma once

#include <string>
#include <string_view>

namespace varnok {

// For a terminal: control characters (C0, DEL, C1) become \xNN, the bidirectional controls \u{XXXX}, a
// backslash "\\", and bytes that are not UTF-8 \xNN. Everything else is kept.
std::string TerminalSafe(std::string_view s);

// For a window: control characters become visible marks (the Control Pictures of U+2400, U+2421 for DEL),
// C1 and bidirectional controls and bytes that are not UTF-8 the replacement character U+FFFD.
std::string VisibleMarks(std::string_view s);

// Whether TerminalSafe would change anything.
bool NeedsEscaping(std::string_view s);

}  // namespace varnok
