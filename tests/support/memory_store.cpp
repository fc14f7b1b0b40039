#include "memory_store.h"

#include "case_fold.h"
#include "store_error.h"

#include <algorithm>

namespace keyloft::testing {

using errors::NameKind;

namespace {

using Name = MemoryStore::Name;

template <typename List> auto find(List& list, Name name) {
    return std::ranges::find_if(list,
                                [name](const auto& entry) { return sameName(entry.first, name); });
}

// The entry called name, appended when missing.
template <typename List> auto& entry(List& list, Name name) {
    if (const auto found = find(list, name); found != list.end())
        return found->second;
    return list.emplace_back(Text(name), typename List::value_type::second_type()).second;
}

template <typename List> void erase(List& list, Name name, NameKind kind) {
    const auto found = find(list, name);
    if (found == list.end())
        throw errors::notFound(kind, name);
    list.erase(found);
}

template <typename List> std::vector<Text> names(const List& list) {
    std::vector<Text> names;
    for (const auto& [name, item] : list)
        names.push_back(name);
    return names;
}

// A section's values or none; as const as the applications.
template <typename Applications>
auto valuesOf(Applications& applications, Name application, Name section)
    -> decltype(&applications[0].second[0].second) {
    const auto app = find(applications, application);
    if (app == applications.end())
        return nullptr;
    const auto found = find(app->second, section);
    return found == app->second.end() ? nullptr : &found->second;
}

} // namespace

void MemoryStore::put(Name application, Name section, Name key, Name value) {
    entry(entry(entry(applications_, application), section), key) = Text(value);
}

void MemoryStore::addApplication(Name application) {
    entry(applications_, application);
}

void MemoryStore::addSection(Name application, Name section) {
    entry(entry(applications_, application), section);
}

std::vector<Text> MemoryStore::EnumRegSubKeys(Name keyPath) const {
    if (sameName(keyPath, kSettingsBasePath))
        return names(applications_);
    // Spelt out here rather than taken from the store, so that a wrong path does not agree.
    for (const auto& [name, sections] : applications_) {
        if (sameName(keyPath, Text(kSettingsBasePath) + u'\\' + name))
            return names(sections);
    }
    return {}; // sections have no subkeys
}

std::vector<Setting> MemoryStore::GetAllSettings(Name application, Name section) const {
    std::vector<Setting> settings;
    if (const auto* values = valuesOf(applications_, application, section)) {
        for (const auto& [key, value] : *values)
            settings.push_back({key, value});
    }
    return settings;
}

Text MemoryStore::GetSetting(Name application, Name section, Name key) const {
    for (const Setting& setting : GetAllSettings(application, section)) {
        if (sameName(setting.key, key))
            return setting.value;
    }
    return {};
}

void MemoryStore::SaveSetting(Name application, Name section, Name key, Name value) {
    put(application, section, key, value);
}

void MemoryStore::DeleteSetting(Name application) {
    erase(applications_, application, NameKind::Application);
}

void MemoryStore::DeleteSetting(Name application, Name section) {
    const auto app = find(applications_, application);
    if (app == applications_.end())
        throw errors::notFound(NameKind::Section, section);
    erase(app->second, section, NameKind::Section);
}

void MemoryStore::DeleteSetting(Name application, Name section, Name key) {
    auto* values = valuesOf(applications_, application, section);
    if (!values)
        throw errors::notFound(NameKind::Key, key);
    erase(*values, key, NameKind::Key);
}

} // namespace keyloft::testing
