// The cabinet writer behind "libvarnok-fci.so": the FCI entry points as C++ functions, and the block
// compressors a folder can use.
//
// The exported functions forward here one to one; tests and the fuzzer call these directly. None of them
// throws: failures go to the context's ERF record as the header describes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engines/fci/fci.h"

namespace varnok::fci {

HFCI Create(ERF* perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
            PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
            PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void* pv) noexcept;
int AddFile(HFCI hfci, const char* source, const char* name, int execute, PFNFCIGETNEXTCABINET next,
            PFNFCISTATUS status, PFNFCIGETOPENINFO openInfo, TCOMP typeCompress) noexcept;
int FlushCabinet(HFCI hfci, int getNextCab, PFNFCIGETNEXTCABINET next, PFNFCISTATUS status) noexcept;
int FlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET next, PFNFCISTATUS status) noexcept;
int Destroy(HFCI hfci) noexcept;

// One folder's compressor: frames of at most 32768 bytes in, the data of one CFDATA block per frame out.
// State (window, trees) carries from frame to frame within a folder; Reset starts a new folder.
class BlockCompressor {
  public:
    virtual ~BlockCompressor() = default;
    // Appends the compressed frame to out (cleared by the caller). Throws on failure.
    virtual void Encode(std::span<const uint8_t> frame, std::vector<uint8_t>& out) = 0;
    virtual void Reset() = 0;
};

// The compressor for a TCOMP value, and the typeCompress its CFFOLDER records carry; nullptr when the value is
// not one this library writes.
std::unique_ptr<BlockCompressor> MakeCompressor(TCOMP typeCompress, uint16_t& folderType);

// The CFDATA checksum of data, continued from seed.
uint32_t Checksum(const uint8_t* data, size_t n, uint32_t seed);

}  // namespace varnok::fci
