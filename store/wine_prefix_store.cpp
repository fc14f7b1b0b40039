#include "settings_store.h"

#include "posix_file.h"
#include "store_error.h"
#include "text_codec.h"
#include "wine_reg_file.h"
#include "wine_server.h"

#include <cerrno>
#include <sys/stat.h>

namespace keyloft {

namespace {

using posix::errnoText;
using posix::pathText;
using posix::ReadResult;
using wine::RegFile;

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
    if (!section.empty())
        path.emplace_back(section);
    return path;
}

std::vector<std::uint8_t> stringData(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    data.reserve(2 * text.size() + 2);
    for (const char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xff));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

class WinePrefixStore final : public SettingsStore {
public:
    explicit WinePrefixStore(std::filesystem::path prefix)
        : prefix_(std::move(prefix)), file_(prefix_ / "user.reg") {}

    std::vector<Text> EnumRegSubKeys(std::u16string_view keyPath) const override {
        try {
            const RegFile* reg = current();
            return reg ? reg->subkeyNames(wine::splitPath(keyPath)) : std::vector<Text>{};
        } catch (...) {
            return {};
        }
    }

    std::vector<Setting> GetAllSettings(std::u16string_view application,
                                        std::u16string_view section) const override {
        std::vector<Setting> out;
        try {
            if (application.empty() || section.empty())
                return {};
            const RegFile* reg = current();
            if (!reg)
                return {};
            std::vector<wine::Value> values = reg->values(settingsPath(application, section));
            out.reserve(values.size());
            for (wine::Value& value : values)
                if (!value.name.empty())
                    if (auto text = std::move(value).setting())
                        out.push_back({std::move(value.name), std::move(*text)});
        } catch (...) {
            out.clear();
        }
        return out;
    }

    Text GetSetting(std::u16string_view application, std::u16string_view section,
                    std::u16string_view key) const override {
        try {
            if (application.empty() || section.empty() || key.empty())
                return {};
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
            if (application.empty() || section.empty() || key.empty())
                return std::nullopt;
            const RegFile* reg = current();
            if (auto value = reg ? reg->findValue(settingsPath(application, section), key)
                                 : std::nullopt)
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
        modify([&](RegFile& reg) -> std::optional<StoreError> {
            reg.setValue(settingsPath(application, section), key, wine::kRegSz, stringData(value),
                         wine::fileTimeNow());
            return std::nullopt;
        });
    }

    void DeleteSetting(std::u16string_view application) override {
        errors::checkApplicationName(application);
        modify([&](RegFile& reg) -> std::optional<StoreError> {
            if (!reg.deleteKey(settingsPath(application), wine::fileTimeNow()))
                return errors::notFound(errors::NameKind::Application, application);
            return std::nullopt;
        });
    }

    void DeleteSetting(std::u16string_view application, std::u16string_view section) override {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        modify([&](RegFile& reg) -> std::optional<StoreError> {
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
        modify([&](RegFile& reg) -> std::optional<StoreError> {
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
            const std::size_t deleted = reg.deleteValues(settingsPath(application, section),
                                                         {keys.data(), named}, wine::fileTimeNow());
            if (deleted < named)
                return errors::notFound(errors::NameKind::Key, keys[deleted]);
            return badName;
        });
    }

    Text Location() const override { return pathText(prefix_); }

private:
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
        std::string bytes = cache_ && cache_->reg ? std::move(*cache_->reg).takeBytes() : "";
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
        std::string bytes;
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
                std::string text = cache_->reg->text();
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
};

} // namespace

std::unique_ptr<SettingsStore> openWinePrefixStore(const std::filesystem::path& prefix) {
    return std::make_unique<WinePrefixStore>(prefix);
}

} // namespace keyloft
