// varnok-cli add ARCHIVE FILE... [--type T] [--level 0-4] [-r] [-p PASSWORD] [--move] [--update|--freshen]
//                [--paths relative|full|none] [--exclude PATTERN]... [--comment TEXT] [--encoding CP] [-v]
//                [--method lh0|lh5|lh6 (LHA) | store|mszip|lzx|quantum (CAB)] [--lzx-level 15-21]
//                [--quantum-level 1-7]
// varnok-cli delete ARCHIVE PATTERN... [-v]
// Either with --engine (ZIP only): the same command through the ZIP bridge and its add/delete engine library.
//
// Both run a writer of the format registry. The archive is rebuilt beside itself and replaced only when the
// whole run succeeded; Ctrl-C cancels the run and leaves the archive as it was.
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/core/compbase.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/names.h"
#include "archive/core/printable.h"
#include "archive/core/utils.h"
#include "archive/formats/cab/cab_writer.h"
#include "archive/formats/zip/zip_writer.h"
#include "cli/common.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::cli {

namespace {

struct WriterChoice {
    std::unique_ptr<TCompBase> writer;
    bool gzipTar = false;
};

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && LowerAscii(s.substr(s.size() - tail.size())) == tail;
}

WriterChoice WriterForType(const std::string& type) {
    WriterChoice c;
    const bool tgz = type == "tgz";
    const TArcType t = type == "zip"  ? atZip
                       : type == "jar" ? atJar
                       : type == "bh"  ? atBh
                       : type == "lha" ? atLha
                       : type == "tar" || tgz ? atTar
                       : type == "gz"  ? atGZip
                       : type == "cab" ? atCab
                                       : atNA;
    const FormatRecord* f = t == atNA ? nullptr : FormatOf(t);
    if (f && f->writer) c.writer = f->writer(t);
    c.gzipTar = tgz && c.writer;
    return c;
}

// The writer from --type, else from the archive's name, else ZIP.
WriterChoice ChooseWriter(const std::string& archive, const std::string* type) {
    if (type) return WriterForType(*type);
    if (EndsWith(archive, ".tgz") || EndsWith(archive, ".tar.gz") || EndsWith(archive, ".taz"))
        return WriterForType("tgz");
    const std::string ext = LowerAscii(ExtractFileExt(archive));
    if (ext.size() > 1) {
        for (const FormatRecord* f : Formats()) {
            // Encoded text is made by varnok-cli encode: it holds one file, not entries to add.
            if (!f->writer || f->Has(atUue)) continue;
            for (const auto& ft : f->fileTypes)
                for (const auto& x : ft.extensions)
                    if (x == ext.substr(1)) {
                        WriterChoice c;
                        // The file type's own type value: "jar" is the JAR writer of the ZIP family.
                        c.writer = f->writer(ext == ".jar" ? atJar : f->types.front().type);
                        return c;
                    }
        }
    }
    return WriterForType("zip");
}

void Wire(TCompBase& w, Reporter& rep, bool verbose) {
    AttachConsole(w, rep);
    w.OnNonWriteableArchive = [&rep](TZipCommon&, const std::string& name, bool& write) {
        rep.Error(name, "the archive is read-only; it was not changed", E_FileReadOnly);
        write = false;
    };
    if (verbose)
        w.OnEnd = [](TZipCommon&, const std::string& name, bool) {
            printf("  %s\n", TerminalSafe(name).c_str());
        };
}

// --engine: the same add or delete on a ZIP archive through the ZIP bridge and the add/delete engine library
// (libvarnok-zipdll.so) instead of the writer itself; same names, same output, same exit codes.
int RunThroughEngine(const Args& args, const std::string& archive, bool deleting, int level) {
    TZipBridge z;
    z.Unattended = true;
    int errors = 0;
    bool said = false;
    z.OnMessage = [&](TZipBridge&, int code, const std::string& text) {
        said = true;
        // The bridge's own messages carry 0 (the library says nothing else with 0 unless traced): they and the
        // library's errors count; its warnings (1) are only shown.
        if (code != 1) ++errors;
        fprintf(stderr, "varnok-cli: %s\n", TerminalSafe(text).c_str());
    };
    if (args.Has("-v"))
        z.OnProgress = [](TZipBridge&, int kind, const std::string& name, int64_t) {
            if (kind == 0) printf("  %s\n", TerminalSafe(name).c_str());
        };
    z.SetZipFileName(archive);
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return kExitErrors;
    std::vector<std::string> items(args.operands.begin() + 1, args.operands.end());
    if (deleting) {
        for (auto& p : items)
            while (p.size() > 1 && p.back() == '/')
                p.pop_back();
        z.FSpecArgs = items;
        const int n = z.Delete();
        if (args.Has("-v") && n > 0) printf("%d entr%s deleted\n", n, n == 1 ? "y" : "ies");
        return errors || (n == 0 && said) ? kExitErrors : kExitOk;
    }
    static constexpr int kLevels[] = {0, 1, 2, 7, 9};
    z.AddCompLevel = kLevels[level];
    // As the writer is run directly: hidden files too, names relative to the current folder (or as asked).
    z.AddOptions = {AddHiddenFiles};
    const std::string paths = args.Value("--paths") ? *args.Value("--paths") : "relative";
    if (paths == "relative") {
        z.AddOptions.Include(AddDirNames);
        z.SetRootDir(cwd);
    } else if (paths == "full") {
        z.AddOptions.Include(AddDirNames);
        z.SetRootDir("/");
    }
    if (args.Has("-r")) z.AddOptions.Include(AddRecurseDirs);
    if (args.Has("--move")) z.AddOptions.Include(AddMove);
    if (args.Has("--update")) z.AddOptions.Include(AddUpdate);
    if (args.Has("--freshen")) z.AddOptions.Include(AddFreshen);
    if (const std::string* p = args.Value("-p")) {
        z.Password = *p;
        z.AddOptions.Include(AddEncrypt);
    }
    for (const auto& [k, v] : args.values)
        if (k == "--exclude") z.FSpecArgsExcl.push_back(v);
    if (const std::string* c = args.Value("--comment")) z.AddComment = *c;
    // A folder named on its own is added with everything it holds, as the writer does.
    for (auto& it : items) {
        struct stat st {};
        const std::string path = !it.empty() && it[0] == '/' ? it : std::string(cwd) + "/" + it;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) it = ">" + it;
    }
    z.FSpecArgs = items;
    const int added = z.Add();
    if (args.Has("-v") || added == 0)
        fprintf(added == 0 ? stderr : stdout, "%d file%s added%s\n", added, added == 1 ? "" : "s",
                added == 0 ? "; the archive was not changed" : "");
    return errors || added == 0 ? kExitErrors : kExitOk;
}

}  // namespace

int CmdAdd(int argc, char** argv) {
    Args args;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {"-r", "--move", "--update", "--freshen", "-v", "--engine"},
                   {"--type", "--level", "-p", "--paths", "--exclude", "--comment", "--encoding", "--method",
                    "--lzx-level", "--quantum-level"},
                   args,
                   error)) {
        fprintf(stderr, "varnok-cli: %s\n", TerminalSafe(error).c_str());
        return kExitUsage;
    }
    if (args.operands.size() < 2 && !(args.operands.size() == 1 && args.Value("--comment"))) {
        fprintf(stderr, "varnok-cli: add needs an archive and at least one file (or --comment)\n");
        return kExitUsage;
    }
    if (args.Has("--update") && args.Has("--freshen")) {
        fprintf(stderr, "varnok-cli: --update and --freshen exclude each other\n");
        return kExitUsage;
    }
    const std::string archive = args.operands[0];
    const std::string* type = args.Value("--type");
    if (!type) {
        const std::string ext = LowerAscii(ExtractFileExt(archive));
        for (const auto& x : FormatOf(atUue)->Extensions())
            if (ext == "." + x) {
                fprintf(stderr, "varnok-cli: %s is encoded text: make it with varnok-cli encode\n",
                        TerminalSafe(archive).c_str());
                return kExitUsage;
            }
    }
    WriterChoice choice = ChooseWriter(archive, type);
    if (!choice.writer) {
        fprintf(stderr, "varnok-cli: unknown archive type %s (zip, jar, bh, lha, tar, tgz, gz, cab)\n",
                TerminalSafe(type ? *type : archive).c_str());
        return kExitUsage;
    }
    TCompBase& w = *choice.writer;
    int level = 3;
    if (const std::string* l = args.Value("--level")) {
        if (l->size() != 1 || (*l)[0] < '0' || (*l)[0] > '4') {
            fprintf(stderr, "varnok-cli: --level takes 0 (store) to 4 (maximum)\n");
            return kExitUsage;
        }
        level = (*l)[0] - '0';
    }
    static constexpr TDeflateType kLevels[] = {dtDeflateN, dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX};
    w.DeflateType = kLevels[level];
    if (choice.gzipTar)
        w.SetCompressMethod(cmGzipTar);
    else if (level == 0)
        w.SetCompressMethod(cmStore);
    auto* cab = dynamic_cast<TMakeCab*>(&w);
    if (const std::string* cm = cab ? args.Value("--method") : nullptr) {
        // The cabinet methods by name; "quantum" is real Quantum compression.
        if (*cm != "store" && *cm != "mszip" && *cm != "lzx" && *cm != "quantum") {
            fprintf(stderr, "varnok-cli: --method takes store, mszip, lzx or quantum, for CAB archives\n");
            return kExitUsage;
        }
        cab->SetCompressMethod(*cm == "store" ? cmStore : *cm == "mszip" ? cmMsZip : *cm == "lzx" ? cmLzx : cmQuantum);
        cab->QuantumType = ctQuantum;
    } else if (const std::string* m = args.Value("--method")) {
        // The LHA methods by name.
        const TCompressMethod lha = *m == "lh0" ? cmStore : *m == "lh5" ? cmFrozen5 : cmFrozen6;
        if (w.ArcType() != atLha || (*m != "lh0" && *m != "lh5" && *m != "lh6")) {
            fprintf(stderr, "varnok-cli: --method takes lh0, lh5 or lh6, for LHA archives\n");
            return kExitUsage;
        }
        w.SetCompressMethod(lha);
    }
    for (const char* opt : {"--lzx-level", "--quantum-level"}) {
        const std::string* v = args.Value(opt);
        if (!v) continue;
        const bool lzx = opt[2] == 'l';
        const int lo = lzx ? 15 : 1, hi = lzx ? 21 : 7;
        char* end = nullptr;
        const long n = strtol(v->c_str(), &end, 10);
        if (!cab || v->empty() || *end || n < lo || n > hi) {
            fprintf(stderr, "varnok-cli: %s takes %d to %d, for CAB archives\n", opt, lo, hi);
            return kExitUsage;
        }
        if (lzx)
            cab->SetLzxLevel(static_cast<int>(n));
        else
            cab->SetQuantumLevel(static_cast<int>(n));
    }
    const std::string paths = args.Value("--paths") ? *args.Value("--paths") : "relative";
    if (paths == "relative")
        w.StoredDirNames = sdExplorer;  // as given, from the current folder
    else if (paths == "full")
        w.StoredDirNames = sdAbsoluteNoDrv;
    else if (paths == "none")
        w.StoredDirNames = sdNone;
    else {
        fprintf(stderr, "varnok-cli: --paths takes relative, full or none\n");
        return kExitUsage;
    }
    w.SetArchiveFile(archive);
    w.FileSpec.assign(args.operands.begin() + 1, args.operands.end());
    for (const auto& [k, v] : args.values)
        if (k == "--exclude") w.ExcludeSpec.push_back(v);
    w.RecurseDirs = args.Has("-r");
    w.StoreEmptySubDirs = true;
    if (const std::string* p = args.Value("-p")) w.Password = *p;
    w.Switch = args.Has("--move") ? swMove : swAdd;
    w.DeleteOptions = doFinal;
    w.FreshenOnly = args.Has("--freshen");
    const bool onlyNewer = args.Has("--update") || args.Has("--freshen");
    w.OnReplaceFile = [onlyNewer](TZipCommon&, const std::string&, const std::string&, int64_t oldDate,
                                  int64_t newDate, uint64_t, uint64_t, uint32_t, uint32_t, bool& replace) {
        replace = !onlyNewer || newDate > oldDate + 1;
    };
    auto* zip = dynamic_cast<TZip*>(&w);
    if (const std::string* c = args.Value("--comment")) {
        if (!zip) {
            fprintf(stderr, "varnok-cli: --comment is for ZIP and JAR archives\n");
            return kExitUsage;
        }
        zip->SetArchiveComment(*c);
    }
    if (const std::string* cp = args.Value("--encoding")) {
        if (!zip || !NameCoding().Force(*cp)) {
            fprintf(stderr, "varnok-cli: --encoding %s: %s\n", TerminalSafe(*cp).c_str(),
                    zip ? "unknown code page" : "names are chosen by code page in ZIP archives only");
            return kExitUsage;
        }
        zip->NameEncoding = *cp;
    }
    if (!w.Password.empty() && !zip && w.ArcType() != atBh) {
        fprintf(stderr, "varnok-cli: -p: this archive type cannot be encrypted\n");
        return kExitUsage;
    }
    if (args.Has("--engine")) {
        if (!zip || w.ArcType() != atZip || args.Value("--encoding") || args.operands.size() < 2) {
            fprintf(stderr, "varnok-cli: --engine adds files to ZIP archives (without --encoding)\n");
            return kExitUsage;
        }
        return RunThroughEngine(args, archive, false, level);
    }
    Reporter rep;
    Wire(w, rep, args.Has("-v"));
    int added = 0;
    {
        InterruptGuard guard(w.CancelPtr());
        added = w.CompressArchive();
    }
    if (args.Has("-v") || w.Failed())
        fprintf(w.Failed() ? stderr : stdout, "%d file%s added%s\n", added, added == 1 ? "" : "s",
                w.Failed() ? "; the archive was not changed" : "");
    return rep.Count() ? kExitErrors : kExitOk;
}

int CmdDelete(int argc, char** argv) {
    Args args;
    std::string error;
    if (!ParseArgs(argc, argv, 2, {"-v", "--engine"}, {}, args, error)) {
        fprintf(stderr, "varnok-cli: %s\n", TerminalSafe(error).c_str());
        return kExitUsage;
    }
    if (args.operands.size() < 2) {
        fprintf(stderr, "varnok-cli: delete needs an archive and at least one pattern\n");
        return kExitUsage;
    }
    const std::string archive = args.operands[0];
    WriterChoice choice = ChooseWriter(archive, nullptr);
    if (!choice.writer) return kExitUsage;
    TCompBase& w = *choice.writer;
    if (args.Has("--engine")) {
        if (w.ArcType() != atZip) {
            fprintf(stderr, "varnok-cli: --engine deletes from ZIP archives\n");
            return kExitUsage;
        }
        return RunThroughEngine(args, archive, true, 0);
    }
    if (choice.gzipTar) w.SetCompressMethod(cmGzipTar);
    w.SetArchiveFile(archive);
    std::vector<std::string> patterns;
    for (size_t i = 1; i < args.operands.size(); ++i) {
        std::string p = args.operands[i];
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        patterns.push_back(p);
    }
    w.FileSpec = patterns;
    // A pattern names entries by their whole name ("*" reaching into folders); a folder's name deletes what
    // lies under it too.
    w.SelectForDelete = [patterns](const std::string& name) {
        for (const auto& p : patterns)
            if (name == p || (name.size() > p.size() && name.compare(0, p.size(), p) == 0 && name[p.size()] == '/') ||
                fnmatch(p.c_str(), name.c_str(), 0) == 0)
                return true;
        return false;
    };
    w.Switch = swDelete;
    Reporter rep;
    Wire(w, rep, false);
    int deleted = 0;
    {
        InterruptGuard guard(w.CancelPtr());
        deleted = w.CompressArchive();
    }
    if (args.Has("-v") && !w.Failed()) printf("%d entr%s deleted\n", deleted, deleted == 1 ? "y" : "ies");
    return rep.Count() ? kExitErrors : kExitOk;
}

}  // namespace varnok::cli
