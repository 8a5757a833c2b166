// TUUDecode: decoding of 7-bit text that carries files: uuencoded and xxencoded ("begin MODE NAME" ... "end",
// with or without a "table" line), Base64 ("begin-base64" ... "====") and MIME attachments. A text may carry
// several files, and one file may be split over several volume files (name.uue, name.uu1 ... or name.001,
// name.002 ...).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/core/unbase.h"

namespace varnok {

enum TNextVolumeName { nvChangeFilename, nvChangeExt };

class TUUDecode : public TUnBase {
  public:
    TUUDecode();
    ~TUUDecode() override;

    // Lines searched for the first "begin" (the first 32 KiB of text are always searched).
    int MaxHeaderLines = 100;
    // How the names of further volumes are made from the first: the extension's last characters replaced by
    // the volume number (name.uue, name.uu1 ... name.u10 ... name.100), or the base name's.
    TNextVolumeName NextVolumeName = nvChangeExt;
    bool VolumeLongFilenames = false;
    // The number of the second volume file; values above 10 are taken as 10.
    int VolumeStartNum() const { return volumeStartNum_; }
    void SetVolumeStartNum(int v);

    // The name of the index-th volume after first (index 1 is the second file). Numbered extensions
    // (name.001) count on from their own number.
    std::string VolumeFileNameFor(const std::string& first, int index) const;

  protected:
    void ProcessArchive() override;

  private:
    class Lines;
    struct Part;
    class Decoding;
    friend class Decoding;
    void Extract(Part& part);
    // Opens the next volume of the text; required: ask for it (a missing one is an error), otherwise only an
    // existing file is taken.
    bool NextVolume(bool required);

    std::unique_ptr<Lines> lines_;
    int volumeStartNum_ = 1;
    int volumeIndex_ = 0;
};

}  // namespace varnok
