// Gives the lister the decoded size of streams whose headers do not carry it.
#pragma once

#include "archive/core/lister.h"

namespace varnok::cli {

void AttachStreamMeasure(TArcLister& lister);

}  // namespace varnok::cli
