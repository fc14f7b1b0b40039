#include "store_backend.h"

#include "windows_registry_store.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace keyloft::testing {
namespace {

std::wstring wide(std::u16string_view text) {
    return {text.begin(), text.end()};
}

void require(LONG rc, const char* call) {
    if (rc != ERROR_SUCCESS)
        throw std::runtime_error(std::string(call) + " failed with " + std::to_string(rc));
}

void createKey(std::u16string_view path, HKEY* key) {
    require(RegCreateKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key, nullptr),
            "RegCreateKeyExW");
}

// The cases wipe the settings area. On a real Windows machine that would be the user's own, so
// HKEY_CURRENT_USER is redirected, for this process only, to a scratch key (under Wine it is
// a throwaway prefix anyway, and the redirection is exercised all the same).
class ScratchCurrentUser {
public:
    ScratchCurrentUser() {
        RegDeleteTreeW(HKEY_CURRENT_USER, wide(kScratch).c_str());
        HKEY scratch = nullptr;
        createKey(kScratch, &scratch);
        const LONG rc = RegOverridePredefKey(HKEY_CURRENT_USER, scratch);
        RegCloseKey(scratch);
        require(rc, "RegOverridePredefKey");
    }
    ScratchCurrentUser(const ScratchCurrentUser&) = delete;
    ScratchCurrentUser& operator=(const ScratchCurrentUser&) = delete;
    ~ScratchCurrentUser() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, wide(kScratch).c_str());
    }

private:
    static constexpr std::u16string_view kScratch = u"Software\\Keyloft conformance scratch";
};

class RegistryBackend final : public StoreBackend {
public:
    std::string name() const override { return "Registry"; }

    std::unique_ptr<SettingsStore> freshStore() override {
        const LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, wide(kSettingsBasePath).c_str());
        if (rc != ERROR_FILE_NOT_FOUND)
            require(rc, "RegDeleteTreeW");
        return openWindowsRegistryStore();
    }

    void plantValue(std::u16string_view application, std::u16string_view section,
                    std::u16string_view name, std::uint32_t type,
                    const std::vector<std::uint8_t>& data) override {
        HKEY key = nullptr;
        createKey(sectionKeyPath(application, section), &key);
        const LONG rc =
            RegSetValueExW(key, wide(name).c_str(), 0, type, data.empty() ? nullptr : data.data(),
                           static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        require(rc, "RegSetValueExW");
    }

    void plantKey(const std::vector<Text>& pathBelowBase) override {
        Text path(kSettingsBasePath);
        for (const Text& name : pathBelowBase)
            path += u'\\' + name;
        HKEY key = nullptr;
        createKey(path, &key);
        RegCloseKey(key);
    }

private:
    ScratchCurrentUser scratch_;
};

} // namespace

std::vector<std::shared_ptr<StoreBackend>> storeBackends() {
    static const auto backend = std::make_shared<RegistryBackend>();
    return {backend};
}

} // namespace keyloft::testing
