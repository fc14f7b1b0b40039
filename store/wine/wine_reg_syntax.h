#pragma once

#include "wine_reg_file.h"

// What the reading of a registry file (wine_reg_read.cpp) and its writer (wine_reg_write.cpp)
// share: lines, hex digits, UTF-16LE data and what is known of one block or of one key's blocks.
namespace keyloft::wine {

namespace detail {

inline bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline Text utf16le(const std::vector<std::uint8_t>& bytes, std::size_t units) {
    Text t(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        t[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return t;
}

// One line: [begin, contentEnd) without the line end, [begin, end) with it.
struct Line {
    std::size_t begin, contentEnd, end;
};

inline Line lineAt(std::string_view s, std::size_t begin) {
    std::size_t nl = s.find('\n', begin);
    const std::size_t end = nl == std::string_view::npos ? s.size() : nl + 1;
    std::size_t contentEnd = nl == std::string_view::npos ? s.size() : nl;
    if (nl != std::string_view::npos && contentEnd > begin && s[contentEnd - 1] == '\r')
        --contentEnd;
    return {begin, contentEnd, end};
}

} // namespace detail

// What a read or an edit needs to know of one block, read from its text.
struct RegFile::Layout {
    std::vector<Value> values;
    std::string_view eol = "\n";
    std::size_t pathEnd = 0;    // just after the closing "]"
    std::size_t headerEnd = 0;  // end of the header line's content (before its line end)
    std::size_t optionsEnd = 0; // after the header line and the option lines right below it
    std::size_t timeBegin = std::string::npos, timeEnd = 0; // the first "#time=" line's content
    bool hasClass = false;
    bool isLink = false;
};

// The blocks that matter to one key.
struct RegFile::Survey {
    std::vector<std::size_t> same;  // its own blocks, in file order
    std::vector<std::size_t> below; // those of the keys below it
    std::size_t depth = 0;          // how many leading names of its path name existing keys
    std::size_t insertAt = 0;       // where a block of its own goes in Wine's order
};

} // namespace keyloft::wine
