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
        "  identify FILE...                              tell the archive type of files\n"
        "  extract ARCHIVE [PATTERN...] [-d DIR] [-p PASSWORD] [--overwrite|--skip-existing|--update] "
        "[--flat] [-v]\n"
        "                                                extract entries (default: into the current folder)\n"
        "  test ARCHIVE... [-p PASSWORD]                 decode every entry without writing\n",
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
    if (cmd == "extract") return varnok::cli::CmdExtract(argc, argv);
    if (cmd == "test") return varnok::cli::CmdTest(argc, argv);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        Usage(stdout);
        return 0;
    }
    fprintf(stderr, "varnok-cli: unknown command %s\n", cmd.c_str());
    Usage(stderr);
    return varnok::cli::kExitUsage;
}
