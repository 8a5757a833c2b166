#include "archive/formats/bh/unbh.h"

#include <vector>

#include "archive/core/utils.h"
#include "archive/codecs/static_huffman.h"
#include "archive/codecs/stored.h"
#include "archive/codecs/inflate.h"

namespace varnok {

namespace {

// Writers before this version start the data's key stream afresh from the password after the 12-byte check,
// and leave stored data unencrypted.
constexpr uint8_t kChainedKeysVersion = 3;

enum BhMethod : uint8_t { bmStored = 0, bmFused = 1, bmDeflated = 2, bmDeflated8 = 8 };

}  // namespace

TUnBh::TUnBh() : inflater_(std::make_unique<Inflater>()) {}
TUnBh::~TUnBh() = default;

bool TUnBh::AcceptsType(TArcType t) const {
    return t == atBh || t == atBhExe;
}

void TUnBh::ProcessArchive() {
    bh::Walk walk(*this);
    for (const bh::Item& item : Collect(walk)) {
        if (Cancel()) return;
        ExtractOne(item);
    }
}

void TUnBh::ExtractOne(const bh::Item& item) {
    const bh::Header& h = item.header;
    const ArchiveEntry& e = item.entry;
    if (e.IsDirectory || e.IsVolumeLabel) {
        ExtractEntry(e, CrcKind::Crc32, h.crc, nullptr);
        return;
    }
    auto fail = [&](int code, const std::string& why) {
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, code, why);
        SkipProgress(h.packedSize);
    };
    const uint8_t method = h.method == bmDeflated ? uint8_t{bmDeflated8} : h.method;
    if (method != bmStored && method != bmFused && method != bmDeflated8)
        return fail(E_UnsupportedMethod, "method " + std::to_string(h.method));

    uint64_t dataPos = h.dataPos;
    uint64_t packed = h.packedSize;
    bool decrypt = false;
    if (e.Encrypted) {
        if (packed < 12) return fail(E_BadFileHeader, "the encryption header is missing");
        if (!PasswordFailed()) {
            uint8_t head[12];
            if (ArcFile.ReadAt(dataPos, head, sizeof head) != sizeof head)
                return fail(E_BadFileHeader, "the encryption header is missing");
            if (!CheckZipPassword(head, e.EntryName, h.flags, h.dosTime, h.crc, cipher_)) SetPasswordFailed();
        }
        dataPos += 12;
        packed -= 12;
        decrypt = true;
        if (h.versionMadeBy < kChainedKeysVersion) {
            if (!PasswordFailed()) cipher_.InitKeys(Password);
            if (method == bmStored) decrypt = false;
        }
    }
    FileSource src(ArcFile, dataPos);
    LimitedSource data(src, packed);
    TransformSource decrypted(data, [this](uint8_t* b, size_t n) { cipher_.Decrypt(b, n); });
    ByteSource& in = decrypt ? static_cast<ByteSource&>(decrypted) : data;
    ExtractEntry(e, CrcKind::Crc32, h.crc, [&](ByteSink& sink) {
        switch (method) {
            case bmStored:
                return CopyStoredEntry(in, packed, sink, h.unpackedSize, CancelPtr());
            case bmFused:
                return DecodeStaticHuffman(kBhMethod1Params, in, packed, sink, h.unpackedSize, CancelPtr());
            default:
                inflater_->SetFormat(Inflater::Format::Deflate);
                return inflater_->Decode(in, sink, CancelPtr());
        }
    });
}

}  // namespace varnok
