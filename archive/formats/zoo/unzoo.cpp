#include "archive/formats/zoo/unzoo.h"

#include <algorithm>

#include "archive/core/utils.h"
#include "archive/codecs/static_huffman.h"
#include "archive/codecs/stored.h"
#include "archive/formats/zoo/zoo_lzw.h"

namespace varnok {

TUnZoo::TUnZoo()
    : lzw_(std::make_unique<ZooLzwDecoder>()),
      lh5_(std::make_unique<StaticHuffmanDecoder>(kZooMethod2Params)) {}
TUnZoo::~TUnZoo() = default;

void TUnZoo::ExtractOne(const zoo::Item& s) {
    const zoo::Entry& z = s.header;
    const ArchiveEntry& e = s.entry;
    if (z.method > 2) {
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_UnsupportedMethod, "method " + std::to_string(z.method));
        SkipProgress(z.unpackedSize);
        return;
    }
    ExtractEntry(e, CrcKind::Crc16, z.crc, [&](ByteSink& sink) {
        // The data lies where the entry says (its own offset field), not necessarily behind the entry.
        FileSource file(ArcFile, z.dataPos);
        LimitedSource data(file, z.packedSize);
        switch (z.method) {
            case 0:
                return CopyStoredEntry(data, z.packedSize, sink, z.packedSize, CancelPtr());
            case 1:
                return lzw_->Decode(data, sink, CancelPtr());
            default:
                return lh5_->Decode(data, z.packedSize, sink, z.unpackedSize, CancelPtr());
        }
    });
}

void TUnZoo::ProcessArchive() {
    zoo::Walk walk(*this);
    // Every entry names where its data lies. Entries whose data overlap make a small archive extract to many
    // times its size: nothing of such an archive is extracted.
    struct Span {
        uint64_t start, end;
        std::string name;
    };
    std::vector<Span> spans;
    auto selected = Collect(walk, [&spans](const zoo::Item& i) {
        if (i.header.packedSize)
            spans.push_back({i.header.dataPos, uint64_t{i.header.dataPos} + i.header.packedSize, i.entry.RawName});
    });
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].start < spans[i - 1].end)
            RaiseError(ArchiveFile(),
                       "the data of \"" + spans[i - 1].name + "\" and \"" + spans[i].name +
                           "\" overlap: entries that share their data are a decompression bomb; nothing is extracted",
                       E_BadFileHeader);
    }
    for (const zoo::Item& s : selected) {
        if (Cancel()) return;
        ExtractOne(s);
    }
}

}  // namespace varnok
