// The CAB writer (TMakeCab): creates Microsoft cabinets through the cabinet writer library
// ("libvarnok-fci.so", the FCI interface) on the compression base.
//
// The library does the format; this component feeds it. Every file the library touches goes through the
// component's callbacks: the first cabinet is written straight into the base's private temporary archive
// (which the base renames into place only after a complete run), later cabinets of a set into private
// temporary files beside the names OnGetNextCabinet gives (renamed into place after the first), and the
// library's own scratch files into a private folder in TempDir. A failed or cancelled run therefore leaves
// an existing cabinet byte for byte as it was and no temporary file behind.
//
// A cabinet cannot be changed in place, and the library only writes new cabinets, so adding to an existing
// cabinet extracts its files (through the cabinet reader, TUnCab) into the private folder and writes them
// into the new cabinet before the new files, with their names, dates and attributes; a new file replaces an
// old one of the same name. A cabinet that belongs to a set is not updated (its other cabinets would no
// longer match): that is refused with a message.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/core/compbase.h"
#include "engines/fci/fci.h"

namespace varnok {

// What a Quantum-method run passes as the compression type in the low bits of the TCOMP value.
enum TCompressionType { ctStore, ctMsZip, ctLzx, ctQuantum };

class TMakeCab;
// Asked for the next cabinet of a set: NewCabFileName (a full path) names it; AbortCreation is preset to true
// and must be set to false to go on.
using TGetNextCabinetEvent = std::function<void(TMakeCab& sender, CCAB& cabParameters, std::string& newCabFileName,
                                                unsigned long previousCabEstimatedSize, bool& abortCreation)>;

class TMakeCab : public TCompBase {
  public:
    TMakeCab();
    ~TMakeCab() override;

    // Whether the cabinet writer library is there (looked for once per process).
    static bool LibraryLoaded();

    bool FailOnIncompressible = true;
    TCompressionType QuantumType = ctMsZip;
    // Cabinet size limit and folder threshold in bytes.
    unsigned long MaxCabinetSize = 2147483647;
    unsigned long FolderThreshold = 900000;
    TGetNextCabinetEvent OnGetNextCabinet;

    int LzxLevel() const { return lzxLevel_; }
    void SetLzxLevel(int v);  // clamped to 15..21
    int QuantumLevel() const { return quantumLevel_; }
    void SetQuantumLevel(int v);  // clamped to 1..7
    int QuantumMemory() const { return quantumMemory_; }
    void SetQuantumMemory(int v);  // clamped to 10..21

    // The TCOMP value and the method text of the current CompressMethod.
    TCOMP TcompValue() const;
    std::string MethodText() const;

    // The library's callbacks reach the component through these.
    struct Callbacks;

  protected:
    bool AcceptsMethod(TCompressMethod m) const override {
        return m == cmStore || m == cmMsZip || m == cmLzx || m == cmQuantum;
    }
    void UpdateArchive() override;
    void LoadEntries() override;
    bool CompressFile(platform::File& out, TCompBaseHeaderObj& e) override;
    void CopyKept(platform::File& out, TCompBaseHeaderObj& e) override;
    void CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) override;
    void FinishArchive(platform::File& out) override;

  private:
    friend struct Callbacks;
    struct Handle {
        std::unique_ptr<platform::File> own;
        platform::File* file = nullptr;
    };
    // Adds one file (from e.diskPath) under e.name; false when its source could not be opened (reported).
    bool AddToCabinet(platform::File& out, TCompBaseHeaderObj& e);
    [[noreturn]] void CabinetFailed(const std::string& name);
    void Cleanup();

    int lzxLevel_ = 21, quantumLevel_ = 7, quantumMemory_ = 21;
    HFCI fci_ = nullptr;
    ERF erf_{};
    CCAB ccab_{};
    std::string scratch_;        // the private folder (library scratch files, old files)
    std::string firstCabinet_;   // the name the library writes the first cabinet under
    platform::File* out_ = nullptr;
    std::map<intptr_t, Handle> handles_;
    intptr_t nextHandle_ = 3;
    int tempCount_ = 0;
    const TCompBaseHeaderObj* current_ = nullptr;
    uint64_t currentLeft_ = 0;
    intptr_t currentHandle_ = -1;
    // Later cabinets of a set: the private temporary file and the name it takes.
    std::vector<std::pair<std::string, std::string>> laterCabinets_;
};

}  // namespace varnok
