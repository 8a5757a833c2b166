// TUnRar: extraction of RAR archives (plain and self-extracting, single or multi-volume) through the RAR
// engine library "libvarnok-unrar.so", loaded at run time from the program's own folders.
//
// The archive's own headers are read first through the family's walk (the pre-scan): it gives every entry's
// record (names decoded with the archive's code page, sizes, CRC, folders, encryption), the run's total and
// the count of selected entries, after which the library is not read any further. The library is then
// opened and its headers read in step with the pre-scan's entries; each selected entry goes through the
// shared engine extraction (password probes, the base's output, the CRC verdict, one report per failure).
#pragma once

#include <exception>
#include <string>

#include "archive/core/engine_extract.h"
#include "archive/core/unbase.h"

namespace varnok {

class TUnRar : public TEngineUnBase {
  public:
    TUnRar();
    ~TUnRar() override;

    // Whether the RAR engine library is there (loaded on the first call); why not, when it is not.
    static bool LibraryAvailable(std::string* why = nullptr);

  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override { return t == atRar || t == atRarExe; }

  private:
    static int DataThunk(const uint8_t* data, uint32_t size);
    static int VolumeThunk(char* name, int mode);
    int Volume(char* name, int mode);
    // Opens the archive in the library with the callbacks in place (and the current password).
    void* OpenLibrary(int& result);
    // Closes and opens the library again and reads its headers up to the entry read last.
    bool Rewind();
    void RethrowVolumeFailure();

    EngineExtract engine_;
    void* handle_ = nullptr;
    uint64_t headersRead_ = 0;
    std::exception_ptr volumeFailure_;
};

}  // namespace varnok
