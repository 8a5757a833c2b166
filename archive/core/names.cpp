// Deciding the code page of an archive's legacy names.
//
// The bytes of a name rarely rule a code page out: every single-byte page decodes every byte, and the
// double-byte pages decode most runs of high bytes. What separates the right page from the others is that its
// reading looks like text somebody typed as a file name, and the others look like noise. So each candidate
// page of the origin reads the whole sample and is scored for plausibility; the best reading wins, ties going
// to the order in which the candidates are listed (the likelier pages first).
//
// The score of a reading is a sum over its non-ASCII characters and its words:
// - each character has a weight: common letters of a script are worth most, rarer letters less, typographic
//   punctuation about nothing, and what no one types into a file name (box drawing, block and geometric
//   shapes, mathematical operators, C1 controls, private-use characters, spacing accents) costs a lot. A byte
//   the page cannot decode costs most; a double-byte page that cannot decode a name has lost it.
// - for the double-byte pages the position of a character in its standard says how common it is: the JIS
//   level-1 kanji, the GB2312 level-1 hanzi, the Big5 frequent characters and the KS X 1001 hangul are worth
//   far more than the level-2 and extension areas, and a short list of each language's most frequent
//   characters (below) is worth more again. This is what makes CP932 "漢字表" beat its valid but obscure GBK
//   reading. Kana count strongly for the Japanese pages only: GB2312 and KS X 1001 have kana rows too.
// - words (runs of letters, ASCII included) must hold together: one script per word, Latin words mostly ASCII
//   letters with some accented ones (a word of accented letters only is how CP866 Russian looks in CP437), no
//   lower-to-upper case change on a non-ASCII letter inside a word (how KOI8-R looks in CP1251 and CP866 in
//   CP437), no symbol between two letters (how ISO-8859-2 Polish looks in CP1252), no run of letters in
//   code-point order (a code table, not a word), a vowel in every longer Cyrillic word, and the spelling
//   rules that fix where some letters may stand: Polish ń ć ś ź before no vowel, German ß after one, à ì ò ù
//   (Italian, French) only at the end of a word, Russian ь ъ after no vowel, one accent per Greek word, Greek
//   ς and Hebrew final letters at the end of a word only. Each of these is how one well-known misreading
//   looks.
// - the accented Latin letters of the whole reading should belong to one language (a mild cost per letter
//   outside the best one) and must belong to two at most (a larger one): French read as CP1250 gives č, ŕ and
//   ę, Polish read as CP1252 gives ê and æ.
// - the charset detector's answer, mapped to a candidate, earns a bonus that grows with the amount of text
//   and with how much its kind of answer can be trusted: a CJK or Cyrillic answer means something, a Western
//   answer on a few names means little.
// When even the best reading is noise (a cabinet whose names are runs of all high bytes), the fine
// differences between readings mean nothing: the likeliest page that produces nothing no one would type is
// taken. Speed: every reading scores the first 128 components, readings far behind then drop out, and only
// the close ones (usually one, or a few equivalent pages) read the rest of the sample. Pure-ASCII names are
// not sampled; path components are sampled once each (split at "/", which no double-byte page uses as a trail
// byte; "\" is one, so it is not split at), so a folder repeated in every path counts once.
//
// Decoding goes through an iconv converter per page that stays open; a byte the page cannot decode is read
// through a single-byte fallback page, and a fallback character that the page itself could produce is
// replaced by a private-use one (U+F0000 + byte), so that two different names never decode to the same text
// because of the fallback.
#include "archive/core/names.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bitset>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>

#include "platform/charset.h"
#include "platform/codepage.h"

namespace varnok {

namespace {

using platform::AppendUtf8;
using platform::kBadUtf8;
using platform::NextUtf8;

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool IsUtf8Name(const std::string& page) {
    return page == "UTF-8" || page == "UTF8";
}

// ---------------------------------------------------------------------------------------------------------
// Code pages

// How a page's bytes make characters, which is also how its standard is laid out.
enum class Layout : uint8_t { Single, Sjis, EucJp, Gbk, Big5, Uhc };

// The kind of text a page is for; the detector's answers are mapped onto candidates through it.
enum class Family : uint8_t {
    Western,
    Central,
    Cyrillic,
    Greek,
    Turkish,
    Hebrew,
    Baltic,
    Japanese,
    ChineseS,
    ChineseT,
    Korean,
    Other
};

struct PageInfo {
    const char* name;
    Layout layout;
    Family family;
};

constexpr PageInfo kPages[] = {
    {"CP437", Layout::Single, Family::Western},
    {"CP850", Layout::Single, Family::Western},
    {"CP860", Layout::Single, Family::Western},
    {"CP865", Layout::Single, Family::Western},
    {"CP1252", Layout::Single, Family::Western},
    {"ISO-8859-15", Layout::Single, Family::Western},
    {"MACINTOSH", Layout::Single, Family::Western},
    {"CP852", Layout::Single, Family::Central},
    {"CP1250", Layout::Single, Family::Central},
    {"ISO-8859-2", Layout::Single, Family::Central},
    {"MAC-CENTRALEUROPE", Layout::Single, Family::Central},
    {"CP866", Layout::Single, Family::Cyrillic},
    {"CP1251", Layout::Single, Family::Cyrillic},
    {"KOI8-R", Layout::Single, Family::Cyrillic},
    {"KOI8-U", Layout::Single, Family::Cyrillic},
    {"ISO-8859-5", Layout::Single, Family::Cyrillic},
    {"MAC-CYRILLIC", Layout::Single, Family::Cyrillic},
    {"CP855", Layout::Single, Family::Cyrillic},
    {"CP1125", Layout::Single, Family::Cyrillic},
    {"MIK", Layout::Single, Family::Cyrillic},
    {"CP737", Layout::Single, Family::Greek},
    {"CP1253", Layout::Single, Family::Greek},
    {"ISO-8859-7", Layout::Single, Family::Greek},
    {"CP857", Layout::Single, Family::Turkish},
    {"CP1254", Layout::Single, Family::Turkish},
    {"CP862", Layout::Single, Family::Hebrew},
    {"CP1255", Layout::Single, Family::Hebrew},
    {"CP775", Layout::Single, Family::Baltic},
    {"CP1257", Layout::Single, Family::Baltic},
    {"CP932", Layout::Sjis, Family::Japanese},
    {"EUC-JP", Layout::EucJp, Family::Japanese},
    {"CP936", Layout::Gbk, Family::ChineseS},
    {"CP950", Layout::Big5, Family::ChineseT},
    {"CP949", Layout::Uhc, Family::Korean},
};

const PageInfo* FindPage(const std::string& name) {
    for (const PageInfo& p : kPages)
        if (name == p.name) return &p;
    return nullptr;
}

// Candidates in prior order. The Dos list is preceded by the configured OEM page.
constexpr const char* kDosCandidates[] = {"CP437", "CP850", "CP852",  "CP866",  "CP932",  "CP936",
                                          "CP949", "CP950", "CP1252", "CP1250", "CP1251", "CP865",
                                          "CP860", "CP737", "CP857",  "CP862",  "CP1125", "MIK",
                                          "CP855", "CP775", "CP1253", "CP1254", "CP1255", "CP1257"};
constexpr const char* kUnixCandidates[] = {
    "CP1252", "ISO-8859-2", "CP1251", "KOI8-R", "KOI8-U",     "ISO-8859-15", "CP1250", "EUC-JP",
    "CP932",  "CP936",      "CP950",  "CP949",  "ISO-8859-7", "CP1253",      "CP1254", "CP1255",
    "CP866",  "ISO-8859-5", "CP1257", "CP437",  "CP850",      "CP852"};
constexpr const char* kMacCandidates[] = {"MACINTOSH", "CP932", "MAC-CYRILLIC", "MAC-CENTRALEUROPE",
                                          "CP936",     "CP950", "CP949"};

constexpr char32_t kUndefined = 0xFFFFFFFF;  // the page does not decode this byte or pair
constexpr char32_t kLeadByte = 0xFFFFFFFE;   // first byte of a double-byte character

bool IsLeadByte(Layout layout, unsigned b) {
    switch (layout) {
        case Layout::Sjis:
            return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        case Layout::EucJp:
            return b == 0x8E || b == 0x8F || (b >= 0xA1 && b <= 0xFE);
        case Layout::Gbk:
        case Layout::Big5:
        case Layout::Uhc:
            return b >= 0x81 && b <= 0xFE;
        default:
            return false;
    }
}

// One character from exactly these bytes, or kUndefined.
char32_t DecodeOne(platform::Converter& conv, const char* bytes, size_t n, std::string& out) {
    out.clear();
    if (conv.ConvertSome(std::string_view(bytes, n), out) != n) return kUndefined;
    size_t pos = 0;
    const char32_t cp = NextUtf8(out, pos);
    if (cp == kBadUtf8 || pos != out.size()) return kUndefined;  // not exactly one character
    return cp;
}

// A page's decoding, read through iconv once per process: the single bytes when the table is made, each row
// of double-byte characters (one lead byte, or EUC-JP's 0x8F and a second byte) the first time a name uses
// it, so that a decision reads a handful of rows instead of converting sixty thousand pairs.
class PageTable {
  public:
    using Row = std::array<char32_t, 192>;  // by trail byte - 0x40

    PageTable(const std::string& name, Layout layout) : layout(layout), conv_(name, "UTF-8") {
        std::string out;
        for (unsigned b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            single[b] = DecodeOne(conv_, &c, 1, out);
            if (single[b] == kUndefined && IsLeadByte(layout, b)) single[b] = kLeadByte;
        }
    }
    bool IsOpen() const { return conv_.IsOpen(); }

    const Layout layout;
    std::array<char32_t, 256> single{};

    char32_t Pair(unsigned lead, unsigned trail) const {
        return trail < 0x40 ? kUndefined : RowFor(lead - 0x80, {static_cast<char>(lead)})[trail - 0x40];
    }
    char32_t Jis0212(unsigned b2, unsigned b3) const {
        if (b2 < 0xA1 || b2 > 0xFE || b3 < 0x40) return kUndefined;
        return RowFor(128 + (b2 - 0xA1), {'\x8F', static_cast<char>(b2)})[b3 - 0x40];
    }

  private:
    const Row& RowFor(size_t id, std::string prefix) const {
        if (const Row* row = rows_[id].load(std::memory_order_acquire)) return *row;
        std::lock_guard lock(mutex_);
        if (const Row* row = rows_[id].load(std::memory_order_relaxed)) return *row;
        auto row = std::make_unique<Row>();
        std::string bytes = prefix + ' ', out;
        for (unsigned trail = 0x40; trail < 0x100; ++trail) {
            bytes.back() = static_cast<char>(trail);
            (*row)[trail - 0x40] = DecodeOne(conv_, bytes.data(), bytes.size(), out);
        }
        rows_[id].store(row.get(), std::memory_order_release);
        return *owned_.emplace_back(std::move(row));
    }

    mutable std::mutex mutex_;
    mutable platform::Converter conv_;
    mutable std::array<std::atomic<const Row*>, 128 + 94> rows_{};
    mutable std::vector<std::unique_ptr<Row>> owned_;
};

// The tables of all pages ever scored, built on first use and kept for the process.
const PageTable* TableFor(const std::string& name, Layout layout) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<PageTable>> tables;
    std::lock_guard lock(mutex);
    auto it = tables.find(name);
    if (it == tables.end()) {
        auto t = std::make_unique<PageTable>(name, layout);
        it = tables.emplace(name, t->IsOpen() ? std::move(t) : nullptr).first;
    }
    return it->second.get();
}

// ---------------------------------------------------------------------------------------------------------
// Characters

enum class Script : uint8_t { None, Latin, Cyrillic, Greek, Hebrew, Arabic, Thai, Cjk };
enum class Case : uint8_t { None, Upper, Lower };

char32_t ToLower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x137) return c & 1 ? c : c + 1;
    if (c >= 0x139 && c <= 0x148) return c & 1 ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c & 1 ? c : c + 1;
    if (c >= 0x179 && c <= 0x17E) return c & 1 ? c + 1 : c;
    if (c >= 0x218 && c <= 0x21B) return c & 1 ? c : c + 1;
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 0x25;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 0x3F;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x490 && c <= 0x4BF) return c & 1 ? c : c + 1;
    return c;
}

bool HasUpper(char32_t c) {
    if (c >= 'a' && c <= 'z') return true;
    if (c >= 0xE0 && c <= 0xFF) return c != 0xF7;
    if (c == 0x131) return true;
    if (c >= 0x100 && c <= 0x137) return c & 1;
    if (c >= 0x139 && c <= 0x148) return !(c & 1);
    if (c >= 0x14A && c <= 0x177) return c & 1;
    if (c >= 0x179 && c <= 0x17E) return !(c & 1);
    if (c >= 0x218 && c <= 0x21B) return c & 1;
    if (c >= 0x3AC && c <= 0x3CE) return c != 0x3B0;
    if (c >= 0x430 && c <= 0x45F) return true;
    if (c >= 0x490 && c <= 0x4BF) return c & 1;
    return false;
}

Case CaseOf(char32_t c) {
    if (ToLower(c) != c) return Case::Upper;
    return HasUpper(c) ? Case::Lower : Case::None;
}

bool IsCjk(char32_t c) {
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x3130 && c <= 0x318F) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF61 && c <= 0xFF9F) || (c >= 0x20000 && c <= 0x2FFFF);
}

// The script of a letter; None for anything else (digits, punctuation, symbols, controls).
Script ScriptOf(char32_t c) {
    if (c < 0x80) return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ? Script::Latin : Script::None;
    if (c < 0xC0) return (c == 0xAA || c == 0xBA) ? Script::Latin : Script::None;
    if (c <= 0x24F) return (c == 0xD7 || c == 0xF7) ? Script::None : Script::Latin;
    if (c >= 0x1E00 && c <= 0x1EFF) return Script::Latin;
    if (c >= 0x386 && c <= 0x3FF && c != 0x387) return Script::Greek;
    if (c >= 0x400 && c <= 0x52F) return (c >= 0x482 && c <= 0x489) ? Script::None : Script::Cyrillic;
    if (c >= 0x5D0 && c <= 0x5EA) return Script::Hebrew;
    if (c >= 0x620 && c <= 0x64A) return Script::Arabic;
    if (c >= 0xE01 && c <= 0xE3A) return Script::Thai;
    if (IsCjk(c)) return Script::Cjk;
    return Script::None;
}

// Letter weights: how likely a letter is in a file name typed in a language that uses it. Built from lists
// of lower-case letters, most frequent first.
struct LetterWeights {
    std::array<float, 0x250> latin{};
    std::array<float, 0x60> cyrillic{};  // U+0400..U+045F
    std::array<float, 0x80> greek{};     // U+0380..U+03FF

    static void Fill(float* table, char32_t base, size_t size, std::string_view letters, float w) {
        for (size_t pos = 0; pos < letters.size();) {
            const char32_t c = NextUtf8(letters, pos);
            if (c >= base && c - base < size) table[c - base] = w;
        }
    }

    LetterWeights() {
        for (char32_t c = 0xC0; c < 0x250; ++c)
            latin[c] = 0.2f;  // Latin letters not listed below
        latin[0xD7] = latin[0xF7] = 0;
        Fill(latin.data(), 0, latin.size(), "éèàçäöüßáíóúñãõâêôåøłąęśżćńčřšžěůýőűğşıî", 1.0f);
        Fill(latin.data(), 0, latin.size(), "æëïûùìòœźďťňĺľŕÿășțţāēīūėįųļķņģđ", 0.6f);
        Fill(latin.data(), 0, latin.size(), "ƒ", -1.5f);
        for (float& w : cyrillic)
            w = -0.2f;
        Fill(cyrillic.data(), 0x400, cyrillic.size(), "оеаинтсрвлкмдпу", 1.0f);
        Fill(cyrillic.data(), 0x400, cyrillic.size(), "яыьгзбчйхжшюіъ", 0.6f);
        Fill(cyrillic.data(), 0x400, cyrillic.size(), "цщэфёїєґ", 0.3f);
        for (float& w : greek)
            w = -0.5f;
        Fill(greek.data(), 0x380, greek.size(), "αειοτσςνηυρκπμλάέίόήύώ", 1.0f);
        Fill(greek.data(), 0x380, greek.size(), "ωδγχθφβ", 0.7f);
        Fill(greek.data(), 0x380, greek.size(), "ξζψϊϋΐΰ", 0.4f);
    }
};

const LetterWeights& Letters() {
    static const LetterWeights w;
    return w;
}

// Weight of a non-ASCII character read by a single-byte page (or anything that is not an ideograph, kana or
// hangul on a double-byte page).
float CharWeight(char32_t c) {
    if (c >= 0x80 && c < 0xA0) return -4.0f;
    if (c < 0x250) {
        switch (c) {
            case 0xA0:
                return -1.5f;
            case 0xAD:
                return -2.0f;
            case 0xA1:
            case 0xBF:
            case 0xB2:
                return -0.6f;
            case 0xA3:
            case 0xA7:
            case 0xAE:
            case 0xB0:
                return -0.4f;
            case 0xA9:
            case 0xAA:
            case 0xBA:
                return -0.3f;
            case 0xAB:
            case 0xBB:
                return -0.2f;
            case 0xA5:
            case 0xB3:
            case 0xB5:
            case 0xB7:
                return -0.8f;
            case 0xBC:
            case 0xBD:
            case 0xBE:
                return -0.7f;
            case 0xB9:
            case 0xD7:
                return -1.0f;
            case 0xA2:
            case 0xB1:
            case 0xF7:
                return -1.2f;
            case 0xA4:
            case 0xA6:
            case 0xA8:
            case 0xAC:
            case 0xAF:
            case 0xB4:
            case 0xB6:
            case 0xB8:
                return -1.5f;
            case 0x130:
                return 1.0f;  // İ
            default:
                return c >= 0xC0 ? Letters().latin[ToLower(c)] : -1.0f;
        }
    }
    if (c >= 0x400 && c < 0x530) {
        const char32_t l = ToLower(c);
        return l < 0x460 ? Letters().cyrillic[l - 0x400] : -0.5f;
    }
    if (c >= 0x380 && c < 0x400) return Letters().greek[ToLower(c) - 0x380];
    if (c >= 0x5D0 && c <= 0x5EA) return 1.0f;
    if (c >= 0x5B0 && c <= 0x5C7) return -1.5f;  // vowel points: rare in names
    if (c >= 0x620 && c <= 0x64A) return 0.7f;
    if (c >= 0xE01 && c <= 0xE3A) return 0.6f;
    if (c >= 0x1E00 && c <= 0x1EFF) return 0.2f;
    switch (c) {
        case 0x2013:
        case 0x2014:
        case 0x201C:
        case 0x201D:
            return -0.1f;
        case 0x2018:
        case 0x2019:
        case 0x2116:
            return 0.0f;
        case 0x2026:
        case 0x20AC:
            return -0.3f;
        case 0x201E:
            return -0.4f;
        case 0x2122:
            return -0.6f;
        case 0x2022:
            return -1.0f;
        case 0x201A:
        case 0x2039:
        case 0x203A:
            return -1.2f;
        case 0x2020:
        case 0x2021:
        case 0x2030:
            return -1.5f;
        case 0x20A7:
        case 0x207F:
            return -2.0f;
        default:
            break;
    }
    if (c >= 0x2B0 && c <= 0x2FF) return -1.5f;    // spacing modifiers: ˆ ˜ ˇ ˘ ˙ ˛ ˝
    if (c >= 0x300 && c <= 0x36F) return -1.0f;    // combining marks
    if (c >= 0x2160 && c <= 0x217F) return -0.3f;  // Roman numerals
    if (c >= 0x2190 && c <= 0x21FF) return -1.5f;  // arrows
    if (c >= 0x2200 && c <= 0x23FF) return -2.0f;  // mathematical operators, technical
    if (c >= 0x2460 && c <= 0x24FF) return -1.5f;  // enclosed alphanumerics
    if (c >= 0x2500 && c <= 0x25FF) return -2.5f;  // box drawing, blocks, geometric shapes
    if (c >= 0x2600 && c <= 0x26FF) return -1.5f;
    if ((c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000) return -5.0f;  // private use: user-defined areas
    if (c == 0xFFFD || c < 0x20 || c == 0x7F) return -4.0f;
    return -1.0f;
}

// The most frequent characters of each CJK language, as found in running text and in the words file names are
// made of (document, report, photo, music...). A reading by the wrong page lands on these only by chance.
constexpr std::string_view kCommonHanziSimplified =
    "的一是不了在人有我他这个们中来上大为和国地到以说时要就出会可也你对生能而子那得于着下自之年过发后作里用道"
    "行所然"
    "家种事成方多经么去法学如都同现当没动面起看定天分还进好小部其些主样理心她本前开但因只从想实日军者意无力它"
    "与长把"
    "机十民第公此已工使情明性知全三又关点正业外将两高间由问很最重并物手应战向头文体政美相见被利什二等产或新己"
    "制身果"
    "加西斯月话合回特代内信表化老给世位次度门任常先海通教儿原东声提立及比员解水名真论处走义各入几口认条平系气"
    "题活尔"
    "更别打女变四神总何电数安少报才结反受目太量再感建务做接必场件计管期市直德资命山金指克许统区保至队形社便空"
    "决治展"
    "马科司五基眼书非则听白却界达光放强即像难且权思王象完设式色路记南品住告类求据程北边死张该交规万取拉格望觉"
    "术领共"
    "确传师观清今切院让识候带导争运笑飞风步改收根干造言联持组每济车亲极林服快办议往元英士证近失转夫令准布始怎"
    "呢存未"
    "远叫台单影具罗字爱击流备兵连调深商算质团集百需价花党华城石级整府离况亚请技际约示复病息究线似官火断精满支"
    "视消越"
    "器容照须九增研写称企八功吗包片史委乎查轻易早曾除农找装广显吧阿李标谈吃图念六引历首医局突专费号尽另周较注"
    "语仅考"
    "落青随选列武红响虽推势参希古众构房半节土投某案黑维革划敢诉批江友害族值继波班"
    "档夹料册音乐频载份项录简历划终稿版附邮网页截屏桌脑歌曲剧游戏壁纸扫描印账票预析验测课练习卷答试"
    "作业笔记志草修改确认知申审批销售客户户型软件安装序统置明户演示培训教材模板样封面目录合同会议总结";
constexpr std::string_view kCommonHanziTraditional =
    "的一是不了在人有我他這個們中來上大為和國地到以說時要就出會可也你對生能而子那得於著下自之年過發後作裡用道"
    "行所然"
    "家種事成方多經麼去法學如都同現當沒動面起看定天分還進好小部其些主樣理心她本前開但因只從想實日軍者意無力它"
    "與長把"
    "機十民第公此已工使情明性知全三又關點正業外將兩高間由問很最重並物手應戰向頭文體政美相見被利什二等產或新己"
    "制身果"
    "加西斯月話合回特代內信表化老給世位次度門任常先海通教兒原東聲提立及比員解水名真論處走義各入幾口認條平系氣"
    "題活爾"
    "更別打女變四神總何電數安少報才結反受目太量再感建務做接必場件計管期市直德資命山金指克許統區保至隊形社便空"
    "決治展"
    "馬科司五基眼書非則聽白卻界達光放強即像難且權思王象完設式色路記南品住告類求據程北邊死張該交規萬取拉格望覺"
    "術領共"
    "確傳師觀清今切院讓識候帶導爭運笑飛風步改收根乾造言聯持組每濟車親極林服快辦議往元英士證近失轉夫令準布始怎"
    "呢存未"
    "遠叫台單影具羅字愛擊流備兵連調深商算質團集百需價花黨華城石級整府離況亞請技際約示復病息究線似官火斷精滿支"
    "視消越"
    "器容照須九增研寫稱企八功嗎包片史委乎查輕易早曾除農找裝廣顯吧阿李標談吃圖念六引歷首醫局突專費號盡另周較注"
    "語僅考"
    "落青隨選列武紅響雖推勢參希古眾構房半節土投某案黑維革劃敢訴批江友害族值繼波班"
    "檔夾料冊音樂頻載份項錄簡歷稿版附郵網頁截螢幕桌腦歌曲劇遊戲桌布掃描印帳票預析驗測課練習卷答試"
    "業筆誌草修改確認申審核銷售客戶軟體安裝程式統設定演示培訓教材範本樣封面目錄合同會議總結";
constexpr std::string_view kCommonKanji =
    "日一国会人年大十二本中長出三同時政事自行社見月分議後前民生連五発間対上部東者党地合市業内相方四定今回新場"
    "金員九入"
    "選立開手米力学問高代明実円関決子動京全目表戦経通外最言氏現理調体化田当八六約主題下首意法不来作性的要用制"
    "治度務強"
    "気小七成期公持野協取都和統以機平総加山思家話世受区領多県続進正安設保改数記院女初北午指権心界支第産結百派"
    "点教報済"
    "書府活原先共得解名交資予川向際査勝面委告軍文反元重近千考判認画海参売利組知案道信策集在件団別物側任引使求"
    "所次水半"
    "品昨論計死官増係感特情投示変打男基私各始島直両朝革価式確村提運終挙果西勢減台広容必応演電歳住争談能無再位"
    "置企真流"
    "格有疑口過局少放税検藤町常校料沢裁状工建語球営空職証土与急止送援供可役構木割聞身費付施切由説転食比難防補"
    "車優夫研"
    "収断井何南石足違消境神番規術護展態導鮮備宅害配副算視条幹独警宮究育席輸訪楽起万着乗店述残想線率病農州武声"
    "質念待試"
    "族象銀域助労例衛然早張映限親額監環験追審商葉義伝働形景落欧担好退準賞訴辺造英被株頭技低毎医復仕去姿味負閣"
    "韓渡失移"
    "差衆個門写評課末守若脳極種美岡影命含福蔵量望松非撃佐核観察整段横融型白深字答夜製票況音申様財港識注呼渉達"
    "録写真画像動楽書類企画提案積請求契約事仕様図面簿住所覧予管理顧客売集計析試験問題授業講義習帳旧保存用版資"
    "料写";
constexpr std::string_view kCommonHangul =
    "이다의는에하고을서한가지로기사리자대도어일수정시아인를나전주해국문보제으적부상소원장들우것거만동과성여그"
    "게습니라비"
    "구공없경위모오면신세화실내조요미진안중연개발되터생무러마학관계방합말업식용람금년회물선단월분당통치명불트"
    "드심산반데"
    "저차점체초결속야새작행현후강력료영권친육임역직함감준급석교변복태특판표각건군근길남녀노농능두득량례록론류"
    "립망목민박"
    "백번법병본봉북빛살색설송술숙승아악애약양언열염예온완왕외욕운유은음응익입잔재절접존종좌죽증질집착찬참창책"
    "처천청총"
    "최추축출충취측층친칠침타탁탄탈탐택토퇴투파팔패편평폐포품풍피필할항핵향허험혁혈협형호혼홍확환활황획효훈휴"
    "흐흑흥희"
    "힘파일폴더백업설치영상악노래화드라마어록과제프로젝트업무리목폴더새자료진보고서획발표수업강의험";

// A set of characters kept as bits over one block of code points.
template <char32_t kFirst, char32_t kLast>
struct CharSet {
    std::bitset<kLast - kFirst + 1> bits;
    explicit CharSet(std::string_view chars) {
        for (size_t pos = 0; pos < chars.size();) {
            const char32_t c = NextUtf8(chars, pos);
            if (c >= kFirst && c <= kLast) bits.set(c - kFirst);
        }
    }
    bool Has(char32_t c) const { return c >= kFirst && c <= kLast && bits.test(c - kFirst); }
};
using HanSet = CharSet<0x4E00, 0x9FFF>;
using HangulSet = CharSet<0xAC00, 0xD7A3>;

bool CommonHan(Layout layout, char32_t c) {
    static const HanSet simplified(kCommonHanziSimplified);
    static const HanSet traditional(kCommonHanziTraditional);
    static const HanSet kanji(kCommonKanji);
    switch (layout) {
        case Layout::Sjis:
        case Layout::EucJp:
            return kanji.Has(c);
        case Layout::Gbk:
            return simplified.Has(c);
        case Layout::Big5:
            return traditional.Has(c);
        default:
            return false;
    }
}

bool CommonHangul(char32_t c) {
    static const HangulSet hangul(kCommonHangul);
    return hangul.Has(c);
}

// Where a double-byte character stands in its standard: the common area, the rarer area, or extensions.
enum class Area : uint8_t { Common, Rare, Extension };

Area HanArea(Layout layout, unsigned lead, unsigned trail) {
    const unsigned code = lead << 8 | trail;
    switch (layout) {
        case Layout::Sjis:  // JIS X 0208 level 1 is 889F-9872, level 2 989F-EAA4; ED-EE, FA-FC are extensions
            if (code >= 0x889F && code <= 0x9872) return Area::Common;
            if (code >= 0x989F && code <= 0xEAA4) return Area::Rare;
            return Area::Extension;
        case Layout::EucJp:  // rows 16-47 level 1, 48-84 level 2
            if (lead >= 0xB0 && lead <= 0xCF) return Area::Common;
            if (lead >= 0xD0 && lead <= 0xF4) return Area::Rare;
            return Area::Extension;
        case Layout::Gbk:  // GB2312 level 1 rows B0-D7, level 2 D8-F7, trail A1-FE; the rest is GBK's
                           // addition
            if (trail < 0xA1) return Area::Extension;
            if (lead >= 0xB0 && lead <= 0xD7) return Area::Common;
            if (lead >= 0xD8 && lead <= 0xF7) return Area::Rare;
            return Area::Extension;
        case Layout::Big5:  // frequent characters A440-C67E, less frequent C940-F9D5
            if (code >= 0xA440 && code <= 0xC67E) return Area::Common;
            if (code >= 0xC940 && code <= 0xF9D5) return Area::Rare;
            return Area::Extension;
        case Layout::Uhc:  // KS X 1001 hanja CA-FD (hangul is scored apart)
            if (lead >= 0xCA && lead <= 0xFD && trail >= 0xA1) return Area::Rare;
            return Area::Extension;
        default:
            return Area::Extension;
    }
}

bool JapaneseLayout(Layout l) {
    return l == Layout::Sjis || l == Layout::EucJp;
}

// Weight of a character that took two (or three) bytes on a double-byte page.
float WideCharWeight(Layout layout, unsigned lead, unsigned trail, char32_t c) {
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF)) {
        // Real names are mostly made of the frequent characters; a wrong page's reading lands on them only
        // as often as their share of the area, so the other characters of the common area are worth little.
        if (layout == Layout::Uhc) return -0.8f;  // hanja: Korean names are written in hangul
        const bool common = CommonHan(layout, c);
        switch (HanArea(layout, lead, trail)) {
            case Area::Common:
                return common ? 3.2f : 0.0f;
            case Area::Rare:
                return common ? 1.5f : -0.5f;
            case Area::Extension:
                return common ? 0.0f : -1.0f;
        }
    }
    if (c >= 0x3041 && c <= 0x30FF) return JapaneseLayout(layout) ? 2.6f : 0.2f;  // kana
    if (c >= 0xAC00 && c <= 0xD7A3) {
        if (layout != Layout::Uhc) return 0.0f;
        const bool ks = lead >= 0xB0 && lead <= 0xC8 && trail >= 0xA1;  // KS X 1001 hangul
        if (ks) return CommonHangul(c) ? 3.0f : 0.2f;
        return CommonHangul(c) ? 0.8f : -0.5f;
    }
    if (c >= 0x3130 && c <= 0x318F) return -0.2f;  // compatibility jamo
    if ((c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||
        (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF60))
        return 0.8f;                               // CJK and full-width punctuation
    if (c >= 0xFF10 && c <= 0xFF5A) return 0.3f;   // full-width letters and digits
    if (c >= 0xFF61 && c <= 0xFF9F) return 0.4f;   // half-width katakana (EUC-JP 8E)
    if (c >= 0xF900 && c <= 0xFAFF) return -0.5f;  // compatibility ideographs
    if (c >= 0x25A0 && c <= 0x26FF) return -0.5f;  // ○ ● □ ■ △ ★ in Japanese names
    if (c >= 0x2460 && c <= 0x24FF) return -0.2f;  // ① ②
    if (c >= 0x2160 && c <= 0x217F) return -0.3f;  // Ⅰ Ⅱ
    if ((c >= 0x391 && c <= 0x3C9) || (c >= 0x410 && c <= 0x451)) return -1.0f;  // full-width Greek, Cyrillic
    if (c >= 0x2500 && c <= 0x257F) return -2.5f;
    const float w = CharWeight(c);
    return w > 0 ? 0.0f : w;  // a Latin letter from a double-byte row is nothing to go by
}

// ---------------------------------------------------------------------------------------------------------
// Scoring a reading

struct Unit {
    char32_t cp;   // kUndefined for bytes the page cannot decode
    float weight;  // 0 for ASCII
};

// Reads one sampled component with a page's table.
void ReadWithTable(const PageTable& t, std::string_view s, std::vector<Unit>& out) {
    out.clear();
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out.push_back({b, 0.0f});
            ++i;
            continue;
        }
        const char32_t cp = t.single[b];
        if (cp == kLeadByte) {
            char32_t wide = kUndefined;
            size_t len = 2;
            unsigned trail = i + 1 < n ? static_cast<unsigned char>(s[i + 1]) : 0;
            if (t.layout == Layout::EucJp && b == 0x8F) {
                len = 3;
                const unsigned b3 = i + 2 < n ? static_cast<unsigned char>(s[i + 2]) : 0;
                if (trail >= 0xA1 && trail < 0xFF && b3 >= 0xA1 && b3 < 0xFF) wide = t.Jis0212(trail, b3);
            } else if (i + 1 < n) {
                wide = t.Pair(b, trail);
            }
            if (wide == kUndefined) {
                out.push_back({kUndefined, -6.0f});
                ++i;
                continue;
            }
            out.push_back({wide, len == 3 ? -0.8f : WideCharWeight(t.layout, b, trail, wide)});
            i += len;
            continue;
        }
        if (cp == kUndefined) {
            out.push_back({kUndefined, t.layout == Layout::Single ? -4.0f : -6.0f});
        } else if (t.layout != Layout::Single) {
            out.push_back({cp, cp >= 0xFF61 && cp <= 0xFF9F ? 0.4f : CharWeight(cp)});
        } else {
            out.push_back({cp, CharWeight(cp)});
        }
        ++i;
    }
}

// Reads one sampled component as UTF-8; `sequences` counts the multi-byte characters.
void ReadAsUtf8(std::string_view s, std::vector<Unit>& out, size_t& sequences) {
    out.clear();
    for (size_t pos = 0; pos < s.size();) {
        const char32_t cp = NextUtf8(s, pos);
        if (cp == kBadUtf8) {
            out.push_back({kUndefined, -6.0f});
        } else if (cp < 0x80) {
            out.push_back({cp, 0.0f});
        } else {
            ++sequences;
            float w;
            if ((cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0x3400 && cp <= 0x4DBF))
                w = CommonHan(Layout::Gbk, cp) || CommonHan(Layout::Big5, cp) || CommonHan(Layout::Sjis, cp)
                        ? 3.2f
                        : 1.6f;
            else if (cp >= 0x3041 && cp <= 0x30FF)
                w = 2.6f;
            else if (cp >= 0xAC00 && cp <= 0xD7A3)
                w = CommonHangul(cp) ? 3.0f : 1.2f;
            else if (IsCjk(cp) || (cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFF01 && cp <= 0xFF60))
                w = 0.8f;
            else
                w = CharWeight(cp);
            out.push_back({cp, w});
        }
    }
}

// The accented Latin letters each language writes (lower case).
constexpr std::string_view kLanguages[] = {
    "äöüß",
    "éèàçêâôîûëïùœæ",
    "áéíóúñü",
    "áéíóúâêôãõçà",
    "àèéìòùíóî",
    "àèéíïòóúç",
    "éëïèöü",
    "åäöé",
    "äöåšž",
    "æøåé",
    "áéíóúýþæöð",
    "ąćęłńóśźż",
    "áčďéěíňóřšťúůýž",
    "áäčďéíĺľňóôŕšťúýž",
    "áéíóöőúüű",
    "çğıöşüâîİ",
    "ăâîșțşţ",
    "čćđšž",
    "āčēģīķļņšūž",
    "ąčęėįšųūž",
    "äõöüšž",
    "çë",
};

struct LanguageSets {
    std::vector<std::bitset<0x250>> sets;
    LanguageSets() {
        for (std::string_view letters : kLanguages) {
            std::bitset<0x250> b;
            for (size_t pos = 0; pos < letters.size();) {
                const char32_t c = NextUtf8(letters, pos);
                if (c < 0x250) b.set(c);
            }
            sets.push_back(b);
        }
    }
};

// What a reading of the whole sample is worth.
class ReadingScore {
  public:
    void AddComponent(const std::vector<Unit>& units) {
        Word w;
        bool symbolAfterLetter = false;
        bool prevLetter = false;
        char32_t prevCp = 0;
        bool sawCjk = false;
        int run = 0;          // letters in a row with consecutive code points
        float runWeight = 0;  // their weights
        for (const Unit& u : units) {
            if (u.cp >= 0x80) {
                score_ += u.weight;
                nonAsciiWeight_ += u.weight;
                if (u.weight < -1.9f) ++hard_;
            }
            const Script script = u.cp == kUndefined ? Script::None : ScriptOf(u.cp);
            sawCjk |= script == Script::Cjk;
            if (script != Script::None && script != Script::Cjk) {
                if (symbolAfterLetter) score_ -= 2.0f;  // a symbol between two letters
                symbolAfterLetter = false;
                // A run of four or more letters in code-point order ("АБВГ", "àáâã") is a table, not a word:
                // its letters count as nothing but noise.
                if (u.cp >= 0x80 && prevLetter && u.cp == prevCp + 1) {
                    ++run;
                    runWeight += u.weight;
                    if (run == 4) score_ -= runWeight + 4.0f;
                    if (run > 4) score_ -= u.weight + 1.0f;
                } else {
                    run = 1;
                    runWeight = u.weight;
                }
                AddLetter(w, u.cp, script);
                prevLetter = true;
                prevCp = u.cp;
                continue;
            }
            EndWord(w);
            symbolAfterLetter = prevLetter && u.cp != kUndefined && u.cp >= 0x80 && u.weight < -0.5f &&
                                script == Script::None;
            prevLetter = false;
            run = 0;
        }
        EndWord(w);
        if (!sawCjk) return;
        // Ideographs, kana or hangul wedged between two ASCII letters ("Pr市entation") are how a lead byte
        // swallows the letter after an accented one; real names put them at word boundaries.
        for (size_t i = 1; i + 1 < units.size(); ++i) {
            if (!IsAsciiLetter(units[i - 1].cp) || ScriptOf(units[i].cp) != Script::Cjk) continue;
            size_t j = i;
            while (j < units.size() && ScriptOf(units[j].cp) == Script::Cjk)
                ++j;
            if (j < units.size() && IsAsciiLetter(units[j].cp)) score_ -= 2.5f * static_cast<float>(j - i);
            i = j;
        }
        // Touching an ASCII letter on one side is common enough ("Windows版") but still a mild sign.
        for (size_t i = 0; i < units.size(); ++i) {
            if (ScriptOf(units[i].cp) != Script::Cjk) continue;
            size_t j = i;
            while (j < units.size() && ScriptOf(units[j].cp) == Script::Cjk)
                ++j;
            const bool before = i > 0 && IsAsciiLetter(units[i - 1].cp);
            const bool after = j < units.size() && IsAsciiLetter(units[j].cp);
            if (before != after) score_ -= 1.0f;
            i = j;
        }
    }

    // Characters no one types into a file name (box drawing, operators, controls, undecodable bytes).
    size_t Hard() const { return hard_; }

    // The total, after the language test over all accented Latin letters seen.
    float Total() const {
        uint32_t all = 0;
        for (uint32_t n : latin_)
            all += n;
        if (all == 0) return score_;
        static const LanguageSets languages;
        const auto& sets = languages.sets;
        std::vector<std::pair<char32_t, uint32_t>> seen;
        for (char32_t c = 0xC0; c < latin_.size(); ++c)
            if (latin_[c]) seen.emplace_back(c, latin_[c]);
        uint32_t bestPair = 0, bestOne = 0;
        for (size_t i = 0; i < sets.size(); ++i)
            for (size_t j = i; j < sets.size(); ++j) {
                uint32_t covered = 0;
                for (const auto& [c, count] : seen)
                    if (sets[i].test(c) || sets[j].test(c)) covered += count;
                bestPair = std::max(bestPair, covered);
                if (i == j) bestOne = std::max(bestOne, covered);
            }
        // Letters outside every pair of languages are a strong sign, outside the single best language a mild
        // one (archives do mix languages, most of them do not).
        return score_ - 0.6f * static_cast<float>(all - bestPair) - 0.5f * static_cast<float>(all - bestOne);
    }

  private:
    struct Word {
        int letters = 0;
        int nonAscii = 0;
        unsigned scripts = 0;
        int flips = 0;
        Case prevCase = Case::None;
        bool prevNonAscii = false;
        bool cyrillicVowel = false;
        char32_t last = 0;
        int hebrewFinalInside = 0;
        int misplaced = 0;
        int tonos = 0;
        Case prevPrevCase = Case::None;
        bool prevPrevNonAscii = false;
    };

    static bool IsAsciiLetter(char32_t c) { return c < 0x80 && ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

    static bool IsHebrewFinal(char32_t c) {
        return c == 0x5DA || c == 0x5DD || c == 0x5DF || c == 0x5E3 || c == 0x5E5;
    }
    static bool HasHebrewFinal(char32_t c) {  // כ מ נ פ צ have final forms
        return c == 0x5DB || c == 0x5DE || c == 0x5E0 || c == 0x5E4 || c == 0x5E6;
    }
    // Whether a lower-case Latin or Cyrillic letter is a vowel.
    static bool IsVowel(char32_t l) {
        static const std::bitset<0x460> vowels = [] {
            std::bitset<0x460> b;
            for (char32_t c :
                 std::u32string_view(U"aeiouyàáâãäåæèéêëìíîïòóôõöøùúûüýÿąęėįųūāēīőűůěœıаеёиоуыэюяіїє"))
                b.set(c);
            return b;
        }();
        return l < vowels.size() && vowels.test(l);
    }

    static bool IsTonos(char32_t l) {
        return l == 0x3AC || l == 0x3AD || l == 0x3AE || l == 0x3AF || l == 0x3CC || l == 0x3CD ||
               l == 0x3CE || l == 0x390 || l == 0x3B0;
    }

    static bool IsCyrillicVowel(char32_t c) {
        const char32_t l = ToLower(c);
        return l == 0x430 || l == 0x435 || l == 0x438 || l == 0x43E || l == 0x443 || l == 0x44B ||
               l == 0x44D || l == 0x44E || l == 0x44F || l == 0x451 || l == 0x456 || l == 0x457 || l == 0x454;
    }

    void AddLetter(Word& w, char32_t c, Script script) {
        const bool nonAscii = c >= 0x80;
        const Case k = CaseOf(c);
        const int before = w.letters;
        if (w.prevCase == Case::Lower && k == Case::Upper && (nonAscii || w.prevNonAscii)) ++w.flips;
        ++w.letters;
        w.nonAscii += nonAscii;
        w.scripts |= 1u << static_cast<unsigned>(script);
        if (script == Script::Cyrillic && IsCyrillicVowel(c)) w.cyrillicVowel = true;
        // A Greek word carries one accent at most.
        if (script == Script::Greek && IsTonos(ToLower(c)) && w.tonos++ > 0) ++w.misplaced;
        if (script == Script::Hebrew && IsHebrewFinal(w.last)) ++w.hebrewFinalInside;
        // Letters with a fixed place: Portuguese õ comes before e ("ções", "põe"; elsewhere it is Hungarian ő
        // misread); à, ì, ò and ù end words ("città", "più", "où") and are not followed by letters; no word
        // begins with ý (Turkish ı and İ read as Latin-1); Polish ń, ć, ś, ź never come before a vowel and ń
        // only after one; German ß only after a vowel; Russian ъ, ь, ы begin no word, ь and ъ never follow a
        // vowel, й never follows a consonant; Greek ς ends words and σ does not (EndWord).
        const char32_t prev = ToLower(w.last);
        if (prev == 0xF5 && (c | 0x20) != 'e') ++w.misplaced;
        if (prev == 0xE0 || prev == 0xEC || prev == 0xF2 || prev == 0xF9) ++w.misplaced;
        const char32_t cur = ToLower(c);
        if (before == 0 && cur == 0xFD) ++w.misplaced;
        if (before > 0) {
            const bool prevVowel = IsVowel(prev), curVowel = IsVowel(cur);
            if ((prev == 0x144 || prev == 0x107 || prev == 0x15B || prev == 0x17A) && curVowel) ++w.misplaced;
            if (cur == 0x144 && !prevVowel) ++w.misplaced;
            if (cur == 0xDF && !prevVowel) ++w.misplaced;
            if ((cur == 0x44C || cur == 0x44A) && (prevVowel || prev == 0x439)) ++w.misplaced;
            if (cur == 0x439 && !prevVowel && ScriptOf(prev) == Script::Cyrillic) ++w.misplaced;
            if (prev == 0x3C2) ++w.misplaced;  // final sigma inside a word
            // Two capitals then a small letter with an accented capital among them ("MŘller", "NÚpdalok").
            if (w.prevCase == Case::Upper && w.prevPrevCase == Case::Upper && k == Case::Lower &&
                (w.prevNonAscii || w.prevPrevNonAscii) && before == 2)
                ++w.flips;
        } else if (cur == 0x44A || cur == 0x44C || cur == 0x44B) {
            ++w.misplaced;
        }
        w.last = c;
        if (k != Case::None) {
            w.prevPrevCase = w.prevCase;
            w.prevPrevNonAscii = w.prevNonAscii;
            w.prevCase = k;
        }
        w.prevNonAscii = nonAscii;
        if (script == Script::Latin && nonAscii) {
            const char32_t l = c == 0x130 ? c : ToLower(c);  // İ is its own letter (its lower case is ASCII)
            if (l >= 0xC0 && l < latin_.size()) ++latin_[l];
        }
    }

    void EndWord(Word& w) {
        if (w.letters == 0) return;
        const unsigned scripts = w.scripts;
        const bool single = (scripts & (scripts - 1)) == 0;
        if (!single) score_ -= 1.5f * static_cast<float>(w.nonAscii);
        const unsigned latin = 1u << static_cast<unsigned>(Script::Latin);
        if (scripts == latin && (w.nonAscii >= 4 || (w.nonAscii == 3 && w.letters == 3)) &&
            w.nonAscii * 3 > w.letters * 2)
            score_ -= 0.9f * static_cast<float>(w.nonAscii);
        score_ -= 1.2f * static_cast<float>(w.flips);
        if (scripts == 1u << static_cast<unsigned>(Script::Cyrillic) && w.letters >= 4 && !w.cyrillicVowel)
            score_ -= 0.7f * static_cast<float>(w.letters);
        score_ -= 1.5f * static_cast<float>(w.hebrewFinalInside);
        if (IsHebrewFinal(w.last) && w.letters >= 2) score_ += 0.5f;  // a final letter where it belongs
        if (w.last == 0x3C3 && w.letters >= 2) ++w.misplaced;         // σ ending a word
        score_ -= 1.0f * static_cast<float>(w.misplaced);
        if (HasHebrewFinal(w.last) && w.letters >= 2) score_ -= 0.7f;
        w = Word{};
    }

    float score_ = 0;
    float nonAsciiWeight_ = 0;
    size_t hard_ = 0;
    std::array<uint32_t, 0x250> latin_{};
};

// ---------------------------------------------------------------------------------------------------------
// The detector's vote

struct Vote {
    Family family = Family::Other;
    const char* page = nullptr;  // the answer's own page when it is one of ours
    float trust = 0;             // how much this kind of answer means on file names
};

Vote MapDetectorAnswer(const std::string& answer) {
    static const struct {
        const char* answer;
        Family family;
        const char* page;
    } kAnswers[] = {
        {"IBM866", Family::Cyrillic, "CP866"},
        {"WINDOWS-1251", Family::Cyrillic, "CP1251"},
        {"KOI8-R", Family::Cyrillic, "KOI8-R"},
        {"KOI8-U", Family::Cyrillic, "KOI8-U"},
        {"ISO-8859-5", Family::Cyrillic, "ISO-8859-5"},
        {"MAC-CYRILLIC", Family::Cyrillic, "MAC-CYRILLIC"},
        {"IBM855", Family::Cyrillic, "CP855"},
        {"SHIFT_JIS", Family::Japanese, "CP932"},
        {"EUC-JP", Family::Japanese, "EUC-JP"},
        {"ISO-2022-JP", Family::Japanese, nullptr},
        {"GB18030", Family::ChineseS, "CP936"},
        {"GB2312", Family::ChineseS, "CP936"},
        {"HZ-GB-2312", Family::ChineseS, nullptr},
        {"ISO-2022-CN", Family::ChineseS, nullptr},
        {"BIG5", Family::ChineseT, "CP950"},
        {"EUC-TW", Family::ChineseT, nullptr},
        {"EUC-KR", Family::Korean, "CP949"},
        {"UHC", Family::Korean, "CP949"},
        {"ISO-2022-KR", Family::Korean, nullptr},
        {"JOHAB", Family::Korean, nullptr},
        {"ISO-8859-7", Family::Greek, "ISO-8859-7"},
        {"WINDOWS-1253", Family::Greek, "CP1253"},
        {"ISO-8859-8", Family::Hebrew, "CP1255"},
        {"WINDOWS-1255", Family::Hebrew, "CP1255"},
        {"ISO-8859-9", Family::Turkish, "CP1254"},
        {"WINDOWS-1254", Family::Turkish, "CP1254"},
        {"ISO-8859-2", Family::Central, "ISO-8859-2"},
        {"WINDOWS-1250", Family::Central, "CP1250"},
        {"IBM852", Family::Central, "CP852"},
        {"MAC-CENTRALEUROPE", Family::Central, "MAC-CENTRALEUROPE"},
        {"ISO-8859-13", Family::Baltic, "CP1257"},
        {"WINDOWS-1257", Family::Baltic, "CP1257"},
        {"ISO-8859-4", Family::Baltic, "CP1257"},
        {"WINDOWS-1252", Family::Western, "CP1252"},
        {"ISO-8859-1", Family::Western, "CP1252"},
        {"ISO-8859-15", Family::Western, "ISO-8859-15"},
        {"IBM865", Family::Western, "CP865"},
        {"MAC-ROMAN", Family::Western, "MACINTOSH"},
        {"MACINTOSH", Family::Western, "MACINTOSH"},
    };
    Vote v;
    for (const auto& a : kAnswers)
        if (answer == a.answer) {
            v.family = a.family;
            v.page = a.page;
            break;
        }
    switch (v.family) {
        case Family::Japanese:
        case Family::ChineseS:
        case Family::ChineseT:
        case Family::Korean:
            v.trust = 1.0f;
            break;
        case Family::Cyrillic:
            v.trust = 0.7f;
            break;
        case Family::Greek:
        case Family::Hebrew:
            v.trust = 0.6f;
            break;
        case Family::Turkish:
            v.trust = 0.3f;
            break;
        case Family::Central:
        case Family::Baltic:
            v.trust = 0.2f;
            break;
        case Family::Western:
            v.trust = 0.1f;
            break;
        case Family::Other:
            v.trust = 0;
            break;
    }
    return v;
}

// ---------------------------------------------------------------------------------------------------------
// Decoding

// The single-byte fallback pages as total tables (CP1252's five holes read as the C1 controls they stand on).
const std::array<char32_t, 256>& FallbackTable(bool dos) {
    static const auto build = [](const char* name) {
        std::array<char32_t, 256> f{};
        const PageTable* t = TableFor(name, Layout::Single);
        for (unsigned b = 0; b < 256; ++b)
            f[b] = t && t->single[b] != kUndefined && t->single[b] != kLeadByte ? t->single[b] : b;
        return f;
    };
    static const std::array<char32_t, 256> cp437 = build("CP437");
    static const std::array<char32_t, 256> cp1252 = build("CP1252");
    return dos ? cp437 : cp1252;
}

std::string DecodeUtf8(std::string_view raw, const std::array<char32_t, 256>& fallback) {
    std::string out;
    out.reserve(raw.size() + 8);
    for (size_t pos = 0; pos < raw.size();) {
        const size_t start = pos;
        const char32_t cp = NextUtf8(raw, pos);
        if (cp == kBadUtf8)
            AppendUtf8(out, fallback[static_cast<unsigned char>(raw[start])]);
        else
            out.append(raw.substr(start, pos - start));
    }
    return out;
}

// One page's converter with the fallback it is read with.
struct Reader {
    platform::Converter conv;
    std::array<char32_t, 256> fallback{};

    Reader(const std::string& page, bool dos) : conv(page, "UTF-8") {
        fallback = FallbackTable(dos);
        // A fallback character the page can produce itself would make two names alike: replace it. (A page
        // iconv cannot open produces nothing: every byte is read through the fallback as it stands.)
        if (!conv.IsOpen()) return;
        platform::Converter back("UTF-8", page);
        for (unsigned b = 0x80; b < 0x100; ++b) {
            std::string utf8, encoded;
            AppendUtf8(utf8, fallback[b]);
            if (!back.IsOpen() || back.Convert(utf8, encoded)) fallback[b] = 0xF0000 + b;
        }
    }

    std::string Decode(std::string_view raw) {
        std::string out;
        out.reserve(raw.size() * 2);
        for (size_t pos = 0; pos < raw.size();) {
            pos += conv.ConvertSome(raw.substr(pos), out);
            if (pos < raw.size()) AppendUtf8(out, fallback[static_cast<unsigned char>(raw[pos++])]);
        }
        return out;
    }
};

constexpr size_t Index(NameOrigin o) {
    return static_cast<size_t>(o);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------

struct NameCoding::State {
    struct Origin {
        std::vector<std::string> components;  // distinct non-ASCII path components of sampled names
        std::unordered_set<uint64_t> seen;    // their hashes
        size_t bytes = 0;
        size_t nonAscii = 0;  // non-ASCII names added (all of them, sampled or not)
        size_t invalid = 0;   // of those, not valid UTF-8
        std::string decided;  // empty: the default
    };
    std::array<Origin, 4> origins;
    std::string forced;

    mutable std::mutex mutex;
    mutable std::map<std::string, std::unique_ptr<Reader>> readers;

    State() = default;
    State(const State& o) : origins(o.origins), forced(o.forced) {}

    std::string Page(NameOrigin origin) const {
        if (origin == NameOrigin::Utf8) return "UTF-8";
        if (!forced.empty()) return forced;
        const Origin& o = origins[Index(origin)];
        if (!o.decided.empty()) return o.decided;
        switch (origin) {
            case NameOrigin::Dos:
                return Upper(platform::OemCodePage());
            case NameOrigin::Mac:
                return "MACINTOSH";
            default:
                return "CP1252";
        }
    }

    std::string DecideFor(NameOrigin origin) const;
};

namespace {

// The detector reads this much of the sample: its vote is capped long before, and it costs by the byte.
constexpr size_t kDetectorBytes = 16 * 1024;

struct Candidate {
    std::string name;
    Family family;
    float score;
    size_t hard;
};

}  // namespace

std::string NameCoding::State::DecideFor(NameOrigin origin) const {
    const Origin& o = origins[Index(origin)];
    const std::vector<std::string> names = CandidatePages(origin);
    std::vector<Candidate> cands;
    std::vector<Unit> units;
    size_t nonAsciiBytes = 0;
    for (const std::string& c : o.components)
        for (unsigned char b : c)
            nonAsciiBytes += b >= 0x80;
    struct Reading {
        std::string name;
        const PageInfo* info;
        const PageTable* table;
        size_t rank;
        ReadingScore score;
    };
    std::vector<Reading> readings;
    for (size_t rank = 0; rank < names.size(); ++rank) {
        const std::string& name = names[rank];
        bool dup = false;
        for (const Reading& r : readings)
            dup |= r.name == name;
        if (dup || IsUtf8Name(name)) continue;
        const PageInfo* info = FindPage(name);
        const PageTable* table = TableFor(name, info ? info->layout : Layout::Single);
        if (table) readings.push_back({name, info, table, rank, ReadingScore()});
    }
    // All readings take the first components; those far behind the leader then drop out, and the rest read
    // the remainder. A page trailing by that much after a hundred names does not catch up, and a large
    // archive's decision costs a few readings instead of thirty. When no reading looks like text yet,
    // nobody is dropped (the choice below then needs all of them).
    const size_t first = std::min<size_t>(o.components.size(), 128);
    for (Reading& r : readings)
        for (size_t i = 0; i < first; ++i) {
            ReadWithTable(*r.table, o.components[i], units);
            r.score.AddComponent(units);
        }
    if (first < o.components.size()) {
        float lead = -1e30f;
        for (const Reading& r : readings)
            lead = std::max(lead, r.score.Total());
        if (lead > 0) {
            const float margin = 10.0f + 0.05f * lead;
            std::erase_if(readings, [&](const Reading& r) { return r.score.Total() < lead - margin; });
        }
        for (Reading& r : readings)
            for (size_t i = first; i < o.components.size(); ++i) {
                ReadWithTable(*r.table, o.components[i], units);
                r.score.AddComponent(units);
            }
    }
    for (const Reading& r : readings)
        cands.push_back({r.name, r.info ? r.info->family : Family::Other,
                         r.score.Total() - 1e-3f * static_cast<float>(r.rank), r.score.Hard()});
    if (cands.empty()) return {};

    // The detector's vote goes to its own page, or else to the best reading of its kind.
    std::string text;
    for (const std::string& comp : o.components) {
        if (text.size() + comp.size() + 1 > kDetectorBytes) break;
        text += comp;
        text += '\n';
    }
    const Vote vote = MapDetectorAnswer(platform::DetectCharset(text));
    if (vote.trust > 0) {
        Candidate* target = nullptr;
        for (Candidate& c : cands)
            if (vote.page && c.name == vote.page) target = &c;
        if (!target)
            for (Candidate& c : cands)
                if (c.family == vote.family && (!target || c.score > target->score)) target = &c;
        if (target)
            target->score +=
                vote.trust * 0.04f *
                static_cast<float>(std::min<size_t>(nonAsciiBytes > 16 ? nonAsciiBytes - 16 : 0, 400));
    }

    const Candidate* best = &cands[0];
    for (const Candidate& c : cands)
        if (c.score > best->score) best = &c;
    // When no page reads the names as text, the differences between the readings are noise: take the
    // likeliest page among those that produce nothing no one would type.
    if (best->score < -0.3f * static_cast<float>(nonAsciiBytes)) {
        const Candidate* cleanest = &cands[0];
        for (const Candidate& c : cands)
            if (c.hard < cleanest->hard) cleanest = &c;
        best = cleanest;
    }

    // DOS names that are all valid UTF-8 were written by a tool that did not set the flag, if they read well.
    if (origin == NameOrigin::Dos && o.invalid == 0) {
        size_t sequences = 0;
        ReadingScore rs;
        for (const std::string& comp : o.components) {
            ReadAsUtf8(comp, units, sequences);
            rs.AddComponent(units);
        }
        const float utf8 = rs.Total() + 1.0f * static_cast<float>(sequences);
        if (rs.Total() > 0 && utf8 >= best->score) return "UTF-8";
    }
    return best->name;
}

std::vector<std::string> NameCoding::CandidatePages(NameOrigin origin) {
    std::vector<std::string> names;
    const auto add = [&names](const std::string& n) {
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
    };
    if (origin == NameOrigin::Dos) {
        add(Upper(platform::OemCodePage()));
        for (const char* n : kDosCandidates)
            add(n);
    } else if (origin == NameOrigin::Unix) {
        for (const char* n : kUnixCandidates)
            add(n);
    } else if (origin == NameOrigin::Mac) {
        for (const char* n : kMacCandidates)
            add(n);
    }
    return names;
}

NameCoding::NameCoding() : state_(std::make_unique<State>()) {}
NameCoding::~NameCoding() = default;
NameCoding::NameCoding(NameCoding&&) noexcept = default;
NameCoding& NameCoding::operator=(NameCoding&&) noexcept = default;
NameCoding::NameCoding(const NameCoding& other) : state_(std::make_unique<State>(*other.state_)) {}
NameCoding& NameCoding::operator=(const NameCoding& other) {
    if (this != &other) state_ = std::make_unique<State>(*other.state_);
    return *this;
}

void NameCoding::Add(std::string_view raw, NameOrigin origin) {
    if (origin == NameOrigin::Utf8 || IsAscii(raw)) return;
    State::Origin& o = state_->origins[Index(origin)];
    ++o.nonAscii;
    const bool valid = platform::IsValidUtf8(raw);
    if (!valid) ++o.invalid;
    if (valid && origin != NameOrigin::Dos) return;  // read as UTF-8 whatever the rest says
    if (o.components.size() >= kSampleNames || o.bytes >= kSampleBytes) return;
    size_t start = 0;
    while (start <= raw.size()) {
        size_t end = raw.find('/', start);
        if (end == std::string_view::npos) end = raw.size();
        const std::string_view comp = raw.substr(start, end - start);
        if (!IsAscii(comp) && o.seen.insert(std::hash<std::string_view>{}(comp)).second) {
            o.components.emplace_back(comp);
            o.bytes += comp.size();
            if (o.components.size() >= kSampleNames || o.bytes >= kSampleBytes) break;
        }
        start = end + 1;
    }
}

void NameCoding::Decide() {
    for (NameOrigin origin : {NameOrigin::Dos, NameOrigin::Unix, NameOrigin::Mac}) {
        State::Origin& o = state_->origins[Index(origin)];
        o.decided = o.components.empty() ? std::string() : state_->DecideFor(origin);
    }
}

bool NameCoding::Force(const std::string& codePage) {
    if (codePage.empty()) {
        state_->forced.clear();
        return true;
    }
    if (!platform::CharsetKnown(codePage)) return false;
    state_->forced = Upper(codePage);
    return true;
}

bool NameCoding::Forced() const {
    return !state_->forced.empty();
}

std::string NameCoding::Decode(std::string_view raw, NameOrigin origin) const {
    if (IsAscii(raw)) return std::string(raw);
    const bool dos = origin == NameOrigin::Dos;
    if (origin == NameOrigin::Utf8) {
        if (platform::IsValidUtf8(raw)) return std::string(raw);
        return DecodeUtf8(raw, FallbackTable(false));
    }
    if (state_->forced.empty() && origin != NameOrigin::Dos && platform::IsValidUtf8(raw))
        return std::string(raw);
    const std::string page = state_->Page(origin);
    if (IsUtf8Name(page)) return DecodeUtf8(raw, FallbackTable(dos));
    std::lock_guard lock(state_->mutex);
    std::unique_ptr<Reader>& reader = state_->readers[page + (dos ? "|dos" : "|")];
    if (!reader) reader = std::make_unique<Reader>(page, dos);
    return reader->Decode(raw);
}

bool NameCoding::Settled(std::string_view raw, NameOrigin origin) const {
    if (IsAscii(raw) || !state_->forced.empty()) return true;
    return origin != NameOrigin::Dos && platform::IsValidUtf8(raw);
}

std::string NameCoding::CodePage(NameOrigin origin) const {
    if (origin == NameOrigin::Utf8) return "UTF-8";
    const State::Origin& o = state_->origins[Index(origin)];
    if (state_->forced.empty() && origin != NameOrigin::Dos && o.nonAscii > 0 && o.invalid == 0)
        return "UTF-8";
    return state_->Page(origin);
}

}  // namespace varnok
