// TUnLha: extraction of LZH/LHA archives (header levels 0 to 3, self-extractors), with every method the LZH
// decoders know, folders, Unix modes and times, and symbolic links (created as links, never followed).
#pragma once

#include <string>
#include <vector>

#include "archive/core/unbase.h"
#include "archive/formats/lzh/lzh_walk.h"

namespace varnok {

class TUnLha : public TUnBase {
  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override;

  private:
    void ExtractOne(const lzh::Item& item);
};

}  // namespace varnok
