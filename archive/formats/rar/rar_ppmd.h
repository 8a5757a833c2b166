// PPMd variant H as RAR 2.9 to 4 uses it: Shkarin's context model with his sub-allocator, decoded through the
// carry-less range coder RAR pairs it with, reading bytes from the same bit stream as the LZ blocks.
//
// The model has to match the compressor's bit for bit, including when its memory runs out (it then starts
// over), so the allocator follows the original's rules: 12-byte units, a text area growing up from the bottom,
// contexts taken from the top, freed state blocks kept in 38 size classes and glued together when a class runs
// dry. Everything lives in one block of the size the stream asks for (1 to 256 MiB) and is addressed by 32-bit
// offsets into it; the model keeps itself consistent whatever the input, so no offset comes from the data.
//
// RAR's rules around it: a block header may restart the model (new order and memory) or keep it and only
// restart the range coder; order 1 is refused (as RAR does); the model survives from one entry of a solid
// archive to the next.
#pragma once

#include <cstdint>
#include <memory>

namespace varnok::rar {

class RarBits;

class RarPpmd {
  public:
    RarPpmd();
    ~RarPpmd();
    RarPpmd(const RarPpmd&) = delete;
    RarPpmd& operator=(const RarPpmd&) = delete;

    // Allocates (or keeps) a model of `bytes` and starts it over with maxOrder (2..255). False without memory.
    bool Restart(uint32_t bytes, unsigned maxOrder);
    bool Ready() const { return base_ != nullptr; }
    void Free();

    // Starts the range coder on the next four bytes of the stream.
    void StartDecoder(RarBits& br);
    // The next symbol (0..255); -1 for the end marker (an escape out of the root context), -2 for damaged data.
    int DecodeSymbol(RarBits& br);

  private:
    struct State;
    struct Context;
    struct See {
        uint16_t summ;
        uint8_t shift;
        uint8_t count;
    };

    // Offsets and pointers.
    uint8_t* Ptr(uint32_t ref) const { return base_ + ref; }
    uint32_t Ref(const void* p) const { return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - base_); }
    Context* Ctx(uint32_t ref) const { return reinterpret_cast<Context*>(base_ + ref); }
    State* Stats(const Context* c) const;
    static State* OneState(Context* c);

    // The allocator.
    void InsertNode(void* node, unsigned index);
    void* RemoveNode(unsigned index);
    void SplitBlock(void* ptr, unsigned oldIndex, unsigned newIndex);
    void GlueFreeBlocks();
    void* AllocUnitsRare(unsigned index);
    void* AllocUnits(unsigned index);
    Context* AllocContext();

    // The model.
    void RestartModel();
    Context* CreateSuccessors();
    void UpdateModel();
    void Rescale();
    See* MakeEscFreq(unsigned numMasked, uint32_t& escFreq);
    void NextContext();
    void Update1();
    void Update1First();
    void Update2();

    // The range coder.
    void Decode(uint32_t start, uint32_t size);
    void Normalize(RarBits& br);

    uint8_t* base_ = nullptr;
    std::unique_ptr<uint8_t[]> block_;
    uint32_t size_ = 0;
    uint32_t alignOffset_ = 0;
    uint8_t *text_ = nullptr, *unitsStart_ = nullptr, *loUnit_ = nullptr, *hiUnit_ = nullptr;
    uint32_t glueCount_ = 0;
    uint32_t freeList_[38] = {};

    Context *minContext_ = nullptr, *maxContext_ = nullptr;
    State* foundState_ = nullptr;
    unsigned orderFall_ = 0, initEsc_ = 0, prevSuccess_ = 0, maxOrder_ = 0, hiBitsFlag_ = 0;
    int32_t runLength_ = 0, initRl_ = 0;

    uint8_t indexToUnits_[38];
    uint8_t unitsToIndex_[128];
    uint8_t ns2bsIndex_[256];
    uint8_t ns2Index_[256];
    See dummySee_{};
    See see_[25][16];
    uint16_t binSumm_[128][64];

    uint32_t range_ = 0, code_ = 0, low_ = 0;
    bool broken_ = false;
};

}  // namespace varnok::rar
