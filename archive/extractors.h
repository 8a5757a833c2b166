// The extractor of each archive type, from the format registry.
#pragma once

#include <memory>

#include "archive/core/arctype.h"
#include "archive/core/unbase.h"

namespace varnok {

// A new extractor for archives of type t, or nullptr when the type has none here.
std::unique_ptr<TUnBase> CreateExtractor(TArcType t);
// Whether CreateExtractor gives an extractor for t.
bool HasExtractor(TArcType t);

}  // namespace varnok
