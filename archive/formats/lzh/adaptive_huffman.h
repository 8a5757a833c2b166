// The adaptive Huffman code of the LZHUF scheme (-lh1-): a tree over N leaves whose node
// frequencies are kept in ascending order; after each symbol the path from its leaf to the root is
// incremented and nodes are exchanged to restore the order. When the root frequency reaches 0x8000
// all leaf frequencies are halved and the tree is rebuilt.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/codecs/msb_bit_reader.h"

namespace varnok {

class AdaptiveHuffman {
  public:
    explicit AdaptiveHuffman(int symbols);

    // Reads one symbol (walking the tree a bit at a time) and updates the code.
    int Decode(MsbBitReader& br) {
        const int node = br.WalkTree(
            child_[root_], [&](int n) { return n < nodes_; },
            [&](int n, int bit) { return child_[n + bit]; });
        int symbol = node - nodes_;
        Update(symbol);
        return symbol;
    }

  private:
    void Update(int symbol);
    void Rebuild();

    static constexpr uint32_t kMaxFreq = 0x8000;
    int leaves_;
    int nodes_;  // 2 * leaves - 1
    int root_;   // nodes - 1
    // freq[0..nodes) with a sentinel at nodes; child[i] is the left child of an inner node (the
    // right one is child[i] + 1) or nodes + symbol for a leaf; parent[] covers nodes and leaves.
    std::vector<uint32_t> freq_;
    std::vector<int> child_;
    std::vector<int> parent_;
};

}  // namespace varnok
