// varnok-cli identify FILE...
#include <cstdio>

#include "archive/core/lister.h"
#include "archive/core/printable.h"
#include "cli/common.h"

namespace varnok::cli {

int CmdIdentify(int argc, char** argv) {
    Args args;
    std::string err;
    if (!ParseArgs(argc, argv, 2, {}, {}, args, err) || args.operands.empty()) {
        fprintf(stderr, "varnok-cli: %s\nusage: varnok-cli identify FILE...\n",
                err.empty() ? "no file named" : err.c_str());
        return kExitUsage;
    }
    Reporter rep;
    for (const auto& path : args.operands) {
        TArcLister probe;
        AttachConsole(probe, rep);
        probe.SetArchiveFile(path);
        printf("%s\t%s\toffset=%llu\theadflag=0x%02X\n", TerminalSafe(path).c_str(),
               ArcTypeShortName(probe.ArcType()).c_str(), static_cast<unsigned long long>(probe.StartOffset),
               probe.HeadFlag);
    }
    return rep.ExitStatus();
}

}  // namespace varnok::cli
