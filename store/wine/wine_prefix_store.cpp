#include "settings_store.h"

#include "bridge/bridge_protocol.h"
#include "case_fold.h"
#include "store_error.h"
#include "text_codec.h"
#include "wine/live/wine_live.h"
#include "wine/live/wine_server.h"
#include "wine/posix_file.h"
#include "wine_reg_file.h"

#include <cerrno>
#include <sys/stat.h>

namespace keyloft {

namespace {

using posix::errnoText;
using posix::pathText;
using posix::ReadResult;
using wine::RegFile;
using Op = bridge::Op;

// What tells a changed file from the one read before: a rename gives a new inode, an in-place
// write a new size or modification time.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
    bool operator==(const FileId&) const = default;
};

FileId idOf(const struct stat& st) {
    return {st.st_dev,          st.st_ino,         st.st_size,        st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

wine::Path settingsPath(std::u16string_view application = {}, std::u16string_view section = {}) {
    auto path = wine::splitPath(kSettingsBasePath);
    if (!application.empty())
        path.emplace_back(application);
    // A section is a path of keys below its application.
    for (Text& name : wine::splitPath(section))
        path.push_back(std::move(name));
    return path;
}

bridge::Writer request(Op op) {
    return std::move(bridge::Writer().u8(static_cast<std::uint8_t>(op)));
}

// The names a write would refuse hold nothing to read.
bool readable(std::u16string_view application, std::u16string_view section,
              std::u16string_view key = u"-") {
    try {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        errors::checkKeyName(key);
        return true;
    } catch (const StoreError&) {
        return false;
    }
}

// Settings among a key's values, as both registries list them.
std::vector<Setting> settingsOf(std::vector<wine::Value> values) {
    std::vector<Setting> out;
    out.reserve(values.size());
    for (wine::Value& value : values)
        if (!value.name.empty())
            if (auto text = std::move(value).setting())
                out.push_back({std::move(value.name), std::move(*text)});
    return out;
}

// The named values that are no settings.
std::vector<TypedValue> nonStringsOf(std::vector<wine::Value> values) {
    std::vector<TypedValue> out;
    for (wine::Value& value : values)
        if (!value.name.empty() && !isStringType(value.type))
            out.push_back({std::move(value.name), value.type});
    return out;
}

// A change of a batch; throws (and so keeps the file unwritten) where the single call would fail.
void applyTo(RegFile& reg, const Change& c, std::uint64_t now) {
    using Kind = Change::Kind;
    switch (c.kind) {
    case Kind::Save: {
        const RegFile::NamedText one{c.key, c.value};
        reg.setStrings(settingsPath(c.application, c.section), {&one, 1}, now);
        return;
    }
    case Kind::DeleteKey:
        if (reg.deleteValues(settingsPath(c.application, c.section), {&c.key, 1}, now) == 0)
            throw errors::notFound(errors::NameKind::Key, c.key);
        return;
    case Kind::DeleteSection:
        if (!reg.deleteKey(settingsPath(c.application, c.section), now))
            throw errors::notFound(errors::NameKind::Section, c.section);
        return;
    case Kind::DeleteApplication:
        if (!reg.deleteKey(settingsPath(c.application), now))
            throw errors::notFound(errors::NameKind::Application, c.application);
        return;
    }
}

// While a wineserver runs for the prefix, every operation goes through it (see LiveRegistry);
// otherwise to PREFIX/user.reg.
class WinePrefixStore final : public SettingsStore {
public:
    WinePrefixStore(std::filesystem::path prefix, std::filesystem::path bridges)
        : prefix_(std::move(prefix)), file_(prefix_ / "user.reg"), live_(prefix_, bridges) {}

    std::vector<Text> EnumRegSubKeys(std::u16string_view keyPath) const override {
        try {
            if (auto names = readLiveNames(request(Op::EnumSubKeys).text(keyPath)))
                return std::move(*names);
            const RegFile* reg = current();
            return reg ? reg->subkeyNames(wine::splitPath(keyPath)) : std::vector<Text>{};
        } catch (...) {
            return {};
        }
    }

    std::vector<Text> GetSections(std::u16string_view application) const override {
        try {
            if (!readable(application, u"-"))
                return {};
            if (auto sections = readLiveNames(request(Op::EnumSections).text(application)))
                return std::move(*sections);
            const RegFile* reg = current();
            if (!reg)
                return {};
            std::vector<Text> sections;
            for (const wine::Path& path : reg->keysBelow(settingsPath(application))) {
                Text section = path.front();
                for (std::size_t i = 1; i < path.size(); ++i)
                    section += u'\\' + path[i];
                sections.push_back(std::move(section));
            }
            return sections;
        } catch (...) {
            return {};
        }
    }

    std::vector<Setting> GetAllSettings(std::u16string_view application,
                                        std::u16string_view section) const override {
        try {
            return settingsOf(sectionValues(application, section));
        } catch (...) {
            return {};
        }
    }

    std::vector<TypedValue> GetNonStringValues(std::u16string_view application,
                                               std::u16string_view section) const override {
        try {
            return nonStringsOf(sectionValues(application, section));
        } catch (...) {
            return {};
        }
    }

    Text GetSetting(std::u16string_view application, std::u16string_view section,
                    std::u16string_view key) const override {
        try {
            if (!readable(application, section, key))
                return {};
            if (auto reply =
                    readLive(request(Op::GetSetting).text(application).text(section).text(key))) {
                bridge::Reader in(*reply);
                Text value = in.text();
                in.end();
                return value;
            }
            const RegFile* reg = current();
            auto value =
                reg ? reg->findValue(settingsPath(application, section), key) : std::nullopt;
            if (auto text = value ? std::move(*value).setting() : std::nullopt)
                return *text;
        } catch (...) {
        }
        return {};
    }

    std::optional<std::uint32_t> GetValueType(std::u16string_view application,
                                              std::u16string_view section,
                                              std::u16string_view key) const override {
        try {
            if (!readable(application, section, key))
                return std::nullopt;
            if (auto reply =
                    readLive(request(Op::GetValueType).text(application).text(section).text(key))) {
                bridge::Reader in(*reply);
                const bool found = in.u8();
                const std::uint32_t type = in.u32();
                in.end();
                return found ? std::optional(type) : std::nullopt;
            }
            const RegFile* reg = current();
            if (auto value =
                    reg ? reg->findValue(settingsPath(application, section), key) : std::nullopt)
                return value->type;
        } catch (...) {
        }
        return std::nullopt;
    }

    void SaveSetting(std::u16string_view application, std::u16string_view section,
                     std::u16string_view key, std::u16string_view value) override {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        errors::checkKeyName(key);
        change(
            request(Op::SaveSetting).text(application).text(section).text(key).text(value),
            [&](RegFile& reg) -> std::optional<StoreError> {
                const RegFile::NamedText one{key, value};
                reg.setStrings(settingsPath(application, section), {&one, 1}, wine::fileTimeNow());
                return std::nullopt;
            });
    }

    void DeleteSetting(std::u16string_view application) override {
        errors::checkApplicationName(application);
        change(request(Op::DeleteApplication).text(application),
               [&](RegFile& reg) -> std::optional<StoreError> {
                   if (!reg.deleteKey(settingsPath(application), wine::fileTimeNow()))
                       return errors::notFound(errors::NameKind::Application, application);
                   return std::nullopt;
               });
    }

    void DeleteSetting(std::u16string_view application, std::u16string_view section) override {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        change(request(Op::DeleteSection).text(application).text(section),
               [&](RegFile& reg) -> std::optional<StoreError> {
                   if (!reg.deleteKey(settingsPath(application, section), wine::fileTimeNow()))
                       return errors::notFound(errors::NameKind::Section, section);
                   return std::nullopt;
               });
    }

    void DeleteSetting(std::u16string_view application, std::u16string_view section,
                       std::u16string_view key) override {
        DeleteSettings(application, section, {Text(key)});
    }

    // One rewrite for the lot, with the outcome of DeleteSetting key by key: a bad name or a
    // missing key stops the run with its error, after the keys before it were deleted.
    void DeleteSettings(std::u16string_view application, std::u16string_view section,
                        const std::vector<Text>& keys) override {
        if (keys.empty())
            return;
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        errors::checkKeyName(keys.front());
        change(request(Op::DeleteSettings).text(application).text(section).texts(keys),
               [&](RegFile& reg) -> std::optional<StoreError> {
                   std::size_t named = 0;
                   std::optional<StoreError> badName;
                   for (; named < keys.size(); ++named) {
                       try {
                           errors::checkKeyName(keys[named]);
                       } catch (const StoreError& e) {
                           badName = e;
                           break;
                       }
                   }
                   const std::size_t deleted =
                       reg.deleteValues(settingsPath(application, section), {keys.data(), named},
                                        wine::fileTimeNow());
                   if (deleted < named)
                       return errors::notFound(errors::NameKind::Key, keys[deleted]);
                   return badName;
               });
    }

    // Offline, one rewrite of the file for the lot: a change that fails leaves the file as it
    // was. While a server runs, the changes go through it one after the other.
    void Apply(const std::vector<Change>& changes, std::size_t& applied) override {
        applied = 0;
        if (changes.empty())
            return;
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const Change& c = changes[i];
            // A file's changes come section by section: names checked once for each run.
            const bool again = i > 0 && changes[i - 1].kind != Change::Kind::DeleteApplication &&
                               c.application == changes[i - 1].application &&
                               c.section == changes[i - 1].section;
            if (!again) {
                errors::checkApplicationName(c.application);
                if (c.kind != Change::Kind::DeleteApplication)
                    errors::checkSectionName(c.section);
            }
            if (c.kind == Change::Kind::Save || c.kind == Change::Kind::DeleteKey)
                errors::checkKeyName(c.key);
        }
        // The prefix's lock refuses while a server runs: the server's registry is then the one.
        try {
            modify([&](RegFile& reg) -> std::optional<StoreError> {
                const std::uint64_t now = wine::fileTimeNow();
                for (std::size_t i = 0; i < changes.size();) {
                    // A run of settings written into one section, or deleted from it: one look
                    // for its key.
                    const Change::Kind kind = changes[i].kind;
                    std::size_t end = i;
                    std::vector<RegFile::NamedText> values;
                    std::vector<Text> names;
                    while (end < changes.size() && changes[end].kind == kind &&
                           (kind == Change::Kind::Save || kind == Change::Kind::DeleteKey) &&
                           sameName(changes[end].application, changes[i].application) &&
                           sameName(changes[end].section, changes[i].section)) {
                        if (kind == Change::Kind::Save)
                            values.push_back({changes[end].key, changes[end].value});
                        else
                            names.push_back(changes[end].key);
                        ++end;
                    }
                    const wine::Path path =
                        settingsPath(changes[i].application, changes[i].section);
                    if (!values.empty()) {
                        reg.setStrings(path, values, now);
                    } else if (!names.empty()) {
                        const std::size_t deleted = reg.deleteValues(path, names, now);
                        if (deleted < names.size())
                            throw errors::notFound(errors::NameKind::Key, names[deleted]);
                    } else {
                        applyTo(reg, changes[i], now);
                        end = i + 1;
                    }
                    i = end;
                }
                return std::nullopt;
            });
            applied = changes.size();
            return;
        } catch (const StoreError& e) {
            if (e.number() != errors::kServerRunning)
                throw;
        }
        SettingsStore::Apply(changes, applied);
    }

    Text Location() const override { return pathText(prefix_); }

    void CheckReadable() const override {
        if (current() || wine::runningServer(prefix_))
            return; // read from the file, or through the server
        wine::FileBytes bytes;
        int error = 0;
        struct stat st {};
        const ReadResult read = posix::readWhole(file_, bytes, error, st);
        if (read == ReadResult::Failed)
            throw errors::readFailed(pathText(file_), errnoText(error));
        try {
            if (read == ReadResult::Ok)
                RegFile::load(std::move(bytes));
        } catch (const wine::ParseError& e) {
            throw errors::unparsable(pathText(file_), e.line, utf8ToUtf16(e.reason));
        }
    }

private:
    // The running server's reply, when one runs; reads that cannot reach it read the file, as
    // they always did.
    std::optional<std::string> readLive(const bridge::Writer& request) const {
        try {
            return live_.ask(request.frame());
        } catch (const StoreError&) {
            return std::nullopt;
        }
    }

    // Every value of the section's key, through the server when one runs.
    std::vector<wine::Value> sectionValues(std::u16string_view application,
                                           std::u16string_view section) const {
        if (!readable(application, section))
            return {};
        // The key's whole branch in one round trip, in the file's own format.
        if (auto reply =
                readLive(request(Op::SaveKey).text(sectionKeyPath(application, section)))) {
            bridge::Reader in(*reply);
            if (!in.u8())
                return {};
            RegFile saved = RegFile::load(wine::FileBytes(in.bytes()));
            in.end();
            return saved.values({});
        }
        const RegFile* reg = current();
        return reg ? reg->values(settingsPath(application, section)) : std::vector<wine::Value>{};
    }

    // A reply that is a list of names.
    std::optional<std::vector<Text>> readLiveNames(const bridge::Writer& request) const {
        auto reply = readLive(request);
        if (!reply)
            return std::nullopt;
        bridge::Reader in(*reply);
        std::vector<Text> names = in.texts();
        in.end();
        return names;
    }

    // A write through the running server when one runs, else to the file under the prefix's
    // locks; a server that starts just before the file is locked is gone through in turn.
    template <class Change> void change(const bridge::Writer& request, Change fileChange) {
        for (int attempt = 0;; ++attempt) {
            if (live_.ask(request.frame()))
                return;
            try {
                modify(fileChange);
                return;
            } catch (const StoreError& e) {
                if (e.number() != errors::kServerRunning || attempt > 0)
                    throw;
            }
        }
    }

    // The last file read (or written), and what it holds.
    struct Snapshot {
        FileId id;
        std::optional<RegFile> reg; // empty when the file could not be read or loaded
        bool validated = false;     // no line anywhere that wineserver would reject
    };

    // The registry as the file holds it now; nullptr when there is none or it is unusable.
    const RegFile* current() const {
        struct stat st {};
        if (::stat(file_.c_str(), &st) != 0) {
            cache_.reset();
            return nullptr;
        }
        if (cache_ && cache_->id == idOf(st))
            return cache_->reg ? &*cache_->reg : nullptr;
        wine::FileBytes bytes = cache_ && cache_->reg ? std::move(*cache_->reg).takeBytes() : "";
        cache_.reset();
        int error = 0;
        wine::BlockStarts starts;
        if (posix::readWhole(file_, bytes, error, st,
                             [&](std::string_view part) { starts.scan(part); }) != ReadResult::Ok)
            return nullptr;
        auto snap = std::make_unique<Snapshot>();
        snap->id = idOf(st);
        try {
            snap->reg = RegFile::load(std::move(bytes), std::move(starts));
        } catch (const wine::ParseError&) {
            snap->reg.reset();
        }
        cache_ = std::move(snap);
        return cache_->reg ? &*cache_->reg : nullptr;
    }

    // One read-modify-write under the prefix's locks. `change` edits the registry and says why it
    // stopped, if it did; what it edited before is written all the same.
    template <class Change> void modify(Change change) {
        if (::mkdir(prefix_.c_str(), 0777) != 0 && errno != EEXIST)
            throw errors::writeFailed(pathText(file_), errnoText(errno));
        wine::PrefixLock lock(prefix_);
        // Its lock folder out of sight, such a server could neither be kept from starting nor
        // be reached: whatever is written now, it would overwrite.
        if (const long hidden = wine::hiddenServer(prefix_))
            throw errors::serverHidden(pathText(prefix_), hidden);
        wine::FileBytes bytes;
        int error = 0;
        struct stat st {};
        const ReadResult read = posix::readWhole(file_, bytes, error, st);
        if (read == ReadResult::Failed)
            throw errors::readFailed(pathText(file_), errnoText(error));
        try {
            if (read != ReadResult::Ok || !cache_ || !cache_->reg ||
                cache_->reg->loadedBytes() != bytes) {
                cache_.reset();
                auto snap = std::make_unique<Snapshot>();
                snap->reg = read == ReadResult::Ok ? RegFile::load(std::move(bytes)) : RegFile();
                cache_ = std::move(snap);
            }
            if (!cache_->validated)
                cache_->reg->validate();
        } catch (const wine::ParseError& e) {
            cache_.reset();
            throw errors::unparsable(pathText(file_), e.line, utf8ToUtf16(e.reason));
        }
        cache_->validated = true;
        std::optional<StoreError> stopped;
        try {
            stopped = change(*cache_->reg);
            if (cache_->reg->edited()) {
                wine::FileBytes text = cache_->reg->text();
                posix::writeAtomically(file_, posix::resolveLinks(file_), text);
                // What was written is what the next read finds.
                cache_->reg = RegFile::load(std::move(text));
                if (::stat(file_.c_str(), &st) == 0)
                    cache_->id = idOf(st);
                else
                    cache_.reset();
            }
        } catch (...) {
            cache_.reset();
            throw;
        }
        if (stopped)
            throw *stopped;
    }

    std::filesystem::path prefix_;
    std::filesystem::path file_;
    mutable std::unique_ptr<Snapshot> cache_;
    mutable wine::LiveRegistry live_;
};

} // namespace

std::unique_ptr<SettingsStore> openWinePrefixStore(const std::filesystem::path& prefix,
                                                   const std::filesystem::path& bridges) {
    return std::make_unique<WinePrefixStore>(prefix, bridges.empty() ? wine::installedBridgeFolder()
                                                                     : bridges);
}

} // namespace keyloft
