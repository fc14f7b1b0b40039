#include "command.h"

#include "case_fold.h"
#include "reg_file.h"
#include "store_error.h"
#include "text_codec.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace keyloft::cli {

namespace {

void checkNames(const Change& c) {
    errors::checkApplicationName(c.application);
    if (c.kind != Change::Kind::DeleteApplication)
        errors::checkSectionName(c.section);
    if (c.kind == Change::Kind::Save || c.kind == Change::Kind::DeleteKey)
        errors::checkKeyName(c.key);
}

// A section's settings by name as the registry compares names, in one open-addressed table: a
// file of many names costs a probe each, not a node each.
class SettingTable {
public:
    struct Entry {
        std::u16string_view key, value;
    };
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit SettingTable(std::size_t expected = 0) { grow(expected); }

    // The entry of that name, or npos.
    std::size_t find(std::u16string_view key) const {
        const std::size_t hash = NameHash()(key);
        for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
            const Slot& s = slots_[at];
            if (s.entry == kEmpty)
                return npos;
            if (s.entry != kGone && s.hash == hash && sameName(entries_[s.entry].key, key))
                return s.entry;
        }
    }
    Entry& operator[](std::size_t entry) { return entries_[entry]; }
    // A name the table does not hold.
    void insert(std::u16string_view key, std::u16string_view value) {
        if (2 * (used_ + 1) > slots_.size())
            grow(entries_.size() + 1);
        entries_.push_back({key, value});
        place(NameHash()(key), entries_.size() - 1);
        ++used_;
    }
    void erase(std::u16string_view key) {
        const std::size_t hash = NameHash()(key);
        for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
            Slot& s = slots_[at];
            if (s.entry == kEmpty)
                return;
            if (s.entry != kGone && s.hash == hash && sameName(entries_[s.entry].key, key)) {
                s.entry = kGone;
                return;
            }
        }
    }

private:
    static constexpr std::size_t kEmpty = npos, kGone = npos - 1;
    struct Slot {
        std::size_t hash = 0, entry = kEmpty;
    };

    void place(std::size_t hash, std::size_t entry) {
        std::size_t at = hash & mask_;
        while (slots_[at].entry != kEmpty)
            at = (at + 1) & mask_;
        slots_[at] = {hash, entry};
    }
    // At most half full, so that a probe ends soon; what was erased is left behind.
    void grow(std::size_t entries) {
        std::size_t size = 16;
        while (size < 2 * entries)
            size *= 2;
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(size));
        mask_ = size - 1;
        used_ = 0;
        for (const Slot& s : old)
            if (s.entry != kEmpty && s.entry != kGone) {
                place(s.hash, s.entry);
                ++used_;
            }
    }

    std::vector<Slot> slots_;
    std::vector<Entry> entries_;
    std::size_t mask_ = 0, used_ = 0;
};

// The settings of the applications a file touches, as they are and as each change leaves them:
// what a change would do is told from it, and a change that would do nothing is dropped. It holds
// views of the store's spellings, read once and kept until it ends, and of the file's changes,
// which outlive it; a section of the file is found again without a look, a name by its hash.
class Plan {
public:
    Plan(const SettingsStore& store, std::size_t changes)
        : store_(store), existing_(store.EnumRegSubKeys(kSettingsBasePath)) {
        steps_.reserve(changes);
    }

    struct Step {
        const Change* change;
        std::u16string_view what; // added, changed, deleted
        // As the store spells them, or the file where they are new.
        std::u16string_view application, section, key;
    };

    void add(const Change& c) {
        using Kind = Change::Kind;
        const bool again = last_.app && c.application == last_.application &&
                           c.section == last_.section &&
                           (c.kind == Kind::Save || c.kind == Kind::DeleteKey);
        App* app = again ? last_.app : find(c.application);
        if (c.kind == Kind::DeleteApplication) {
            last_ = {};
            if (app) {
                steps_.push_back({&c, u"deleted", app->name, {}, {}});
                apps_.erase(app->name);
            }
            return;
        }
        Section* s = again ? last_.found : nullptr;
        if (!again && app) {
            auto section = app->sections.find(foldedName(c.section));
            s = section == app->sections.end() ? nullptr : section->second;
        }
        if (c.kind == Kind::DeleteSection) {
            last_ = {};
            if (s) {
                steps_.push_back({&c, u"deleted", app->name, s->name, {}});
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
        if (s)
            last_ = {c.application, c.section, app, s};
        const std::size_t found = s ? s->settings.find(c.key) : SettingTable::npos;
        const bool hasKey = found != SettingTable::npos;
        if (c.kind == Kind::DeleteKey) {
            if (hasKey) {
                steps_.push_back({&c, u"deleted", app->name, s->name, s->settings[found].key});
                s->settings.erase(c.key);
            } else if (s && s->stored) {
                // A value of another kind is no setting: the import deletes settings only.
                refuseOtherKind(*app, *s, c.key, true);
            }
            return;
        }
        if (hasKey && s->settings[found].value == c.value)
            return;
        if (!app) {
            app = &made(c.application);
            apps_.emplace(app->name, app);
        }
        if (!s) {
            // A write makes the keys on its way, as SaveSetting does.
            for (std::size_t at = c.section.find(u'\\'); at != Text::npos;
                 at = c.section.find(u'\\', at + 1))
                section(*app, c.section.substr(0, at));
            s = &section(*app, c.section);
            last_ = {c.application, c.section, app, s};
        }
        // Only strings are listed: another kind under the name would be lost to the write. Only a
        // section the store holds can hold one.
        if (!hasKey && s->stored)
            refuseOtherKind(*app, *s, c.key, false);
        if (hasKey) {
            steps_.push_back({&c, u"changed", app->name, s->name, s->settings[found].key});
            s->settings[found].value = c.value;
        } else {
            steps_.push_back({&c, u"added", app->name, s->name, c.key});
            s->settings.insert(c.key, c.value);
        }
    }

    const std::vector<Step>& steps() const { return steps_; }
    const std::vector<Text>& refusals() const { return refusals_; }

private:
    struct Section {
        explicit Section(std::u16string_view path) : name(path) {}
        Text name;
        std::vector<Setting> read; // what the store holds, viewed by `settings`
        SettingTable settings;
        bool stored = false; // read from the store, not made by an earlier change
        // Its values of other kinds, read the first time a name needs a look.
        std::optional<std::vector<TypedValue>> others;
        std::unordered_map<std::u16string_view, std::uint32_t, NameHash, SameName> otherTypes;
    };
    struct App {
        Text name;
        std::map<Text, Section*> sections; // by folded path, a section before those below it
    };
    struct Last {
        std::u16string_view application, section; // as the change spelt them
        App* app = nullptr;
        Section* found = nullptr;
    };

    App& made(std::u16string_view application) {
        return apps_store_.emplace_back(App{Text(application), {}});
    }

    Section& section(App& app, std::u16string_view path) {
        Section*& s = app.sections[foldedName(path)];
        if (!s)
            s = &sections_.emplace_back(path);
        return *s;
    }

    void refuseOtherKind(const App& app, Section& s, std::u16string_view key, bool deleting) {
        if (!s.others) {
            s.others = store_.GetNonStringValues(app.name, s.name);
            for (const TypedValue& value : *s.others)
                s.otherTypes.emplace(value.name, value.type);
        }
        const auto other = s.otherTypes.find(key);
        if (other != s.otherTypes.end())
            refusals_.push_back(nonStringRefusal(other->second, app.name, s.name, key, deleting));
    }

    // The application as the store has it, read the first time a change names it.
    App* find(std::u16string_view application) {
        if (!looked_.insert(application).second) {
            auto it = apps_.find(application);
            return it == apps_.end() ? nullptr : it->second;
        }
        for (const Text& name : existing_) {
            if (!sameName(name, application))
                continue;
            App& app = made(name);
            for (const Text& path : store_.GetSections(name)) {
                Section& s = section(app, path);
                s.stored = true;
                s.read = store_.GetAllSettings(name, path);
                s.settings = SettingTable(s.read.size());
                for (const Setting& setting : s.read)
                    if (s.settings.find(setting.key) == SettingTable::npos)
                        s.settings.insert(setting.key, setting.value);
            }
            apps_.emplace(app.name, &app);
            return &app;
        }
        return nullptr;
    }

    const SettingsStore& store_;
    std::vector<Text> existing_;
    // Nothing read or made is freed while the steps may view it.
    std::deque<App> apps_store_;
    std::deque<Section> sections_;
    std::unordered_set<std::u16string_view, NameHash, SameName> looked_;
    std::unordered_map<std::u16string_view, App*, NameHash, SameName> apps_;
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
        Plan plan(c.store, read.changes.size());
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
        // Where every change does something, the file's changes are the batch as they stand.
        std::vector<Change> some;
        if (steps.size() < read.changes.size()) {
            some.reserve(steps.size());
            for (const auto& step : steps)
                some.push_back(*step.change);
        }
        const std::vector<Change>& changes =
            steps.size() < read.changes.size() ? some : read.changes;
        std::size_t applied = 0;
        try {
            c.store.Apply(changes, applied);
        } catch (const StoreError&) {
            report(c, steps, applied);
            c.io.err(u"keyloft-cli: " + utf8ToUtf16(digits(static_cast<std::uint64_t>(applied))) +
                     u" 件を変更し、" +
                     utf8ToUtf16(digits(static_cast<std::uint64_t>(steps.size() - applied))) +
                     u" 件を変更せずに止まりました。変更していないもの:\n");
            Text left;
            for (std::size_t i = applied; i < steps.size(); ++i)
                line(left, steps[i], u"\t", u"\n");
            c.io.err(left);
            throw;
        }
        report(c, steps, applied);
        return kDone;
    }

private:
    static void line(Text& out, const Plan::Step& step, std::u16string_view separator,
                     std::u16string_view end) {
        (out += step.what) += separator;
        appendRecordName(out, step.application, step.section, step.key);
        out += end;
    }

    static void report(Context& c, const std::vector<Plan::Step>& steps, std::size_t count) {
        if (!c.json) {
            const std::u16string_view separator = c.null ? std::u16string_view(u"\0", 1) : u"\t";
            Text out;
            for (std::size_t i = 0; i < count; ++i)
                line(out, steps[i], separator, c.end());
            if (!out.empty())
                c.io.out(out);
            return;
        }
        Text out = u"[";
        for (std::size_t i = 0; i < count; ++i) {
            const Change& ch = *steps[i].change;
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
