// The walk of a TAR archive for an extractor: every entry in turn, each selected one extracted through the
// extraction base (files, folders, symbolic and hard links, sparse files, Unix modes and times). The records
// come from a file, or from a stream read front to back (a TAR inside a compressed file).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/core/unbase.h"
#include "archive/formats/tar/tar_headers.h"
#include "archive/formats/tar/tar_walk.h"
#include "platform/file.h"

namespace varnok {

// Records of a TAR archive: positioned reads. Streams serve growing positions only (skipping forward).
class TarInput : public tar::RecordReader {
  public:
    // Whether earlier positions can be read again (the data of an earlier entry, for a hard link).
    virtual bool Seekable() const = 0;
};

class FileTarInput final : public TarInput {
  public:
    explicit FileTarInput(const platform::File& f) : f_(f) {}
    size_t ReadAt(uint64_t pos, void* buf, size_t n) override { return f_.ReadAt(pos, buf, n); }
    bool Seekable() const override { return true; }

  private:
    const platform::File& f_;
};

class StreamTarInput final : public TarInput {
  public:
    explicit StreamTarInput(ByteSource& src) : src_(src) {}
    // Reads at pos, dropping the bytes before it; a position already passed reads nothing.
    size_t ReadAt(uint64_t pos, void* buf, size_t n) override;
    bool Seekable() const override { return false; }

  private:
    ByteSource& src_;
    uint64_t at_ = 0;
};

class TarWalker {
  public:
    // The archive's records end at size (UINT64_MAX when not known in advance). archiveName names the TAR in
    // messages about the archive as a whole.
    TarWalker(TUnBase& owner, TarInput& input, uint64_t size, std::string archiveName);

    // Walks from pos to the end-of-archive blocks (or the end of the records) and extracts the selected
    // entries. A damaged header ends the walk with a reported error. Returns the number of headers read.
    int Run(uint64_t pos = 0);

    // Output names the walk must not write: the files being read (the TAR, the archive holding it), when
    // they lie in the destination.
    std::vector<std::string> ProtectedPaths;
    // Adds the names of every entry of the archive to a code-page sample (a walk over the headers alone).
    // The walk extracts as it reads, so it asks for this only when it meets the first name that is not
    // UTF-8: pure ASCII and UTF-8 names need no decision.
    std::function<void(NameCoding& sample)> SampleNames;

  private:
    struct Known {
        uint64_t dataPos = 0;
        uint64_t size = 0;
        uint64_t realSize = 0;
        std::vector<tar::SparseChunk> sparseMap;
        bool sparse = false;
        bool extracted = false;
        bool failed = false;  // selected, and did not come out: its links do not get copies of it
    };
    void Entry(const tar::Entry& t);
    void ExtractFile(const tar::Entry& t, const ArchiveEntry& e, const std::string& key);
    void ExtractHardLink(const tar::Entry& t, ArchiveEntry& e, const std::string& key);
    DecodeResult CopyData(const Known& k, ByteSink& sink);
    // The entry record of a header, its names decoded (deciding the code page when a name needs it).
    ArchiveEntry EntryFor(const tar::Entry& t);

    TUnBase& o_;
    TarInput& in_;
    uint64_t size_;
    std::string archiveName_;
    std::map<std::string, Known> files_;  // regular files seen so far, by their normalised stored name
    NameCoding names_;
    bool namesDecided_ = false;
};

}  // namespace varnok
