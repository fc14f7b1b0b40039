#pragma once

#include "file_bytes.h"
#include "settings_store.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>

// The file work of the Wine prefix backend, and the texts its errors quote.
namespace keyloft::posix {

Text pathText(const std::filesystem::path& p);
Text errnoText(int error);

enum class ReadResult { Ok, Missing, Failed };

// Reads the whole regular file into `out`, reusing its storage; `st` describes what was read.
// `progress`, when given, is shown the bytes read so far after each part.
ReadResult readWhole(const std::filesystem::path& file, wine::FileBytes& out, int& error,
                     struct stat& st,
                     const std::function<void(std::string_view)>& progress = nullptr);

// Follows a symlinked file to the file it names, so that a rewrite lands there and the link stays
// a link.
std::filesystem::path resolveLinks(std::filesystem::path p);

// Temporary file next to the target, flushed, then renamed over it: a crash leaves the old file
// or the new one, whole. The file keeps its mode (and owner, where allowed). Throws
// errors::writeFailed naming `shownAs`.
void writeAtomically(const std::filesystem::path& shownAs, const std::filesystem::path& target,
                     std::string_view bytes);

} // namespace keyloft::posix
