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

// Creates the key below HKEY_CURRENT_USER with its missing parents, and closes it.
void createKey(std::u16string_view path) {
    HKEY key = nullptr;
    require(RegCreateKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            "RegCreateKeyExW");
    RegCloseKey(key);
}

// The cases wipe the settings area. On a real Windows machine that would be the user's own, so
// HKEY_CURRENT_USER is redirected, for this process only, to a scratch key (under Wine it is
// a throwaway prefix anyway, and the redirection is exercised all the same).
class RegistryBackend final : public StoreBackend {
public:
    RegistryBackend() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
        HKEY scratch = nullptr;
        require(RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &scratch, nullptr),
                "RegCreateKeyExW");
        const LONG rc = RegOverridePredefKey(HKEY_CURRENT_USER, scratch);
        RegCloseKey(scratch);
        require(rc, "RegOverridePredefKey");
    }
    ~RegistryBackend() override {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
    }
    std::string name() const override { return "Registry"; }

    std::unique_ptr<SettingsStore> freshStore() override {
        const LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, wide(kSettingsBasePath).c_str());
        if (rc != ERROR_FILE_NOT_FOUND)
            require(rc, "RegDeleteTreeW");
        return openWindowsRegistryStore();
    }
    std::unique_ptr<SettingsStore> sameStore() override { return openWindowsRegistryStore(); }
    void plantValue(std::u16string_view application, std::u16string_view section,
                    std::u16string_view name, std::uint32_t type,
                    const std::vector<std::uint8_t>& data) override {
        const Text path = sectionKeyPath(application, section);
        createKey(path);
        require(RegSetKeyValueW(HKEY_CURRENT_USER, wide(path).c_str(), wide(name).c_str(), type,
                                data.empty() ? nullptr : data.data(),
                                static_cast<DWORD>(data.size())),
                "RegSetKeyValueW");
    }
    void plantKey(const std::vector<Text>& pathBelowBase) override {
        Text path(kSettingsBasePath);
        for (const Text& name : pathBelowBase)
            path += u'\\' + name;
        createKey(path);
    }

private:
    static constexpr const wchar_t* kScratch = L"Software\\Keyloft conformance scratch";
};

} // namespace

std::vector<std::shared_ptr<StoreBackend>> storeBackends() {
    static const auto backend = std::make_shared<RegistryBackend>();
    return {backend};
}

} // namespace keyloft::testing
