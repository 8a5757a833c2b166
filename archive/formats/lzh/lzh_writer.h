// The LHA writer (TLha): creates and updates LZH archives on the compression base.
//
// Entries get level-0 headers, which every LHA reader since the first understands, as long as the name fits
// the header's one-byte size (233 bytes); a longer name gets a level-2 header (16-bit size, the name in
// extended fields) instead of a size byte that would wrap and corrupt the archive. Files are stored (-lh0-) or
// coded with the static-Huffman LZ encoder (-lh5-, -lh6-); an entry that does not get smaller is written again
// as -lh0-, with nothing of the abandoned attempt left in the archive. Empty folders become -lhd- entries. An
// LHA archive is a plain sequence of entries, so an update copies the kept ones and appends the new; it ends
// with the zero byte LHA archivers write, which some readers need (libarchive reads a byte past the last
// entry's data and calls the archive truncated without it).
#pragma once

#include <string>

#include "archive/core/compbase.h"

namespace varnok {

class TLha : public TCompBase {
  public:
    TLha();

  protected:
    bool AcceptsMethod(TCompressMethod m) const override {
        return m == cmStore || m == cmFrozen5 || m == cmFrozen6;
    }
    void LoadEntries() override;
    bool CompressFile(platform::File& out, TCompBaseHeaderObj& e) override;
    void FinishArchive(platform::File& out) override;
    void CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) override;
};

}  // namespace varnok
