#include "archive/core/stream.h"

#include "archive/core/errors.h"

namespace varnok {

void VectorSink::Write(const uint8_t* buf, size_t n) {
    if (n > cap_ - data_.size()) throw ArchiveError(E_WriteFile, {}, "output limit reached");
    data_.insert(data_.end(), buf, buf + n);
}

}  // namespace varnok
