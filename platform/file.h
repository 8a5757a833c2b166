// Files opened by handle: 64-bit positions, positioned reads and writes, errors as return values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnok::platform {

class File {
  public:
    enum class Mode { Read, ReadWrite, Create /* truncate or create, read and write */, Append };

    File() = default;
    ~File() { Close(); }
    File(File&& o) noexcept : fd_(o.fd_), path_(std::move(o.path_)) { o.fd_ = -1; }
    File& operator=(File&& o) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens a file; false (with errno set) on failure.
    bool Open(const std::string& path, Mode mode, unsigned perms = 0644);
    // Adopts an already open descriptor (from mkstemp and the like).
    void Adopt(int fd, std::string path);
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

    // Reads up to n bytes at pos; returns the count (short at end of file, 0 on error).
    size_t ReadAt(uint64_t pos, void* buf, size_t n) const;
    // Sequential reads and writes at the current position.
    size_t Read(void* buf, size_t n);
    // Writes all n bytes; false on failure.
    bool Write(const void* buf, size_t n);
    bool WriteAt(uint64_t pos, const void* buf, size_t n);
    bool Seek(uint64_t pos);
    uint64_t Tell() const;
    uint64_t Size() const;
    bool Truncate(uint64_t size);
    bool Sync();

  private:
    int fd_ = -1;
    std::string path_;
};

// The text of errno for messages.
std::string LastErrorText();

}  // namespace varnok::platform
