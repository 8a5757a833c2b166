#include "archive/extractors.h"

#include "archive/decoders/zip/unzip.h"

namespace varnok {

std::unique_ptr<TUnBase> CreateExtractor(TArcType t) {
    switch (t) {
        case atZip:
        case atZipExe:
        case atZipMV:
            return std::make_unique<TUnZip>();
        case atJar:
        case atJarExe:
            return std::make_unique<TUnJar>();
        default:
            return nullptr;
    }
}

bool HasExtractor(TArcType t) {
    return CreateExtractor(t) != nullptr;
}

}  // namespace varnok
