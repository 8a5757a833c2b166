// varnok-cli: the scriptable command-line face of the archive components.
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/core/printable.h"
#include "cli/common.h"

namespace {

void Usage(FILE* out) {
    fputs(
        "usage: varnok-cli COMMAND [ARGS]\n"
        "  list ARCHIVE [PATTERN...] [--dirs] [--json] [--encoding CP] [--raw]\n"
        "                                                list the entries of an archive\n"
        "  identify FILE...                              tell the archive type of files\n"
        "  extract ARCHIVE [PATTERN...] [-d DIR] [-p PASSWORD] [--overwrite|--skip-existing|--update] "
        "[--flat] [-v] [--encoding CP] [--raw] [--max-ratio N] [--max-size SIZE]\n"
        "                                                extract entries (default: into the current folder)\n"
        "  test ARCHIVE... [-p PASSWORD] [--encoding CP] [--raw] [--max-ratio N]\n"
        "                                                decode every entry without writing\n"
        "  add ARCHIVE FILE... [--type zip|jar|bh|lha|tar|tgz|gz] [--level 0-4] [--method lh0|lh5|lh6] [-r]\n"
        "      [-p PASSWORD] [--move]\n"
        "      [--update|--freshen] [--paths relative|full|none] [--exclude PATTERN]... [--comment TEXT]\n"
        "      [--encoding CP] [-v]                      add files (a folder with all it holds) to an archive\n"
        "  delete ARCHIVE PATTERN... [-v]                delete entries (a folder's name: all under it)\n"
        "  encode uue|xxe|mime FILE... [-o OUT] [--volume-size N] [--table] [--overwrite] [-v]\n"
        "                                                encode files as 7-bit text (FILE.uue, FILE.xxe, FILE.mim)\n"
        "  convert SOURCE... --type bh|cab|lzh|zip|jar|tar|tgz [-o TARGET] [--add-to] [--overwrite] [--no-test]\n"
        "      [-p PASSWORD] [-v]                        convert archives to another type (tested before use)\n"
        "  repair ARCHIVE [-o OUT] [--overwrite] [-v]    rebuild a damaged ZIP file (default OUT: "
        "NAME_fixed.zip)\n"
        "  sfx ARCHIVE [-o PROGRAM] [--caption T] [--default-dir D] [--overwrite ask|always|never] [--message T]\n"
        "                                                make a self-extracting program of a ZIP archive\n"
        "  unsfx PROGRAM [-o OUT.zip]                    take the ZIP archive out of a self-extracting program\n"
        "  rename ARCHIVE OLD NEW                        rename a ZIP entry (a folder OLD/ with all it holds)\n"
        "  comment ARCHIVE [--set TEXT | --file F]       show or set a ZIP archive's comment\n"
        "  span ARCHIVE --volume-size N [--naming numbered|z01] [-o NAME] [--overwrite]\n"
        "                                                write a ZIP archive as a set of volumes (z01: as zip -s)\n"
        "  join SET -o OUT.zip [--overwrite]             join a spanned or split ZIP set into one archive\n"
        "  formats                                       the archive families known, and what is done with "
        "each\n"
        "  --encoding CP: the code page of names the archive does not mark as UTF-8 (CP866, CP932, "
        "latin1, ...);\n"
        "  without it the code page is decided from all of the archive's names.\n"
        "  --raw: a compressed TAR (.tgz, .tar.Z) is the one file it compresses, not the TAR's entries.\n"
        "  --max-ratio N: refuse an entry decoding to more than N times its packed size (default 1000000,\n"
        "  entries under 64 MiB excepted; 0: no limit). --max-size SIZE: write at most SIZE bytes (500M, "
        "2G;\n"
        "  default: the destination's free space).\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return varnok::cli::kExitUsage;
    }
    std::string cmd = argv[1];
    if (cmd == "list") return varnok::cli::CmdList(argc, argv);
    if (cmd == "identify") return varnok::cli::CmdIdentify(argc, argv);
    if (cmd == "extract") return varnok::cli::CmdExtract(argc, argv);
    if (cmd == "test") return varnok::cli::CmdTest(argc, argv);
    if (cmd == "add") return varnok::cli::CmdAdd(argc, argv);
    if (cmd == "delete") return varnok::cli::CmdDelete(argc, argv);
    if (cmd == "encode") return varnok::cli::CmdEncode(argc, argv);
    if (cmd == "convert") return varnok::cli::CmdConvert(argc, argv);
    if (cmd == "repair") return varnok::cli::CmdRepair(argc, argv);
    if (cmd == "formats") return varnok::cli::CmdFormats(argc, argv);
    if (cmd == "sfx") return varnok::cli::CmdSfx(argc, argv);
    if (cmd == "unsfx") return varnok::cli::CmdUnsfx(argc, argv);
    if (cmd == "rename") return varnok::cli::CmdRename(argc, argv);
    if (cmd == "comment") return varnok::cli::CmdComment(argc, argv);
    if (cmd == "span") return varnok::cli::CmdSpan(argc, argv);
    if (cmd == "join") return varnok::cli::CmdJoin(argc, argv);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        Usage(stdout);
        return 0;
    }
    fprintf(stderr, "varnok-cli: unknown command %s\n", varnok::TerminalSafe(cmd).c_str());
    Usage(stderr);
    return varnok::cli::kExitUsage;
}
