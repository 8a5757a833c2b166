// Whole gzip files (RFC 1952): one or more members, each a header, a deflate stream and a trailer holding the
// CRC-32 and the size (mod 2^32) of that member's data.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/core/codec.h"
#include "archive/codecs/inflate.h"

namespace varnok {

// Decodes every member of a gzip file and checks each one against its trailer.
//
// Results: Ok when every member ended with a matching trailer and nothing but zero bytes, or bytes that do
// not begin another member, follow the last one. Corrupt with
//   E_HeaderId           the data does not start with a gzip header;
//   E_UnsupportedMethod  a member compressed with a method other than deflate;
//   E_PasswordProtected  a member marked as encrypted;
//   E_UnknownFlags       reserved header flags;
//   E_HeaderCrc          a header whose own CRC-16 does not match;
//   E_CrcCheck           a member whose data disagree with its trailer (CRC-32 or size);
//   the inflate codes    damaged deflate data.
// Truncated (E_UnexpectedEof) when the input ends inside a member. A file that holds nothing but one header
// decodes to nothing (Ok): that is how an empty file is sometimes stored.
class GzipDecoder {
  public:
    DecodeResult Decode(ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);
    // Members decoded by the last run.
    int Members() const { return members_; }

  private:
    Inflater inflater_;
    int members_ = 0;
};

// One-shot form of GzipDecoder::Decode.
DecodeResult DecodeGzip(ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);

}  // namespace varnok
