// The ACE engine behind "libvarnok-unace.so": one archive handle walks the headers of a (multi-volume) archive
// in order and decodes the files through the ACE decoder (archive/formats/ace).
//
// Built around the call order of the C interface: the caller reads a header, then processes that file (or
// reads the next header, which skips it). Everything about a file's data lives in ProcessFile: following its
// parts into the next volumes (with the caller's consent for each volume), decryption, decoding, the CRC check
// against the last part's header, and the output file, which is written beside the destination under a
// temporary name and renamed into place only when the file checked out, so that a wrong password, damaged data
// or a stop from the caller leaves nothing behind and an older file of that name is not lost. In a solid
// archive a skipped file is decoded too (without output), since the files after it depend on it.
#pragma once

#include <string>

#include "engines/unace/unace.h"

namespace varnok::unace {

class Engine;

// The entry points' work; none of them throws. Handles are checked against the live ones.
Engine* Open(ACEOpenArchiveData* data) noexcept;
int Close(void* handle) noexcept;
int ReadHeader(void* handle, ACEHeaderData* header) noexcept;
int ProcessFile(void* handle, int operation, const char* destName) noexcept;
int SetPassword(void* handle, const char* password) noexcept;

// The name ACE gives the volume after `path`: "x.ace" or "x.exe" -> "x.c00", "x.c07" -> "x.c08", "x.c99" ->
// "x.100", "x.100" -> "x.101", up to "x.999" (then empty); the letter keeps the case of the current extension.
std::string NextVolumeName(const std::string& path);

}  // namespace varnok::unace
