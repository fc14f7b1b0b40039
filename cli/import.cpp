#include "command.h"

#include "case_fold.h"
#include "reg_file.h"
#include "store_error.h"
#include "text_codec.h"

#include <cstdint>
#include <map>
#include <set>

namespace keyloft::cli {

namespace {

void checkNames(const Change& c) {
    errors::checkApplicationName(c.application);
    if (c.kind != Change::Kind::DeleteApplication)
        errors::checkSectionName(c.section);
    if (c.kind == Change::Kind::Save || c.kind == Change::Kind::DeleteKey)
        errors::checkKeyName(c.key);
}

// The settings of the applications a file touches, as they are and as each change leaves them:
// what a change would do is told from it, and a change that would do nothing is dropped.
class Plan {
public:
    explicit Plan(const SettingsStore& store)
        : store_(store), existing_(store.EnumRegSubKeys(kSettingsBasePath)) {}

    struct Step {
        Change change;
        std::u16string_view what; // added, changed, deleted
        Text record;
    };

    void add(const Change& c) {
        using Kind = Change::Kind;
        // A file's settings come section by section: the last one is found again without a look.
        const bool again = last_.app && c.application == last_.application &&
                           c.section == last_.section &&
                           (c.kind == Kind::Save || c.kind == Kind::DeleteKey);
        App* app = again ? last_.app : find(c.application);
        if (c.kind == Kind::DeleteApplication) {
            last_ = {};
            if (app) {
                steps_.push_back({c, u"deleted", app->name});
                apps_.erase(foldedName(c.application));
            }
            return;
        }
        Section* s = again ? last_.found : nullptr;
        if (!again && app) {
            auto section = app->sections.find(foldedName(c.section));
            s = section == app->sections.end() ? nullptr : &section->second;
        }
        if (c.kind == Kind::DeleteSection) {
            last_ = {};
            if (s) {
                steps_.push_back({c, u"deleted", recordName(app->name, s->name)});
                // The sections below it go with it, as regedit deletes a key.
                const Text below = foldedName(c.section) + u'\\';
                auto end = app->sections.lower_bound(below);
                while (end != app->sections.end() && end->first.starts_with(below))
                    ++end;
                app->sections.erase(app->sections.lower_bound(below), end);
                app->sections.erase(foldedName(c.section));
            }
            return;
        }
        auto key = s ? s->settings.find(foldedName(c.key)) : decltype(s->settings)::iterator();
        const bool hasKey = s && key != s->settings.end();
        if (c.kind == Kind::DeleteKey) {
            if (hasKey) {
                steps_.push_back({c, u"deleted", recordName(app->name, s->name, key->second.key)});
                s->settings.erase(key);
            } else if (s && s->stored) {
                // A value of another kind is no setting: the import deletes settings only.
                if (auto refusal = nonStringValue(store_, app->name, s->name, c.key, true))
                    refusals_.push_back(std::move(*refusal));
            }
            return;
        }
        if (hasKey && key->second.value == c.value)
            return;
        if (!app)
            app = &(apps_[foldedName(c.application)] = App{c.application, {}});
        if (!s) {
            // A write makes the keys on its way, as SaveSetting does.
            for (std::size_t at = c.section.find(u'\\'); at != Text::npos;
                 at = c.section.find(u'\\', at + 1))
                app->sections.try_emplace(foldedName(c.section.substr(0, at)),
                                          Section{c.section.substr(0, at), {}, false});
            s = &(app->sections[foldedName(c.section)] = Section{c.section, {}, false});
        }
        last_ = {c.application, c.section, app, s};
        // Only strings are listed: another kind under the name would be lost to the write. Only a
        // section the store holds can hold one (and each look costs a pass over a Wine file).
        if (!hasKey && s->stored)
            if (auto refusal = nonStringValue(store_, app->name, s->name, c.key))
                refusals_.push_back(std::move(*refusal));
        if (hasKey) {
            steps_.push_back({c, u"changed", recordName(app->name, s->name, key->second.key)});
            key->second.value = c.value;
        } else {
            steps_.push_back({c, u"added", recordName(app->name, s->name, c.key)});
            s->settings[foldedName(c.key)] = {c.key, c.value};
        }
    }

    const std::vector<Step>& steps() const { return steps_; }
    const std::vector<Text>& refusals() const { return refusals_; }

private:
    struct Section {
        Text name;
        std::map<Text, Setting> settings;
        bool stored = true; // read from the store, not made by an earlier change
    };
    struct App {
        Text name;
        std::map<Text, Section> sections;
    };
    struct Last {
        Text application, section; // as the change spelt them
        App* app = nullptr;
        Section* found = nullptr;
    };

    // The application as the store has it, read the first time a change names it.
    App* find(std::u16string_view application) {
        const Text f = foldedName(application);
        if (!loaded_.insert(f).second) {
            auto it = apps_.find(f);
            return it == apps_.end() ? nullptr : &it->second;
        }
        for (const Text& name : existing_) {
            if (foldedName(name) != f)
                continue;
            App app{name, {}};
            for (const Text& section : store_.GetSections(name)) {
                Section s{section, {}};
                for (Setting& setting : store_.GetAllSettings(name, section))
                    s.settings[foldedName(setting.key)] = std::move(setting);
                app.sections[foldedName(section)] = std::move(s);
            }
            return &(apps_[f] = std::move(app));
        }
        return nullptr;
    }

    const SettingsStore& store_;
    std::vector<Text> existing_;
    std::set<Text> loaded_;
    std::map<Text, App> apps_;
    std::vector<Step> steps_;
    std::vector<Text> refusals_;
    Last last_;
};

class Import final : public Command {
public:
    std::u16string_view name() const override { return u"import"; }
    std::u16string_view summary() const override {
        return u"regedit の .reg ファイル（5.00 は UTF-16LE か UTF-8、REGEDIT4 は ANSI "
               u"コードページ）の設定を取り込みます。VB and VBA Program Settings の外に触れる"
               u"ファイルは、何も書き込まずに拒否します。FILE に - で標準入力。";
    }
    std::u16string_view synopsis() const override {
        return u"FILE [--dry-run] [--codepage CODEPAGE]";
    }
    std::size_t minArguments() const override { return 1; }
    std::size_t maxArguments() const override { return 1; }
    std::vector<Option> options() const override {
        return {{u"dry-run",
                 u'n',
                 {},
                 u"変更の内容（added、changed、deleted）を表示するだけで、"
                 u"何も変えません。"},
                {u"codepage", 0, u"CODEPAGE",
                 u"REGEDIT4 のファイルのコードページ（既定は 932、日本語の Windows のもの）。"}};
    }

    int run(const Arguments& args, Context& c) const override {
        const Text& file = args.positional[0];
        const std::string bytes = file == u"-" ? c.io.readInput() : c.io.readFile(file);
        const Text* codePage = args.value(u"codepage");
        const reg::Import read =
            reg::importFile(bytes, codePage ? utf16ToUtf8(*codePage) : std::string("CP932"));
        if (!read.refusals.empty()) {
            for (const reg::Refusal& r : read.refusals)
                c.io.err(file + u':' + utf8ToUtf16(digits(static_cast<std::uint64_t>(r.line))) +
                         u": " + r.reason + u'\n');
            c.io.err(u"keyloft-cli: 取り込みを拒否しました。何も書き込んでいません。\n");
            return kUsage;
        }
        // The names the store would refuse, refused before anything is planned: a dry run says
        // what the import would.
        bool badName = false;
        for (std::size_t i = 0; i < read.changes.size(); ++i) {
            try {
                checkNames(read.changes[i]);
            } catch (const StoreError& e) {
                c.io.err(
                    file + u':' + utf8ToUtf16(digits(static_cast<std::uint64_t>(read.lines[i]))) +
                    u": エラー " + utf8ToUtf16(digits(static_cast<std::uint64_t>(e.number()))) +
                    u": " + e.description() + u'\n');
                badName = true;
            }
        }
        if (badName)
            throw Refused{u"取り込みを拒否しました。何も書き込んでいません。"};
        Plan plan(c.store);
        for (const Change& change : read.changes)
            plan.add(change);
        if (!plan.refusals().empty()) {
            for (const Text& refusal : plan.refusals())
                c.io.err(u"keyloft-cli: " + refusal + u'\n');
            throw Refused{u"取り込みを拒否しました。何も書き込んでいません。"};
        }
        const auto& steps = plan.steps();
        if (args.has(u"dry-run")) {
            report(c, steps, steps.size());
            return kDone;
        }
        std::vector<Change> changes;
        for (const auto& step : steps)
            changes.push_back(step.change);
        std::size_t applied = 0;
        try {
            c.store.Apply(changes, applied);
        } catch (const StoreError&) {
            report(c, steps, applied);
            c.io.err(u"keyloft-cli: " + utf8ToUtf16(digits(static_cast<std::uint64_t>(applied))) +
                     u" 件を変更し、" +
                     utf8ToUtf16(digits(static_cast<std::uint64_t>(steps.size() - applied))) +
                     u" 件を変更せずに止まりました。変更していないもの:\n");
            for (std::size_t i = applied; i < steps.size(); ++i)
                c.io.err(Text(steps[i].what) + u'\t' + steps[i].record + u'\n');
            throw;
        }
        report(c, steps, applied);
        return kDone;
    }

private:
    static void report(Context& c, const std::vector<Plan::Step>& steps, std::size_t count) {
        if (!c.json) {
            const Text separator = c.null ? Text(1, u'\0') : Text(u"\t");
            for (std::size_t i = 0; i < count; ++i)
                c.io.out(Text(steps[i].what) + separator + steps[i].record + Text(c.end()));
            return;
        }
        Text out = u"[";
        for (std::size_t i = 0; i < count; ++i) {
            const Change& ch = steps[i].change;
            out += Text(i ? u",\n " : u"") + u"{\"change\": \"" + Text(steps[i].what) +
                   u"\", \"application\": " + jsonString(ch.application);
            if (ch.kind != Change::Kind::DeleteApplication)
                out += u", \"section\": " + jsonString(ch.section);
            if (ch.kind == Change::Kind::Save || ch.kind == Change::Kind::DeleteKey)
                out += u", \"key\": " + jsonString(ch.key);
            if (ch.kind == Change::Kind::Save)
                out += u", \"value\": " + jsonString(ch.value);
            out += u'}';
        }
        c.io.out(out + u"]\n");
    }
};

} // namespace

std::unique_ptr<Command> importCommand() {
    return std::make_unique<Import>();
}

} // namespace keyloft::cli
