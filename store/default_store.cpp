#include "settings_store.h"

#include "case_fold.h"
#include "text_codec.h"

#ifdef _WIN32
#include "windows/windows_registry_store.h"
#else
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#endif

namespace keyloft {

namespace {

void addSectionsBelow(const SettingsStore& store, const Text& section, const Text& keyPath,
                      std::vector<Text>& out, int depth) {
    // The registry nests at most 512 levels; a loop (a link) is no tree to list.
    if (depth > 512)
        return;
    for (const Text& name : store.EnumRegSubKeys(keyPath)) {
        Text path = section.empty() ? name : section + u'\\' + name;
        out.push_back(path);
        addSectionsBelow(store, path, keyPath + u'\\' + name, out, depth + 1);
    }
}

} // namespace

std::vector<Text> SettingsStore::GetSections(std::u16string_view application) const {
    std::vector<Text> out;
    if (application.empty() || application.find(u'\\') != std::u16string_view::npos)
        return out;
    addSectionsBelow(*this, {}, applicationKeyPath(application), out, 1);
    return out;
}

bool isWithinSection(std::u16string_view path, std::u16string_view section) {
    if (path.size() < section.size() || !sameName(path.substr(0, section.size()), section))
        return false;
    return path.size() == section.size() || path[section.size()] == u'\\';
}

void SettingsStore::DeleteSettings(std::u16string_view application, std::u16string_view section,
                                   const std::vector<Text>& keys) {
    for (const Text& key : keys)
        DeleteSetting(application, section, key);
}

void SettingsStore::Apply(const std::vector<Change>& changes, std::size_t& applied) {
    applied = 0;
    for (const Change& c : changes) {
        switch (c.kind) {
        case Change::Kind::Save:
            SaveSetting(c.application, c.section, c.key, c.value);
            break;
        case Change::Kind::DeleteKey:
            DeleteSetting(c.application, c.section, c.key);
            break;
        case Change::Kind::DeleteSection:
            DeleteSetting(c.application, c.section);
            break;
        case Change::Kind::DeleteApplication:
            DeleteSetting(c.application);
            break;
        }
        ++applied;
    }
}

#ifdef _WIN32

std::unique_ptr<SettingsStore> openDefaultStore(const std::filesystem::path&) {
    return openWindowsRegistryStore();
}

#else

namespace {

// Where Wine itself looks: $WINEPREFIX, else $HOME/.wine, else the password database's home.
std::filesystem::path defaultWinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
        std::string p = prefix;
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        return p;
    }
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".wine";
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return std::filesystem::path(pw->pw_dir) / ".wine";
    return ".wine";
}

} // namespace

std::unique_ptr<SettingsStore> openDefaultStore(const std::filesystem::path& prefix) {
    return openWinePrefixStore(prefix.empty() ? defaultWinePrefix() : prefix);
}

#endif

Text registryTypeName(std::uint32_t type) {
    static constexpr std::u16string_view names[] = {u"REG_NONE",
                                                    u"REG_SZ",
                                                    u"REG_EXPAND_SZ",
                                                    u"REG_BINARY",
                                                    u"REG_DWORD",
                                                    u"REG_DWORD_BIG_ENDIAN",
                                                    u"REG_LINK",
                                                    u"REG_MULTI_SZ",
                                                    u"REG_RESOURCE_LIST",
                                                    u"REG_FULL_RESOURCE_DESCRIPTOR",
                                                    u"REG_RESOURCE_REQUIREMENTS_LIST",
                                                    u"REG_QWORD"};
    return type < std::size(names) ? Text(names[type]) : u"種類 " + utf8ToUtf16(digits(type));
}

std::optional<std::filesystem::path> winePrefixOf(const std::filesystem::path& given) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path path = fs::absolute(given, error).lexically_normal();
    if (error)
        return std::nullopt;
    if (!path.has_filename())
        path = path.parent_path(); // a folder named with a trailing "/"
    if (path.filename() == "user.reg" && fs::is_regular_file(path, error))
        return path.parent_path();
    if (fs::is_regular_file(path / "user.reg", error))
        return path;
    return std::nullopt;
}

} // namespace keyloft
