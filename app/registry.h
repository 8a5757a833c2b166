// The registry values of the application, kept in an INI file beside the settings file
// ($XDG_CONFIG_HOME/varnok/registry.ini). Each registry key is a section named by its path
// ("Software\Varnok", "Software\Varnok\ShellExtension"); values keep their names.
#pragma once

#include <array>
#include <string>

#include "app/ini_file.h"

namespace varnok::app {

inline constexpr const char* kRegistryName = "registry.ini";
inline constexpr const char* kAppKey = "Software\\Varnok";
inline constexpr const char* kShellExtensionKey = "Software\\Varnok\\ShellExtension";

// The shell-extension switches read by the file managers' service menus.
extern const std::array<const char*, 18> kShellExtensionValues;

class RegistryStore {
  public:
    explicit RegistryStore(const std::string& configDir);

    // Writes "App" = the program's full path (every start).
    bool WriteAppPath(const std::string& programPath);
    std::string AppPath() const;

    // A shell-extension switch; def when the value is absent or unreadable.
    bool ShellSwitch(const std::string& name, bool def) const;
    void SetShellSwitch(const std::string& name, bool value);
    // Whether every shell-extension value can be read.
    bool ShellSwitchesReadable() const;

    bool Flush() { return ini_.Flush(); }
    const IniFile& Ini() const { return ini_; }

  private:
    IniFile ini_;
};

}  // namespace varnok::app
