#include "cli/measure.h"

namespace varnok::cli {

void AttachStreamMeasure(TArcLister& lister) {
    // The compress decoder joins here when the gzip/compress family lands.
    (void)lister;
}

}  // namespace varnok::cli
