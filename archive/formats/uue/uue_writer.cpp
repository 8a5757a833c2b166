#include "archive/formats/uue/uue_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/core/errors.h"
#include "archive/core/utils.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok {

namespace {

constexpr char kEol[] = "\r\n";
constexpr char kVersion[] = "3.51";
constexpr char kCredit[] = "Varnok archive manager";

const std::string& UuAlphabet() {
    static const std::string a = [] {
        std::string s(1, '`');
        for (char c = 0x21; c <= 0x5F; ++c)
            s += c;
        return s;
    }();
    return a;
}

const std::string kXxAlphabet = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const std::string kB64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Method {
    const char* word;  // first line
    const std::string* alphabet;
    size_t lineBytes;  // input bytes per full line
    bool base64;
    const char* ext;
};

Method MethodOf(TCompressMethod m) {
    switch (m) {
        case cmXXEncode:
            return {"XXEncode ", &kXxAlphabet, 45, false, ".xxe"};
        case cmBase64:
            return {"B64Encode", &kB64Alphabet, 57, true, ".mim"};
        default:
            return {"UUEncode ", &UuAlphabet(), 45, false, ".uue"};
    }
}

// One data line (without its line end): for UUE and XXE a length character, then 4 characters per started
// group of 3 bytes (a short group filled with zero bits); for Base64 the groups alone, a short last one
// padded with "=".
std::string EncodeLine(const uint8_t* p, size_t n, const Method& m) {
    const std::string& a = *m.alphabet;
    std::string line;
    line.reserve(1 + (n + 2) / 3 * 4);
    if (!m.base64) line += a[n];
    for (size_t g = 0; g < n; g += 3) {
        const size_t k = std::min<size_t>(3, n - g);
        const uint8_t b0 = p[g], b1 = k > 1 ? p[g + 1] : 0, b2 = k > 2 ? p[g + 2] : 0;
        line += a[b0 >> 2];
        line += a[((b0 & 3) << 4) | (b1 >> 4)];
        if (m.base64 && k < 2) {
            line += "==";
            break;
        }
        line += a[((b1 & 15) << 2) | (b2 >> 6)];
        if (m.base64 && k < 3) {
            line += '=';
            break;
        }
        line += a[b2 & 63];
    }
    return line;
}

// A name a quoted MIME parameter carries only with escapes that few readers undo.
bool NeedsExtendedParameter(const std::string& name) {
    for (unsigned char c : name)
        if (c >= 0x80 || c < 0x20 || c == 0x7F || c == '"' || c == '\\') return true;
    return false;
}

std::string QuotedParameter(const std::string& name) {
    std::string q = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

// RFC 2231: UTF-8''text with every byte outside the attribute characters percent-encoded.
std::string ExtendedParameter(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "UTF-8''";
    for (unsigned char c : name) {
        if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string ModeText(uint32_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03o", mode & 0777);
    return buf;
}

}  // namespace

// One run: the input read line by line, the text written volume by volume into temporary files, which are
// renamed into place at the end (and removed on every other way out).
class TUUEncode::Run {
  public:
    explicit Run(TUUEncode& o) : o_(o), m_(MethodOf(o.CompressMethod())), out_(o.OutFilename()) {}
    ~Run() {
        for (auto& v : vols_)
            if (!v->temp.empty()) unlink(v->temp.c_str());
    }
    // False when the user declined to replace a volume file in the way (nothing was written).
    bool Encode();

  private:
    struct Volume {
        std::string path, temp;
        platform::File f;
        uint64_t bytes = 0;  // written to it, pending included
        uint64_t dataLines = 0;
    };

    Volume& Cur() { return *vols_.back(); }
    void OpenVolume();
    void Put(const std::string& text);
    void Flush();
    void DataLine(const std::string& line, bool last);
    uint64_t TrailerSize(size_t files) const;
    std::string Trailer(size_t files) const;
    [[noreturn]] void TooSmall();

    TUUEncode& o_;
    const Method m_;
    const std::string out_;
    std::string name_;  // the input's own name, as written in the text
    uint32_t mode_ = 0644;
    uint64_t size_ = 0;
    std::string pending_;
    std::vector<std::unique_ptr<Volume>> vols_;
};

void TUUEncode::Run::OpenVolume() {
    if (!vols_.empty()) Flush();
    const int index = static_cast<int>(vols_.size());
    std::string path = VolumeFileName(out_, index);
    for (const auto& v : vols_)
        if (v->path == path)
            o_.RaiseError(out_, "the names of its volumes would repeat; choose another extension",
                          E_InvalidFileName);
    auto v = std::make_unique<Volume>();
    v->path = path;
    std::string dir = ExtractFilePath(path);
    v->temp = platform::CreateTempFile(RemoveSlash(dir.empty() ? "./" : dir),
                                       "." + ExtractFileName(path) + ".", ".tmp", &v->f);
    if (v->temp.empty()) o_.RaiseError(path, platform::LastErrorText(), E_OpenFile);
    vols_.push_back(std::move(v));
    if (index > 0)
        Put("part " + std::to_string(index) + kEol + "begin " + ModeText(mode_) + " " + name_ + kEol);
}

void TUUEncode::Run::Put(const std::string& text) {
    pending_ += text;
    Cur().bytes += text.size();
    if (pending_.size() >= 64 * 1024) Flush();
}

void TUUEncode::Run::Flush() {
    if (!pending_.empty() && !Cur().f.Write(pending_.data(), pending_.size()))
        o_.RaiseError(Cur().path, platform::LastErrorText(), E_WriteFile);
    pending_.clear();
}

uint64_t TUUEncode::Run::TrailerSize(size_t files) const {
    return Trailer(files).size();
}

std::string TUUEncode::Run::Trailer(size_t files) const {
    if (m_.base64) return kEol;  // the blank line that ends the MIME part
    std::string t =
        std::string(1, (*m_.alphabet)[0]) + kEol + "end" + kEol + std::to_string(size_) + " bytes" + kEol;
    if (files > 1) t += "encoded into " + std::to_string(files) + " file(s)" + kEol;
    return t;
}

void TUUEncode::Run::TooSmall() {
    o_.RaiseError(out_,
                  "a volume of " + std::to_string(o_.VolumeSize) +
                      " bytes cannot hold its headers, an encoded line and the end lines",
                  E_MaxFileSize);
}

void TUUEncode::Run::DataLine(const std::string& line, bool last) {
    const uint64_t limit = o_.VolumeSize;
    if (limit) {
        auto need = [&] { return line.size() + 2 + (last ? TrailerSize(vols_.size()) : 0); };
        if (Cur().bytes + need() > limit && Cur().dataLines > 0) OpenVolume();
        if (Cur().bytes + need() > limit) TooSmall();
    }
    Put(line + kEol);
    ++Cur().dataLines;
}

bool TUUEncode::Run::Encode() {
    const std::string input = o_.ArchiveFile();
    platform::File src;
    struct stat st {};
    // A pipe or a device is not opened at all: opening a pipe waits for a writer.
    if (stat(input.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        o_.RaiseError(input, "not a regular file", E_OpenFile);
    if (!src.Open(input, platform::File::Mode::Read))
        o_.RaiseError(input, platform::LastErrorText(), E_OpenFile);
    if (fstat(src.Fd(), &st) != 0) o_.RaiseError(input, platform::LastErrorText(), E_OpenFile);
    if (!S_ISREG(st.st_mode)) o_.RaiseError(input, "not a regular file", E_OpenFile);
    struct stat ost {};
    if (stat(out_.c_str(), &ost) == 0 && ost.st_dev == st.st_dev && ost.st_ino == st.st_ino)
        o_.RaiseError(out_, "", E_SameInOut);
    size_ = static_cast<uint64_t>(st.st_size);
    mode_ = static_cast<uint32_t>(st.st_mode & 0777);
    name_ = ExtractFileName(input);
    if (name_.find_first_of("\r\n") != std::string::npos)
        o_.RaiseError(input, "a name with a line break cannot be written into the text", E_InvalidFileName);

    OpenVolume();
    std::string head;
    if (m_.base64) {
        head = std::string("MIME-Version: 1.0") + kEol + "X-Encoder: " + m_.word + " " + kVersion + " (" +
               kCredit + ")" + kEol + "Content-Type: " + ContentType(name_) +
               "; name=" + QuotedParameter(name_) + kEol + "Content-Transfer-Encoding: base64" + kEol +
               "Content-Disposition: attachment; filename=" + QuotedParameter(name_);
        if (NeedsExtendedParameter(name_)) head += "; filename*=" + ExtendedParameter(name_);
        head += "; size=" + std::to_string(size_) + kEol + kEol;
    } else {
        head = std::string(m_.word) + " " + kVersion + " (" + kCredit + ")" + kEol + kEol;
        // An empty XXE text has no data line to tell its alphabet by: its table says it (a lone "+" would
        // be taken for UUE).
        if (o_.WriteTableToFile || (size_ == 0 && o_.CompressMethod() == cmXXEncode))
            head += "table" + std::string(kEol) + m_.alphabet->substr(0, 32) + kEol +
                    m_.alphabet->substr(32) + kEol;
        head += "begin " + ModeText(mode_) + " " + name_ + kEol;
    }
    Put(head);

    // Input in whole lines; a line is known to be the last when the file has nothing after it.
    std::vector<uint8_t> in(m_.lineBytes * 512);
    size_t have = 0, pos = 0;
    bool eof = false;
    uint64_t done = 0;
    int readErrno = 0;
    for (;;) {
        if (have - pos <= m_.lineBytes && !eof) {
            std::memmove(in.data(), in.data() + pos, have - pos);
            have -= pos;
            pos = 0;
            while (!eof && have < in.size()) {
                errno = 0;
                const size_t got = src.Read(in.data() + have, in.size() - have);
                if (got == 0) {
                    eof = true;
                    readErrno = errno;
                }
                have += got;
            }
        }
        const size_t n = std::min(m_.lineBytes, have - pos);
        if (n == 0) break;
        DataLine(EncodeLine(in.data() + pos, n, m_), eof && have - pos == n);
        pos += n;
        done += n;
        if (done % (m_.lineBytes * 512) == 0) {
            o_.CheckCancel();
            o_.UpdateProgress(done, size_, size_);
        }
    }
    if (readErrno != 0) o_.RaiseError(input, std::strerror(readErrno), E_ReadFile);
    if (done != size_) o_.RaiseError(input, "the file changed while it was read", E_ReadFile);
    const std::string trailer = Trailer(vols_.size());
    if (o_.VolumeSize && Cur().bytes + trailer.size() > o_.VolumeSize) TooSmall();
    Put(trailer);
    Flush();
    o_.CheckCancel();
    o_.UpdateProgress(done, size_, size_);

    // Further volumes may lie where files exist; the first was asked about before the run.
    for (size_t i = 1; i < vols_.size(); ++i)
        if (!o_.MayReplace(vols_[i]->path)) return false;
    const int64_t date = static_cast<int64_t>(st.st_mtime);
    for (size_t i = 0; i < vols_.size(); ++i) {
        Volume& v = *vols_[i];
        struct stat old {};
        mode_t mode;
        if (stat(v.path.c_str(), &old) == 0) {
            mode = old.st_mode & 07777;
        } else {
            const mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        if (fchmod(v.f.Fd(), mode) != 0 || (o_.SyncBeforeReplace && !v.f.Sync()) || !v.f.Close())
            o_.RaiseError(v.path, platform::LastErrorText(), E_WriteFile);
        // Finished volumes carry the input's date; the last one keeps its own.
        if (i + 1 < vols_.size() && o_.DateAttribute == daFileDate) platform::SetFileTime(v.temp, date);
    }
    o_.CheckCancel();
    for (auto& v : vols_) {
        if (rename(v->temp.c_str(), v->path.c_str()) != 0)
            o_.RaiseError(v->path, platform::LastErrorText(), E_WriteFile);
        v->temp.clear();
    }
    return true;
}

TUUEncode::TUUEncode() : TCompBase(atUue, ".UUE") {
    SetCompressMethod(cmUUEncode);
    arcType_ = atNA;
}

void TUUEncode::SetOutFilename(const std::string& name) {
    if (name == ".") {
        outFilename_.clear();
        return;
    }
    outFilename_ = name;
    if (!name.empty() && name.back() != '/' && ExtractFileExt(name).empty())
        outFilename_ += MethodOf(CompressMethod()).ext;
}

std::string TUUEncode::VolumeFileName(const std::string& first, int index) {
    if (index <= 0) return first;
    const std::string ext = ExtractFileExt(first);
    const std::string stem = first.substr(0, first.size() - ext.size());
    if (ext.size() > 1 && ext.size() <= 10 && IsDigits(ext.substr(1))) {
        // name.001, name.002 ...: the number counts on, keeping its width.
        std::string num = std::to_string(std::stoull(ext.substr(1)) + static_cast<uint64_t>(index));
        if (num.size() < ext.size() - 1) num.insert(0, ext.size() - 1 - num.size(), '0');
        return stem + "." + num;
    }
    const std::string digits = std::to_string(index);
    if (ext.empty()) return first + digits;
    // The extension keeps its dot and as many leading characters as leave room for the number (three in all).
    size_t keep = first.size() - ext.size() + 4;
    keep = keep > digits.size() ? keep - digits.size() : 0;
    return first.substr(0, std::min(keep, first.size())) + digits;
}

std::string TUUEncode::ContentType(const std::string& name) {
    const std::string ext = UpperAscii(ExtractFileExt(name)).substr(0, 4);
    if (ext == ".AIF") return "audio/aiff";
    if (ext == ".AU" || ext == ".SND") return "audio/basic";
    if (ext == ".GIF") return "image/gif";
    if (ext == ".JPG") return "image/jpeg";
    if (ext == ".AVI") return "video/avi";
    if (ext == ".RTF") return "text/rtf";
    if (ext == ".HTM") return "text/html";
    if (ext == ".TXT") return "text/plain; charset=US-ASCII";
    return "application/octet-stream";
}

bool TUUEncode::MayReplace(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        ReportError(path, "it is a folder", E_FileDirectory);
        SetFailed();
        return false;
    }
    if (!OnFileExists) {
        ReportMissingEvent("OnFileExists");
        SetFailed();
        return false;
    }
    TOverwriteMode mode = OverwriteMode;
    OnFileExists(*this, path, st.st_mtime, mode);
    if (mode == omSkip) return false;
    if (!(st.st_mode & S_IWUSR) || access(path.c_str(), W_OK) != 0) {
        bool write = false;
        if (OnNonWriteableArchive) OnNonWriteableArchive(*this, path, write);
        if (!write) {
            ReportError(path, "the file is read-only", E_FileReadOnly);
            SetFailed();
            return false;
        }
    }
    return true;
}

void TUUEncode::UpdateArchive() {
    if (Switch == swRead) return;
    if (Switch == swDelete) {
        ReportError(ArchiveFile(), "", E_InvalidArcType);
        SetFailed();
        if (OnEnd) OnEnd(*this, outFilename_, false);
        return;
    }
    if (outFilename_.empty()) {
        ReportError("OutFile", "no text file to write was named (ArchiveFile is the file encoded)",
                    E_InvalidFileName);
        SetFailed();
        if (OnEnd) OnEnd(*this, outFilename_, false);
        return;
    }
    // The extension of the method; the input keeps its name.
    const std::string input = ArchiveFile();
    SetDefaultExt(MethodOf(CompressMethod()).ext);
    archiveFile_ = input;
    if (!MayReplace(outFilename_)) return;
    if (OnActivate) OnActivate(*this);
    TCompBaseHeaderObj e;
    e.name = outFilename_;
    e.diskPath = input;
    if (!BeginFile(e)) return;
    bool written = false;
    try {
        Run run(*this);
        written = run.Encode();
    } catch (...) {
        if (OnEnd) OnEnd(*this, outFilename_, false);
        throw;
    }
    if (!written) return;
    CountAdded();
    if (OnEnd) OnEnd(*this, outFilename_, true);
}

}  // namespace varnok
