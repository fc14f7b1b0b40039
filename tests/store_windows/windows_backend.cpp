// The conformance cases' backend on Windows, and what only the registry backend meets: registry
// calls that fail for reasons of their own.
#include "store_backend.h"

#include "windows/windows_registry_store.h"

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

    std::unique_ptr<SettingsStore> open(bool again) override {
        if (const LONG rc =
                again ? ERROR_FILE_NOT_FOUND
                      : RegDeleteTreeW(HKEY_CURRENT_USER, wide(kSettingsBasePath).c_str());
            rc != ERROR_FILE_NOT_FOUND)
            require(rc, "RegDeleteTreeW");
        return openWindowsRegistryStore();
    }
    void plant(const Names& below, std::u16string_view name, std::uint32_t type,
               const Bytes& data) override {
        Text path(kSettingsBasePath);
        for (const Text& key : below)
            path += u'\\' + key;
        HKEY key = nullptr;
        require(RegCreateKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
                "RegCreateKeyExW");
        const LONG rc = type ? RegSetValueExW(key, wide(name).c_str(), 0, type, data.data(),
                                              static_cast<DWORD>(data.size()))
                             : ERROR_SUCCESS;
        RegCloseKey(key);
        require(rc, "RegSetValueExW");
    }

private:
    static constexpr const wchar_t* kScratch = L"Software\\Keyloft conformance scratch";
};

TEST(RegistryFailure, ReportsTheCallTheKeyAndTheWindowsError) {
    StoreBackend& backend = storeBackend();
    const auto store = backend.open();
    // A volatile key takes no lasting subkey, so creating the section fails. Only the
    // application key is volatile: RegCreateKeyExW would make every missing parent so too.
    backend.plant({});
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Volatile",
                              0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const std::string e = failure([&] { store->SaveSetting(u"Volatile", u"Sec", u"Key", u"v"); });
    const std::string start =
        "1020 レジストリの操作に失敗しました（RegCreateKeyExW「Software\\VB and "
        "VBA Program Settings\\Volatile\\Sec」、エラー 1021: ";
    EXPECT_TRUE(e.starts_with(start) && e.ends_with("）。")) << e;
    EXPECT_GT(e.size(), (start + "）。").size()) << "no system message";
    EXPECT_TRUE(store->EnumRegSubKeys(kBase + u"\\Volatile").empty());
}

} // namespace

StoreBackend& storeBackend() {
    static RegistryBackend backend;
    return backend;
}

} // namespace keyloft::testing
