// varnok-cli sfx and unsfx: self-extracting programs through the ZIP bridge.
//
// Unlike the window's command, which replaces the archive by the program, these keep their input: a script
// that makes a program from an archive still has the archive afterwards. The output is written beside its
// final name and renamed into place by the bridge, so a failure leaves neither a partial file nor a changed
// input.
#include <cstdio>

#include "archive/core/printable.h"
#include "cli/common.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::cli {

namespace {

void Wire(TZipBridge& z, std::string& last) {
    z.Unattended = true;
    z.KeepConvertSource = true;
    z.HowToDelete = htdFinal;
    z.OnMessage = [&last](TZipBridge&, int, const std::string& m) { last = m; };
}

}  // namespace

int CmdSfx(int argc, char** argv) {
    Args a;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {}, {"-o", "--caption", "--default-dir", "--overwrite", "--message"}, a, error) ||
        a.operands.size() != 1) {
        fprintf(stderr, "varnok-cli sfx: %s\nusage: varnok-cli sfx ARCHIVE [-o PROGRAM] [--caption T] "
                        "[--default-dir D] [--overwrite ask|always|never] [--message T]\n",
                error.empty() ? "one archive expected" : error.c_str());
        return kExitUsage;
    }
    TZipBridge z;
    std::string last;
    Wire(z, last);
    if (const auto* v = a.Value("--caption")) z.SFXCaption = *v;
    if (const auto* v = a.Value("--default-dir")) z.SFXDefaultDir = *v;
    if (const auto* v = a.Value("--message")) z.SFXMessage = *v;
    if (const auto* v = a.Value("--overwrite")) {
        if (*v == "ask") z.SFXOverWriteMode = OvrConfirm;
        else if (*v == "always") z.SFXOverWriteMode = OvrAlways;
        else if (*v == "never") z.SFXOverWriteMode = OvrNever;
        else {
            fprintf(stderr, "varnok-cli sfx: --overwrite takes ask, always or never\n");
            return kExitUsage;
        }
    }
    const std::string& archive = a.operands[0];
    if (const auto* v = a.Value("-o")) z.ConvertTarget = *v;
    z.SetZipFileName(archive);
    const int r = z.ZipToSfx();
    if (r != 0) {
        fprintf(stderr, "varnok-cli: %s: cannot make a self-extractor (%d)%s%s\n", TerminalSafe(archive).c_str(), r,
                last.empty() ? "" : ": ", TerminalSafe(last).c_str());
        return kExitErrors;
    }
    printf("%s\n", TerminalSafe(z.ZipFileName()).c_str());
    return kExitOk;
}

int CmdUnsfx(int argc, char** argv) {
    Args a;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {}, {"-o"}, a, error) || a.operands.size() != 1) {
        fprintf(stderr, "varnok-cli unsfx: %s\nusage: varnok-cli unsfx PROGRAM [-o OUT.zip]\n",
                error.empty() ? "one program expected" : error.c_str());
        return kExitUsage;
    }
    TZipBridge z;
    std::string last;
    Wire(z, last);
    if (const auto* v = a.Value("-o")) z.ConvertTarget = *v;
    z.SetZipFileName(a.operands[0]);
    const int r = z.SfxToZip();
    if (r != 0) {
        fprintf(stderr, "varnok-cli: %s: cannot take the archive out (%d)%s%s\n", TerminalSafe(a.operands[0]).c_str(),
                r, last.empty() ? "" : ": ", TerminalSafe(last).c_str());
        return kExitErrors;
    }
    printf("%s\n", TerminalSafe(z.ZipFileName()).c_str());
    return kExitOk;
}

}  // namespace varnok::cli
