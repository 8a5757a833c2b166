// TUnZoo: extraction of ZOO archives (stored, LZW and -lh5- entries; folders and Unix modes when stored).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/formats/zoo/zoo_headers.h"
#include "archive/core/unbase.h"

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
    struct Selected {
        zoo::Entry entry;
        std::string name;
    };
    void Collect(std::vector<Selected>& out);
    void ExtractOne(const Selected& s);

    std::unique_ptr<ZooLzwDecoder> lzw_;
    std::unique_ptr<StaticHuffmanDecoder> lh5_;
};

}  // namespace varnok
