#include "archive/extractors.h"

#include "archive/decoders/arj/unarj.h"
#include "archive/decoders/bh/unbh.h"
#include "archive/decoders/lzh/unlha.h"
#include "archive/decoders/zip/unzip.h"
#include "archive/decoders/arc/unarc.h"
#include "archive/decoders/gzip_tar/ungzip.h"
#include "archive/decoders/gzip_tar/untar.h"
#include "archive/decoders/uue/uudecode.h"
#include "archive/decoders/zoo/unzoo.h"

namespace varnok {

std::unique_ptr<TUnBase> CreateExtractor(TArcType t) {
    switch (t) {
        case atArc:
        case atArcExe:
        case atPak:
        case atPakExe:
            return std::make_unique<TUnArc>();
        case atZoo:
            return std::make_unique<TUnZoo>();
        case atGZip:
            return std::make_unique<TUnGZip>();
        case atTar:
            return std::make_unique<TUnTar>();
        case atUue:
            return std::make_unique<TUUDecode>();
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
