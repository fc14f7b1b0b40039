#pragma once

#include "settings_store.h"

#include <utility>
#include <vector>

namespace keyloft::testing {

// A settings area in memory. Applications, sections and settings are listed in the order they
// were first put. Names compare as the registry compares them, regardless of case, and keep the
// spelling they were first put with. A test changes it directly to play another program.
class MemoryStore final : public SettingsStore {
public:
    using Name = std::u16string_view;

    // As SaveSetting: creates the application and section as needed; a new key goes last.
    void put(Name application, Name section, Name key, Name value);
    // An application or a section without anything below it.
    void addApplication(Name application);
    void addSection(Name application, Name section);

    std::vector<Text> EnumRegSubKeys(Name keyPath) const override;
    std::vector<Setting> GetAllSettings(Name application, Name section) const override;
    Text GetSetting(Name application, Name section, Name key) const override;
    void SaveSetting(Name application, Name section, Name key, Name value) override;
    void DeleteSetting(Name application) override;
    void DeleteSetting(Name application, Name section) override;
    void DeleteSetting(Name application, Name section, Name key) override;

private:
    template <typename T> using Named = std::vector<std::pair<Text, T>>; // in insertion order
    Named<Named<Named<Text>>> applications_;                             // → sections → values
};

} // namespace keyloft::testing
