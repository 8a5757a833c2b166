// What the extractors built on an outside engine library (RAR, ACE) share: the data callback's work, the
// password loop with its probes, the CRC verdict, the translation of the libraries' result codes, and the
// one failure report of an entry the library could not give.
//
// The library is asked only to decode (its test operation) and hands every decoded block to the data
// callback, which passes it to the extraction base's output: the base then names, creates and finishes the
// file exactly as for every other family (never outside the destination, no link followed, size and ratio
// limits, holes, dates and attributes), and the library itself never writes into the destination. A nonzero
// result of the library is a failure of the entry, said once with the library's reason, and what the base
// had written of it is removed.
//
// Passwords: an encrypted entry is first probed with each candidate (the current password, Passwords, then
// OnGetPassword), decoding to nowhere; the probe has consumed the entry in the library, so the extractor
// brings the library back to it (rewind) before the next probe and before the real decoding. A library
// result that no password mends (an unsupported cipher) ends the probing at once.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <set>
#include <vector>
#include <string>

#include "archive/core/format.h"
#include "archive/core/unbase.h"

namespace varnok {

// The component's error ids for the libraries' result codes (0 for codes without one).
int RarResultError(int code);
int AceResultError(int code);

class EngineExtract {
  public:
    struct Library {
        // Processes the entry whose header was read last: 0 skip, 1 test (the data reach Data()).
        std::function<int(int operation)> process;
        std::function<void(const std::string& password)> setPassword;
        // Brings the library back to the entry after a probe consumed it; false when it cannot.
        std::function<bool()> rewind;
        // The library's text for its last failure.
        std::function<std::string()> reason;
        std::function<int(int code)> translate;
        int passwordCode = 0;  // "no password, or a wrong one"
        int userCode = 0;      // the data callback stopped the library
        // The library takes an encrypted file of no bytes (whose check value is that of no data) without a
        // password: there is nothing to decrypt.
        bool emptyNeedsNoPassword = false;
    };

    explicit EngineExtract(TUnBase& owner) : o_(owner) {}

    // The data callback: 1 to go on, 0 to stop the library (cancelled, or the output refused the data).
    int Data(const uint8_t* data, size_t size);

    enum class Step { Next, EndRun };
    // One entry the library has just read, with its record from the family's walk. Unselected entries are
    // skipped in the library; selected ones extracted or tested through the base.
    Step Entry(const ArchiveEntry& e, CrcKind kind, const Library& lib);

  private:
    // One password attempt: the entry decoded to nowhere; the library's result, or passwordCode when the
    // data do not check out.
    int Probe(const ArchiveEntry& e, CrcKind kind, const Library& lib);
    void RethrowPending();

    TUnBase& o_;
    ByteSink* sink_ = nullptr;
    bool probing_ = false;
    uint32_t probeCrc_ = 0;
    uint64_t probeSize_ = 0, probeLimit_ = 0;
    std::exception_ptr pending_;
};

// The base of the extractors on an engine library: the pre-scan through the family's own walk.
class TEngineUnBase : public TUnBase {
  protected:
    // Reads every entry of the set through the walk (names decided from the first volume's), sets the run's
    // total, and gives the entries and how many are selected. The volumes confirmed on the way are kept in
    // ConfirmedVolumes (the library is not asked to confirm them again). False when the run ends here (a
    // next volume missing, said as a broken chain).
    bool PreScan(const FormatRecord& family, std::vector<ArchiveEntry>& all, size_t& selected);
    // A failure of the run as a whole (not of one entry), counted like a damaged header.
    void RunFailed(int code, const std::string& detail);
    // The library's volume callback: a volume met in the pre-scan goes on at once; another is asked for
    // through OnNextVolume (none: the set ends). The name may be changed in place (size bytes).
    bool ConfirmVolume(char* name, size_t size);
    std::set<std::string> ConfirmedVolumes;
    int VolumesMet = 1;
};

}  // namespace varnok
