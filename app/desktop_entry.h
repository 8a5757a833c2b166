// Values of freedesktop desktop-entry files (the association entry, checkout launchers, Dolphin service menus).
//
// An Exec argument is quoted only when it holds a character the desktop-entry format reserves. Launchers that
// follow the format accept either form, but xdg-open's own fallback (used where no desktop environment answers,
// and by several file managers) takes the first word of Exec literally, quotes included: a quoted plain path
// such as "/usr/bin/varnok" made double-clicking an archive fail there.
#pragma once

#include <string>

namespace varnok::app {

// A string value as it stands in the file: backslashes doubled, line breaks and tabs as \n, \t, \r, a leading
// blank as \s.
std::string KeyFileValue(const std::string& s);
// One argument of an Exec key as it stands in the file: quoted when needed ('"', '`', '$' and '\' escaped inside
// the quotes), a literal '%' written "%%", then the string escapes of a desktop value (backslashes doubled; line
// breaks and tabs as \n, \t, \r).
std::string DesktopExecArgument(const std::string& arg);

}  // namespace varnok::app
