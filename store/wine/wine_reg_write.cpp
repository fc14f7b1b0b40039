#include "wine_reg_file.h"
#include "wine_reg_syntax.h"

#include "case_fold.h"
#include "text_codec.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

namespace keyloft::wine {

using detail::isHex;
using detail::lineAt;
using detail::utf16le;

namespace {

constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;

void escapeInto(std::string& out, std::u16string_view s, char d1, char d2) {
    static constexpr char kLetters[] = ".......abtnvfr.............e....";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto plain = [&](char16_t u) {
            return u >= 32 && u < 128 && u != u'\\' && u != d1 && u != d2;
        };
        if (plain(s[i])) {
            // A run of characters that stand for themselves, copied at once.
            std::size_t end = i + 1;
            while (end < s.size() && plain(s[end]))
                ++end;
            const std::size_t at = out.size();
            out.resize(at + (end - i));
            std::copy(s.begin() + static_cast<std::ptrdiff_t>(i),
                      s.begin() + static_cast<std::ptrdiff_t>(end),
                      out.begin() + static_cast<std::ptrdiff_t>(at));
            i = end - 1;
            continue;
        }
        const char16_t c = s[i];
        const bool more = i + 1 < s.size();
        if (c > 127) {
            const bool hexNext = more && s[i + 1] < 128 && isHex(static_cast<char>(s[i + 1]));
            out += "\\x";
            out += digits(c, 16, hexNext ? 4 : 0);
        } else if (c < 32) {
            out += '\\';
            if (kLetters[c] != '.') {
                out += kLetters[c];
            } else {
                const bool octalNext = more && s[i + 1] >= u'0' && s[i + 1] <= u'7';
                out += digits(c, 8, octalNext ? 3 : 0);
            }
        } else {
            out += '\\';
            out += static_cast<char>(c);
        }
    }
}

// A REG_SZ value's line, as valueLine writes it for the text with its final NUL.
void stringLine(std::string& out, std::u16string_view name, std::u16string_view text,
                std::string_view eol) {
    out += '"';
    escapeInto(out, name, '"', '"');
    out += "\"=\"";
    escapeInto(out, text, '"', '"');
    out += '"';
    out += eol;
}

std::string secondsText(std::uint64_t fileTime) {
    return digits(static_cast<unsigned>((fileTime - kTicks1601To1970) / kTicksPerSecond));
}

std::string timeLine(std::uint64_t fileTime) {
    return "#time=" + digits(fileTime >> 32, 16) + digits(fileTime & 0xffffffffU, 16, 8);
}

bool endsWithBlankLine(std::string_view s) {
    return s.ends_with("\n\n") || s.ends_with("\n\r\n") || s.empty();
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
            out += "str(" + digits(type, 16) + "):";
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
        out += "dword:" + digits(dw, 16, 8);
        out += eol;
        return out;
    }
    out += type == kRegBinary ? "hex:" : "hex(" + digits(type, 16) + "):";
    std::size_t count = out.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += digits(data[i], 16, 2);
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
    using Ticks = std::chrono::duration<std::uint64_t, std::ratio<1, kTicksPerSecond>>;
    const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<Ticks>(sinceUnixEpoch).count() + kTicks1601To1970;
}

std::string& RegFile::ownText(Block& b) {
    if (!b.own)
        b.own = std::make_unique<std::string>(textOf(b));
    changed();
    return *b.own;
}

FileBytes RegFile::text() const {
    std::size_t size = textOf(head_).size();
    for (const Block& b : blocks_)
        size += textOf(b).size();
    FileBytes out;
    out.reserve(size);
    out += textOf(head_);
    for (const Block& b : blocks_)
        out += textOf(b);
    return out;
}

// Wine gives a key a block when it has a value, no subkeys, a class or is a link; none when it
// only holds subkeys.
bool RegFile::needsBlock(const Survey& s, const std::vector<Layout>& layouts) {
    return s.below.empty() || std::any_of(layouts.begin(), layouts.end(), [](const Layout& l) {
               return !l.values.empty() || l.hasClass || l.isLink;
           });
}

void RegFile::edit(Block& b, const Layout& layout, std::vector<Splice> splices, std::uint64_t now) {
    const std::string_view text = textOf(b);
    // Fresh timestamps first, so that a "#time" line inserted below the header comes before a
    // value inserted at the same place.
    std::vector<Splice> all;
    all.reserve(splices.size() + 2);
    const std::string seconds = " " + secondsText(now);
    all.push_back({layout.pathEnd, layout.headerEnd, seconds});
    std::string time = timeLine(now);
    if (layout.timeBegin != std::string::npos) {
        all.push_back({layout.timeBegin, layout.timeEnd, time});
    } else {
        const std::size_t at = lineAt(text, 0).end;
        time += layout.eol;
        all.push_back({at, at, time});
    }
    all.insert(all.end(), splices.begin(), splices.end());
    const auto before = [](const Splice& x, const Splice& y) { return x.begin < y.begin; };
    if (!std::is_sorted(all.begin(), all.end(), before))
        std::stable_sort(all.begin(), all.end(), before);
    std::string out;
    out.reserve(text.size() + 256);
    std::size_t at = 0;
    for (auto& s : all) {
        out.append(text, at, s.begin - at);
        if (s.begin == s.end && !s.with.empty() && !out.empty() && out.back() != '\n')
            out += layout.eol; // inserting after a last line that had no line end
        out += s.with;
        at = s.end;
    }
    out.append(text, at, std::string::npos);
    b.own = std::make_unique<std::string>(std::move(out));
    changed();
}

void RegFile::insertBlock(const Path& key, std::string body, std::size_t at, std::uint64_t now) {
    std::string text = "[";
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (i)
            text += "\\\\";
        text += escapeKeyName(key[i]);
    }
    text += "] " + secondsText(now) + eol_ + timeLine(now) + eol_;
    text += body;
    if (at < blocks_.size()) {
        text += eol_; // the blank line before the next block
    } else {
        Block& last = blocks_.empty() ? head_ : blocks_.back();
        if (const std::string_view t = textOf(last); !t.empty() && t.back() != '\n')
            ownText(last) += eol_;
        if (!endsWithBlankLine(textOf(last)))
            ownText(last) += eol_;
    }
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(at),
                   Block{0, 0, std::make_unique<std::string>(std::move(text))});
    changed();
}

// The blank line that separated a removed last block goes with it, so the file still ends the way
// Wine ends it.
void RegFile::dropTrailingBlankLine() {
    Block& last = blocks_.empty() ? head_ : blocks_.back();
    const std::string_view t = textOf(last);
    if (t.ends_with("\n\r\n"))
        ownText(last).resize(t.size() - 2);
    else if (t.ends_with("\n\n"))
        ownText(last).pop_back();
}

void RegFile::removeBlocks(const std::vector<std::size_t>& ascending) {
    if (ascending.empty())
        return;
    const bool hadLast = ascending.back() + 1 == blocks_.size();
    std::size_t kept = 0;
    for (std::size_t i = 0, d = 0; i < blocks_.size(); ++i) {
        if (d < ascending.size() && ascending[d] == i)
            ++d;
        else
            blocks_[kept++] = std::move(blocks_[i]);
    }
    blocks_.resize(kept);
    changed();
    if (hadLast)
        dropTrailingBlankLine();
}

// Gives a key whose subkeys changed the block Wine would give it.
void RegFile::reconcile(const Path& key, std::uint64_t now) {
    if (key.empty())
        return;
    const Survey s = survey(key);
    const std::vector<Layout> l = layouts(s.same);
    if (!needsBlock(s, l)) {
        removeBlocks(s.same);
    } else if (s.same.empty()) {
        insertBlock(key, {}, s.insertAt, now);
    } else {
        for (std::size_t i = 0; i < s.same.size(); ++i)
            edit(blocks_[s.same[i]], l[i], {}, now);
    }
}

void RegFile::setValue(const Path& key, std::u16string_view name, std::uint32_t type,
                       const std::vector<std::uint8_t>& data, std::uint64_t now) {
    setBatch(
        key, {{name, 0}},
        [&](std::string& out, std::u16string_view as, std::size_t, std::string_view eol) {
            out += valueLine(as, type, data, eol);
        },
        now);
}

void RegFile::setStrings(const Path& key, std::span<const NamedText> values, std::uint64_t now) {
    std::vector<Named> batch;
    batch.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        batch.push_back({values[i].name, i});
    setBatch(
        key, std::move(batch),
        [&](std::string& out, std::u16string_view as, std::size_t i, std::string_view eol) {
            stringLine(out, as, values[i].text, eol);
        },
        now);
}

void RegFile::setBatch(const Path& key, std::vector<Named> batch, const LineOf& line,
                       std::uint64_t now) {
    if (batch.empty())
        return;
    // The batch as one call after the other leaves it: a name's first spelling with its last data,
    // in the registry's order. A file's values mostly come in that order already.
    const auto less = [](const Named& a, const Named& b) {
        return compareNames(a.name, b.name) < 0;
    };
    if (!std::is_sorted(batch.begin(), batch.end(), less))
        std::stable_sort(batch.begin(), batch.end(), less);
    std::vector<Named> merged;
    merged.reserve(batch.size());
    for (const Named& n : batch) {
        if (!merged.empty() && sameName(merged.back().name, n.name))
            merged.back().index = n.index;
        else
            merged.push_back(n);
    }
    const Survey s = survey(key);
    if (s.same.empty()) {
        std::string body;
        for (const Named& v : merged)
            line(body, v.name, v.index, eol_);
        insertBlock(key, std::move(body), s.insertAt, now);
    } else {
        setIn(s.same, merged, line, now);
    }
    // The deepest key that existed has a new subkey.
    if (s.depth < key.size())
        reconcile(Path(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(s.depth)), now);
}

// One look at the key's blocks and one rewrite of each that changes, whatever the number of names.
void RegFile::setIn(const std::vector<std::size_t>& same, std::span<const Named> sorted,
                    const LineOf& line, std::uint64_t now) {
    const std::vector<Layout> l = layouts(same);
    struct Entry {
        std::size_t block;
        const Value* value;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < l.size(); ++i)
        for (const Value& v : l[i].values)
            entries.push_back({i, &v});
    const auto less = [](const Entry& a, const Entry& b) {
        return compareNames(a.value->name, b.value->name) < 0;
    };
    if (!std::is_sorted(entries.begin(), entries.end(), less))
        std::stable_sort(entries.begin(), entries.end(), less);
    // A new name goes before the first value of the first block that sorts after it: the first
    // whose running maximum does, so that a block out of order is searched as well.
    const Layout& front = l.front();
    std::vector<const Value*> runningMax;
    for (const Value& v : front.values)
        runningMax.push_back(runningMax.empty() || compareNames(v.name, runningMax.back()->name) > 0
                                 ? &v
                                 : runningMax.back());
    // Every new line in one buffer, which the splices view once it is whole.
    std::string lines;
    struct Pending {
        std::size_t begin, end, from = 0, to = 0;
    };
    std::vector<std::vector<Pending>> inserts(l.size()), replaces(l.size());
    // The batch and the key's values both in the registry's order: one walk through each.
    auto lo = entries.begin();
    auto after = runningMax.begin();
    for (const Named& n : sorted) {
        while (lo != entries.end() && compareNames(lo->value->name, n.name) < 0)
            ++lo;
        auto hi = lo;
        while (hi != entries.end() && sameName(hi->value->name, n.name))
            ++hi;
        if (lo != hi) {
            // The key keeps the name's first spelling; earlier duplicates go, the last is replaced.
            for (auto it = lo; it != hi; ++it)
                replaces[it->block].push_back({it->value->begin, it->value->end});
            const Entry& last = *(hi - 1);
            Pending& p = replaces[last.block].back();
            p.from = lines.size();
            line(lines, lo->value->name, n.index, l[last.block].eol);
            p.to = lines.size();
            lo = hi;
            continue;
        }
        while (after != runningMax.end() && compareNames(n.name, (*after)->name) >= 0)
            ++after;
        const std::size_t at =
            after != runningMax.end()
                ? front.values[static_cast<std::size_t>(after - runningMax.begin())].begin
            : front.values.empty() ? front.optionsEnd
                                   : front.values.back().end;
        const std::size_t from = lines.size();
        line(lines, n.name, n.index, front.eol);
        inserts.front().push_back({at, at, from, lines.size()});
    }
    const auto splice = [&](const Pending& p) {
        return Splice{p.begin, p.end, std::string_view(lines).substr(p.from, p.to - p.from)};
    };
    for (std::size_t i = 0; i < l.size(); ++i) {
        // Before a value replaced at the same place, the new one that sorts before it. Both come
        // in the order of their places.
        std::vector<Splice> splices;
        splices.reserve(inserts[i].size() + replaces[i].size());
        auto in = inserts[i].begin(), re = replaces[i].begin();
        while (in != inserts[i].end() || re != replaces[i].end())
            splices.push_back(
                splice(re == replaces[i].end() || (in != inserts[i].end() && in->begin <= re->begin)
                           ? *in++
                           : *re++));
        if (!splices.empty())
            edit(blocks_[same[i]], l[i], std::move(splices), now);
    }
}

void RegFile::createKey(const Path& key, std::uint64_t now) {
    const Survey s = survey(key);
    if (s.same.empty() && s.below.empty())
        insertBlock(key, {}, s.insertAt, now);
    if (s.depth < key.size())
        reconcile(Path(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(s.depth)), now);
}

std::size_t RegFile::deleteValues(const Path& key, std::span<const Text> names, std::uint64_t now) {
    const Survey s = survey(key);
    if (names.empty() || s.same.empty())
        return 0;
    const std::vector<Layout> l = layouts(s.same);
    struct Entry {
        std::size_t block;
        const Value* value;
        bool gone;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < l.size(); ++i)
        for (const Value& v : l[i].values)
            entries.push_back({i, &v, false});
    const auto less = [](const Entry& a, const Entry& b) {
        return compareNames(a.value->name, b.value->name) < 0;
    };
    if (!std::is_sorted(entries.begin(), entries.end(), less))
        std::stable_sort(entries.begin(), entries.end(), less);
    std::size_t deleted = 0;
    for (; deleted < names.size(); ++deleted) {
        const std::u16string_view name = names[deleted];
        auto it = std::lower_bound(entries.begin(), entries.end(), name,
                                   [](const Entry& e, std::u16string_view n) {
                                       return compareNames(e.value->name, n) < 0;
                                   });
        bool found = false;
        for (; it != entries.end() && sameName(it->value->name, name); ++it)
            found |= !std::exchange(it->gone, true);
        if (!found)
            break;
    }
    if (deleted == 0)
        return 0;
    std::vector<std::vector<Splice>> splices(l.size());
    for (const Entry& e : entries)
        if (e.gone)
            splices[e.block].push_back({e.value->begin, e.value->end, {}});
    for (std::size_t i = 0; i < l.size(); ++i)
        if (!splices[i].empty())
            edit(blocks_[s.same[i]], l[i], std::move(splices[i]), now);
    if (!s.below.empty()) {
        const Survey after = survey(key);
        if (!needsBlock(after, layouts(after.same)))
            removeBlocks(after.same);
    }
    return deleted;
}

bool RegFile::deleteKey(const Path& key, std::uint64_t now) {
    if (key.empty())
        return false;
    const Survey s = survey(key);
    if (s.depth < key.size())
        return false;
    std::vector<std::size_t> doomed;
    std::merge(s.same.begin(), s.same.end(), s.below.begin(), s.below.end(),
               std::back_inserter(doomed));
    removeBlocks(doomed);
    reconcile(Path(key.begin(), key.end() - 1), now);
    return true;
}

} // namespace keyloft::wine
