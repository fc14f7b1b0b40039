#include "command.h"

#include "text_codec.h"

namespace keyloft::cli {

namespace {

class Set final : public Command {
public:
    std::u16string_view name() const override { return u"set"; }
    std::u16string_view summary() const override {
        return u"設定に VALUE を書き込みます。VALUE を省くと標準入力のすべて（UTF-8、"
               u"改行も含めてそのまま）を書き込みます。";
    }
    std::u16string_view synopsis() const override { return u"APP SECTION KEY [VALUE]"; }
    std::size_t minArguments() const override { return 3; }
    std::size_t maxArguments() const override { return 4; }

    int run(const Arguments& args, Context& c) const override {
        const auto& a = args.positional;
        // A name is one line, as the edit dialog takes it: a line break in a key's name could not
        // be exported to a .reg file, and the dialog could not show it.
        constexpr std::u16string_view what[] = {u"アプリケーション名", u"セクション名",
                                                u"キー名称"};
        for (std::size_t i = 0; i < 3; ++i)
            if (a[i].find_first_of(u"\r\n") != Text::npos)
                throw UsageError{Text(what[i]) + u"に改行は使えません。"};
        Text value;
        if (a.size() == 4) {
            value = a[3];
        } else {
            const std::string input = c.io.readInput();
            std::size_t invalidAt = 0;
            auto decoded = strictUtf8ToUtf16(input, invalidAt);
            if (!decoded)
                throw UsageError{u"標準入力が UTF-8 ではありません（" +
                                 utf8ToUtf16(digits(invalidAt + 1)) + u" バイト目）。"};
            value = std::move(*decoded);
        }
        if (auto refusal = nonStringValue(c.store, a[0], a[1], a[2]))
            throw Refused{std::move(*refusal)};
        c.store.SaveSetting(a[0], a[1], a[2], value);
        return kDone;
    }
};

} // namespace

std::unique_ptr<Command> setCommand() {
    return std::make_unique<Set>();
}

} // namespace keyloft::cli
