#pragma once

#include "command.h"

#include <filesystem>
#include <functional>

namespace keyloft::cli {

// Opens the store the command works on: the prefix named (empty: the default one).
using StoreOpener = std::function<std::unique_ptr<SettingsStore>(const std::filesystem::path&)>;

// The whole program after its arguments (without the program's name) are UTF-16; the status.
int run(const std::vector<Text>& arguments, Io& io, const StoreOpener& open);

} // namespace keyloft::cli
