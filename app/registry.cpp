#include "app/registry.h"

#include "app/paths.h"

namespace varnok::app {

const std::array<const char*, 18> kShellExtensionValues = {
    "ShellExtension",  "DropHandler", "Cascaded", "ShowIcons", "AddZip",      "AddBh",
    "AddCab",          "AddLha",      "AddJar",   "AddTar",    "ExtractHere", "ExtractTo",
    "ExtractToFolder", "CreateExe",   "Email",    "AddTo",     "Add",         "Test"};

RegistryStore::RegistryStore(const std::string& configDir)
    : ini_(WithSlash(WithoutSlash(configDir)) + kRegistryName) {}

bool RegistryStore::WriteAppPath(const std::string& programPath) {
    ini_.WriteString(kAppKey, "App", programPath);
    return ini_.Flush();
}

std::string RegistryStore::AppPath() const {
    return ini_.ReadString(kAppKey, "App", "");
}

bool RegistryStore::ShellSwitch(const std::string& name, bool def) const {
    return ini_.ReadBool(kShellExtensionKey, name, def);
}

void RegistryStore::SetShellSwitch(const std::string& name, bool value) {
    ini_.WriteBool(kShellExtensionKey, name, value);
}

bool RegistryStore::ShellSwitchesReadable() const {
    for (const char* v : kShellExtensionValues)
        // A readable value is a number: reading it with two different defaults gives the same result.
        if (ini_.ReadInteger(kShellExtensionKey, v, 0) != ini_.ReadInteger(kShellExtensionKey, v, 1))
            return false;
    return true;
}

}  // namespace varnok::app
