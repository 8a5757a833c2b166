// Renaming entries of a ZIP archive in place.
//
// The rewriting is the ZIP writer's: it already copies kept entries byte for byte (data descriptors, extra
// fields, comments, the self-extractor stub in front) and replaces the archive with one atomic rename only after
// a run that ended without error or cancel, so a failure leaves the archive byte for byte as it was. This file
// only turns the rename records into the writer's question "what is this entry's new name?".
//
// Matching is by whole names: a file record renames the entry of exactly that name, a folder record (a name
// ending in "/") the folder's own entry and everything below it, compared by whole path components, so that
// renaming "docs/" never touches "docsx/a.txt" and renaming "a.txt" never touches "data.txt" or "sub/a.txt".
// Names are compared as they are spelt: on Linux "A.txt" and "a.txt" are two files. Each entry takes the first
// record that matches it, so records cannot chain (a -> b, b -> c does not turn a into c).
#include <algorithm>

#include "archive/core/errors.h"
#include "archive/formats/zip/zip_writer.h"
#include "platform/fileattr.h"
#include "zipbridge/messages.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {

namespace {

std::string Slashed(std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

}  // namespace

int TZipBridge::Rename(const std::vector<ZipRenameRec>& list, uint32_t dateTime) {
    // Prepare the records: folders end in "/"; a file's new name must name a file.
    struct Rec {
        std::string from, to;
        bool folder;
        uint32_t time;
    };
    std::vector<Rec> recs;
    for (const ZipRenameRec& r : list) {
        std::string from = Slashed(r.OldName), to = Slashed(r.NewName);
        while (!from.empty() && from.front() == '/')
            from.erase(0, 1);
        while (!to.empty() && to.front() == '/')
            to.erase(0, 1);
        if (from.empty()) return -10;
        const bool folder = from.back() == '/';
        if (!folder) {
            if (to.empty() || to.back() == '/') return -10;
        } else {
            // A folder goes to the folder part of the new name; a new name without one is the folder itself.
            const size_t slash = to.find_last_of('/');
            to = slash == std::string::npos ? to + "/" : to.substr(0, slash + 1);
            if (to == "/") return -10;
        }
        recs.push_back({from, to, folder, r.DateTime ? r.DateTime : dateTime});
    }
    if (zipFileName_.empty() || !platform::FileExists(zipFileName_)) {
        Message(11001);
        return -7;
    }
    if (spanned_) {
        Message(10141);
        return -7;
    }
    if (recs.empty()) return 0;

    TZip w;
    w.ShareCancel(&cancel_);
    w.ProcessMessages = ProcessMessages;
    w.TempDirOverride.clear();
    int code = 0;
    std::string reason;
    w.OnError = [&](TZipCommon&, const std::string& file, const std::string& msg, const std::string&, int c) {
        if (code == 0 || c == E_InvalidFileName) {
            code = c;
            reason = file.empty() ? msg : file + ": " + msg;
        }
    };
    uint32_t time = 0;
    int renamed = 0;
    w.RenameEntry = [&](const std::string& name, bool directory) -> std::string {
        const std::string full = directory ? name + "/" : name;
        for (const Rec& r : recs) {
            std::string to;
            if (r.folder && full.compare(0, r.from.size(), r.from) == 0) to = r.to + full.substr(r.from.size());
            else if (!r.folder && !directory && full == r.from) to = r.to;
            else continue;
            if (to == full) return {};
            Message(10142, name + BridgeMessageText(10143) + to, false);
            ++renamed;
            return to;
        }
        return {};
    };
    // One date for the run (the argument, else the first record's): the writer gives it to every renamed
    // entry.
    for (const Rec& r : recs)
        if (!time && r.time) time = r.time;
    w.RenameDosTime = time;
    w.SetArchiveFile(zipFileName_);
    if (OnProgress) OnProgress(*this, 3, {}, Count());
    const bool ok = w.RenameEntries();
    if (OnProgress) OnProgress(*this, 2, {}, 0);
    if (!ok) {
        if (Cancel() || code == E_UserCanceled) {
            Say("Rename cancelled; " + zipFileName_ + " is unchanged", true);
            return -8;
        }
        if (code == E_NothingToDo || renamed == 0) {
            Say("Nothing renamed: no entry of " + zipFileName_ + " has that name", true);
            return -9;
        }
        Say("Rename failed; " + zipFileName_ + " is unchanged: " + reason, true);
        if (code == E_InvalidFileName) return -9;
        return code == E_WriteFile || code == E_OpenFile ? -8 : -7;
    }
    List();
    return 0;
}

}  // namespace varnok
