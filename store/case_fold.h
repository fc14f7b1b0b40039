#pragma once

#include <string_view>

namespace keyloft {

// Registry names compare the way Wine compares them: each UTF-16 unit lowercased (Unicode simple
// lowercase, the whole BMP), a name before any longer name it begins.
char16_t foldCase(char16_t c);
int compareNames(std::u16string_view a, std::u16string_view b);
inline bool sameName(std::u16string_view a, std::u16string_view b) {
    return compareNames(a, b) == 0;
}

} // namespace keyloft
