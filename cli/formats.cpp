// varnok-cli formats: the archive families this program knows, from its format registry.
#include <cstdio>

#include "archive/core/format.h"
#include "cli/common.h"

namespace varnok::cli {

int CmdFormats(int argc, char** argv) {
    Args args;
    std::string err;
    if (!ParseArgs(argc, argv, 2, {}, {}, args, err) || !args.operands.empty()) {
        fprintf(stderr, "varnok-cli: %s\nusage: varnok-cli formats\n", err.empty() ? "no operands" : err.c_str());
        return kExitUsage;
    }
    printf("%-9s %-4s %-7s %-5s %-30s %s\n", "family", "list", "extract", "write", "extensions", "types");
    for (const FormatRecord* f : Formats()) {
        std::string exts, types;
        for (const auto& e : f->Extensions())
            exts += (exts.empty() ? "" : " ") + e;
        for (const auto& t : f->types)
            types += (types.empty() ? "" : " ") + std::string(t.id);
        printf("%-9s %-4s %-7s %-5s %-30s %s\n", f->name, f->walk ? "yes" : "-", f->extractor ? "yes" : "-",
               f->writer ? "yes" : "-", exts.c_str(), types.c_str());
    }
    return kExitOk;
}

}  // namespace varnok::cli
