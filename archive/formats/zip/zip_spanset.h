// Spanned ZIP sets: laying a plain ZIP file out over volumes, and joining such a set back into one file.
//
// Both directions copy stored bytes and rewrite only the numbers that say where things are: the starting disk
// and local-header offset of each central record, and the disk numbers, counts and offsets of the end records
// (the ZIP64 ones included). Nothing is decompressed.
//
// Entries are paired with their central records by the local-header position each record names (disk and
// offset), never by name: two entries of the same name, or of names that differ only in case, stay two
// entries. What lies between one local header and the next (data, a data descriptor of any form, padding) is
// copied as one run of bytes, so the joined file of a set we wrote is the original byte for byte.
//
// Laying out keeps each local header with its name and extra field, each central record, and the end records
// with the archive comment whole on one volume; data runs on across volumes at any byte, as Info-ZIP's
// "zip -s" sets do. A unit that does not fit on an empty volume is an error instead of a reason to open
// another empty volume, and a set is limited to 65,535 volumes, so every loop ends. Where the volumes go, how
// large each may be, and what the user is asked is the caller's (a VolumeSink); where they come from when
// joining is the caller's too (a VolumeSource).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file.h"

namespace varnok::zip {

// Why a set could not be written or joined.
enum class SpanFault {
    NotZip,          // no end record, or already a multi-disk set
    ReadCentral,     // the central directory is short or its count does not match
    CentralSig,      // a central header signature is wrong
    ReadLocal,       // a local header is short or runs into the next entry
    LocalSig,        // a local header signature is wrong
    LocalNotFound,   // a central record names a place where no local header lies
    ReadData,        // a volume ends before the data it should hold
    ReadComment,     // the archive comment is short
    UnitTooLarge,    // a header does not fit on an empty volume
    TooManyVolumes,  // more than 65,535 volumes
    OffsetTooLarge,  // an offset no longer fits its 32-bit field and the record has no ZIP64 slot for it
    Write,           // the sink could not write
};

struct SpanError {
    SpanFault fault;
    std::string detail;
};

// Where the volumes of a set being written go. Each member may throw the caller's own exception to stop.
class VolumeSink {
  public:
    virtual ~VolumeSink() = default;
    // Opens volume `disk` (0-based) and returns how many bytes it may hold.
    virtual uint64_t OpenVolume(int disk) = 0;
    // Appends to the open volume; false on a write failure.
    virtual bool Write(const uint8_t* p, size_t n) = 0;
    // The open volume is complete; last: it holds the end record.
    virtual void CloseVolume(int disk, bool last) = 0;
    // Before each block: cancellation and keeping a window alive.
    virtual void Poll() {}
    // An entry (or the central directory, name empty) starts; its bytes follow.
    virtual void Entry(const std::string& name, uint64_t bytes) {
        (void)name;
        (void)bytes;
    }
};

// Where the volumes of a set being joined come from.
class VolumeSource {
  public:
    virtual ~VolumeSource() = default;
    // The volume holding the end record (asked for first).
    virtual platform::File& OpenLast() = 0;
    // Volume `disk` (0-based) of a set whose last volume is lastDisk.
    virtual platform::File& Open(int disk, int lastDisk) = 0;
    virtual void Poll() {}
    virtual void Entry(const std::string& name, uint64_t bytes) {
        (void)name;
        (void)bytes;
    }
};

// Lays the plain ZIP file `in` out over the sink's volumes. Throws SpanError (or whatever the sink throws).
// Returns the number of volumes written.
int WriteSpanSet(const platform::File& in, VolumeSink& sink);

// Joins the set into `out` (written from its current position, which should be 0). Throws SpanError (or
// whatever the source throws).
void JoinSpanSet(VolumeSource& src, platform::File& out);

// The text of a fault for messages.
const char* SpanFaultText(SpanFault f);

}  // namespace varnok::zip
