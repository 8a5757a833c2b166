// The methods of RAR 1.5 to 4 and the decoders that read them, for one archive at a time.
//
// Which decoder reads an entry follows from the version its header needs: 15 is RAR 1.5 compression, 20 and 26
// RAR 2.0 (26 only added large files), 29 and 36 RAR 2.9 to 4 (36 only marks another dictionary hash); method '0'
// is stored. The set keeps one decoder of each kind for the whole archive, created when first needed, because a
// solid archive's entries continue the state the entry before left in that decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok::rar {

class Rar15Decoder;
class Rar20Decoder;
class Rar29Decoder;

class RarDecoderSet {
  public:
    RarDecoderSet();
    ~RarDecoderSet();
    RarDecoderSet(const RarDecoderSet&) = delete;
    RarDecoderSet& operator=(const RarDecoderSet&) = delete;

    // Whether an entry of this version and method ('0'..'5') can be decoded.
    static bool Supports(uint8_t versionNeeded, uint8_t method);

    // Decodes one entry's packed bytes into exactly unpackedSize bytes (stored entries are copied).
    DecodeResult Decode(uint8_t versionNeeded, uint8_t method, ByteSource& in, ByteSink& out, uint64_t unpackedSize,
                        bool solid, const CancelFlag* cancel = nullptr);
    // Why the last Decode failed, in words.
    const std::string& Error() const { return error_; }

  private:
    std::unique_ptr<Rar15Decoder> rar15_;
    std::unique_ptr<Rar20Decoder> rar20_;
    std::unique_ptr<Rar29Decoder> rar29_;
    std::string error_;
};

}  // namespace varnok::rar
