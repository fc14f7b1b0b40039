#include "command.h"

namespace keyloft::cli {

namespace {

class Get final : public Command {
public:
    std::u16string_view name() const override { return u"get"; }
    std::u16string_view summary() const override {
        return u"設定の値を、行の終わりを付けて表示します。";
    }
    std::u16string_view synopsis() const override { return u"APP SECTION KEY"; }
    std::size_t minArguments() const override { return 3; }
    std::size_t maxArguments() const override { return 3; }

    int run(const Arguments& args, Context& c) const override {
        const auto& a = args.positional;
        // A value of another kind is no setting: the list does not show it either.
        const auto type = c.store.GetValueType(a[0], a[1], a[2]);
        if (!type || (*type != 1 && *type != 2))
            throw NotThere{u"設定「" + recordName(a[0], a[1], a[2]) + u"」はありません。"};
        const Text value = c.store.GetSetting(a[0], a[1], a[2]);
        c.io.out(c.json ? jsonString(value) + u'\n' : value + Text(c.end()));
        return kDone;
    }
};

} // namespace

std::unique_ptr<Command> getCommand() {
    return std::make_unique<Get>();
}

} // namespace keyloft::cli
