#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace varnok::platform {

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        Close();
        fd_ = o.fd_;
        path_ = std::move(o.path_);
        o.fd_ = -1;
    }
    return *this;
}

bool File::Open(const std::string& path, Mode mode, unsigned perms) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read:
            flags |= O_RDONLY;
            break;
        case Mode::ReadWrite:
            flags |= O_RDWR;
            break;
        case Mode::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        case Mode::Append:
            flags |= O_WRONLY | O_CREAT | O_APPEND;
            break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, perms);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    if (mode == Mode::Read) {
        // A folder opens for reading on Linux; it is not a file.
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return false;
        }
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void File::Adopt(int fd, std::string path) {
    Close();
    fd_ = fd;
    path_ = std::move(path);
}

bool File::Close() {
    if (fd_ < 0) return true;
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
}

size_t File::ReadAt(uint64_t pos, void* buf, size_t n) const {
    if (fd_ < 0) return 0;
    size_t done = 0;
    auto p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(pos + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    return done;
}

size_t File::Read(void* buf, size_t n) {
    if (fd_ < 0) return 0;
    size_t done = 0;
    auto p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = ::read(fd_, p + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    return done;
}

bool File::Write(const void* buf, size_t n) {
    if (fd_ < 0) return false;
    auto p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t r = ::write(fd_, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool File::WriteAt(uint64_t pos, const void* buf, size_t n) {
    if (fd_ < 0) return false;
    auto p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t r = ::pwrite(fd_, p, n, static_cast<off_t>(pos));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        pos += static_cast<uint64_t>(r);
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool File::Seek(uint64_t pos) {
    return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) >= 0;
}

uint64_t File::Tell() const {
    if (fd_ < 0) return 0;
    off_t r = ::lseek(fd_, 0, SEEK_CUR);
    return r < 0 ? 0 : static_cast<uint64_t>(r);
}

uint64_t File::Size() const {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool File::Truncate(uint64_t size) {
    return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool File::Sync() {
    return fd_ >= 0 && ::fsync(fd_) == 0;
}

std::string LastErrorText() {
    return strerror(errno);
}

}  // namespace varnok::platform
