#include "archive/formats/zoo/unzoo.h"

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
    for (const zoo::Item& s : Collect(walk)) {
        if (Cancel()) return;
        ExtractOne(s);
    }
}

}  // namespace varnok
