#include "archive/formats/rar/rar5_decoder.h"

#include <algorithm>
#include <cstring>

#include "archive/codecs/msb_bit_reader.h"

namespace varnok::rar {

namespace {

constexpr size_t kMainSize = 306, kDistSize = 64, kLowDistSize = 16, kRepSize = 44;
constexpr size_t kTablesSize = kMainSize + kDistSize + kLowDistSize + kRepSize;
constexpr uint64_t kMaxMatch = 0x1200;            // the longest match (4097 + 3) with room to spare
constexpr uint32_t kMaxFilterLength = 0x400000;   // the format's largest filter stretch
constexpr size_t kMaxFilters = 8192;              // filters waiting at once
constexpr uint64_t kFlushAt = 1u << 20;           // output held before it goes to the sink
constexpr uint64_t kMinWindow = 1u << 18;
constexpr uint64_t kMinMaxWindow = 8u << 20;      // room for a whole filter stretch behind the history

enum FilterType : uint8_t { kDelta = 0, kE8 = 1, kE8E9 = 2, kArm = 3 };

uint64_t NextPow2(uint64_t v) {
    uint64_t p = 1;
    while (p < v)
        p <<= 1;
    return p;
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t DecodeSymbol(const Rar5Decoder::Table& t, MsbBitReader& br) {
    const uint32_t bits = br.Peek(16) & 0xFFFE;
    if (bits < t.limit[Rar5Decoder::Table::kQuick]) {
        const uint32_t code = bits >> (16 - Rar5Decoder::Table::kQuick);
        br.Skip(t.quickLength[code]);
        return t.quickSymbol[code];
    }
    int len = 15;
    for (int l = Rar5Decoder::Table::kQuick + 1; l < 15; ++l)
        if (bits < t.limit[l]) {
            len = l;
            break;
        }
    br.Skip(len);
    const uint32_t index = t.first[len] + ((bits - t.limit[len - 1]) >> (16 - len));
    return index < t.symbols.size() ? t.symbols[index] : (t.symbols.empty() ? 0 : t.symbols[0]);
}

// The length of a match from its slot, with the slot's extra bits.
inline uint32_t SlotToLength(uint32_t slot, MsbBitReader& br) {
    if (slot < 8) return slot + 2;
    const int bits = static_cast<int>(slot / 4 - 1);
    return 2 + ((4 | (slot & 3)) << bits) + br.Get(bits);
}

}  // namespace

void Rar5Decoder::Table::Build(const uint8_t* lengths, size_t n) {
    uint32_t count[16] = {};
    for (size_t i = 0; i < n; ++i)
        ++count[lengths[i] & 15];
    count[0] = 0;
    uint32_t upper = 0;
    limit[0] = 0;
    first[0] = 0;
    uint32_t pos = 0;
    for (int l = 1; l < 16; ++l) {
        upper += count[l] << (16 - l);
        limit[l] = std::min<uint32_t>(upper, 0x10000);
        first[l] = pos;
        pos += count[l];
    }
    limit[16] = 0x10000;
    first[16] = pos;
    symbols.assign(pos, 0);
    uint32_t fill[16];
    std::memcpy(fill, first, sizeof fill);
    for (size_t i = 0; i < n; ++i)
        if (const uint8_t l = lengths[i] & 15) symbols[fill[l]++] = static_cast<uint16_t>(i);
    int len = 1;
    for (uint32_t code = 0; code < (1u << kQuick); ++code) {
        const uint32_t bits = code << (16 - kQuick);
        while (len < 16 && bits >= limit[len])
            ++len;
        quickLength[code] = static_cast<uint8_t>(len);
        const uint32_t index = first[len] + ((bits - limit[len - 1]) >> (16 - len));
        quickSymbol[code] = len < 16 && index < symbols.size() ? symbols[index] : 0;
    }
}

Rar5Decoder::Rar5Decoder() = default;
Rar5Decoder::~Rar5Decoder() = default;

void Rar5Decoder::Reset() {
    total_ = written_ = fileStart_ = fileEnd_ = 0;
    filters_.clear();
    tablesRead_ = false;
    std::fill(std::begin(oldDist_), std::end(oldDist_), 0);
    lastLength_ = 0;
    ready_ = false;
}

bool Rar5Decoder::Grow(uint64_t need) {
    uint64_t size = std::max<uint64_t>(window_.size(), kMinWindow);
    while (size < need && size < maxWindow_)
        size <<= 1;
    size = std::min(size, maxWindow_);
    if (size <= window_.size()) return false;
    std::vector<uint8_t> bigger(static_cast<size_t>(size));
    if (!window_.empty()) {
        // What the window holds moves to its positions in the larger one.
        const uint64_t kept = std::min<uint64_t>(total_, window_.size());
        for (uint64_t a = total_ - kept; a < total_; ++a)
            bigger[static_cast<size_t>(a & (size - 1))] = window_[static_cast<size_t>(a & mask_)];
    }
    window_.swap(bigger);
    mask_ = size - 1;
    return true;
}

void Rar5Decoder::Emit(ByteSink& out, uint64_t from, uint64_t to) {
    to = std::min(to, fileEnd_);
    while (from < to) {
        const size_t at = static_cast<size_t>(from & mask_);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(to - from, window_.size() - at));
        out.Write(window_.data() + at, n);
        from += n;
    }
}

bool Rar5Decoder::ApplyFilter(const Filter& f, std::vector<uint8_t>& d) {
    const uint32_t fileOffset = static_cast<uint32_t>(f.start - fileStart_);
    const uint32_t size = f.length;
    switch (f.type) {
        case kDelta: {
            std::vector<uint8_t> src(d);
            size_t s = 0;
            for (uint32_t ch = 0; ch < f.channels; ++ch) {
                uint8_t prev = 0;
                for (uint32_t i = ch; i < size && s < size; i += f.channels)
                    d[i] = prev = static_cast<uint8_t>(prev - src[s++]);
            }
            return true;
        }
        case kE8:
        case kE8E9: {
            constexpr uint32_t kFileSize = 0x1000000;
            const uint8_t second = f.type == kE8E9 ? 0xE9 : 0xE8;
            for (uint32_t i = 0; i + 4 < size;) {
                const uint8_t b = d[i++];
                if (b != 0xE8 && b != second) continue;
                const uint32_t offset = (i + fileOffset) % kFileSize;
                const uint32_t addr = Le32(&d[i]);
                if (addr & 0x80000000u) {
                    if (((addr + offset) & 0x80000000u) == 0) PutLe32(&d[i], addr + kFileSize);
                } else if ((addr - kFileSize) & 0x80000000u) {
                    PutLe32(&d[i], addr - offset);
                }
                i += 4;
            }
            return true;
        }
        case kArm:
            for (uint32_t i = 0; i + 3 < size; i += 4) {
                if (d[i + 3] != 0xEB) continue;
                uint32_t offset = d[i] | (static_cast<uint32_t>(d[i + 1]) << 8) | (static_cast<uint32_t>(d[i + 2]) << 16);
                offset -= (fileOffset + i) / 4;
                d[i] = static_cast<uint8_t>(offset);
                d[i + 1] = static_cast<uint8_t>(offset >> 8);
                d[i + 2] = static_cast<uint8_t>(offset >> 16);
            }
            return true;
        default:
            return false;
    }
}

bool Rar5Decoder::Flush(ByteSink& out, uint64_t upTo, std::string& why) {
    upTo = std::min(upTo, total_);
    while (written_ < upTo) {
        if (filters_.empty() || filters_.front().start >= upTo) {
            Emit(out, written_, upTo);
            written_ = upTo;
            break;
        }
        const Filter f = filters_.front();
        if (f.start > written_) {
            Emit(out, written_, f.start);
            written_ = f.start;
        }
        if (f.start + f.length > total_) break;  // its stretch is not decoded yet
        filterBuf_.resize(f.length);
        for (uint32_t i = 0; i < f.length; ++i)
            filterBuf_[i] = window_[static_cast<size_t>((f.start + i) & mask_)];
        if (!ApplyFilter(f, filterBuf_)) {
            why = "a filter of an unknown type";
            return false;
        }
        const uint64_t end = std::min<uint64_t>(f.start + f.length, fileEnd_);
        if (end > f.start) out.Write(filterBuf_.data(), static_cast<size_t>(end - f.start));
        written_ = f.start + f.length;
        filters_.pop_front();
    }
    return true;
}

Rar5Decoder::Result Rar5Decoder::Decode(ByteSource& packed, uint64_t packedSize, uint64_t unpackedSize,
                                        uint64_t dictionarySize, bool solid, ByteSink& out, unsigned version) {
    auto fail = [&](Status s, std::string why) {
        ready_ = false;
        return Result{s, std::move(why)};
    };
    if (version != 0)
        return fail(Status::Unsupported, "RAR compression format " + std::to_string(version) +
                                             ", newer than RAR 5.0, which this decoder does not decode");
    if (dictionarySize > kMaxDictionary)
        return fail(Status::Unsupported, "a dictionary of " + std::to_string(dictionarySize >> 20) +
                                             " MiB, above the " + std::to_string(kMaxDictionary >> 20) +
                                             " MiB this decoder takes");
    if (solid && !ready_) return fail(Status::Damaged, "a solid entry whose predecessor was not decoded");
    const bool continuing = solid;
    ready_ = false;
    if (!continuing) {
        Reset();
        maxWindow_ = 0;
    }
    // Filters of the previous entry ended with it.
    filters_.clear();
    maxWindow_ = std::max({maxWindow_, NextPow2(std::max<uint64_t>(dictionarySize, 1)), kMinMaxWindow});
    fileStart_ = total_;
    if (unpackedSize > UINT64_MAX - fileStart_ - 2 * kMaxMatch) return fail(Status::Damaged, "an impossible size");
    fileEnd_ = fileStart_ + unpackedSize;
    if (window_.empty() || (!continuing && window_.size() > kMinMaxWindow)) {
        window_.clear();
        mask_ = 0;
        Grow(std::min<uint64_t>(unpackedSize + kMaxMatch, kMinWindow));
    }

    MsbBitInput input(packed, packedSize);
    MsbBitReader br(input);
    std::string why;
    bool haveBlock = false, lastBlock = false;
    uint64_t blockEndBits = 0, nextHeaderBits = 0;

    // The block header, at a byte boundary: flags, a checksum, and the block's size in 1 to 3 bytes.
    auto readBlockHeader = [&]() -> Status {
        const uint64_t at = br.ConsumedBits();
        if (at % 8) br.Get(static_cast<int>(8 - at % 8));
        br.Refill();
        const uint32_t flags = br.Get(8);
        const uint32_t check = br.Get(8);
        const int bytes = static_cast<int>((flags >> 3) & 3) + 1;
        if (bytes == 4) return Status::Damaged;
        uint32_t size = 0;
        for (int k = 0; k < bytes; ++k)
            size |= br.Get(8) << (8 * k);
        if (br.Overrun()) return Status::Truncated;
        const uint8_t sum = static_cast<uint8_t>(0x5A ^ flags ^ size ^ (size >> 8) ^ (size >> 16));
        if (sum != check) return Status::Damaged;
        const uint64_t start = br.ConsumedBits() / 8;
        if (start + size > packedSize) return Status::Truncated;
        blockEndBits = size ? (start + size - 1) * 8 + ((flags & 7) + 1) : start * 8;
        nextHeaderBits = (start + size) * 8;
        lastBlock = flags & 0x40;
        if (flags & 0x80) {
            // The tables: 20 bit lengths of the code-length code, then the 430 code lengths through it.
            uint8_t bitLengths[20];
            for (size_t i = 0; i < 20;) {
                br.Refill();
                const uint32_t len = br.Get(4);
                if (len == 15) {
                    uint32_t zeros = br.Get(4);
                    if (zeros == 0) {
                        bitLengths[i++] = 15;
                    } else {
                        for (zeros += 2; zeros-- > 0 && i < 20;)
                            bitLengths[i++] = 0;
                    }
                } else {
                    bitLengths[i++] = static_cast<uint8_t>(len);
                }
            }
            Table lengthCode;
            lengthCode.Build(bitLengths, 20);
            uint8_t lengths[kTablesSize];
            for (size_t i = 0; i < kTablesSize;) {
                br.Refill();
                if (br.PastEnd()) return Status::Truncated;
                const uint32_t sym = DecodeSymbol(lengthCode, br);
                if (sym < 16) {
                    lengths[i++] = static_cast<uint8_t>(sym);
                } else if (sym < 18) {
                    uint32_t n = sym == 16 ? br.Get(3) + 3 : br.Get(7) + 11;
                    if (i == 0) return Status::Damaged;
                    for (; n > 0 && i < kTablesSize; --n, ++i)
                        lengths[i] = lengths[i - 1];
                } else {
                    uint32_t n = sym == 18 ? br.Get(3) + 3 : br.Get(7) + 11;
                    for (; n > 0 && i < kTablesSize; --n)
                        lengths[i++] = 0;
                }
            }
            if (br.Overrun()) return Status::Truncated;
            main_.Build(lengths, kMainSize);
            dist_.Build(lengths + kMainSize, kDistSize);
            lowDist_.Build(lengths + kMainSize + kDistSize, kLowDistSize);
            rep_.Build(lengths + kMainSize + kDistSize + kLowDistSize, kRepSize);
            tablesRead_ = true;
        } else if (!tablesRead_) {
            return Status::Damaged;
        }
        return Status::Ok;
    };

    auto copyMatch = [&](uint32_t length, uint64_t distance) -> bool {
        // The distance reaches back into this stream's output, and not past what the window keeps.
        if (distance == 0 || distance > total_ || distance > mask_ + 1) return false;
        uint8_t* w = window_.data();
        for (uint32_t k = 0; k < length; ++k, ++total_)
            w[total_ & mask_] = w[(total_ - distance) & mask_];
        return true;
    };

    for (;;) {
        if (!haveBlock || br.ConsumedBits() >= blockEndBits) {
            if (haveBlock) {
                if (lastBlock) break;
                const uint64_t at = br.ConsumedBits();
                if (at > nextHeaderBits) return fail(Status::Damaged, "a code runs past the end of its block");
                for (uint64_t skip = nextHeaderBits - at; skip;) {
                    const int n = static_cast<int>(std::min<uint64_t>(skip, 32));
                    br.Get(n);
                    skip -= static_cast<uint64_t>(n);
                }
            }
            if (br.ConsumedBits() >= packedSize * 8)
                return fail(Status::Truncated, "the data end before the last block of the entry");
            const Status s = readBlockHeader();
            if (s == Status::Truncated) return fail(s, "the data end inside a block header or its tables");
            if (s != Status::Ok) return fail(s, "a damaged block header or code table");
            haveBlock = true;
            continue;
        }
        if (total_ > fileEnd_) return fail(Status::Damaged, "more data than the entry's size");
        // Room in the window for the next item: output goes out, or (while the stream is short) it grows.
        if (total_ - written_ >= kFlushAt || total_ - written_ + kMaxMatch > mask_ + 1) {
            if (!Flush(out, total_, why)) return fail(Status::Damaged, why);
            if (total_ - written_ + kMaxMatch > mask_ + 1 && !Grow(total_ - written_ + 2 * kMaxMatch))
                return fail(Status::Damaged, "a filter stretch larger than the window");
        }
        if (total_ + kMaxMatch > mask_ + 1 && mask_ + 1 < maxWindow_) Grow(total_ + kMaxMatch + 1);
        br.Refill();
        if (br.PastEnd()) return fail(Status::Truncated, "the data end early");
        const uint32_t sym = DecodeSymbol(main_, br);
        if (sym < 256) {
            window_[static_cast<size_t>(total_ & mask_)] = static_cast<uint8_t>(sym);
            ++total_;
            continue;
        }
        if (sym >= 262) {
            uint32_t length = SlotToLength(sym - 262, br);
            br.Refill();
            const uint32_t slot = DecodeSymbol(dist_, br);
            uint64_t distance = 1;
            if (slot < 4) {
                distance += slot;
            } else {
                const int bits = static_cast<int>(slot / 2 - 1);
                distance += uint64_t{2 | (slot & 1)} << bits;
                br.Refill();
                if (bits >= 4) {
                    if (bits > 4) distance += uint64_t{br.Get(bits - 4)} << 4;
                    br.Refill();
                    distance += DecodeSymbol(lowDist_, br);
                } else {
                    distance += br.Get(bits);
                }
            }
            if (distance > 0x100) ++length;
            if (distance > 0x2000) ++length;
            if (distance > 0x40000) ++length;
            oldDist_[3] = oldDist_[2];
            oldDist_[2] = oldDist_[1];
            oldDist_[1] = oldDist_[0];
            oldDist_[0] = distance;
            lastLength_ = length;
            if (!copyMatch(length, distance)) return fail(Status::Damaged, "a match reaches before the data");
            continue;
        }
        if (sym == 256) {
            // A filter: its start (from here) and length, then its type.
            auto number = [&]() {
                const int bytes = static_cast<int>(br.Get(2)) + 1;
                uint32_t v = 0;
                for (int k = 0; k < bytes; ++k)
                    v |= br.Get(8) << (8 * k);
                return v;
            };
            br.Refill();
            const uint32_t start = number();
            br.Refill();
            const uint32_t length = number();
            Filter f{total_ + start, length, static_cast<uint8_t>(br.Get(3)), 0};
            if (f.type == kDelta) f.channels = static_cast<uint8_t>(br.Get(5) + 1);
            if (f.type > kArm) return fail(Status::Damaged, "a filter of an unknown type");
            if (length == 0 || length > kMaxFilterLength) continue;  // the format ignores such filters
            if (!filters_.empty() && f.start < filters_.back().start + filters_.back().length)
                return fail(Status::Damaged, "filters that overlap");
            if (filters_.size() >= kMaxFilters) return fail(Status::Damaged, "too many filters at once");
            filters_.push_back(f);
            continue;
        }
        if (sym == 257) {
            if (lastLength_ && !copyMatch(lastLength_, oldDist_[0]))
                return fail(Status::Damaged, "a match reaches before the data");
            continue;
        }
        // 258..261: one of the last four distances again, with a length of its own.
        const size_t which = sym - 258;
        const uint64_t distance = oldDist_[which];
        for (size_t k = which; k > 0; --k)
            oldDist_[k] = oldDist_[k - 1];
        oldDist_[0] = distance;
        br.Refill();
        const uint32_t length = SlotToLength(DecodeSymbol(rep_, br), br);
        lastLength_ = length;
        if (!copyMatch(length, distance)) return fail(Status::Damaged, "a match reaches before the data");
    }
    if (br.Overrun()) return fail(Status::Truncated, "the data end early");
    if (total_ != fileEnd_)
        return fail(total_ < fileEnd_ ? Status::Truncated : Status::Damaged,
                    "the data decode to " + std::to_string(total_ - fileStart_) + " bytes instead of " +
                        std::to_string(unpackedSize));
    // Filters reaching past the entry's end are cut at it.
    for (Filter& f : filters_)
        if (f.start + f.length > fileEnd_) f.length = static_cast<uint32_t>(fileEnd_ > f.start ? fileEnd_ - f.start : 0);
    if (!Flush(out, fileEnd_, why)) return fail(Status::Damaged, why);
    if (written_ < fileEnd_) return fail(Status::Damaged, "a filter stretch left unfinished");
    filters_.clear();
    ready_ = true;
    return {};
}

}  // namespace varnok::rar
