// The identity texts as the generated header carries them, and (argument 1) the compiled version
// record: each text must be there as UTF-16, ended by its NUL.
#include "program_identity.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr std::u16string_view kComment = u"比較的\"安全\"な\\ﾚｼﾞｽﾄﾘ";
constexpr std::u16string_view kNotice = u"© 2026 \"Keyloft\"; C:\\new\\\nsecond line 𝄞 \\";

static_assert(keyloft::identity::kComment == kComment);
static_assert(keyloft::identity::kLegalNotice == kNotice);
static_assert(keyloft::identity::kHomePage == u"file:///C:/Program Files/Keyloft \"1\"\\README.md");

bool recorded(const std::string& record, std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : std::u16string(text) + u'\0')
        bytes += {static_cast<char>(c & 0xff), static_cast<char>(c >> 8)};
    return record.find(bytes) != std::string::npos;
}

} // namespace

int main(int, char** argv) {
    std::ifstream file(argv[1], std::ios::binary);
    const std::string record{std::istreambuf_iterator<char>(file), {}};
    const bool ok = recorded(record, kComment) && recorded(record, kNotice);
    if (!ok)
        std::puts("the version record lacks the comment or the legal notice");
    return ok ? 0 : 1;
}
