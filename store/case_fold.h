#pragma once

#include <string>
#include <string_view>

namespace keyloft {

// Registry names compare the way wineserver compares them: each UTF-16 unit lowercased by one fixed
// table (Wine's, which pairs the units Windows' uppercase table pairs), a name before any longer
// name it begins.
char16_t foldCase(char16_t c);
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

} // namespace keyloft
