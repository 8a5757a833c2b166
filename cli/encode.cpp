// varnok-cli encode uue|xxe|mime FILE... [-o OUT] [--volume-size N] [--table] [--overwrite] [-v]
//
// Each FILE becomes a 7-bit text of its own (FILE.uue, FILE.xxe or FILE.mim beside it unless -o says where),
// through the registry's encoder. The encoder writes beside the target and renames into place at the end, so
// Ctrl-C or an error leaves no partial text; an existing text is replaced only with --overwrite, because a
// script must not lose a file by running twice. Success is printed (with -v) only for files written without
// an error.
#include <sys/stat.h>

#include <cstdio>

#include "archive/core/errors.h"
#include "archive/core/printable.h"
#include "archive/core/utils.h"
#include "archive/formats/uue/uue_writer.h"
#include "cli/common.h"

namespace varnok::cli {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int UsageError(const std::string& text) {
    fprintf(stderr, "varnok-cli: %s\n", TerminalSafe(text).c_str());
    return kExitUsage;
}

}  // namespace

int CmdEncode(int argc, char** argv) {
    Args args;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {"--table", "--overwrite", "-v"}, {"-o", "--volume-size"}, args, error))
        return UsageError(error);
    if (args.operands.size() < 2)
        return UsageError("encode needs a method (uue, xxe or mime) and at least one file");
    const std::string& how = args.operands[0];
    const TCompressMethod method = how == "uue"                       ? cmUUEncode
                                   : how == "xxe"                     ? cmXXEncode
                                   : how == "mime" || how == "base64" ? cmBase64
                                                                      : cmStore;
    if (method == cmStore) return UsageError("unknown encoding " + how + " (uue, xxe or mime)");
    const char* ext = method == cmUUEncode ? ".uue" : method == cmXXEncode ? ".xxe" : ".mim";
    uint64_t volumeSize = 0;
    if (const std::string* v = args.Value("--volume-size")) {
        if (!ParseByteCount(*v, volumeSize))
            return UsageError("--volume-size takes a size in bytes (\"64K\", \"1M\"; 0: one file), not " +
                              *v);
    }
    if (args.Has("--table") && method == cmBase64) return UsageError("--table is for uue and xxe");
    const std::vector<std::string> files(args.operands.begin() + 1, args.operands.end());
    const std::string* out = args.Value("-o");
    const bool outIsDir = out && (IsDirectory(*out) || (!out->empty() && out->back() == '/'));
    if (out && files.size() > 1 && !outIsDir) return UsageError("with several files, -o names a folder");
    if (out && outIsDir && !IsDirectory(*out)) return UsageError("no folder " + *out);

    Reporter rep;
    const bool overwrite = args.Has("--overwrite");
    for (const std::string& file : files) {
        std::string target;
        if (!out)
            target = file + ext;
        else if (outIsDir)
            target = RemoveSlash(*out) + "/" + ExtractFileName(file) + ext;
        else
            target = *out;
        TUUEncode w;
        w.SetCompressMethod(method);
        w.SetArchiveFile(file);
        w.SetOutFilename(target);
        w.VolumeSize = volumeSize;
        w.WriteTableToFile = args.Has("--table");
        AttachConsole(w, rep);
        w.OnFileExists = [&rep, overwrite](TZipCommon&, const std::string& name, int64_t,
                                           TOverwriteMode& mode) {
            mode = overwrite ? omOverwrite : omSkip;
            if (!overwrite) rep.Error(name, "exists; it was kept (--overwrite replaces it)", 0);
        };
        w.OnNonWriteableArchive = [&rep](TZipCommon&, const std::string& name, bool& write) {
            rep.Error(name, "is read-only; it was kept", E_FileReadOnly);
            write = false;
        };
        const int before = rep.Count();
        int written = 0;
        {
            InterruptGuard guard(w.CancelPtr());
            written = w.CompressArchive();
        }
        if (written == 1 && rep.Count() == before && args.Has("-v"))
            printf("%s -> %s\n", TerminalSafe(file).c_str(), TerminalSafe(w.OutFilename()).c_str());
        if (w.Cancel()) break;
    }
    return rep.ExitStatus();
}

}  // namespace varnok::cli
