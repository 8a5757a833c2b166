#include "archive/formats/uue/uudecode.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "archive/formats/uue/uue_headers.h"
#include "archive/formats/uue/uue_walk.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "platform/codepage.h"
#include "platform/fileattr.h"

namespace varnok {

namespace {

constexpr size_t kMaxLine = 64 * 1024;  // longer lines are cut (and never valid data)
constexpr size_t kFirstBeginWindow = 32 * 1024;

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

// A 64-character alphabet and the value of every character (-1 outside it).
struct Alphabet {
    std::array<int8_t, 256> value;
    Alphabet() { value.fill(-1); }
    static Alphabet From(const std::string& chars, bool spaceIsZero) {
        Alphabet a;
        for (size_t i = 0; i < chars.size() && i < 64; ++i) {
            auto c = static_cast<uint8_t>(chars[i]);
            if (a.value[c] < 0) a.value[c] = static_cast<int8_t>(i);  // the first position wins
        }
        if (spaceIsZero && a.value[' '] < 0) a.value[' '] = 0;
        return a;
    }
    int operator[](char c) const { return value[static_cast<uint8_t>(c)]; }
};

const Alphabet& UuAlphabet() {
    static const Alphabet a = [] {
        std::string chars(1, '`');
        for (char c = 0x21; c <= 0x5F; ++c)
            chars += c;
        return Alphabet::From(chars, true);
    }();
    return a;
}

const Alphabet& XxAlphabet() {
    static const Alphabet a =
        Alphabet::From("+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", false);
    return a;
}

const Alphabet& Base64Alphabet() {
    static const Alphabet a =
        Alphabet::From("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", false);
    return a;
}

// Characters a line of n bytes needs after its length character (the last group may be cut short).
size_t CharsFor(int n) {
    return (static_cast<size_t>(n) * 4 + 2) / 3;
}

// Whether a line is an encoded data line in the alphabet: a length character and at least the characters
// that length needs, all of them in the alphabet, and not many more.
bool IsDataLine(const std::string& line, const Alphabet& a) {
    if (line.empty()) return false;
    int n = a[line[0]];
    if (n <= 0) return false;
    size_t need = CharsFor(n), full = static_cast<size_t>(n + 2) / 3 * 4;
    if (line.size() < 1 + need || line.size() > 1 + full + 2) return false;
    for (size_t i = 1; i < 1 + need; ++i)
        if (a[line[i]] < 0) return false;
    return true;
}

// A line of Base64 text long enough to be taken for data where other text may stand.
bool IsBase64Line(const std::string& line) {
    if (line.size() < 40) return false;
    for (char c : line)
        if (Base64Alphabet()[c] < 0 && c != '=') return false;
    return true;
}

// "N bytes", the size line written after "end".
bool ParseSizeLine(const std::string& line, int64_t& size) {
    size_t sp = line.find(' ');
    if (sp == std::string::npos || sp == 0 || sp > 18 || line.substr(sp) != " bytes") return false;
    int64_t v = 0;
    for (size_t i = 0; i < sp; ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
        v = v * 10 + (line[i] - '0');
    }
    size = v;
    return true;
}

// Hands decoded bytes to the sink in large chunks.
class ChunkedOutput {
  public:
    explicit ChunkedOutput(ByteSink& sink) : sink_(sink) { buf_.reserve(kSize); }
    void Put(const uint8_t* p, size_t n) {
        buf_.insert(buf_.end(), p, p + n);
        count_ += n;
        if (buf_.size() >= kSize) Flush();
    }
    void Flush() {
        if (!buf_.empty()) sink_.Write(buf_.data(), buf_.size());
        buf_.clear();
    }
    uint64_t Count() const { return count_; }

  private:
    static constexpr size_t kSize = 64 * 1024;
    ByteSink& sink_;
    std::vector<uint8_t> buf_;
    uint64_t count_ = 0;
};

// Percent-decodes the value of an RFC 2231 parameter (charset'language'text).
std::string ExtendedParameter(const std::string& v) {
    size_t q = v.find('\'');
    size_t q2 = q == std::string::npos ? std::string::npos : v.find('\'', q + 1);
    std::string text = q2 == std::string::npos ? v : v.substr(q2 + 1);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

// The lines of the text, volume after volume: line ends (LF or CR LF) removed, one line can be put back.
class TUUDecode::Lines {
  public:
    bool Open(const std::string& path) {
        f_.Close();
        if (!f_.Open(path, platform::File::Mode::Read)) return false;
        path_ = path;
        filePos_ = 0;
        pos_ = end_ = 0;
        buf_.resize(64 * 1024);
        pushed_ = false;
        return true;
    }
    bool Next(std::string& line) {
        if (pushed_) {
            pushed_ = false;
            line = std::move(pushedLine_);
            return true;
        }
        line.clear();
        bool any = false;
        for (;;) {
            if (pos_ == end_) {
                end_ = f_.ReadAt(filePos_, buf_.data(), buf_.size());
                pos_ = 0;
                filePos_ += end_;
                if (end_ == 0) break;
            }
            any = true;
            auto* start = buf_.data() + pos_;
            auto* nl = static_cast<uint8_t*>(std::memchr(start, '\n', end_ - pos_));
            size_t take = nl ? static_cast<size_t>(nl - start) : end_ - pos_;
            if (line.size() < kMaxLine)
                line.append(reinterpret_cast<const char*>(start), std::min(take, kMaxLine - line.size()));
            pos_ += take;
            if (nl) {
                ++pos_;
                break;
            }
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return any;
    }
    void Unread(std::string line) {
        pushedLine_ = std::move(line);
        pushed_ = true;
    }
    // Bytes of the current volume read so far.
    uint64_t Offset() const { return filePos_ - (end_ - pos_); }
    const std::string& Path() const { return path_; }

  private:
    platform::File f_;
    std::string path_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, end_ = 0;
    uint64_t filePos_ = 0;
    bool pushed_ = false;
    std::string pushedLine_;
};

struct TUUDecode::Part {
    enum class Kind { Lines, Base64Begin, Mime };
    Kind kind = Kind::Lines;
    std::string name;
    uint32_t mode = 0;
    std::string table;          // a 64-character table given in the text, or empty
    int64_t expectedSize = -1;  // from a "size" line before the file or an "N bytes" line after it
};

// Decodes the body of one part from the current line on, following it into further volumes.
class TUUDecode::Decoding {
  public:
    Decoding(TUUDecode& owner, Part& part) : o_(owner), part_(part) {}

    DecodeResult Run(ByteSink& sink) {
        ChunkedOutput out(sink);
        DecodeStatus status = part_.kind == Part::Kind::Lines ? DecodeLines(out) : DecodeBase64(out);
        out.Flush();
        int code = 0;
        if (status == DecodeStatus::Truncated)
            code = E_EolNotFound;
        else if (status == DecodeStatus::Ok && bad_)
            status = DecodeStatus::Corrupt, code = E_SkippedIllegalChar;
        else if (status == DecodeStatus::Ok && short_)
            status = DecodeStatus::Corrupt, code = E_UnexpectedEol;
        else if (status == DecodeStatus::Ok && long_)
            status = DecodeStatus::Corrupt, code = E_EolNotFound;
        else if (status == DecodeStatus::Ok && part_.expectedSize >= 0 &&
                 static_cast<uint64_t>(part_.expectedSize) != out.Count())
            status = DecodeStatus::Corrupt, code = E_FileSizeDifferent;
        return MakeResult(status, code, out.Count(), 0);
    }

  private:
    // After "end": a following "N bytes" line gives the size the file must have.
    void ReadSizeLine() {
        std::string line;
        if (!o_.lines_->Next(line)) return;
        int64_t size;
        if (ParseSizeLine(line, size))
            part_.expectedSize = size;
        else
            o_.lines_->Unread(std::move(line));
    }

    static const Alphabet& Choose(const std::string& line) {
        bool uu = IsDataLine(line, UuAlphabet()), xx = IsDataLine(line, XxAlphabet());
        if (xx && !uu) return XxAlphabet();
        if (uu) return UuAlphabet();
        return line.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos ? XxAlphabet()
                                                                                     : UuAlphabet();
    }

    DecodeStatus DecodeLines(ChunkedOutput& out) {
        Alphabet custom;
        const Alphabet* a = nullptr;
        if (part_.table.size() == 64) {
            custom = Alphabet::From(part_.table, true);
            a = &custom;
        }
        bool continuation = false, dataEnded = false;
        std::string line;
        uint8_t bytes[64];
        for (;;) {
            if (o_.Cancel()) return DecodeStatus::Cancelled;
            if (!o_.lines_->Next(line)) {
                // The text goes on in the next volume, unless its data already ended.
                if (dataEnded || !o_.NextVolume(true)) return DecodeStatus::Truncated;
                continuation = true;
                continue;
            }
            if (line == "end" || StartsWith(line, "end ")) {
                ReadSizeLine();
                return DecodeStatus::Ok;
            }
            if (continuation) {
                // A new volume: its own headers come first, up to the part's "begin" line or the first data.
                if (StartsWith(line, "begin ")) {
                    continuation = false;
                    continue;
                }
                if (!IsDataLine(line, a ? *a : Choose(line))) continue;
                continuation = false;
            }
            if (line.empty()) continue;
            // The volume marks of split texts ("part N", the repeated "begin" line) are not data.
            if (StartsWith(line, "begin ") || (StartsWith(line, "part ") && IsDigits(line.substr(5))))
                continue;
            if (!a) a = &Choose(line);
            if (dataEnded) continue;
            int n = (*a)[line[0]];
            if (n < 0) {
                bad_ = true;
                continue;
            }
            if (n == 0) {
                dataEnded = true;
                continue;
            }
            if (line.size() < 1 + CharsFor(n)) short_ = true;
            if (line.size() > 1 + static_cast<size_t>(n + 2) / 3 * 4 + 8) long_ = true;
            int made = 0;
            for (size_t i = 1; made < n; i += 4) {
                int v[4];
                for (int k = 0; k < 4; ++k) {
                    v[k] = i + k < line.size() ? (*a)[line[i + k]] : 0;
                    if (v[k] < 0) {
                        bad_ = true;
                        v[k] = 0;
                    }
                }
                uint8_t b[3] = {static_cast<uint8_t>((v[0] << 2) | (v[1] >> 4)),
                                static_cast<uint8_t>((v[1] << 4) | (v[2] >> 2)),
                                static_cast<uint8_t>((v[2] << 6) | v[3])};
                for (int k = 0; k < 3 && made < n; ++k)
                    bytes[made++] = b[k];
            }
            out.Put(bytes, static_cast<size_t>(n));
        }
    }

    DecodeStatus DecodeBase64(ChunkedOutput& out) {
        const bool mime = part_.kind == Part::Kind::Mime;
        const Alphabet& a = Base64Alphabet();
        uint32_t acc = 0;
        int held = 0;
        bool padded = false, continuation = false;
        size_t lastLength = 0, longest = 0;
        std::string line;
        auto finish = [&] {
            // A last group of two or three characters holds one or two bytes; a single one is damage.
            if (held == 1) bad_ = true;
            uint8_t b[2] = {static_cast<uint8_t>(acc >> (held == 3 ? 10 : 4)),
                            static_cast<uint8_t>(acc >> 2)};
            if (held >= 2) out.Put(b, static_cast<size_t>(held - 1));
        };
        for (;;) {
            if (o_.Cancel()) return DecodeStatus::Cancelled;
            if (!o_.lines_->Next(line)) {
                // A MIME part may simply end with the text, unless its last line was a full one (the encoder
                // split it into volumes there); other forms need their end line.
                bool required = !mime || (!padded && lastLength >= 60 && lastLength == longest);
                if (!padded && o_.NextVolume(required)) {
                    continuation = true;
                    continue;
                }
                finish();
                return required ? DecodeStatus::Truncated : DecodeStatus::Ok;
            }
            if (line == "====" || line == "end") {
                finish();
                if (line == "end") ReadSizeLine();
                return DecodeStatus::Ok;
            }
            if (continuation) {
                if (StartsWith(line, "begin ") || StartsWith(line, "begin-base64 ")) {
                    continuation = false;
                    continue;
                }
                if (!IsBase64Line(line)) continue;
                continuation = false;
            }
            if (line.empty() || (mime && StartsWith(line, "--"))) {
                if (!mime) continue;
                // The end of the MIME part; the writer's own "end" and size lines may follow.
                finish();
                std::string next;
                if (o_.lines_->Next(next)) {
                    if (next == "end")
                        ReadSizeLine();
                    else
                        o_.lines_->Unread(std::move(next));
                }
                return DecodeStatus::Ok;
            }
            lastLength = line.size();
            longest = std::max(longest, lastLength);
            for (char c : line) {
                if (c == ' ' || c == '\t') continue;
                if (c == '=') {
                    padded = true;
                    continue;
                }
                int v = a[c];
                if (v < 0 || padded) {
                    bad_ = true;
                    continue;
                }
                acc = (acc << 6) | static_cast<uint32_t>(v);
                if (++held == 4) {
                    uint8_t b[3] = {static_cast<uint8_t>(acc >> 16), static_cast<uint8_t>(acc >> 8),
                                    static_cast<uint8_t>(acc)};
                    out.Put(b, 3);
                    held = 0;
                    acc = 0;
                }
            }
        }
    }

    TUUDecode& o_;
    Part& part_;
    bool bad_ = false;    // characters outside the alphabet
    bool short_ = false;  // lines with fewer characters than their length says
    bool long_ = false;   // lines far longer than their length says (or no line ends at all)
};

TUUDecode::TUUDecode() : lines_(std::make_unique<Lines>()) {}
TUUDecode::~TUUDecode() = default;

void TUUDecode::SetVolumeStartNum(int v) {
    volumeStartNum_ = std::clamp(v, 0, 10);
}

std::string TUUDecode::VolumeFileNameFor(const std::string& first, int index) const {
    std::string ext = ExtractFileExt(first);
    std::string stem = first.substr(0, first.size() - ext.size());
    if (ext.size() > 1 && IsDigits(ext.substr(1)) && ext.size() <= 10) {
        // name.001, name.002 ...: the number counts on, keeping its width.
        std::string num = std::to_string(std::stoull(ext.substr(1)) + static_cast<uint64_t>(index));
        if (num.size() < ext.size() - 1) num.insert(0, ext.size() - 1 - num.size(), '0');
        return stem + "." + num;
    }
    std::string digits = std::to_string(volumeStartNum_ + index - 1);
    if (NextVolumeName == nvChangeFilename) {
        std::string dir = ExtractFilePath(stem);
        std::string base = stem.substr(dir.size());
        size_t keep = base.size() > digits.size() ? base.size() - digits.size() : 0;
        return dir + base.substr(0, keep) + digits + ext;
    }
    if (ext.empty()) return first + digits;
    // The extension keeps its dot and as many leading characters as leave room for the number.
    size_t keep = first.size() - ext.size() + 4;
    keep = keep > digits.size() ? keep - digits.size() : 0;
    keep = std::min(keep, first.size());
    return first.substr(0, keep) + digits;
}

bool TUUDecode::NextVolume(bool required) {
    ++volumeIndex_;
    std::string name = VolumeFileNameFor(ArchiveFile(), volumeIndex_);
    if (std::string found = FindFileIgnoringCase(name); !found.empty()) name = found;
    if (!required && !platform::FileExists(name)) return false;
    if (OnNextVolume) {
        if (!RequestVolume(name, volumeIndex_ + 1)) return false;
    } else if (!platform::FileExists(name)) {
        return false;
    }
    if (!lines_->Open(name)) {
        ReportError(name, platform::LastErrorText(), E_OpenFile, std::to_string(volumeIndex_ + 1));
        return false;
    }
    return true;
}

void TUUDecode::Extract(Part& part) {
    ArchiveEntry e = encoded::EntryOf(part.name, part.mode & 0777);
    // Each encoded file is read on its own: its name decides its code page.
    BeginNames();
    SampleTexts(e, names_);
    names_.Decide();
    DecodeTexts(e, names_);
    e.EntryDate = platform::FileMTime(ArchiveFile());
    e.SizeKnown = false;
    e.UnpackedSize = part.expectedSize > 0 ? static_cast<uint64_t>(part.expectedSize) : 0;
    e.ExternalAttr = 0x20;
    bool decoded = false;
    if (SpecMatch(e.EntryName)) {
        ExtractEntry(e, CrcKind::None, 0, [&](ByteSink& sink) {
            decoded = true;
            return Decoding(*this, part).Run(sink);
        });
    }
    if (!decoded) {
        // Not extracted: its lines are passed over all the same.
        CountingSink nothing;
        Decoding(*this, part).Run(nothing);
    }
}

void TUUDecode::ProcessArchive() {
    volumeIndex_ = 0;
    if (!lines_->Open(ArchiveFile())) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
    SetRunTotal(ArchiveEnd);
    int64_t pendingSize = -1;
    std::string pendingTable;
    // MIME part headers seen so far.
    bool inHeaders = false, base64 = false;
    std::string mimeName, lastHeader;
    auto headerDone = [&] {
        std::string n = encoded::MimeParameter(lastHeader, "filename*=");
        if (!n.empty()) {
            mimeName = ExtendedParameter(n);
        } else if (!(n = encoded::MimeParameter(lastHeader, "filename=")).empty()) {
            mimeName = n;
        } else if (mimeName.empty() && !(n = encoded::MimeParameter(lastHeader, "name=")).empty()) {
            mimeName = n;
        }
        if (StartsWithNoCase(lastHeader, "content-transfer-encoding:") &&
            LowerAscii(lastHeader).find("base64") != std::string::npos)
            base64 = true;
        lastHeader.clear();
    };
    int found = 0;
    uint64_t lineNo = 0;
    std::string line;
    while (lines_->Next(line)) {
        if (Cancel()) return;
        ++lineNo;
        if (found == 0 && MaxHeaderLines > 0 && lineNo > static_cast<uint64_t>(MaxHeaderLines) &&
            volumeIndex_ == 0 && lines_->Offset() > kFirstBeginWindow)
            break;
        encoded::Begin b;
        if (encoded::ParseBeginLine(line, b)) {
            Part p;
            p.kind = b.kind == encoded::Kind::Base64 ? Part::Kind::Base64Begin : Part::Kind::Lines;
            p.name = b.name;
            p.mode = b.mode;
            if (p.kind == Part::Kind::Lines) p.table = pendingTable;
            p.expectedSize = pendingSize;
            Extract(p);
            ++found;
            pendingSize = -1;
            pendingTable.clear();
            inHeaders = base64 = false;
            mimeName.clear();
            continue;
        }
        if (inHeaders && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            lastHeader += line;  // a folded header line
            continue;
        }
        if (!lastHeader.empty()) headerDone();
        if (line == "table") {
            // The XXE character table: two lines of 32 characters.
            std::string t1, t2;
            if (lines_->Next(t1) && lines_->Next(t2) && t1.size() >= 32 && t2.size() >= 32)
                pendingTable = t1.substr(0, 32) + t2.substr(0, 32);
        } else if (StartsWith(line, "charmap")) {
            std::string t;
            for (char c : line.substr(7))
                if (c != ' ' && c != '\t') t += c;
            if (t.size() >= 64) pendingTable = t.substr(0, 64);
        } else if (StartsWith(line, "size ")) {
            int64_t v = 0;
            std::string digits = line.substr(5);
            if (!digits.empty() && digits.size() < 19 && IsDigits(digits)) {
                for (char c : digits)
                    v = v * 10 + (c - '0');
                pendingSize = v;
            }
        } else if (StartsWithNoCase(line, "content-")) {
            inHeaders = true;
            lastHeader = line;
        } else if (inHeaders && line.empty()) {
            if (base64 && !mimeName.empty()) {
                Part p;
                p.kind = Part::Kind::Mime;
                p.name = mimeName;
                p.mode = 0644;
                Extract(p);
                ++found;
            }
            inHeaders = base64 = false;
            mimeName.clear();
        } else if (inHeaders && line.find(':') == std::string::npos) {
            inHeaders = base64 = false;
            mimeName.clear();
        }
    }
    if (found == 0 && !Cancel()) EntryFailed(ArchiveFile(), E_NoBeginLine, "no encoded file was found");
}

}  // namespace varnok
