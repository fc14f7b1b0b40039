#include "wine_reg_file.h"

#include "text_codec.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <stdexcept>

namespace keyloft::wine {

namespace {

// Runs of the BMP's simple lowercase mappings (Unicode 14): code units first..last, every
// `step`-th of them, map to unit + delta.
struct CaseRun {
    char16_t first, last;
    std::uint8_t step;
    std::int32_t delta;
};

constexpr CaseRun kLowerRuns[] = {
    {0x0041, 0x005a, 1, 32},     {0x00c0, 0x00d6, 1, 32},     {0x00d8, 0x00de, 1, 32},
    {0x0100, 0x012e, 2, 1},      {0x0130, 0x0130, 1, -199},   {0x0132, 0x0136, 2, 1},
    {0x0139, 0x0147, 2, 1},      {0x014a, 0x0176, 2, 1},      {0x0178, 0x0178, 1, -121},
    {0x0179, 0x017d, 2, 1},      {0x0181, 0x0181, 1, 210},    {0x0182, 0x0184, 2, 1},
    {0x0186, 0x0186, 1, 206},    {0x0187, 0x0187, 1, 1},      {0x0189, 0x018a, 1, 205},
    {0x018b, 0x018b, 1, 1},      {0x018e, 0x018e, 1, 79},     {0x018f, 0x018f, 1, 202},
    {0x0190, 0x0190, 1, 203},    {0x0191, 0x0191, 1, 1},      {0x0193, 0x0193, 1, 205},
    {0x0194, 0x0194, 1, 207},    {0x0196, 0x0196, 1, 211},    {0x0197, 0x0197, 1, 209},
    {0x0198, 0x0198, 1, 1},      {0x019c, 0x019c, 1, 211},    {0x019d, 0x019d, 1, 213},
    {0x019f, 0x019f, 1, 214},    {0x01a0, 0x01a4, 2, 1},      {0x01a6, 0x01a6, 1, 218},
    {0x01a7, 0x01a7, 1, 1},      {0x01a9, 0x01a9, 1, 218},    {0x01ac, 0x01ac, 1, 1},
    {0x01ae, 0x01ae, 1, 218},    {0x01af, 0x01af, 1, 1},      {0x01b1, 0x01b2, 1, 217},
    {0x01b3, 0x01b5, 2, 1},      {0x01b7, 0x01b7, 1, 219},    {0x01b8, 0x01b8, 1, 1},
    {0x01bc, 0x01bc, 1, 1},      {0x01c4, 0x01c4, 1, 2},      {0x01c5, 0x01c5, 1, 1},
    {0x01c7, 0x01c7, 1, 2},      {0x01c8, 0x01c8, 1, 1},      {0x01ca, 0x01ca, 1, 2},
    {0x01cb, 0x01db, 2, 1},      {0x01de, 0x01ee, 2, 1},      {0x01f1, 0x01f1, 1, 2},
    {0x01f2, 0x01f4, 2, 1},      {0x01f6, 0x01f6, 1, -97},    {0x01f7, 0x01f7, 1, -56},
    {0x01f8, 0x021e, 2, 1},      {0x0220, 0x0220, 1, -130},   {0x0222, 0x0232, 2, 1},
    {0x023a, 0x023a, 1, 10795},  {0x023b, 0x023b, 1, 1},      {0x023d, 0x023d, 1, -163},
    {0x023e, 0x023e, 1, 10792},  {0x0241, 0x0241, 1, 1},      {0x0243, 0x0243, 1, -195},
    {0x0244, 0x0244, 1, 69},     {0x0245, 0x0245, 1, 71},     {0x0246, 0x024e, 2, 1},
    {0x0370, 0x0372, 2, 1},      {0x0376, 0x0376, 1, 1},      {0x037f, 0x037f, 1, 116},
    {0x0386, 0x0386, 1, 38},     {0x0388, 0x038a, 1, 37},     {0x038c, 0x038c, 1, 64},
    {0x038e, 0x038f, 1, 63},     {0x0391, 0x03a1, 1, 32},     {0x03a3, 0x03ab, 1, 32},
    {0x03cf, 0x03cf, 1, 8},      {0x03d8, 0x03ee, 2, 1},      {0x03f4, 0x03f4, 1, -60},
    {0x03f7, 0x03f7, 1, 1},      {0x03f9, 0x03f9, 1, -7},     {0x03fa, 0x03fa, 1, 1},
    {0x03fd, 0x03ff, 1, -130},   {0x0400, 0x040f, 1, 80},     {0x0410, 0x042f, 1, 32},
    {0x0460, 0x0480, 2, 1},      {0x048a, 0x04be, 2, 1},      {0x04c0, 0x04c0, 1, 15},
    {0x04c1, 0x04cd, 2, 1},      {0x04d0, 0x052e, 2, 1},      {0x0531, 0x0556, 1, 48},
    {0x10a0, 0x10c5, 1, 7264},   {0x10c7, 0x10c7, 1, 7264},   {0x10cd, 0x10cd, 1, 7264},
    {0x13a0, 0x13ef, 1, 38864},  {0x13f0, 0x13f5, 1, 8},      {0x1c90, 0x1cba, 1, -3008},
    {0x1cbd, 0x1cbf, 1, -3008},  {0x1e00, 0x1e94, 2, 1},      {0x1e9e, 0x1e9e, 1, -7615},
    {0x1ea0, 0x1efe, 2, 1},      {0x1f08, 0x1f0f, 1, -8},     {0x1f18, 0x1f1d, 1, -8},
    {0x1f28, 0x1f2f, 1, -8},     {0x1f38, 0x1f3f, 1, -8},     {0x1f48, 0x1f4d, 1, -8},
    {0x1f59, 0x1f5f, 2, -8},     {0x1f68, 0x1f6f, 1, -8},     {0x1f88, 0x1f8f, 1, -8},
    {0x1f98, 0x1f9f, 1, -8},     {0x1fa8, 0x1faf, 1, -8},     {0x1fb8, 0x1fb9, 1, -8},
    {0x1fba, 0x1fbb, 1, -74},    {0x1fbc, 0x1fbc, 1, -9},     {0x1fc8, 0x1fcb, 1, -86},
    {0x1fcc, 0x1fcc, 1, -9},     {0x1fd8, 0x1fd9, 1, -8},     {0x1fda, 0x1fdb, 1, -100},
    {0x1fe8, 0x1fe9, 1, -8},     {0x1fea, 0x1feb, 1, -112},   {0x1fec, 0x1fec, 1, -7},
    {0x1ff8, 0x1ff9, 1, -128},   {0x1ffa, 0x1ffb, 1, -126},   {0x1ffc, 0x1ffc, 1, -9},
    {0x2126, 0x2126, 1, -7517},  {0x212a, 0x212a, 1, -8383},  {0x212b, 0x212b, 1, -8262},
    {0x2132, 0x2132, 1, 28},     {0x2160, 0x216f, 1, 16},     {0x2183, 0x2183, 1, 1},
    {0x24b6, 0x24cf, 1, 26},     {0x2c00, 0x2c2f, 1, 48},     {0x2c60, 0x2c60, 1, 1},
    {0x2c62, 0x2c62, 1, -10743}, {0x2c63, 0x2c63, 1, -3814},  {0x2c64, 0x2c64, 1, -10727},
    {0x2c67, 0x2c6b, 2, 1},      {0x2c6d, 0x2c6d, 1, -10780}, {0x2c6e, 0x2c6e, 1, -10749},
    {0x2c6f, 0x2c6f, 1, -10783}, {0x2c70, 0x2c70, 1, -10782}, {0x2c72, 0x2c72, 1, 1},
    {0x2c75, 0x2c75, 1, 1},      {0x2c7e, 0x2c7f, 1, -10815}, {0x2c80, 0x2ce2, 2, 1},
    {0x2ceb, 0x2ced, 2, 1},      {0x2cf2, 0x2cf2, 1, 1},      {0xa640, 0xa66c, 2, 1},
    {0xa680, 0xa69a, 2, 1},      {0xa722, 0xa72e, 2, 1},      {0xa732, 0xa76e, 2, 1},
    {0xa779, 0xa77b, 2, 1},      {0xa77d, 0xa77d, 1, -35332}, {0xa77e, 0xa786, 2, 1},
    {0xa78b, 0xa78b, 1, 1},      {0xa78d, 0xa78d, 1, -42280}, {0xa790, 0xa792, 2, 1},
    {0xa796, 0xa7a8, 2, 1},      {0xa7aa, 0xa7aa, 1, -42308}, {0xa7ab, 0xa7ab, 1, -42319},
    {0xa7ac, 0xa7ac, 1, -42315}, {0xa7ad, 0xa7ad, 1, -42305}, {0xa7ae, 0xa7ae, 1, -42308},
    {0xa7b0, 0xa7b0, 1, -42258}, {0xa7b1, 0xa7b1, 1, -42282}, {0xa7b2, 0xa7b2, 1, -42261},
    {0xa7b3, 0xa7b3, 1, 928},    {0xa7b4, 0xa7c2, 2, 1},      {0xa7c4, 0xa7c4, 1, -48},
    {0xa7c5, 0xa7c5, 1, -42307}, {0xa7c6, 0xa7c6, 1, -35384}, {0xa7c7, 0xa7c9, 2, 1},
    {0xa7d0, 0xa7d0, 1, 1},      {0xa7d6, 0xa7d8, 2, 1},      {0xa7f5, 0xa7f5, 1, 1},
    {0xff21, 0xff3a, 1, 32},
};

} // namespace

char16_t foldCase(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    const auto* it = std::lower_bound(std::begin(kLowerRuns), std::end(kLowerRuns), c,
                                      [](const CaseRun& r, char16_t u) { return r.last < u; });
    if (it == std::end(kLowerRuns) || c < it->first || (c - it->first) % it->step != 0)
        return c;
    return static_cast<char16_t>(c + it->delta);
}

Text foldCase(std::u16string_view name) {
    Text out(name);
    for (auto& c : out)
        c = foldCase(c);
    return out;
}

int compareNames(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = foldCase(a[i]), y = foldCase(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

namespace {

constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
unsigned hexValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

std::string hex(std::uint64_t v, int width = 0) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*llx", width, static_cast<unsigned long long>(v));
    return buf;
}

void escapeInto(std::string& out, std::u16string_view s, char d1, char d2) {
    static constexpr char kLetters[] = ".......abtnvfr.............e....";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        const bool more = i + 1 < s.size();
        if (c > 127) {
            const bool hexNext = more && s[i + 1] < 128 && isHex(static_cast<char>(s[i + 1]));
            out += "\\x";
            out += hex(c, hexNext ? 4 : 0);
        } else if (c < 32) {
            out += '\\';
            if (kLetters[c] != '.') {
                out += kLetters[c];
            } else {
                char buf[8];
                const bool octalNext = more && s[i + 1] >= u'0' && s[i + 1] <= u'7';
                std::snprintf(buf, sizeof buf, octalNext ? "%03o" : "%o", static_cast<unsigned>(c));
                out += buf;
            }
        } else {
            const char a = static_cast<char>(c);
            if (a == '\\' || a == d1 || a == d2)
                out += '\\';
            out += a;
        }
    }
}

std::string secondsText(std::uint64_t fileTime) {
    return std::to_string(static_cast<unsigned>((fileTime - kTicks1601To1970) / kTicksPerSecond));
}

std::string timeLine(std::uint64_t fileTime) {
    return "#time=" + hex(fileTime >> 32) + hex(fileTime & 0xffffffffU, 8);
}

Text utf16le(const std::vector<std::uint8_t>& bytes, std::size_t units) {
    Text t(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        t[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return t;
}

// Reads a string up to `endChar` the way wineserver does: escapes, raw bytes as UTF-8.
// Returns the position just after `endChar`, or npos when the line ends first.
std::size_t parseString(std::string_view s, std::size_t p, char endChar, Text& out) {
    out.clear();
    while (p < s.size() && s[p] != endChar) {
        const char c = s[p];
        if (static_cast<unsigned char>(c) >= 0x80) {
            std::size_t q = p;
            while (q < s.size() && static_cast<unsigned char>(s[q]) >= 0x80)
                ++q;
            out += utf8ToUtf16(s.substr(p, q - p));
            p = q;
            continue;
        }
        if (c != '\\') {
            out += static_cast<char16_t>(c);
            ++p;
            continue;
        }
        if (++p >= s.size())
            return std::string_view::npos;
        const char e = s[p];
        // The letter escapes: \a \b \e \f \n \r \t \v.
        static constexpr std::string_view kLetters = "abefnrtv";
        static constexpr char16_t kControls[] = {u'\a', u'\b', u'\x1b', u'\f',
                                                 u'\n', u'\r', u'\t',   u'\v'};
        if (const auto letter = kLetters.find(e); letter != std::string_view::npos) {
            out += kControls[letter];
            ++p;
            continue;
        }
        if (e == 'x') {
            ++p;
            if (p >= s.size() || !isHex(s[p])) {
                out += u'x';
                continue;
            }
            unsigned v = 0;
            for (int n = 0; n < 4 && p < s.size() && isHex(s[p]); ++n, ++p)
                v = v * 16 + hexValue(s[p]);
            out += static_cast<char16_t>(v);
            continue;
        }
        if (e >= '0' && e <= '7') {
            unsigned v = 0;
            for (int n = 0; n < 3 && p < s.size() && s[p] >= '0' && s[p] <= '7'; ++n, ++p)
                v = v * 8 + static_cast<unsigned>(s[p] - '0');
            out += static_cast<char16_t>(v);
            continue;
        }
        if (static_cast<unsigned char>(e) >= 0x80)
            continue; // a raw UTF-8 sequence after the backslash: decoded by the next round
        out += static_cast<char16_t>(e);
        ++p;
    }
    return p < s.size() ? p + 1 : std::string_view::npos;
}

// One line of a block: [begin, contentEnd) without the line end, [begin, end) with it.
struct Line {
    std::size_t begin, contentEnd, end;
};

Line lineAt(std::string_view s, std::size_t begin) {
    std::size_t nl = s.find('\n', begin);
    const std::size_t end = nl == std::string_view::npos ? s.size() : nl + 1;
    std::size_t contentEnd = nl == std::string_view::npos ? s.size() : nl;
    if (nl != std::string_view::npos && contentEnd > begin && s[contentEnd - 1] == '\r')
        --contentEnd;
    return {begin, contentEnd, end};
}

std::size_t skipSpaces(std::string_view s, std::size_t p, std::size_t end) {
    while (p < end && isSpace(s[p]))
        ++p;
    return p;
}

[[noreturn]] void fail(long line, const char* reason) {
    throw ParseError{line, reason};
}

constexpr const char* kMalformedValue = "値の行の形式が正しくありません";

// Hex bytes as wineserver reads them: comma-separated, a trailing "\" continues on the next line.
void parseHex(std::string_view s, std::size_t p, std::size_t lineEnd, std::size_t& nextLine,
              std::vector<std::uint8_t>& out, long lineNo) {
    for (;;) {
        while (p < lineEnd && isHex(s[p])) {
            unsigned v = 0;
            std::size_t digits = 0;
            for (; p < lineEnd && isHex(s[p]); ++p, ++digits)
                v = digits < 4 ? v * 16 + hexValue(s[p]) : 0x100;
            if (v > 0xff)
                fail(lineNo, kMalformedValue);
            out.push_back(static_cast<std::uint8_t>(v));
            p = skipSpaces(s, p, lineEnd);
            if (p < lineEnd && s[p] == ',')
                ++p;
            p = skipSpaces(s, p, lineEnd);
        }
        p = skipSpaces(s, p, lineEnd);
        if (p >= lineEnd)
            return;
        if (s[p] != '\\' || nextLine >= s.size())
            fail(lineNo, kMalformedValue);
        const Line next = lineAt(s, nextLine);
        nextLine = next.end;
        lineEnd = next.contentEnd;
        p = skipSpaces(s, next.begin, lineEnd);
    }
}

struct TypeTag {
    std::string_view tag;
    std::uint32_t type;
    bool quoted;
};

constexpr TypeTag kTags[] = {
    {"\"", kRegSz, true},
    {"str:\"", kRegSz, true},
    {"str(2):\"", kRegExpandSz, true},
    {"str(7):\"", kRegMultiSz, true},
    {"hex:", kRegBinary, false},
    {"dword:", kRegDword, false},
};

// Parses the value that starts at `p` (a '"' or '@'); advances `next` past its last line.
Value parseValue(std::string_view s, const Line& line, std::size_t& next, long lineNo) {
    Value v;
    std::size_t p = skipSpaces(s, line.begin, line.contentEnd);
    const std::string_view content = s.substr(0, line.contentEnd);
    if (s[p] == '@') {
        ++p;
    } else {
        p = parseString(content, p + 1, '"', v.name);
        if (p == std::string_view::npos)
            fail(lineNo, kMalformedValue);
    }
    v.folded = foldCase(v.name);
    p = skipSpaces(s, p, line.contentEnd);
    if (p >= line.contentEnd || s[p] != '=')
        fail(lineNo, kMalformedValue);
    p = skipSpaces(s, p + 1, line.contentEnd);
    const std::string_view rest = content.substr(p);
    const TypeTag* tag = nullptr;
    for (const auto& t : kTags)
        if (rest.starts_with(t.tag)) {
            tag = &t;
            break;
        }
    bool isHexData = false;
    if (tag) {
        v.type = tag->type;
        v.quoted = tag->quoted;
        p += tag->tag.size();
        isHexData = tag->type == kRegBinary;
    } else if (rest.starts_with("hex(")) {
        p += 4;
        std::uint64_t type = 0;
        for (; p < line.contentEnd && isHex(s[p]); ++p)
            type = std::min<std::uint64_t>(type * 16 + hexValue(s[p]), 0xffffffffULL);
        if (content.substr(p, 2) != "):")
            fail(lineNo, kMalformedValue);
        p += 2;
        v.type = static_cast<std::uint32_t>(type);
        isHexData = true;
    } else {
        fail(lineNo, kMalformedValue);
    }
    if (v.quoted) {
        if (parseString(content, p, '"', v.text) == std::string_view::npos)
            fail(lineNo, kMalformedValue);
    } else if (isHexData) {
        parseHex(s, p, line.contentEnd, next, v.bytes, lineNo);
    } else { // dword: as lenient as strtoul
        p = skipSpaces(s, p, line.contentEnd);
        if (content.substr(p, 2) == "0x" || content.substr(p, 2) == "0X")
            p += 2;
        std::uint32_t dw = 0;
        for (; p < line.contentEnd && isHex(s[p]); ++p)
            dw = dw * 16 + hexValue(s[p]);
        for (int i = 0; i < 4; ++i)
            v.bytes.push_back(static_cast<std::uint8_t>(dw >> (8 * i)));
    }
    v.end = next;
    return v;
}

// Reads a block's own text. Line numbers count from `firstLine` for error messages.
void parseBlock(Block& b, long firstLine) {
    const std::string_view s = b.text;
    b.values.clear();
    b.path.clear();
    b.hasClass = b.isLink = false;
    b.timeBegin = std::string::npos;
    const Line header = lineAt(s, 0);
    b.eol = header.end > header.contentEnd + 1 ? "\r\n" : "\n";
    std::size_t p = skipSpaces(s, 0, header.contentEnd);
    Text path;
    p = parseString(s.substr(0, header.contentEnd), p + 1, ']', path);
    if (p == std::string_view::npos)
        fail(firstLine, "キーの見出しに「]」がありません");
    b.pathEnd = p;
    b.headerEnd = header.contentEnd;
    for (std::size_t from = 0; from <= path.size();) {
        const std::size_t to = std::min(path.find(u'\\', from), path.size());
        if (to > from)
            b.path.emplace_back(path.substr(from, to - from));
        from = to + 1;
    }
    bool inOptions = true;
    b.optionsEnd = header.end;
    long lineNo = firstLine;
    for (std::size_t at = header.end; at < s.size();) {
        ++lineNo;
        const Line line = lineAt(s, at);
        std::size_t next = line.end;
        const std::size_t q = skipSpaces(s, line.begin, line.contentEnd);
        const char c = q < line.contentEnd ? s[q] : '\0';
        if (c == '"' || c == '@') {
            inOptions = false;
            const long valueLine = lineNo;
            Value v = parseValue(s, line, next, valueLine);
            v.begin = line.begin;
            b.values.push_back(std::move(v));
            lineNo +=
                static_cast<long>(std::count(s.begin() + static_cast<std::ptrdiff_t>(line.end),
                                             s.begin() + static_cast<std::ptrdiff_t>(next), '\n'));
        } else if (c == '#') {
            const std::string_view opt = s.substr(q, line.contentEnd - q);
            if (opt.starts_with("#time=") && b.timeBegin == std::string::npos) {
                b.timeBegin = line.begin;
                b.timeEnd = line.contentEnd;
            } else if (opt.starts_with("#class=")) {
                b.hasClass = true;
            } else if (opt.starts_with("#link")) {
                b.isLink = true;
            }
            if (inOptions)
                b.optionsEnd = line.end;
        } else {
            inOptions = false; // comments, blank and unknown lines: wineserver skips them
        }
        at = next;
    }
}

bool isBlockStart(std::string_view s, std::size_t begin, std::size_t contentEnd) {
    const std::size_t q = skipSpaces(s, begin, contentEnd);
    return q < contentEnd && s[q] == '[';
}

int comparePaths(const std::vector<Text>& a, const std::vector<Text>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (const int c = compareNames(a[i], b[i]))
            return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool endsWithBlankLine(std::string_view s) {
    return s.ends_with("\n\n") || s.ends_with("\n\r\n") || s.empty();
}

void collectBlocks(const Key& key, std::vector<Block*>& out) {
    out.insert(out.end(), key.blocks.begin(), key.blocks.end());
    for (const auto& [name, child] : key.children)
        collectBlocks(*child, out);
}

bool needsBlock(const Key& key) {
    if (key.children.empty())
        return true;
    return std::any_of(key.blocks.begin(), key.blocks.end(), [](const Block* b) {
        return !b->values.empty() || b->hasClass || b->isLink;
    });
}

} // namespace

std::string escapeKeyName(std::u16string_view name) {
    std::string out;
    escapeInto(out, name, '[', ']');
    return out;
}

std::string escapeString(std::u16string_view text) {
    std::string out;
    escapeInto(out, text, '"', '"');
    return out;
}

std::string valueLine(std::u16string_view name, std::uint32_t type,
                      const std::vector<std::uint8_t>& data, std::string_view eol) {
    std::string out;
    if (name.empty()) {
        out = "@=";
    } else {
        out = "\"";
        escapeInto(out, name, '"', '"');
        out += "\"=";
    }
    const std::size_t units = data.size() / 2;
    const bool terminated = data.size() >= 2 && data.size() % 2 == 0 &&
                            data[data.size() - 1] == 0 && data[data.size() - 2] == 0;
    if ((type == kRegSz || type == kRegExpandSz || type == kRegMultiSz) && terminated) {
        if (type != kRegSz)
            out += "str(" + hex(type) + "):";
        out += '"';
        escapeInto(out, utf16le(data, units - 1), '"', '"');
        out += '"';
        out += eol;
        return out;
    }
    if (type == kRegDword && data.size() == 4) {
        const std::uint32_t dw =
            static_cast<std::uint32_t>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                       (static_cast<std::uint32_t>(data[3]) << 24));
        out += "dword:" + hex(dw, 8);
        out += eol;
        return out;
    }
    out += type == kRegBinary ? "hex:" : "hex(" + hex(type) + "):";
    std::size_t count = out.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += hex(data[i], 2);
        count += 2;
        if (i + 1 < data.size()) {
            out += ',';
            if (++count > 76) {
                out += '\\';
                out += eol;
                out += "  ";
                count = 2;
            }
        }
    }
    out += eol;
    return out;
}

std::uint64_t fileTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * kTicksPerSecond +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100 + kTicks1601To1970;
}

std::optional<Text> Value::setting() const {
    if (type != kRegSz && type != kRegExpandSz)
        return std::nullopt;
    if (quoted)
        return text;
    Text t = utf16le(bytes, bytes.size() / 2);
    if (!t.empty() && t.back() == u'\0')
        t.pop_back();
    return t;
}

RegFile::RegFile() : root_(std::make_unique<Key>()) {
    head_ = "WINE REGISTRY Version 2\n"
            ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
            "\n"
            "#arch=win64\n";
}

RegFile RegFile::parse(std::string_view s) {
    RegFile f;
    f.head_.clear();
    if (s.find('\0') != std::string_view::npos) {
        const auto at = s.begin() + static_cast<std::ptrdiff_t>(s.find('\0'));
        fail(1 + static_cast<long>(std::count(s.begin(), at, '\n')), "NUL バイトが含まれています");
    }
    const Line first = lineAt(s, 0);
    if (s.substr(0, first.contentEnd) != "WINE REGISTRY Version 2")
        fail(1, "先頭行が「WINE REGISTRY Version 2」ではありません");
    f.eol_ = first.end > first.contentEnd + 1 ? "\r\n" : "\n";
    long lineNo = 1;
    std::size_t at = first.end;
    // Header: comments and options; a value before any key is what wineserver rejects.
    for (; at < s.size(); ++lineNo) {
        const Line line = lineAt(s, at);
        if (isBlockStart(s, line.begin, line.contentEnd))
            break;
        const std::size_t q = skipSpaces(s, line.begin, line.contentEnd);
        if (q < line.contentEnd && (s[q] == '"' || s[q] == '@'))
            fail(lineNo + 1, "キーより前に値があります");
        at = line.end;
    }
    f.head_ = std::string(s.substr(0, at));
    while (at < s.size()) {
        const long blockLine = ++lineNo;
        std::size_t end = lineAt(s, at).end;
        while (end < s.size()) {
            const Line line = lineAt(s, end);
            if (isBlockStart(s, line.begin, line.contentEnd))
                break;
            end = line.end;
            ++lineNo;
        }
        auto block = std::make_unique<Block>();
        block->text = std::string(s.substr(at, end - at));
        parseBlock(*block, blockLine);
        f.addBlock(std::move(block));
        at = end;
    }
    return f;
}

void RegFile::addBlock(std::unique_ptr<Block> block) {
    adopt(*block);
    blocks_.push_back(std::move(block));
}

void RegFile::adopt(Block& block) {
    Key* key = root_.get();
    for (const auto& name : block.path) {
        auto& child = key->children[foldCase(name)];
        if (!child) {
            child = std::make_unique<Key>();
            child->name = name;
            child->parent = key;
        }
        key = child.get();
    }
    block.key = key;
    key->blocks.push_back(&block);
}

std::string RegFile::text() const {
    std::size_t size = head_.size();
    for (const auto& b : blocks_)
        size += b->text.size();
    std::string out;
    out.reserve(size);
    out += head_;
    for (const auto& b : blocks_)
        out += b->text;
    return out;
}

const Key* RegFile::find(const std::vector<Text>& path) const {
    const Key* key = root_.get();
    for (const auto& name : path) {
        const auto it = key->children.find(foldCase(name));
        if (it == key->children.end())
            return nullptr;
        key = it->second.get();
    }
    return key;
}

Key* RegFile::findMutable(const std::vector<Text>& path) {
    return const_cast<Key*>(find(path));
}

std::vector<Text> RegFile::subkeyNames(const Key& key) {
    std::vector<Text> names;
    names.reserve(key.children.size());
    for (const auto& [folded, child] : key.children)
        names.push_back(child->name);
    return names;
}

std::vector<RegFile::Merged> RegFile::values(const Key& key) {
    std::vector<const Value*> all;
    for (const Block* b : key.blocks)
        for (const Value& v : b->values)
            all.push_back(&v);
    const auto less = [](const Value* a, const Value* b) { return a->folded < b->folded; };
    if (!std::is_sorted(all.begin(), all.end(), less))
        std::stable_sort(all.begin(), all.end(), less);
    // Duplicates merge as wineserver merges them: the first spelling, the last data.
    std::vector<Merged> out;
    out.reserve(all.size());
    for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j + 1 < all.size() && all[j + 1]->folded == all[i]->folded)
            ++j;
        out.push_back({&all[i]->name, all[j]});
        i = j + 1;
    }
    return out;
}

const Value* RegFile::findValue(const Key& key, std::u16string_view name) {
    const Text folded = foldCase(name);
    for (auto b = key.blocks.rbegin(); b != key.blocks.rend(); ++b)
        for (auto v = (*b)->values.rbegin(); v != (*b)->values.rend(); ++v)
            if (v->folded == folded)
                return &*v;
    return nullptr;
}

std::vector<Text> RegFile::pathOf(const Key& key) const {
    std::vector<Text> path;
    for (const Key* k = &key; k != root_.get(); k = k->parent)
        path.push_back(k->name);
    std::reverse(path.begin(), path.end());
    return path;
}

Key* RegFile::ensureKey(const std::vector<Text>& path, std::vector<Key*>& changedParents) {
    Key* key = root_.get();
    for (const auto& name : path) {
        auto& child = key->children[foldCase(name)];
        if (!child) {
            child = std::make_unique<Key>();
            child->name = name;
            child->parent = key;
            changedParents.push_back(key);
        }
        key = child.get();
    }
    return key;
}

void RegFile::edit(Block& b, std::vector<Splice> splices, std::uint64_t now) {
    // Fresh timestamps first, so that a "#time" line inserted below the header comes before a
    // value inserted at the same place.
    std::vector<Splice> all;
    all.push_back({b.pathEnd, b.headerEnd, " " + secondsText(now)});
    if (b.timeBegin != std::string::npos) {
        all.push_back({b.timeBegin, b.timeEnd, timeLine(now)});
    } else {
        const std::size_t at = lineAt(b.text, 0).end;
        all.push_back({at, at, timeLine(now) + b.eol});
    }
    all.insert(all.end(), std::make_move_iterator(splices.begin()),
               std::make_move_iterator(splices.end()));
    std::stable_sort(all.begin(), all.end(),
                     [](const Splice& x, const Splice& y) { return x.begin < y.begin; });
    std::string out;
    out.reserve(b.text.size() + 256);
    std::size_t at = 0;
    for (auto& s : all) {
        out.append(b.text, at, s.begin - at);
        if (s.begin == s.end && !s.with.empty() && !out.empty() && out.back() != '\n')
            out += b.eol; // inserting after a last line that had no line end
        out += s.with;
        at = s.end;
    }
    out.append(b.text, at, std::string::npos);
    b.text = std::move(out);
    parseBlock(b, 1);
}

void RegFile::insertBlock(Key& key, std::string body, std::uint64_t now) {
    const std::vector<Text> path = pathOf(key);
    std::string text = "[";
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i)
            text += "\\\\";
        text += escapeKeyName(path[i]);
    }
    text += "] " + secondsText(now) + eol_ + timeLine(now) + eol_ + body;
    const auto pos = std::find_if(blocks_.begin(), blocks_.end(),
                                  [&](const auto& b) { return comparePaths(path, b->path) < 0; });
    if (pos != blocks_.end()) {
        text += eol_; // the blank line before the next block
    } else {
        std::string& last = blocks_.empty() ? head_ : blocks_.back()->text;
        if (!last.empty() && last.back() != '\n')
            last += eol_;
        if (!endsWithBlankLine(last))
            last += eol_;
    }
    auto block = std::make_unique<Block>();
    block->text = std::move(text);
    parseBlock(*block, 1);
    block->key = &key;
    key.blocks.push_back(block.get());
    blocks_.insert(pos, std::move(block));
}

// The blank line that separated a removed last block goes with it, so the file still ends the way
// Wine ends it.
void RegFile::dropTrailingBlankLine() {
    std::string& last = blocks_.empty() ? head_ : blocks_.back()->text;
    if (last.ends_with("\n\r\n"))
        last.resize(last.size() - 2);
    else if (last.ends_with("\n\n"))
        last.pop_back();
}

void RegFile::removeBlock(Block* block) {
    auto& kb = block->key->blocks;
    kb.erase(std::remove(kb.begin(), kb.end(), block), kb.end());
    const bool wasLast = !blocks_.empty() && blocks_.back().get() == block;
    blocks_.erase(std::find_if(blocks_.begin(), blocks_.end(),
                               [&](const auto& b) { return b.get() == block; }));
    if (wasLast)
        dropTrailingBlankLine();
}

// Gives a changed key the block Wine would give it: one when it has a value, no subkeys, a class
// or is a link, none when it only holds subkeys.
void RegFile::reconcile(Key& key, std::uint64_t now) {
    if (&key == root_.get())
        return;
    if (!needsBlock(key)) {
        while (!key.blocks.empty())
            removeBlock(key.blocks.back());
    } else if (key.blocks.empty()) {
        insertBlock(key, {}, now);
    } else {
        for (Block* b : key.blocks)
            edit(*b, {}, now);
    }
}

void RegFile::setValue(const std::vector<Text>& path, std::u16string_view name, std::uint32_t type,
                       const std::vector<std::uint8_t>& data, std::uint64_t now) {
    std::vector<Key*> changedParents;
    Key& key = *ensureKey(path, changedParents);
    const Text folded = foldCase(name);
    Block* lastBlock = nullptr;
    const Value* first = nullptr;
    for (Block* b : key.blocks)
        for (const Value& v : b->values)
            if (v.folded == folded) {
                first = first ? first : &v;
                lastBlock = b;
            }
    if (first) {
        // The key keeps the name's first spelling; earlier duplicates go, the last is replaced.
        const Text spelling = first->name;
        for (Block* b : std::vector<Block*>(key.blocks)) {
            std::vector<Splice> splices;
            for (const Value& v : b->values)
                if (v.folded == folded)
                    splices.push_back({v.begin, v.end, {}});
            if (splices.empty())
                continue;
            if (b == lastBlock)
                splices.back().with = valueLine(spelling, type, data, b->eol);
            edit(*b, std::move(splices), now);
        }
    } else if (!key.blocks.empty()) {
        Block& b = *key.blocks.front();
        std::size_t at = b.values.empty() ? b.optionsEnd : b.values.back().end;
        for (const Value& v : b.values)
            if (compareNames(v.name, name) > 0) {
                at = v.begin;
                break;
            }
        edit(b, {{at, at, valueLine(name, type, data, b.eol)}}, now);
    } else {
        insertBlock(key, valueLine(name, type, data, eol_), now);
    }
    for (Key* parent : changedParents)
        reconcile(*parent, now);
}

void RegFile::createKey(const std::vector<Text>& path, std::uint64_t now) {
    std::vector<Key*> changedParents;
    Key& key = *ensureKey(path, changedParents);
    if (key.blocks.empty() && key.children.empty())
        insertBlock(key, {}, now);
    for (Key* parent : changedParents)
        reconcile(*parent, now);
}

bool RegFile::deleteValue(const std::vector<Text>& path, std::u16string_view name,
                          std::uint64_t now) {
    Key* key = findMutable(path);
    if (!key)
        return false;
    const Text folded = foldCase(name);
    bool found = false;
    for (Block* b : std::vector<Block*>(key->blocks)) {
        std::vector<Splice> splices;
        for (const Value& v : b->values)
            if (v.folded == folded)
                splices.push_back({v.begin, v.end, {}});
        if (splices.empty())
            continue;
        found = true;
        edit(*b, std::move(splices), now);
    }
    if (found && !needsBlock(*key))
        reconcile(*key, now);
    return found;
}

bool RegFile::deleteKey(const std::vector<Text>& path, std::uint64_t now) {
    Key* key = findMutable(path);
    if (!key || key == root_.get())
        return false;
    std::vector<Block*> doomed;
    collectBlocks(*key, doomed);
    if (!doomed.empty()) {
        const Block* lastBlock = blocks_.back().get();
        const bool hadLast = std::find(doomed.begin(), doomed.end(), lastBlock) != doomed.end();
        std::sort(doomed.begin(), doomed.end());
        std::erase_if(blocks_, [&](const auto& b) {
            return std::binary_search(doomed.begin(), doomed.end(), b.get());
        });
        if (hadLast)
            dropTrailingBlankLine();
    }
    Key* parent = key->parent;
    parent->children.erase(foldCase(key->name));
    reconcile(*parent, now);
    return true;
}

} // namespace keyloft::wine
