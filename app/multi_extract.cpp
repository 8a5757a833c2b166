#include "app/multi_extract.h"

#include <algorithm>
#include <set>

#include "app/archive_model.h"
#include "app/extract.h"
#include "app/paths.h"
#include "archive/core/arctype.h"
#include "archive/core/printable.h"
#include "platform/fileattr.h"
#include "archive/core/utils.h"

namespace varnok::app {

namespace {

std::string Absolute(const std::string& path) {
    return path.empty() ? path : AbsoluteFolder(path);
}

}  // namespace

const char* MultiExtractModeCaption(int mode) {
    static const char* const k[kMultiExtractModeCount] = {
        "Same directory", "Same directory & create Subdirs", "Each in its own Directory",
        "Each in its own Directory & create Subdirs"};
    return mode >= 0 && mode < kMultiExtractModeCount ? k[mode] : "";
}

std::string MultiExtractDestination(const MultiExtractRequest& r, const std::string& archivePath) {
    const std::string archive = Absolute(archivePath);
    switch (r.mode) {
        case meSameDirectory:
            return r.destination.empty() ? std::string() : WithSlash(r.destination);
        case meSameDirectorySubdirs:
            if (r.destination.empty()) return {};
            return WithSlash(r.destination) + FileNameOf(WithoutExtension(archive)) + "/";
        case meOwnDirectory:
            return ParentFolder(archive);
        case meOwnDirectorySubdirs:
            return WithoutExtension(archive) + "/";
        default:
            return {};
    }
}

bool PrepareMultiExtractDestination(const std::string& destination) {
    if (destination.empty()) return false;
    const std::string d = WithoutSlash(destination);
    if (platform::DirectoryExists(d)) return true;
    return platform::ForceDirectories(d) && platform::DirectoryExists(d);
}

// ---------------------------------------------------------------------------------------------------------------
// The window's list and the Open dialog

bool MultiExtractList::Add(const std::string& path) {
    if (path.empty()) return false;
    const std::string abs = Absolute(path);
    Row r{FileNameOf(abs), ParentFolder(abs)};
    if (r.name.empty()) return false;
    for (const auto& row : rows_)
        if (row.name == r.name && row.folder == r.folder) return false;
    rows_.push_back(std::move(r));
    return true;
}

void MultiExtractList::Remove(std::vector<int> positions) {
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    // From the back, so that the positions still to go stay valid.
    for (auto it = positions.rbegin(); it != positions.rend(); ++it)
        if (*it >= 0 && *it < static_cast<int>(rows_.size())) rows_.erase(rows_.begin() + *it);
}

std::vector<std::string> MultiExtractList::Paths() const {
    std::vector<std::string> out;
    for (const auto& r : rows_)
        out.push_back(r.Path());
    return out;
}

const std::vector<std::pair<std::string, std::string>>& OpenDialogFilters() {
    static const std::vector<std::pair<std::string, std::string>> f = {
        {"All archives",
         "*.zip *.rar *.jar *.ace *.arc *.arj *.cab *.vca *.gz *.lzh *.tar *.zoo *.lha *.bh *.tgz *.pak *.pk3 "
         "*.uue *.xxe"},
        {"All archives and .exe files",
         "*.zip *.rar *.jar *.ace *.arc *.arj *.cab *.gz *.exe *.lzh *.lha *.bh *.tar *.zoo *.tgz *.pak *.pk3 "
         "*.uue *.xxe"},
        {"Zip files (*.zip)", "*.zip"},
        {"Arj files (*.arj)", "*.arj"},
        {"Ace files (*.ace)", "*.ace"},
        {"Arc files (*.arc)", "*.arc"},
        {"BlakHole files (*.bh)", "*.bh"},
        {"Cabinet files (*.cab)", "*.cab"},
        {"GZip files (*.gz)", "*.gz"},
        {"Jar files (*.jar)", "*.jar"},
        {"Lha files (*.lzh)", "*.lzh"},
        {"Rar files (*.rar)", "*.rar"},
        {"Tar files (*.tar)", "*.tar"},
        {"Zoo files (*.zoo)", "*.zoo"},
        // "*.*" would leave out the names without a dot here.
        {"All files (*.*)", "*"},
    };
    return f;
}

std::vector<std::string> WithoutEncryptedArchives(const std::vector<std::string>& paths) {
    std::vector<std::string> out;
    for (const auto& p : paths)
        if (LowerAscii(ExtensionOf(p)) != ".vca") out.push_back(p);
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// The batch

std::string MultiExtract::ProgressTitle(int current, int count) {
    return "Status... (File " + std::to_string(current) + " of " + std::to_string(count) + ")";
}

MultiExtractResult MultiExtract::Run(const std::vector<std::string>& paths, const MultiExtractRequest& r) {
    MultiExtractResult result;
    if (request_.running) {
        result.problems.push_back("Another batch is running.");
        return result;
    }
    // Each archive once, in the order first given.
    std::vector<std::string> batch;
    std::set<std::string> seen;
    for (const auto& p : paths) {
        if (p.empty()) continue;
        std::string abs = Absolute(p);
        if (seen.insert(abs).second) batch.push_back(abs);
    }
    request_ = r;
    request_.count = static_cast<int>(batch.size());
    request_.current = 0;
    request_.running = true;
    result.archives = request_.count;

    // Whatever happens below, the flag goes and rows are built again.
    struct Restore {
        ArchiveModel& m;
        MultiExtractRequest& r;
        ~Restore() {
            r.running = false;
            m.SetRowsEnabled(true);
        }
    } restore{model_, request_};

    ArchiveView& view = model_.View();
    ExtractOperation& op = model_.Extractor();
    for (size_t i = 0; i < batch.size(); ++i) {
        const std::string& path = batch[i];
        const std::string shown = VisibleMarks(FileNameOf(path));
        request_.current = static_cast<int>(i) + 1;
        if (OnArchive) OnArchive(request_.current, request_.count);
        auto problem = [&](const std::string& why) {
            const std::string line = VisibleMarks(path) + ": " + why;
            result.problems.push_back(line);
            view.Log(line);
        };
        if (!platform::FileExists(path)) {
            problem("the file does not exist");
            continue;
        }
        const std::string dest = MultiExtractDestination(request_, path);
        if (dest.empty()) {
            problem("no destination folder was given");
            continue;
        }
        if (!PrepareMultiExtractDestination(dest)) {
            problem("the folder " + VisibleMarks(dest) + " could not be created");
            continue;
        }
        // The extract operation re-enables rows after a ZIP listing of its own: disabled again for each.
        model_.SetRowsEnabled(false);
        model_.Open(path);
        if (!model_.IsOpen() || !IsRecognised(model_.ArcType())) {
            model_.Close();
            problem("not an archive of a known type, or it cannot be read");
            continue;
        }
        ExtractRequest er;
        er.selectedOnly = false;
        er.useFolderNames = request_.useFolderNames;
        er.destination = dest;
        er.skipOlder = request_.skipOlder;
        er.overwrite = request_.overwrite;
        const int n = op.Run(er);
        const bool cancelled = op.LastRunCancelled();
        const size_t errors = op.Errors().size();
        model_.Close();
        if (cancelled) {
            result.cancelled = true;
            view.Log("Extracting cancelled at " + shown + ".");
            break;
        }
        if (n < 0)
            problem("nothing could be extracted");
        else if (errors > 0)
            problem(std::to_string(errors) + " error(s) while extracting");
        else
            ++result.extracted;
    }
    return result;
}

}  // namespace varnok::app
