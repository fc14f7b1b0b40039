#include "memory_store.h"

#include "store_error.h"

#include <algorithm>

namespace keyloft::testing {

namespace {

// Works on const and mutable lists alike; names compare exactly.
template <typename Items> auto findNamed(Items& items, std::u16string_view name) {
    return std::find_if(items.begin(), items.end(),
                        [name](const auto& item) { return item.name == name; });
}

template <typename Settings> auto findKey(Settings& settings, std::u16string_view key) {
    return std::find_if(settings.begin(), settings.end(),
                        [key](const Setting& setting) { return setting.key == key; });
}

template <typename Named> std::vector<Text> namesOf(const std::vector<Named>& items) {
    std::vector<Text> names;
    names.reserve(items.size());
    for (const auto& item : items)
        names.push_back(item.name);
    return names;
}

} // namespace

const MemoryStore::Section* MemoryStore::findSection(std::u16string_view application,
                                                     std::u16string_view name) const {
    const auto app = findNamed(applications_, application);
    if (app == applications_.end())
        return nullptr;
    const auto found = findNamed(app->sections, name);
    return found == app->sections.end() ? nullptr : &*found;
}

MemoryStore::Application& MemoryStore::application(std::u16string_view name) {
    if (const auto found = findNamed(applications_, name); found != applications_.end())
        return *found;
    applications_.push_back({Text(name), {}});
    return applications_.back();
}

MemoryStore::Section& MemoryStore::section(std::u16string_view application,
                                           std::u16string_view name) {
    auto& sections = this->application(application).sections;
    if (const auto found = findNamed(sections, name); found != sections.end())
        return *found;
    sections.push_back({Text(name), {}});
    return sections.back();
}

void MemoryStore::put(std::u16string_view application, std::u16string_view section,
                      std::u16string_view key, std::u16string_view value) {
    auto& settings = this->section(application, section).settings;
    if (const auto found = findKey(settings, key); found != settings.end())
        found->value = Text(value);
    else
        settings.push_back({Text(key), Text(value)});
}

void MemoryStore::addApplication(std::u16string_view application) {
    this->application(application);
}

void MemoryStore::addSection(std::u16string_view application, std::u16string_view section) {
    this->section(application, section);
}

std::vector<Text> MemoryStore::EnumRegSubKeys(std::u16string_view keyPath) const {
    if (keyPath == kSettingsBasePath)
        return namesOf(applications_);
    const std::size_t base = kSettingsBasePath.size();
    if (!keyPath.starts_with(kSettingsBasePath) || keyPath.size() <= base || keyPath[base] != u'\\')
        return {};
    const std::u16string_view below = keyPath.substr(base + 1);
    if (below.find(u'\\') != std::u16string_view::npos)
        return {}; // sections have no subkeys
    const auto app = findNamed(applications_, below);
    return app == applications_.end() ? std::vector<Text>{} : namesOf(app->sections);
}

std::vector<Setting> MemoryStore::GetAllSettings(std::u16string_view application,
                                                 std::u16string_view section) const {
    const Section* found = findSection(application, section);
    return found ? found->settings : std::vector<Setting>{};
}

Text MemoryStore::GetSetting(std::u16string_view application, std::u16string_view section,
                             std::u16string_view key) const {
    const Section* found = findSection(application, section);
    if (!found)
        return {};
    const auto setting = findKey(found->settings, key);
    return setting == found->settings.end() ? Text() : setting->value;
}

void MemoryStore::SaveSetting(std::u16string_view application, std::u16string_view section,
                              std::u16string_view key, std::u16string_view value) {
    put(application, section, key, value);
}

void MemoryStore::DeleteSetting(std::u16string_view application) {
    const auto found = findNamed(applications_, application);
    if (found == applications_.end())
        throw errors::notFound(errors::NameKind::Application, application);
    applications_.erase(found);
}

void MemoryStore::DeleteSetting(std::u16string_view application, std::u16string_view section) {
    if (!findSection(application, section))
        throw errors::notFound(errors::NameKind::Section, section);
    auto& sections = this->application(application).sections;
    sections.erase(findNamed(sections, section));
}

void MemoryStore::DeleteSetting(std::u16string_view application, std::u16string_view section,
                                std::u16string_view key) {
    if (!findSection(application, section))
        throw errors::notFound(errors::NameKind::Key, key);
    auto& settings = this->section(application, section).settings;
    const auto found = findKey(settings, key);
    if (found == settings.end())
        throw errors::notFound(errors::NameKind::Key, key);
    settings.erase(found);
}

} // namespace keyloft::testing
