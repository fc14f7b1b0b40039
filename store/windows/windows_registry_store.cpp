#include "windows_registry_store.h"

#include "store_error.h"

#include <windows.h>

#include <string>
#include <vector>

namespace keyloft {

// UTF-16 both sides: names and data pass unit for unit, no conversion.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

using errors::NameKind;

std::wstring wide(std::u16string_view text) {
    return {text.begin(), text.end()};
}

// Closes on every path out, so no handle outlives the call that opened it.
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (handle_)
            RegCloseKey(handle_);
    }
    HKEY get() const { return handle_; }
    HKEY* out() { return &handle_; }

private:
    HKEY handle_ = nullptr;
};

LONG openKey(std::u16string_view path, REGSAM access, Key& key) {
    return RegOpenKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, access, key.out());
}

bool isMissing(LONG code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

Text systemMessage(LONG code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Text message(buffer, buffer + length);
    LocalFree(buffer);
    // The description closes the sentence itself.
    while (!message.empty() &&
           (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' ' ||
            message.back() == u'.' || message.back() == u'。'))
        message.pop_back();
    return message;
}

} // namespace

StoreError registryFailure(std::u16string_view call, std::u16string_view keyPath, long code) {
    return errors::registryFailed(call, keyPath, code, systemMessage(static_cast<LONG>(code)));
}

namespace {

// A name SaveSetting would refuse can hold no setting, so reads treat it as missing.
bool readableSection(std::u16string_view application, std::u16string_view section) {
    try {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        return true;
    } catch (const StoreError&) {
        return false;
    }
}

bool readableKey(std::u16string_view key) {
    try {
        errors::checkKeyName(key);
        return true;
    } catch (const StoreError&) {
        return false;
    }
}

// The section's key, opened to read its values; false where there is none.
bool openSection(std::u16string_view application, std::u16string_view section, Key& key) {
    return readableSection(application, section) &&
           openKey(sectionKeyPath(application, section), KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

bool isString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

BYTE* bytes(std::vector<char16_t>& buffer) {
    return reinterpret_cast<BYTE*>(buffer.data());
}

DWORD byteCapacity(const std::vector<char16_t>& buffer) {
    return static_cast<DWORD>(buffer.size() * sizeof(char16_t));
}

// Other programs write strings without the final NUL, or with an odd byte count; what whole
// units there are is the text.
Text stringData(const std::vector<char16_t>& buffer, DWORD size) {
    Text text(buffer.data(), buffer.data() + size / sizeof(char16_t));
    if (!text.empty() && text.back() == u'\0')
        text.pop_back();
    return text;
}

void deleteTree(std::u16string_view path, NameKind kind, std::u16string_view name) {
    // With a subkey name it removes that key too, not only what lies below it.
    const LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, wide(path).c_str());
    if (isMissing(rc))
        throw errors::notFound(kind, name);
    if (rc != ERROR_SUCCESS)
        throw registryFailure(u"RegDeleteTreeW", path, rc);
}

class WindowsRegistryStore final : public SettingsStore {
public:
    std::vector<Text> EnumRegSubKeys(std::u16string_view keyPath) const override {
        std::vector<Text> names;
        Key key;
        if (openKey(keyPath, KEY_ENUMERATE_SUB_KEYS, key) != ERROR_SUCCESS)
            return names;
        std::vector<wchar_t> name(errors::kMaxKeyNameLength + 1);
        for (DWORD index = 0;;) {
            auto length = static_cast<DWORD>(name.size());
            const LONG rc = RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr,
                                          nullptr, nullptr);
            // Not seen from the registry itself, which caps key names at 255 units.
            if (rc == ERROR_MORE_DATA && name.size() < kLongestName) {
                name.resize(name.size() * 2);
                continue;
            }
            if (rc != ERROR_SUCCESS)
                break;
            names.emplace_back(name.data(), name.data() + length);
            ++index;
        }
        return names;
    }

    std::vector<Setting> GetAllSettings(std::u16string_view application,
                                        std::u16string_view section) const override {
        std::vector<Setting> settings;
        Key key;
        if (!openSection(application, section, key))
            return settings;
        DWORD longestData = 0;
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &longestData, nullptr, nullptr);
        std::vector<wchar_t> name(errors::kMaxValueNameLength + 1);
        std::vector<char16_t> data(longestData / sizeof(char16_t) + 1);
        for (DWORD index = 0;;) {
            auto nameLength = static_cast<DWORD>(name.size());
            DWORD type = REG_NONE;
            DWORD size = byteCapacity(data);
            const LONG rc = RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr,
                                          &type, bytes(data), &size);
            // Another program may have grown a value since the key was measured.
            if (rc == ERROR_MORE_DATA && size > byteCapacity(data)) {
                data.resize(size / sizeof(char16_t) + 1);
                continue;
            }
            if (rc != ERROR_SUCCESS)
                break;
            ++index;
            if (nameLength == 0 || !isString(type)) // the default value is no setting
                continue;
            settings.push_back(
                {Text(name.data(), name.data() + nameLength), stringData(data, size)});
        }
        return settings;
    }

    Text GetSetting(std::u16string_view application, std::u16string_view section,
                    std::u16string_view keyName) const override {
        Key key;
        if (!readableKey(keyName) || !openSection(application, section, key))
            return {};
        const std::wstring valueName = wide(keyName);
        std::vector<char16_t> data(256);
        for (;;) {
            DWORD type = REG_NONE;
            DWORD size = byteCapacity(data);
            const LONG rc =
                RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, bytes(data), &size);
            if (rc == ERROR_MORE_DATA) {
                data.resize(size / sizeof(char16_t) + 1);
                continue;
            }
            if (rc != ERROR_SUCCESS || !isString(type))
                return {};
            return stringData(data, size);
        }
    }

    std::optional<std::uint32_t> GetValueType(std::u16string_view application,
                                              std::u16string_view section,
                                              std::u16string_view keyName) const override {
        Key key;
        DWORD type = REG_NONE;
        if (!readableKey(keyName) || !openSection(application, section, key) ||
            RegQueryValueExW(key.get(), wide(keyName).c_str(), nullptr, &type, nullptr, nullptr) !=
                ERROR_SUCCESS)
            return std::nullopt;
        return type;
    }

    std::vector<TypedValue> GetNonStringValues(std::u16string_view application,
                                               std::u16string_view section) const override {
        std::vector<TypedValue> values;
        Key key;
        if (!openSection(application, section, key))
            return values;
        std::vector<wchar_t> name(errors::kMaxValueNameLength + 1);
        for (DWORD index = 0;; ++index) {
            auto nameLength = static_cast<DWORD>(name.size());
            DWORD type = REG_NONE;
            if (RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            if (nameLength != 0 && !isString(type))
                values.push_back({Text(name.data(), name.data() + nameLength), type});
        }
        return values;
    }

    void SaveSetting(std::u16string_view application, std::u16string_view section,
                     std::u16string_view keyName, std::u16string_view value) override {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        errors::checkKeyName(keyName);
        const Text path = sectionKeyPath(application, section);
        Key key;
        LONG rc =
            RegCreateKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.out(), nullptr);
        if (rc != ERROR_SUCCESS)
            throw registryFailure(u"RegCreateKeyExW", path, rc);
        const std::wstring data = wide(value);
        const auto size = (data.size() + 1) * sizeof(wchar_t); // with the final NUL
        rc = size > MAXDWORD ? ERROR_INVALID_PARAMETER
                             : RegSetValueExW(key.get(), wide(keyName).c_str(), 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(data.c_str()),
                                              static_cast<DWORD>(size));
        if (rc != ERROR_SUCCESS)
            throw registryFailure(u"RegSetValueExW", path, rc);
    }

    void DeleteSetting(std::u16string_view application) override {
        errors::checkApplicationName(application);
        deleteTree(applicationKeyPath(application), NameKind::Application, application);
    }

    void DeleteSetting(std::u16string_view application, std::u16string_view section) override {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        deleteTree(sectionKeyPath(application, section), NameKind::Section, section);
    }

    void DeleteSetting(std::u16string_view application, std::u16string_view section,
                       std::u16string_view keyName) override {
        errors::checkApplicationName(application);
        errors::checkSectionName(section);
        errors::checkKeyName(keyName);
        const Text path = sectionKeyPath(application, section);
        Key key;
        const char16_t* call = u"RegOpenKeyExW";
        LONG rc = openKey(path, KEY_SET_VALUE, key);
        if (rc == ERROR_SUCCESS) {
            call = u"RegDeleteValueW";
            rc = RegDeleteValueW(key.get(), wide(keyName).c_str());
        }
        if (isMissing(rc))
            throw errors::notFound(NameKind::Key, keyName);
        if (rc != ERROR_SUCCESS)
            throw registryFailure(call, path, rc);
    }

    Text Location() const override { return u"HKEY_CURRENT_USER\\" + Text(kSettingsBasePath); }

private:
    static constexpr std::size_t kLongestName = 32768;
};

} // namespace

std::unique_ptr<SettingsStore> openWindowsRegistryStore() {
    return std::make_unique<WindowsRegistryStore>();
}

} // namespace keyloft
