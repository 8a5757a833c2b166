// Starting helper programs (xdg-open, the desktop database tools) without waiting for them.
#pragma once

#include <string>
#include <vector>

namespace varnok::app {

// Starts argv[0] (looked up on PATH) with the arguments, detached: the child is not waited for and leaves no
// zombie behind. workDir, when not empty, is the child's working folder. False when it could not be started.
bool SpawnDetached(const std::vector<std::string>& argv, const std::string& workDir = {});
// Whether a program is found on PATH.
bool ProgramOnPath(const std::string& name);

}  // namespace varnok::app
