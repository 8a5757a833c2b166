#include "archive/formats/uue/uue_headers.h"

#include <algorithm>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"

namespace varnok {

namespace encoded {
namespace {

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

// filename="x" or filename=x (also name= of Content-Type).
std::string ParamValueOf(const std::string& line, const char* key) {
    std::string low = LowerAscii(line);
    size_t p = low.find(key);
    if (p == std::string::npos) return {};
    p += std::strlen(key);
    if (p < line.size() && line[p] == '"') {
        size_t e = line.find('"', p + 1);
        return line.substr(p + 1, e == std::string::npos ? std::string::npos : e - p - 1);
    }
    size_t e = line.find_first_of("; \t", p);
    return line.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

bool ParseBeginLineAs(const std::string& line, Begin& b, bool base64) {
    // "begin MODE NAME": mode in octal, the name is the rest of the line.
    size_t p = base64 ? 13 : 6;
    size_t sp = line.find(' ', p);
    if (sp == std::string::npos || sp == p) return false;
    std::string mode = line.substr(p, sp - p);
    for (char c : mode)
        if (c < '0' || c > '7') return false;
    b.mode = static_cast<uint32_t>(FromOctal(mode) & 07777);
    b.name = line.substr(sp + 1);
    while (!b.name.empty() && (b.name.back() == '\r' || b.name.back() == ' ' || b.name.back() == '\t'))
        b.name.pop_back();
    return !b.name.empty();
}

}  // namespace

bool FindBegin(const platform::File& f, uint64_t from, uint64_t limit, Begin& b) {
    b = Begin{};
    std::string text(static_cast<size_t>(limit), '\0');
    text.resize(f.ReadAt(from, text.data(), text.size()));
    size_t pos = 0;
    std::string mimeName;
    bool mimeBase64 = false;
    uint64_t mimeStart = 0;
    bool inMimeHeaders = false;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        uint64_t linePos = from + pos;
        uint64_t next = nl == std::string::npos ? from + text.size() : from + nl + 1;
        if (StartsWithNoCase(line, "begin-base64 ")) {
            if (ParseBeginLineAs(line, b, true)) {
                b.kind = Kind::Base64;
                b.linePos = linePos;
                b.dataPos = next;
                return true;
            }
        } else if (line.compare(0, 6, "begin ") == 0) {
            if (ParseBeginLineAs(line, b, false)) {
                b.linePos = linePos;
                b.dataPos = next;
                // XXE text uses "+" and "-" and lower-case letters; its full line starts with "h".
                b.kind = Kind::Uue;
                size_t q = nl == std::string::npos ? text.size() : nl + 1;
                while (q < text.size()) {
                    size_t n2 = text.find('\n', q);
                    std::string l2 = text.substr(q, (n2 == std::string::npos ? text.size() : n2) - q);
                    if (!l2.empty() && l2.back() == '\r') l2.pop_back();
                    if (!l2.empty()) {
                        if (l2[0] == 'h' ||
                            l2.find_first_of("abcdefgijklmnopqrstuvwxyz") != std::string::npos)
                            b.kind = Kind::Xxe;
                        break;
                    }
                    if (n2 == std::string::npos) break;
                    q = n2 + 1;
                }
                return true;
            }
        } else if (StartsWithNoCase(line, "content-type:") ||
                   StartsWithNoCase(line, "content-disposition:") ||
                   StartsWithNoCase(line, "content-transfer-encoding:")) {
            if (!inMimeHeaders) {
                inMimeHeaders = true;
                mimeStart = linePos;
            }
            if (StartsWithNoCase(line, "content-transfer-encoding:") &&
                LowerAscii(line).find("base64") != std::string::npos)
                mimeBase64 = true;
            std::string n = ParamValueOf(line, "filename=");
            if (n.empty()) n = ParamValueOf(line, "name=");
            if (!n.empty()) mimeName = n;
        } else if (line.empty() && inMimeHeaders) {
            if (mimeBase64 && !mimeName.empty()) {
                b.kind = Kind::Base64;
                b.mime = true;
                b.name = mimeName;
                b.linePos = mimeStart;
                b.dataPos = next;
                return true;
            }
            inMimeHeaders = false;
            mimeBase64 = false;
            mimeName.clear();
        }
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return false;
}

bool ParseBeginLine(const std::string& line, Begin& b) {
    if (StartsWithNoCase(line, "begin-base64 ")) {
        if (!ParseBeginLineAs(line, b, true)) return false;
        b.kind = Kind::Base64;
        return true;
    }
    if (line.compare(0, 6, "begin ") != 0 || !ParseBeginLineAs(line, b, false)) return false;
    b.kind = Kind::Uue;
    return true;
}

std::string MimeParameter(const std::string& line, const char* key) {
    return ParamValueOf(line, key);
}

int XxeValue(char c) {
    static const char kTable[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const char* p = std::strchr(kTable, c);
    return c && p ? static_cast<int>(p - kTable) : -1;
}

uint64_t DecodedSize(const platform::File& first, const Begin& b, uint64_t firstSize,
                     const std::string& path, uint64_t* stop) {
    uint64_t total = 0;
    uint64_t pos = b.dataPos;
    const platform::File* fp = &first;
    uint64_t fileSize = firstSize;
    platform::File volume;
    std::string volumeName = path;
    std::string buf;
    std::string line;
    // Reads line by line through a window.
    uint64_t winPos = pos;
    size_t off = 0;
    auto nextLine = [&](std::string& out) {
        out.clear();
        while (true) {
            if (off >= buf.size()) {
                winPos += buf.size();
                if (winPos >= fileSize) return !out.empty();
                buf.resize(static_cast<size_t>(std::min<uint64_t>(65536, fileSize - winPos)));
                buf.resize(fp->ReadAt(winPos, buf.data(), buf.size()));
                off = 0;
                if (buf.empty()) return !out.empty();
            }
            size_t nl = buf.find('\n', off);
            if (nl == std::string::npos) {
                out.append(buf, off, std::string::npos);
                off = buf.size();
                if (out.size() > 4096) return true;
                continue;
            }
            out.append(buf, off, nl - off);
            off = nl + 1;
            if (!out.empty() && out.back() == '\r') out.pop_back();
            return true;
        }
    };
    uint64_t base64Chars = 0;
    int pad = 0;
    bool ended = false;
    // Where the first volume's scan is: after the line read last.
    auto at = [&] { return winPos + off; };
    uint64_t end = firstSize;
    for (int volumes = 0; volumes < 1000 && !ended; ++volumes) {
        if (volumes > 0) {
            // The text goes on in the next volume, after its own headers: up to the first full-length line.
            volumeName = NextEncodedVolumeName(volumeName);
            if (volumeName.empty() || !volume.Open(volumeName, platform::File::Mode::Read)) break;
            fp = &volume;
            fileSize = volume.Size();
            buf.clear();
            off = 0;
            winPos = 0;
            bool data = false;
            while (nextLine(line)) {
                bool full = b.kind == Kind::Xxe ? (!line.empty() && line[0] == 'h' && line.size() >= 61)
                                                : (!line.empty() && line[0] == 'M' && line.size() >= 61);
                if (full || line == "end") {
                    data = true;
                    break;
                }
            }
            if (!data) break;
            if (line == "end") break;
            total += 45;
        }
        for (uint64_t lines = 0; lines < (uint64_t{1} << 32) && nextLine(line); ++lines) {
            if (b.kind == Kind::Base64) {
                // As the decoder reads them: up to "====" or "end", a MIME part up to a blank line or a
                // boundary.
                if (line == "====" || line == "end" || (b.mime && (line.empty() || line.compare(0, 2, "--") == 0))) {
                    if (volumes == 0) end = at();
                    break;
                }
                for (char c : line) {
                    if (c == '=')
                        ++pad;
                    else if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/')
                        ++base64Chars;
                }
                continue;
            }
            if (line == "end" || line.compare(0, 4, "end ") == 0) {
                if (volumes == 0) end = at();
                ended = true;
                break;
            }
            if (line.empty() || line.compare(0, 6, "table") == 0) continue;
            // Lines that are not encoded data (headers of split parts and the like) do not count.
            int n = b.kind == Kind::Xxe ? XxeValue(line[0]) : ((line[0] - 0x20) & 0x3F);
            size_t want = (static_cast<size_t>(n) + 2) / 3 * 4 + 1;
            if (n > 0 && line.size() >= want && line.size() <= want + 2) total += static_cast<uint64_t>(n);
        }
        if (b.kind == Kind::Base64 || path.empty()) break;
    }
    if (b.kind == Kind::Base64) total = base64Chars * 3 / 4;
    (void)pad;
    if (stop) *stop = std::max(std::min(end, firstSize), b.dataPos);
    return total;
}

}  // namespace encoded

}  // namespace varnok
