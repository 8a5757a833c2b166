#include "cli/common.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "archive/core/errors.h"
#include "archive/core/names.h"
#include "archive/core/printable.h"
#include "archive/core/unbase.h"
#include "archive/tools/zipcheck.h"
#include "platform/fileattr.h"

namespace varnok::cli {

namespace {
CancelFlag* g_cancel = nullptr;
extern "C" void OnInterrupt(int) {
    if (g_cancel) g_cancel->store(true);
}
}  // namespace

struct InterruptGuard::Saved {
    struct sigaction oldInt {}, oldTerm {};
};

InterruptGuard::InterruptGuard(CancelFlag* flag) : saved_(std::make_unique<Saved>()) {
    g_cancel = flag;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &saved_->oldInt);
    sigaction(SIGTERM, &sa, &saved_->oldTerm);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &saved_->oldInt, nullptr);
    sigaction(SIGTERM, &saved_->oldTerm, nullptr);
    g_cancel = nullptr;
}

void Reporter::Error(const std::string& file, const std::string& text, int code) {
    ++count_;
    if (progress) progress->Clear();
    // Names and texts from archives never reach the terminal raw.
    const std::string f = TerminalSafe(file), t = TerminalSafe(text);
    if (code)
        fprintf(stderr, "varnok-cli: %s: %s (code %d)\n", f.c_str(), t.c_str(), code);
    else
        fprintf(stderr, "varnok-cli: %s: %s\n", f.c_str(), t.c_str());
}

void Reporter::Error(const std::string& file, int code, const std::string& detail) {
    std::string text = ErrorText(code);
    if (!detail.empty() && detail != "0") text += ": " + detail;
    Error(file, text, code);
}

namespace {

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string SpeedText(double bytesPerSecond) {
    char buf[32];
    if (bytesPerSecond >= 1e6)
        snprintf(buf, sizeof buf, "%.1f MB/s", bytesPerSecond / 1e6);
    else
        snprintf(buf, sizeof buf, "%.0f kB/s", bytesPerSecond / 1e3);
    return buf;
}

}  // namespace

ProgressLine::ProgressLine(bool show) : show_(show), startUs_(NowUs()) {}
ProgressLine::ProgressLine() : ProgressLine(isatty(STDERR_FILENO) != 0) {}
ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Entry(const std::string& name) {
    entry_ = TerminalSafe(name);
    Draw(false);
}

void ProgressLine::Update(int percent, uint64_t runBytes) {
    percent_ = std::clamp(percent, 0, 100);
    bytes_ = runBytes / 100 * static_cast<uint64_t>(percent_) + runBytes % 100 * static_cast<uint64_t>(percent_) / 100;
    Draw(false);
}

std::string ProgressLine::Text() const {
    std::string t = entry_ + "  " + std::to_string(percent_) + "%";
    const double seconds = static_cast<double>(NowUs() - startUs_) / 1e6;
    if (bytes_ && seconds > 0.2) t += "  " + SpeedText(static_cast<double>(bytes_) / seconds);
    return t;
}

void ProgressLine::Draw(bool force) {
    if (!show_) return;
    const int64_t now = NowUs();
    if (!force && drawn_ && now - lastDrawUs_ < 100'000) return;
    lastDrawUs_ = now;
    std::string t = Text();
    winsize ws{};
    size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col - 1 : 79;
    if (t.size() > width) {
        size_t cut = t.size() - (width > 3 ? width - 3 : 0);
        while (cut < t.size() && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80) ++cut;  // whole characters
        t = "..." + t.substr(cut);
    }
    // Everything on stdout goes out first, so that the line does not land in the middle of it.
    fflush(stdout);
    fprintf(stderr, "\r%s\033[K", t.c_str());
    fflush(stderr);
    drawn_ = true;
}

void ProgressLine::Clear() {
    if (!show_ || !drawn_) return;
    fflush(stdout);
    fputs("\r\033[K", stderr);
    fflush(stderr);
    drawn_ = false;
}

// Reads a line from the terminal, without echo when asked.
bool AskTerminal(const std::string& prompt, std::string& answer, bool hidden) {
    FILE* tty = fopen("/dev/tty", "r+");
    if (!tty) return false;
    fputs(prompt.c_str(), tty);
    fflush(tty);
    termios old{};
    bool restore = false;
    if (hidden && tcgetattr(fileno(tty), &old) == 0) {
        termios t = old;
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        restore = tcsetattr(fileno(tty), TCSANOW, &t) == 0;
    }
    char buf[1024];
    bool ok = fgets(buf, sizeof buf, tty) != nullptr;
    if (restore) {
        tcsetattr(fileno(tty), TCSANOW, &old);
        fputs("\n", tty);
    }
    fclose(tty);
    if (!ok) return false;
    answer = buf;
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    return true;
}

bool Interactive() {
    return isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
}

void AttachConsole(TZipCommon& c, Reporter& r) {
    c.OnError = [&r](TZipCommon& s, const std::string& file, const std::string& msg, const std::string&,
                     int code) {
        std::string detail = msg;
        if (code == E_EventNotAssigned) detail = "no answer to " + msg;
        r.Error(file.empty() ? s.ArchiveFile() : file, code, detail);
    };
    c.OnNextVolume = [&r](TZipCommon&, std::string& name, const std::string&, bool exists, bool& cancel) {
        if (exists) {
            cancel = false;
            return;
        }
        r.Error(name, "next volume not found", E_FileNotFound);
        cancel = true;
    };
    c.OnGetZipFirstDisk = [](TZipCommon&, bool& cancel) { cancel = true; };
    c.OnGetZipNextDisk = [](TZipCommon&, const std::string&, bool& cancel) { cancel = true; };
    c.OnGetZipLastDisk = [](TZipCommon&, bool& cancel) { cancel = true; };
}

bool ApplyReadingOptions(const Args& args, TZipCommon& c, std::string& error) {
    if (const std::string* cp = args.Value("--encoding")) {
        if (!NameCoding().Force(*cp)) {
            error = "unknown code page " + TerminalSafe(*cp) + " (iconv -l lists them)";
            return false;
        }
        c.NameCodePage = *cp;
    }
    c.OpenTarInside = !args.Has("--raw");
    return true;
}

bool ParseByteCount(const std::string& text, uint64_t& bytes) {
    size_t digits = 0;
    uint64_t v = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        const unsigned d = static_cast<unsigned>(text[digits] - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
        ++digits;
    }
    if (digits == 0) return false;
    int shift = 0;
    if (digits + 1 == text.size()) {
        switch (text[digits]) {
            case 'k':
            case 'K':
                shift = 10;
                break;
            case 'm':
            case 'M':
                shift = 20;
                break;
            case 'g':
            case 'G':
                shift = 30;
                break;
            case 't':
            case 'T':
                shift = 40;
                break;
            default:
                return false;
        }
    } else if (digits != text.size()) {
        return false;
    }
    if (shift && v > (UINT64_MAX >> shift)) return false;
    bytes = v << shift;
    return true;
}

namespace {

// MaxSize only where the component writes (t has one).
template <class T>
bool ApplyLimits(const Args& args, T& x, std::string& error) {
    x.LimitsHint = "--max-ratio and --max-size raise the limits";
    if (const std::string* r = args.Value("--max-ratio")) {
        uint64_t ratio = 0;
        if (!ParseByteCount(*r, ratio) || r->find_first_not_of("0123456789") != std::string::npos) {
            error = "--max-ratio takes a whole number (0: no limit), not " + TerminalSafe(*r);
            return false;
        }
        x.MaxRatio = ratio;
    }
    if constexpr (requires { x.MaxSize; }) {
        if (const std::string* m = args.Value("--max-size")) {
            uint64_t size = 0;
            if (!ParseByteCount(*m, size) || size == 0) {
                error = "--max-size takes a size in bytes (\"500M\", \"2G\"), not " + TerminalSafe(*m);
                return false;
            }
            x.MaxSize = size;
        }
    }
    return true;
}

}  // namespace

bool ApplyLimitOptions(const Args& args, TUnBase& x, std::string& error) {
    return ApplyLimits(args, x, error);
}

bool ApplyLimitOptions(const Args& args, TZipCheck& x, std::string& error) {
    return ApplyLimits(args, x, error);
}

bool Args::Has(const std::string& f) const {
    for (const auto& x : flags)
        if (x == f) return true;
    return false;
}

const std::string* Args::Value(const std::string& f) const {
    const std::string* r = nullptr;
    for (const auto& [k, v] : values)
        if (k == f) r = &v;
    return r;
}

bool ParseArgs(int argc, char** argv, int first, const std::vector<std::string>& known,
               const std::vector<std::string>& withValue, Args& out, std::string& error) {
    bool options = true;
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && a.size() > 1 && a[0] == '-') {
            bool takes = false;
            for (const auto& w : withValue)
                takes |= w == a;
            if (takes) {
                if (i + 1 >= argc) {
                    error = "option " + a + " needs a value";
                    return false;
                }
                out.values.emplace_back(a, argv[++i]);
                continue;
            }
            bool ok = false;
            for (const auto& k : known)
                ok |= k == a;
            if (!ok) {
                error = "unknown option " + a;
                return false;
            }
            out.flags.push_back(a);
            continue;
        }
        out.operands.push_back(a);
    }
    return true;
}

}  // namespace varnok::cli
