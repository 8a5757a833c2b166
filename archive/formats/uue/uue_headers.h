// Headers of the families that are listed but not extracted here (HA, MSGZ), and the "begin" line of encoded
// text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace varnok {

namespace ha {
struct Entry {
    uint64_t pos = 0;
    uint8_t version = 0, method = 0;  // method 0 Cpy, 1 Asc, 2 HSC, 14 directory, 15 special
    uint32_t packedSize = 0, unpackedSize = 0, crc = 0;
    int64_t unixTime = 0;
    std::string path, name;  // raw; the path uses 0xFF between folders
    uint64_t nextPos = 0;
    std::string FullName() const;
};
enum class ReadResult { Ok, End, Bad };
// The file count in the archive header ("HA", count).
bool ReadArchiveHeader(const platform::File& f, uint16_t& count);
ReadResult ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e);
}  // namespace ha

namespace msgz {
struct Entry {
    uint64_t pos = 0;
    uint16_t dirIndex = 0;
    uint32_t unpackedSize = 0, packedSize = 0, dataOffset = 0, dosTime = 0, attributes = 0;
    uint16_t recordLength = 0;
    std::string name;
};
// The folder names of the directory table, and where the file records start.
bool ReadDirectoryTable(const platform::File& f, uint64_t fileSize, std::vector<std::string>& dirs,
                        uint64_t& start);
bool ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, Entry& e);
}  // namespace msgz

namespace encoded {
enum class Kind { None, Uue, Xxe, Base64 };
struct Begin {
    Kind kind = Kind::None;
    std::string name;  // as written (not yet made safe)
    uint32_t mode = 0644;
    uint64_t linePos = 0;  // offset of the "begin" line (or of the MIME part headers)
    uint64_t dataPos = 0;  // first encoded line
};
// Finds the first encoded file in the first `limit` bytes: a "begin MODE NAME" line (UUE, or XXE when a
// "table" line or XXE characters follow), "begin-base64 MODE NAME", or a MIME part with base64 transfer
// encoding.
bool FindBegin(const platform::File& f, uint64_t from, uint64_t limit, Begin& b);
// The number of bytes the encoded lines after the begin line stand for (up to "end", or the MIME part's end),
// counted from the line lengths without decoding.
// UUE and XXE text without an "end" line goes on in the next volume files (see NextEncodedVolumeName).
uint64_t DecodedSize(const platform::File& f, const Begin& b, uint64_t fileSize,
                     const std::string& path = {});
// The value of a character in the XXE table, or -1.
int XxeValue(char c);
// Parses one "begin MODE NAME" (kind Uue) or "begin-base64 MODE NAME" (kind Base64) line, given without its
// line end. The name is the rest of the line after the mode.
bool ParseBeginLine(const std::string& line, Begin& b);
// A parameter of a MIME header line (key as 'filename=' or 'name='), quoted or not; empty when absent.
std::string MimeParameter(const std::string& line, const char* key);
}  // namespace encoded

}  // namespace varnok
