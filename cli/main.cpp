// varnok-cli: the scriptable command-line face of the archive components.
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/core/printable.h"
#include "cli/common.h"
#include "cli/help.h"

namespace {

void Usage(FILE* out) {
    fputs(varnok::cli::OverviewText().c_str(), out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return varnok::cli::kExitUsage;
    }
    std::string cmd = argv[1];
    if (cmd == "--version") {
        printf("%s\n", varnok::cli::VersionText().c_str());
        return 0;
    }
    if (cmd == "help" && argc > 2) {
        const varnok::cli::CommandHelp* h = varnok::cli::FindCommandHelp(argv[2]);
        if (!h) {
            fprintf(stderr, "varnok-cli: unknown command %s\n", varnok::TerminalSafe(argv[2]).c_str());
            Usage(stderr);
            return varnok::cli::kExitUsage;
        }
        fputs(varnok::cli::CommandHelpText(*h).c_str(), stdout);
        return 0;
    }
    if (const varnok::cli::CommandHelp* h = varnok::cli::FindCommandHelp(cmd);
        h && varnok::cli::AsksForHelp(*h, argc, argv, 2)) {
        fputs(varnok::cli::CommandHelpText(*h).c_str(), stdout);
        return 0;
    }
    if (cmd == "list") return varnok::cli::CmdList(argc, argv);
    if (cmd == "identify") return varnok::cli::CmdIdentify(argc, argv);
    if (cmd == "extract") return varnok::cli::CmdExtract(argc, argv);
    if (cmd == "test") return varnok::cli::CmdTest(argc, argv);
    if (cmd == "add") return varnok::cli::CmdAdd(argc, argv);
    if (cmd == "delete") return varnok::cli::CmdDelete(argc, argv);
    if (cmd == "encode") return varnok::cli::CmdEncode(argc, argv);
    if (cmd == "convert") return varnok::cli::CmdConvert(argc, argv);
    if (cmd == "repair") return varnok::cli::CmdRepair(argc, argv);
    if (cmd == "formats") return varnok::cli::CmdFormats(argc, argv);
    if (cmd == "sfx") return varnok::cli::CmdSfx(argc, argv);
    if (cmd == "unsfx") return varnok::cli::CmdUnsfx(argc, argv);
    if (cmd == "rename") return varnok::cli::CmdRename(argc, argv);
    if (cmd == "comment") return varnok::cli::CmdComment(argc, argv);
    if (cmd == "span") return varnok::cli::CmdSpan(argc, argv);
    if (cmd == "join") return varnok::cli::CmdJoin(argc, argv);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        Usage(stdout);
        return 0;
    }
    fprintf(stderr, "varnok-cli: unknown command %s\n", varnok::TerminalSafe(cmd).c_str());
    Usage(stderr);
    return varnok::cli::kExitUsage;
}
