#include "archive/core/volumes.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>

#include "archive/core/utils.h"
#include "platform/file.h"
#include "platform/fileattr.h"

namespace varnok {

ZipVolumeSet::ZipVolumeSet(std::string lastPart, int lastDisk) : last_(std::move(lastPart)), lastDisk_(lastDisk) {
    size_t dot = last_.find_last_of('.');
    size_t slash = last_.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = last_.size();
    stem_ = last_.substr(0, dot);
    ext_ = last_.substr(dot);
    // Spanning onto a hard disk numbers every part, the last one too: NAME001.zip, NAME002.zip, ...; zip -s
    // names them NAME.z01, NAME.z02, ..., NAME.zip. The number of the last part must be its disk's, and a
    // NAME.z01 beside it means the other scheme.
    char number[16];
    snprintf(number, sizeof number, "%03d", lastDisk_ + 1);
    numbered_ = stem_.size() > 3 && stem_.compare(stem_.size() - 3, 3, number) == 0 &&
                FindFileIgnoringCase(stem_ + ".z01").empty();
}

std::string ZipVolumeSet::PathOf(int disk) const {
    if (disk >= lastDisk_) return last_;
    char tail[16];
    snprintf(tail, sizeof tail, numbered_ ? "%03d" : ".z%02d", disk + 1);
    std::string candidate = numbered_ ? stem_.substr(0, stem_.size() - 3) + tail + ext_ : stem_ + tail;
    std::string found = FindFileIgnoringCase(candidate);
    return found.empty() ? candidate : found;
}

bool ZipVolumeSet::ReadSpan(int disk, uint64_t offset, uint64_t size, std::vector<uint8_t>& out) {
    out.clear();
    if (size > (uint64_t{1} << 32)) return false;
    // What the parts really hold bounds the reservation, whatever size a damaged record claims.
    uint64_t available = 0;
    for (int k = disk; k <= lastDisk_ && available < size; ++k) {
        int64_t s = platform::FileSizeOf(PathOf(k));
        if (s > 0) available += static_cast<uint64_t>(s);
    }
    if (available < size) {
        missing_ = PathOf(std::min(lastDisk_, disk));
        return false;
    }
    out.reserve(static_cast<size_t>(size));
    while (out.size() < size && disk <= lastDisk_) {
        std::string p = PathOf(disk);
        platform::File f;
        if (!f.Open(p, platform::File::Mode::Read)) {
            missing_ = p;
            return false;
        }
        uint64_t fsize = f.Size();
        if (offset < fsize) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(size - out.size(), fsize - offset));
            size_t old = out.size();
            out.resize(old + want);
            if (f.ReadAt(offset, out.data() + old, want) != want) {
                missing_ = p;
                return false;
            }
        }
        offset = offset >= fsize ? offset - fsize : 0;
        ++disk;
    }
    return out.size() == size;
}

std::string FindFileIgnoringCase(const std::string& path) {
    if (platform::FileExists(path)) return path;
    std::string dir = ExtractFilePath(path);
    std::string name = LowerAscii(ExtractFileName(path));
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return {};
    std::string result;
    while (dirent* e = readdir(d)) {
        if (LowerAscii(e->d_name) == name) {
            result = dir + e->d_name;
            if (platform::FileExists(result)) break;
            result.clear();
        }
    }
    closedir(d);
    return result;
}

std::string NextRarPartName(const std::string& path) {
    std::string lower = LowerAscii(path);
    if (lower.size() < 10 || lower.compare(lower.size() - 4, 4, ".rar") != 0) return {};
    size_t end = lower.size() - 4;
    size_t k = end;
    while (k > 0 && lower[k - 1] >= '0' && lower[k - 1] <= '9')
        --k;
    if (k == end || k < 5 || lower.compare(k - 5, 5, ".part") != 0) return {};
    std::string digits = path.substr(k, end - k);
    if (digits.size() > 9) return {};
    unsigned long n = std::stoul(digits) + 1;
    std::string next = std::to_string(n);
    if (next.size() < digits.size()) next = std::string(digits.size() - next.size(), '0') + next;
    return path.substr(0, k) + next + path.substr(end);
}

std::string NextEncodedVolumeName(const std::string& path) {
    std::string ext = ExtractFileExt(path);
    if (ext.size() < 2) return {};
    std::string stem = path.substr(0, path.size() - ext.size());
    ext.erase(0, 1);
    size_t k = ext.size();
    while (k > 0 && ext[k - 1] >= '0' && ext[k - 1] <= '9')
        --k;
    std::string digits = ext.substr(k), letters = ext.substr(0, k);
    if (digits.size() > 6) return {};
    if (letters.empty()) {
        std::string next = std::to_string(std::stoul(digits) + 1);
        if (next.size() < digits.size()) next = std::string(digits.size() - next.size(), '0') + next;
        return stem + "." + next;
    }
    std::string low = LowerAscii(letters);
    unsigned long n;
    std::string base;
    if (digits.empty()) {
        if (low != "uue" && low != "xxe") return {};
        n = 1;
        base = letters.substr(0, 2);
    } else {
        if (low[0] != 'u' && low[0] != 'x') return {};
        n = std::stoul(digits) + 1;
        base = std::string(2, letters[0]);
    }
    std::string num = std::to_string(n);
    if (num.size() >= 3) return stem + "." + num;
    return stem + "." + base.substr(0, 3 - num.size()) + num;
}

}  // namespace varnok
