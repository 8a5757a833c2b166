// TUnAce: extraction of ACE archives (plain and self-extracting, single or multi-volume) through the ACE
// engine library "libvarnok-unace.so", loaded at run time from the program's own folders.
//
// The same shape as the RAR extractor: the family's walk reads every header first (names, sizes, CRC,
// encryption, the count of selected entries); then the library is opened with the data and volume callbacks
// in its open record and its headers are read in step with the pre-scan's entries, each selected one going
// through the shared engine extraction (password probes, the base's output, the verdict, one report per
// failure).
#pragma once

#include <exception>
#include <string>

#include "archive/core/engine_extract.h"

namespace varnok {

class TUnAce : public TEngineUnBase {
  public:
    TUnAce();
    ~TUnAce() override;

    // Whether the ACE engine library is there (loaded on the first call); why not, when it is not.
    static bool LibraryAvailable(std::string* why = nullptr);

  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override { return t == atAce || t == atAceExe; }

  private:
    static int DataThunk(void* caller, const uint8_t* data, uint32_t size);
    static int VolumeThunk(void* caller, char* name, int mode);
    void* OpenLibrary(int& result);
    bool Rewind();
    void RethrowVolumeFailure();

    EngineExtract engine_;
    void* handle_ = nullptr;
    uint64_t headersRead_ = 0;
    std::string name_;
    std::exception_ptr volumeFailure_;
};

}  // namespace varnok
