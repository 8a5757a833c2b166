// varnok-cli: the scriptable command-line face of the archive components.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/common.h"

namespace {

void Usage(FILE* out) {
    fputs(
        "usage: varnok-cli COMMAND [ARGS]\n"
        "  list ARCHIVE [PATTERN...] [--dirs] [--json]   list the entries of an archive\n"
        "  identify FILE...                              tell the archive type of files\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return varnok::cli::kExitUsage;
    }
    std::string cmd = argv[1];
    if (cmd == "list") return varnok::cli::CmdList(argc, argv);
    if (cmd == "identify") return varnok::cli::CmdIdentify(argc, argv);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        Usage(stdout);
        return 0;
    }
    fprintf(stderr, "varnok-cli: unknown command %s\n", cmd.c_str());
    Usage(stderr);
    return varnok::cli::kExitUsage;
}
