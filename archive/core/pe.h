// Just enough of the Windows program format to find what self-extractors keep in it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace varnok {

// The string resource with the given id (the first language found), as UTF-8; empty when there is none.
std::string ReadPeStringResource(const platform::File& f, uint64_t fileSize, int id);
// Where the data after the program's last section begins (the overlay); 0 for a file that is not a Windows
// program or has nothing after its sections.
uint64_t PeOverlayOffset(const platform::File& f, uint64_t fileSize);

}  // namespace varnok
