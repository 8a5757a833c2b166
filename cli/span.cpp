// varnok-cli span and join: a ZIP archive written as a spanned set of volumes, and a set joined back into one
// archive, through the ZIP bridge.
//
// On a fixed drive the volumes are files (archive001.zip, ... or, with --naming z01, archive.z01, ...,
// archive.zip as Info-ZIP's "zip -s" names them, which 7-Zip, unar and "zip -s 0" read). On a removable drive
// each volume goes onto its own disk, and the disks are asked for on the terminal; without one to ask the run
// is cancelled. Files already there are replaced only with --overwrite (or a "y" on the terminal). A failure
// or cancel leaves the archive, and any file the set or the joined archive would replace, as they were.
#include <cstdio>

#include "archive/core/printable.h"
#include "archive/core/utils.h"
#include "cli/common.h"
#include "platform/fileattr.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::cli {
namespace {

// Wires the bridge's disk questions to the terminal, or to refusals when nobody is there.
void AttachDiskQuestions(TZipBridge& z, bool overwrite) {
    z.OnGetNextDisk = [](TZipBridge&, int seq, int total, const std::string& drive, bool& abort) {
        std::string answer;
        std::string prompt = seq == 0 ? "Insert the last disk of the set into " + drive
                                      : "Insert disk " + std::to_string(seq) + " of " + std::to_string(total) +
                                            " into " + drive;
        abort = !Interactive() || !AskTerminal(prompt + " and press Enter (q to cancel): ", answer, false) ||
                answer == "q";
    };
    z.OnStatusDisk = [overwrite](TZipBridge&, int, const std::string& file, int status, int& action) {
        if (status & TZipBridge::zdsNotEnoughSpace) {
            std::string answer;
            bool retry = Interactive() &&
                         AskTerminal("This disk has not enough free space. Insert another and press Enter "
                                     "(q to cancel): ",
                                     answer, false) &&
                         answer != "q";
            action = retry ? TZipBridge::zdaOk : TZipBridge::zdaCancel;
            return;
        }
        if (overwrite) {
            action = TZipBridge::zdaOk;
            return;
        }
        std::string answer;
        if (Interactive() && AskTerminal(TerminalSafe(file) + " exists. Overwrite it? [y/N] ", answer, false) &&
            (answer == "y" || answer == "Y")) {
            action = TZipBridge::zdaOk;
            return;
        }
        fprintf(stderr, "varnok-cli: %s exists (use --overwrite to replace it)\n", TerminalSafe(file).c_str());
        action = TZipBridge::zdaCancel;
    };
}

}  // namespace

int CmdSpan(int argc, char** argv) {
    Args a;
    std::string error;
    uint64_t size = 0;
    const std::string* naming = nullptr;
    bool ok = ParseArgs(argc, argv, 2, {"--overwrite"}, {"--volume-size", "--naming", "-o"}, a, error) &&
              a.operands.size() == 1;
    if (ok) {
        const std::string* v = a.Value("--volume-size");
        naming = a.Value("--naming");
        if (!v || !ParseByteCount(*v, size) || size == 0 || size > (uint64_t{1} << 62)) {
            ok = false;
            error = "--volume-size takes a size (64K, 1440K, 100M)";
        } else if (naming && *naming != "numbered" && *naming != "z01") {
            ok = false;
            error = "--naming takes numbered or z01";
        }
    }
    if (!ok) {
        fprintf(stderr,
                "varnok-cli span: %s\nusage: varnok-cli span ARCHIVE --volume-size N [--naming numbered|z01] "
                "[-o NAME] [--overwrite]\n",
                error.empty() ? "one archive expected" : error.c_str());
        return kExitUsage;
    }
    const std::string& archive = a.operands[0];
    std::string name = a.Value("-o") ? *a.Value("-o") : archive;
    TZipBridge z;
    z.MaxVolumeSize = static_cast<int64_t>(size);
    // A volume size the user chose is taken as it is, however small.
    z.MinFreeVolumeSize = 1;
    z.SpanNaming = naming && *naming == "z01" ? TZipBridge::snZ01 : TZipBridge::snNumbered;
    AttachDiskQuestions(z, a.Has("--overwrite"));
    CancelFlag stop{false};
    InterruptGuard guard(&stop);
    z.ProcessMessages = [&] {
        if (stop) z.SetCancel(true);
    };
    if (z.WriteSpan(archive, name) != 0) {
        fprintf(stderr, "varnok-cli: %s: %s\n", TerminalSafe(archive).c_str(), TerminalSafe(z.LastMessage()).c_str());
        return kExitErrors;
    }
    for (const auto& v : z.SpanVolumes())
        printf("%s\n", TerminalSafe(v).c_str());
    return kExitOk;
}

int CmdJoin(int argc, char** argv) {
    Args a;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {"--overwrite"}, {"-o"}, a, error) || a.operands.size() != 1 || !a.Value("-o")) {
        fprintf(stderr, "varnok-cli join: %s\nusage: varnok-cli join SET -o OUT.zip [--overwrite]\n"
                        "  SET: the last volume (archive003.zip, archive.zip of archive.z01 ...)\n",
                error.empty() ? "the set's last volume and -o OUT.zip expected" : error.c_str());
        return kExitUsage;
    }
    const std::string& set = a.operands[0];
    std::string out = *a.Value("-o");
    if (ExtractFileExt(out).empty()) out += ".zip";
    if (platform::PathExists(out) && !a.Has("--overwrite")) {
        fprintf(stderr, "varnok-cli: %s exists (use --overwrite to replace it)\n", TerminalSafe(out).c_str());
        return kExitErrors;
    }
    TZipBridge z;
    AttachDiskQuestions(z, false);
    CancelFlag stop{false};
    InterruptGuard guard(&stop);
    z.ProcessMessages = [&] {
        if (stop) z.SetCancel(true);
    };
    if (z.ReadSpan(set, out) != 0) {
        fprintf(stderr, "varnok-cli: %s: %s\n", TerminalSafe(set).c_str(), TerminalSafe(z.LastMessage()).c_str());
        return kExitErrors;
    }
    printf("%s\n", TerminalSafe(out).c_str());
    return kExitOk;
}

}  // namespace varnok::cli
