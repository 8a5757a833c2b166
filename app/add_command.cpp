#include "app/add_command.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "app/paths.h"
#include "archive/core/compbase.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/printable.h"
#include "archive/formats/cab/cab_writer.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "zipbridge/zip_bridge.h"
#include "archive/core/utils.h"

namespace varnok::app {

namespace {

bool EndsWithI(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && LowerAscii(s.substr(s.size() - tail.size())) == tail;
}

bool IsFolder(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the open archive is a gzip-compressed TAR (the writer must decompress and recompress it).
bool IsGzipFile(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char b[2] = {};
    const bool gz = fread(b, 1, 2, f) == 2 && b[0] == 0x1f && b[1] == 0x8b;
    fclose(f);
    return gz;
}

bool LooksLikeTarName(const std::string& path) {
    return EndsWithI(path, ".tgz") || EndsWithI(path, ".tar.gz") || EndsWithI(path, ".taz");
}

// A name not yet taken, beside path (for moving the archive aside).
std::string FreeName(const std::string& path) {
    std::string n = path;
    for (int i = 1; platform::FileExists(n) || IsFolder(n); ++i)
        n = path + "." + std::to_string(i);
    return n;
}

const char* const kLevels[] = {"None (archiving)", "Fast", "Normal", "High", "Maximum (slow)"};

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Kinds, families and choices

const std::vector<std::pair<std::string, std::string>>& NewArchiveFilters() {
    static const std::vector<std::pair<std::string, std::string>> f = {
        {"Zip file", "*.zip"}, {"BlakHole file", "*.bh"}, {"Cabinet file", "*.cab"},
        {"Lha file", "*.lzh *.lha"}, {"Jar file", "*.jar"}, {"Tar file", "*.tar"},
    };
    return f;
}

std::string KindExtension(ArchiveKind k) {
    switch (k) {
        case ArchiveKind::Zip: return ".zip";
        case ArchiveKind::Bh: return ".bh";
        case ArchiveKind::Cab: return ".cab";
        case ArchiveKind::Lha: return ".lha";
        case ArchiveKind::Jar: return ".jar";
        case ArchiveKind::Tar: return ".tar";
        case ArchiveKind::GZip: return ".gz";
    }
    return ".zip";
}

std::string PathForKind(const std::string& path, ArchiveKind k) {
    const std::string ext = LowerAscii(ExtensionOf(path));
    if (k == ArchiveKind::Lha && ext == ".lzh") return path;
    if (k == ArchiveKind::Tar && (LooksLikeTarName(path))) return path;
    if (ext == KindExtension(k)) return path;
    return WithoutExtension(path) + KindExtension(k);
}

NewWriterKind WriterKindOf(ArchiveKind k) {
    switch (k) {
        case ArchiveKind::Zip: return NewWriterKind::Zip;
        case ArchiveKind::Bh: return NewWriterKind::Bh;
        case ArchiveKind::Cab: return NewWriterKind::Cab;
        case ArchiveKind::Lha: return NewWriterKind::Lha;
        case ArchiveKind::Jar: return NewWriterKind::Jar;
        case ArchiveKind::Tar: return NewWriterKind::Tar;
        case ArchiveKind::GZip: return NewWriterKind::GZip;
    }
    return NewWriterKind::None;
}

std::optional<ArchiveKind> KindOfPath(const std::string& path) {
    if (LooksLikeTarName(path)) return ArchiveKind::Tar;
    const std::string ext = LowerAscii(ExtensionOf(path));
    if (ext == ".zip") return ArchiveKind::Zip;
    if (ext == ".bh") return ArchiveKind::Bh;
    if (ext == ".cab") return ArchiveKind::Cab;
    if (ext == ".lha" || ext == ".lzh") return ArchiveKind::Lha;
    if (ext == ".jar") return ArchiveKind::Jar;
    if (ext == ".tar") return ArchiveKind::Tar;
    if (ext == ".gz") return ArchiveKind::GZip;
    return std::nullopt;
}

WriterFamily FamilyOf(const ArchiveModel& m) {
    if (!m.IsOpen()) return WriterFamily::None;
    switch (m.NewWriter()) {
        case NewWriterKind::Zip: return WriterFamily::Zip;
        case NewWriterKind::Bh: return WriterFamily::Bh;
        case NewWriterKind::Cab: return WriterFamily::Cab;
        case NewWriterKind::GZip: return WriterFamily::GZip;
        case NewWriterKind::Jar: return WriterFamily::Jar;
        case NewWriterKind::Lha: return WriterFamily::Lha;
        case NewWriterKind::Tar: return WriterFamily::Tar;
        case NewWriterKind::None: break;
    }
    switch (m.ArcType()) {
        case atZip:
        case atZipExe:
            return WriterFamily::Zip;
        case atJar: return WriterFamily::Jar;
        case atBh: return WriterFamily::Bh;
        case atLha:
        case atLzh:
            return WriterFamily::Lha;
        case atCab: return WriterFamily::Cab;
        case atTar: return WriterFamily::Tar;
        case atGZip:
            // A compressed TAR is listed and written as the TAR inside it.
            return LooksLikeTarName(m.ArchivePath()) ? WriterFamily::Tar : WriterFamily::GZip;
        default:
            return WriterFamily::None;
    }
}

CompressionChoices CompressionFor(WriterFamily f, const Settings& s) {
    CompressionChoices c;
    switch (f) {
        case WriterFamily::Zip:
        case WriterFamily::Jar:
        case WriterFamily::Bh:
        case WriterFamily::GZip:
            c.captions.assign(std::begin(kLevels), std::end(kLevels));
            c.start = s.zipCR;
            break;
        case WriterFamily::Lha:
            c.captions = {"None", "Frozen"};
            c.start = s.lhaCR;
            break;
        case WriterFamily::Cab:
            c.captions = {"None", "Lzx", "MsZip", "Quantum"};
            c.start = s.cabCR;
            break;
        case WriterFamily::Tar:
            c.captions = {"Tarred (None)", "GZipTar"};
            c.start = s.tarCR;
            break;
        case WriterFamily::None:
            break;
    }
    if (c.start < 0 || c.start >= static_cast<int>(c.captions.size())) c.start = c.captions.empty() ? -1 : 0;
    return c;
}

bool CanEncrypt(WriterFamily f) {
    return f == WriterFamily::Zip || f == WriterFamily::Jar || f == WriterFamily::Bh;
}

bool CanMove(WriterFamily f) {
    return f != WriterFamily::Cab && f != WriterFamily::None;
}

void PathOptions::SetFullPath(bool on) {
    fullPath = on;
    relativePath = false;
}
void PathOptions::SetRelativePath(bool on) {
    relativePath = on;
    fullPath = false;
}
void PathOptions::SetIncludeSubfolders(bool on) {
    includeSubfolders = on;
    recurse = false;
}
void PathOptions::SetRecurse(bool on) {
    recurse = on;
    includeSubfolders = false;
}

// ---------------------------------------------------------------------------------------------------------------
// Root folder and entries

RootedList RootAndEntries(const std::vector<std::string>& paths, bool relative, bool recurse,
                          const std::function<bool(const std::string&)>& isFolder) {
    RootedList out;
    struct Item {
        std::string path;  // without a trailing "/"
        bool folder;
    };
    std::vector<Item> items;
    for (const auto& p : paths) {
        if (p.empty()) continue;
        std::string q = p.size() > 1 ? WithoutSlash(p) : p;
        items.push_back({q, isFolder(q)});
    }
    // Patterns reach every file below their folder: "*" (not "*.*", which would pass over names without a dot).
    auto folderPattern = [](const std::string& f) { return f.empty() ? std::string("*") : WithSlash(f) + "*"; };
    if (!relative) {
        for (const auto& it : items) {
            out.entries.push_back(it.folder && !recurse ? folderPattern(it.path) : it.path);
            out.folder.push_back(it.folder);
        }
        return out;
    }
    std::vector<std::string> bases;
    for (const auto& it : items)
        bases.push_back(it.folder && recurse ? WithSlash(it.path) : ParentFolder(it.path));
    std::string root = bases.empty() ? std::string() : bases.front();
    for (const auto& b : bases) {
        size_t n = 0;
        while (n < root.size() && n < b.size() && root[n] == b[n])
            ++n;
        root.resize(n);
    }
    // Whole folders only.
    size_t slash = root.rfind('/');
    root = slash == std::string::npos ? std::string() : root.substr(0, slash + 1);
    out.root = root;
    for (const auto& it : items) {
        std::string rel = it.path.compare(0, root.size(), root) == 0 ? it.path.substr(root.size()) : it.path;
        if (it.path.size() + 1 == root.size()) rel.clear();  // the folder is the root itself
        if (it.folder)
            out.entries.push_back(recurse ? (rel.empty() ? std::string("*") : rel) : folderPattern(rel));
        else
            out.entries.push_back(rel);
        out.folder.push_back(it.folder);
    }
    return out;
}

bool PatternMatches(const std::string& name, const std::string& pattern) {
    // As on DOS, "x.*" also takes names without an extension ("*.*" is every name).
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos)
        return PatternMatches(name, pattern.substr(0, pattern.size() - 2));
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool PasswordConfirm::Ok(const std::string& text) {
    error_.clear();
    if (step_ == Step::First) {
        first_ = text;
        step_ = Step::Again;
        return true;
    }
    if (step_ == Step::Again) {
        if (text != first_) {
            error_ = kMismatch;
            return false;
        }
        password_ = text;
        step_ = Step::Done;
    }
    return true;
}

SpanSizeChoice SpanChoiceFor(int rememberedKB) {
    SpanSizeChoice c;
    if (rememberedKB == 720)
        c.choice = 0;
    else if (rememberedKB == 0 || rememberedKB == 1430 || rememberedKB == 1410)
        c.choice = 1;
    else {
        c.choice = 2;
        c.field = std::to_string(rememberedKB);
    }
    return c;
}

std::optional<int> SpanSizeOf(const SpanSizeChoice& c) {
    if (c.choice == 0) return 720;
    if (c.choice == 1) return 1410;
    const std::string& f = c.field;
    size_t i = 0;
    while (i < f.size() && f[i] == ' ')
        ++i;
    if (i == f.size()) return std::nullopt;
    long long v = 0;
    for (; i < f.size() && f[i] != ' '; ++i) {
        if (f[i] < '0' || f[i] > '9') return std::nullopt;
        v = v * 10 + (f[i] - '0');
        if (v > 4 * 1024 * 1024) return std::nullopt;  // 4 GiB volumes and more: not a sensible size
    }
    while (i < f.size() && f[i] == ' ')
        ++i;
    if (i != f.size() || v <= 0) return std::nullopt;
    return static_cast<int>(v);
}

// ---------------------------------------------------------------------------------------------------------------
// The operation

AddOperation::AddOperation(ArchiveModel& model) : model_(model) {}
AddOperation::~AddOperation() = default;

void AddOperation::CreateArchive(const std::string& path, ArchiveKind kind) {
    model_.OpenNew(PathForKind(path, kind), WriterKindOf(kind));
}

bool AddOperation::NewArchive(const std::string& path, ArchiveKind kind) {
    const std::string target = PathForKind(path, kind);
    replaceOnAdd_.clear();
    if (platform::FileExists(target)) {
        if (!model_.View().Ask("Confirm", "Overwrite Archiv :\r\n" + VisibleMarks(target) + "?")) return false;
        // The old file goes only when the new archive has been written in its place.
        replaceOnAdd_ = target;
    } else if (IsFolder(target)) {
        model_.View().Message("Error", VisibleMarks(target) + " is a folder.");
        return false;
    }
    model_.OpenNew(target, WriterKindOf(kind));
    return true;
}

bool AddOperation::AutomaticSpanAllowed() {
    const std::string where = model_.IsOpen() ? model_.ArchivePath() : std::string();
    if (!where.empty() && platform::QueryDrive(where).kind == platform::dkRemovable) return true;
    model_.View().Message("Disk span error", kSpanError);
    return false;
}

std::unique_ptr<TCompBase> AddOperation::MakeWriter(WriterFamily f, int compression, bool forNew) {
    static const TArcType kTypes[] = {atNA, atZip, atJar, atBh, atLha, atCab, atTar, atGZip};
    const TArcType t = kTypes[static_cast<int>(f)];
    const FormatRecord* rec = t == atNA ? nullptr : FormatOf(t);
    if (!rec || !rec->writer) return nullptr;
    std::unique_ptr<TCompBase> w = rec->writer(t);
    if (!w) return nullptr;
    const CompressionChoices choices = CompressionFor(f, model_.Config());
    const int idx = compression >= 0 && compression < static_cast<int>(choices.captions.size()) ? compression
                                                                                                 : choices.start;
    static constexpr TDeflateType kDeflate[] = {dtDeflateN, dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX};
    switch (f) {
        case WriterFamily::Zip:
        case WriterFamily::Jar:
        case WriterFamily::Bh:
        case WriterFamily::GZip:
            if (idx >= 0) w->DeflateType = kDeflate[idx];
            if (idx == 0 && f != WriterFamily::GZip) w->SetCompressMethod(cmStore);
            break;
        case WriterFamily::Lha:
            w->SetCompressMethod(idx == 0 ? cmStore : cmFrozen6);
            break;
        case WriterFamily::Cab: {
            static constexpr TCompressMethod kCab[] = {cmStore, cmLzx, cmMsZip, cmQuantum};
            if (idx >= 0) w->SetCompressMethod(kCab[idx]);
            if (auto* cab = dynamic_cast<TMakeCab*>(w.get()); cab && idx == 3) cab->QuantumType = ctQuantum;
            break;
        }
        case WriterFamily::Tar:
            // An existing TAR keeps its form; a new one takes the choice.
            if (forNew)
                w->SetCompressMethod(idx == 1 ? cmGzipTar : cmTarred);
            else
                w->SetCompressMethod(IsGzipFile(model_.ArchivePath()) ? cmGzipTar : cmTarred);
            break;
        case WriterFamily::None:
            break;
    }
    return w;
}

int AddOperation::RunWriter(TCompBase& w, const std::string& header) {
    ArchiveView& view = model_.View();
    errors_.clear();
    cancelled_ = false;
    w.OnBegin = [&view](TZipCommon&, const std::string& name, int, bool&) { view.ProgressFile(VisibleMarks(name)); };
    w.OnProgress = [&view](TZipCommon&, int byFile, int byArchive) {
        view.ProgressBars(byFile, byArchive);
        view.ProcessEvents();
    };
    w.ProcessMessages = [&view]() { view.ProcessEvents(); };
    w.OnError = [this](TZipCommon&, const std::string& file, const std::string& msg, const std::string&, int code) {
        if (code == E_UserCanceled) return;
        std::string line = file.empty() ? std::string() : VisibleMarks(file) + ": ";
        line += ErrorText(code);
        if (!msg.empty() && msg != ErrorText(code)) line += " (" + VisibleMarks(msg) + ")";
        if (std::find(errors_.begin(), errors_.end(), line) == errors_.end()) errors_.push_back(line);
    };
    w.OnNonWriteableArchive = [](TZipCommon&, const std::string&, bool& write) { write = false; };
    running_ = true;
    writer_ = &w;
    model_.SetBusy(true);
    view.SetWaitCursor(true);
    view.ProgressOpen(header);
    int n = 0;
    try {
        n = w.CompressArchive();
    } catch (const std::exception& x) {
        errors_.push_back(VisibleMarks(w.ArchiveFile()) + ": " + x.what());
        n = -1;
    }
    cancelled_ = cancelled_ || w.Cancel();
    view.ProgressBars(0, 0);
    view.ProgressClose();
    view.SetWaitCursor(false);
    writer_ = nullptr;
    running_ = false;
    model_.SetBusy(false);
    if (cancelled_) return -1;
    if (n < 0 || w.Failed()) return -1;
    return n;
}

bool AddOperation::UsesBridge(WriterFamily f) const {
    if (f != WriterFamily::Zip || !useBridge) return false;
    return model_.Engine() == EngineKind::ZipBridge || model_.NewWriter() == NewWriterKind::Zip;
}

// ZIP archives are written by the add/delete engine library through a bridge of their own (the model's bridge
// keeps showing the archive as it was until the run is over). Its progress (file count, sizes, bytes done)
// becomes the two bars; its messages are collected and shown once, at the end.
int AddOperation::RunBridge(const std::string& header, const std::string& archive,
                            const std::function<int(TZipBridge&)>& op) {
    ArchiveView& view = model_.View();
    errors_.clear();
    cancelled_ = false;
    TZipBridge b;
    b.Unattended = true;
    b.TempDir = model_.Bridge().TempDir;
    if (!model_.Bridge().DLLDirectory().empty()) b.SetDLLDirectory(model_.Bridge().DLLDirectory());
    if (!engineFolder.empty()) b.SetDLLDirectory(engineFolder);
    b.SetZipFileName(archive);
    b.OnMessage = [this](TZipBridge&, int code, const std::string& text) {
        if (cancelled_ || code == 1) {
            model_.View().Log(VisibleMarks(text));
            return;
        }
        const std::string line = VisibleMarks(text);
        if (std::find(errors_.begin(), errors_.end(), line) == errors_.end()) errors_.push_back(line);
    };
    uint64_t totalSize = 0, totalDone = 0, fileSize = 0, fileDone = 0;
    auto percent = [](uint64_t done, uint64_t all) {
        return all == 0 ? 0 : static_cast<int>(std::min<uint64_t>(100, done * 100 / all));
    };
    b.OnProgress = [&](TZipBridge&, int kind, const std::string& name, int64_t number) {
        const uint64_t v = number > 0 ? static_cast<uint64_t>(number) : 0;
        switch (kind) {
            case 0:
                fileSize = v;
                fileDone = 0;
                view.ProgressFile(VisibleMarks(name));
                break;
            case 1:
                fileDone += v;
                totalDone += v;
                break;
            case 4:
                totalSize = v;
                break;
            default:
                break;
        }
        view.ProgressBars(percent(fileDone, fileSize), percent(totalDone, totalSize));
    };
    b.ProcessMessages = [&view] { view.ProcessEvents(); };
    running_ = true;
    bridge_ = &b;
    model_.SetBusy(true);
    view.SetWaitCursor(true);
    view.ProgressOpen(header);
    int n = 0;
    try {
        n = op(b);
    } catch (const std::exception& x) {
        errors_.push_back(VisibleMarks(archive) + ": " + x.what());
        n = 0;
    }
    // A Cancel pressed after the engine put the new archive in place came too late: the run is done.
    cancelled_ = (cancelled_ || b.Cancel()) && n <= 0;
    view.ProgressBars(0, 0);
    view.ProgressClose();
    view.SetWaitCursor(false);
    bridge_ = nullptr;
    running_ = false;
    model_.SetBusy(false);
    if (cancelled_) return -1;
    // Nothing done and something said: a failure. Nothing done and nothing said: nothing matched (an update
    // with no newer files, say), which is not one.
    if (n <= 0 && !errors_.empty()) return -1;
    return n;
}

int AddOperation::RunBridgeAdd(const std::string& archive, const RootedList& list, bool recurse,
                               const AddRequest& r) {
    return RunBridge("Adding...", archive, [&](TZipBridge& b) {
        static constexpr int kLevels[] = {0, 1, 3, 6, 9};
        const CompressionChoices choices = CompressionFor(WriterFamily::Zip, model_.Config());
        const int idx = r.compression >= 0 && r.compression < 5 ? r.compression : choices.start;
        b.AddCompLevel = kLevels[std::clamp(idx, 0, 4)];
        b.AddOptions = {};
        if (r.hiddenFiles) b.AddOptions.Include(AddHiddenFiles);
        if (r.emptyFolders) b.AddOptions.Include(AddSeparateDirs);
        if (r.dos83) b.AddOptions.Include(AddForceDOS);
        if (r.action == 1) b.AddOptions.Include(AddUpdate);
        if (r.action == 2) b.AddOptions.Include(AddFreshen);
        if (r.action == 3) b.AddOptions.Include(AddMove);
        if (r.fullPath) {
            b.AddOptions.Include(AddDirNames);
            b.SetRootDir(list.root.empty() ? std::string("/") : list.root);
        } else if (r.relativePath) {
            b.AddOptions.Include(AddDirNames);
            b.SetRootDir(list.root);
        } else {
            b.SetRootDir(list.root);
        }
        if (!r.password.empty()) {
            b.Password = r.password;
            b.AddOptions.Include(AddEncrypt);
        }
        b.FSpecArgsExcl = excludeList;
        // Every item carries both markers, so that a file name holding "<" or beginning with ">" or "|" is
        // taken as it is.
        std::vector<std::string> items;
        for (size_t i = 0; i < list.entries.size(); ++i)
            items.push_back(std::string(list.folder[i] && recurse ? ">" : "|") + list.entries[i] + "<" +
                            (r.password.empty() ? std::string() : r.password));
        b.FSpecArgs = items;
        return b.Add();
    });
}

void AddOperation::ShowErrors(const std::string& what) {
    if (errors_.empty()) return;
    std::string text;
    const size_t shown = std::min<size_t>(errors_.size(), 20);
    for (size_t i = 0; i < shown; ++i)
        text += errors_[i] + "\n";
    if (errors_.size() > shown) text += "... and " + std::to_string(errors_.size() - shown) + " more\n";
    if (!what.empty()) text += what;
    for (const auto& e : errors_)
        model_.View().Log(e);
    model_.View().Message("Error", text);
}

void AddOperation::Cancel() {
    cancelled_ = true;
    if (writer_) writer_->SetCancel(true);
    if (bridge_) bridge_->SetCancel(true);
    if (spanCancel_) spanCancel_();
}

int AddOperation::Add(const std::vector<std::string>& paths, const AddRequest& r) {
    ArchiveView& view = model_.View();
    if (running_ || model_.Busy()) return -1;
    if (paths.empty()) {
        view.Message("Error", kNoFiles);
        return -1;
    }
    const WriterFamily fam = FamilyOf(model_);
    if (fam == WriterFamily::None) {
        view.Message("Error", kNotSupported);
        return -1;
    }
    if (!r.password.empty() && !CanEncrypt(fam)) {
        view.Message("Error", "Only ZIP, JAR and BH archives can be encrypted: nothing was added.");
        return -1;
    }
    const bool forNew = model_.NewWriter() != NewWriterKind::None;
    const bool viaBridge = UsesBridge(fam);
    std::unique_ptr<TCompBase> w;
    if (!viaBridge) {
        w = MakeWriter(fam, r.compression, forNew);
        if (!w) {
            view.Message("Error", kNotSupported);
            return -1;
        }
    }
    std::string target = model_.ArchivePath();
    if (w && forNew && fam == WriterFamily::Tar && w->CompressMethod() == cmGzipTar && !LooksLikeTarName(target) &&
        !EndsWithI(target, ".gz"))
        target += ".gz";

    // A new archive over an existing file is built in a private folder and renamed over it when complete.
    std::string buildAt = target, privateDir;
    if (forNew && !replaceOnAdd_.empty() && replaceOnAdd_ == model_.ArchivePath() && platform::FileExists(target)) {
        std::string tmpl = ParentFolder(target) + ".varnok-new-XXXXXX";
        if (!mkdtemp(tmpl.data())) {
            view.Message("Error", VisibleMarks(ParentFolder(target)) + ": " + platform::LastErrorText());
            return -1;
        }
        privateDir = tmpl;
        buildAt = WithSlash(privateDir) + FileNameOf(target);
    }

    const bool recurse = r.recurse || r.includeSubfolders;
    const bool relative = r.relativePath && !r.fullPath;
    RootedList list = RootAndEntries(paths, relative, recurse, IsFolder);
    view.SetStatusText(0, "Adding...");
    int n = -1;
    if (viaBridge) {
        n = RunBridgeAdd(buildAt, list, recurse, r);
    } else {
        w->SetArchiveFile(buildAt);
        if (!list.root.empty()) w->SetDefaultDir(list.root);
        w->StoredDirNames = r.fullPath ? sdAbsoluteNoDrv : relative ? sdExplorer : sdNone;
        w->FileSpec = list.entries;
        w->SpecRecurse.clear();
        for (size_t i = 0; i < list.entries.size(); ++i)
            w->SpecRecurse.push_back(list.folder[i] && recurse ? 1 : 0);
        w->RecurseDirs = false;
        w->ExcludeSpec = excludeList;
        w->StoreEmptySubDirs = r.emptyFolders;
        w->SkipHidden = !r.hiddenFiles;
        w->Password = r.password;
        w->Switch = r.action == 3 && CanMove(fam) ? swMove : swAdd;
        w->FreshenOnly = r.action == 2;
        const bool onlyNewer = r.action == 1 || r.action == 2;
        w->OnReplaceFile = [onlyNewer](TZipCommon&, const std::string&, const std::string&, int64_t oldDate,
                                       int64_t newDate, uint64_t, uint64_t, uint32_t, uint32_t, bool& replace) {
            replace = !onlyNewer || newDate > oldDate + 1;
        };
        n = RunWriter(*w, "Adding...");
    }
    bool done = n >= 0;
    if (done && buildAt != target) {
        if (rename(buildAt.c_str(), target.c_str()) != 0) {
            errors_.push_back(VisibleMarks(target) + ": " + platform::LastErrorText());
            done = false;
        } else {
            replaceOnAdd_.clear();
        }
    }
    if (!privateDir.empty()) {
        if (platform::FileExists(buildAt)) unlink(buildAt.c_str());
        rmdir(privateDir.c_str());
    }
    if (cancelled_) {
        view.Log("Adding cancelled: the archive was not changed.");
        return -1;
    }
    if (!done) {
        ShowErrors("The archive was not changed.");
        return -1;
    }
    model_.Reread(target);
    ShowErrors("");  // files passed over (unreadable, vanished) while the others were added
    view.SetStatusText(0, std::to_string(n) + " files(s) added");
    if (fam == WriterFamily::Zip && CanSpan()) {
        if (r.spanMode == 0 && spanAfterAdd && spanSizeKB > 0)
            Split(spanSizeKB);
        else if (r.spanMode == 1 || r.spanMode == 2)
            Split(0);
    }
    return n;
}

int AddOperation::Delete(DeleteMode mode, const std::string& pattern) {
    ArchiveView& view = model_.View();
    if (running_ || model_.Busy()) return -1;
    const WriterFamily fam = FamilyOf(model_);
    if (fam == WriterFamily::None || model_.NewWriter() != NewWriterKind::None) {
        if (fam == WriterFamily::None) view.Message("Error", kNotSupported);
        return -1;
    }
    std::set<std::string> names, folders;
    for (int i = 0; i < model_.RowCount(); ++i) {
        const EntryRow& row = model_.Row(i);
        const bool take = mode == DeleteMode::All        ? true
                          : mode == DeleteMode::Selected ? model_.IsSelected(i)
                                                         : PatternMatches(row.name, pattern);
        if (!take) continue;
        std::string n = row.StoredName();
        while (n.size() > 1 && n.back() == '/')
            n.pop_back();
        names.insert(n);
        if (row.directory) folders.insert(n + "/");
    }
    if (names.empty()) {
        view.Message("Error", kNoFiles);
        return -1;
    }
    if (!view.Ask("Question", kDeleteQuestion)) return -1;
    int n = -1;
    if (UsesBridge(fam)) {
        // By identity: each row's exact name; a folder row ("docs/") takes what lies below it.
        std::vector<std::string> specs;
        for (const auto& name : names)
            specs.push_back(TZipBridge::ExactSpec(folders.count(name + "/") ? name + "/" : name));
        n = RunBridge("Deleting...", model_.ArchivePath(), [&specs](TZipBridge& b) {
            b.FSpecArgs = specs;
            return b.Delete();
        });
    } else {
        std::unique_ptr<TCompBase> w = MakeWriter(fam, -1, false);
        if (!w) {
            view.Message("Error", kNotSupported);
            return -1;
        }
        w->SetArchiveFile(model_.ArchivePath());
        w->Switch = swDelete;
        // By identity: the exact stored name; a folder row takes what lies below it.
        w->SelectForDelete = [names, folders](const std::string& name) {
            if (names.count(name)) return true;
            for (const auto& f : folders)
                if (name.compare(0, f.size(), f) == 0) return true;
            return false;
        };
        n = RunWriter(*w, "Deleting...");
    }
    if (cancelled_) {
        view.Log("Deleting cancelled: the archive was not changed.");
        return -1;
    }
    if (n < 0) {
        ShowErrors("The archive was not changed.");
        return -1;
    }
    model_.Reread();
    view.SetStatusText(0, std::to_string(n) + " files(s) deleted");
    return n;
}

bool AddOperation::Split(int sizeKB) {
    ArchiveView& view = model_.View();
    if (!spanWriter_ || running_ || FamilyOf(model_) != WriterFamily::Zip || model_.NewWriter() != NewWriterKind::None)
        return false;
    const std::string path = model_.ArchivePath();
    if (!platform::FileExists(path)) return false;
    const std::string aside = FreeName(WithoutExtension(path) + ".tmp");
    model_.Close();
    if (rename(path.c_str(), aside.c_str()) != 0) {
        view.Message("Error", "Error renaming file.");
        model_.Open(path);
        return false;
    }
    std::vector<std::string> volumes;
    errors_.clear();
    cancelled_ = false;
    running_ = true;
    model_.SetBusy(true);
    view.SetWaitCursor(true);
    view.ProgressOpen("Writing spanned set...");
    int rc = -9;
    try {
        rc = spanWriter_(aside, path, static_cast<int64_t>(sizeKB) * 1024, volumes);
    } catch (const std::exception& x) {
        errors_.push_back(VisibleMarks(path) + ": " + x.what());
    }
    view.ProgressClose();
    view.SetWaitCursor(false);
    model_.SetBusy(false);
    running_ = false;
    if (rc == 0 && !volumes.empty() && platform::FileExists(volumes.back())) {
        // The set is complete: only now does the unsplit copy go.
        unlink(aside.c_str());
        spanAfterAdd = false;
        model_.Open(volumes.back());
        return true;
    }
    // Anything else puts the archive back where it was.
    if (rename(aside.c_str(), path.c_str()) != 0)
        errors_.push_back("The archive was kept as " + VisibleMarks(aside) + ": " + platform::LastErrorText());
    model_.Open(platform::FileExists(path) ? path : aside);
    if (!cancelled_) {
        if (errors_.empty()) errors_.push_back(VisibleMarks(path) + ": the spanned set could not be written.");
        ShowErrors("The archive was not split.");
    }
    return false;
}

}  // namespace varnok::app
