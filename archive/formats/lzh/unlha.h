// TUnLha: extraction of LZH/LHA archives (header levels 0 to 3, self-extractors), with every method the LZH
// decoders know, folders, Unix modes and times, and symbolic links (created as links, never followed).
#pragma once

#include <string>
#include <vector>

#include "archive/formats/lzh/lzh_headers.h"
#include "archive/core/unbase.h"

namespace varnok {

class TUnLha : public TUnBase {
  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override;

  private:
    struct Item {
        lzh::Header header;
        std::string name;  // system text, "/" between folders, no trailing "/"
    };
    // The entry name as the lister shows it.
    std::string EntryNameOf(const lzh::Header& h) const;
    void ExtractOne(const Item& item);
};

}  // namespace varnok
