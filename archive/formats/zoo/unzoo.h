// TUnZoo: extraction of ZOO archives (stored, LZW and -lh5- entries; folders and Unix modes when stored).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/core/unbase.h"
#include "archive/formats/zoo/zoo_walk.h"

namespace varnok {

class ZooLzwDecoder;
class StaticHuffmanDecoder;

class TUnZoo : public TUnBase {
  public:
    TUnZoo();
    ~TUnZoo() override;

  protected:
    void ProcessArchive() override;

  private:
    void ExtractOne(const zoo::Item& s);

    std::unique_ptr<ZooLzwDecoder> lzw_;
    std::unique_ptr<StaticHuffmanDecoder> lh5_;
};

}  // namespace varnok
