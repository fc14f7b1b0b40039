#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keyloft {

using Text = std::u16string; // registry text is UTF-16; kept code unit for code unit

// Where the Visual Basic runtime keeps GetSetting/SaveSetting data, below HKEY_CURRENT_USER.
inline constexpr std::u16string_view kSettingsBasePath = u"Software\\VB and VBA Program Settings";

struct Setting {
    Text key;
    Text value;
    friend bool operator==(const Setting&, const Setting&) = default;
};

// A value of a section by its name and registry type (as in winnt.h).
struct TypedValue {
    Text name;
    std::uint32_t type = 0;
    friend bool operator==(const TypedValue&, const TypedValue&) = default;
};

// A failure: number and description.
class StoreError : public std::exception {
public:
    StoreError(long number, Text description);
    long number() const noexcept;
    const Text& description() const noexcept;
    const char* what() const noexcept override; // UTF-8 of the description

private:
    long number_;
    Text description_;
    std::string what_;
};

// One edit of a batch (SettingsStore::Apply): a setting written, or a setting, a section or an
// application deleted. The names not used by a kind stay empty.
struct Change {
    enum class Kind { Save, DeleteKey, DeleteSection, DeleteApplication };
    Kind kind = Kind::Save;
    Text application, section, key, value;
    friend bool operator==(const Change&, const Change&) = default;
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Subkey names of keyPath, a "\"-separated path below HKEY_CURRENT_USER; empty when the key
    // cannot be opened. Never throws.
    virtual std::vector<Text> EnumRegSubKeys(std::u16string_view keyPath) const = 0;
    // Every section of the application at every depth, each by its path below the application
    // ("Engines", "Engines\\Jet"), as the runtime's functions name it: a key before the keys below
    // it, each level in the registry's order. Empty when the application is missing. Never throws.
    virtual std::vector<Text> GetSections(std::u16string_view application) const;
    // Empty when the section is missing or holds no setting. Never throws.
    virtual std::vector<Setting> GetAllSettings(std::u16string_view application,
                                                std::u16string_view section) const = 0;
    // Empty string when the setting is missing. Never throws.
    virtual Text GetSetting(std::u16string_view application, std::u16string_view section,
                            std::u16string_view key) const = 0;
    // Registry type (as in winnt.h: 1 REG_SZ, 4 REG_DWORD, 7 REG_MULTI_SZ, ...) of the value that
    // key names, compared as the registry compares names; none when the section holds no such
    // value. The list shows string values only, so a writer asks before replacing another kind.
    // Never throws.
    virtual std::optional<std::uint32_t> GetValueType(std::u16string_view application,
                                                      std::u16string_view section,
                                                      std::u16string_view key) const = 0;
    // The section's named values that are no settings (of another type than a string), with
    // their types, in the registry's order: what GetValueType finds of another kind, for every
    // name at once. Empty when the section is missing. Never throws.
    virtual std::vector<TypedValue> GetNonStringValues(std::u16string_view application,
                                                       std::u16string_view section) const = 0;
    virtual void SaveSetting(std::u16string_view application, std::u16string_view section,
                             std::u16string_view key,
                             std::u16string_view value) = 0;         // throws StoreError
    virtual void DeleteSetting(std::u16string_view application) = 0; // throws StoreError
    // The section with every section below it, as regedit deletes a key.
    virtual void DeleteSetting(std::u16string_view application,
                               std::u16string_view section) = 0; // throws StoreError
    virtual void DeleteSetting(std::u16string_view application, std::u16string_view section,
                               std::u16string_view key) = 0; // throws StoreError
    // As DeleteSetting of each key in turn: the first key that fails stops the run with its
    // error; the keys before it stay deleted, the ones after it are not tried.
    virtual void DeleteSettings(std::u16string_view application, std::u16string_view section,
                                const std::vector<Text>& keys); // throws StoreError
    // The changes in order, as the calls above. `applied` tells how many took effect: on a
    // failure (thrown as by the calls) those before it, unless the store can make the whole
    // batch at once, all or nothing (the Wine prefix's file), where it is then none.
    virtual void Apply(const std::vector<Change>& changes,
                       std::size_t& applied); // throws StoreError
    // Where the settings live, for the user to tell stores apart: the Wine prefix's folder, or
    // the registry key.
    virtual Text Location() const = 0;
    // Throws the StoreError that keeps the settings from being read, if any: on a Wine prefix, a
    // user.reg that is no Wine registry (1011) or cannot be read (1012). The reads above show such
    // a store as empty, as the window shows it; a program that prints them asks first.
    virtual void CheckReadable() const {}
};

// PREFIX/user.reg, or while a wineserver runs for the prefix, the registry it keeps, reached
// through the bridges in `bridges` (by default those installed with the program).
std::unique_ptr<SettingsStore> openWinePrefixStore(const std::filesystem::path& prefix,
                                                   const std::filesystem::path& bridges = {});
// Windows: the registry; elsewhere the Wine prefix `prefix`, without it that of $WINEPREFIX,
// else ~/.wine.
std::unique_ptr<SettingsStore> openDefaultStore(const std::filesystem::path& prefix = {});
// The Wine prefix that `given` names: a folder that holds user.reg, or that user.reg; as an
// absolute path. None when it names neither.
std::optional<std::filesystem::path> winePrefixOf(const std::filesystem::path& given);

// The registry's name of a value type (REG_SZ, REG_DWORD, ...), for the user.
Text registryTypeName(std::uint32_t type);
// Whether a value of that type is a setting: a string, as the list shows it.
inline bool isStringType(std::uint32_t type) {
    return type == 1 || type == 2;
}

// Whether `path` is `section` or a section below it ("A\\B" is below "a"), as the registry
// compares names.
bool isWithinSection(std::u16string_view path, std::u16string_view section);

// Path of an application's key or of a section's key below HKEY_CURRENT_USER.
Text applicationKeyPath(std::u16string_view application);
Text sectionKeyPath(std::u16string_view application, std::u16string_view section);

} // namespace keyloft
