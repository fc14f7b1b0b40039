#pragma once

#include "settings_store.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// keyloft-cli: one class per command, each a Command the dispatcher (run.h) picks by name.
namespace keyloft::cli {

enum Status : int { kDone = 0, kNotThere = 1, kUsage = 2, kStoreFailed = 3 };

// The program's ends: standard output and error, standard input.
class Io {
public:
    virtual ~Io() = default;
    virtual void out(std::u16string_view text) = 0;
    virtual void outBytes(std::string_view bytes) = 0; // as they are (a .reg file)
    virtual void err(std::u16string_view text) = 0;
    virtual std::string readInput() = 0; // all of standard input
    // A file's bytes; throws UsageError when it cannot be read.
    virtual std::string readFile(std::u16string_view name) = 0;
    // Written whole or not at all; throws UsageError on failure.
    virtual void writeFile(std::u16string_view name, std::string_view bytes) = 0;
};

// Bad usage (status 2) and a missing item (status 1), with the line for standard error.
struct UsageError {
    Text message;
};
struct NotThere {
    Text message;
};
// Refused before the store was asked to write (status 3).
struct Refused {
    Text message;
};

struct Option {
    std::u16string_view name;  // long name, without "--"
    char16_t letter = 0;       // short name, if any
    std::u16string_view value; // the value's placeholder; empty for a flag
    std::u16string_view help;
};

// What the command line gave a command: its arguments, and its options by long name.
struct Arguments {
    std::vector<Text> positional;
    std::map<Text, Text, std::less<>> options; // a flag maps to ""
    bool has(std::u16string_view name) const { return options.contains(name); }
    const Text* value(std::u16string_view name) const {
        auto it = options.find(name);
        return it == options.end() ? nullptr : &it->second;
    }
};

struct Context {
    SettingsStore& store;
    Io& io;
    bool json = false;
    bool null = false; // records end with NUL instead of a line break
    // The end of a record in plain output.
    std::u16string_view end() const { return null ? std::u16string_view(u"\0", 1) : u"\n"; }
};

class Command {
public:
    virtual ~Command() = default;
    virtual std::u16string_view name() const = 0;
    virtual std::u16string_view summary() const = 0;
    virtual std::u16string_view synopsis() const = 0; // the arguments, as the help shows them
    virtual std::size_t minArguments() const = 0;
    virtual std::size_t maxArguments() const = 0; // SIZE_MAX: any number
    virtual std::vector<Option> options() const { return {}; }
    virtual int run(const Arguments& args, Context& context) const = 0;

    Text help() const;
};

std::vector<std::unique_ptr<Command>> allCommands();

// Helpers the commands share.
Text recordName(std::u16string_view application, std::u16string_view section = {},
                std::u16string_view key = {});
void appendRecordName(Text& out, std::u16string_view application, std::u16string_view section,
                      std::u16string_view key); // the same, at the end of `out`
Text jsonString(std::u16string_view text);
// The refusal to replace a value of another kind than a string under that name (or with
// `deleting`, to delete it): the list does not show it, and a write would lose it. None when the
// name holds a string or nothing.
std::optional<Text> nonStringValue(const SettingsStore& store, std::u16string_view application,
                                   std::u16string_view section, std::u16string_view key,
                                   bool deleting = false);
// That refusal for a value of the given type.
Text nonStringRefusal(std::uint32_t type, std::u16string_view application,
                      std::u16string_view section, std::u16string_view key, bool deleting);
// The application as the registry spells it; throws NotThere when there is none.
Text existingApplication(const SettingsStore& store, std::u16string_view application);
Text existingSection(const SettingsStore& store, std::u16string_view application,
                     std::u16string_view section);

} // namespace keyloft::cli
