#include "archive/codecs/check_sink.h"

#include <cstring>

#include "archive/core/crc.h"

namespace varnok {

void CheckSink::Write(const uint8_t* buf, size_t n) {
    if (kind_ == CrcKind::Crc32)
        crc_ = UpdateCrc32(crc_, buf, n);
    else if (kind_ == CrcKind::Crc16)
        crc_ = UpdateCrc16(static_cast<uint16_t>(crc_), buf, n);
    size_ += n;
    if (inner_) inner_->Write(buf, n);
}

bool CheckSink::Matches(uint32_t stored) const {
    if (kind_ == CrcKind::Crc16) {
        uint16_t v = static_cast<uint16_t>(crc_), s = static_cast<uint16_t>(stored);
        return s == v || s == static_cast<uint16_t>(~v);
    }
    return stored == Value() || stored == ~Value();
}

}  // namespace varnok
