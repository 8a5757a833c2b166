// What the help, completion and manual-page tests read from varnok-cli itself: its commands (from
// "varnok-cli --help") and each command's options with the value each takes (from "varnok-cli COMMAND
// --help"). Header-only, since the folder's test program is made of its *_test.cpp files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace varnok::test::cli {

struct CliResult {
    int code;
    std::string out;
    std::string err;
};

// Runs varnok-cli with the arguments (a shell text) in folder cwd (the current one when empty).
inline CliResult RunCli(const std::string& args, const std::filesystem::path& cwd = {}) {
    TempDir tmp;
    std::string out;
    const auto errFile = tmp / "stderr";
    std::string command = Quote(BinDir() / "varnok-cli") + " " + args + " 2>" + Quote(errFile) + " </dev/null";
    if (!cwd.empty()) command = "cd " + Quote(cwd) + " && " + command;
    const int code = Run(command, &out);
    return {code, out, ReadText(errFile)};
}

// The commands "varnok-cli --help" lists, in its order.
inline std::vector<std::string> Commands() {
    std::vector<std::string> out;
    std::istringstream in(RunCli("--help").out);
    std::string line;
    bool inList = false;
    std::smatch m;
    while (std::getline(in, line)) {
        if (line == "Commands:") {
            inList = true;
        } else if (inList && std::regex_match(line, m, std::regex(R"(  ([a-z]+) +\S.*)"))) {
            out.push_back(m[1].str());
        } else if (inList && line.empty()) {
            break;
        }
    }
    return out;
}

struct HelpOption {
    std::string name;   // "--type"
    std::string value;  // "zip|jar|..." or "DIR"; empty for a flag
};

// The options "varnok-cli COMMAND --help" shows, without -h and --help.
inline std::vector<HelpOption> HelpOptions(const std::string& command) {
    std::vector<HelpOption> out;
    std::istringstream in(RunCli(command + " --help").out);
    std::string line;
    bool inOptions = false;
    std::smatch m;
    while (std::getline(in, line)) {
        if (line == "Options:") {
            inOptions = true;
            continue;
        }
        if (!inOptions) continue;
        if (!std::regex_search(line, m, std::regex(R"(^  (-[-a-z0-9]+)(,)?( [^ ]+)?( {2,}|$))"))) continue;
        if (m[2].matched || m[1] == "--help") continue;  // "-h, --help"
        out.push_back({m[1].str(), m[3].matched ? m[3].str().substr(1) : std::string()});
    }
    return out;
}

// The fixed values an option of the help takes: "a|b|c" or a range of small numbers "0-4"; empty otherwise.
inline std::vector<std::string> Choices(const HelpOption& o) {
    std::vector<std::string> out;
    std::smatch m;
    if (o.value.find('|') != std::string::npos) {
        std::stringstream s(o.value);
        std::string v;
        while (std::getline(s, v, '|'))
            out.push_back(v);
    } else if (std::regex_match(o.value, m, std::regex(R"(([0-9]+)-([0-9]+))"))) {
        for (int i = std::stoi(m[1].str()); i <= std::stoi(m[2].str()); ++i)
            out.push_back(std::to_string(i));
    }
    return out;
}

inline std::string SourcePath(const std::string& rel) {
    const char* src = std::getenv("VARNOK_SOURCE");
    return std::string(src ? src : ".") + "/" + rel;
}

}  // namespace varnok::test::cli
