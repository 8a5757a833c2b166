#include "archive/formats/lzh/lzh_methods.h"

#include "archive/core/errors.h"
#include "archive/formats/lzh/larc.h"
#include "archive/formats/lzh/lh1.h"
#include "archive/formats/lzh/lharc2.h"
#include "archive/formats/lzh/pmarc2.h"
#include "archive/codecs/static_huffman.h"
#include "archive/codecs/stored.h"

namespace varnok {

namespace {

enum class Method { Unknown, Stored, Directory, Lh1, Lh2, Lh3, Static, Lzs, Lz5, Pm2 };

struct MethodInfo {
    Method method = Method::Unknown;
    const StaticHuffmanParams* params = nullptr;
};

MethodInfo Lookup(std::string_view id) {
    struct Row {
        std::string_view id;
        Method method;
        const StaticHuffmanParams* params;
    };
    static const Row rows[] = {
        {"-lh0-", Method::Stored, nullptr},     {"-lz4-", Method::Stored, nullptr},
        {"-pm0-", Method::Stored, nullptr},     {"-lhd-", Method::Directory, nullptr},
        {"-lh1-", Method::Lh1, nullptr},        {"-lh2-", Method::Lh2, nullptr},
        {"-lh3-", Method::Lh3, nullptr},        {"-lh4-", Method::Static, &kLh4Params},
        {"-lh5-", Method::Static, &kLh5Params}, {"-lh6-", Method::Static, &kLh6Params},
        {"-lh7-", Method::Static, &kLh7Params}, {"-lhx-", Method::Static, &kLhxParams},
        {"-lzs-", Method::Lzs, nullptr},        {"-lz5-", Method::Lz5, nullptr},
        {"-pm2-", Method::Pm2, nullptr},
    };
    for (const Row& r : rows)
        if (r.id == id) return {r.method, r.params};
    return {};
}

}  // namespace

bool IsSupportedLzhMethod(std::string_view methodId) {
    return Lookup(methodId).method != Method::Unknown;
}

bool IsLzhDirectoryMethod(std::string_view methodId) {
    return Lookup(methodId).method == Method::Directory;
}

DecodeResult DecodeLzhMethod(std::string_view methodId, ByteSource& in, uint64_t packedSize, ByteSink& out,
                             uint64_t unpackedSize, const CancelFlag* cancel) {
    MethodInfo m = Lookup(methodId);
    switch (m.method) {
        case Method::Stored:
            return CopyStoredEntry(in, packedSize, out, unpackedSize, cancel);
        case Method::Directory:
            return MakeResult(DecodeStatus::Ok, 0, 0, 0);
        case Method::Lh1:
            return DecodeLh1(in, packedSize, out, unpackedSize, cancel);
        case Method::Lh2:
            return DecodeLh2(in, packedSize, out, unpackedSize, cancel);
        case Method::Lh3:
            return DecodeLh3(in, packedSize, out, unpackedSize, cancel);
        case Method::Static:
            return DecodeStaticHuffman(*m.params, in, packedSize, out, unpackedSize, cancel);
        case Method::Lzs:
            return DecodeLzs(in, packedSize, out, unpackedSize, cancel);
        case Method::Lz5:
            return DecodeLz5(in, packedSize, out, unpackedSize, cancel);
        case Method::Pm2:
            return DecodePm2(in, packedSize, out, unpackedSize, cancel);
        case Method::Unknown:
            break;
    }
    return MakeResult(DecodeStatus::Corrupt, E_UnsupportedMethod, 0, 0);
}

}  // namespace varnok
