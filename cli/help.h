// The help of varnok-cli: one record per command with its operands, what it does and each option it takes.
// "varnok-cli --help", "varnok-cli COMMAND --help" and "varnok-cli help COMMAND" print from these records, and
// the tests hold the commands' parsers, the man page and the bash completion to them, so that the help cannot
// name an option a command refuses.
#pragma once

#include <string>
#include <vector>

namespace varnok::cli {

struct OptionHelp {
    const char* name;   // "--type", "-d"
    const char* value;  // the value it takes ("DIR", "zip|jar|bh", "0-4"); nullptr for a flag
    const char* text;
};

struct CommandHelp {
    const char* name;      // "list"
    const char* operands;  // "ARCHIVE [PATTERN...]"
    const char* summary;   // one line for the command list
    const char* details;   // what it does, in sentences (wrapped when printed); may be empty
    std::vector<OptionHelp> options;
};

// Every command, in the order of the command list.
const std::vector<CommandHelp>& CommandHelps();
// The command of that name; nullptr for none.
const CommandHelp* FindCommandHelp(const std::string& name);

// "varnok-cli 0.1.0".
std::string VersionText();
// The whole help of one command: its usage line, what it does, its options.
std::string CommandHelpText(const CommandHelp& c);
// The program's help: how it is called, and the commands with their one-line summaries.
std::string OverviewText();

// Whether the arguments from argv[first] on ask for the command's help: "--help" or "-h" among its options,
// that is before "--" and not the value of an option that takes one ("--comment --help" sets a comment).
bool AsksForHelp(const CommandHelp& c, int argc, char** argv, int first);

}  // namespace varnok::cli
