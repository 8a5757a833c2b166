#include "archive/formats/zoo/unzoo.h"

#include "archive/core/utils.h"
#include "archive/codecs/static_huffman.h"
#include "archive/formats/zoo/zoo_lzw.h"
#include "platform/codepage.h"

namespace varnok {

namespace {

constexpr int kMaxEntries = 1'000'000;

// Copies the stored data of an entry.
DecodeResult CopyAll(ByteSource& src, ByteSink& sink, uint64_t size, const CancelFlag* cancel) {
    std::vector<uint8_t> buf(64 * 1024);
    uint64_t done = 0;
    while (done < size) {
        if (IsCancelled(cancel)) return MakeResult(DecodeStatus::Cancelled, 0, done, done);
        size_t got = src.Read(buf.data(), static_cast<size_t>(std::min<uint64_t>(buf.size(), size - done)));
        if (got == 0) return MakeResult(DecodeStatus::Truncated, E_UnexpectedEof, done, done);
        sink.Write(buf.data(), got);
        done += got;
    }
    return MakeResult(DecodeStatus::Ok, 0, done, done);
}

}  // namespace

TUnZoo::TUnZoo()
    : lzw_(std::make_unique<ZooLzwDecoder>()),
      lh5_(std::make_unique<StaticHuffmanDecoder>(kZooMethod2Params)) {}
TUnZoo::~TUnZoo() = default;

void TUnZoo::Collect(std::vector<Selected>& out) {
    zoo::ArchiveHeader ah;
    if (!zoo::ReadArchiveHeader(ArcFile, ArchiveEnd, ah)) {
        EntryFailed(ArchiveFile(), E_BadFileHeader, "the archive header is damaged");
        return;
    }
    uint64_t pos = ah.firstEntry;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (Cancel()) return;
        Selected s;
        auto r = zoo::ReadEntry(ArcFile, pos, ArchiveEnd, s.entry);
        if (r == zoo::ReadResult::End) return;
        if (r == zoo::ReadResult::Bad) {
            EntryFailed(ArchiveFile(), E_BadFileHeader,
                        "the directory entry at offset " + std::to_string(pos) + " is damaged");
            return;
        }
        const uint64_t next = s.entry.next;
        if (!s.entry.deleted) {
            std::string raw = s.entry.FullName();
            s.name = TranslateOemChar ? platform::ToDisplayUtf8(raw) : raw;
            for (char& c : s.name)
                if (c == '\\') c = '/';
            if (SpecMatch(s.name)) out.push_back(std::move(s));
        }
        // The chain must lead forward: a pointer back (or to itself) would walk in circles.
        if (next <= pos) {
            EntryFailed(ArchiveFile(), E_BadFileHeader, "the directory chain turns back");
            return;
        }
        pos = next;
    }
}

void TUnZoo::ExtractOne(const Selected& s) {
    const zoo::Entry& z = s.entry;
    UnEntry e;
    e.name = s.name;
    e.packedSize = z.packedSize;
    e.unpackedSize = z.unpackedSize;
    e.date = DosToUnixTime(z.dosTime);
    e.attributes = 0x20;
    if (z.hasUnixMode) e.unixMode = z.unixMode & 07777;
    if (z.method > 2) {
        BuildOutputName(s.name);
        EntryFailed(s.name, E_UnsupportedMethod, "method " + std::to_string(z.method));
        SkipProgress(z.unpackedSize);
        return;
    }
    ExtractEntry(e, CrcKind::Crc16, z.crc, [&](ByteSink& sink) {
        // The data lies where the entry says (its own offset field), not necessarily behind the entry.
        FileSource file(ArcFile, z.dataPos);
        LimitedSource data(file, z.packedSize);
        switch (z.method) {
            case 0:
                return CopyAll(data, sink, z.packedSize, CancelPtr());
            case 1:
                return lzw_->Decode(data, sink, CancelPtr());
            default:
                return lh5_->Decode(data, z.packedSize, sink, z.unpackedSize, CancelPtr());
        }
    });
}

void TUnZoo::ProcessArchive() {
    std::vector<Selected> list;
    Collect(list);
    uint64_t total = 0;
    for (const auto& s : list)
        total += s.entry.unpackedSize;
    SetRunTotal(total);
    for (const auto& s : list) {
        if (Cancel()) return;
        ExtractOne(s);
    }
}

}  // namespace varnok
