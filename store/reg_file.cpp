#include "reg_file.h"

#include "case_fold.h"
#include "text_codec.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace keyloft::reg {

namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kRoot = u"HKEY_CURRENT_USER";

// ---- Writing ----

void appendQuoted(Text& out, std::u16string_view text) {
    out += u'"';
    for (const char16_t c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        if (c == u'\n')
            out += u"\\n"; // a name has no other way: regedit's names are quoted only
        else if (c == u'\r')
            out += u"\\r";
        else
            out += c;
    }
    out += u'"';
}

// What a quoted value carries alike for both regedits: no control character (a line break
// would end the line, a NUL the text) and no lone surrogate.
bool quotable(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x20)
            return false;
        if (c >= 0xd800 && c <= 0xdbff) {
            if (i + 1 == text.size() || text[i + 1] < 0xdc00 || text[i + 1] > 0xdfff)
                return false;
            ++i;
        } else if (c >= 0xdc00 && c <= 0xdfff) {
            return false;
        }
    }
    return true;
}

// hex(1): the REG_SZ as regedit keeps it, NUL included, wrapped as regedit wraps.
void appendHexString(Text& out, std::u16string_view text, std::size_t column) {
    out += u"hex(1):";
    column += 7;
    const std::size_t count = 2 * text.size() + 2;
    constexpr char16_t digit[] = u"0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t unit = i / 2 < text.size() ? text[i / 2] : 0;
        const unsigned byte = i % 2 ? unit >> 8 : unit & 0xff;
        out += digit[byte >> 4];
        out += digit[byte & 15];
        column += 2;
        if (i + 1 == count)
            break;
        out += u',';
        if (++column > 76) {
            out += u"\\\r\n  ";
            column = 2;
        }
    }
}

Text keyLine(std::u16string_view application, std::u16string_view section) {
    Text line = u"[";
    line += kRoot;
    line += u'\\';
    line += kSettingsBasePath;
    if (!application.empty())
        (line += u'\\') += application;
    if (!section.empty())
        (line += u'\\') += section;
    return line += u"]\r\n";
}

// ---- Reading ----

std::u16string_view trimmed(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t'))
        s.remove_suffix(1);
    return s;
}

// Nothing but blanks or a comment.
bool endsLine(std::u16string_view rest) {
    rest = trimmed(rest);
    return rest.empty() || rest.front() == u';';
}

bool startsWithFolded(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && sameName(s.substr(0, prefix.size()), prefix);
}

std::optional<Text> decodeAnsi(std::string_view bytes, std::string_view codePage) {
    std::string name(codePage);
    const bool numeric = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
#ifdef _WIN32
    if (!numeric && name.size() > 2 && (name[0] == 'C' || name[0] == 'c') &&
        (name[1] == 'P' || name[1] == 'p'))
        name.erase(0, 2);
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const UINT cp = static_cast<UINT>(std::stoul(name));
    if (bytes.empty())
        return Text();
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), n);
    return Text(wide.begin(), wide.end());
#else
    if (numeric)
        name = "CP" + name;
    iconv_t cd = iconv_open("UTF-16LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in(bytes);
    std::string out(4 * in.size() + 4, '\0');
    char* inp = in.data();
    std::size_t inLeft = in.size();
    char* outp = out.data();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1))
        return std::nullopt;
    Text text;
    const std::size_t used = out.size() - outLeft;
    text.reserve(used / 2);
    for (std::size_t i = 0; i + 1 < used; i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                      static_cast<unsigned char>(out[i + 1]) << 8);
    return text;
#endif
}

Text fromUtf16le(std::string_view bytes) {
    Text text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return text;
}

// A file in the code page: its first line says REGEDIT4, as regedit finds the header (after blanks,
// before nothing else; with a BOM it is no ANSI file).
bool isRegedit4(std::string_view bytes) {
    const std::size_t at = bytes.find_first_not_of(" \t");
    return at != std::string_view::npos && bytes.substr(at).starts_with("REGEDIT4");
}

class Reader {
public:
    Reader(Text text, bool ansi, std::string_view codePage)
        : text_(std::move(text)), ansi_(ansi), codePage_(codePage) {
        const std::u16string_view all = text_;
        lines_.reserve(static_cast<std::size_t>(std::count(all.begin(), all.end(), u'\n')) + 1);
        std::size_t start = 0;
        while (start <= all.size()) {
            std::size_t end = all.find(u'\n', start);
            if (end == Text::npos)
                end = all.size();
            std::size_t stop = end;
            if (stop > start && all[stop - 1] == u'\r')
                --stop;
            lines_.push_back(all.substr(start, stop - start));
            start = end + 1;
        }
        // Most lines are one change each.
        result_.changes.reserve(lines_.size());
        result_.lines.reserve(lines_.size());
    }

    Import read() {
        // The header is the first line, as regedit reads it: what comes before it (a blank line,
        // a comment, a UTF-8 BOM before REGEDIT4) leaves the file's encoding in doubt.
        const std::u16string_view head = trimmed(lines_.front());
        if (head != kHeader5 && head != kHeader4) {
            refuse(1, u"regedit の .reg ファイルではありません（1 行目が「Windows Registry Editor "
                      u"Version 5.00」でも「REGEDIT4」でもありません）。");
            return std::move(result_);
        }
        for (std::size_t i = 1; i < lines_.size(); ++i) {
            const long number = static_cast<long>(i + 1);
            const std::u16string_view line = trimmed(lines_[i]);
            if (line.empty() || line.front() == u';' || line.front() == u'#')
                continue;
            if (line.front() == u'[')
                readKey(number, line);
            else if (line.front() == u'"' || line.front() == u'@')
                readValue(number, line, i);
            else
                refuse(number, u"読めない行です。");
        }
        return std::move(result_);
    }

private:
    enum class At { Nothing, Base, Application, Section, Deleted, Refused };

    void refuse(long line, std::u16string_view reason) {
        result_.refusals.push_back({line, Text(reason)});
    }
    void add(long line, Change change) {
        result_.changes.push_back(std::move(change));
        result_.lines.push_back(line);
    }

    void readKey(long number, std::u16string_view line) {
        at_ = At::Refused;
        const std::size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos || !endsLine(line.substr(close + 1))) {
            refuse(number, u"キーの行が「]」で終わっていません。");
            return;
        }
        std::u16string_view path = line.substr(1, close - 1);
        const bool deletion = !path.empty() && path.front() == u'-';
        if (deletion)
            path.remove_prefix(1);
        // regedit reads a key named with a final "\\" as the key itself.
        if (path.ends_with(u'\\'))
            path.remove_suffix(1);
        std::vector<std::u16string_view> names;
        for (std::size_t start = 0;;) {
            const std::size_t end = path.find(u'\\', start);
            names.push_back(path.substr(start, end == path.npos ? path.npos : end - start));
            if (end == path.npos)
                break;
            start = end + 1;
        }
        if (names.size() < 3 || !(sameName(names[0], kRoot) || sameName(names[0], u"HKCU")) ||
            !sameName(names[1], u"Software") ||
            !sameName(names[2], u"VB and VBA Program Settings")) {
            refuse(number, u"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings の外の"
                           u"キーです。");
            return;
        }
        for (std::size_t n = 3; n < names.size(); ++n)
            if (names[n].empty()) {
                refuse(number, u"キーの名前に空の階層があります。");
                return;
            }
        switch (names.size()) {
        case 3:
            if (deletion)
                refuse(number, u"設定の領域全体の削除は取り込みません。");
            else
                at_ = At::Base;
            return;
        case 4:
            application_ = names[3];
            if (deletion) {
                add(number, {Change::Kind::DeleteApplication, application_, {}, {}, {}});
                at_ = At::Deleted;
            } else {
                at_ = At::Application;
            }
            return;
        default:
            // A section is the whole path below its application, as SaveSetting names it.
            application_ = names[3];
            section_ = Text(path.substr(static_cast<std::size_t>(names[4].data() - path.data())));
            if (deletion) {
                add(number, {Change::Kind::DeleteSection, application_, section_, {}, {}});
                at_ = At::Deleted;
            } else {
                at_ = At::Section;
            }
        }
    }

    // A quoted text from `s` on (at its opening quote); `s` is left after the closing quote.
    static std::optional<Text> quoted(std::u16string_view& s) {
        Text text;
        for (std::size_t i = 1;;) {
            std::size_t stop = i;
            while (stop < s.size() && s[stop] != u'"' && s[stop] != u'\\')
                ++stop;
            // A "\" at the very end escapes nothing and leaves the quote open.
            if (stop == s.size() || (s[stop] == u'\\' && stop + 1 == s.size()))
                return std::nullopt;
            text.append(s.substr(i, stop - i));
            if (s[stop] == u'"') {
                s.remove_prefix(stop + 1);
                return text;
            }
            const char16_t e = s[stop + 1];
            switch (e) {
            case u'\\':
            case u'"':
                text += e;
                break;
            case u'n':
                text += u'\n';
                break;
            case u'r':
                text += u'\r';
                break;
            case u'0':
                text += u'\0';
                break;
            default:
                text += u'\\';
                text += e;
            }
            i = stop + 2;
        }
    }

    static std::optional<std::vector<std::uint8_t>> hexBytes(std::u16string_view s) {
        std::vector<std::uint8_t> bytes;
        std::size_t i = 0;
        auto skip = [&] {
            while (i < s.size() && (s[i] == u' ' || s[i] == u'\t'))
                ++i;
        };
        auto value = [](char16_t c) -> int {
            if (c >= u'0' && c <= u'9')
                return c - u'0';
            if (c >= u'a' && c <= u'f')
                return c - u'a' + 10;
            if (c >= u'A' && c <= u'F')
                return c - u'A' + 10;
            return -1;
        };
        for (;;) {
            skip();
            if (i == s.size() || s[i] == u';')
                break;
            int byte = 0, n = 0;
            for (; i < s.size() && n < 2 && value(s[i]) >= 0; ++i, ++n)
                byte = byte * 16 + value(s[i]);
            if (n == 0)
                return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(byte));
            skip();
            if (i < s.size() && s[i] == u',') {
                ++i;
                continue;
            }
            if (!endsLine(s.substr(i)))
                return std::nullopt;
            break;
        }
        return bytes;
    }

    void readValue(long number, std::u16string_view line, std::size_t& index) {
        std::optional<Text> name;
        std::u16string_view rest = line;
        if (rest.front() == u'@') {
            name = Text();
            rest.remove_prefix(1);
        } else {
            name = quoted(rest);
        }
        rest = trimmed(rest);
        if (!name || rest.empty() || rest.front() != u'=') {
            refuse(number, u"値の行が読めません。");
            return;
        }
        rest = trimmed(rest.substr(1));

        // Hex data goes on over the lines that a "\" at the end continues.
        Text joined;
        if (startsWithFolded(rest, u"hex") || startsWithFolded(rest, u"dword")) {
            joined = rest;
            while (!joined.empty() && joined.back() == u'\\' && index + 1 < lines_.size()) {
                joined.pop_back();
                joined += trimmed(lines_[++index]);
            }
            rest = joined;
        }

        std::optional<Text> value;
        bool deletion = false;
        if (rest == u"-") {
            deletion = true;
        } else if (!rest.empty() && rest.front() == u'"') {
            value = quoted(rest);
            if (!value || !endsLine(rest)) {
                refuse(number, u"値の引用符が閉じていません。");
                return;
            }
        } else if (startsWithFolded(rest, u"hex(1):") || startsWithFolded(rest, u"hex(2):")) {
            auto bytes = hexBytes(rest.substr(7));
            if (!bytes || (!ansi_ && bytes->size() % 2)) {
                refuse(number, u"値の 16 進数が読めません。");
                return;
            }
            if (ansi_) {
                if (!bytes->empty() && bytes->back() == 0)
                    bytes->pop_back();
                value = decodeAnsi({reinterpret_cast<const char*>(bytes->data()), bytes->size()},
                                   codePage_);
                if (!value) {
                    refuse(number, u"値がコードページで読めません。");
                    return;
                }
            } else {
                value = fromUtf16le({reinterpret_cast<const char*>(bytes->data()), bytes->size()});
                if (!value->empty() && value->back() == u'\0')
                    value->pop_back();
            }
        } else if (startsWithFolded(rest, u"hex") || startsWithFolded(rest, u"dword:")) {
            refuse(number, u"文字列でない値です。");
            return;
        } else {
            refuse(number, u"値の行が読めません。");
            return;
        }

        switch (at_) {
        case At::Refused:
            return; // its key is refused already
        case At::Nothing:
            refuse(number, u"キーの前に値があります。");
            return;
        case At::Base:
        case At::Application:
            refuse(number, u"アプリケーションの階層の値は取り込みません。");
            return;
        case At::Deleted:
            refuse(number, u"削除するキーの値です。");
            return;
        case At::Section:
            break;
        }
        if (name->empty()) {
            refuse(number, u"既定の値（@）は設定ではありません。");
            return;
        }
        if (deletion)
            add(number, {Change::Kind::DeleteKey, application_, section_, std::move(*name), {}});
        else
            add(number,
                {Change::Kind::Save, application_, section_, std::move(*name), std::move(*value)});
    }

    Text text_;
    std::vector<std::u16string_view> lines_;
    bool ansi_;
    std::string_view codePage_;
    Import result_;
    At at_ = At::Nothing;
    Text application_, section_;
};

} // namespace

std::string exportFile(const std::vector<Key>& keys, bool base) {
    Text out = u"\xfeff";
    out += kHeader5;
    out += u"\r\n\r\n";
    if (base)
        out += keyLine({}, {}) + u"\r\n";
    for (const Key& key : keys) {
        out += keyLine(key.application, key.section);
        for (const Setting& s : key.settings) {
            const std::size_t start = out.size();
            appendQuoted(out, s.key);
            out += u'=';
            if (quotable(s.value))
                appendQuoted(out, s.value);
            else
                appendHexString(out, s.value, out.size() - start);
            out += u"\r\n";
        }
        out += u"\r\n";
    }
    std::string bytes;
    bytes.reserve(2 * out.size());
    for (const char16_t c : out) {
        bytes += static_cast<char>(c & 0xff);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

Import importFile(std::string_view bytes, std::string_view codePage) {
    const auto refused = [](long line, Text reason) {
        Import refusal;
        refusal.refusals.push_back({line, std::move(reason)});
        return refusal;
    };
    const auto lineOf = [&](std::size_t at) {
        return 1 + static_cast<long>(std::count(bytes.begin(), bytes.begin() + at, '\n'));
    };
    Text text;
    bool ansi = false;
    if (bytes.starts_with("\xff\xfe")) {
        text = fromUtf16le(bytes.substr(2));
        if (bytes.size() % 2)
            return refused(1 + static_cast<long>(std::count(text.begin(), text.end(), u'\n')),
                           u"UTF-16 のファイルが途中で切れています。");
    } else if (isRegedit4(bytes)) {
        auto decoded = decodeAnsi(bytes, codePage);
        if (!decoded) {
            const Text name = utf8ToUtf16(codePage);
            if (!decodeAnsi("REGEDIT4", codePage))
                return refused(1,
                               u"REGEDIT4 のファイルがコードページ " + name + u" で読めません。");
            // The first line that does not decode (no trail byte of a double-byte code page is a
            // line feed).
            std::size_t at = 0;
            for (std::size_t end; (end = bytes.find('\n', at)) != std::string_view::npos &&
                                  decodeAnsi(bytes.substr(at, end - at), codePage);)
                at = end + 1;
            return refused(lineOf(at), u"コードページ " + name + u" で読めないバイトがあります。");
        }
        text = std::move(*decoded);
        ansi = true;
    } else {
        const std::size_t bom = bytes.starts_with("\xef\xbb\xbf") ? 3 : 0;
        if (bom && isRegedit4(bytes.substr(bom)))
            return refused(1, u"REGEDIT4 のファイルに UTF-8 の BOM があります（REGEDIT4 は ANSI "
                              u"のコードページで書かれます）。");
        std::size_t invalidAt = 0;
        auto decoded = strictUtf8ToUtf16(bytes.substr(bom), invalidAt);
        if (!decoded)
            return refused(lineOf(bom + invalidAt), u"UTF-8 として正しくないバイトがあります。");
        text = std::move(*decoded);
    }
    return Reader(std::move(text), ansi, codePage).read();
}

} // namespace keyloft::reg
