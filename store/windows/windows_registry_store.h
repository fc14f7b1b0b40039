#pragma once

#include "settings_store.h"

#include <memory>

namespace keyloft {

// The store over the registry itself, below HKEY_CURRENT_USER.
std::unique_ptr<SettingsStore> openWindowsRegistryStore();

// Error 1020 for a registry call that returned `code`, with Windows' own words for it.
StoreError registryFailure(std::u16string_view call, std::u16string_view keyPath, long code);

} // namespace keyloft
