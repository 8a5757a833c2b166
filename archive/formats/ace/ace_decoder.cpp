#include "archive/formats/ace/ace_decoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/codecs/lz_output.h"
#include "archive/codecs/msb_bit_reader.h"
#include "archive/core/errors.h"
#include "archive/formats/ace/ace_huffman.h"
#include "archive/formats/ace/ace_models.h"

namespace varnok::ace {

namespace {

constexpr int kMinDictBits = 10;
constexpr int kMaxDictBits = 22;
constexpr size_t kMaxMatch = 259;
constexpr size_t kMinChunk = 128 * 1024;

// LZ77 symbols: 0..255 literals; 256..259 a match at the 1st..4th most recent distance; 260..282 a match
// whose distance has (symbol - 260) bits; 283 a mode change (ACE 2.0 only).
constexpr uint32_t kTypeCode = 260 + kMaxDictBits + 1;
constexpr int kNumMainCodes = 260 + kMaxDictBits + 2;
constexpr int kNumLenCodes = 255;
constexpr int kLzWidth = AceHuffman::kMaxWidth;
constexpr uint32_t kMaxDistAtLen2 = 255;
constexpr uint32_t kMaxDistAtLen3 = 8191;

enum Mode : int {
    kModeLz77 = 0,
    kModeDelta = 1,
    kModeExe = 2,
    kModeSound8 = 3,
    kModeSound32B = 6,
    kModePic = 7,
};

struct ModeRecord {
    int mode = kModeLz77;
    uint32_t deltaDist = 0, deltaLen = 0;
    int exeMode = 0;
};

bool IsSound(int mode) {
    return mode >= kModeSound8 && mode <= kModeSound32B;
}

}  // namespace

int DictionaryBits(uint16_t parameters) {
    return std::clamp((parameters & 15) + kMinDictBits, kMinDictBits, kMaxDictBits);
}

struct Decoder::State {
    enum class Stop { Done, Limit, Mode, BadCode, BadSymbol, BadMatch, BadBlock, PastEnd };
    enum class Out { Direct, Exe, Delta };

    // ---- Window ----
    // Not cleared when allocated: a match never reads before `lowest`, so only written bytes are ever read.
    std::unique_ptr<LzByte[]> window;
    LzByte* buf = nullptr;
    size_t hist = 0, chunk = 0;
    size_t pos = 0;      // next byte to write
    size_t flushed = 0;  // first byte not yet handed to the output filter
    size_t lowest = 0;   // first byte a match may copy from
    bool chain = false;  // the window holds history a solid file may continue

    // ---- Current file ----
    ByteSink* sink = nullptr;
    uint64_t target = 0, produced = 0, emitted = 0;
    MsbBitReader reader;
    Out out = Out::Direct;

    // ---- LZ77 ----
    AceHuffman mainCode, lenCode;
    uint32_t symbolsLeft = 0;
    uint32_t dist[4] = {};

    // ---- Blocked modes ----
    ModeRecord mode;
    bool havePending = false;
    ModeRecord pending;
    uint64_t deltaLeft = 0;
    SoundModel sound;
    uint64_t soundIndex = 0, soundLimit = 0;
    PicModel pic;

    // EXE: bytes decided up to `scan` go out; at most four wait for the bytes an instruction needs.
    std::vector<uint8_t> exePend;
    size_t exeScan = 0;
    uint64_t exeBase = 0;  // file offset of exePend[0]
    int exeMode = 0;

    // DELTA: the block being collected and its shape.
    std::vector<uint8_t> deltaBlock, deltaOut;
    size_t deltaPlane = 0;
    uint8_t deltaLast = 0;

    // The reader has no empty state: it starts on the first file's input and Decode points it at each file's.
    explicit State(MsbBitInput& input) : reader(input) {}

    // ---- Window management ----
    void Allocate(size_t h) {
        hist = h;
        chunk = std::max(kMinChunk, h);
        window.reset(new LzByte[hist + chunk + kMaxMatch + LzOutput::kSlack]);
        buf = window.get();
        pos = flushed = lowest = hist;
    }

    void Prepare(int bits, bool solid) {
        const size_t want = size_t{1} << bits;
        if (!solid || !chain || !buf) {
            if (!buf || hist < want) Allocate(want);
            pos = flushed = lowest = hist;
            chain = true;
            return;
        }
        if (want > hist) {
            // A later file of the chain asks for a larger dictionary: keep the history, in a larger window.
            const size_t keep = std::min(pos - lowest, want);
            std::vector<LzByte> old;
            old.assign(buf + pos - keep, buf + pos);
            Allocate(want);
            std::memcpy(buf + hist - keep, old.data(), keep);
            lowest = hist - keep;
        }
        flushed = pos;
    }

    void Emit(const uint8_t* p, size_t n) {
        if (!n) return;
        sink->Write(p, n);
        emitted += n;
    }

    // Hands the window's new bytes to the filter of the mode that produced them.
    void Deliver() {
        if (pos == flushed) return;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(buf + flushed);
        const size_t n = pos - flushed;
        flushed = pos;
        switch (out) {
            case Out::Direct:
                Emit(p, n);
                break;
            case Out::Exe:
                ExeFeed(p, n);
                break;
            case Out::Delta:
                DeltaFeed(p, n);
                break;
        }
    }

    void SlideIfFull() {
        if (pos < hist + chunk) return;
        Deliver();
        const size_t shift = pos - hist;
        std::memmove(buf, buf + shift, hist);
        lowest = lowest > shift ? lowest - shift : 0;
        pos = flushed = hist;
    }

    // ---- EXE: x86 CALL (E8) and JMP (E9) targets back from absolute to relative ----
    void ExeTranslate() {
        uint8_t* p = exePend.data();
        const size_t n = exePend.size();
        size_t i = exeScan;
        while (i + 4 < n) {
            const uint8_t b = p[i];
            if (b == 0xE8 && exeMode != 0) {
                const uint32_t at = static_cast<uint32_t>(exeBase + i);
                uint32_t v = static_cast<uint32_t>(p[i + 1]) | (static_cast<uint32_t>(p[i + 2]) << 8) |
                             (static_cast<uint32_t>(p[i + 3]) << 16) | (static_cast<uint32_t>(p[i + 4]) << 24);
                v -= at;
                p[i + 1] = static_cast<uint8_t>(v);
                p[i + 2] = static_cast<uint8_t>(v >> 8);
                p[i + 3] = static_cast<uint8_t>(v >> 16);
                p[i + 4] = static_cast<uint8_t>(v >> 24);
                i += 5;
            } else if (b == 0xE8 || b == 0xE9) {
                const uint32_t at = static_cast<uint32_t>(exeBase + i);
                uint32_t v = static_cast<uint32_t>(p[i + 1]) | (static_cast<uint32_t>(p[i + 2]) << 8);
                v = (v - at) & 0xFFFF;
                p[i + 1] = static_cast<uint8_t>(v);
                p[i + 2] = static_cast<uint8_t>(v >> 8);
                i += 3;
            } else {
                ++i;
            }
        }
        exeScan = i;
    }

    void ExeEmit(size_t n) {
        Emit(exePend.data(), n);
        exePend.erase(exePend.begin(), exePend.begin() + static_cast<ptrdiff_t>(n));
        exeBase += n;
        exeScan -= std::min(exeScan, n);
    }

    void ExeFeed(const uint8_t* p, size_t n) {
        exePend.insert(exePend.end(), p, p + n);
        ExeTranslate();
        ExeEmit(exeScan);
    }

    // The end of an EXE block. The byte the scan stopped at goes out as it is; from the first E8 or E9 after it
    // on, the bytes wait for the next block when that is EXE too (its first instruction may be completed
    // there), and go out untranslated otherwise.
    void ExeEndBlock(bool nextIsExe) {
        size_t keepFrom = exePend.size();
        if (nextIsExe && exeScan < exePend.size()) {
            for (size_t j = exeScan + 1; j < exePend.size(); ++j) {
                if (exePend[j] == 0xE8 || exePend[j] == 0xE9) {
                    keepFrom = j;
                    break;
                }
            }
        }
        ExeEmit(keepFrom);
        exeScan = 0;
    }

    // ---- DELTA: running sums of the block, then its planes interleaved back ----
    void DeltaFeed(const uint8_t* p, size_t n) {
        deltaBlock.insert(deltaBlock.end(), p, p + n);
        if (deltaBlock.size() < mode.deltaLen) return;
        uint8_t last = deltaLast;
        for (uint8_t& b : deltaBlock) {
            last = static_cast<uint8_t>(b + last);
            b = last;
        }
        deltaLast = last;
        const size_t len = deltaBlock.size(), plane = deltaPlane;
        deltaOut.resize(len);
        size_t k = 0;
        for (size_t at = 0; at < plane; ++at)
            for (size_t start = 0; start < len; start += plane)
                deltaOut[k++] = deltaBlock[start + at];
        deltaBlock.clear();
        Emit(deltaOut.data(), len);
    }

    // ---- LZ77 ----
    // A block's codes and its symbol count (0 stands for 2^32: the count is only ever decremented).
    [[gnu::noinline]] static MsbBitReader ReadLzCodes(MsbBitReader br, State& s, uint32_t* count, bool* ok) {
        br = ReadCode(br, s.mainCode, kLzWidth, kNumMainCodes, ok);
        if (!*ok) return br;
        br = ReadCode(br, s.lenCode, kLzWidth, kNumLenCodes, ok);
        if (!*ok) return br;
        *count = br.Get(15);
        return br;
    }

    // Decodes LZ77 items into the window until pos reaches `limit`; a match may not run past `matchEnd`.
    Stop RunLz(size_t limit, size_t matchEnd, bool modes) {
        MsbBitReader br = reader;
        LzByte* const out = buf;
        size_t p = pos;
        const size_t floor = lowest;
        uint32_t r0 = dist[0], r1 = dist[1], r2 = dist[2], r3 = dist[3];
        uint32_t left = symbolsLeft;
        Stop stop = Stop::Limit;
        while (p < limit) {
            if (left == 0) {
                bool ok = false;
                br = ReadLzCodes(br, *this, &left, &ok);
                if (!ok || br.PastEnd()) {
                    stop = br.PastEnd() ? Stop::PastEnd : Stop::BadCode;
                    break;
                }
            }
            --left;
            br.Refill();
            const uint32_t sym = mainCode.Decode(br);
            if (sym < 256) {
                if (br.PastEnd()) {
                    stop = Stop::PastEnd;
                    break;
                }
                out[p++] = static_cast<LzByte>(sym);
                continue;
            }
            uint32_t d, len;
            if (sym < 260) {
                len = lenCode.Decode(br) + (sym > 257 ? 3 : 2);
                switch (sym) {
                    case 256:
                        d = r0;
                        break;
                    case 257:
                        d = r1;
                        r1 = r0;
                        break;
                    case 258:
                        d = r2;
                        r2 = r1;
                        r1 = r0;
                        break;
                    default:
                        d = r3;
                        r3 = r2;
                        r2 = r1;
                        r1 = r0;
                        break;
                }
                r0 = d;
            } else if (sym < kTypeCode) {
                const int bits = static_cast<int>(sym - 260);
                if (bits < 2) {
                    d = static_cast<uint32_t>(bits);
                } else {
                    d = (1u << (bits - 1)) + br.Peek(bits - 1);
                    br.Skip(bits - 1);
                }
                len = lenCode.Decode(br) + (d <= kMaxDistAtLen2 ? 2 : d <= kMaxDistAtLen3 ? 3 : 4);
                r3 = r2;
                r2 = r1;
                r1 = r0;
                r0 = d;
            } else {
                stop = br.PastEnd() ? Stop::PastEnd : (sym == kTypeCode && modes) ? Stop::Mode : Stop::BadSymbol;
                break;
            }
            if (br.PastEnd()) {
                stop = Stop::PastEnd;
                break;
            }
            if (len > kMaxMatch) {  // the length code's unreachable entry
                stop = Stop::BadSymbol;
                break;
            }
            if (d >= p - floor || len > matchEnd - p) {
                stop = Stop::BadMatch;
                break;
            }
            LzCopy(out, p, d + 1, len);
            p += len;
        }
        produced += p - pos;
        pos = p;
        reader = br;
        symbolsLeft = left;
        dist[0] = r0;
        dist[1] = r1;
        dist[2] = r2;
        dist[3] = r3;
        return stop;
    }

    // ---- Modes ----
    bool ReadMode(ModeRecord& r) {
        reader.Refill();
        r = ModeRecord{};
        r.mode = static_cast<int>(reader.Get(8));
        if (r.mode == kModeDelta) {
            r.deltaDist = reader.Get(8);
            r.deltaLen = reader.Get(17);
        } else if (r.mode == kModeExe) {
            r.exeMode = static_cast<int>(reader.Get(8));
        }
        return r.mode <= kModePic;
    }

    Stop ApplyMode(const ModeRecord& r) {
        Deliver();
        if (mode.mode == kModeExe) ExeEndBlock(r.mode == kModeExe);
        if (r.mode != mode.mode) {
            if (IsSound(r.mode)) {
                sound.Reset(r.mode - kModeSound8);
            } else if (r.mode == kModePic) {
                bool ok = false;
                reader = pic.Reset(reader, &ok);
                if (reader.PastEnd()) return Stop::PastEnd;
                if (!ok) return Stop::BadBlock;
            }
        }
        if (r.mode == kModeDelta) {
            // The block is cut into deltaDist planes of len / deltaDist bytes; anything else cannot be
            // interleaved back.
            const size_t plane = r.deltaDist ? r.deltaLen / r.deltaDist : 0;
            if (plane == 0 || r.deltaLen % plane != 0) return Stop::BadBlock;
            deltaPlane = plane;
            deltaLeft = 0;
        }
        if (r.mode == kModeExe) {
            if (mode.mode != kModeExe) {
                exePend.clear();
                exeScan = 0;
                exeBase = produced;
            }
            exeMode = r.exeMode;
        }
        mode = r;
        out = r.mode == kModeExe ? Out::Exe : r.mode == kModeDelta ? Out::Delta : Out::Direct;
        soundIndex = 0;
        soundLimit = (target - produced) & ~uint64_t{3};
        return Stop::Done;
    }

    Stop TakeMode() {
        ModeRecord r;
        const bool known = ReadMode(r);
        if (reader.PastEnd()) return Stop::PastEnd;
        if (!known) return Stop::BadSymbol;
        return ApplyMode(r);
    }

    void StartFile(uint64_t unpacked, ByteSink& s) {
        sink = &s;
        target = unpacked;
        produced = emitted = 0;
        out = Out::Direct;
        symbolsLeft = 0;
        std::fill(std::begin(dist), std::end(dist), 0u);
        mode = ModeRecord{};
        havePending = false;
        deltaLeft = 0;
        deltaLast = 0;
        deltaBlock.clear();
        exePend.clear();
        exeScan = 0;
        exeBase = 0;
    }

    // One stretch of the blocked method (or of ACE 1.0 LZ77 when !blocked).
    Stop Step(bool blocked) {
        SlideIfFull();
        const uint64_t left = target - produced;
        const size_t room = static_cast<size_t>(std::min<uint64_t>(left, hist + chunk - pos));
        switch (mode.mode) {
            case kModeLz77:
            case kModeExe: {
                const size_t matchEnd = pos + static_cast<size_t>(std::min<uint64_t>(left, room + kMaxMatch));
                const Stop s = RunLz(pos + room, matchEnd, blocked);
                return s == Stop::Mode ? TakeMode() : s;
            }
            case kModeDelta: {
                // A block longer than the rest of the file is damage only once it has begun (a mode change may
                // come first): the file then ends inside it, which Finish reports.
                if (deltaLeft == 0) deltaLeft = mode.deltaLen;
                const size_t want = static_cast<size_t>(std::min<uint64_t>(deltaLeft, room));
                const size_t matchEnd = pos + static_cast<size_t>(std::min<uint64_t>(std::min(deltaLeft, left), room + kMaxMatch));
                const size_t before = pos;
                Stop s = RunLz(pos + want, matchEnd, true);
                deltaLeft -= pos - before;
                if (s == Stop::Mode) {
                    if (deltaLeft == mode.deltaLen) {  // at the start of a block: the mode changes here
                        deltaLeft = 0;
                        return TakeMode();
                    }
                    // Inside a block the change waits for the block's end (a second one is damage).
                    if (havePending) return Stop::BadBlock;
                    const bool known = ReadMode(pending);
                    if (reader.PastEnd()) return Stop::PastEnd;
                    if (!known) return Stop::BadSymbol;
                    havePending = true;
                    s = Stop::Limit;
                }
                if (s != Stop::Limit) return s;
                if (deltaLeft == 0) {
                    Deliver();
                    if (havePending) {
                        havePending = false;
                        return ApplyMode(pending);
                    }
                }
                return Stop::Limit;
            }
            case kModePic: {
                size_t made = 0;
                ModelStop ms;
                reader = pic.Run(reader, buf + pos, room, &made, &ms);
                pos += made;
                produced += made;
                return ModelResult(ms, made);
            }
            default: {  // sound
                size_t made = 0;
                ModelStop ms;
                reader = sound.Run(reader, buf + pos, room, soundIndex, soundLimit, &made, &ms);
                pos += made;
                produced += made;
                return ModelResult(ms, made);
            }
        }
    }

    Stop ModelResult(ModelStop ms, size_t made) {
        switch (ms) {
            case ModelStop::Room:
                return made ? Stop::Limit : Stop::BadBlock;  // a block that ends without a mode change
            case ModelStop::Mode:
                return TakeMode();
            case ModelStop::Corrupt:
                return Stop::BadCode;
            case ModelStop::PastEnd:
                break;
        }
        return Stop::PastEnd;
    }

    DecodeResult Finish(DecodeStatus status, int code) {
        if (status == DecodeStatus::Ok) {
            Deliver();
            if (mode.mode == kModeExe) ExeEndBlock(false);
            if (mode.mode == kModeDelta && !deltaBlock.empty()) {  // the file ended inside a delta block
                status = DecodeStatus::Corrupt;
                code = E_CorruptInput;
                lowest = pos;
            }
        } else {
            // What was decoded goes out, except the last EXE bytes, whose form depends on bytes not decoded; the
            // history cannot be trusted by a later solid file.
            Deliver();
            exePend.clear();
            lowest = pos;
        }
        return MakeResult(status, code, emitted, reader.ConsumedBytes());
    }

    DecodeResult Stored(ByteSource& packed, uint64_t packedSize, const CancelFlag* cancel) {
        LimitedSource in(packed, packedSize);
        out = Out::Direct;
        while (produced < target) {
            if (IsCancelled(cancel)) return MakeResult(DecodeStatus::Cancelled, E_UserCanceled, emitted, produced);
            SlideIfFull();
            const size_t room = static_cast<size_t>(std::min<uint64_t>(target - produced, hist + chunk - pos));
            size_t got = 0;
            while (got < room) {
                const size_t k = in.Read(reinterpret_cast<uint8_t*>(buf + pos + got), room - got);
                if (!k) break;
                got += k;
            }
            pos += got;
            produced += got;
            Deliver();
            if (got < room) {
                lowest = pos;
                return MakeResult(DecodeStatus::Truncated, E_UnexpectedEof, emitted, produced);
            }
        }
        return MakeResult(DecodeStatus::Ok, 0, emitted, produced);
    }
};

Decoder::Decoder() = default;
Decoder::~Decoder() = default;

void Decoder::Release() {
    s_.reset();
}

DecodeResult Decoder::Decode(const FileParams& f, ByteSource& packed, ByteSink& out, const CancelFlag* cancel) {
    if (!Supported(f.type)) return MakeResult(DecodeStatus::Corrupt, E_UnsupportedMethod, 0, 0);

    LimitedSource limited(packed, f.packedSize);
    WordOrderSource words(limited);
    // A small file gets a small input buffer (files of solid archives are often a few hundred bytes).
    const size_t inputBuffer = static_cast<size_t>(std::clamp<uint64_t>(f.packedSize + 16, 4096, 64 * 1024));
    MsbBitInput input(words, f.packedSize, inputBuffer);
    if (!s_) s_ = std::make_unique<State>(input);
    State& s = *s_;
    s.Prepare(DictionaryBits(f.parameters), f.solid);
    s.StartFile(f.unpackedSize, out);
    s.reader = MsbBitReader(input);

    try {
        if (f.type == kStored) return s.Stored(packed, f.packedSize, cancel);

        using Stop = State::Stop;
        const bool blocked = f.type == kBlocked;
        while (s.produced < s.target) {
            if (IsCancelled(cancel)) return s.Finish(DecodeStatus::Cancelled, E_UserCanceled);
            const Stop stop = s.Step(blocked);
            switch (stop) {
                case Stop::Done:
                case Stop::Limit:
                    break;
                case Stop::PastEnd:
                    return s.Finish(DecodeStatus::Truncated, E_UnexpectedEof);
                case Stop::BadCode:
                    return s.Finish(DecodeStatus::Corrupt, E_BadHuffmanCode);
                case Stop::Mode:  // handled inside Step
                case Stop::BadSymbol:
                    return s.Finish(DecodeStatus::Corrupt, E_InvalidCode);
                case Stop::BadMatch:
                case Stop::BadBlock:
                    return s.Finish(DecodeStatus::Corrupt, E_CorruptInput);
            }
        }
        return s.Finish(DecodeStatus::Ok, 0);
    } catch (...) {
        s.chain = false;
        throw;
    }
}

}  // namespace varnok::ace
