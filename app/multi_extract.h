// Extracting several archives in one go: the request of the multi-extract window (or of the shell switches),
// where each archive goes by the destination mode, the window's list of archives, the Open dialog's filters,
// and the batch itself, which opens each archive in the main window's model without building rows, extracts
// all of it through the extract operation and closes it again.
//
// The batch is sound against bad input: an archive that cannot be opened or identified is passed over (and
// named in the result) while the others are extracted, the same archive listed twice is extracted once, a
// Cancel in the progress window ends the whole batch, and the model builds rows again whatever happened.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace varnok::app {

class ArchiveModel;

// Where each archive of a batch goes.
enum MultiExtractMode : int {
    meSameDirectory = 0,        // the destination folder as entered
    meSameDirectorySubdirs = 1, // below the destination, a folder named after the archive (created)
    meOwnDirectory = 2,         // the archive's own folder
    meOwnDirectorySubdirs = 3,  // beside the archive, a folder named after it (created)
};
inline constexpr int kMultiExtractModeCount = 4;
// The captions of the window's list "Extract..", in mode order.
const char* MultiExtractModeCaption(int mode);

struct MultiExtractRequest {
    std::string destination;
    int mode = meSameDirectory;
    bool useFolderNames = true;
    bool skipOlder = false;
    bool overwrite = false;
    int count = 0;    // archives in the batch
    int current = 0;  // 1-based number of the archive being extracted (0: none yet)
    bool running = false;
};

// The folder an archive of the batch is extracted into (with a trailing "/"); empty when the mode needs the
// destination folder and none was given. Nothing is created here.
std::string MultiExtractDestination(const MultiExtractRequest& r, const std::string& archivePath);
// Whether the mode makes a folder per archive (created with its parents when missing).
inline bool ModeCreatesFolder(int mode) {
    return mode == meSameDirectorySubdirs || mode == meOwnDirectorySubdirs;
}

// The window's OK: a destination that does not exist is created with all its parents. False (and nothing
// else) when that failed; the window shows kDestinationError then.
bool PrepareMultiExtractDestination(const std::string& destination);
inline constexpr const char* kDestinationError =
    "The directory you specified does not exist and\n\rcould not be created !";

// The rows of the window's file list: each archive once (by folder and name).
class MultiExtractList {
  public:
    struct Row {
        std::string name;    // file name
        std::string folder;  // its folder, with a trailing "/"
        std::string Path() const { return folder + name; }
    };
    // Adds a row for an absolute path unless the same folder and name are already listed. True when added.
    bool Add(const std::string& path);
    // Removes the rows at these positions (any order, repeats ignored).
    void Remove(std::vector<int> positions);
    const std::vector<Row>& Rows() const { return rows_; }
    std::vector<std::string> Paths() const;

  private:
    std::vector<Row> rows_;
};

// The Open dialog's filters (caption, patterns separated by blanks), the first being where it starts.
const std::vector<std::pair<std::string, std::string>>& OpenDialogFilters();
// The Open dialog chose several files: the encrypted archives (".vca", any case) are not for the batch.
std::vector<std::string> WithoutEncryptedArchives(const std::vector<std::string>& paths);

// What a batch did.
struct MultiExtractResult {
    int archives = 0;   // archives in the batch (each path once)
    int extracted = 0;  // archives extracted without a failure
    // Archives passed over or that failed, each with the reason ("name: reason").
    std::vector<std::string> problems;
    bool cancelled = false;
    bool Ok() const { return problems.empty() && !cancelled; }
};

class MultiExtract {
  public:
    explicit MultiExtract(ArchiveModel& model) : model_(model) {}

    // Called before each archive is opened (current 1-based, count): the progress window's title.
    std::function<void(int current, int count)> OnArchive;

    // Runs the batch: each path in order is opened (rows are not built), extracted completely into the
    // destination of its mode and closed. The request's running flag is set meanwhile and always cleared.
    MultiExtractResult Run(const std::vector<std::string>& paths, const MultiExtractRequest& r);
    const MultiExtractRequest& Request() const { return request_; }
    bool Running() const { return request_.running; }

    // The progress window's title while archive current of count is extracted.
    static std::string ProgressTitle(int current, int count);

  private:
    ArchiveModel& model_;
    MultiExtractRequest request_;
};

}  // namespace varnok::app
