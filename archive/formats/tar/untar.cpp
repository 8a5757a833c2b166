#include "archive/formats/tar/untar.h"

#include <limits.h>
#include <stdlib.h>

#include "archive/formats/tar/tar_walker.h"

namespace varnok {

void TUnTar::ProcessArchive() {
    SetRunTotal(ArchiveEnd);
    FileTarInput input(ArcFile);
    TarWalker walker(*this, input, ArchiveEnd, ArchiveFile());
    // An entry named like the archive itself must not replace it while it is being read.
    char real[PATH_MAX];
    if (realpath(ArchiveFile().c_str(), real)) walker.ProtectedPaths.push_back(real);
    walker.SampleNames = [this](NameCoding& sample) {
        tar::Walk headers(*this);
        ArchiveEntry e;
        while (!Cancel() && headers.Next(e))
            SampleTexts(e, sample);
    };
    walker.Run(StartOffset);
}

}  // namespace varnok
