#include "archive/extractors.h"

#include "archive/formats/arj/unarj.h"
#include "archive/formats/bh/unbh.h"
#include "archive/formats/lzh/unlha.h"
#include "archive/formats/zip/unzip.h"
#include "archive/formats/arc/unarc.h"
#include "archive/formats/gzip/ungzip.h"
#include "archive/formats/tar/untar.h"
#include "archive/formats/uue/uudecode.h"
#include "archive/formats/zoo/unzoo.h"

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
