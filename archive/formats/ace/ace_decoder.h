// The ACE decoder: stored files, ACE 1.0 LZ77 (method 1) and the ACE 2.0 blocked method (method 2), whose
// blocks switch between LZ77, LZ77 with x86 call translation (EXE), LZ77 of delta-coded, byte-reordered data
// (DELTA), SOUND and PIC.
//
// One Decoder decodes the files of an archive in order. Its window outlives a file so that the files of a solid
// archive can copy from the ones before them; a file that does not continue the chain starts with an empty
// history, and a match reaching before the start of the history is damage, never a read of stale memory. The
// window is one linear buffer (history, then the bytes of the current stretch) that is written out and slid
// every chunk, as in lz_output.h; its own class here because it has to outlive a file and because in EXE and
// DELTA mode what goes out is not what stays in the window (the window keeps the bytes LZ77 produced, the file
// gets them translated back), so output passes through a per-mode filter.
//
// Bounds on hostile input: the dictionary size is clamped to the format's 4 MiB; a file never produces more
// than its header's unpacked size (a match, a delta block or a sound block that would run past it is damage);
// every code is validated when it is built; every loop consumes input or output, and a reader that runs past
// the packed data stops the file (Truncated).
#pragma once

#include <cstdint>
#include <memory>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok::ace {

enum CompressionType : uint8_t { kStored = 0, kLz77 = 1, kBlocked = 2 };

struct FileParams {
    uint8_t type = kStored;      // the header's compression type
    uint16_t parameters = 0;     // the header's parameters: dictionary bits - 10 in the low four bits
    uint64_t packedSize = 0;     // bytes the source holds for the file (all its volumes' parts)
    uint64_t unpackedSize = 0;
    bool solid = false;          // continues the history of the file decoded before it
};

// The dictionary size in bits the parameters ask for, clamped to the format's 10..22.
int DictionaryBits(uint16_t parameters);

class Decoder {
  public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    static bool Supported(uint8_t type) { return type <= kBlocked; }

    // Decodes one file from `packed` (at most f.packedSize bytes are read) into `out`: exactly f.unpackedSize
    // bytes when the result is Ok. Corrupt carries E_BadHuffmanCode (a code that cannot be built),
    // E_InvalidCode (a symbol or mode without meaning), E_CorruptInput (a match reaching before the history or
    // past the file's end, a block that does not fit the file) or E_UnsupportedMethod; Truncated
    // E_UnexpectedEof. The cancel flag is polled once per output chunk. The sink may throw; the decoder is
    // then left ready for a file that starts a new chain.
    DecodeResult Decode(const FileParams& f, ByteSource& packed, ByteSink& out,
                        const CancelFlag* cancel = nullptr);

    // Forgets the history (the next file cannot continue a chain) and frees the window.
    void Release();

    struct State;

  private:
    std::unique_ptr<State> s_;
};

}  // namespace varnok::ace
