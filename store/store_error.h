#pragma once

#include "settings_store.h"

#include <string_view>

// The failures the stores report. Both backends draw on this one table, so a user sees the same
// number and the same words whichever platform Keyloft runs on.
namespace keyloft::errors {

enum Number : long {
    kNotFound = 5, // what the Visual Basic runtime raises for DeleteSetting of a missing item
    kEmptyName = 1001,
    kBackslashInName = 1002,
    kNameTooLong = 1003,
    kNulInName = 1004,
    kServerRunning = 1010,
    kUnparsable = 1011,
    kReadFailed = 1012,
    kWriteFailed = 1013,
    kLockFailed = 1014,
    kBridgeFailed = 1015,
    kRegistryFailed = 1020,
};

enum class NameKind { Application, Section, Key };

// Longest key name and longest value name the registry accepts, in UTF-16 code units.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;

StoreError notFound(NameKind kind, std::u16string_view name);
StoreError emptyName(NameKind kind);
StoreError backslashInName(NameKind kind);
StoreError nameTooLong(NameKind kind);
// A section path with an empty step: a doubled, leading or trailing "\".
StoreError emptyStep(NameKind kind);
StoreError nulInName(NameKind kind);
StoreError serverRunning(std::u16string_view prefix);
// A server runs, but the bridge that would change the settings through it cannot start.
StoreError serverUnreachable(std::u16string_view prefix, std::u16string_view reason);
// A server runs out of Keyloft's sight (in a sandbox); it would overwrite any change to the file.
StoreError serverHidden(std::u16string_view prefix, long pid);
// The bridge took a request and failed to answer it: whether it was carried out is unknown.
StoreError bridgeFailed(std::u16string_view prefix, std::u16string_view reason);
StoreError unparsable(std::u16string_view file, long line, std::u16string_view reason);
StoreError readFailed(std::u16string_view file, std::u16string_view reason);
StoreError writeFailed(std::u16string_view file, std::u16string_view reason);
StoreError lockFailed(std::u16string_view file, std::u16string_view reason);
StoreError registryFailed(std::u16string_view operation, std::u16string_view keyPath, long code,
                          std::u16string_view reason);

// Refuses, before anything is written, names the registry would reject or misplace: empty names,
// a "\" in an application name (it would land in a nested key), over-long names, and a NUL
// character, which the registry's name-taking calls would cut the name at. A section is a path of
// one or more keys below its application, each step checked as a name of its own.
void checkApplicationName(std::u16string_view application);
void checkSectionName(std::u16string_view section);
void checkKeyName(std::u16string_view key);

} // namespace keyloft::errors
