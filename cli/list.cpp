// varnok-cli list ARCHIVE [PATTERN...] [--dirs] [--json] [--encoding CP] [--raw]
#include <cstdio>
#include <optional>

#include "archive/core/lister.h"
#include "archive/core/printable.h"
#include "archive/core/utils.h"
#include "cli/common.h"
#include "cli/json.h"
#include "platform/datetime.h"

namespace varnok::cli {

namespace {

std::string CrcText(const ListEntry& e) {
    char b[16];
    if (e.CrcBits == 16)
        snprintf(b, sizeof b, "%04X", e.EntryCrc & 0xFFFF);
    else
        snprintf(b, sizeof b, "%08X", e.EntryCrc);
    return b;
}

std::string AttrText(uint32_t a, bool dir) {
    std::string s;
    s += (a & 0x20) ? 'A' : '-';
    s += (a & 0x04) ? 'S' : '-';
    s += (a & 0x02) ? 'H' : '-';
    s += (a & 0x01) ? 'R' : '-';
    s += dir || (a & 0x10) ? 'D' : '-';
    return s;
}

// Columns a text takes on a terminal: one per character, two for the wide ones of East Asian scripts.
size_t Columns(const std::string& s) {
    size_t cols = 0;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        uint32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
        cols += wide ? 2 : 1;
        i += len;
    }
    return cols;
}

// The name padded to 40 columns, as the rows line up.
std::string NameColumn(const std::string& name) {
    std::string n = TerminalSafe(name);
    const size_t cols = Columns(n);
    if (cols < 40) n.append(40 - cols, ' ');
    return n;
}

}  // namespace

int CmdList(int argc, char** argv) {
    Args args;
    std::string err;
    TArcLister lister;
    if (!ParseArgs(argc, argv, 2, {"--json", "--dirs", "--raw"}, {"--encoding", "-p"}, args, err) ||
        args.operands.empty() || !ApplyReadingOptions(args, lister, err)) {
        fprintf(stderr,
                "varnok-cli: %s\nusage: varnok-cli list ARCHIVE [PATTERN...] [--dirs] [--json] [--encoding CP] "
                "[--raw] [-p PASSWORD]\n",
                err.empty() ? "no archive named" : err.c_str());
        return kExitUsage;
    }
    const bool json = args.Has("--json");
    Reporter rep;
    AttachConsole(lister, rep);
    lister.ShowEmptyDirs = args.Has("--dirs");
    if (const std::string* p = args.Value("-p")) {
        lister.Password = *p;  // for archives whose headers are encrypted
        lister.Passwords = {*p};
    }
    const std::string& path = args.operands[0];
    lister.SetArchiveFile(path);
    for (size_t i = 1; i < args.operands.size(); ++i)
        lister.FileSpec.push_back(args.operands[i]);
    if (lister.FileSpec.empty()) lister.FileSpec.push_back("*.*");

    std::string entries;
    uint64_t files = 0, size = 0, packed = 0;
    lister.OnRead = [&](TZipCommon&, uint64_t, int) {
        const ListEntry& e = lister.Entry();
        if (!e.IsDirectory) {
            ++files;
            size += e.UnpackedSize;
            packed += e.PackedSize;
        }
        if (json) {
            JsonObject o;
            o.Add("name", e.EntryName)
                .Add("size", e.UnpackedSize)
                .Add("packed", e.PackedSize)
                .Add("method", e.MethodText)
                .Add("crc", CrcText(e))
                .Add("time", platform::FormatLocalIso(e.EntryDate))
                .Add("attributes", static_cast<uint64_t>(e.ExternalAttr))
                .Add("encrypted", e.Encrypted)
                .Add("dir", e.IsDirectory)
                .Add("comment", e.EntryComment);
            if (e.UnixMode) o.Add("mode", static_cast<uint64_t>(e.UnixMode));
            if (!e.LinkTarget.empty()) o.Add("link", e.LinkTarget);
            if (!entries.empty()) entries += ", ";
            entries += o.Str();
        } else {
            printf("%s %12llu %12llu %3d%% %s %-10s %s %s\n", NameColumn(e.EntryName).c_str(),
                   static_cast<unsigned long long>(e.UnpackedSize),
                   static_cast<unsigned long long>(e.PackedSize), e.Ratio,
                   platform::FormatLocalShort(e.EntryDate).c_str(), e.MethodText.c_str(), CrcText(e).c_str(),
                   AttrText(e.ExternalAttr, e.IsDirectory).c_str());
        }
    };
    if (!IsRecognised(lister.ArcType())) {
        if (lister.ArcType() == atFileOpenErr) {
            if (!rep.Count()) rep.Error(path, E_OpenFile, "file too short");
        } else {
            rep.Error(path, E_UnknownFileType);
        }
    } else {
        lister.ReadArchive();
        if (lister.WalkError() && rep.Count() == 0) {
            const std::string& why = lister.WalkErrorDetail();
            rep.Error(path, lister.WalkError(), "listing stopped early" + (why.empty() ? "" : ": " + why));
        }
    }
    if (json) {
        JsonObject totals;
        totals.Add("files", files).Add("size", size).Add("packed", packed);
        JsonObject doc;
        doc.Add("archive", path)
            .Add("type", ArcTypeShortName(lister.ArcType()))
            .AddRaw("entries", "[" + entries + "]")
            .AddRaw("totals", totals.Str());
        printf("%s\n", doc.Str().c_str());
    } else if (IsRecognised(lister.ArcType())) {
        printf("%llu files, %llu bytes, %llu packed, %d%%\n", static_cast<unsigned long long>(files),
               static_cast<unsigned long long>(size), static_cast<unsigned long long>(packed),
               RatioOf(packed, size));
    }
    return rep.ExitStatus();
}

}  // namespace varnok::cli
