// What the commands of varnok-cli share: error reporting, exit status, answers to the components' questions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/core/component.h"

namespace varnok {
class TUnBase;
class TZipCheck;
}  // namespace varnok

namespace varnok::cli {

enum ExitCode { kExitOk = 0, kExitErrors = 1, kExitUsage = 2 };

class ProgressLine;

// Collects the errors of a command and prints them as "varnok-cli: FILE: TEXT (code N)".
class Reporter {
  public:
    // A progress line on the terminal, cleared before an error is printed.
    ProgressLine* progress = nullptr;
    void Error(const std::string& file, const std::string& text, int code);
    void Error(const std::string& file, int code, const std::string& detail = {});
    int Count() const { return count_; }
    int ExitStatus() const { return count_ ? kExitErrors : kExitOk; }

  private:
    int count_ = 0;
};

// Wires a component to the console: errors go to the reporter; further volumes are taken when they lie beside
// the first (a missing one is an error naming it); spanned-disk questions are refused (no disks to insert).
void AttachConsole(TZipCommon& c, Reporter& r);

// While it lives, Ctrl-C and SIGTERM ask the running component to stop (its cancel flag) instead of killing
// the program, so that a writer can leave the archive as it was.
class InterruptGuard {
  public:
    explicit InterruptGuard(CancelFlag* flag);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// One line on standard error saying what a long run is doing: the entry, the percentage of the run and the
// speed, redrawn in place at most ten times a second. It is drawn only when standard error is a terminal, so
// that scripts and logs never see it; whoever prints anything else on the terminal clears it first.
class ProgressLine {
  public:
    // show: whether to draw at all (by default: whether standard error is a terminal).
    explicit ProgressLine(bool show);
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // The entry being handled now.
    void Entry(const std::string& name);
    // percent of the whole run, whose size is runBytes (0 when not known).
    void Update(int percent, uint64_t runBytes);
    // Erases the line (before other output); the next Update draws it again.
    void Clear();
    // The text the line shows now (tests look at it).
    std::string Text() const;

  private:
    void Draw(bool force);
    bool show_;
    bool drawn_ = false;
    std::string entry_;
    int percent_ = 0;
    uint64_t bytes_ = 0;
    int64_t startUs_, lastDrawUs_ = 0;
};

// Reads a line from the terminal (/dev/tty), without echo when hidden; false when there is none.
bool AskTerminal(const std::string& prompt, std::string& answer, bool hidden);
// Whether someone is there to answer questions: standard input and error are a terminal.
bool Interactive();

// Splits arguments into options and operands; "--" ends the options.
struct Args {
    std::vector<std::string> operands;
    std::vector<std::string> flags;                           // "--json", "-v"
    std::vector<std::pair<std::string, std::string>> values;  // "-d DIR", "-p PASS"
    bool Has(const std::string& f) const;
    const std::string* Value(const std::string& f) const;
};
// Parses args; options taking a value are listed in withValue. Returns false on an unknown option.
bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& known,
               const std::vector<std::string>& withValue, Args& out, std::string& error);

// The options every reading command takes: --encoding CP (the code page of the names not marked UTF-8) and
// --raw (a compressed TAR read as the one compressed file it is). False, with a message, for an unknown code
// page.
bool ApplyReadingOptions(const Args& args, TZipCommon& c, std::string& error);

// The bomb limits extract and test take: --max-ratio N (0: none) and --max-size SIZE (bytes, or with a K, M,
// G or T suffix). False, with a message, for a value that is not a number.
bool ApplyLimitOptions(const Args& args, TUnBase& x, std::string& error);
bool ApplyLimitOptions(const Args& args, TZipCheck& x, std::string& error);

// "123", "64K", "2G", "1T" (powers of 1024) as bytes; false for anything else or for more than 2^64-1.
bool ParseByteCount(const std::string& text, uint64_t& bytes);

int CmdList(int argc, char** argv);
int CmdFormats(int argc, char** argv);
int CmdIdentify(int argc, char** argv);
int CmdExtract(int argc, char** argv);
int CmdTest(int argc, char** argv);
int CmdAdd(int argc, char** argv);
int CmdDelete(int argc, char** argv);
int CmdEncode(int argc, char** argv);
int CmdConvert(int argc, char** argv);
int CmdSfx(int argc, char** argv);
int CmdUnsfx(int argc, char** argv);
int CmdRename(int argc, char** argv);
int CmdComment(int argc, char** argv);
int CmdRepair(int argc, char** argv);
int CmdSpan(int argc, char** argv);
int CmdJoin(int argc, char** argv);

}  // namespace varnok::cli
