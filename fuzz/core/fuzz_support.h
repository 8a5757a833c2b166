// Shared by the fuzz targets: the input written to a private file, since the components read files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"
#include "platform/tempfile.h"

namespace varnok::fuzz {

class InputFile {
  public:
    InputFile(const uint8_t* data, size_t size, const std::string& suffix = ".bin") {
        static std::string dir = platform::CreateTempDir("", "vnkfuzz");
        platform::File f;
        path_ = platform::CreateTempFile(dir, "in", suffix, &f);
        if (!path_.empty()) f.Write(data, size);
    }
    ~InputFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace varnok::fuzz
