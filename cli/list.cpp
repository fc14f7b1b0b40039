#include "command.h"

namespace keyloft::cli {

namespace {

class List final : public Command {
public:
    std::u16string_view name() const override { return u"list"; }
    std::u16string_view summary() const override {
        return u"アプリケーションの一覧、APP "
               u"のセクションの一覧、セクションの設定の一覧を表示します。"
               u"設定は「KEY タブ VALUE」の行で表示します。";
    }
    std::u16string_view synopsis() const override { return u"[APP [SECTION]]"; }
    std::size_t minArguments() const override { return 0; }
    std::size_t maxArguments() const override { return 2; }

    int run(const Arguments& args, Context& c) const override {
        const auto& a = args.positional;
        if (a.size() == 2) {
            const Text section = existingSection(c.store, a[0], a[1]);
            const auto settings =
                c.store.GetAllSettings(existingApplication(c.store, a[0]), section);
            if (c.json) {
                Text out = u"[";
                for (const Setting& s : settings)
                    out += Text(out.size() > 1 ? u",\n " : u"") + u"{\"key\": " +
                           jsonString(s.key) + u", \"value\": " + jsonString(s.value) + u'}';
                c.io.out(out + u"]\n");
            } else {
                const Text separator = c.null ? Text(1, u'\0') : Text(u"\t");
                for (const Setting& s : settings)
                    c.io.out(s.key + separator + s.value + Text(c.end()));
            }
            return kDone;
        }
        const auto names = a.empty() ? c.store.EnumRegSubKeys(kSettingsBasePath)
                                     : c.store.GetSections(existingApplication(c.store, a[0]));
        if (c.json) {
            Text out = u"[";
            for (const Text& n : names)
                out += Text(out.size() > 1 ? u", " : u"") + jsonString(n);
            c.io.out(out + u"]\n");
        } else {
            for (const Text& n : names)
                c.io.out(n + Text(c.end()));
        }
        return kDone;
    }
};

} // namespace

std::unique_ptr<Command> listCommand() {
    return std::make_unique<List>();
}

} // namespace keyloft::cli
