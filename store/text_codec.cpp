#include "text_codec.h"

#include <charconv>
#include <cstdint>

namespace keyloft {

namespace {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes until the end, or in `strict` mode until the first invalid sequence, whose start it
// returns; npos when there was none.
std::size_t decodeUtf8(std::string_view utf8, std::u16string& out, bool strict) {
    // No more units than bytes: written in place, the rest cut off when done.
    const std::size_t start = out.size();
    out.resize(start + utf8.size());
    char16_t* to = out.data() + start;
    const auto done = [&](std::size_t result) {
        out.resize(static_cast<std::size_t>(to - out.data()));
        return result;
    };
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<std::uint8_t>(utf8[i]);
        if (b < 0x80) {
            *to++ = b;
            ++i;
            continue;
        }
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, cp = b & 0x07, min = 0x10000;
        } else {
            if (strict)
                return done(i);
            ++i; // stray continuation or invalid lead byte
            continue;
        }
        std::size_t j = 1;
        for (; j < len && i + j < utf8.size(); ++j) {
            const auto c = static_cast<std::uint8_t>(utf8[i + j]);
            if ((c & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (j < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            if (strict)
                return done(i);
            i += j; // drop the broken sequence
            continue;
        }
        if (cp < 0x10000) {
            *to++ = static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            *to++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *to++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
        i += len;
    }
    return done(std::string_view::npos);
}

} // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    decodeUtf8(utf8, out, false);
    return out;
}

std::optional<std::u16string> strictUtf8ToUtf16(std::string_view utf8, std::size_t& invalidAt) {
    std::u16string out;
    invalidAt = decodeUtf8(utf8, out, true);
    if (invalidAt != std::string_view::npos)
        return std::nullopt;
    return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string digits(std::uint64_t value, int base, std::size_t width) {
    char buf[72];
    const auto end = std::to_chars(buf, buf + sizeof buf, value, base).ptr;
    const auto length = static_cast<std::size_t>(end - buf);
    std::string out(length < width ? width - length : 0, '0');
    return out.append(buf, length);
}

} // namespace keyloft
