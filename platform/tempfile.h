// Temporary files and folders, created race-free.
#pragma once

#include <string>

#include "platform/file.h"

namespace varnok::platform {

// $TMPDIR when it names a folder, else /tmp.
std::string SystemTempDir();
// Creates a new, empty file "<dir>/<prefix>XXXXXX<suffix>" exclusively (mode 0600) and opens it in *file when
// given. Returns its path, or empty on failure.
std::string CreateTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix = {},
                           File* file = nullptr);
// Creates a new private folder "<dir>/<prefix>XXXXXX". Returns its path, or empty on failure.
std::string CreateTempDir(const std::string& dir, const std::string& prefix);
// Writes a whole file through a private file in its folder (made with its parents when missing) and a rename,
// so that a reader never sees half of it; the file gets the mode given. False with the reason in *why.
bool WriteFileAtomically(const std::string& path, const std::string& text, unsigned mode = 0644,
                         std::string* why = nullptr);
// Removes a folder tree without following symbolic links. True when nothing is left.
bool RemoveTree(const std::string& path);

// Moves a file or folder to the user's trash (the freedesktop.org trash layout). False when it could not.
bool MoveToTrash(const std::string& path);
// Where the trash of the user's home file system lives ($XDG_DATA_HOME/Trash).
std::string HomeTrashDir();

}  // namespace varnok::platform
