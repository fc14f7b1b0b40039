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
        const Text value = a.size() == 4 ? a[3] : utf8ToUtf16(c.io.readInput());
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
