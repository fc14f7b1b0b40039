#include "command.h"

#include "reg_file.h"
#include "text_codec.h"

#include <filesystem>

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
        // A key's name is the whole line of its header: a line break in it would end the header.
        for (const reg::Key& key : keys)
            if (key.application.find_first_of(u"\r\n") != Text::npos ||
                key.section.find_first_of(u"\r\n") != Text::npos)
                throw Refused{u"「" + recordName(key.application, key.section) +
                              u"」は名前に改行があるため、.reg ファイルに書き出せません。"};
        const std::string file = reg::exportFile(keys, a.empty());
        if (const Text* output = args.value(u"output"); output && *output != u"-") {
            refuseStoreFile(c.store, *output);
            c.io.writeFile(*output, file);
        } else {
            c.io.outBytes(file);
        }
        return kDone;
    }

private:
    // The prefix's own registry files, by whatever path or link leads to them: the export would
    // replace the registry with its text.
    static void refuseStoreFile([[maybe_unused]] const SettingsStore& store,
                                [[maybe_unused]] std::u16string_view output) {
#ifndef _WIN32
        namespace fs = std::filesystem;
        const fs::path target(utf16ToUtf8(output));
        const fs::path prefix(utf16ToUtf8(store.Location()));
        std::error_code error;
        const fs::path resolved = fs::weakly_canonical(target, error);
        for (const char* name : {"user.reg", "system.reg", "userdef.reg"}) {
            const fs::path own = prefix / name;
            std::error_code e1, e2;
            if (fs::equivalent(target, own, e1) ||
                (!error && fs::weakly_canonical(own, e2) == resolved && !e2))
                throw UsageError{u"「" + Text(output) +
                                 u"」は Wine のプレフィックスのレジストリ"
                                 u"ファイル（" +
                                 utf8ToUtf16(name) +
                                 u"）です。書き出し先には"
                                 u"できません。"};
        }
#endif
    }
};

} // namespace

std::unique_ptr<Command> exportCommand() {
    return std::make_unique<Export>();
}

} // namespace keyloft::cli
