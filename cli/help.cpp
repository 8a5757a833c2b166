// The help texts of varnok-cli, one record per command (see help.h). The option texts say what the command
// really does with each option, as README.md describes it; a command's parser stays the judge of what it
// accepts, and the tests compare the two.
#include "cli/help.h"

#include <algorithm>
#include <cstring>

#ifndef VARNOK_VERSION
#error "VARNOK_VERSION comes from the CMake project version"
#endif

namespace varnok::cli {

namespace {

const char* const kEncoding =
    "read the names an archive does not mark as UTF-8 in this code page (an iconv name: CP866, cp932, latin1, "
    "...); without it the code page is decided from all of the archive's names";
const char* const kRaw =
    "read a compressed TAR (.tgz, .tar.gz, .tar.Z) as the one file it compresses, not as the TAR's entries";
const char* const kMaxRatio =
    "refuse an entry that decodes to more than N times its packed size (default 1000000; entries under 64 MiB "
    "excepted; 0: no limit)";

std::vector<CommandHelp> MakeTable() {
    return {
        {"list", "ARCHIVE [PATTERN...]", "list the entries of an archive",
         "Prints one row per entry (name, size, packed size, ratio, date, method, check value, attributes) and a "
         "totals line. PATTERNs (with * and ?) choose the entries listed.",
         {{"--dirs", nullptr, "list folder entries and volume labels too"},
          {"--json", nullptr, "print exactly one JSON object (the entries and the totals) instead of the table"},
          {"--encoding", "CP", kEncoding},
          {"--raw", nullptr, kRaw},
          {"-p", "PASSWORD", "the password of an archive whose headers are encrypted"}}},
        {"identify", "FILE...", "tell the archive type of files",
         "Prints for each FILE its name, the archive type its contents show (whatever its name says), the "
         "offset the archive starts at and the header flag, separated by tabs.",
         {}},
        {"extract", "ARCHIVE [PATTERN...]", "extract entries (default: into the current folder)",
         "Writes the entries (those matching a PATTERN, or all) below the destination folder and never outside "
         "it: names climbing out with .. are refused, absolute names are written inside it with a warning, and "
         "nothing is written through a link. On a terminal it asks for passwords and before replacing files; "
         "without one a missing password is an error for that entry and existing files are kept.",
         {{"-d", "DIR", "extract below DIR (default: the current folder)"},
          {"-p", "PASSWORD", "the password of encrypted entries"},
          {"--overwrite", nullptr, "replace existing files without asking"},
          {"--skip-existing", nullptr, "keep existing files without asking"},
          {"--update", nullptr, "replace an existing file only by a newer entry"},
          {"--flat", nullptr, "write every entry into DIR itself, without the entry's folders"},
          {"-v", nullptr, "say each file written"},
          {"--encoding", "CP", kEncoding},
          {"--raw", nullptr, kRaw},
          {"--max-ratio", "N", kMaxRatio},
          {"--max-size", "SIZE",
           "write at most SIZE bytes (500M, 2G; K, M, G, T are powers of 1024; default: the destination's free "
           "space)"}}},
        {"test", "ARCHIVE...", "decode every entry without writing",
         "Decodes every entry of every ARCHIVE through the extractor that extracts it and prints OK or FAILED with "
         "the reason per entry, then one verdict per archive (VALID or INVALID). The exit status is 1 when any "
         "archive is invalid.",
         {{"-p", "PASSWORD", "the password of encrypted entries"},
          {"--encoding", "CP", kEncoding},
          {"--raw", nullptr, kRaw},
          {"--max-ratio", "N", kMaxRatio}}},
        {"add", "ARCHIVE FILE...", "add files (a folder with all it holds) to an archive",
         "Creates the archive or updates it. The type comes from --type, else from the archive's extension "
         "(.zip, .jar, .bh, .lzh, .lha, .tar, .tgz, .tar.gz, .gz, .cab), else ZIP. A FILE may be a folder (added "
         "with everything it holds) or a pattern ('*.txt'). Names are stored as given, relative to the current "
         "folder. An entry of the same name is replaced when the file differs in size or time. The archive is "
         "rebuilt beside itself and replaces the old one only when the whole run succeeded. -- ends the options.",
         {{"--type", "zip|jar|bh|lha|tar|tgz|gz|cab", "the archive type (gz: every FILE becomes its own FILE.gz)"},
          {"--level", "0-4", "0 stores, 1 to 4 deflate from fastest to smallest (default 3)"},
          {"--method", "lh0|lh5|lh6|store|mszip|lzx|quantum",
           "the method of LHA archives (lh0, lh5, lh6; default lh6) or of cabinets (store, mszip, lzx, quantum; "
           "default mszip)"},
          {"--lzx-level", "15-21", "the LZX window of a cabinet, 2^15 to 2^21 bytes (default 21)"},
          {"--quantum-level", "1-7", "the Quantum level of a cabinet (default 7)"},
          {"-r", nullptr, "search a pattern FILE in subfolders too"},
          {"-p", "PASSWORD",
           "encrypt ZIP and BH entries with the traditional ZIP cipher (weak; for compatibility only)"},
          {"--move", nullptr, "delete the added files once the archive is in place"},
          {"--update", nullptr, "replace an entry only by a newer file"},
          {"--freshen", nullptr, "only replace entries that are there, never add new ones"},
          {"--paths", "relative|full|none",
           "store names as given (relative, the default), as the whole path without its leading / (full), or "
           "as the file name alone (none)"},
          {"--exclude", "PATTERN",
           "skip files whose name (or, with a / in PATTERN, whose stored path) matches; may be repeated"},
          {"--comment", "TEXT", "set a ZIP archive's comment (with no FILE, change only that)"},
          {"--encoding", "CP",
           "store ZIP names in this code page when it holds them (by default non-ASCII names are stored in UTF-8 "
           "with the ZIP UTF-8 flag)"},
          {"-v", nullptr, "say each file added, and how many"},
          {"--engine", nullptr,
           "ZIP only: run through the ZIP bridge and its add/delete engine library (lib/varnok/libvarnok-zipdll.so)"}}},
        {"delete", "ARCHIVE PATTERN...", "delete entries (a folder's name: all under it)",
         "Removes the entries whose names match a PATTERN (a folder's name: everything under it; * reaches into "
         "folders). Deleting the last entry deletes the archive.",
         {{"-v", nullptr, "say how many entries were deleted"},
          {"--engine", nullptr,
           "ZIP only: run through the ZIP bridge and its add/delete engine library (lib/varnok/libvarnok-zipdll.so)"}}},
        {"encode", "uue|xxe|mime FILE...", "encode files as 7-bit text (FILE.uue, FILE.xxe, FILE.mim)",
         "Turns each FILE into uuencoded, xxencoded or Base64 MIME text beside it, naming the file by its own name "
         "and mode, so that uudecode, a mail reader or varnok-cli extract recreate it. Each text is written beside "
         "its place and renamed in when complete.",
         {{"-o", "OUT", "write the text to OUT (a folder when several FILEs are given)"},
          {"--volume-size", "N",
           "split the text into files of at most N bytes (K, M, G suffixes): FILE.uue, FILE.uu1, FILE.uu2, ..."},
          {"--table", nullptr, "write the alphabet before UUE and XXE data"},
          {"--overwrite", nullptr, "replace an existing text (without it the text is kept, exit status 1)"},
          {"-v", nullptr, "say each text written (FILE -> TEXT)"}}},
        {"convert", "SOURCE...", "convert archives to another type (tested before use)",
         "Turns each SOURCE (any type that extracts) into an archive of the --type, beside the source under its "
         "name with the target's extension. The source is extracted into a private folder, packed, tested, and "
         "only then renamed into place; a failure leaves no target and an existing one as it was.",
         {{"--type", "bh|cab|lzh|zip|jar|tar|tgz", "the target type (required)"},
          {"-o", "TARGET", "the target file (for one source) or an existing folder (for several)"},
          {"--add-to", nullptr, "add the source's entries to an existing target"},
          {"--overwrite", nullptr, "replace an existing target"},
          {"--no-test", nullptr, "skip the test of the new archive"},
          {"-p", "PASSWORD", "a password for sources that need one (the target is encrypted with it)"},
          {"-v", nullptr, "say the test result of each archive written"}}},
        {"repair", "ARCHIVE", "rebuild a damaged ZIP file (default OUT: NAME_fixed.zip)",
         "Searches the whole file for local headers, keeps the entries whose data check out and writes a fresh "
         "central directory. Prints NAME ...Ok or NAME ...problem detected per entry and a summary. The damaged "
         "file is never changed. Exit status 1 when nothing could be recovered or entries were dropped.",
         {{"-o", "OUT", "the repaired archive (default: NAME_fixed.zip beside ARCHIVE)"},
          {"--overwrite", nullptr, "replace an existing OUT"},
          {"-v", nullptr, "add the reason and the offset to each entry's line"}}},
        {"sfx", "ARCHIVE", "make a self-extracting program of a ZIP archive",
         "Writes the stub varnok-sfx (taken only from the program's lib/varnok folder), a settings block and the "
         "archive; unzip, 7z and bsdtar read the program as a ZIP. The archive is kept. The program takes "
         "[--dir D] [--list] [--test] [--overwrite ask|always|never] [--password P] [--yes] when run.",
         {{"-o", "PROGRAM", "the program to write (default: the archive's name with .exe)"},
          {"--caption", "T", "the self-extractor's caption"},
          {"--default-dir", "D", "the folder it extracts into by default"},
          {"--overwrite", "ask|always|never", "what it does with existing files"},
          {"--message", "T", "a message it shows before extracting"}}},
        {"unsfx", "PROGRAM", "take the ZIP archive out of a self-extracting program",
         "Works on ours and on other programs' self-extracting ZIP files.",
         {{"-o", "OUT.zip", "the archive to write (default: the program's name with .zip)"}}},
        {"rename", "ARCHIVE OLD NEW", "rename a ZIP entry (a folder OLD/ with all it holds)",
         "A file is renamed by its whole name; a folder given as OLD/ with everything below it (docs/ never "
         "touches docsx/). A new name another entry has is refused.",
         {}},
        {"comment", "ARCHIVE", "show or set a ZIP archive's comment",
         "Without an option it prints the comment.",
         {{"--set", "TEXT", "set the comment to TEXT"}, {"--file", "F", "set the comment to the contents of file F"}}},
        {"span", "ARCHIVE", "write a ZIP archive as a set of volumes (z01: as zip -s)",
         "Writes volumes of at most N bytes: on a fixed drive as files NAME001.zip, NAME002.zip, ...; on a "
         "removable drive each volume on its own disk, asked for on the terminal. The volumes appear only once "
         "the whole set is written.",
         {{"--volume-size", "N", "the largest volume (64K, 1440K, 100M; required)"},
          {"--naming", "numbered|z01",
           "NAME001.zip, NAME002.zip, ... (numbered, the default) or NAME.z01, NAME.z02, ..., NAME.zip as zip -s "
           "names them (z01)"},
          {"-o", "NAME", "the name of the set (default: the archive's)"},
          {"--overwrite", nullptr, "replace files of the volumes' names"}}},
        {"join", "SET", "join a spanned or split ZIP set into one archive",
         "SET is the set's last volume (NAME003.zip, NAME.zip of a .z01 set, or the disk in the drive). The "
         "archive it would replace stays as it was when the join fails.",
         {{"-o", "OUT.zip", "the archive to write (required)"}, {"--overwrite", nullptr, "replace an existing OUT"}}},
        {"formats", "", "the archive families known, and what is done with each",
         "Lists the families of the format registry with their extensions and type values, and whether each is "
         "listed, extracted and written.",
         {}},
    };
}

// Appends text wrapped at width columns, every line after the first indented by indent spaces (the first
// continues where the caller left it, at column `column`).
void Wrap(std::string& out, const std::string& text, size_t column, size_t indent, size_t width = 79) {
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string::npos) end = text.size();
        const size_t len = end - pos;
        if (!first && column + 1 + len > width) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            first = true;
        }
        if (!first) {
            out += ' ';
            ++column;
        }
        out.append(text, pos, len);
        column += len;
        first = false;
        pos = end + 1;
    }
    out += '\n';
}

std::string OptionColumn(const OptionHelp& o) {
    std::string s = o.name;
    if (o.value) s += std::string(" ") + o.value;
    return s;
}

}  // namespace

const std::vector<CommandHelp>& CommandHelps() {
    static const std::vector<CommandHelp> table = MakeTable();
    return table;
}

const CommandHelp* FindCommandHelp(const std::string& name) {
    for (const CommandHelp& c : CommandHelps())
        if (name == c.name) return &c;
    return nullptr;
}

std::string VersionText() {
    return std::string("varnok-cli ") + VARNOK_VERSION;
}

std::string CommandHelpText(const CommandHelp& c) {
    std::string out = std::string("usage: varnok-cli ") + c.name;
    if (*c.operands) out += std::string(" ") + c.operands;
    if (!c.options.empty()) out += " [OPTIONS]";
    out += "\n\n";
    std::string summary = c.summary;
    if (!summary.empty() && summary[0] >= 'a' && summary[0] <= 'z') summary[0] = static_cast<char>(summary[0] - 32);
    Wrap(out, summary + ".", 0, 0);
    if (*c.details) {
        out += '\n';
        Wrap(out, c.details, 0, 0);
    }
    std::vector<OptionHelp> shown = c.options;
    shown.push_back({"-h, --help", nullptr, "show this help"});
    out += "\nOptions:\n";
    size_t width = 0;
    for (const OptionHelp& o : shown)
        width = std::max(width, OptionColumn(o).size());
    width = std::min<size_t>(width, 22);
    for (const OptionHelp& o : shown) {
        std::string col = "  " + OptionColumn(o);
        if (col.size() > width + 2) {
            // A long option with its value stands on a line of its own.
            out += col + "\n";
            col.assign(width + 2, ' ');
        } else {
            col.resize(width + 2, ' ');
        }
        out += col + "  ";
        Wrap(out, o.text, width + 4, width + 4);
    }
    return out;
}

std::string OverviewText() {
    std::string out =
        "usage: varnok-cli COMMAND [ARGS]\n"
        "       varnok-cli COMMAND --help\n"
        "       varnok-cli --version\n"
        "\n"
        "Lists, extracts, tests, creates and converts archives: ZIP, JAR, ARJ, LZH/LHA, ARC/PAK, ZOO,\n"
        "BH, TAR, GZIP, compress, UUE/XXE/MIME text, RAR, ACE and CAB.\n"
        "\n"
        "Commands:\n";
    for (const CommandHelp& c : CommandHelps()) {
        std::string col = std::string("  ") + c.name;
        col.resize(12, ' ');
        out += col;
        Wrap(out, c.summary, 12, 12);
    }
    out +=
        "\n"
        "\"varnok-cli COMMAND --help\" shows a command's operands and options. Exit status: 0 when\n"
        "all went well, 1 when errors were reported, 2 for a usage error.\n";
    return out;
}

bool AsksForHelp(const CommandHelp& c, int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--")) return false;
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) return true;
        for (const OptionHelp& o : c.options)
            if (o.value && !std::strcmp(a, o.name)) {
                ++i;  // its value, whatever it looks like
                break;
            }
    }
    return false;
}

}  // namespace varnok::cli
