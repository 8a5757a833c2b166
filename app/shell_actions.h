// The context-menu items of the Linux file managers, generated from the shell-extension switches of the
// registry (key "Software\Varnok\ShellExtension"): Dolphin service menus, Nautilus scripts, Nemo actions and
// Thunar custom actions. Each item calls the program with one of its shell switches and the selected files.
//
// Every file is written whole beside its final name and renamed over it, so a file manager never reads half an
// action. Thunar keeps all custom actions, the user's own among them, in one file (uca.xml): ours are recognised
// by their unique-id prefix "varnok-" and merged in or taken out without touching a byte of anything else; a file
// that cannot be parsed safely is left alone and reported.
#pragma once

#include <string>
#include <vector>

#include "app/registry.h"

namespace varnok::app {

struct ShellSwitches {
    bool ShellExtension = true, DropHandler = true, Cascaded = true, ShowIcons = true;
    bool AddZip = true, AddBh = false, AddCab = false, AddLha = false, AddJar = false, AddTar = false;
    bool ExtractHere = true, ExtractTo = true, ExtractToFolder = true, CreateExe = true;
    bool Email = true, AddTo = true, Add = true, Test = false;
};
// The switches stored in the registry; when any cannot be read, the defaults above (all on except the five
// "Add to" types other than Zip and Test).
ShellSwitches ReadShellSwitches(const RegistryStore& r);
// Writes every switch (the key is created when missing).
void WriteShellSwitches(RegistryStore& r, const ShellSwitches& s);

class ShellActions {
  public:
    // dataHome/configHome: the XDG base folders; programPath: the `varnok` executable the actions call.
    ShellActions(std::string dataHome, std::string configHome, std::string programPath);
    // Writes the actions of every supported file manager for the switches, replacing ours from before
    // (an item switched off disappears). False with a message naming the file and the reason on failure.
    bool Install(const ShellSwitches& s, std::string* error = nullptr);
    // Removes every action file (and Thunar entry) we wrote, and nothing else.
    bool Remove(std::string* error = nullptr);
    // The files Install writes for these switches (tests, and the Preferences page's note).
    std::vector<std::string> Files(const ShellSwitches& s) const;
    // Whether every file Install would write for these switches is there and calls this program (its path
    // stands in each as written). Always true when the switches have the actions off.
    bool Current(const ShellSwitches& s) const;

    // The folders and the shared file the actions live in.
    std::string DolphinDir() const;
    std::string NautilusDir() const;
    std::string NemoDir() const;
    std::string ThunarFile() const;

  private:
    std::string dataHome_, configHome_, programPath_;
};

}  // namespace varnok::app
