#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keyloft {

// UTF-8 to UTF-16; invalid sequences are dropped, as Wine's registry reader drops them.
std::u16string utf8ToUtf16(std::string_view utf8);
// UTF-8 to UTF-16, or none when `utf8` holds anything that is no UTF-8 (a stray or missing
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF); `invalidAt` then tells the
// byte where the first such sequence starts.
std::optional<std::u16string> strictUtf8ToUtf16(std::string_view utf8, std::size_t& invalidAt);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// `value` in lowercase digits of `base`, zero-padded to at least `width` digits.
std::string digits(std::uint64_t value, int base = 10, std::size_t width = 0);

} // namespace keyloft
