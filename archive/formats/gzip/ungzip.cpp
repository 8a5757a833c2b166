#include "archive/formats/gzip/ungzip.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "archive/formats/gzip/gzip_headers.h"
#include "archive/formats/tar/tar_headers.h"
#include "archive/core/utils.h"
#include "archive/codecs/byte_pipe.h"
#include "archive/formats/gzip/compress_decoder.h"
#include "archive/formats/gzip/gzip_stream.h"
#include "archive/formats/gzip/gzip_walk.h"
#include "archive/formats/tar/tar_walk.h"
#include "archive/formats/tar/tar_walker.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok {

namespace {

// Sets a flag for a while and restores it when leaving.
class FlagOverride {
  public:
    FlagOverride(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
    ~FlagOverride() { flag_ = saved_; }
    FlagOverride(const FlagOverride&) = delete;
    FlagOverride& operator=(const FlagOverride&) = delete;

  private:
    bool& flag_;
    bool saved_;
};

}  // namespace

TUnGZip::TUnGZip() = default;
TUnGZip::~TUnGZip() = default;

std::string TUnGZip::OutputNameFor(const std::string& name, const std::string& archivePath, bool textFlag) {
    std::string ext = LowerAscii(ExtractFileExt(name));
    std::string stem = name.substr(0, name.size() - ext.size());
    if (ext == ".tgz" || ext == ".taz") return stem + ".tar";
    if (ext == ".tar") return name;
    std::string out = name;
    if (!ext.empty() && ext == LowerAscii(ExtractFileExt(archivePath)) && !stem.empty()) out = stem;
    if (textFlag && ExtractFileExt(out).empty()) out += ".txt";
    return out;
}

// Every call decodes with a decoder of its own: the TAR's names are sampled by a second decoding that runs in
// its own thread while the first is still going, so the two must share nothing but the (positioned-read) file.
DecodeResult TUnGZip::DecodeAll(ByteSink& sink) {
    FileSource file(ArcFile, 0);
    LimitedSource data(file, ArchiveEnd);
    return isGzip_ ? DecodeGzip(data, sink, CancelPtr()) : DecodeCompress(data, sink, CancelPtr());
}

bool TUnGZip::SameAsArchive(const std::string& name) {
    if (Testing() || archiveReal_.empty() || SafeRelativeName(name).empty() || !BuildOutputName(name))
        return false;
    if (OutputName() != archiveReal_) return false;
    EntryFailed(name, E_SameInOut, "it would replace the archive being read");
    return true;
}

void TUnGZip::ExtractNestedFromFile(std::string tarPath) {
    platform::File f;
    if (!f.Open(tarPath, platform::File::Mode::Read)) {
        EntryFailed(tarPath, E_OpenFile, platform::LastErrorText());
        return;
    }
    FileTarInput input(f);
    TarWalker walker(*this, input, f.Size(), tarPath);
    walker.ProtectedPaths = {tarPath, archiveReal_};
    walker.Run(0);
    f.Close();
    if (GzTarDeleteOptions == gtDeleteTar)
        unlink(tarPath.c_str());
    else if (GzTarDeleteOptions == gtTrashTar)
        platform::MoveToTrash(tarPath);
}

void TUnGZip::ExtractNestedStreaming(const std::string& name) {
    // The TAR is read straight out of the decompressed stream; the stream's own check comes at its end.
    PipedDecoding piped([this](ByteSink& sink) { return DecodeAll(sink); });
    StreamTarInput input(piped);
    TarWalker walker(*this, input, UINT64_MAX, ArchiveFile());
    if (!archiveReal_.empty()) walker.ProtectedPaths = {archiveReal_};
    walker.SampleNames = [this](NameCoding& sample) {
        // The names come first: the headers of a second decoding, the data passed over.
        PipedDecoding headers([this](ByteSink& sink) { return DecodeAll(sink); });
        StreamTarInput records(headers);
        tar::Walk walk(records, 0, UINT64_MAX, ArchiveFile());
        ArchiveEntry e;
        while (!Cancel() && walk.Next(e))
            SampleTexts(e, sample);
    };
    walker.Run(0);
    DecodeResult r = piped.Finish();
    if (Cancel() || r.status == DecodeStatus::Cancelled) return;
    if (!r.Ok()) {
        BuildOutputName(name);
        EntryFailed(name, r.errorCode ? r.errorCode : E_CorruptInput, "the compressed data is damaged");
    }
}

void TUnGZip::ProcessArchive() {
    char real[PATH_MAX];
    archiveReal_ = realpath(ArchiveFile().c_str(), real) ? real : std::string();
    gzip::Header h;
    if (!gzip::ReadHeader(ArcFile, ArchiveEnd, h)) {
        EntryFailed(ArchiveFile(), E_BadFileHeader, "the gzip header is damaged");
        return;
    }
    if (!h.isGzip() && !h.isCompress()) {
        const char* what = h.magic == 0x1E1F ? "pack" : h.magic == 0xA01F ? "LZH compress" : "unknown format";
        EntryFailed(ArchiveFile(), E_UnsupportedMethod, what);
        return;
    }
    isGzip_ = h.isGzip();
    ArchiveEntry e = gzip::EntryOf(h, ArcFile, ArchiveEnd, ArchiveFile());
    BeginNames();
    SampleTexts(e, names_);
    names_.Decide();
    DecodeTexts(e, names_);
    std::string name = e.EntryName;
    if (isGzip_) name = OutputNameFor(name, ArchiveFile(), h.flags & gzip::fText);
    e.EntryName = name;
    e.PackedSize = ArchiveEnd;
    e.UnpackedSize = isGzip_ ? h.trailerSize : 0;
    e.EntryDate = isGzip_ && h.mtime ? static_cast<int64_t>(h.mtime) : platform::FileMTime(ArchiveFile());
    e.ExternalAttr = 0x20;
    SetRunTotal(e.UnpackedSize ? e.UnpackedSize : ArchiveEnd);
    auto decode = [this](ByteSink& sink) { return DecodeAll(sink); };

    const bool isTar = gzip::StartsWithTar(ArcFile, ArchiveEnd, isGzip_);
    bool doUnTar = isTar;
    if (isTar && OnNestedTarFile) OnNestedTarFile(*this, name, doUnTar);
    if (Cancel()) return;
    if (!doUnTar) {
        if (SpecMatch(name) && !SameAsArchive(name)) ExtractEntry(e, CrcKind::None, 0, decode);
        return;
    }
    // A TAR inside: no line-end translation, whatever was asked for text.
    FlagOverride binary(AsciiTranslation, false);
    if (OpenTarInside) {
        // The TAR's entries are the archive's entries: they are extracted (or tested) straight out of the
        // decoded stream, and the file patterns select among them.
        ExtractNestedStreaming(name);
        return;
    }
    if (!Testing() && SpecMatch(name)) {
        if (SameAsArchive(name)) return;
        // The TAR itself is wanted too: it is written, checked, and then extracted from.
        auto r = ExtractEntry(e, CrcKind::None, 0, decode);
        if (r == EntryResult::Failed || Cancel()) return;
        if (r == EntryResult::Extracted) {
            ExtractNestedFromFile(OutputName());
            return;
        }
        // The TAR file was declined (it exists and is kept): its contents come from the compressed data.
    }
    ExtractNestedStreaming(name);
}

}  // namespace varnok
