// TUnBh: extraction of BH (BlakHole) archives, plain and self-extracting: stored, fused (static Huffman) and
// deflated entries, encrypted with the traditional ZIP cipher.
#pragma once

#include <memory>
#include <string>

#include "archive/core/unbase.h"
#include "archive/formats/bh/bh_walk.h"

namespace varnok {

class Inflater;

class TUnBh : public TUnBase {
  public:
    TUnBh();
    ~TUnBh() override;

  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override;

  private:
    void ExtractOne(const bh::Item& item);

    std::unique_ptr<Inflater> inflater_;
    ZipCipher cipher_;  // the traditional cipher's keys of the entry being decoded
};

}  // namespace varnok
