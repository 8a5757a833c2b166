#include "archive/formats/tar/tar_headers.h"

#include <cstring>
#include <string_view>

#include "archive/core/bytes.h"

namespace varnok::tar {
namespace {

constexpr uint64_t kMaxMetaSize = 1 << 20;  // long names and pax records beyond this are refused
constexpr int kMaxMetaRecords = 64;

uint64_t RoundUp(uint64_t v) {
    return (v + kBlock - 1) / kBlock * kBlock;
}

constexpr uint64_t kMaxSparseMapSize = 4 << 20;  // the map in front of pax 1.0 sparse data

bool ReadData(RecordReader& r, uint64_t pos, uint64_t size, uint64_t fileSize, std::string& out) {
    if (size > kMaxMetaSize || pos > fileSize || size > fileSize - pos) return false;
    out.resize(static_cast<size_t>(size));
    return r.ReadAt(pos, out.data(), out.size()) == out.size();
}

bool ParseUnsigned(std::string_view s, uint64_t& v) {
    if (s.empty() || s.size() > 19) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// "offset,size,offset,size,..." (pax sparse 0.1, and 0.0 gathered into the same form).
bool ParseSparseList(const std::string& s, std::vector<SparseChunk>& out) {
    out.clear();
    std::vector<uint64_t> numbers;
    size_t p = 0;
    while (p <= s.size()) {
        size_t q = s.find(',', p);
        if (q == std::string::npos) q = s.size();
        uint64_t v;
        if (!ParseUnsigned(std::string_view(s).substr(p, q - p), v)) return false;
        numbers.push_back(v);
        p = q + 1;
    }
    if (numbers.size() % 2) return false;
    for (size_t i = 0; i < numbers.size(); i += 2)
        out.push_back({numbers[i], numbers[i + 1]});
    return true;
}

// The map in front of pax 1.0 sparse data: the chunk count and then offset and size of each chunk, every
// number on its own line, padded to whole blocks. Returns the bytes the map takes (0 when unreadable).
uint64_t ReadSparseMapInData(RecordReader& r, uint64_t pos, uint64_t size, std::vector<SparseChunk>& out) {
    out.clear();
    std::vector<uint64_t> numbers;
    uint64_t want = UINT64_MAX;  // numbers in the map, once the count is known
    std::string current;
    uint64_t used = 0;
    uint8_t block[kBlock];
    while (numbers.size() < want) {
        if (used + kBlock > size || used + kBlock > kMaxSparseMapSize) return 0;
        if (r.ReadAt(pos + used, block, kBlock) != kBlock) return 0;
        used += kBlock;
        for (size_t i = 0; i < kBlock && numbers.size() < want; ++i) {
            char c = static_cast<char>(block[i]);
            if (c != '\n') {
                current += c;
                if (current.size() > 19) return 0;
                continue;
            }
            uint64_t v;
            if (!ParseUnsigned(current, v)) return 0;
            current.clear();
            numbers.push_back(v);
            if (numbers.size() == 1) {
                if (v > kMaxSparseMapSize / 4) return 0;
                want = 1 + 2 * v;
            }
        }
    }
    for (size_t i = 1; i + 1 < numbers.size(); i += 2)
        out.push_back({numbers[i], numbers[i + 1]});
    return used;
}

std::string CString(const std::string& s) {
    size_t z = s.find('\0');
    return z == std::string::npos ? s : s.substr(0, z);
}

// pax records: "LEN key=value\n".
void ParsePax(const std::string& data, std::map<std::string, std::string>& out) {
    size_t p = 0;
    while (p < data.size()) {
        size_t sp = data.find(' ', p);
        if (sp == std::string::npos) break;
        uint64_t len = 0;
        bool ok = sp > p;
        for (size_t i = p; i < sp && ok; ++i) {
            if (data[i] < '0' || data[i] > '9')
                ok = false;
            else
                len = len * 10 + static_cast<uint64_t>(data[i] - '0');
            if (len > data.size()) ok = false;
        }
        if (!ok || len <= sp - p + 1 || p + len > data.size()) break;
        std::string rec = data.substr(sp + 1, p + len - sp - 1);
        if (!rec.empty() && rec.back() == '\n') rec.pop_back();
        size_t eq = rec.find('=');
        if (eq != std::string::npos) {
            std::string key = rec.substr(0, eq);
            if (key == "GNU.sparse.offset" || key == "GNU.sparse.numbytes") {
                // Sparse format 0.0 repeats these two for every chunk: gather them as a 0.1 map.
                std::string& map = out["GNU.sparse.map"];
                if (!map.empty()) map += ',';
                map += rec.substr(eq + 1);
            } else {
                out[key] = rec.substr(eq + 1);
            }
        }
        p += len;
    }
}

bool ParseDecimal(const std::string& s, int64_t& v) {
    if (s.empty()) return false;
    size_t i = 0;
    bool neg = false;
    if (s[0] == '-') {
        neg = true;
        i = 1;
    }
    int64_t r = 0;
    for (; i < s.size() && s[i] != '.'; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        if (r > (INT64_MAX - 9) / 10) return false;
        r = r * 10 + (s[i] - '0');
    }
    v = neg ? -r : r;
    return true;
}

bool IsZeroBlock(const uint8_t* h) {
    for (size_t i = 0; i < kBlock; ++i)
        if (h[i]) return false;
    return true;
}

}  // namespace

bool HeaderChecksumOk(const uint8_t* h, uint32_t* stored) {
    int64_t want = 0;
    bool digits = false;
    for (int i = 148; i < 156; ++i) {
        if (h[i] >= '0' && h[i] <= '7') {
            want = want * 8 + (h[i] - '0');
            digits = true;
        } else if (digits && (h[i] == 0 || h[i] == ' ')) {
            break;
        }
    }
    if (stored) *stored = static_cast<uint32_t>(want);
    if (!digits) return false;
    int64_t u = 0, s = 0;
    for (size_t i = 0; i < kBlock; ++i) {
        uint8_t c = (i >= 148 && i < 156) ? ' ' : h[i];
        u += c;
        s += static_cast<int8_t>(c);
    }
    return want == u || want == s;
}

bool ParseNumber(const uint8_t* p, size_t n, int64_t& out) {
    if (n == 0) return false;
    if (p[0] & 0x80) {
        // Base-256, two's complement when the second-highest bit is set.
        bool neg = p[0] & 0x40;
        uint64_t v = neg ? ~uint64_t{0} : 0;
        v = (v << 6) | (p[0] & 0x3F);
        for (size_t i = 1; i < n; ++i) {
            if (!neg && (v >> 55)) return false;
            v = (v << 8) | p[i];
        }
        out = static_cast<int64_t>(v);
        return true;
    }
    size_t i = 0;
    while (i < n && (p[i] == ' ' || p[i] == 0)) {
        if (p[i] == 0 && i == 0) break;
        ++i;
    }
    int64_t v = 0;
    bool any = false;
    for (; i < n && p[i] >= '0' && p[i] <= '7'; ++i) {
        if (v > (INT64_MAX >> 3)) return false;
        v = (v << 3) | (p[i] - '0');
        any = true;
    }
    // Trailing blanks or zero bytes only.
    for (; i < n; ++i)
        if (p[i] != ' ' && p[i] != 0) return false;
    out = any ? v : 0;
    return true;
}

ReadResult ReadEntry(const platform::File& f, uint64_t pos, uint64_t fileSize, PaxGlobals& globals,
                     Entry& e) {
    FileRecordReader r(f);
    return ReadEntry(r, pos, fileSize, globals, e);
}

ReadResult ReadEntry(RecordReader& f, uint64_t pos, uint64_t fileSize, PaxGlobals& globals, Entry& e) {
    e = Entry{};
    e.firstPos = pos;
    std::string longName, longLink;
    std::map<std::string, std::string> pax;
    for (int records = 0;; ++records) {
        uint8_t h[kBlock];
        if (pos > fileSize || fileSize - pos < kBlock || f.ReadAt(pos, h, kBlock) != kBlock)
            return ReadResult::End;
        if (IsZeroBlock(h)) return ReadResult::End;
        uint32_t stored;
        bool ok = HeaderChecksumOk(h, &stored);
        if (!ok) return ReadResult::Bad;
        int64_t size;
        if (!ParseNumber(h + 124, 12, size) || size < 0) {
            e.name = longName.empty() ? FieldString(h, 100) : longName;
            e.problem = "its size field is not a length";
            return ReadResult::Bad;
        }
        char type = static_cast<char>(h[156]);
        uint64_t dataPos = pos + kBlock;
        uint64_t next = dataPos + RoundUp(static_cast<uint64_t>(size));
        if (next < dataPos) return ReadResult::Bad;
        bool meta = type == 'L' || type == 'K' || type == 'x' || type == 'g' || type == 'X';
        if (meta) {
            if (records >= kMaxMetaRecords) return ReadResult::Bad;
            std::string data;
            if (!ReadData(f, dataPos, static_cast<uint64_t>(size), fileSize, data)) return ReadResult::Bad;
            if (type == 'L')
                longName = CString(data);
            else if (type == 'K')
                longLink = CString(data);
            else if (type == 'g')
                ParsePax(data, globals.values);
            else
                ParsePax(data, pax);
            pos = next;
            continue;
        }
        e.headerPos = pos;
        e.checksum = stored;
        e.checksumOk = true;
        e.type = type;
        std::string name = FieldString(h, 100);
        bool ustar = std::memcmp(h + 257, "ustar", 5) == 0;
        bool gnu = ustar && std::memcmp(h + 257, "ustar  ", 8) == 0;
        if (ustar && !gnu && h[345]) name = FieldString(h + 345, 155) + "/" + name;
        e.linkName = FieldString(h + 157, 100);
        int64_t v;
        e.mode = ParseNumber(h + 100, 8, v) ? static_cast<uint32_t>(v & 07777777) : 0;
        e.uid = ParseNumber(h + 108, 8, v) ? static_cast<uint32_t>(v) : 0;
        e.gid = ParseNumber(h + 116, 8, v) ? static_cast<uint32_t>(v) : 0;
        e.mtimeValid = ParseNumber(h + 136, 12, e.mtime);
        if (ustar) {
            e.uname = FieldString(h + 265, 32);
            e.gname = FieldString(h + 297, 32);
        }
        e.size = static_cast<uint64_t>(size);
        e.realSize = e.size;
        e.dataPos = dataPos;
        e.nextPos = next;
        if (type == 'S' && gnu) {
            // Old GNU sparse file: up to four map entries here, more in extension blocks.
            e.sparse = true;
            int64_t real;
            if (ParseNumber(h + 483, 12, real) && real >= 0) e.realSize = static_cast<uint64_t>(real);
            auto addChunks = [&](const uint8_t* p, int count) {
                for (int i = 0; i < count; ++i) {
                    int64_t off, len;
                    if (!ParseNumber(p + i * 24, 12, off) || !ParseNumber(p + i * 24 + 12, 12, len)) return;
                    if (off < 0 || len < 0 || (off == 0 && len == 0)) continue;
                    if (e.sparseMap.size() < 100000)
                        e.sparseMap.push_back({static_cast<uint64_t>(off), static_cast<uint64_t>(len)});
                }
            };
            addChunks(h + 386, 4);
            bool extended = h[482] != 0;
            uint64_t q = dataPos;
            for (int blocks = 0; extended && blocks < 100000; ++blocks) {
                uint8_t x[kBlock];
                if (q > fileSize || fileSize - q < kBlock || f.ReadAt(q, x, kBlock) != kBlock)
                    return ReadResult::Bad;
                addChunks(x, 21);
                extended = x[504] != 0;
                q += kBlock;
            }
            e.dataPos = q;
            e.nextPos = q + RoundUp(e.size);
        }
        // Long names and pax values override the header fields.
        auto val = [&](const char* key, std::string& out) {
            auto it = pax.find(key);
            if (it != pax.end()) {
                out = it->second;
                return true;
            }
            // A name or size in a global record cannot apply to every entry; only the shared attributes do.
            std::string_view k(key);
            if (k == "path" || k == "linkpath" || k == "size" || k.substr(0, 4) == "GNU.") return false;
            auto g = globals.values.find(key);
            if (g != globals.values.end()) {
                out = g->second;
                return true;
            }
            return false;
        };
        std::string s;
        if (!longName.empty()) name = longName;
        if (!longLink.empty()) e.linkName = longLink;
        // Names from pax records are UTF-8 by definition.
        if (val("path", s)) {
            name = s;
            e.nameIsUtf8 = true;
        }
        if (val("linkpath", s)) {
            e.linkName = s;
            e.linkIsUtf8 = true;
        }
        // A length record that cannot be read leaves the entry's end unknown: the walk cannot go on past it.
        auto badLength = [&](const char* key, const std::string& value) {
            e.name = name;
            e.problem = std::string("its pax ") + key + " record (\"" + value.substr(0, 40) +
                        (value.size() > 40 ? "..." : "") + "\") is not a length";
            return ReadResult::Bad;
        };
        int64_t num;
        if (val("size", s)) {
            if (!ParseDecimal(s, num) || num < 0 || s.find('.') != std::string::npos)
                return badLength("size", s);
            e.size = static_cast<uint64_t>(num);
            e.realSize = e.size;
            e.nextPos = e.dataPos + RoundUp(e.size);
            if (e.nextPos < e.dataPos) return badLength("size", s);
        }
        if (val("mtime", s) && ParseDecimal(s, num)) {
            e.mtime = num;
            e.mtimeValid = true;
        }
        if (val("uid", s) && ParseDecimal(s, num)) e.uid = static_cast<uint32_t>(num);
        if (val("gid", s) && ParseDecimal(s, num)) e.gid = static_cast<uint32_t>(num);
        if (val("uname", s)) e.uname = s;
        if (val("gname", s)) e.gname = s;
        if (val("GNU.sparse.realsize", s)) {
            if (!ParseDecimal(s, num) || num < 0) return badLength("GNU.sparse.realsize", s);
            e.realSize = static_cast<uint64_t>(num);
            e.sparse = true;
        }
        if (val("GNU.sparse.name", s)) {
            name = s;
            e.nameIsUtf8 = true;
        }
        // pax sparse files: 0.0 and 0.1 give the map in the header, 1.0 in front of the data.
        uint64_t u;
        if (val("GNU.sparse.size", s)) {
            if (!ParseUnsigned(s, u)) return badLength("GNU.sparse.size", s);
            e.realSize = u;
            e.sparse = true;
        }
        if (val("GNU.sparse.map", s)) {
            if (!ParseSparseList(s, e.sparseMap)) return ReadResult::Bad;
            e.sparse = true;
        } else if (val("GNU.sparse.major", s) && s == "1") {
            uint64_t mapBytes = ReadSparseMapInData(f, e.dataPos, e.size, e.sparseMap);
            if (mapBytes == 0) return ReadResult::Bad;
            e.dataPos += mapBytes;
            e.size -= mapBytes;
            e.sparse = true;
        }
        e.name = name;
        if (e.nextPos < e.dataPos) return ReadResult::Bad;
        return ReadResult::Ok;
    }
}

}  // namespace varnok::tar
