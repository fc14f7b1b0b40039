#include "wine_reg_file.h"
#include "wine_reg_syntax.h"

#include "case_fold.h"
#include "text_codec.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <memory>
#include <utility>

namespace keyloft::wine {

using detail::isHex;
using detail::Line;
using detail::lineAt;
using detail::utf16le;

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
unsigned hexValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

// Reads a string up to `endChar` the way wineserver does (escapes, raw bytes as UTF-8) and appends
// it to `out`. Returns the position just after `endChar`, or npos when the line ends first.
// `ends`, when given, gets for each unit the position just after the bytes it was read from.
std::size_t parseString(std::string_view s, std::size_t p, char endChar, Text& out,
                        std::vector<std::size_t>* ends = nullptr) {
    const auto mark = [&] {
        if (ends)
            while (ends->size() < out.size())
                ends->push_back(p);
    };
    while (p < s.size() && s[p] != endChar) {
        const char c = s[p];
        if (static_cast<unsigned char>(c) >= 0x80) {
            std::size_t q = p;
            while (q < s.size() && static_cast<unsigned char>(s[q]) >= 0x80)
                ++q;
            out += utf8ToUtf16(s.substr(p, q - p));
            p = q;
            mark();
            continue;
        }
        if (c != '\\') {
            std::size_t q = p + 1;
            while (q < s.size()) {
                const char d = s[q];
                if (d == endChar || d == '\\' || static_cast<unsigned char>(d) >= 0x80)
                    break;
                ++q;
            }
            const std::size_t at = out.size();
            out.resize(at + (q - p));
            std::copy(s.begin() + static_cast<std::ptrdiff_t>(p),
                      s.begin() + static_cast<std::ptrdiff_t>(q),
                      out.begin() + static_cast<std::ptrdiff_t>(at));
            if (ends)
                for (std::size_t i = p; i < q; ++i)
                    ends->push_back(i + 1);
            p = q;
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
        } else if (e == 'x') {
            ++p;
            if (p >= s.size() || !isHex(s[p])) {
                out += u'x';
            } else {
                unsigned v = 0;
                for (int n = 0; n < 4 && p < s.size() && isHex(s[p]); ++n, ++p)
                    v = v * 16 + hexValue(s[p]);
                out += static_cast<char16_t>(v);
            }
        } else if (e >= '0' && e <= '7') {
            unsigned v = 0;
            for (int n = 0; n < 3 && p < s.size() && s[p] >= '0' && s[p] <= '7'; ++n, ++p)
                v = v * 8 + static_cast<unsigned>(s[p] - '0');
            out += static_cast<char16_t>(v);
        } else if (static_cast<unsigned char>(e) < 0x80) {
            out += static_cast<char16_t>(e);
            ++p;
        } // else a raw UTF-8 sequence after the backslash: decoded by the next round
        mark();
    }
    return p < s.size() ? p + 1 : std::string_view::npos;
}

std::size_t skipSpaces(std::string_view s, std::size_t p, std::size_t end) {
    while (p < end && isSpace(s[p]))
        ++p;
    return p;
}

[[noreturn]] void fail(long line, const char* reason) {
    throw ParseError{line, reason};
}

long lineOf(std::string_view s, std::size_t at, long firstLine) {
    return firstLine + static_cast<long>(std::count(s.begin(), s.begin() + at, '\n'));
}

void failOnNul(std::string_view s, long firstLine) {
    if (const auto at = s.find('\0'); at != std::string_view::npos)
        fail(lineOf(s, at, firstLine), "NUL バイトが含まれています");
}

constexpr const char* kMalformedValue = "値の行の形式が正しくありません";

// Hex bytes as wineserver reads them: comma-separated, a trailing "\" continues on the next line.
void parseHex(std::string_view s, std::size_t p, std::size_t lineEnd, std::size_t& nextLine,
              std::vector<std::uint8_t>& out, long lineNo) {
    for (;;) {
        while (p < lineEnd && isHex(s[p])) {
            unsigned v = 0;
            std::size_t count = 0;
            for (; p < lineEnd && isHex(s[p]); ++p, ++count)
                v = count < 4 ? v * 16 + hexValue(s[p]) : 0x100;
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

// Reads the value that starts on `line` (with a '"' or '@') into `v`; advances `next` past its
// last line.
void parseValue(std::string_view s, const Line& line, std::size_t& next, long lineNo, Value& v) {
    v.name.clear();
    v.type = kRegSz;
    v.quoted = false;
    v.text.clear();
    v.bytes.clear();
    std::size_t p = skipSpaces(s, line.begin, line.contentEnd);
    const std::string_view content = s.substr(0, line.contentEnd);
    if (s[p] == '@') {
        ++p;
    } else {
        p = parseString(content, p + 1, '"', v.name);
        if (p == std::string_view::npos)
            fail(lineNo, kMalformedValue);
    }
    p = skipSpaces(s, p, line.contentEnd);
    if (p >= line.contentEnd || s[p] != '=')
        fail(lineNo, kMalformedValue);
    p = skipSpaces(s, p + 1, line.contentEnd);
    const std::string_view rest = content.substr(p);
    const auto* tag = std::find_if(std::begin(kTags), std::end(kTags),
                                   [&](const TypeTag& t) { return rest.starts_with(t.tag); });
    bool isHexData = false;
    if (tag != std::end(kTags)) {
        v.type = tag->type;
        v.quoted = tag->quoted;
        p += tag->tag.size();
        isHexData = tag->type == kRegBinary;
    } else if (rest.starts_with("hex(")) {
        p += 4;
        v.type = 0;
        const auto [end, error] =
            std::from_chars(s.data() + p, s.data() + line.contentEnd, v.type, 16);
        if (error == std::errc::result_out_of_range)
            v.type = 0xffffffffU; // as wineserver's strtoul, saturated
        p = static_cast<std::size_t>(end - s.data());
        if (content.substr(p, 2) != "):")
            fail(lineNo, kMalformedValue);
        p += 2;
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
    v.begin = line.begin;
    v.end = next;
}

// Where the key of a block stands to one path, worked out from the block's header.
struct Placement {
    enum Kind { Unreadable, Apart, Ancestor, Same, Below } kind = Unreadable;
    std::size_t common = 0;   // leading names it shares with the path
    int order = 0;            // the block's key against the path, in Wine's order
    std::u16string_view next; // Below: its name right below the path
};

// Places block after block. A header that repeats the bytes which decided the placement of the
// one before (Wine writes a key's subkeys one after the other) shares it without being read: so a
// pass over a file of many keys mostly compares bytes.
class PathScan {
public:
    explicit PathScan(const Path& path) : path_(path) {}

    // `fresh` is false when the placement was shared.
    const Placement& place(std::string_view block, bool& fresh) {
        fresh = decisive_ == 0 || block.size() < decisive_ ||
                block.compare(0, decisive_, last_, 0, decisive_) != 0;
        if (fresh)
            read(block);
        return placement_;
    }

private:
    void read(std::string_view block) {
        const Line header = lineAt(block, 0);
        const std::size_t open = skipSpaces(block, 0, header.contentEnd);
        // The units read from the bytes this header shares with the last one stay; so does the
        // byte after them, which a shorter escape could have run on into.
        const std::size_t shared = static_cast<std::size_t>(
            std::mismatch(block.begin(), block.end(), last_.begin(), last_.end()).first -
            block.begin());
        std::size_t kept = 0;
        if (shared > open)
            kept = static_cast<std::size_t>(std::lower_bound(ends_.begin(), ends_.end(), shared) -
                                            ends_.begin());
        units_.resize(kept);
        ends_.resize(kept);
        last_ = block;
        decisive_ = 0;
        Placement& r = placement_;
        r = {};
        const std::size_t close = parseString(block.substr(0, header.contentEnd),
                                              kept ? ends_.back() : open + 1, ']', units_, &ends_);
        if (close == std::string_view::npos) {
            units_.clear();
            ends_.clear();
            starts_.clear();
            last_ = {};
            return;
        }
        const std::size_t n = units_.size();
        // Beyond the last unit that decides, one more byte: a shorter escape could run on into it.
        const auto decidedAt = [&](std::size_t unit) {
            decisive_ = unit < n ? ends_[unit] + 1 : close;
        };
        // The names that began within the kept units compared as before: resume at the last of
        // them.
        std::size_t c = 0, u = 0;
        while (c + 1 < starts_.size() && starts_[c + 1] < kept)
            ++c;
        if (c < starts_.size() && starts_[c] < kept)
            u = starts_[c];
        else
            c = 0;
        starts_.resize(c);
        for (;; ++c) {
            while (u < n && units_[u] == u'\\')
                ++u;
            starts_.push_back(u);
            r.common = c;
            if (u == n) {
                r.kind = c == path_.size() ? Placement::Same : Placement::Ancestor;
                r.order = c == path_.size() ? 0 : -1;
                decisive_ = close;
                return;
            }
            if (c == path_.size()) {
                const std::size_t v = std::min(units_.find(u'\\', u), n);
                r.kind = Placement::Below;
                r.order = 1;
                r.next = std::u16string_view(units_).substr(u, v - u);
                decidedAt(v);
                return;
            }
            const Text& name = path_[c];
            for (std::size_t k = 0;; ++k, ++u) {
                const bool inKey = u < n && units_[u] != u'\\', inPath = k < name.size();
                if (!inKey && !inPath)
                    break;
                if (inKey && inPath && units_[u] == name[k])
                    continue;
                const char16_t x = inKey ? foldCase(units_[u]) : 0;
                const char16_t y = inPath ? foldCase(name[k]) : 0;
                if (inKey && inPath && x == y)
                    continue;
                r.kind = Placement::Apart;
                r.order = !inKey ? -1 : !inPath || x > y ? 1 : -1;
                decidedAt(u);
                return;
            }
        }
    }

    const Path& path_;
    std::string_view last_;
    std::size_t decisive_ = 0; // 0: nothing to share
    Placement placement_;
    Text units_;
    std::vector<std::size_t> ends_;
    std::vector<std::size_t> starts_; // the unit each name of the last header began at
};

// Walks a block as wineserver reads it, numbering lines from `firstLine`, and hands each value to
// `onValue` (one Value, filled afresh for each). Returns the number of the line after the block.
template <class OnValue>
long walkBlock(std::string_view s, long firstLine, auto& layout, Value& scratch, OnValue onValue) {
    failOnNul(s, firstLine);
    layout.hasClass = layout.isLink = false;
    layout.timeBegin = std::string::npos;
    const Line header = lineAt(s, 0);
    layout.eol = header.end > header.contentEnd + 1 ? "\r\n" : "\n";
    const std::size_t open = skipSpaces(s, 0, header.contentEnd);
    scratch.text.clear();
    const std::size_t close =
        parseString(s.substr(0, header.contentEnd), open + 1, ']', scratch.text);
    if (close == std::string_view::npos)
        fail(firstLine, "キーの見出しに「]」がありません");
    layout.pathEnd = close;
    layout.headerEnd = header.contentEnd;
    bool inOptions = true;
    layout.optionsEnd = header.end;
    long lineNo = firstLine;
    for (std::size_t at = header.end; at < s.size();) {
        ++lineNo;
        const Line line = lineAt(s, at);
        std::size_t next = line.end;
        const std::size_t q = skipSpaces(s, line.begin, line.contentEnd);
        const char c = q < line.contentEnd ? s[q] : '\0';
        if (c == '"' || c == '@') {
            inOptions = false;
            parseValue(s, line, next, lineNo, scratch);
            onValue(scratch);
            if (next != line.end)
                lineNo += static_cast<long>(
                    std::count(s.begin() + static_cast<std::ptrdiff_t>(line.end),
                               s.begin() + static_cast<std::ptrdiff_t>(next), '\n'));
        } else if (c == '#') {
            const std::string_view opt = s.substr(q, line.contentEnd - q);
            if (opt.starts_with("#time=") && layout.timeBegin == std::string::npos) {
                layout.timeBegin = line.begin;
                layout.timeEnd = line.contentEnd;
            } else if (opt.starts_with("#class=")) {
                layout.hasClass = true;
            } else if (opt.starts_with("#link")) {
                layout.isLink = true;
            }
            if (inOptions)
                layout.optionsEnd = line.end;
        } else {
            inOptions = false; // comments, blank and unknown lines: wineserver skips them
        }
        at = next;
    }
    return lineNo + 1;
}

} // namespace

Path splitPath(std::u16string_view path) {
    Path parts;
    for (std::size_t from = 0; from <= path.size();) {
        const std::size_t to = std::min(path.find(u'\\', from), path.size());
        if (to > from)
            parts.emplace_back(path.substr(from, to - from));
        from = to + 1;
    }
    return parts;
}

std::optional<Text> Value::setting() const& {
    return Value(*this).setting();
}

std::optional<Text> Value::setting() && {
    if (type != kRegSz && type != kRegExpandSz)
        return std::nullopt;
    if (quoted)
        return std::move(text);
    Text t = utf16le(bytes, bytes.size() / 2);
    if (!t.empty() && t.back() == u'\0')
        t.pop_back();
    return t;
}

RegFile::RegFile()
    : source_("WINE REGISTRY Version 2\n"
              ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
              "\n"
              "#arch=win64\n"),
      head_{0, source_.size(), nullptr} {}

void BlockStarts::scan(std::string_view s) {
    for (std::size_t at = scanned_; (at = s.find('[', at)) != std::string_view::npos; ++at) {
        std::size_t begin = at;
        while (begin > 0 && s[begin - 1] != '\n' && isSpace(s[begin - 1]))
            --begin;
        if (begin > 0 && s[begin - 1] == '\n')
            at_.push_back(begin);
    }
    scanned_ = s.size();
}

RegFile RegFile::load(FileBytes bytes, BlockStarts blockStarts) {
    RegFile f;
    f.source_ = std::move(bytes);
    const std::string_view s = f.source_;
    const Line first = lineAt(s, 0);
    if (s.substr(0, first.contentEnd) != "WINE REGISTRY Version 2")
        fail(1, "先頭行が「WINE REGISTRY Version 2」ではありません");
    f.eol_ = first.end > first.contentEnd + 1 ? "\r\n" : "\n";
    blockStarts.scan(s);
    const std::vector<std::size_t>& starts = blockStarts.at();
    const std::size_t headEnd = starts.empty() ? s.size() : starts.front();
    f.head_ = {0, headEnd, nullptr};
    // A value before any key is what wineserver rejects.
    long lineNo = 2;
    for (std::size_t at = first.end; at < headEnd; ++lineNo) {
        const Line line = lineAt(s, at);
        const std::size_t q = skipSpaces(s, line.begin, line.contentEnd);
        if (q < line.contentEnd && (s[q] == '"' || s[q] == '@'))
            fail(lineNo, "キーより前に値があります");
        at = line.end;
    }
    f.blocks_.reserve(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i)
        f.blocks_.push_back({starts[i], i + 1 < starts.size() ? starts[i + 1] : s.size(), nullptr});
    return f;
}

void RegFile::validate() const {
    const std::string_view head = textOf(head_);
    failOnNul(head, 1);
    long line = lineOf(head, head.size(), 1);
    Layout layout;
    Value scratch;
    for (const Block& b : blocks_)
        line = walkBlock(textOf(b), line, layout, scratch, [](const Value&) {});
}

std::string_view RegFile::textOf(const Block& b) const {
    return b.own ? std::string_view(*b.own)
                 : std::string_view(source_).substr(b.begin, b.end - b.begin);
}

std::vector<Text> RegFile::subkeyNames(const Path& key) const {
    std::vector<Text> names;
    PathScan scan(key);
    bool fresh = false;
    for (const Block& b : blocks_)
        if (const Placement& p = scan.place(textOf(b), fresh); fresh && p.kind == Placement::Below)
            names.emplace_back(p.next);
    // A name met again, in any spelling, is the same key: the first spelling stays.
    const auto less = [](const Text& a, const Text& b) { return compareNames(a, b) < 0; };
    if (!std::is_sorted(names.begin(), names.end(), less))
        std::stable_sort(names.begin(), names.end(), less);
    names.erase(std::unique(names.begin(), names.end(), sameName), names.end());
    return names;
}

namespace {

// The keys below one key, each level keyed by its name folded as the registry compares it, so
// that the map's order is Wine's; the first spelling met stays.
struct KeyTree {
    std::map<Text, std::pair<Text, std::unique_ptr<KeyTree>>> children;

    void add(const Path& path, std::size_t from) {
        KeyTree* level = this;
        for (std::size_t i = from; i < path.size(); ++i) {
            auto& child = level->children[foldedName(path[i])];
            if (!child.second) {
                child.first = path[i];
                child.second = std::make_unique<KeyTree>();
            }
            level = child.second.get();
        }
    }

    void list(const Path& above, std::vector<Path>& out) const {
        for (const auto& [folded, child] : children) {
            Path path = above;
            path.push_back(child.first);
            out.push_back(path);
            child.second->list(path, out);
        }
    }
};

} // namespace

std::vector<Path> RegFile::keysBelow(const Path& key) const {
    KeyTree tree;
    PathScan scan(key);
    bool fresh = false;
    Text units;
    for (const Block& b : blocks_) {
        if (scan.place(textOf(b), fresh).kind != Placement::Below)
            continue;
        // Below the key, a shared placement says nothing of the rest of the path: read it all.
        const std::string_view text = textOf(b);
        const Line header = lineAt(text, 0);
        units.clear();
        if (parseString(text.substr(0, header.contentEnd),
                        skipSpaces(text, 0, header.contentEnd) + 1, ']',
                        units) == std::string_view::npos)
            continue;
        const Path path = splitPath(units);
        if (path.size() > key.size())
            tree.add(path, key.size());
    }
    std::vector<Path> out;
    tree.list({}, out);
    return out;
}

std::vector<Value> RegFile::values(const Path& key) const {
    std::vector<std::string_view> own;
    std::size_t lines = 0;
    PathScan scan(key);
    bool fresh = false;
    for (const Block& b : blocks_)
        if (scan.place(textOf(b), fresh).kind == Placement::Same) {
            own.push_back(textOf(b));
            lines +=
                static_cast<std::size_t>(std::count(own.back().begin(), own.back().end(), '\n'));
        }
    std::vector<Value> all;
    all.reserve(lines);
    Layout layout;
    Value scratch;
    for (const std::string_view text : own)
        walkBlock(text, 1, layout, scratch, [&](const Value& v) { all.push_back(v); });
    const auto less = [](const Value& a, const Value& b) {
        return compareNames(a.name, b.name) < 0;
    };
    if (!std::is_sorted(all.begin(), all.end(), less))
        std::stable_sort(all.begin(), all.end(), less);
    // Duplicates merge as wineserver merges them: the first spelling, the last data.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j + 1 < all.size() && sameName(all[j + 1].name, all[i].name))
            ++j;
        if (j != i)
            all[j].name = std::move(all[i].name);
        if (kept != j)
            all[kept] = std::move(all[j]);
        ++kept;
        i = j + 1;
    }
    all.resize(kept);
    return all;
}

std::optional<Value> RegFile::findValue(const Path& key, std::u16string_view name) const {
    if (!lookup_ || lookup_->key != key)
        lookup_ = Lookup{key, values(key)};
    const std::vector<Value>& all = lookup_->values;
    const auto it =
        std::lower_bound(all.begin(), all.end(), name, [](const Value& v, std::u16string_view n) {
            return compareNames(v.name, n) < 0;
        });
    if (it == all.end() || !sameName(it->name, name))
        return std::nullopt;
    return *it;
}

RegFile::Survey RegFile::survey(const Path& key) const {
    Survey s;
    s.insertAt = blocks_.size();
    PathScan scan(key);
    bool fresh = false;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        const Placement& p = scan.place(textOf(blocks_[i]), fresh);
        if (p.kind == Placement::Unreadable)
            continue;
        s.depth = std::max(s.depth, p.kind == Placement::Below ? key.size() : p.common);
        if (p.kind == Placement::Same)
            s.same.push_back(i);
        else if (p.kind == Placement::Below)
            s.below.push_back(i);
        if (p.order > 0 && s.insertAt == blocks_.size())
            s.insertAt = i;
    }
    return s;
}

std::vector<RegFile::Layout> RegFile::layouts(const std::vector<std::size_t>& blocks) const {
    std::vector<Layout> out(blocks.size());
    Value scratch;
    for (std::size_t i = 0; i < blocks.size(); ++i)
        // An edit places values by their names; it needs none of their data.
        walkBlock(textOf(blocks_[blocks[i]]), 1, out[i], scratch, [&](const Value& v) {
            out[i].values.push_back({v.name, v.type, v.quoted, {}, {}, v.begin, v.end});
        });
    return out;
}

} // namespace keyloft::wine
