#pragma once

#include "settings_store.h"

#include <vector>

namespace keyloft::testing {

// A settings area in memory. Applications, sections and settings are listed in the order they
// were first put. Names compare exactly, case included, unlike the registry, so that a test can
// hand the windows names that differ only in case. A test changes it directly to play another
// program.
class MemoryStore final : public SettingsStore {
public:
    // As SaveSetting: creates the application and section as needed; a new key goes last.
    void put(std::u16string_view application, std::u16string_view section, std::u16string_view key,
             std::u16string_view value);
    // An application or a section without anything below it.
    void addApplication(std::u16string_view application);
    void addSection(std::u16string_view application, std::u16string_view section);

    std::vector<Text> EnumRegSubKeys(std::u16string_view keyPath) const override;
    std::vector<Setting> GetAllSettings(std::u16string_view application,
                                        std::u16string_view section) const override;
    Text GetSetting(std::u16string_view application, std::u16string_view section,
                    std::u16string_view key) const override;
    void SaveSetting(std::u16string_view application, std::u16string_view section,
                     std::u16string_view key, std::u16string_view value) override;
    void DeleteSetting(std::u16string_view application) override;
    void DeleteSetting(std::u16string_view application, std::u16string_view section) override;
    void DeleteSetting(std::u16string_view application, std::u16string_view section,
                       std::u16string_view key) override;

private:
    struct Section {
        Text name;
        std::vector<Setting> settings;
    };
    struct Application {
        Text name;
        std::vector<Section> sections;
    };

    const Section* findSection(std::u16string_view application, std::u16string_view name) const;
    Application& application(std::u16string_view name);
    Section& section(std::u16string_view application, std::u16string_view name);

    std::vector<Application> applications_;
};

} // namespace keyloft::testing
