// A small ACE writer for the tests, the fuzz seeds and the benchmark: no ACE compressor runs on Linux, so the
// streams the decoder must read are made here. It writes the format as the decoder's documentation and the
// peers describe it: packed streams (LZ77 with a greedy matcher, EXE translation, DELTA planes, SOUND and PIC
// models, mode changes between blocks), encryption, comments, archive headers, solid chains and volume sets.
// The models are written again here from the format's description rather than shared with the decoder, so a
// misreading on one side shows up as a mismatch; streams with the modes no fixture uses were also checked
// against acefile once while this was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::test::ace {

// Bits most significant first into 32-bit little-endian words.
class BitWriter {
  public:
    void Put(uint32_t value, int bits);
    void PutBit(bool b) { Put(b ? 1 : 0, 1); }
    // Pads the last word with zero bits and returns the bytes.
    std::vector<uint8_t> Finish();
    uint64_t Bits() const { return bits_; }

  private:
    std::vector<uint8_t> out_;
    uint32_t word_ = 0;
    int used_ = 0;
    uint64_t bits_ = 0;
};

// A code as the format sends it, with the codes the decoder will give each symbol.
struct Code {
    int maxWidth = 11;
    std::vector<uint8_t> widths;  // per symbol, 0 for unused
    std::vector<uint32_t> codes;

    // Huffman widths (at most maxWidth) for the symbols with a nonzero count; one used symbol gets width 1.
    static Code FromCounts(const std::vector<uint32_t>& counts, int maxWidth);
    void Write(BitWriter& w) const;  // the width table
    void Put(BitWriter& w, uint32_t symbol) const { w.Put(codes[symbol], widths[symbol]); }
};

struct ModeChange {
    int mode = 0;  // 0 LZ77, 1 DELTA, 2 EXE, 3..6 SOUND, 7 PIC
    int deltaDist = 0;
    uint32_t deltaLen = 0;
    int exeMode = 0;
    // PIC: the image shape sent after the record when the mode changes to PIC.
    uint32_t picWidth = 0, picPlanes = 0;
};

// One segment of a packed stream: `data` in one mode, then (unless it is the last) a change to the next mode.
struct Segment {
    ModeChange mode;
    std::vector<uint8_t> data;
    // PIC: plane kinds for planes 1.. (0 plain, 1 difference, 2 scaled difference), repeated per row.
    std::vector<int> picKinds;
};

struct LzOptions {
    int dictBits = 20;
    bool matches = true;        // false: literals only
    uint32_t blockSymbols = 32767;
    bool exe = false;  // blocked files of a solid chain: in EXE mode (32-bit calls) rather than LZ77
};

// A hand-made LZ77 symbol (for damaged streams): the main symbol, extra distance bits, a length code (-1 none).
struct RawSymbol {
    uint16_t main = 0;
    int extraBits = 0;
    uint32_t extra = 0;
    int len = -1;
};
// Writes hand-made symbols as one block (codes made from their counts); a final symbol 283 is followed by `mode`.
void PutSymbols(BitWriter& w, const std::vector<RawSymbol>& symbols, const ModeChange* mode = nullptr);

// The packed stream of an ACE 1.0 LZ77 file.
std::vector<uint8_t> PackLz77(const std::vector<uint8_t>& data, const LzOptions& o = {});
// The packed stream of an ACE 2.0 blocked file made of segments; the first must be LZ77 mode (0), as every file
// starts in it. The unpacked file is the segments' data in order.
std::vector<uint8_t> PackBlocked(const std::vector<Segment>& segments, const LzOptions& o = {});
// The packed files of a solid chain: each later file may copy from the ones before it. types[i] is the file's
// compression type (0 stored: its bytes enter the history as they are).
std::vector<std::vector<uint8_t>> PackSolidChain(const std::vector<std::vector<uint8_t>>& files,
                                                 const std::vector<uint8_t>& types, const LzOptions& o = {});

// A packed comment (literals only).
std::vector<uint8_t> PackComment(const std::string& text);

// Encrypts a packed stream as ACE does (padded with zeros to whole 8-byte blocks).
std::vector<uint8_t> Encrypt(std::vector<uint8_t> packed, const std::string& password);

// ACE's stored CRC of data (CRC-32 without the final complement).
uint32_t AceCrc(const std::vector<uint8_t>& data);

struct FileEntry {
    std::string name;
    std::vector<uint8_t> packed;
    uint32_t unpackedSize = 0;
    uint32_t crc = 0;
    uint8_t type = 1;          // 0 stored, 1 LZ77, 2 blocked
    uint16_t parameters = 10;  // dictionary bits - 10
    uint16_t flags = 0;        // 0x4000 encrypted, 0x8000 solid
    uint32_t attributes = 0x20;
    uint32_t dosTime = 0x5B8B75D8;
    uint8_t quality = 3;
    std::string comment;  // packed file comment bytes (raw)
    bool wide = false;    // the 64-bit header (type 3) of later writers
};

// A finished file entry from its data and how it was packed.
FileEntry MakeEntry(const std::string& name, const std::vector<uint8_t>& data, uint8_t type,
                    const std::vector<uint8_t>& packed, uint16_t parameters = 10);

struct ArchiveOptions {
    uint16_t mainFlags = 0;  // 0x8000 solid, 0x0800 multi-volume (set for volume sets automatically)
    std::string advert;      // with the advertisement flag when not empty
    // The advertisement's length byte also without an advertisement (as 1.x writers store it; unace 1.2 needs it).
    bool advertLengthAlways = true;
    std::vector<uint8_t> comment;  // packed archive comment
    uint8_t versionExtract = 20, versionMadeBy = 20, hostOs = 2;
    // Volume sets: the size a volume's file data may reach before the file continues in the next volume
    // (0: one volume). Every part but the last gets `partCrc` as its CRC when nonzero (writers may store a
    // CRC of the part there); the last part carries the file's.
    uint64_t volumeData = 0;
    uint32_t partCrc = 0;
};

// The archive's volumes (one unless volumeData splits it).
std::vector<std::vector<uint8_t>> BuildArchive(const std::vector<FileEntry>& files, const ArchiveOptions& o = {});

// Header bytes with their CRC (exposed for tests that damage fields and reseal the header).
std::vector<uint8_t> SealHeader(std::vector<uint8_t> body);

}  // namespace varnok::test::ace
