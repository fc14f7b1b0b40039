#pragma once

#include "settings_store.h"

#include <memory>

namespace keyloft {

// The store over the registry itself, below HKEY_CURRENT_USER.
std::unique_ptr<SettingsStore> openWindowsRegistryStore();

} // namespace keyloft
