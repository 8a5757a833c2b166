// Shared by the extractor fuzz targets: the input is tested as an archive of the family (nothing is written),
// with a password offered for encrypted entries and the run's output capped.
#pragma once

#include <initializer_list>

#include "archive/core/unbase.h"
#include "fuzz/core/fuzz_support.h"

namespace varnok::fuzz {

// An extractor whose archive type can be set, so that inputs identification would turn away reach the walk
// too.
template <class Extractor>
class Forced final : public Extractor {
  public:
    void Force(TArcType t) {
        this->arcType_ = t;
        this->StartOffset = 0;
    }
};

template <class Extractor>
void TestAsArchive(const uint8_t* data, size_t size, std::initializer_list<TArcType> family) {
    InputFile in(data, size);
    if (in.Path().empty()) return;
    Forced<Extractor> x;
    x.SetArchiveFile(in.Path());
    bool ours = false;
    for (TArcType t : family)
        ours |= x.ArcType() == t;
    if (!ours) x.Force(*family.begin());
    x.FileSpec = {"*.*"};
    x.Passwords = {"pw"};
    x.PasswordAttempts = 2;
    int asked = 0;
    x.OnGetPassword = [&](TZipCommon&, const std::string&, std::string& pw, bool& again) {
        if (asked++ == 0)
            pw = "secret";
        else
            again = false;
    };
    x.OnNextVolume = [](TZipCommon&, std::string&, const std::string&, bool, bool& cancel) { cancel = true; };
    // A few bytes of compressed data can stand for gigabytes: stop after about 64 MiB of output.
    int polls = 0;
    x.ProcessMessages = [&] {
        if (++polls > 256) x.SetCancel(true);
    };
    try {
        x.TestArchive();
    } catch (const ArchiveError&) {
    }
}

}  // namespace varnok::fuzz
