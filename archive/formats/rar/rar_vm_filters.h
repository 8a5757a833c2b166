// The filters of RAR 2.9 to 4 (x86 calls E8 and E8/E9, Itanium branches, delta, RGB images, audio).
//
// RAR 3 ships each filter as a program for its virtual machine inside the compressed stream. Every archiver
// that ever wrote RAR 3 used the same six programs, so we recognise a program by its length and CRC-32 and run
// our own implementation of it; any other program is refused (we do not run arbitrary VM code). The filters work
// in the VM's memory of 256 KiB: the block is copied to its start, a filter that cannot work in place writes its
// result right behind the block, and the result's position and size are handed back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnok::rar {

enum class VmFilter { Unknown, E8, E8E9, Itanium, Delta, Rgb, Audio };

inline constexpr uint32_t kVmMemorySize = 0x40000;
inline constexpr uint32_t kVmGlobalOffset = 0x3C000;  // blocks must end before the VM's global area

// The standard filter whose program this is, or Unknown. A program whose bytes do not XOR to zero (the
// VM's own check) is Unknown too.
VmFilter IdentifyVmFilter(const uint8_t* code, size_t size);

// Runs a filter on the block at mem[0, blockSize) (mem holds kVmMemorySize bytes). r: the VM's initial
// registers r0..r6 (r0 channels or width, r1 the red position of RGB); fileOffset: where the block starts in
// the file. On success the result lies at mem[outPos, outPos + outSize). False when the parameters are out of
// the filter's range (damaged data).
bool RunVmFilter(VmFilter kind, uint8_t* mem, uint32_t blockSize, const uint32_t r[7], uint32_t fileOffset,
                 uint32_t& outPos, uint32_t& outSize);

}  // namespace varnok::rar
