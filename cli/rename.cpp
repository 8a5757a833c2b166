// varnok-cli rename and comment: entry renaming through the ZIP bridge and the archive comment through the
// ZIP writer. Both rewrite the archive beside itself and replace it in one step, so a failure leaves it as it
// was.
#include <cstdio>

#include "archive/core/printable.h"
#include "archive/formats/zip/zip_writer.h"
#include "cli/common.h"
#include "platform/fileattr.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::cli {

int CmdRename(int argc, char** argv) {
    Args a;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {}, {}, a, error) || a.operands.size() != 3) {
        fprintf(stderr, "varnok-cli rename: %s\nusage: varnok-cli rename ARCHIVE OLD NEW\n"
                        "  a file renames by its whole name; a folder (OLD ending in /) with all it holds\n",
                error.empty() ? "archive, old and new name expected" : error.c_str());
        return kExitUsage;
    }
    const std::string& archive = a.operands[0];
    TZipBridge z;
    z.Unattended = true;
    z.UseDirOnlyEntries = true;
    std::string last;
    z.OnMessage = [&last](TZipBridge&, int, const std::string& m) { last = m; };
    z.SetZipFileName(archive);
    const int r = z.Rename({{a.operands[1], a.operands[2]}});
    if (r == -10) {
        fprintf(stderr, "varnok-cli: %s: a file must be renamed to a file name, not a folder\n",
                TerminalSafe(archive).c_str());
        return kExitErrors;
    }
    if (r != 0) {
        fprintf(stderr, "varnok-cli: %s: %s\n", TerminalSafe(archive).c_str(), TerminalSafe(last).c_str());
        return kExitErrors;
    }
    return kExitOk;
}

int CmdComment(int argc, char** argv) {
    Args a;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {}, {"--set", "--file"}, a, error) || a.operands.size() != 1 ||
        (a.Value("--set") && a.Value("--file"))) {
        fprintf(stderr, "varnok-cli comment: %s\nusage: varnok-cli comment ARCHIVE [--set TEXT | --file F]\n",
                error.empty() ? "one archive, and at most one of --set and --file" : error.c_str());
        return kExitUsage;
    }
    const std::string& archive = a.operands[0];
    const std::string* set = a.Value("--set");
    std::string text;
    if (const std::string* f = a.Value("--file")) {
        FILE* in = fopen(f->c_str(), "rb");
        if (!in) {
            fprintf(stderr, "varnok-cli: %s: %s\n", TerminalSafe(*f).c_str(), platform::LastErrorText().c_str());
            return kExitErrors;
        }
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, in)) > 0 && text.size() <= 65535)
            text.append(buf, n);
        fclose(in);
        set = &text;
    }
    TZipBridge z;
    z.Unattended = true;
    std::string last;
    z.OnMessage = [&last](TZipBridge&, int, const std::string& m) { last = m; };
    if (!platform::FileExists(archive)) {
        fprintf(stderr, "varnok-cli: %s: no such file\n", TerminalSafe(archive).c_str());
        return kExitErrors;
    }
    z.SetZipFileName(archive);
    if (z.ZipEOCOffset() == 0 && z.ZipFileSize() != 22) {
        fprintf(stderr, "varnok-cli: %s: %s\n", TerminalSafe(archive).c_str(), TerminalSafe(last).c_str());
        return kExitErrors;
    }
    if (!set) {
        const std::string c = z.ZipComment();
        if (!c.empty()) printf("%s\n", TerminalSafe(c).c_str());
        return kExitOk;
    }
    // Stored as the window stores it: in the archive's OEM page when that holds the text.
    const std::string stored = z.CommentBytes(*set);
    if (stored.size() > 65535) {
        fprintf(stderr, "varnok-cli: %s: a ZIP comment holds at most 65535 bytes\n", TerminalSafe(archive).c_str());
        return kExitErrors;
    }
    Reporter rep;
    TZip w;
    AttachConsole(w, rep);
    InterruptGuard guard(w.CancelPtr());
    w.SetArchiveFile(archive);
    w.SetArchiveComment(stored);
    w.FileSpec.clear();
    w.Switch = swAdd;
    w.CompressArchive();
    if (w.Failed() && rep.Count() == 0) rep.Error(archive, "the comment was not written", 0);
    return rep.ExitStatus();
}

}  // namespace varnok::cli
