// TUnTar: extraction of TAR archives (v7, ustar, GNU and pax; links, sparse files, Unix modes).
#pragma once

#include "archive/core/unbase.h"

namespace varnok {

class TUnTar : public TUnBase {
  protected:
    void ProcessArchive() override;
};

}  // namespace varnok
