// varnok-cli extract ARCHIVE [PATTERN...] [-d DIR] [-p PASSWORD] [--overwrite|--skip-existing|--update]
// [--flat] varnok-cli test ARCHIVE... [-p PASSWORD]
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "archive/core/lister.h"
#include "archive/extractors.h"
#include "cli/common.h"
#include "platform/fileattr.h"

namespace varnok::cli {

namespace {

// Reads a line from the terminal, without echo when asked.
bool AskTerminal(const std::string& prompt, std::string& answer, bool hidden) {
    FILE* tty = fopen("/dev/tty", "r+");
    if (!tty) return false;
    fputs(prompt.c_str(), tty);
    fflush(tty);
    termios old{};
    bool restore = false;
    if (hidden && tcgetattr(fileno(tty), &old) == 0) {
        termios t = old;
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        restore = tcsetattr(fileno(tty), TCSANOW, &t) == 0;
    }
    char buf[1024];
    bool ok = fgets(buf, sizeof buf, tty) != nullptr;
    if (restore) {
        tcsetattr(fileno(tty), TCSANOW, &old);
        fputs("\n", tty);
    }
    fclose(tty);
    if (!ok) return false;
    answer = buf;
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    return true;
}

bool Interactive() {
    return isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
}

// Shows names safely on a terminal: control characters as escapes.
std::string Printable(const std::string& s) {
    std::string r;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F) {
            char b[8];
            snprintf(b, sizeof b, "\\x%02x", c);
            r += b;
        } else {
            r += static_cast<char>(c);
        }
    }
    return r;
}

struct Session {
    Reporter rep;
    std::map<std::string, std::string> lastError;  // entry -> the error it met
    bool passwordGiven = false;
    bool interactive = false;
    std::string lastFile;  // the last error said, and whom it named
    int lastCode = 0;
};

void WirePasswords(TUnBase& x, Session& s, const Args& args) {
    if (const std::string* p = args.Value("-p")) {
        x.Password = *p;
        x.Passwords = {*p};
        s.passwordGiven = true;
    }
    x.OnGetPassword = [&s](TZipCommon&, const std::string& name, std::string& pw, bool& tryAgain) {
        if (s.interactive && !s.passwordGiven) {
            std::string answer;
            if (AskTerminal("Password for " + Printable(name) + ": ", answer, true)) {
                pw = answer;
                return;
            }
        }
        tryAgain = false;
        s.lastError[name] = s.passwordGiven ? "Invalid password" : "password required (give it with -p)";
        s.lastCode = s.passwordGiven ? E_InvalidPassword : E_PasswordProtected;
        s.lastFile = name;
        s.rep.Error(name, s.lastError[name], s.lastCode);
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

void AttachEntryErrors(TUnBase& x, Session& s) {
    AttachConsole(x, s.rep);
    auto base = x.OnError;
    x.OnError = [&s, base](TZipCommon& c, const std::string& f, const std::string& m, const std::string& v,
                           int code) {
        std::string text = ErrorText(code);
        if (!m.empty() && m != "0" && code != E_EventNotAssigned) text += ": " + m;
        // The entry a password was refused for is left out: said already, under its stored name.
        const bool said =
            (code == s.lastCode || (code == E_InvalidPassword && s.lastCode == E_PasswordProtected)) &&
            SameEntryPath(f, s.lastFile);
        s.lastError[f] = said ? s.lastError[s.lastFile] : text;
        if (said || (code == E_EventNotAssigned && m == "OnGetPassword"))
            return;  // said already by the password handler
        s.lastCode = code;
        s.lastFile = f;
        base(c, f, m, v, code);
    };
}

}  // namespace

int CmdExtract(int argc, char** argv) {
    Args args;
    std::string err;
    if (!ParseArgs(argc, argv, 2, {"--overwrite", "--skip-existing", "--update", "--flat", "-v"},
                   {"-d", "-p"}, args, err) ||
        args.operands.empty()) {
        fprintf(stderr,
                "varnok-cli: %s\nusage: varnok-cli extract ARCHIVE [PATTERN...] [-d DIR] [-p PASSWORD] "
                "[--overwrite | --skip-existing | --update] [--flat]\n",
                err.empty() ? "no archive named" : err.c_str());
        return kExitUsage;
    }
    int modes = args.Has("--overwrite") + args.Has("--skip-existing") + args.Has("--update");
    if (modes > 1) {
        fprintf(stderr, "varnok-cli: --overwrite, --skip-existing and --update exclude each other\n");
        return kExitUsage;
    }
    Session s;
    s.interactive = Interactive();
    const std::string& path = args.operands[0];
    auto x = MakeExtractor(path, s);
    if (!x) return s.rep.ExitStatus();
    AttachEntryErrors(*x, s);
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
                if (!AskTerminal("Replace " + Printable(file) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ", a,
                                 false))
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
                    fprintf(stderr, "varnok-cli: %s: exists, not replaced\n", Printable(file).c_str());
            }
        };
    }
    int done = 0;  // files that came out whole
    x->OnEnd = [&](TZipCommon&, const std::string& name, bool pass) {
        if (!pass) {
            auto it = s.lastError.find(name);
            if (it == s.lastError.end() || it->second.empty()) s.rep.Error(name, E_CrcCheck);
        } else {
            ++done;
            if (verbose) printf("  extracted: %s\n", Printable(name).c_str());
        }
    };
    try {
        x->ExtractArchive();
    } catch (const ArchiveError& e) {
        if (s.rep.Count() == 0) s.rep.Error(e.FileName().empty() ? path : e.FileName(), e.Code(), e.Detail());
    }
    if (x->FailedEntries() > 0 && s.rep.Count() == 0)
        s.rep.Error(path, "some entries could not be extracted", 0);
    printf("%d file%s extracted to %s", done, done == 1 ? "" : "s", x->ExtractDir.c_str());
    if (skipped) printf(", %d skipped", skipped);
    printf("\n");
    return s.rep.ExitStatus();
}

int CmdTest(int argc, char** argv) {
    Args args;
    std::string err;
    if (!ParseArgs(argc, argv, 2, {}, {"-p"}, args, err) || args.operands.empty()) {
        fprintf(stderr, "varnok-cli: %s\nusage: varnok-cli test ARCHIVE... [-p PASSWORD]\n",
                err.empty() ? "no archive named" : err.c_str());
        return kExitUsage;
    }
    int status = kExitOk;
    for (const auto& path : args.operands) {
        Session s;
        s.interactive = Interactive();
        auto x = MakeExtractor(path, s);
        if (!x) {
            printf("%s: FAILED\n", path.c_str());
            status = kExitErrors;
            continue;
        }
        AttachEntryErrors(*x, s);
        WirePasswords(*x, s, args);
        x->SetArchiveFile(path);
        x->FileSpec = {"*.*"};
        int bad = 0, good = 0;
        x->OnEnd = [&](TZipCommon&, const std::string& name, bool pass) {
            if (pass) {
                ++good;
                printf("OK      %s\n", Printable(name).c_str());
            } else {
                ++bad;
                auto it = s.lastError.find(name);
                std::string why = it != s.lastError.end() ? it->second : ErrorText(E_CrcCheck);
                printf("FAILED  %s: %s\n", Printable(name).c_str(), why.c_str());
            }
        };
        try {
            x->TestArchive();
        } catch (const ArchiveError& e) {
            s.rep.Error(e.FileName().empty() ? path : e.FileName(), e.Code(), e.Detail());
        }
        bad = std::max(bad, x->FailedEntries());
        if (bad || s.rep.Count()) {
            printf("%s: FAILED (%d error%s)\n", path.c_str(), std::max(bad, s.rep.Count()),
                   std::max(bad, s.rep.Count()) == 1 ? "" : "s");
            status = kExitErrors;
        } else {
            printf("%s: OK (%d entr%s)\n", path.c_str(), good, good == 1 ? "y" : "ies");
        }
    }
    return status;
}

}  // namespace varnok::cli
