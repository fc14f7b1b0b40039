#include "command.h"

namespace keyloft::cli {

namespace {

class Delete final : public Command {
public:
    std::u16string_view name() const override { return u"delete"; }
    std::u16string_view summary() const override {
        return u"アプリケーション、セクション、または設定（KEY は複数可）を削除します。";
    }
    std::u16string_view synopsis() const override { return u"APP [SECTION [KEY…]]"; }
    std::size_t minArguments() const override { return 1; }
    std::size_t maxArguments() const override { return SIZE_MAX; }

    int run(const Arguments& args, Context& c) const override {
        const auto& a = args.positional;
        if (a.size() == 1)
            c.store.DeleteSetting(a[0]);
        else if (a.size() == 2)
            c.store.DeleteSetting(a[0], a[1]);
        else
            c.store.DeleteSettings(a[0], a[1], {a.begin() + 2, a.end()});
        return kDone;
    }
};

} // namespace

std::unique_ptr<Command> deleteCommand() {
    return std::make_unique<Delete>();
}

} // namespace keyloft::cli
