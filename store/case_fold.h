#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace keyloft {

// Registry names compare the way wineserver compares them: each UTF-16 unit lowercased by one fixed
// table (Wine's, which pairs the units Windows' uppercase table pairs), a name before any longer
// name it begins.
char16_t foldWide(char16_t c); // a unit past ASCII
inline char16_t foldCase(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    return foldWide(c);
}
int compareNames(std::u16string_view a, std::u16string_view b);
// The name with each unit folded: names the registry takes for one are equal, and order as it
// orders them, as std::u16string keys.
inline std::u16string foldedName(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded)
        c = foldCase(c);
    return folded;
}
inline bool sameName(std::u16string_view a, std::u16string_view b) {
    return compareNames(a, b) == 0;
}
// Hashing and equality for unordered containers of names, without a folded copy of each.
struct NameHash {
    std::size_t operator()(std::u16string_view name) const {
        std::uint64_t h = 14695981039346656037ULL; // FNV-1a over the folded units
        for (const char16_t c : name)
            h = (h ^ foldCase(c)) * 1099511628211ULL;
        return static_cast<std::size_t>(h);
    }
};
struct SameName {
    bool operator()(std::u16string_view a, std::u16string_view b) const { return sameName(a, b); }
};

} // namespace keyloft
