#include "archive/extractors.h"

#include "archive/decoders/arj/unarj.h"
#include "archive/decoders/bh/unbh.h"
#include "archive/decoders/lzh/unlha.h"
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
        case atArj:
        case atArjExe:
            return std::make_unique<TUnArj>();
        case atBh:
        case atBhExe:
            return std::make_unique<TUnBh>();
        case atLha:
        case atLhaExe:
        case atLzh:
        case atLzhExe:
            return std::make_unique<TUnLha>();
        default:
            return nullptr;
    }
}

bool HasExtractor(TArcType t) {
    return CreateExtractor(t) != nullptr;
}

}  // namespace varnok
