// TUnBh: extraction of BH (BlakHole) archives, plain and self-extracting: stored, fused (static Huffman) and
// deflated entries, encrypted with the traditional ZIP cipher.
#pragma once

#include <memory>
#include <string>

#include "archive/formats/bh/bh_headers.h"
#include "archive/core/unbase.h"

namespace varnok {

class ZipMethodDecoder;

class TUnBh : public TUnBase {
  public:
    TUnBh();
    ~TUnBh() override;

  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override;

  private:
    struct Item {
        bh::Header header;
        std::string name;  // system text, "/" between folders, no trailing "/"
    };
    void ExtractOne(const Item& item);

    std::unique_ptr<ZipMethodDecoder> inflater_;
};

}  // namespace varnok
