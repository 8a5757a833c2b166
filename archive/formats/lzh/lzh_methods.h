// Decoding an LZH-family entry by its five-character method id ("-lh5-", "-lzs-", ...).
#pragma once

#include <cstdint>
#include <string_view>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

// Whether the id names a method DecodeLzhMethod can decode (directories included).
bool IsSupportedLzhMethod(std::string_view methodId);
// Whether the id names a directory entry (-lhd-), which has no data.
bool IsLzhDirectoryMethod(std::string_view methodId);

// Decodes one entry. The whole id is compared (not one character of it): -lh0-, -lz4-, -pm0- are
// stored; -lhd- is a directory (nothing is written); -lh1- ... -lh7-, -lhx-, -lzs-, -lz5-, -pm2- are
// decoded. Any other id gives Corrupt with E_UnsupportedMethod and writes nothing.
DecodeResult DecodeLzhMethod(std::string_view methodId, ByteSource& in, uint64_t packedSize, ByteSink& out,
                             uint64_t unpackedSize, const CancelFlag* cancel = nullptr);

}  // namespace varnok
