#include "archive/formats/lzh/adaptive_huffman.h"

#include <algorithm>

namespace varnok {

AdaptiveHuffman::AdaptiveHuffman(int symbols)
    : leaves_(symbols),
      nodes_(2 * symbols - 1),
      root_(2 * symbols - 2),
      freq_(static_cast<size_t>(nodes_) + 1),
      child_(static_cast<size_t>(nodes_)),
      parent_(static_cast<size_t>(nodes_ + leaves_)) {
    for (int i = 0; i < leaves_; ++i) {
        freq_[i] = 1;
        child_[i] = i + nodes_;
        parent_[i + nodes_] = i;
    }
    // Inner nodes pair the nodes in order.
    for (int i = 0, j = leaves_; j <= root_; i += 2, ++j) {
        freq_[j] = freq_[i] + freq_[i + 1];
        child_[j] = i;
        parent_[i] = parent_[i + 1] = j;
    }
    freq_[nodes_] = 0xFFFF;  // sentinel: above every real frequency
    parent_[root_] = 0;
}

void AdaptiveHuffman::Rebuild() {
    // Gather the leaves in the first slots with halved (rounded up) frequencies.
    int j = 0;
    for (int i = 0; i < nodes_; ++i) {
        if (child_[i] >= nodes_) {
            freq_[j] = (freq_[i] + 1) / 2;
            child_[j] = child_[i];
            ++j;
        }
    }
    // Pair them again, inserting each new node where its frequency keeps the order.
    for (int i = 0, k = leaves_; k < nodes_; i += 2, ++k) {
        uint32_t f = freq_[i] + freq_[i + 1];
        int at = k - 1;
        while (f < freq_[at])
            --at;
        ++at;
        std::move_backward(freq_.begin() + at, freq_.begin() + k, freq_.begin() + k + 1);
        std::move_backward(child_.begin() + at, child_.begin() + k, child_.begin() + k + 1);
        freq_[at] = f;
        child_[at] = i;
    }
    for (int i = 0; i < nodes_; ++i) {
        int c = child_[i];
        if (c >= nodes_) {
            parent_[c] = i;
        } else {
            parent_[c] = parent_[c + 1] = i;
        }
    }
}

void AdaptiveHuffman::Update(int symbol) {
    if (freq_[root_] == kMaxFreq) Rebuild();
    int c = parent_[symbol + nodes_];
    do {
        uint32_t k = ++freq_[c];
        int l = c + 1;
        if (k > freq_[l]) {
            // Move c past the run of nodes with a smaller frequency: exchange it with the last one.
            while (k > freq_[++l]) {
            }
            --l;
            freq_[c] = freq_[l];
            freq_[l] = k;

            int i = child_[c];
            parent_[i] = l;
            if (i < nodes_) parent_[i + 1] = l;

            int jj = child_[l];
            child_[l] = i;
            parent_[jj] = c;
            if (jj < nodes_) parent_[jj + 1] = c;
            child_[c] = jj;
            c = l;
        }
        c = parent_[c];
    } while (c != 0);
}

}  // namespace varnok
