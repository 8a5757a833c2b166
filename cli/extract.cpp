// varnok-cli extract ARCHIVE [PATTERN...] [-d DIR] [-p PASSWORD] [--overwrite|--skip-existing|--update]
//                     [--flat] [-v] [--encoding CP] [--raw] [--max-ratio N] [--max-size SIZE]
// varnok-cli test ARCHIVE... [-p PASSWORD] [--encoding CP] [--raw] [--max-ratio N]
//
// Every failed entry is said once, in one line naming it: the extractor reports each entry's failure once
// (OnEntryFailed), and the errors it reports while an entry is being handled belong to that report. Only
// errors of the run as a whole are printed as they come.
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "archive/core/lister.h"
#include "archive/core/printable.h"
#include "archive/extractors.h"
#include "archive/formats/gzip/ungzip.h"
#include "archive/tools/zipcheck.h"
#include "cli/common.h"
#include "platform/fileattr.h"

namespace varnok::cli {

namespace {

struct Session {
    Reporter rep;
    bool passwordGiven = false;
    bool interactive = false;
    bool attemptSaid = false;  // a wrong password of the current entry was said
    std::string reason;        // why the entry whose verdict comes next failed
};

template <class T>
void WirePasswords(T& x, Session& s, const Args& args) {
    if (const std::string* p = args.Value("-p")) {
        x.Password = *p;
        x.Passwords = {*p};
        s.passwordGiven = true;
    }
    x.OnGetPassword = [&s](TZipCommon&, const std::string& name, std::string& pw, bool& tryAgain) {
        std::string answer;
        if (s.rep.progress) s.rep.progress->Clear();
        if (s.interactive && !s.passwordGiven &&
            AskTerminal("Password for " + TerminalSafe(name) + ": ", answer, true)) {
            pw = answer;
            return;
        }
        // No one to ask: the entry's failure says so.
        tryAgain = false;
    };
}

std::unique_ptr<TUnBase> MakeExtractor(const std::string& path, Session& s) {
    TArcLister probe;
    probe.OnError = [&](TZipCommon&, const std::string& f, const std::string& m, const std::string&,
                        int code) { s.rep.Error(f.empty() ? path : f, code, m); };
    probe.SetArchiveFile(path);
    if (!IsRecognised(probe.ArcType())) {
        if (probe.ArcType() != atFileOpenErr || s.rep.Count() == 0)
            s.rep.Error(path, probe.ArcType() == atFileOpenErr ? E_OpenFile : E_UnknownFileType);
        return nullptr;
    }
    auto x = CreateExtractor(probe.ArcType());
    if (!x) {
        s.rep.Error(path, E_InvalidArcType, ArcTypeShortName(probe.ArcType()));
        return nullptr;
    }
    return x;
}

// The text of an entry's failure, with a hint where the command line can help.
std::string FailureText(const Session& s, int code, const std::string& detail) {
    std::string text = ErrorText(code);
    if (!detail.empty() && detail != "0") text += ": " + detail;
    if (code == E_PasswordProtected && !s.passwordGiven && !s.interactive) text += " (give it with -p)";
    return text;
}

void AttachErrors(TUnBase& x, Session& s) {
    AttachConsole(x, s.rep);
    auto console = x.OnError;
    TUnBase* xp = &x;
    x.OnError = [&s, console, xp](TZipCommon& c, const std::string& f, const std::string& m,
                                  const std::string& v, int code) {
        if (xp->ReportingAttempt()) {
            // A wrong password is said once for its entry, whatever follows.
            if (s.attemptSaid) return;
            s.attemptSaid = true;
        } else if (xp->ReportingForEntry() && !xp->ReportingWarning()) {
            return;  // said with the entry's verdict
        }
        console(c, f, m, v, code);
    };
    x.OnEntryFailed = [&s](TZipCommon&, const std::string& stored, const std::string& output, int code,
                           const std::string& detail) {
        s.reason = FailureText(s, code, detail);
        // A wrong password said already is this entry's line.
        const bool said = s.attemptSaid && (code == E_InvalidPassword || code == E_PasswordProtected);
        if (!said) s.rep.Error(output.empty() ? stored : output, s.reason, code);
    };
}

}  // namespace

int CmdExtract(int argc, char** argv) {
    Args args;
    std::string err;
    auto usage = [&] {
        fprintf(stderr,
                "varnok-cli: %s\nusage: varnok-cli extract ARCHIVE [PATTERN...] [-d DIR] [-p PASSWORD] "
                "[--overwrite | --skip-existing | --update] [--flat] [-v] [--encoding CP] [--raw] "
                "[--max-ratio N] [--max-size SIZE]\n",
                err.empty() ? "no archive named" : err.c_str());
        return kExitUsage;
    };
    if (!ParseArgs(argc, argv, 2, {"--overwrite", "--skip-existing", "--update", "--flat", "-v", "--raw"},
                   {"-d", "-p", "--encoding", "--max-ratio", "--max-size"}, args, err) ||
        args.operands.empty())
        return usage();
    int modes = args.Has("--overwrite") + args.Has("--skip-existing") + args.Has("--update");
    if (modes > 1) {
        fprintf(stderr, "varnok-cli: --overwrite, --skip-existing and --update exclude each other\n");
        return kExitUsage;
    }
    Session s;
    s.interactive = Interactive();
    ProgressLine progress;
    s.rep.progress = &progress;
    const std::string& path = args.operands[0];
    auto x = MakeExtractor(path, s);
    if (!x) return s.rep.ExitStatus();
    if (!ApplyReadingOptions(args, *x, err) || !ApplyLimitOptions(args, *x, err)) return usage();
    AttachErrors(*x, s);
    WirePasswords(*x, s, args);
    x->SetArchiveFile(path);
    for (size_t i = 1; i < args.operands.size(); ++i)
        x->FileSpec.push_back(args.operands[i]);
    if (x->FileSpec.empty()) x->FileSpec.push_back("*.*");
    const std::string* dir = args.Value("-d");
    char cwd[4096];
    x->ExtractDir = dir ? *dir : (getcwd(cwd, sizeof cwd) ? cwd : ".");
    x->UseStoredDirs = !args.Has("--flat");
    x->CreateStoredDirs = !args.Has("--flat");
    const bool verbose = args.Has("-v");
    int skipped = 0;
    if (args.Has("--overwrite")) {
        x->ConfirmOverwrites = false;
    } else {
        x->ConfirmOverwrites = true;
        const bool update = args.Has("--update"), skip = args.Has("--skip-existing");
        TUnBase* xp = x.get();
        x->OnFileExists = [&, update, skip, xp](TZipCommon&, const std::string& file, std::string& newName,
                                                TOverwriteMode& mode) {
            if (update) {
                // Replace only with a newer entry.
                mode = xp->CurrentEntryDate() > platform::FileMTime(file) ? omOverwrite : omSkip;
            } else if (skip || !s.interactive) {
                mode = omSkip;
            } else {
                std::string a;
                progress.Clear();
                if (!AskTerminal("Replace " + TerminalSafe(file) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ",
                                 a, false))
                    a = "n";
                if (a == "A") xp->ConfirmOverwrites = false;
                if (a == "N") {
                    xp->OnFileExists = [](TZipCommon&, const std::string&, std::string&, TOverwriteMode& m) {
                        m = omSkip;
                    };
                }
                if (a == "r" && AskTerminal("New name: ", newName, false)) {
                    mode = omOverwrite;
                    return;
                }
                mode = (a == "y" || a == "A") ? omOverwrite : omSkip;
            }
            if (mode == omSkip) {
                ++skipped;
                if (!update && !skip)
                    fprintf(stderr, "varnok-cli: %s: exists, not replaced\n", TerminalSafe(file).c_str());
            }
        };
    }
    if (args.Has("--raw")) {
        // A compressed TAR comes out as the one file it compresses, not as what that file holds.
        if (auto* g = dynamic_cast<TUnGZip*>(x.get()))
            g->OnNestedTarFile = [](TZipCommon&, const std::string&, bool& doUnTar) { doUnTar = false; };
    }
    TUnBase* xp = x.get();
    x->OnBegin = [&progress](TZipCommon&, const std::string& name, int, bool&) { progress.Entry(name); };
    x->OnProgress = [&progress, xp](TZipCommon&, int, int byArchive) { progress.Update(byArchive, xp->RunTotal()); };
    int done = 0;  // files that came out whole
    x->OnEnd = [&](TZipCommon&, const std::string& name, bool pass) {
        if (pass) {
            ++done;
            if (verbose) {
                progress.Clear();
                printf("  extracted: %s\n", TerminalSafe(name).c_str());
            }
        }
        s.attemptSaid = false;
        s.reason.clear();
    };
    try {
        x->ExtractArchive();
    } catch (const ArchiveError& e) {
        if (s.rep.Count() == 0) s.rep.Error(e.FileName().empty() ? path : e.FileName(), e.Code(), e.Detail());
    }
    progress.Clear();
    if (x->FailedEntries() > 0 && s.rep.Count() == 0)
        s.rep.Error(path, "some entries could not be extracted", 0);
    printf("%d file%s extracted to %s", done, done == 1 ? "" : "s", TerminalSafe(x->ExtractDir).c_str());
    if (skipped) printf(", %d skipped", skipped);
    printf("\n");
    return s.rep.ExitStatus();
}

int CmdTest(int argc, char** argv) {
    Args args;
    std::string err;
    auto usage = [&] {
        fprintf(stderr,
                "varnok-cli: %s\nusage: varnok-cli test ARCHIVE... [-p PASSWORD] [--encoding CP] [--raw] "
                "[--max-ratio N]\n",
                err.empty() ? "no archive named" : err.c_str());
        return kExitUsage;
    };
    if (!ParseArgs(argc, argv, 2, {"--raw"}, {"-p", "--encoding", "--max-ratio"}, args, err) ||
        args.operands.empty())
        return usage();
    int status = kExitOk;
    std::vector<std::string> passwords;  // typed for one archive, tried on the next ones too
    for (const auto& path : args.operands) {
        Session s;
        s.interactive = Interactive();
        ProgressLine progress;
        s.rep.progress = &progress;
        const std::string shown = TerminalSafe(path);
        TZipCheck ck;
        AttachConsole(ck, s.rep);
        if (!ApplyReadingOptions(args, ck, err) || !ApplyLimitOptions(args, ck, err)) return usage();
        ck.LimitsHint = "--max-ratio raises the limit";
        InterruptGuard interrupt(ck.CancelPtr());
        ck.SetArchiveFile(path);
        if (!TZipCheck::CanTest(ck.ArcType())) {
            // Why, on standard error; the verdict with the others.
            if (ck.ArcType() == atFileOpenErr)
                s.rep.Error(path, E_OpenFile);
            else if (!IsRecognised(ck.ArcType()))
                s.rep.Error(path, E_UnknownFileType);
            else
                s.rep.Error(path, E_InvalidArcType, ArcTypeShortName(ck.ArcType()));
            printf("INVALID: Archive %s is not an valid archive\n", shown.c_str());
            status = kExitErrors;
            continue;
        }
        WirePasswords(ck, s, args);
        for (const auto& p : passwords)
            if (std::find(ck.Passwords.begin(), ck.Passwords.end(), p) == ck.Passwords.end())
                ck.Passwords.push_back(p);
        if (args.Has("--raw"))
            ck.OnNestedTarFile = [](TZipCommon&, const std::string&, bool& doUnTar) { doUnTar = false; };
        ck.FileSpec = {"*.*"};
        // Errors said while an entry is handled belong to its verdict line; a wrong password is said once.
        auto console = ck.OnError;
        ck.OnError = [&s, console](TZipCommon& c, const std::string& f, const std::string& m, const std::string& v,
                                   int code) {
            auto* x = dynamic_cast<TUnBase*>(&c);
            if (x && x->ReportingAttempt()) {
                if (s.attemptSaid) return;
                s.attemptSaid = true;
            } else if (x && x->ReportingForEntry() && !x->ReportingWarning()) {
                return;
            }
            console(c, f, m, v, code);
        };
        ck.OnEntryFailed = [&s](TZipCommon&, const std::string& stored, int code, const std::string& detail) {
            s.reason = FailureText(s, code, detail);
            // A wrong password said already is this entry's line.
            const bool said = s.attemptSaid && (code == E_InvalidPassword || code == E_PasswordProtected);
            if (!said) s.rep.Error(stored, s.reason, code);
        };
        ck.OnBegin = [&progress](TZipCommon&, const std::string& name, int, bool&) { progress.Entry(name); };
        ck.OnProgress = [&progress](TZipCommon& c, int, int byArchive) {
            auto* x = dynamic_cast<TUnBase*>(&c);
            progress.Update(byArchive, x ? x->RunTotal() : 0);
        };
        ck.OnStatus = [&](TZipCommon&, const std::string& name, bool pass) {
            progress.Clear();
            if (pass) {
                printf("OK      %s\n", TerminalSafe(name).c_str());
            } else {
                std::string why = s.reason.empty() ? ErrorText(E_CrcCheck) : s.reason;
                printf("FAILED  %s: %s\n", TerminalSafe(name).c_str(), TerminalSafe(why).c_str());
            }
            s.attemptSaid = false;
            s.reason.clear();
        };
        ck.Test();
        progress.Clear();
        for (const auto& p : ck.Passwords)
            if (std::find(passwords.begin(), passwords.end(), p) == passwords.end()) passwords.push_back(p);
        if (ck.Cancel()) {
            printf("INVALID: Archive %s: the test was stopped\n", shown.c_str());
            return kExitErrors;
        }
        // One verdict, counting failed entries and the errors of the run (also those said here, such as a
        // volume not found beside the archive).
        const int errors = std::max(ck.ErrorCount(), s.rep.Count());
        if (errors) {
            printf("INVALID: Archive %s tested, %d errors were found.\n", shown.c_str(), errors);
            status = kExitErrors;
        } else {
            printf("VALID: Archive %s tested, no errors were found.\n", shown.c_str());
        }
    }
    return status;
}

}  // namespace varnok::cli
