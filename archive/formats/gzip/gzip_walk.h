// Reading a gzip or compress file as an archive: the entry it stands for (its stored name, date and sizes),
// or, when the decoded data is a TAR archive and the component reads compressed TARs as the TAR inside them,
// the TAR's entries, read straight out of the decoded stream. The lister and TUnGZip both read through this.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/core/codec.h"
#include "archive/core/format.h"
#include "archive/formats/gzip/gzip_headers.h"
#include "platform/file.h"

namespace varnok {
class TZipCommon;
class PipedDecoding;
class StreamTarInput;
}

namespace varnok::tar {
class Walk;
}

namespace varnok::gzip {

// Decodes the whole file (every gzip member, each checked; or the compress stream) into sink.
DecodeResult DecodeFile(const platform::File& f, uint64_t fileSize, bool isGzip, ByteSink& sink,
                        const CancelFlag* cancel = nullptr);
// Whether the decoded data starts with a TAR header.
bool StartsWithTar(const platform::File& f, uint64_t fileSize, bool isGzip);
// The decoded size, found by decoding (the trailer holds the size of the last member only, modulo 4 GiB,
// and compress stores none); nothing for files too large to decode for a listing, or damaged ones.
std::optional<uint64_t> MeasureDecodedSize(const platform::File& f, uint64_t fileSize, bool isGzip);

// The entry record of the file as one entry.
ArchiveEntry EntryOf(const Header& h, const platform::File& f, uint64_t fileSize, const std::string& archivePath);

class Walk final : public EntryWalk {
  public:
    explicit Walk(TZipCommon& c);
    ~Walk() override;
    bool Next(ArchiveEntry& e) override;
    // Whether the walk reads the TAR inside.
    bool TarInside() const { return tar_ != nullptr; }

  private:
    TZipCommon& c_;
    bool started_ = false, done_ = false;
    std::unique_ptr<PipedDecoding> piped_;
    std::unique_ptr<StreamTarInput> input_;
    std::unique_ptr<tar::Walk> tar_;
};

}  // namespace varnok::gzip
