// Finding the parts of multi-volume archives that lie side by side as files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnok {

// A ZIP set split over files "name.z01", "name.z02", ..., "name.zip" (the last part), or numbered "name001.zip",
// "name002.zip", ..., the last part included. Disks count from 0.
class ZipVolumeSet {
  public:
    ZipVolumeSet(std::string lastPart, int lastDisk);
    // The file holding disk n.
    std::string PathOf(int disk) const;
    // Reads size bytes starting at offset of disk, continuing into the following parts. False when a part is
    // missing or too short (MissingVolume names it).
    bool ReadSpan(int disk, uint64_t offset, uint64_t size, std::vector<uint8_t>& out);
    const std::string& MissingVolume() const { return missing_; }
    int LastDisk() const { return lastDisk_; }

  private:
    std::string last_;
    int lastDisk_;
    std::string stem_, ext_;  // the last part's name split at its extension
    bool numbered_ = false;   // NAME001.zip ... rather than NAME.z01 ...
    std::string missing_;
};

// An existing file of that name in its folder, matched ignoring case (the exact name first); empty when none.
std::string FindFileIgnoringCase(const std::string& path);

// The next part of a RAR set named "name.partN.rar" (the number keeps its width); empty for other names.
std::string NextRarPartName(const std::string& path);

// The volume after an encoded-text volume: name.uue, name.uu1 ... name.uu9, name.u10 ... name.u99, name.100
// ... (likewise for .xxe), and name.001, name.002 ... for numbered parts. Empty when the name fits neither.
std::string NextEncodedVolumeName(const std::string& path);

}  // namespace varnok
