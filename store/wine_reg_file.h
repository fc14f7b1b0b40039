#pragma once

#include "settings_store.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Wine's per-user registry file (PREFIX/user.reg), read and edited the way wineserver reads and
// writes it. The file is the user's whole HKEY_CURRENT_USER, so an edit rewrites only the key
// blocks it changes: every other byte, including comments, unknown lines and CRLF line ends,
// is carried over verbatim.
namespace keyloft::wine {

// Registry value types, as in winnt.h.
enum ValueType : std::uint32_t {
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

// Wine compares names by lowercasing each UTF-16 unit (Unicode simple lowercase; the table
// covers the whole BMP, Unicode 14) and sorts a prefix before the longer name.
char16_t foldCase(char16_t c);
Text foldCase(std::u16string_view name);
int compareNames(std::u16string_view a, std::u16string_view b);

// Escaping as wineserver writes it: pure ASCII, `\` and the given delimiters escaped.
std::string escapeKeyName(std::u16string_view name);
std::string escapeString(std::u16string_view text);
// One value line (with continuation lines for long hex data), as wineserver writes it.
std::string valueLine(std::u16string_view name, std::uint32_t type,
                      const std::vector<std::uint8_t>& data, std::string_view eol);

// FILETIME of now (100 ns units since 1601).
std::uint64_t fileTimeNow();

struct ParseError {
    long line;
    std::string reason;
};

struct Value {
    Text name;
    Text folded;
    std::uint32_t type = kRegSz;
    bool quoted = false;             // written as "..." (data in text, without the final NUL)
    Text text;                       // data of a quoted value
    std::vector<std::uint8_t> bytes; // data of a hex or dword value
    std::size_t begin = 0, end = 0;  // byte range of its lines in the block, line ends included

    // The setting this value holds: REG_SZ or REG_EXPAND_SZ data, else nothing.
    std::optional<Text> setting() const;
};

struct Key;

// The raw text of one "[path]" block, up to the next block header; and what was read from it.
struct Block {
    std::string text;
    Key* key = nullptr;
    std::vector<Text> path;
    std::vector<Value> values;
    std::string eol = "\n";
    std::size_t pathEnd = 0;    // just after the closing "]"
    std::size_t headerEnd = 0;  // end of the header line's content (before its line end)
    std::size_t optionsEnd = 0; // after the header line and the option lines right below it
    std::size_t timeBegin = std::string::npos, timeEnd = 0; // the first "#time=" line's content
    bool hasClass = false;
    bool isLink = false;
};

struct Key {
    Text name;
    Key* parent = nullptr;
    std::map<Text, std::unique_ptr<Key>> children; // by folded name: Wine's order
    std::vector<Block*> blocks;                    // in file order; empty for an implied key
};

class RegFile {
public:
    // A new file as Wine accepts it, without keys.
    RegFile();
    // Throws ParseError where wineserver would reject a line; lenient where it is lenient.
    static RegFile parse(std::string_view text);

    RegFile(RegFile&&) noexcept = default;
    RegFile& operator=(RegFile&&) noexcept = default;

    std::string text() const;
    const std::vector<std::unique_ptr<Block>>& blocks() const { return blocks_; }

    // Case-insensitive lookup; nullptr when the key does not exist (not even implied).
    const Key* find(const std::vector<Text>& path) const;
    // Subkey names (first spelling) in Wine's order.
    static std::vector<Text> subkeyNames(const Key& key);
    // The key's values after Wine's merge of duplicates (the first spelling, the last data), in
    // Wine's order.
    struct Merged {
        const Text* name;
        const Value* value;
    };
    static std::vector<Merged> values(const Key& key);
    static const Value* findValue(const Key& key, std::u16string_view name);

    // Edits; `now` is the FILETIME stamped on every block they change.
    void setValue(const std::vector<Text>& path, std::u16string_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data, std::uint64_t now);
    void createKey(const std::vector<Text>& path, std::uint64_t now);
    bool deleteValue(const std::vector<Text>& path, std::u16string_view name, std::uint64_t now);
    bool deleteKey(const std::vector<Text>& path, std::uint64_t now);

private:
    struct Splice {
        std::size_t begin, end;
        std::string with;
    };

    Key* findMutable(const std::vector<Text>& path);
    Key* ensureKey(const std::vector<Text>& path, std::vector<Key*>& changedParents);
    void addBlock(std::unique_ptr<Block> block);
    void adopt(Block& block);
    void edit(Block& block, std::vector<Splice> splices, std::uint64_t now);
    void insertBlock(Key& key, std::string body, std::uint64_t now);
    void removeBlock(Block* block);
    void dropTrailingBlankLine();
    void reconcile(Key& key, std::uint64_t now);
    std::vector<Text> pathOf(const Key& key) const;

    std::string head_; // everything before the first block: header, #arch, comments
    std::string eol_ = "\n";
    std::vector<std::unique_ptr<Block>> blocks_; // file order
    std::unique_ptr<Key> root_;
};

} // namespace keyloft::wine
