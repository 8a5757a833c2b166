// TAR headers: v7, ustar, GNU (long names, base-256 numbers, sparse files) and POSIX pax extended headers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok::tar {

inline constexpr size_t kBlock = 512;

struct SparseChunk {
    uint64_t offset = 0;  // in the restored file
    uint64_t size = 0;
};

struct Entry {
    uint64_t headerPos = 0;  // the entry's own header (after any long-name and pax records)
    uint64_t firstPos = 0;   // where the records belonging to the entry start
    std::string name;        // raw bytes as stored ("/" separated)
    std::string linkName;
    bool nameIsUtf8 = false;  // the name (or the link's target) came from a pax record
    bool linkIsUtf8 = false;
    char type = '0';
    uint32_t mode = 0;
    uint32_t uid = 0, gid = 0;
    std::string uname, gname;
    uint64_t size = 0;      // bytes stored in the archive after the header
    uint64_t realSize = 0;  // size of the restored file (differs for sparse files)
    int64_t mtime = 0;
    bool mtimeValid = true;  // the time field could be read
    uint32_t checksum = 0;   // as stored
    bool checksumOk = false;
    bool sparse = false;
    std::vector<SparseChunk> sparseMap;
    uint64_t dataPos = 0;
    uint64_t nextPos = 0;  // the next header: data rounded up to 512
    // Why the entry could not be read (with ReadResult::Bad), naming it, when its header got that far.
    std::string problem;
    // Folders: type 5, and (old archives) a file type whose name ends in "/".
    bool isDirectory() const {
        return type == '5' || ((type == '0' || type == '\0') && !name.empty() && name.back() == '/');
    }
    bool isFile() const { return type == '0' || type == '\0' || type == '7' || type == 'S'; }
};

// Settings that pax global headers carry over to the following entries.
struct PaxGlobals {
    std::map<std::string, std::string> values;
};

enum class ReadResult { Ok, End, Bad };

// Where records are read from: positioned reads. A stream read front to back can serve them too, because the
// reader only ever asks for positions at or after the end of its previous read.
class RecordReader {
  public:
    virtual ~RecordReader() = default;
    // Reads up to n bytes at pos; the count read (short at the end of the data).
    virtual size_t ReadAt(uint64_t pos, void* buf, size_t n) = 0;
};

class FileRecordReader final : public RecordReader {
  public:
    explicit FileRecordReader(const platform::File& f) : f_(f) {}
    size_t ReadAt(uint64_t pos, void* buf, size_t n) override { return f_.ReadAt(pos, buf, n); }

  private:
    const platform::File& f_;
};

// Reads the next entry at pos, taking any long-name, long-link and pax records in front of it. End at a zero
// block or the end of the file.
// Sparse files of every GNU layout come with their map (old GNU headers, pax 0.0, 0.1 and 1.0); for pax 1.0
// the map stored in front of the data is read too, and dataPos and size then describe the data behind it.
ReadResult ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, PaxGlobals& globals, Entry& e);
// The same on any record reader; fileSize may be UINT64_MAX when the end is not known in advance.
ReadResult ReadEntry(RecordReader& r, uint64_t pos, uint64_t fileSize, PaxGlobals& globals, Entry& e);
// Whether a 512-byte block is a valid header (checksum summed unsigned or, as some old programs did, signed).
bool HeaderChecksumOk(const uint8_t* h, uint32_t* stored = nullptr);
// A numeric field: octal text, or GNU base-256 when its first byte has the high bit set. False when
// unreadable.
bool ParseNumber(const uint8_t* p, size_t n, int64_t& out);

}  // namespace varnok::tar
