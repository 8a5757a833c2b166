#include "archive/formats/bh/unbh.h"

#include <vector>

#include "archive/core/utils.h"
#include "archive/codecs/static_huffman.h"
#include "archive/codecs/stored.h"
#include "archive/formats/zip/zip_method.h"
#include "platform/codepage.h"

namespace varnok {

namespace {

constexpr int kMaxEntries = 10'000'000;
// Writers before this version start the data's key stream afresh from the password after the 12-byte check,
// and leave stored data unencrypted.
constexpr uint8_t kChainedKeysVersion = 3;

enum BhMethod : uint8_t { bmStored = 0, bmFused = 1, bmDeflated = 2, bmDeflated8 = 8 };

}  // namespace

TUnBh::TUnBh() : inflater_(std::make_unique<ZipMethodDecoder>()) {}
TUnBh::~TUnBh() = default;

bool TUnBh::AcceptsType(TArcType t) const {
    return t == atBh || t == atBhExe;
}

void TUnBh::ProcessArchive() {
    uint64_t pos = StartOffset;
    std::vector<Item> list;
    uint64_t total = 0;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (Cancel()) return;
        Item item;
        bh::Header& h = item.header;
        auto r = bh::ReadHeader(ArcFile, pos, ArchiveEnd, h);
        if (r == bh::ReadResult::End) break;
        if (r == bh::ReadResult::Bad) {
            // What was found before the damaged header is still extracted.
            ReportError(ArchiveFile(), "at offset " + std::to_string(pos), E_BadFileHeader);
            break;
        }
        item.name = TranslateOemChar ? platform::ToDisplayUtf8(h.name) : h.name;
        while (!item.name.empty() && item.name.back() == '/')
            item.name.pop_back();
        const bool folder = h.isDirectory();
        if (SelectsEntry(item.name, folder)) {
            total += h.unpackedSize;
            list.push_back(std::move(item));
        }
        if (h.nextPos <= pos) break;
        pos = h.nextPos;
    }
    SetRunTotal(total);
    for (const Item& item : list) {
        if (Cancel()) return;
        ExtractOne(item);
    }
}

void TUnBh::ExtractOne(const Item& item) {
    const bh::Header& h = item.header;
    UnEntry e;
    e.name = item.name;
    e.packedSize = h.packedSize;
    e.unpackedSize = h.unpackedSize;
    e.date = DosToUnixTime(h.dosTime);
    e.attributes = h.attributes & 0x3F ? h.attributes & 0x3F : 0x20;
    e.isDirectory = h.attributes & 0x10;
    e.isVolumeLabel = !e.isDirectory && (h.attributes & 0x08);
    if (e.isDirectory || e.isVolumeLabel) {
        ExtractEntry(e, CrcKind::Crc32, h.crc, nullptr);
        return;
    }
    auto fail = [&](int code, const std::string& why) {
        BuildOutputName(e.name);
        EntryFailed(e.name, code, why);
        SkipProgress(h.packedSize);
    };
    const uint8_t method = h.method == bmDeflated ? uint8_t{bmDeflated8} : h.method;
    if (method != bmStored && method != bmFused && method != bmDeflated8)
        return fail(E_UnsupportedMethod, "method " + std::to_string(h.method));

    uint64_t dataPos = h.dataPos;
    uint64_t packed = h.packedSize;
    bool decrypt = false;
    e.encrypted = h.encrypted();
    if (e.encrypted) {
        if (packed < 12) return fail(E_BadFileHeader, "the encryption header is missing");
        if (!PasswordFailed()) {
            uint8_t head[12];
            if (ArcFile.ReadAt(dataPos, head, sizeof head) != sizeof head)
                return fail(E_BadFileHeader, "the encryption header is missing");
            if (!CheckZipPassword(head, e.name, h.flags, h.dosTime, h.crc)) SetPasswordFailed();
        }
        dataPos += 12;
        packed -= 12;
        decrypt = true;
        if (h.versionMadeBy < kChainedKeysVersion) {
            if (!PasswordFailed()) Cipher.InitKeys(Password);
            if (method == bmStored) decrypt = false;
        }
    }
    FileSource src(ArcFile, dataPos);
    LimitedSource data(src, packed);
    TransformSource decrypted(data, [this](uint8_t* b, size_t n) { Cipher.Decrypt(b, n); });
    ByteSource& in = decrypt ? static_cast<ByteSource&>(decrypted) : data;
    ExtractEntry(e, CrcKind::Crc32, h.crc, [&](ByteSink& sink) {
        switch (method) {
            case bmStored:
                return CopyStoredEntry(in, packed, sink, h.unpackedSize, CancelPtr());
            case bmFused:
                return DecodeStaticHuffman(kBhMethod1Params, in, packed, sink, h.unpackedSize, CancelPtr());
            default:
                return inflater_->Decode(zmDeflated, h.flags, h.unpackedSize, in, sink, CancelPtr());
        }
    });
}

}  // namespace varnok
