#include "app/mail/mime_message.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

namespace varnok::mail {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr size_t kLineBytes = 45;          // bytes per Base64 line (60 characters)
constexpr size_t kChunkLines = 1456;       // lines read at a time (about 64 KiB of file)

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// A header value on one line: line breaks would start new header lines (or the body).
std::string OneLine(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

bool HasEightBit(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

std::string Base64(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i += kLineBytes)
        out += Base64Line(reinterpret_cast<const uint8_t*>(s.data()) + i, std::min(kLineBytes, s.size() - i));
    return out;
}

// A header text with 8-bit characters as one RFC 2047 encoded word; plain text as it is.
std::string HeaderText(const std::string& s) {
    std::string v = OneLine(s);
    if (!HasEightBit(v)) return v;
    return "=?utf-8?B?" + Base64(v) + "?=";
}

// The display name before "<address>": an RFC 2047 word for 8-bit text, a quoted string when it holds
// characters that would otherwise split or end the name ("Smith, John" is one name, not two addresses).
std::string DisplayName(const std::string& s) {
    std::string v = OneLine(s);
    if (HasEightBit(v)) return HeaderText(v);
    if (v.find_first_of("()<>[]:;@\\,.\"") == std::string::npos) return v;
    std::string q = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

// A file name as a quoted parameter value; 8-bit names also get the RFC 2231 form that parsers prefer.
std::string NameParam(const char* key, const std::string& name) {
    std::string v = OneLine(name), q;
    for (char c : v) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    std::string out = std::string(key) + "=\"" + (HasEightBit(v) ? HeaderText(v) : q) + "\"";
    if (HasEightBit(v)) {
        static const char* kHex = "0123456789ABCDEF";
        out += std::string("; ") + key + "*=utf-8''";
        for (unsigned char c : v) {
            if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += kHex[c >> 4];
                out += kHex[c & 15];
            }
        }
    }
    return out;
}

const char* SubTypeName(TSubType t) {
    switch (t) {
        case TSubType::mtEnriched:
            return "enriched";
        case TSubType::mtSgml:
            return "sgml";
        case TSubType::mtTabSeperated:
            return "tab-separated-values";
        case TSubType::mtHtml:
            return "html";
        default:
            return "plain";
    }
}

std::string JoinList(const std::vector<std::string>& list) {
    std::string out;
    for (const auto& e : list) {
        std::string t = Trim(OneLine(e));
        if (t.empty()) continue;
        if (!out.empty()) out += ",";
        out += t;
    }
    return out;
}

std::string FileNameOf(const std::string& path) {
    size_t p = path.rfind('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

uint64_t Base64Size(uint64_t n) {
    uint64_t lines = (n + kLineBytes - 1) / kLineBytes;
    return (n + 2) / 3 * 4 + 2 * lines;
}

}  // namespace

void TPostMessage::Clear() {
    *this = TPostMessage{};
}

std::string ExtractAddress(const std::string& entry) {
    size_t lt = entry.find('<');
    if (lt != std::string::npos) {
        size_t gt = entry.find('>', lt + 1);
        return Trim(entry.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1));
    }
    size_t colon = entry.find(':');
    if (colon != std::string::npos) return Trim(entry.substr(colon + 1));
    return Trim(entry);
}

std::vector<std::string> Recipients(const TPostMessage& m) {
    std::vector<std::string> out;
    for (const auto* list : {&m.ToAddress, &m.ToCarbonCopy, &m.ToBlindCarbonCopy})
        for (const auto& e : *list) {
            std::string a = ExtractAddress(e);
            if (!a.empty()) out.push_back(a);
        }
    return out;
}

std::vector<std::string> SplitAddressList(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    int angle = 0;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (!quoted && c == '<') ++angle;
        if (!quoted && c == '>' && angle > 0) --angle;
        if (!quoted && angle == 0 && (c == ',' || c == ';' || c == '\n' || c == '\r')) {
            if (!Trim(cur).empty()) out.push_back(Trim(cur));
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (!Trim(cur).empty()) out.push_back(Trim(cur));
    return out;
}

std::string MakeBoundary() {
    std::random_device rd;
    std::mt19937 gen(rd());
    std::uniform_int_distribution<int> letter(0, 24);  // a to y
    std::string b = "====================54535";
    for (int i = 0; i < 6; ++i)
        b += static_cast<char>('a' + letter(gen));
    return b + "====";
}

std::string RfcDate(std::time_t t) {
    static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    localtime_r(&t, &tm);
    long off = tm.tm_gmtoff / 60;
    char sign = off < 0 ? '-' : '+';
    if (off < 0) off = -off;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday % 7],
                  tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sign,
                  off / 60, off % 60);
    return buf;
}

std::string Base64Line(const uint8_t* p, size_t n) {
    static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((n + 2) / 3 * 4 + 2);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < n) {
        uint32_t v = uint32_t(p[i]) << 16 | (i + 1 < n ? uint32_t(p[i + 1]) << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

struct MessageStream::Attachment {
    std::string path, name;
    int fd = -1;
    uint64_t size = 0, done = 0;
    ~Attachment() {
        if (fd >= 0) ::close(fd);
    }
};

MessageStream::MessageStream(const TPostMessage& m, MessageOptions opt) {
    if (Trim(m.FromAddress).empty() || Recipients(m).empty())
        throw MailError(MailError::Kind::HeaderIncomplete, "Incomplete Header");
    for (const auto& path : m.Attachments) {
        auto a = std::make_unique<Attachment>();
        a->path = path;
        a->name = FileNameOf(path);
        a->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st{};
        if (a->fd < 0 || ::fstat(a->fd, &st) != 0 || !S_ISREG(st.st_mode))
            throw MailError(MailError::Kind::AttachmentNotFound, "Attachment not found: " + path);
        a->size = static_cast<uint64_t>(st.st_size);
        files_.push_back(std::move(a));
    }
    multipart_ = !files_.empty();
    boundary_ = opt.Boundary.empty() ? MakeBoundary() : opt.Boundary;

    std::string bodyText;
    bool eightBit = false;
    for (const auto& raw : m.Body) {
        std::string line;
        for (char c : raw)
            if (c != '\r' && c != '\n') line += c;
        eightBit = eightBit || HasEightBit(line);
        if (opt.DotStuff && !line.empty() && line[0] == '.') line.insert(line.begin(), '.');
        bodyText += line + kCrLf;
    }
    std::string charset = opt.Charset.empty() ? "us-ascii" : opt.Charset;
    bool asciiCharset = charset == "us-ascii" || charset == "US-ASCII";
    if (eightBit && asciiCharset) charset = "utf-8";
    std::string textType = std::string("text/") + SubTypeName(multipart_ ? TSubType::mtPlain : opt.SubType) +
                           "; charset=" + charset;
    std::string textEncoding = eightBit ? std::string("Content-Transfer-Encoding: 8bit") + kCrLf : "";

    std::vector<std::string> h;
    h.push_back("From: " + DisplayName(m.FromName) + "<" + OneLine(Trim(m.FromAddress)) + ">");
    std::string to = JoinList(m.ToAddress);
    if (!to.empty()) h.push_back("To: " + to);
    std::string cc = JoinList(m.ToCarbonCopy);
    if (!cc.empty()) h.push_back("CC: " + cc);
    h.push_back("Subject: " + HeaderText(m.Subject));
    h.push_back("X-Mailer: " + OneLine(m.LocalProgram));
    if (!m.ReplyTo.empty()) h.push_back("Reply-To: " + OneLine(m.ReplyTo));
    if (!m.Date.empty()) h.push_back("Date: " + OneLine(m.Date));
    h.push_back("Mime-Version: 1.0");
    if (multipart_) {
        h.push_back("Content-Type: multipart/mixed; boundary=\"" + boundary_ + "\"");
    } else {
        h.push_back("Content-Type: " + textType);
        if (eightBit) h.push_back("Content-Transfer-Encoding: 8bit");
    }
    for (size_t i = 0; i < h.size(); ++i)
        header_ += (i ? kCrLf : "") + h[i];
    header_ += std::string(kCrLf) + kCrLf;

    pending_ = header_;
    if (multipart_)
        pending_ += "--" + boundary_ + kCrLf + "Content-Type: " + textType + kCrLf + textEncoding + kCrLf;
    pending_ += bodyText;
    size_ = pending_.size();
    for (const auto& a : files_) {
        size_ += 2 + boundary_.size() + 2;
        size_ += std::string("Content-Type: application/octet-stream; " + NameParam("name", a->name) + kCrLf +
                             "Content-Transfer-Encoding: base64" + kCrLf + "Content-Disposition: attachment; " +
                             NameParam("filename", a->name) + kCrLf + kCrLf)
                     .size();
        size_ += Base64Size(a->size);
    }
    if (multipart_) size_ += 2 + boundary_.size() + 2 + 2;
}

MessageStream::~MessageStream() = default;

bool MessageStream::Refill() {
    pending_.clear();
    pendingPos_ = 0;
    if (current_) {
        std::string raw(kLineBytes * kChunkLines, '\0');
        size_t got = 0;
        while (got < raw.size()) {
            ssize_t r = ::read(current_->fd, raw.data() + got, raw.size() - got);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0)
                throw MailError(MailError::Kind::AttachmentRead,
                                "Attachment could not be read: " + current_->path + ": " + std::strerror(errno));
            if (r == 0) break;
            got += static_cast<size_t>(r);
        }
        if (current_->done + got > current_->size || (got < raw.size() && current_->done + got != current_->size))
            throw MailError(MailError::Kind::AttachmentRead,
                            "Attachment changed while it was sent: " + current_->path);
        current_->done += got;
        for (size_t i = 0; i < got; i += kLineBytes) {
            pending_ += Base64Line(reinterpret_cast<const uint8_t*>(raw.data()) + i, std::min(kLineBytes, got - i));
            pending_ += kCrLf;
        }
        if (got < raw.size()) current_ = nullptr;
        if (!pending_.empty()) return true;
    }
    if (next_ < files_.size()) {
        Attachment& a = *files_[next_++];
        pending_ = "--" + boundary_ + kCrLf + "Content-Type: application/octet-stream; " + NameParam("name", a.name) +
                   kCrLf + "Content-Transfer-Encoding: base64" + kCrLf + "Content-Disposition: attachment; " +
                   NameParam("filename", a.name) + kCrLf + kCrLf;
        current_ = &a;
        return true;
    }
    if (multipart_ && next_ == files_.size()) {
        ++next_;
        pending_ = "--" + boundary_ + "--" + kCrLf;
        return true;
    }
    return false;
}

size_t MessageStream::Read(char* buf, size_t n) {
    size_t out = 0;
    while (out < n) {
        if (pendingPos_ == pending_.size() && !Refill()) break;
        size_t k = std::min(n - out, pending_.size() - pendingPos_);
        std::memcpy(buf + out, pending_.data() + pendingPos_, k);
        pendingPos_ += k;
        out += k;
    }
    return out;
}

std::string BuildMessageText(const TPostMessage& m, const MessageOptions& opt) {
    MessageStream s(m, opt);
    std::string out;
    char buf[65536];
    while (size_t n = s.Read(buf, sizeof buf))
        out.append(buf, n);
    return out;
}

}  // namespace varnok::mail
