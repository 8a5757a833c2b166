// Minimal cabinet writer for tests: wraps frames that a codec compressed into a real .cab (CFHEADER,
// CFFOLDER with the folder's typeCompress, CFFILE, CFDATA with checksums), so that the peers that read
// cabinets (libmspack, cabextract, 7-Zip, unar) can be asked to give the data back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varnok::test {

struct CabTestFolder {
    uint16_t typeCompress = 0;
    std::vector<std::vector<uint8_t>> blocks;  // compressed bytes of each CFDATA block
    std::vector<uint16_t> uncompressed;        // cbUncomp of each block
};

struct CabTestFile {
    std::string name;
    uint32_t size = 0;
    uint32_t folderOffset = 0;  // uoffFolderStart
    uint16_t folder = 0;
};

// The CFDATA checksum of a block's data and its cbData/cbUncomp fields.
uint32_t CabDataChecksum(const std::vector<uint8_t>& data, uint16_t uncompressed);

std::vector<uint8_t> BuildCabinet(const std::vector<CabTestFolder>& folders, const std::vector<CabTestFile>& files);

// One folder of `frames` (each 32 KiB of `size` bytes but the last) holding one file `name`.
std::vector<uint8_t> BuildOneFileCabinet(uint16_t typeCompress, const std::vector<std::vector<uint8_t>>& frames,
                                         uint32_t size, const std::string& name = "data.bin");

// Extracts `name` from `cab` with a command-line peer ("cabextract", "7z" or "unar") into `dir`; returns
// the extracted bytes, or sets *error (the tool's exit status and output) when it failed.
std::vector<uint8_t> ExtractWithTool(const std::string& tool, const std::filesystem::path& cab,
                                     const std::filesystem::path& dir, const std::string& name, std::string* error);

}  // namespace varnok::test
