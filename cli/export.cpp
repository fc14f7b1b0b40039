#include "command.h"

#include "reg_file.h"

namespace keyloft::cli {

namespace {

class Export final : public Command {
public:
    std::u16string_view name() const override { return u"export"; }
    std::u16string_view summary() const override {
        return u"設定を regedit の .reg ファイル（Windows Registry Editor Version 5.00、"
               u"UTF-16LE）に書き出します。FILE を省くと標準出力へ。";
    }
    std::u16string_view synopsis() const override { return u"[APP [SECTION]] [-o FILE]"; }
    std::size_t minArguments() const override { return 0; }
    std::size_t maxArguments() const override { return 2; }
    std::vector<Option> options() const override {
        return {{u"output", u'o', u"FILE", u"書き出すファイル（置き換えは一度に）。"}};
    }

    int run(const Arguments& args, Context& c) const override {
        const auto& a = args.positional;
        std::vector<Text> applications;
        if (a.empty())
            applications = c.store.EnumRegSubKeys(kSettingsBasePath);
        else
            applications.push_back(existingApplication(c.store, a[0]));
        std::vector<reg::Key> keys;
        for (const Text& app : applications) {
            std::vector<Text> sections = c.store.GetSections(app);
            if (a.size() == 2) {
                // The section with the sections below it: what a delete of it removes, an import
                // of the file gives back.
                const Text section = existingSection(c.store, app, a[1]);
                std::erase_if(sections,
                              [&](const Text& s) { return !isWithinSection(s, section); });
            } else {
                keys.push_back({app, {}, {}});
            }
            for (const Text& section : sections)
                keys.push_back({app, section, c.store.GetAllSettings(app, section)});
        }
        const std::string file = reg::exportFile(keys, a.empty());
        if (const Text* output = args.value(u"output"); output && *output != u"-")
            c.io.writeFile(*output, file);
        else
            c.io.outBytes(file);
        return kDone;
    }
};

} // namespace

std::unique_ptr<Command> exportCommand() {
    return std::make_unique<Export>();
}

} // namespace keyloft::cli
