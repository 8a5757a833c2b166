// varnok-cli convert SOURCE... --type bh|cab|lzh|zip|jar|tar|tgz [-o TARGET] [--add-to] [--overwrite]
//                    [--no-test] [-p PASSWORD] [-v]
//
// Each source becomes an archive of the target type: beside the source under its name with the target's
// extension, or TARGET (a file for one source, a folder for several). The new archive is tested before it
// takes its place; a conversion that fails anywhere leaves no target and an existing one as it was.
#include <algorithm>
#include <cstdio>

#include "archive/core/errors.h"
#include "archive/core/printable.h"
#include "archive/core/utils.h"
#include "archive/tools/arc2arc.h"
#include "cli/common.h"
#include "platform/fileattr.h"

namespace varnok::cli {

namespace {

bool ParseTargetType(const std::string& s, TOutArcType& t) {
    static const std::pair<const char*, TOutArcType> kTypes[] = {
        {"bh", tyBh}, {"cab", tyCab}, {"lzh", tyLzh}, {"lha", tyLzh}, {"zip", tyZip},
        {"jar", tyJar}, {"tar", tyTar}, {"tgz", tyGzipTar},
    };
    for (const auto& [name, type] : kTypes)
        if (s == name) {
            t = type;
            return true;
        }
    return false;
}

// The source's name without its archive extension (both of ".tar.gz"), with the target's.
std::string TargetNameFor(const std::string& source, TOutArcType t) {
    std::string name = ExtractFileName(source);
    const std::string lower = LowerAscii(name);
    for (const char* twoPart : {".tar.gz", ".tar.z", ".tar.bz2", ".tar.xz"}) {
        const std::string tail = twoPart;
        if (lower.size() > tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0) {
            name.resize(name.size() - tail.size());
            return name + TArc2Arc::TargetExtension(t);
        }
    }
    const std::string ext = ExtractFileExt(name);
    if (!ext.empty() && ext.size() < name.size()) name.resize(name.size() - ext.size());
    return name + TArc2Arc::TargetExtension(t);
}

}  // namespace

int CmdConvert(int argc, char** argv) {
    Args args;
    std::string err;
    auto usage = [&] {
        fprintf(stderr,
                "varnok-cli: %s\nusage: varnok-cli convert SOURCE... --type bh|cab|lzh|zip|jar|tar|tgz "
                "[-o TARGET] [--add-to] [--overwrite] [--no-test] [-p PASSWORD] [-v]\n",
                err.c_str());
        return kExitUsage;
    };
    if (!ParseArgs(argc, argv, 2, {"--add-to", "--overwrite", "--no-test", "-v"}, {"--type", "-o", "-p"}, args,
                   err))
        return usage();
    if (args.operands.empty()) {
        err = "no source archive named";
        return usage();
    }
    TOutArcType type = tyZip;
    const std::string* typeName = args.Value("--type");
    if (!typeName || !ParseTargetType(*typeName, type)) {
        err = typeName ? "unknown target type " + TerminalSafe(*typeName) : "--type names the target type";
        return usage();
    }
    if (args.Has("--add-to") && args.Has("--overwrite")) {
        err = "--add-to and --overwrite exclude each other";
        return usage();
    }
    const std::string* out = args.Value("-o");
    const bool intoFolder = out && (args.operands.size() > 1 || platform::DirectoryExists(*out));
    if (out && args.operands.size() > 1 && !platform::DirectoryExists(*out)) {
        err = "with several sources, -o names an existing folder";
        return usage();
    }
    if (!TArc2Arc::CanWrite(type)) {
        fprintf(stderr, "varnok-cli: %s archives cannot be written yet\n", typeName->c_str());
        return kExitErrors;
    }

    int status = kExitOk;
    std::vector<std::string> passwords;
    if (const std::string* p = args.Value("-p")) passwords.push_back(*p);
    for (const std::string& source : args.operands) {
        Reporter rep;
        ProgressLine progress;
        rep.progress = &progress;
        TArc2Arc c;
        AttachConsole(c, rep);
        InterruptGuard interrupt(c.CancelPtr());
        c.SetArchiveFile(source);
        c.NewArchive = !out ? ExtractFilePath(source) + TargetNameFor(source, type)
                       : intoFolder ? AppendSlash(*out) + TargetNameFor(source, type)
                                    : *out;
        c.OutArcType = type;
        c.OutArcMethod = args.Has("--add-to") ? amAddToArc : amCreateNew;
        c.IntegrityCheck = !args.Has("--no-test");
        c.Passwords = passwords;
        c.ConfirmOverwrites = !args.Has("--overwrite");
        c.OnFileExists = [&rep](TZipCommon&, const std::string& name, TOverwriteMode& mode) {
            rep.Error(name, "exists (--overwrite replaces it, --add-to adds to it)", 0);
            mode = omSkip;
        };
        const bool interactive = Interactive() && passwords.empty();
        c.OnGetPassword = [&progress, interactive](TZipCommon&, const std::string& name, std::string& pw,
                                                   bool& tryAgain) {
            std::string answer;
            progress.Clear();
            if (interactive && AskTerminal("Password for " + TerminalSafe(name) + ": ", answer, true)) {
                pw = answer;
                return;
            }
            tryAgain = false;
        };
        c.OnExtractBegin = [&progress](TZipCommon&, const std::string& name, int, bool&) { progress.Entry(name); };
        c.OnCompressBegin = [&progress](TZipCommon&, const std::string& name, int, bool&) {
            progress.Entry(name);
        };
        c.OnProgress = [&progress](TZipCommon&, int, int byArchive) { progress.Update(byArchive, 0); };
        int failedTests = 0;
        c.OnIntegrityStatus = [&](TZipCommon&, const std::string& name, bool pass) {
            if (!pass) ++failedTests;
            if (args.Has("-v")) {
                progress.Clear();
                printf("  tested %s: %s\n", TerminalSafe(name).c_str(), pass ? "ok" : "failed");
            }
        };
        const bool ok = c.Convert();
        progress.Clear();
        for (const auto& p : c.Passwords)
            if (std::find(passwords.begin(), passwords.end(), p) == passwords.end()) passwords.push_back(p);
        if (ok) {
            printf("%s -> %s: %d file%s%s%s\n", TerminalSafe(source).c_str(), TerminalSafe(c.NewArchive).c_str(),
                   c.Packed(), c.Packed() == 1 ? "" : "s", c.IntegrityCheck ? ", tested" : "",
                   c.TargetEncrypted() ? ", encrypted with the source's password" : "");
        } else {
            fprintf(stderr, "varnok-cli: %s: %s; %s\n", TerminalSafe(source).c_str(),
                    c.Cancel() ? "stopped" : "not converted",
                    platform::FileExists(c.NewArchive) ? "the existing target is unchanged" : "no target was written");
            status = kExitErrors;
            if (c.Cancel()) break;
        }
    }
    return status;
}

}  // namespace varnok::cli
