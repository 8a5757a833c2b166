// The RAR engine behind the library's entry points: one Session per open archive.
//
// The headers come from the family's own header reader (rar_headers), volume after volume: it knows every
// field the callers rely on (CRC, host system, attributes, the encryption and split flags) and tells encrypted
// or unsupported entries apart before any data is touched. The data are decoded by the family's own decoders,
// entry by entry from their packed bytes, so skipping an entry costs nothing.
//
// Volumes: the first one is given; every further one is proposed by name (name.part2.rar after
// name.part1.rar, name.r00 after name.rar) to the volume callback, and only the name it confirms is opened.
// The header walk and the data share the confirmed list, so each volume is asked for once. Whether a set goes
// on after a volume is read from that volume's own headers (its end block, or a last file that continues),
// never guessed from the files lying around.
//
// The data of RAR 1.5 to 4 entries are decoded by rar_methods.h, those of RAR 5 by rar5_decoder.h. Entries are
// read in order from their packed bytes, which OpenPackedData follows across volumes (a split entry goes on in
// the first file header of the next volume, confirmed through the volume callback like any other volume). In a solid
// archive an entry passed over with RAR_SKIP is remembered, not decoded; when a later entry of the same solid
// stream is tested or extracted, the ones passed over are decoded first without being delivered, so the
// decoder's state is right whichever entries are wanted.
//
// The hook for decryption: SetPackedWrapper installs a function that is given each entry's packed ByteSource
// (the bytes across all its volumes, exactly as stored) together with the entry's header, and returns the
// ByteSource the decoder reads instead (for instance a decrypting one over it). Without a wrapper the packed
// bytes go to the decoder as they are.
//
// Extraction writes a temporary file beside the output, created at the first decoded block, and renames it
// into place once the data checked out: a failure leaves no file and does not touch an existing one, and a
// link in the output's place is replaced, never written through.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/core/stream.h"
#include "archive/formats/rar/rar5_decoder.h"
#include "archive/formats/rar/rar_headers.h"
#include "archive/formats/rar/rar_methods.h"
#include "engines/unrar/unrar.h"
#include "platform/file.h"

namespace varnok::unrar {

class Session {
  public:
    // Opens the first volume; nullptr with data->OpenResult set on failure.
    static Session* Open(RAROpenArchiveData* data);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int ReadHeader(RARHeaderData* h);
    int Process(int operation, const char* destPath, const char* destName);
    void SetChangeVolProc(RarChangeVolProc p) { volProc_ = p; }
    void SetDataProc(RarDataProc p) { dataProc_ = p; }
    void SetPassword(const char* p) { password_ = p ? p : ""; }
    const std::string& ErrorText() const { return error_; }

    // The packed bytes of the entry whose header b was read in volume vol, followed across the volumes it
    // continues in. *lastCrc (when given) is set to the CRC of the last part's header once that part is reached.
    std::unique_ptr<ByteSource> OpenPackedData(size_t vol, const rar::Block& b, uint32_t* lastCrc = nullptr);
    // Wraps every entry's packed bytes before they reach a decoder (see above); an empty function removes it.
    using PackedWrapper = std::function<std::unique_ptr<ByteSource>(std::unique_ptr<ByteSource>, const rar::Block&)>;
    void SetPackedWrapper(PackedWrapper w) { packedWrapper_ = std::move(w); }

  private:
    Session() = default;
    int Fail(int code, std::string why);

    // Volumes.
    bool HaveVolume(size_t k);        // volumes_[k] is confirmed (asks the callback for the next one)
    bool ContinuesAfter(size_t k);    // the set goes on after volume k (read from its headers)
    bool OpenHeaderVolume(size_t k);  // the header walk moves to volume k
    std::vector<std::string> volumes_;
    std::vector<int> continues_;  // per volume: -1 not known yet, 0 last, 1 more follow
    bool volumeMissing_ = false;
    RarChangeVolProc volProc_ = nullptr;
    RarDataProc dataProc_ = nullptr;
    std::string password_;
    std::string error_;
    int fatal_ = 0;  // a failure that ends the header walk

    // The header walk.
    platform::File hf_;
    size_t hvol_ = 0;
    uint64_t hpos_ = 0, hsize_ = 0, start_ = 0;
    rar::Format fmt_ = rar::Format::None;
    bool multi_ = false;
    rar::Block cur_;
    bool haveCur_ = false;
    uint64_t ordinal_ = 0;  // file headers reported
    uint64_t blocks_ = 0;

    // Our decoders (RAR 1.5 to 4).
    class PackedSource;
    friend class PackedSource;
    struct Located {
        rar::Block block;
        size_t vol = 0;
    };
    int DecodeOwn(int operation, const std::string& dest);
    int DecodeSkipped();
    std::unique_ptr<rar::RarDecoderSet> decoders_;
    // RAR 5 entries: our decoder, and the entries of its solid stream passed over.
    int DecodeRar5(int operation, const std::string& dest);
    int DecodeRar5Entry(const Located& e, ByteSink& sink, uint32_t* lastCrc, std::string& why);
    std::unique_ptr<rar::Rar5Decoder> rar5_;
    std::vector<Located> skipped5_;
    // Decryption: the wrapper installed over every entry's packed bytes, the header walk's keys.
    std::unique_ptr<ByteSource> Decrypting(std::unique_ptr<ByteSource> src, const rar::Block& b);
    rar::HeaderCrypt hcrypt_;
    std::vector<Located> skipped_;  // entries of the current solid stream passed over and not decoded yet
    size_t curVol_ = 0;             // the volume whose header cur_ is
    PackedWrapper packedWrapper_;

};

// The name proposed for the volume after `current`: name.partN.rar counts up (its digits' width kept), name.rar
// and name.exe go on as name.r00, name.r00 ... name.r99 as name.r01 ... name.s00. Empty when there is none.
std::string NextVolumeName(const std::string& current);

}  // namespace varnok::unrar
