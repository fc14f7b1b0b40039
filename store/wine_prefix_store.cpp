#include "settings_store.h"

#include "store_error.h"
#include "text_codec.h"
#include "wine_reg_file.h"
#include "wine_server.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace keyloft {

namespace {

using wine::RegFile;

Text pathText(const std::filesystem::path& p) {
    return utf8ToUtf16(p.string());
}
Text errnoText(int e) {
    return utf8ToUtf16(std::strerror(e));
}

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

enum class ReadResult { Ok, Missing, Failed };

ReadResult readWhole(const std::filesystem::path& file, std::string& out, int& error,
                     struct stat& st) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return error == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return ReadResult::Failed;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == out.size())
            out.resize(out.size() + 65536);
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    ::close(fd);
    return ReadResult::Ok;
}

// Follows a symlinked user.reg to the file it names, so that the rewrite lands there and the link
// stays a link.
std::filesystem::path resolveLinks(std::filesystem::path p) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0)
            return p;
        target.resize(static_cast<std::size_t>(n));
        const std::filesystem::path t = target;
        p = t.is_absolute() ? t : p.parent_path() / t;
    }
    return p;
}

// Temporary file next to the target, flushed, then renamed over it: a crash leaves the old file
// or the new one, whole. The file keeps its mode (and owner, where allowed).
void writeAtomically(const std::filesystem::path& shownAs, const std::filesystem::path& target,
                     std::string_view bytes) {
    const auto dir =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    std::random_device rd;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%d%08x.tmp", static_cast<int>(::getpid()), rd());
    const auto tmp = dir / (".keyloft-" + target.filename().string() + "-" + suffix);
    const auto failed = [&](int e) {
        ::unlink(tmp.c_str());
        return errors::writeFailed(pathText(shownAs), errnoText(e));
    };
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw errors::writeFailed(pathText(shownAs), errnoText(errno));
    int e = 0;
    if (existed) {
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            e = errno;
        if (!e && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) [[maybe_unused]]
            const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    }
    for (std::size_t done = 0; !e && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            e = errno;
        else
            done += static_cast<std::size_t>(n);
    }
    if (!e && ::fsync(fd) != 0)
        e = errno;
    if (::close(fd) != 0 && !e)
        e = errno;
    if (!e && ::rename(tmp.c_str(), target.c_str()) != 0)
        e = errno;
    if (e)
        throw failed(e);
    if (const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd); // the rename itself
        ::close(dfd);
    }
}

std::vector<Text> splitPath(std::u16string_view path) {
    std::vector<Text> parts;
    for (std::size_t from = 0; from <= path.size();) {
        const std::size_t to = std::min(path.find(u'\\', from), path.size());
        if (to > from)
            parts.emplace_back(path.substr(from, to - from));
        from = to + 1;
    }
    return parts;
}

std::vector<Text> settingsPath(std::u16string_view application = {},
                               std::u16string_view section = {}) {
    auto path = splitPath(kSettingsBasePath);
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
            const wine::Key* key = reg ? reg->find(splitPath(keyPath)) : nullptr;
            return key ? RegFile::subkeyNames(*key) : std::vector<Text>{};
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
            const wine::Key* key = reg ? reg->find(settingsPath(application, section)) : nullptr;
            if (!key)
                return {};
            for (const auto& [name, value] : RegFile::values(*key))
                if (auto text = value->setting(); text && !name->empty())
                    out.push_back({*name, std::move(*text)});
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
            const wine::Key* k = reg ? reg->find(settingsPath(application, section)) : nullptr;
            const wine::Value* v = k ? RegFile::findValue(*k, key) : nullptr;
            if (auto text = v ? v->setting() : std::nullopt)
                return *text;
        } catch (...) {
        }
        return {};
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
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        errors::checkKeyName(key);
        modify([&](RegFile& reg) -> std::optional<StoreError> {
            if (!reg.deleteValue(settingsPath(application, section), key, wine::fileTimeNow()))
                return errors::notFound(errors::NameKind::Key, key);
            return std::nullopt;
        });
    }

private:
    // The last file read (or written): its identity, its bytes and what was read from them.
    struct Snapshot {
        FileId id;
        std::string bytes;
        std::optional<RegFile> reg; // empty when the file could not be read or parsed
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
        auto snap = std::make_unique<Snapshot>();
        int error = 0;
        if (readWhole(file_, snap->bytes, error, st) != ReadResult::Ok)
            return nullptr;
        snap->id = idOf(st);
        try {
            snap->reg = RegFile::parse(snap->bytes);
        } catch (const wine::ParseError&) {
            snap->reg.reset();
        }
        cache_ = std::move(snap);
        return cache_->reg ? &*cache_->reg : nullptr;
    }

    // One read-modify-write under the prefix's locks. `change` edits the registry or says why it
    // cannot, before touching it.
    template <class Change> void modify(Change change) {
        if (::mkdir(prefix_.c_str(), 0777) != 0 && errno != EEXIST)
            throw errors::writeFailed(pathText(file_), errnoText(errno));
        wine::PrefixLock lock(prefix_);
        std::string bytes;
        int error = 0;
        struct stat st {};
        const ReadResult read = readWhole(file_, bytes, error, st);
        if (read == ReadResult::Failed)
            throw errors::readFailed(pathText(file_), errnoText(error));
        const bool reuse =
            read == ReadResult::Ok && cache_ && cache_->reg && cache_->bytes == bytes;
        if (!reuse) {
            cache_.reset();
            auto snap = std::make_unique<Snapshot>();
            try {
                snap->reg = read == ReadResult::Ok ? RegFile::parse(bytes) : RegFile();
            } catch (const wine::ParseError& e) {
                throw errors::unparsable(pathText(file_), e.line, utf8ToUtf16(e.reason));
            }
            cache_ = std::move(snap);
        }
        std::optional<StoreError> refused;
        try {
            refused = change(*cache_->reg);
        } catch (...) {
            cache_.reset();
            throw;
        }
        if (refused)
            throw *refused;
        try {
            cache_->bytes = cache_->reg->text();
            writeAtomically(file_, resolveLinks(file_), cache_->bytes);
        } catch (...) {
            cache_.reset();
            throw;
        }
        if (::stat(file_.c_str(), &st) == 0)
            cache_->id = idOf(st);
        else
            cache_.reset();
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
