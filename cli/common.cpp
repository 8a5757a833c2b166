#include "cli/common.h"

#include <cstdio>

#include "archive/core/errors.h"
#include "archive/core/names.h"
#include "archive/core/printable.h"
#include "platform/fileattr.h"

namespace varnok::cli {

void Reporter::Error(const std::string& file, const std::string& text, int code) {
    ++count_;
    // Names and texts from archives never reach the terminal raw.
    const std::string f = TerminalSafe(file), t = TerminalSafe(text);
    if (code)
        fprintf(stderr, "varnok-cli: %s: %s (code %d)\n", f.c_str(), t.c_str(), code);
    else
        fprintf(stderr, "varnok-cli: %s: %s\n", f.c_str(), t.c_str());
}

void Reporter::Error(const std::string& file, int code, const std::string& detail) {
    std::string text = ErrorText(code);
    if (!detail.empty() && detail != "0") text += ": " + detail;
    Error(file, text, code);
}

void AttachConsole(TZipCommon& c, Reporter& r) {
    c.OnError = [&r](TZipCommon& s, const std::string& file, const std::string& msg, const std::string&,
                     int code) {
        std::string detail = msg;
        if (code == E_EventNotAssigned) detail = "no answer to " + msg;
        r.Error(file.empty() ? s.ArchiveFile() : file, code, detail);
    };
    c.OnNextVolume = [&r](TZipCommon&, std::string& name, const std::string&, bool exists, bool& cancel) {
        if (exists) {
            cancel = false;
            return;
        }
        r.Error(name, "next volume not found", E_FileNotFound);
        cancel = true;
    };
    c.OnGetZipFirstDisk = [](TZipCommon&, bool& cancel) { cancel = true; };
    c.OnGetZipNextDisk = [](TZipCommon&, const std::string&, bool& cancel) { cancel = true; };
    c.OnGetZipLastDisk = [](TZipCommon&, bool& cancel) { cancel = true; };
}

bool ApplyReadingOptions(const Args& args, TZipCommon& c, std::string& error) {
    if (const std::string* cp = args.Value("--encoding")) {
        if (!NameCoding().Force(*cp)) {
            error = "unknown code page " + TerminalSafe(*cp) + " (iconv -l lists them)";
            return false;
        }
        c.NameCodePage = *cp;
    }
    c.OpenTarInside = !args.Has("--raw");
    return true;
}

bool Args::Has(const std::string& f) const {
    for (const auto& x : flags)
        if (x == f) return true;
    return false;
}

const std::string* Args::Value(const std::string& f) const {
    const std::string* r = nullptr;
    for (const auto& [k, v] : values)
        if (k == f) r = &v;
    return r;
}

bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& known,
               const std::vector<std::string>& withValue, Args& out, std::string& error) {
    bool options = true;
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && a.size() > 1 && a[0] == '-') {
            bool takes = false;
            for (const auto& w : withValue)
                takes |= w == a;
            if (takes) {
                if (i + 1 >= argc) {
                    error = "option " + a + " needs a value";
                    return false;
                }
                out.values.emplace_back(a, argv[++i]);
                continue;
            }
            bool ok = false;
            for (const auto& k : known)
                ok |= k == a;
            if (!ok) {
                error = "unknown option " + a;
                return false;
            }
            out.flags.push_back(a);
            continue;
        }
        out.operands.push_back(a);
    }
    return true;
}

}  // namespace varnok::cli
