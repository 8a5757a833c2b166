// The tool windows' runs. Each run keeps its component on the stack, points the window's Cancel at the
// component's stop flag for the run's length, and turns the component's events into log lines, questions and
// progress.
#include "app/tool_windows.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

#include "archive/core/errors.h"
#include "archive/core/unbase.h"
#include "archive/core/utils.h"
#include "archive/formats/uue/uue_writer.h"
#include "archive/tools/arc2arc.h"
#include "archive/tools/zipcheck.h"
#include "archive/tools/zipfix.h"
#include "engines/unzdll/unzdll.h"
#include "platform/file.h"
#include "platform/fileattr.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::app {

namespace {

constexpr size_t kBoxLines = 20;
constexpr int kFirstBridgeMessage = 10101;
constexpr int kLastBridgeMessage = 11047;

// "name: reason (detail)" for an error event of a component.
std::string ErrorLine(const std::string& file, const std::string& msg, int code) {
    std::string line = file.empty() ? std::string() : ExtractFileName(file) + ": ";
    line += code > 0 ? ErrorText(code) : std::string();
    if (!msg.empty() && msg != ErrorText(code)) line += code > 0 ? " (" + msg + ")" : msg;
    return line;
}

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && LowerAscii(s.substr(s.size() - tail.size())) == tail;
}

// The path without its extension (both parts of ".tar.gz" and the like).
std::string WithoutExtension(const std::string& path) {
    const std::string name = ExtractFileName(path);
    const std::string folder = path.substr(0, path.size() - name.size());
    for (const char* twoPart : {".tar.gz", ".tar.z", ".tar.bz2", ".tar.xz"})
        if (EndsWithNoCase(name, twoPart) && name.size() > std::string(twoPart).size())
            return folder + name.substr(0, name.size() - std::string(twoPart).size());
    const std::string ext = ExtractFileExt(name);
    if (ext.empty() || ext.size() == name.size()) return path;
    return folder + name.substr(0, name.size() - ext.size());
}

// Points a tool's Cancel at a running component for as long as it runs.
struct StopHook {
    std::function<void()>& slot;
    StopHook(std::function<void()>& s, std::function<void()> stop) : slot(s) { slot = std::move(stop); }
    ~StopHook() { slot = nullptr; }
};

std::string NextVolumePrompt(const std::string& volume, const std::string& id) {
    return "Insert next disk or locate the file: " + ExtractFileName(volume) + " (ID: " + id + ")";
}

void AddPasswords(std::vector<std::string>& into, const std::vector<std::string>& from) {
    for (const auto& p : from)
        if (std::find(into.begin(), into.end(), p) == into.end()) into.push_back(p);
}

}  // namespace

std::string ErrorBoxText(const std::string& heading, const std::vector<std::string>& errors) {
    std::string s = heading;
    if (!errors.empty()) s += "\n";
    for (size_t i = 0; i < errors.size() && i < kBoxLines; ++i)
        s += "\n" + errors[i];
    if (errors.size() > kBoxLines) s += "\n... and " + std::to_string(errors.size() - kBoxLines) + " more";
    return s;
}

// ---- The list of archives -----------------------------------------------------------------------------------

int ArchiveList::Add(const std::vector<std::string>& paths, ToolView& view) {
    int added = 0;
    for (const auto& p : paths) {
        if (!platform::FileExists(p)) {
            view.Message("Error", kMissingArchiveText);
            continue;
        }
        if (std::find(files_.begin(), files_.end(), p) != files_.end()) continue;
        files_.push_back(p);
        ++added;
    }
    return added;
}

void ArchiveList::Remove(std::vector<int> indexes) {
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it)
        if (*it >= 0 && static_cast<size_t>(*it) < files_.size()) files_.erase(files_.begin() + *it);
}

// ---- Encode -------------------------------------------------------------------------------------------------

std::string EncodeTool::TargetFor(const std::string& source, TextEncoding e) {
    if (source.empty()) return {};
    return WithoutExtension(source) + (e == TextEncoding::UUE ? ".uue" : ".xxe");
}

void EncodeTool::Start(const std::string& openArchive) {
    source = openArchive;
    encoding = TextEncoding::UUE;
    target = TargetFor(openArchive, TextEncoding::UUE);
}

bool EncodeTool::ChooseSource(const std::string& path) {
    if (!platform::FileExists(path)) {
        view_.Message("Error", kMissingArchiveText);
        return false;
    }
    source = path;
    target = TargetFor(path, encoding);
    return true;
}

void EncodeTool::ChooseTargetFolder(const std::string& folder) {
    if (folder.empty()) return;
    std::string name = ExtractFileName(target);
    if (name.empty()) name = ExtractFileName(TargetFor(source, encoding));
    target = AppendSlash(folder) + name;
}

void EncodeTool::SetEncoding(TextEncoding e) {
    const char* other = e == TextEncoding::UUE ? ".xxe" : ".uue";
    encoding = e;
    if (EndsWithNoCase(target, other))
        target = target.substr(0, target.size() - 4) + (e == TextEncoding::UUE ? ".uue" : ".xxe");
}

void EncodeTool::Cancel() {
    cancel_ = true;
    if (stop_) stop_();
}

ToolResult EncodeTool::Run(bool checkValidity) {
    if (running_) return ToolResult::Refused;
    errors_.clear();
    cancel_ = false;
    if (source.empty() || !platform::FileExists(source)) {
        view_.Message("Error", kSourceMissingText);
        return ToolResult::Refused;
    }
    if (checkValidity) {
        TZipCheck probe;
        probe.SetArchiveFile(source);
        if (!IsRecognised(probe.ArcType())) {
            view_.Message("Error", kSourceInvalidText);
            return ToolResult::Refused;
        }
    }
    if (target.empty()) return ToolResult::Refused;
    if (platform::FileExists(target)) {
        char* a = realpath(source.c_str(), nullptr);
        char* b = realpath(target.c_str(), nullptr);
        const bool same = a && b && std::string(a) == b;
        free(a);
        free(b);
        if (same) {
            errors_.push_back(ExtractFileName(target) + ": " + ErrorText(E_SameInOut));
            view_.Message("Error", ErrorBoxText("An error occured while encoding archive. Process canceled.",
                                                errors_));
            return ToolResult::Failed;
        }
    }

    TUUEncode w;
    w.SetCompressMethod(encoding == TextEncoding::UUE ? cmUUEncode : cmXXEncode);
    w.SetArchiveFile(source);
    w.SetOutFilename(target);
    w.WriteTableToFile = writeTable;
    w.FileSpec = {"*.*"};
    bool skipped = false;
    w.OnFileExists = [&](TZipCommon&, const std::string& name, int64_t, TOverwriteMode& mode) {
        const bool yes = view_.AskYesNo("Confirmation", "File " + name + " already exists. Overwrite it?");
        mode = yes ? omOverwrite : omSkip;
        if (!yes) skipped = true;
    };
    w.OnNonWriteableArchive = [&](TZipCommon&, const std::string& name, bool& write) {
        write = false;
        errors_.push_back(ExtractFileName(name) + ": " + ErrorText(E_FileReadOnly));
    };
    w.OnError = [&](TZipCommon&, const std::string& file, const std::string& msg, const std::string&, int code) {
        if (code == E_UserCanceled || cancel_) return;
        errors_.push_back(ErrorLine(file, msg, code));
    };
    w.OnProgress = [&](TZipCommon&, int byFile, int byArchive) { view_.ProgressBars(byFile, byArchive); };
    w.ProcessMessages = [&] {
        view_.ProcessEvents();
        if (cancel_) w.SetCancel(true);
    };
    StopHook hook(stop_, [&w] { w.SetCancel(true); });
    running_ = true;
    view_.SetRunning(true);
    view_.ProgressOpen("Encoding...");
    view_.ProgressFile(ExtractFileName(source));
    int written = 0;
    try {
        written = w.CompressArchive();
    } catch (const std::exception& e) {
        if (!cancel_) errors_.push_back(ExtractFileName(source) + ": " + e.what());
    }
    view_.ProgressClose();
    running_ = false;
    view_.SetRunning(false);
    if (cancel_ || w.Cancel()) return ToolResult::Cancelled;
    if (errors_.empty() && written != 1 && !skipped)
        errors_.push_back(ExtractFileName(target) + ": " + ErrorText(E_WriteFile));
    if (!errors_.empty()) {
        view_.Message("Error",
                      ErrorBoxText("An error occured while encoding archive. Process canceled.", errors_));
        return ToolResult::Failed;
    }
    if (skipped) return ToolResult::Cancelled;
    view_.Message("Information", "The archive was succesfully encoded.");
    return ToolResult::Done;
}

// ---- Convert ------------------------------------------------------------------------------------------------

namespace {

TOutArcType OutTypeOf(ConvertType t) {
    switch (t) {
        case ConvertType::Bh:
            return tyBh;
        case ConvertType::Cab:
            return tyCab;
        case ConvertType::GzipTar:
            return tyGzipTar;
        case ConvertType::Lha:
            return tyLzh;
        case ConvertType::Tar:
            return tyTar;
        case ConvertType::Zip:
            return tyZip;
    }
    return tyZip;
}

}  // namespace

const char* ConvertTool::TypeCaption(ConvertType t) {
    switch (t) {
        case ConvertType::Bh:
            return "BlakHole (.bh)";
        case ConvertType::Cab:
            return "Cabinet (.cab)";
        case ConvertType::GzipTar:
            return "GZip Tar (.tar.gz)";
        case ConvertType::Lha:
            return "Lha (.lzh)";
        case ConvertType::Tar:
            return "Tar (.tar)";
        case ConvertType::Zip:
            return "Zip (.zip)";
    }
    return "";
}

std::string ConvertTool::TargetExtension(ConvertType t) {
    switch (t) {
        case ConvertType::Bh:
            return ".bh";
        case ConvertType::Cab:
            return ".cab";
        case ConvertType::GzipTar:
            return ".tar.gz";  // gzip data: a name ending in ".tar" would hide that
        case ConvertType::Lha:
            return ".lha";
        case ConvertType::Tar:
            return ".tar";
        case ConvertType::Zip:
            return ".zip";
    }
    return "";
}

bool ConvertTool::TypeAvailable(ConvertType t) {
    return TArc2Arc::CanWrite(OutTypeOf(t));
}

std::string ConvertTool::TargetName(const std::string& source) const {
    const std::string name = ExtractFileName(WithoutExtension(source)) + TargetExtension(options.type);
    if (options.ownDirectory) return ExtractFilePath(source) + name;
    return AppendSlash(options.folder) + name;
}

void ConvertTool::Cancel() {
    cancel_ = true;
    if (stop_) stop_();
}

void ConvertTool::LogLine(const std::string& line) {
    log_.push_back(line);
    view_.DetailsLine(line);
}

void ConvertTool::LogAppend(const std::string& text) {
    if (log_.empty()) log_.emplace_back();
    log_.back() += text;
    view_.DetailsAppend(text);
}

void ConvertTool::Error(const std::string& line) {
    errors_.push_back(line);
    LogLine(line);
}

ToolResult ConvertTool::Run() {
    if (running_) return ToolResult::Refused;
    errors_.clear();
    written_.clear();
    cancel_ = false;
    running_ = true;
    view_.SetRunning(true);
    const std::vector<std::string> files = list.Files();
    std::vector<int> converted;
    bool stopped = false;
    for (size_t i = 0; i < files.size() && !cancel_; ++i) {
        const std::string& source = files[i];
        // A missing or unreadable source stops the batch, with its own box.
        if (!platform::FileExists(source)) {
            view_.Message("Error", kSourceMissingText);
            stopped = true;
            break;
        }
        {
            TZipCheck probe;
            probe.SetArchiveFile(source);
            if (!IsRecognised(probe.ArcType())) {
                view_.Message("Error", kSourceInvalidText);
                stopped = true;
                break;
            }
        }
        if (ConvertOne(source)) converted.push_back(static_cast<int>(i));
    }
    list.Remove(converted);
    view_.Status(0, "");
    view_.Status(2, "");
    running_ = false;
    view_.SetRunning(false);
    if (cancel_) {
        if (!log_.empty()) LogLine("");
        LogLine("Conversion stopped; unfinished targets were not written.");
        return ToolResult::Cancelled;
    }
    if (!errors_.empty()) {
        view_.Message("Error", ErrorBoxText("Not all files have been converted:", errors_));
        return ToolResult::Failed;
    }
    if (stopped || converted.size() != files.size()) return ToolResult::Failed;
    view_.Message("Information", "All files have been converted.");
    return ToolResult::Done;
}

bool ConvertTool::ConvertOne(const std::string& source) {
    const std::string target = TargetName(source);
    const std::string shown = ExtractFileName(source);
    const size_t errorsBefore = errors_.size();
    if (!options.ownDirectory && !options.folder.empty() && !platform::DirectoryExists(options.folder) &&
        !platform::ForceDirectories(options.folder)) {
        Error(options.folder + ": " + ErrorText(E_UnableCreateDir) + " (" + platform::LastErrorText() + ")");
        return false;
    }

    TArc2Arc c;
    c.SetArchiveFile(source);
    c.NewArchive = target;
    c.OutArcMethod = options.addToArchive ? amAddToArc : amCreateNew;
    c.OutArcType = OutTypeOf(options.type);
    if (!options.tempDir.empty()) c.SetTempDir(options.tempDir);
    c.IntegrityCheck = options.integrityCheck;
    c.Passwords = passwords_;
    c.ConfirmOverwrites = true;
    bool skipped = false;
    c.OnFileExists = [&](TZipCommon& s, const std::string& name, TOverwriteMode& mode) {
        switch (view_.AskYesNoCancel("Question", "File " + name + " already exists. Overwrite it?")) {
            case 0:
                mode = omOverwrite;
                break;
            case 1:
                mode = omSkip;
                skipped = true;
                break;
            default:
                mode = omSkip;
                cancel_ = true;
                s.SetCancel(true);
                break;
        }
    };
    c.OnGetPassword = [&](TZipCommon&, const std::string& name, std::string& password, bool& tryAgain) {
        auto p = view_.AskPassword(name);
        tryAgain = p.has_value();
        password = p ? *p : std::string();
    };
    c.OnNextVolume = [&](TZipCommon& s, std::string& volume, const std::string& id, bool exists, bool& cancel) {
        if (exists) return;
        auto p = view_.AskNextVolume(NextVolumePrompt(volume, id), volume);
        if (!p) {
            cancel = true;
            cancel_ = true;
            s.SetCancel(true);
            return;
        }
        volume = *p;
    };
    c.OnExtractActivate = [&](TZipCommon&) {
        view_.Status(0, "Extracting source archive to Temp folder...");
        view_.Status(1, shown);
    };
    c.OnExtractBegin = [&](TZipCommon&, const std::string& name, int, bool&) {
        view_.ProgressFile(ExtractFileName(name));
    };
    c.OnCompressActivate = [&](TZipCommon&) {
        view_.Status(0, "Compressing target file...");
        view_.Status(1, shown);
    };
    c.OnCompressBegin = [&](TZipCommon&, const std::string& name, int, bool&) {
        LogLine("Processing file " + ExtractFileName(name) + " ...");
        view_.ProgressFile(ExtractFileName(name));
    };
    c.OnCompressEnd = [&](TZipCommon&, const std::string&, bool ok) { LogAppend(ok ? "done." : "failed."); };
    c.OnCompressDeactivate = [&](TZipCommon&) { view_.Status(0, "Compressing done."); };
    bool entryFailed = false;
    c.OnIntegrityActivate = [&](TZipCommon&) {
        view_.Status(0, "Checking integrity...");
        LogLine("Checking integrity...");
    };
    c.OnIntegrityStatus = [&](TZipCommon&, const std::string& name, bool pass) {
        if (pass) return;
        entryFailed = true;
        Error(ExtractFileName(target) + ": tested file " + name + ": failed");
    };
    c.OnIntegrityDeactivate = [&](TZipCommon&) {
        view_.Status(0, "Checking integrity...Done.");
        if (!log_.empty() && log_.back() == "Checking integrity...")
            LogAppend("done.");
        else
            LogLine("Checking integrity...done.");
    };
    c.OnProgress = [&](TZipCommon&, int byFile, int byArchive) {
        view_.ProgressBars(byFile, byArchive);
        view_.Status(2, std::to_string(byArchive) + "% done");
    };
    c.OnError = [&](TZipCommon&, const std::string& file, const std::string& msg, const std::string&, int code) {
        if (code == E_UserCanceled || cancel_) return;
        Error(ErrorLine(file.empty() ? source : file, msg, code));
    };
    c.ProcessMessages = [&] {
        view_.ProcessEvents();
        if (cancel_) c.SetCancel(true);
    };
    StopHook hook(stop_, [&c] { c.SetCancel(true); });

    if (!log_.empty()) LogLine("");
    LogLine(kSeparator);
    LogLine("Converting " + source + " ...");
    LogLine("");
    view_.ProgressOpen("Converting " + shown + "...");
    bool ok = false;
    try {
        ok = c.Convert();
    } catch (const std::exception& e) {
        if (!cancel_) Error(shown + ": " + e.what());
        ok = false;
    }
    view_.ProgressClose();
    AddPasswords(passwords_, c.Passwords);
    if (cancel_ || c.Cancel()) {
        cancel_ = true;
        return false;
    }
    if (!ok) {
        if (skipped) {
            LogLine(ExtractFileName(target) + " exists and was kept; " + shown + " was not converted.");
        } else if (errors_.size() == errorsBefore && !entryFailed) {
            Error(shown + ": not converted");
        }
        return false;
    }
    LogLine("");
    LogLine("Conversion finished. New archive has " + std::to_string(platform::FileSizeOf(target)) +
            " bytes of size.");
    LogLine(kSeparator);
    written_.push_back(target);
    if (options.deleteSource) {
        // Only now that the new archive is in place (and tested when asked) does the source go.
        if (releaseArchive) releaseArchive(source);
        if (unlink(source.c_str()) != 0)
            Error(shown + ": the source was not deleted (" + platform::LastErrorText() + ")");
    }
    return true;
}

// ---- Test ---------------------------------------------------------------------------------------------------

bool TestTool::TestedAsZip(const std::string& path) {
    return EndsWithNoCase(path, ".zip");
}

void TestTool::Cancel() {
    cancel_ = true;
    if (stop_) stop_();
}

void TestTool::Detail(const std::string& line) {
    details_.push_back(line);
    view_.DetailsLine(line);
}

void TestTool::Summary(const std::string& line) {
    summary_.push_back(line);
    view_.SummaryLine(line);
}

ToolResult TestTool::Run() {
    if (running_) return ToolResult::Refused;
    cancel_ = false;
    summary_.clear();
    details_.clear();
    verdicts_.clear();
    view_.ClearLogs();
    running_ = true;
    view_.SetRunning(true);
    for (const auto& f : list.Files()) {
        if (cancel_) break;
        verdicts_.push_back(TestOne(f));
    }
    running_ = false;
    view_.SetRunning(false);
    if (cancel_) return ToolResult::Cancelled;
    const bool allValid =
        std::all_of(verdicts_.begin(), verdicts_.end(), [](const TestVerdict& v) { return v.valid; });
    return allValid ? ToolResult::Done : ToolResult::Failed;
}

TestVerdict TestTool::TestOne(const std::string& path) {
    TestVerdict v;
    v.file = path;
    if (!details_.empty()) {
        Detail("");
        Detail("");
    }
    Detail(kSeparator);
    Detail("Testing archive: " + path);
    Detail(kSeparator);
    Detail("");
    int errors = 0;
    bool testable = true;
    view_.ProgressOpen("Testing " + ExtractFileName(path) + "...");
    try {
        if (!platform::FileExists(path)) {
            Detail(path + ": " + ErrorText(E_FileNotFound));
            testable = false;
        } else if (TestedAsZip(path)) {
            errors = TestZip(path);
        } else {
            errors = TestComponent(path, testable);
        }
    } catch (const std::exception& e) {
        // A test that ended in an exception did not look at everything: it failed.
        Detail(ExtractFileName(path) + ": " + e.what());
        ++errors;
    }
    view_.ProgressClose();
    if (!testable) {
        Summary("INVALID: Archive " + path + " is not an valid archive");
        return v;
    }
    if (cancel_) {
        Detail("");
        Detail("The test was stopped.");
        Summary("INVALID: Archive " + path + ": the test was stopped");
        return v;
    }
    v.tested = true;
    v.errors = errors;
    v.valid = errors == 0;
    Detail("");
    Detail(kSeparator);
    Detail("Archive tested.");
    if (errors) {
        Detail(std::to_string(errors) + " error(s) or warning(s) were detected");
        Summary("INVALID: Archive " + path + " tested, " + std::to_string(errors) + " errors were found.");
    } else {
        Detail("No errors detected, archive is valid.");
        Summary("VALID: Archive " + path + " tested, no errors were found.");
    }
    return v;
}

int TestTool::TestZip(const std::string& path) {
    TZipBridge b;
    if (!zipEngineFolder.empty()) b.SetDLLDirectory(zipEngineFolder);
    b.Unattended = true;  // the window shows the messages in Details, no box of the bridge's own
    b.TempDir = tempDir;
    b.Trace = false;
    b.Verbose = false;
    int messageErrors = 0;
    b.OnMessage = [&](TZipBridge& z, int code, const std::string& text) {
        if (text.empty() || cancel_) return;
        Detail(text);
        // The library's failures, and the bridge's own messages other than its warnings.
        const bool own = code == 0 && z.ErrCode() >= kFirstBridgeMessage && z.ErrCode() <= kLastBridgeMessage &&
                         z.LastMessage() == text;
        if (own ? text.rfind("Warning", 0) != 0 : code >= uenArguments && code != uenAborted) ++messageErrors;
    };
    b.SetZipFileName(path);
    const int files = b.Count();
    if (messageErrors > 0 && files == 0) return messageErrors;

    b.ExtrOptions = ExtrOpts{};
    b.ExtrOptions.Include(ExtrTest);
    b.ExtrBaseDir = tempDir;
    b.FSpecArgs = {"*.*"};
    b.OnPasswordError = [&](TZipBridge&, std::string& password, const std::string& name, unsigned&) {
        for (const auto& p : passwords_)
            if (p != b.Password) {
                password = p;
                return;
            }
        auto p = view_.AskPassword(name);
        password = p ? *p : std::string();
        if (p) AddPasswords(passwords_, {*p});
    };
    b.OnProgress = [&](TZipBridge&, int kind, const std::string& name, int64_t) {
        if (kind == 0) view_.ProgressFile(ExtractFileName(name));
    };
    b.ProcessMessages = [&] {
        view_.ProcessEvents();
        if (cancel_) b.SetCancel(true);
    };
    StopHook hook(stop_, [&b] { b.SetCancel(true); });
    const int good = b.Extract();
    if (cancel_) return messageErrors;
    // Every file of the directory must have passed: one that was not tested is not known to be sound.
    return std::max(messageErrors, files - good);
}

int TestTool::TestComponent(const std::string& path, bool& testable) {
    TZipCheck ck;
    ck.SetArchiveFile(path);
    if (!TZipCheck::CanTest(ck.ArcType())) {
        testable = false;
        Detail(ExtractFileName(path) + ": " +
               (IsRecognised(ck.ArcType()) ? ErrorText(E_InvalidArcType) + " (" + ArcTypeShortName(ck.ArcType()) + ")"
                                           : ErrorText(E_UnknownFileType)));
        return 0;
    }
    ck.CpuType = cptAuto;
    ck.FileSpec = {"*.*"};
    ck.Passwords = passwords_;
    int headerErrors = 0;
    std::string reason;
    ck.OnStatus = [&](TZipCommon&, const std::string& name, bool pass) {
        Detail("Tested file " + name + (pass ? ": ok" : ": failed"));
        if (!pass && !reason.empty()) Detail("  " + reason);
        reason.clear();
    };
    ck.OnEntryFailed = [&](TZipCommon&, const std::string&, int code, const std::string& detail) {
        reason = detail.empty() ? ErrorText(code) : ErrorText(code) + " (" + detail + ")";
    };
    ck.OnCorruptZipHeader = [&](TZipCommon&, uint8_t headFlag, bool& cancel) {
        Detail(kSeparator);
        Detail("SOPFCorruptHeader");
        Detail("");
        if (!(headFlag & 0x10)) Detail("*Local* header missing or corrupt...");
        if (!(headFlag & 0x08)) Detail("*Central* header missing or corrupt...");
        if (!(headFlag & 0x01)) Detail("*Ending* header missing or corrupt...");
        Detail("");
        Detail(kSeparator);
        ++headerErrors;
        cancel = false;
    };
    ck.OnError = [&](TZipCommon& c, const std::string& file, const std::string& msg, const std::string&, int code) {
        if (code == E_UserCanceled || cancel_) return;
        // An entry's own failure is said on its verdict line.
        auto* x = dynamic_cast<TUnBase*>(&c);
        if (x && x->ReportingForEntry() && !x->ReportingWarning() && !x->ReportingAttempt()) return;
        Detail(ErrorLine(file, msg, code));
    };
    ck.OnGetPassword = [&](TZipCommon&, const std::string& name, std::string& password, bool& tryAgain) {
        auto p = view_.AskPassword(name);
        tryAgain = p.has_value();
        password = p ? *p : std::string();
    };
    ck.OnNextVolume = [&](TZipCommon& s, std::string& volume, const std::string& id, bool exists, bool& cancel) {
        if (exists) return;
        auto p = view_.AskNextVolume(NextVolumePrompt(volume, id), volume);
        if (!p) {
            cancel = true;
            cancel_ = true;
            s.SetCancel(true);
            return;
        }
        volume = *p;
    };
    ck.OnBegin = [&](TZipCommon&, const std::string& name, int, bool&) { view_.ProgressFile(ExtractFileName(name)); };
    ck.OnProgress = [&](TZipCommon&, int byFile, int byArchive) { view_.ProgressBars(byFile, byArchive); };
    ck.ProcessMessages = [&] {
        view_.ProcessEvents();
        if (cancel_) ck.SetCancel(true);
    };
    StopHook hook(stop_, [&ck] { ck.SetCancel(true); });
    const bool passed = ck.Test();
    AddPasswords(passwords_, ck.Passwords);
    int errors = ck.ErrorCount() + headerErrors;
    // A test that did not pass is never counted as sound, whatever the counts say.
    if (!passed && errors == 0 && !cancel_) errors = 1;
    return errors;
}

// ---- Repair -------------------------------------------------------------------------------------------------

void RepairTool::Cancel() {
    cancel_ = true;
    if (stop_) stop_();
}

void RepairTool::Both(const std::string& line) {
    summary_.push_back(line);
    details_.push_back(line);
    view_.SummaryLine(line);
    view_.DetailsLine(line);
}

void RepairTool::Detail(const std::string& line) {
    details_.push_back(line);
    view_.DetailsLine(line);
}

ToolResult RepairTool::Run() {
    if (running_ || list.Empty()) return ToolResult::Refused;
    cancel_ = false;
    summary_.clear();
    details_.clear();
    errors_.clear();
    written_.clear();
    view_.ClearLogs();
    running_ = true;
    view_.SetRunning(true);
    const std::vector<std::string> files = list.Files();
    const int total = static_cast<int>(files.size());
    view_.ListBar(0, total);
    for (int i = 0; i < total && !cancel_; ++i) {
        RepairOne(files[static_cast<size_t>(i)]);
        view_.ListBar(i + 1, total);
    }
    view_.ListBar(0, 0);
    running_ = false;
    view_.SetRunning(false);
    if (cancel_) {
        Both("The repair was stopped; nothing was written for the file in hand.");
        return ToolResult::Cancelled;
    }
    if (!errors_.empty()) {
        view_.Message("Error", ErrorBoxText("Not every file could be repaired:", errors_));
        return ToolResult::Failed;
    }
    return ToolResult::Done;
}

bool RepairTool::RepairOne(const std::string& path) {
    const std::string output = TZipFix::FixedName(path);
    const std::string shown = ExtractFileName(path);
    Both("Fixing file " + path + " ...");
    // why: the reason; a line that names its file already is taken as it is.
    auto fail = [&](const std::string& why, bool named = false) {
        errors_.push_back(named ? why : shown + ": " + why);
        Both("..." + why);
        Both(kSeparator);
        Both("");
        return false;
    };
    if (!platform::FileExists(path)) return fail(ErrorText(E_FileNotFound));
    if (platform::FileExists(output) &&
        !view_.AskYesNo("Confirmation", "File " + output + " already exists. Overwrite it?")) {
        Both("..." + ExtractFileName(output) + " exists and was kept");
        Both(kSeparator);
        Both("");
        return true;
    }
    // The repair is written under a private name beside its place and renamed in only when it holds at least
    // one entry: a stopped run, a failure or a file with nothing to recover leaves no output behind.
    std::string stage = ExtractFilePath(output) + ".vnkfix-XXXXXX";
    if (ExtractFilePath(output).empty()) stage = "./" + stage;
    const int fd = mkstemp(stage.data());
    if (fd < 0) return fail(ErrorText(E_WriteFile) + " (" + platform::LastErrorText() + ")");
    close(fd);
    struct StageGuard {
        std::string path;
        bool keep = false;
        ~StageGuard() {
            if (!keep) unlink(path.c_str());
        }
    } guard{stage};

    TZipFix fix;
    fix.OnFileFound = [&](TZipCommon&, const std::string& name, bool ok) {
        if (!name.empty()) Detail(name + (ok ? " ...Ok" : " ...problem detected"));
    };
    std::vector<std::string> runErrors;
    fix.OnError = [&](TZipCommon&, const std::string& file, const std::string& msg, const std::string&, int code) {
        if (code == E_UserCanceled || cancel_) return;
        runErrors.push_back(ErrorLine(file == stage ? output : file, msg, code));
    };
    fix.OnProgress = [&](TZipCommon&, int byFile, int byArchive) { view_.ProgressBars(byFile, byArchive); };
    fix.ProcessMessages = [&] {
        view_.ProcessEvents();
        if (cancel_) fix.SetCancel(true);
    };
    StopHook hook(stop_, [&fix] { fix.SetCancel(true); });
    view_.ProgressOpen("Repairing...");
    view_.ProgressFile(shown);
    bool done = false;
    try {
        done = fix.Repair(path, stage);
    } catch (const ArchiveError& e) {
        if (runErrors.empty() && !cancel_) runErrors.push_back(shown + ": " + e.what());
    } catch (const std::exception& e) {
        if (!cancel_) runErrors.push_back(shown + ": " + e.what());
    }
    view_.ProgressClose();
    if (cancel_ || fix.Cancel()) {
        cancel_ = true;
        return false;
    }
    if (!runErrors.empty() || !done) {
        if (runErrors.empty()) return fail("not repaired");
        for (size_t i = 1; i < runErrors.size(); ++i)
            errors_.push_back(runErrors[i]);
        return fail(runErrors.front(), true);
    }
    if (fix.Entries().empty()) return fail("no entry could be recovered; nothing was written");
    if (rename(stage.c_str(), output.c_str()) != 0)
        return fail(ErrorText(E_WriteFile) + " (" + platform::LastErrorText() + ")");
    guard.keep = true;
    written_.push_back(output);
    Both("...done, new filename is " + output);
    Both(kSeparator);
    Both("");
    return true;
}

}  // namespace varnok::app
