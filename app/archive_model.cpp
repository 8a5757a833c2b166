#include "app/archive_model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <numeric>

#include "app/extract.h"
#include "app/paths.h"
#include "archive/core/printable.h"
#include "archive/core/utils.h"
#include "platform/fileattr.h"
#include "zipbridge/messages.h"

namespace varnok::app {

namespace {

const char* const kReading = "Reading archive information...";
const char* const kEncodedQuestion =
    "This is an encoded archive. \n\rDo you want to extract it to the temp foler and open it?";
const char* const kInvalidQuestion = "This archive is invalid. Do you want Varnok trying to fix it ?";
constexpr int kInvalidArchiveMessage = 11036;
// Archives found inside archives by the follow-ups are opened at most this deep.
constexpr int kMaxFollowUpDepth = 8;

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Removes a regular file (never follows a link to delete something else).
void RemoveRegularFile(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) unlink(path.c_str());
}

}  // namespace

ArchiveModel::ArchiveModel(Settings& settings, ArchiveView& view)
    : settings_(settings),
      view_(view),
      extract_(std::make_unique<ExtractOperation>(*this, MakeDefaultEngineFactory())) {
    AttachEvents();
}

ArchiveModel::~ArchiveModel() {
    if (open_) {
        closing_ = true;
        for (const auto& f : viewFiles_)
            RemoveRegularFile(f);
        bridge_.OnDirUpdate = nullptr;
        bridge_.OnMessage = nullptr;
    }
}

void ArchiveModel::SetEngineFactory(std::shared_ptr<ExtractEngineFactory> f) {
    extract_->SetEngineFactory(std::move(f));
}

void ArchiveModel::AttachEvents() {
    bridge_.Unattended = false;
    bridge_.ShowMessage = [this](const std::string& m) { view_.Message("Varnok", m); };
    bridge_.OnDirUpdate = [this](TZipBridge&) { BuildZipRows(); };
    bridge_.OnMessage = [this](TZipBridge& b, int code, const std::string& m) {
        view_.Log(VisibleMarks(m));
        // The message of an archive that is not a valid ZIP (its own number, or its text for the bridge's
        // messages).
        const bool invalid =
            code == kInvalidArchiveMessage || (code == 0 && b.ErrCode() == kInvalidArchiveMessage &&
                                               m.rfind(BridgeMessageText(kInvalidArchiveMessage), 0) == 0);
        if (invalid && open_ && !closing_ && !busy_) {
            // The directory is still being read: the archive is closed once the bridge returns.
            if (view_.Ask("Error", kInvalidQuestion)) closeRequested_ = true;
        }
    };

    lister_.OnActivate = [this](TZipCommon&) {
        view_.SetWaitCursor(true);
        view_.BeginRowsUpdate();
        view_.ProgressOpen(kReading);
        ClearRows();
        view_.SetStatusText(0, kReading);
    };
    lister_.OnRead = [this](TZipCommon&, uint64_t, int) {
        if (rowsEnabled_) AddListerRow(lister_.Entry());
    };
    lister_.OnDeactivate = [this](TZipCommon&) {
        view_.EndRowsUpdate();
        view_.ProgressBars(0, 0);
        view_.ProgressClose();
        view_.SetWaitCursor(false);
    };
    lister_.OnTotals = [this](TZipCommon&, uint64_t unpacked, uint64_t packed, int, int files) {
        totalCount_ = files < 0 ? 0 : static_cast<uint64_t>(files);
        totalUnpacked_ = unpacked;
        totalPacked_ = packed;
        view_.SetStatusText(2, TotalsStatus());
    };
    lister_.OnError = [this](TZipCommon&, const std::string& file, const std::string& msg, const std::string&,
                             int code) {
        std::string line = file.empty() ? std::string() : file + ": ";
        line += ErrorText(code);
        if (!msg.empty() && msg != ErrorText(code)) line += " (" + msg + ")";
        view_.Log(VisibleMarks(line));
    };
    lister_.OnNextVolume = [this](TZipCommon&, std::string& volume, const std::string& id, bool exists,
                                  bool& cancel) {
        if (exists) return;
        auto p = view_.AskNextVolume(
            "Insert next disk or locate the file: " + FileNameOf(volume) + " (ID: " + id + ")", volume);
        if (p)
            volume = *p;
        else
            cancel = true;
    };
    lister_.ProcessMessages = [this]() { view_.ProcessEvents(); };
}

void ArchiveModel::SetNameCodePage(const std::string& codePage) {
    if (!open_ || busy_) return;
    if (codePage.empty())
        codePages_.erase(path_);
    else
        codePages_[path_] = codePage;
    const std::string path = path_;
    OpenAt(path, kMaxFollowUpDepth);
}

std::string ArchiveModel::NamesReadAs() const {
    if (!open_) return {};
    const NameCoding& n = engine_ == EngineKind::ZipBridge ? bridge_.Names() : lister_.Names();
    const std::string dos = n.CodePage(NameOrigin::Dos), unix = n.CodePage(NameOrigin::Unix);
    return codePage_.empty() && dos != unix ? dos + ", " + unix : n.CodePage(NameOrigin::Dos);
}

EngineKind ArchiveModel::EngineForType(TArcType t) {
    switch (t) {
        case atZip:
        case atZipExe:
        case atZipMV:
            return EngineKind::ZipBridge;
        default:
            return EngineKind::Lister;
    }
}

std::string ArchiveModel::ArchiveFileName() const {
    return FileNameOf(path_);
}
std::string ArchiveModel::ArchiveFolder() const {
    return ParentFolder(path_);
}

std::string ArchiveModel::QuickExtractFolderNamed() const {
    return path_.empty() ? std::string() : WithoutExtension(path_) + "/";
}

std::string ArchiveModel::QuickExtractFolderHere() const {
    return ArchiveFolder();
}

bool ArchiveModel::Open(const std::string& path) {
    if (path.empty()) return false;
    return OpenAt(path, 0);
}

bool ArchiveModel::OpenAt(const std::string& path, int depth) {
    std::string abs = path;
    if (abs.front() != '/') abs = WithSlash(AbsoluteFolder(".")) + abs;
    view_.SetInstallVisible(false);
    installRow_.clear();
    Close();
    isExe_ = LowerAscii(ExtensionOf(abs)) == ".exe";
    path_ = abs;
    open_ = true;
    closeRequested_ = false;
    view_.EnsureStatusPanels();

    auto chosen = codePages_.find(abs);
    codePage_ = chosen == codePages_.end() ? std::string() : chosen->second;
    lister_.NameCodePage = codePage_;
    bridge_.NameCodePage = codePage_;
    lister_.SetArchiveFile(abs);
    arcType_ = lister_.ArcType();
    engine_ = EngineForType(arcType_);
    if (engine_ == EngineKind::ZipBridge) {
        lister_.SetArchiveFile("");
        bridge_.UseDirOnlyEntries = settings_.ShowDirEntry;
        bridge_.TempDir = settings_.TempFolder();
        bridge_.SetZipFileName(abs);
    } else {
        view_.SetWaitCursor(true);
        lister_.FileSpec = {"*.*"};
        // Listing can take a while (the window stays alive meanwhile): nothing else may start during it.
        SetBusy(true);
        lister_.ReadArchive();
        SetBusy(false);
        view_.SetStatusText(2, TotalsStatus());
        view_.SetWaitCursor(false);
    }
    if (closeRequested_) {
        closeRequested_ = false;
        Close();
        return true;
    }

    // A single TAR inside (a compressed tar file): the tar file itself is what the user wants to see.
    if (depth < kMaxFollowUpDepth && rows_.size() == 1 && !rows_[0].directory &&
        EndsWith(LowerAscii(rows_[0].name), ".tar") && !sessionTemp_.empty()) {
        std::string dest = WithSlash(sessionTemp_);
        std::string extracted = dest + rows_[0].name;
        ExtractRequest r;
        r.selectedOnly = true;
        r.rows = std::vector<int>{0};
        r.useFolderNames = false;
        r.destination = dest;
        r.overwrite = true;
        if (extract_->Run(r) > 0 && platform::FileExists(extracted)) {
            Close();
            return OpenAt(extracted, depth + 1);
        }
    }

    view_.SetTitle("Varnok - " + VisibleMarks(ArchiveFileName()));
    view_.SetStatusText(0, VisibleMarks(path_));
    if (settings_.OpenLast) settings_.Open = ArchiveFolder();
    PushOpenHistory();
    view_.QuickExtractCaptionsChanged();
    view_.CommandsChanged();

    if (depth < kMaxFollowUpDepth && arcType_ == atUue && !rows_.empty() && !sessionTemp_.empty() &&
        view_.Ask("Question", kEncodedQuestion)) {
        std::string dest = WithSlash(sessionTemp_);
        // The decoded file carries the name of the "begin" line, which is the row's name.
        std::string decoded = dest + rows_[0].name;
        ExtractRequest r;
        r.selectedOnly = false;
        r.useFolderNames = false;
        r.destination = dest;
        r.overwrite = true;
        if (extract_->Run(r) > 0 && platform::FileExists(decoded)) {
            Close();
            return OpenAt(decoded, depth + 1);
        }
    }
    return true;
}

void ArchiveModel::PushOpenHistory() {
    if (settings_.OpenHistory.Push(path_) && ini_) {
        settings_.SaveHistory(*ini_);
        ini_->Flush();
    }
    view_.HistoryChanged();
}

void ArchiveModel::Close() {
    closing_ = true;
    for (const auto& f : viewFiles_)
        RemoveRegularFile(f);
    viewFiles_.clear();
    selSum_ = 0;
    view_.RemoveStatusPanels();
    if (engine_ == EngineKind::ZipBridge || !bridge_.ZipFileName().empty()) bridge_.SetZipFileName("");
    if (!lister_.ArchiveFile().empty()) lister_.SetArchiveFile("");
    path_.clear();
    open_ = false;
    newWriter_ = NewWriterKind::None;
    engine_ = EngineKind::None;
    arcType_ = atNA;
    isExe_ = false;
    view_.BeginRowsUpdate();
    ClearRows();
    sortColumn_ = -1;
    view_.EndRowsUpdate();
    view_.SetInstallVisible(false);
    installRow_.clear();
    view_.SetStatusText(0, "Ready");
    view_.SetTitle("Varnok");
    view_.CommandsChanged();
    closing_ = false;
}

void ArchiveModel::OpenNew(const std::string& path, NewWriterKind kind) {
    std::string abs = path;
    if (abs.empty() || kind == NewWriterKind::None) return;
    if (abs.front() != '/') abs = WithSlash(AbsoluteFolder(".")) + abs;
    Close();
    static const TArcType kTypes[] = {atNA, atBh, atCab, atGZip, atJar, atLha, atTar, atZip};
    path_ = abs;
    open_ = true;
    newWriter_ = kind;
    arcType_ = kTypes[static_cast<int>(kind)];
    engine_ = kind == NewWriterKind::Zip ? EngineKind::ZipBridge : EngineKind::Lister;
    isExe_ = false;
    view_.EnsureStatusPanels();
    if (settings_.OpenLast) settings_.Open = ArchiveFolder();
    view_.SetTitle("Varnok - " + VisibleMarks(ArchiveFileName()));
    view_.SetStatusText(0, VisibleMarks(path_));
    view_.QuickExtractCaptionsChanged();
    view_.CommandsChanged();
}

void ArchiveModel::Reread(const std::string& path) {
    if (!open_) return;
    const std::string target = path.empty() ? path_ : path;
    struct stat st {};
    if (stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        // Nothing written yet, or the last entry deleted (the writer removed the empty archive).
        NewWriterKind kind = newWriter_;
        if (kind == NewWriterKind::None) {
            switch (arcType_) {
                case atBh: kind = NewWriterKind::Bh; break;
                case atCab: kind = NewWriterKind::Cab; break;
                case atGZip: kind = NewWriterKind::GZip; break;
                case atJar: kind = NewWriterKind::Jar; break;
                case atLha: case atLzh: kind = NewWriterKind::Lha; break;
                case atTar: kind = NewWriterKind::Tar; break;
                default: kind = NewWriterKind::Zip; break;
            }
        }
        OpenNew(target, kind);
        return;
    }
    const int column = sortColumn_;
    const bool descending = lastDescending_;
    const bool flag = directionFlag_;
    const int previous = prevSortColumn_;
    OpenAt(target, kMaxFollowUpDepth);
    if (!open_) return;
    sortColumn_ = column;
    prevSortColumn_ = previous;
    directionFlag_ = flag;
    lastDescending_ = descending;
    Resort();
}

void ArchiveModel::ClearRows() {
    rows_.clear();
    sel_.clear();
    selCount_ = 0;
    selSum_ = 0;
    focused_ = -1;
    totalCount_ = totalUnpacked_ = totalPacked_ = 0;
}

uint32_t ArchiveModel::TypeIndexOf(const std::string& name, bool directory) {
    std::string key = directory ? "/" : LowerAscii(ExtensionOf(name));
    auto it = typeIndex_.find(key);
    if (it != typeIndex_.end()) return it->second;
    uint32_t i = static_cast<uint32_t>(types_.size());
    types_.push_back({key, {}, false});
    typeIndex_.emplace(key, i);
    return i;
}

std::string ArchiveModel::TypeDescription(uint32_t type) const {
    if (type >= types_.size()) return {};
    const TypeInfo& t = types_[type];
    if (t.ext == "/") return "Directory";
    if (!t.described) {
        t.description = describe_ ? describe_(t.ext) : std::string();
        if (t.description.empty()) {
            std::string bare = t.ext.empty() ? std::string() : UpperAscii(t.ext.substr(1));
            t.description = bare.empty() ? "File" : bare + " File";
        }
        t.described = true;
    }
    return t.description;
}

const std::string& ArchiveModel::TypeExtension(uint32_t type) const {
    static const std::string none;
    return type < types_.size() ? types_[type].ext : none;
}

void ArchiveModel::BuildZipRows() {
    if (!rowsEnabled_ || closing_) return;
    view_.BeginRowsUpdate();
    ClearRows();
    // Descriptions are looked up again for each new directory.
    for (auto& t : types_)
        t.described = false;
    if (!bridge_.ZipFileName().empty() && bridge_.Count() > 0) {
        // Local-time conversion is slow and entries share their hours: one conversion per date and hour.
        std::unordered_map<uint32_t, int64_t> hourStart;
        const int64_t impossible = DosToUnixTime(0);  // what an impossible date stands for
        auto unixTime = [&](uint32_t dos) {
            const uint32_t minute = (dos >> 5) & 63, second2 = dos & 31, hour = (dos >> 11) & 31;
            const uint32_t day = (dos >> 16) & 31, month = (dos >> 21) & 15;
            if (minute > 59 || second2 > 29 || hour > 23 || day == 0 || month == 0 || month > 12)
                return DosToUnixTime(dos);
            auto [it, added] = hourStart.try_emplace(dos >> 11, 0);
            if (added) it->second = DosToUnixTime(dos & ~0x7FFu);
            if (it->second == impossible) return DosToUnixTime(dos);
            return it->second + minute * 60 + second2 * 2;
        };
        const auto& entries = bridge_.Entries();
        rows_.reserve(entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            const ZipDirEntry& e = entries[i];
            EntryRow r;
            r.directory = !e.FileName.empty() && e.FileName.back() == '/';
            if (r.directory) {
                r.name = e.FileName;
            } else {
                r.name = FileNameOf(e.FileName);
                r.folder = ParentFolder(e.FileName);
            }
            r.size = e.UncompressedSize;
            r.packed = e.CompressedSize;
            r.time = unixTime(e.DateTime());
            r.crc = e.CRC32();
            r.attr = e.ExtFileAttrib() & 0xFF;
            r.type = TypeIndexOf(r.name, r.directory);
            r.order = static_cast<uint32_t>(i);
            if (!r.directory) {
                std::string lower = LowerAscii(r.name);
                if (lower == "install.exe" || lower == "setup.exe") {
                    installRow_ = r.StoredName();
                    view_.SetInstallVisible(true);
                }
            }
            totalUnpacked_ += r.size;
            totalPacked_ += r.packed;
            rows_.push_back(std::move(r));
        }
        totalCount_ = rows_.size();
        sel_.assign(rows_.size(), 0);
    }
    view_.EndRowsUpdate();
    if (bridge_.ZipFileName().empty()) {
        view_.SetStatusText(1, "");
    } else {
        view_.SetStatusText(2, TotalsStatus());
    }
}

void ArchiveModel::AddListerRow(const ListEntry& e) {
    if (e.IsDirectory) return;
    EntryRow r;
    r.name = FileNameOf(e.EntryName);
    r.folder = ParentFolder(e.EntryName);
    r.size = e.UnpackedSize;
    r.packed = e.PackedSize;
    r.time = e.EntryDate;
    r.crc = e.EntryCrc;
    r.attr = e.ExternalAttr & 0xFF;
    r.type = TypeIndexOf(r.name, false);
    r.order = static_cast<uint32_t>(rows_.size());
    rows_.push_back(std::move(r));
    sel_.push_back(0);
}

int ArchiveModel::CrcDigits() const {
    if (engine_ == EngineKind::ZipBridge) return 8;
    switch (arcType_) {
        case atArc:
        case atArcExe:
        case atLha:
        case atLhaExe:
        case atLzh:
        case atLzhExe:
            return 4;
        case atCab:
            return 0;
        default:
            return 8;
    }
}

std::string ArchiveModel::DateText(int64_t unixTime) const {
    if (engine_ == EngineKind::ZipBridge) return zipDate_ ? zipDate_(unixTime) : LocalShortDateTime(unixTime);
    return ListerDateText(unixTime);
}

std::string ArchiveModel::Text(int row, int col) const {
    if (row < 0 || row >= RowCount()) return {};
    const EntryRow& r = rows_[static_cast<size_t>(row)];
    if (r.directory && col != colName && col != colType && col != colDate) return "-";
    switch (col) {
        case colName:
            // Control characters of a stored name show as marks, never as what they would do.
            return VisibleMarks(r.name);
        case colType:
            return TypeDescription(r.type);
        case colSize:
            return GroupDigits(r.size);
        case colPacked:
            return GroupDigits(r.packed);
        case colRatio:
            return RatioText(r.packed, r.size);
        case colDate:
            return DateText(r.time);
        case colPath:
            return VisibleMarks(r.folder);
        case colCrc:
            return CrcText(r.crc, CrcDigits());
        case colAttributes:
            return AttributeText(r.attr);
        default:
            return {};
    }
}

void ArchiveModel::SortByColumn(int col) {
    if (col < 0 || col >= kColumnCount) return;
    sortColumn_ = col;
    bool descending = directionFlag_ && prevSortColumn_ == sortColumn_;
    SortRows(col, descending);
    directionFlag_ = !directionFlag_;
    prevSortColumn_ = sortColumn_;
    view_.CommandsChanged();
}

void ArchiveModel::Resort() {
    if (sortColumn_ >= 0) SortRows(sortColumn_, lastDescending_);
}

void ArchiveModel::SortRows(int col, bool descending) {
    lastDescending_ = descending;
    const size_t n = rows_.size();
    std::vector<uint32_t> perm(n);
    std::iota(perm.begin(), perm.end(), 0u);
    auto sortBy = [&](auto less) {
        if (descending)
            std::stable_sort(perm.begin(), perm.end(), [&](uint32_t a, uint32_t b) { return less(b, a); });
        else
            std::stable_sort(perm.begin(), perm.end(), less);
    };
    auto byNumber = [&](const std::vector<uint64_t>& key) {
        sortBy([&](uint32_t a, uint32_t b) { return key[a] < key[b]; });
    };
    auto byText = [&](const std::vector<std::string>& key) {
        sortBy([&](uint32_t a, uint32_t b) { return key[a] < key[b]; });
    };
    switch (col) {
        case colName:
            sortBy([&](uint32_t a, uint32_t b) { return rows_[a].name < rows_[b].name; });
            break;
        case colType: {
            // Ranks of the type descriptions: one comparison per type, not per row.
            std::vector<uint32_t> order(types_.size());
            std::iota(order.begin(), order.end(), 0u);
            std::vector<std::string> desc(types_.size());
            for (uint32_t t = 0; t < types_.size(); ++t)
                desc[t] = TypeDescription(t);
            std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return desc[a] < desc[b]; });
            std::vector<uint64_t> rank(types_.size());
            for (size_t i = 0; i < order.size(); ++i)
                rank[order[i]] = i > 0 && desc[order[i]] == desc[order[i - 1]] ? rank[order[i - 1]] : i;
            std::vector<uint64_t> key(n);
            for (size_t i = 0; i < n; ++i)
                key[i] = rank[rows_[i].type];
            byNumber(key);
            break;
        }
        case colSize:
        case colPacked: {
            std::vector<uint64_t> key(n);
            for (size_t i = 0; i < n; ++i)
                key[i] = rows_[i].directory ? 0 : col == colSize ? rows_[i].size : rows_[i].packed;
            byNumber(key);
            break;
        }
        case colRatio: {
            std::vector<uint64_t> key(n);
            for (size_t i = 0; i < n; ++i)
                key[i] = rows_[i].directory
                             ? 0
                             : static_cast<uint64_t>(RatioPercent(rows_[i].packed, rows_[i].size));
            byNumber(key);
            break;
        }
        case colDate:
            sortBy([&](uint32_t a, uint32_t b) { return rows_[a].time < rows_[b].time; });
            break;
        default: {
            std::vector<std::string> key(n);
            for (size_t i = 0; i < n; ++i)
                key[i] = Text(static_cast<int>(i), col);
            byText(key);
            break;
        }
    }
    std::vector<EntryRow> sorted;
    sorted.reserve(n);
    std::vector<uint8_t> sel(n);
    int focused = -1;
    for (size_t i = 0; i < n; ++i) {
        sorted.push_back(std::move(rows_[perm[i]]));
        sel[i] = sel_[perm[i]];
        if (static_cast<int>(perm[i]) == focused_) focused = static_cast<int>(i);
    }
    rows_ = std::move(sorted);
    sel_ = std::move(sel);
    focused_ = focused;
    view_.RowsSorted();
}

void ArchiveModel::SetSelected(int row, bool selected) {
    SetRangeSelected(row, row, selected);
}

void ArchiveModel::SetRangeSelected(int first, int last, bool selected) {
    if (closing_) return;
    first = std::max(first, 0);
    last = std::min(last, RowCount() - 1);
    if (first > last) return;
    bool before = selCount_ > 0;
    for (int i = first; i <= last; ++i) {
        uint8_t& s = sel_[static_cast<size_t>(i)];
        if (static_cast<bool>(s) == selected) continue;
        s = selected;
        const EntryRow& r = rows_[static_cast<size_t>(i)];
        uint64_t size = r.directory ? 0 : r.size;
        if (selected) {
            ++selCount_;
            selSum_ += size;
        } else {
            --selCount_;
            selSum_ -= size;
        }
    }
    UpdateSelectionStatus();
    if (before != (selCount_ > 0)) view_.CommandsChanged();
}

void ArchiveModel::SelectAll() {
    SetRangeSelected(0, RowCount() - 1, true);
    view_.SelectionReset();
}

void ArchiveModel::UnselectAll() {
    SetRangeSelected(0, RowCount() - 1, false);
    view_.SelectionReset();
}

void ArchiveModel::InvertSelection() {
    if (closing_) return;
    bool before = selCount_ > 0;
    selCount_ = 0;
    selSum_ = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        sel_[i] = !sel_[i];
        if (sel_[i]) {
            ++selCount_;
            if (!rows_[i].directory) selSum_ += rows_[i].size;
        }
    }
    UpdateSelectionStatus();
    if (before != (selCount_ > 0)) view_.CommandsChanged();
    view_.SelectionReset();
}

std::vector<int> ArchiveModel::SelectedRows() const {
    std::vector<int> out;
    out.reserve(static_cast<size_t>(selCount_));
    for (size_t i = 0; i < sel_.size(); ++i)
        if (sel_[i]) out.push_back(static_cast<int>(i));
    return out;
}

std::string ArchiveModel::SelectionStatus() const {
    if (open_ && engine_ == EngineKind::ZipBridge && bridge_.UseDirOnlyEntries)
        return SelectionText(selCount_, selSum_);
    return {};
}

void ArchiveModel::UpdateSelectionStatus() {
    if (open_) view_.SetStatusText(1, SelectionStatus());
}

CommandState ArchiveModel::State() const {
    CommandState s;
    s.open = open_;
    s.zip = open_ && engine_ == EngineKind::ZipBridge;
    s.executable = isExe_;
    s.writable = open_ && (engine_ == EngineKind::ZipBridge ||
                           (engine_ == EngineKind::Lister && IsCompressible(arcType_)) ||
                           newWriter_ != NewWriterKind::None);
    s.installRow = !installRow_.empty();
    s.anySelected = selCount_ > 0;
    s.busy = busy_;
    return s;
}

void ArchiveModel::SetBusy(bool b) {
    if (busy_ == b) return;
    busy_ = b;
    view_.SetBusy(b);
    view_.CommandsChanged();
}

void ArchiveModel::Extract(const ExtractRequest& r) {
    extract_->Run(r);
}

}  // namespace varnok::app
