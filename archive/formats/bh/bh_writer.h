// The BH writer (TBlakHole): creates and updates BlakHole archives on the compression base.
//
// A BH archive is a plain sequence of entries (37-byte header, name, optional 12-byte encryption header, data)
// with 32-bit sizes and no directory, so an update copies the kept entries and appends the new ones. Files are
// stored, deflated or "fused" (the static-Huffman LZ coder of -lh5-, with BH's empty initial history); an entry
// that does not get smaller is stored instead. A file of 4 GiB or more cannot be described by the header and is
// refused with an error naming it; so is a name the header's one-byte length cannot hold.
#pragma once

#include <string>
#include <vector>

#include "archive/core/compbase.h"

namespace varnok {

class TBlakHole : public TCompBase {
  public:
    TBlakHole();

  protected:
    bool AcceptsMethod(TCompressMethod m) const override {
        return m == cmStore || m == cmDeflate || m == cmFuse;
    }
    void LoadEntries() override;
    bool CompressFile(platform::File& out, TCompBaseHeaderObj& e) override;
    void FinishArchive(platform::File&) override {}
    void CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) override;
};

}  // namespace varnok
