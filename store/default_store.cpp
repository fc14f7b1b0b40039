#include "settings_store.h"

#ifdef _WIN32
#include "windows_registry_store.h"
#else
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#endif

namespace keyloft {

void SettingsStore::DeleteSettings(std::u16string_view application, std::u16string_view section,
                                   const std::vector<Text>& keys) {
    for (const Text& key : keys)
        DeleteSetting(application, section, key);
}

#ifdef _WIN32

std::unique_ptr<SettingsStore> openDefaultStore() {
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

std::unique_ptr<SettingsStore> openDefaultStore() {
    return openWinePrefixStore(defaultWinePrefix());
}

#endif

} // namespace keyloft
