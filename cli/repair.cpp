// varnok-cli repair ARCHIVE [-o OUT] [--overwrite] [-v]
//
// Rebuilds a damaged ZIP file into OUT (by default NAME_fixed.zip beside it) from the entries whose local
// records survive and whose data check out. One line per entry found, as the repair window words it, then a
// summary. The damaged file is never changed; an existing OUT is kept unless --overwrite. Exit status 1 when
// nothing could be recovered or when entries were dropped.
#include <cstdio>

#include "archive/core/errors.h"
#include "archive/core/printable.h"
#include "archive/tools/zipfix.h"
#include "cli/common.h"
#include "platform/fileattr.h"

namespace varnok::cli {

int CmdRepair(int argc, char** argv) {
    Args args;
    std::string err;
    auto usage = [&] {
        fprintf(stderr, "varnok-cli: %s\nusage: varnok-cli repair ARCHIVE [-o OUT] [--overwrite] [-v]\n",
                err.c_str());
        return kExitUsage;
    };
    if (!ParseArgs(argc, argv, 2, {"--overwrite", "-v"}, {"-o"}, args, err)) return usage();
    if (args.operands.size() != 1) {
        err = args.operands.empty() ? "no archive named" : "one archive at a time";
        return usage();
    }
    const std::string& input = args.operands[0];
    const std::string* o = args.Value("-o");
    const std::string output = o ? *o : TZipFix::FixedName(input);
    const bool verbose = args.Has("-v");

    Reporter rep;
    ProgressLine progress;
    rep.progress = &progress;
    if (!platform::FileExists(input)) {
        rep.Error(input, E_FileNotFound);
        return kExitErrors;
    }
    if (platform::FileExists(output) && !args.Has("--overwrite")) {
        rep.Error(output, "exists (--overwrite replaces it)", 0);
        return kExitErrors;
    }

    TZipFix fix;
    AttachConsole(fix, rep);
    InterruptGuard interrupt(fix.CancelPtr());
    fix.OnProgress = [&progress](TZipCommon&, int, int byArchive) { progress.Update(byArchive, 0); };
    fix.OnFileChecked = [&](TZipCommon&, const TFileInfo& info) {
        // Like the window's details: headers whose name itself was unusable get no line.
        if (info.Name.empty() && !verbose) return;
        progress.Clear();
        const std::string name = info.Name.empty() ? "(no usable name)" : TerminalSafe(info.Name);
        const bool kept = IsKept(info.Verdict);
        std::string line = name + (kept ? " ...Ok" : " ...problem detected");
        if (info.Verdict == fvEncrypted || info.Verdict == fvUnchecked || (!kept && verbose))
            line += std::string(" (") + VerdictText(info.Verdict) + ")";
        if (verbose) line += " at offset " + std::to_string(info.LocalHeaderOffset);
        printf("%s\n", line.c_str());
    };
    bool done = false;
    try {
        done = fix.Repair(input, output);
    } catch (const ArchiveError&) {
        // Said through OnError.
    } catch (const std::exception& e) {
        rep.Error(input, e.what(), E_ReadFile);
    }
    progress.Clear();
    fflush(stdout);
    if (!done) {
        if (fix.Cancel())
            fprintf(stderr, "varnok-cli: %s: stopped; nothing written\n", TerminalSafe(input).c_str());
        return kExitErrors;
    }
    const int kept = static_cast<int>(fix.Entries().size());
    const int unchecked = fix.Unchecked();
    printf("%s -> %s: %d entr%s recovered", TerminalSafe(input).c_str(), TerminalSafe(output).c_str(), kept,
           kept == 1 ? "y" : "ies");
    if (unchecked) printf(" (%d not verified)", unchecked);
    printf(", %d dropped%s\n", fix.Dropped(),
           kept ? "" : "; nothing could be recovered, the output is empty");
    return kept == 0 || fix.Dropped() > 0 || rep.Count() ? kExitErrors : kExitOk;
}

}  // namespace varnok::cli
