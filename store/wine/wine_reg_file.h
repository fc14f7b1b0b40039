#pragma once

#include "file_bytes.h"
#include "settings_store.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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

// A key's path below HKEY_CURRENT_USER, one name per level.
using Path = std::vector<Text>;
// Splits at "\"; empty names (a doubled, leading or trailing "\") name no level.
Path splitPath(std::u16string_view path);

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
    std::uint32_t type = kRegSz;
    bool quoted = false;             // written as "..." (data in text, without the final NUL)
    Text text;                       // data of a quoted value
    std::vector<std::uint8_t> bytes; // data of a hex or dword value
    std::size_t begin = 0, end = 0;  // byte range of its lines in the block, line ends included

    // The setting this value holds: REG_SZ or REG_EXPAND_SZ data, else nothing.
    std::optional<Text> setting() const&;
    std::optional<Text> setting() &&;
};

// Where the key blocks of a file start: each line whose first non-blank character is "[". Fed
// while the file is read, it looks at each part while it is fresh in the cache.
class BlockStarts {
public:
    // Takes in the bytes up to the end of `readSoFar` (which holds all that came before too).
    void scan(std::string_view readSoFar);
    const std::vector<std::size_t>& at() const { return at_; }

private:
    std::size_t scanned_ = 0;
    std::vector<std::size_t> at_;
};

// The file keeps the bytes it was loaded from and the places where its key blocks start; a
// block's values are read only when a read or an edit asks for that key, so a listing of a large
// file costs little more than reading it.
class RegFile {
public:
    // A new file as Wine accepts it, without keys.
    RegFile();
    // Throws ParseError when the first line, or a line before the first key, is one wineserver
    // rejects; the key blocks are checked by validate(). `starts` may have seen the bytes already.
    static RegFile load(FileBytes bytes, BlockStarts starts = {});
    // Throws ParseError for the first line anywhere in the file that wineserver would reject.
    void validate() const;

    const FileBytes& loadedBytes() const { return source_; }
    // The loaded bytes' storage, for the next load to reuse; leaves the file empty.
    FileBytes takeBytes() && { return std::move(source_); }
    FileBytes text() const;
    bool edited() const { return edited_; }

    // Reads. They throw ParseError when a block of the key they read is malformed.
    // Subkey names (first spelling) in Wine's order; none when the key does not exist.
    std::vector<Text> subkeyNames(const Path& key) const;
    // Every key below the key at every depth, as paths relative to it (the keys a deeper block
    // implies included), a key before the keys below it, in Wine's order.
    std::vector<Path> keysBelow(const Path& key) const;
    // The key's values after Wine's merge of duplicates (the first spelling, the last data), in
    // Wine's order.
    std::vector<Value> values(const Path& key) const;
    std::optional<Value> findValue(const Path& key, std::u16string_view name) const;

    // Edits; `now` is the FILETIME stamped on every block they change.
    void setValue(const Path& key, std::u16string_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data, std::uint64_t now);
    // REG_SZ values from their texts, as setValue of each in turn (with the text's UTF-16LE and a
    // final NUL), with one look through the file for the key and one rewrite of each of its
    // blocks: linear in the values, not quadratic.
    struct NamedText {
        std::u16string_view name, text;
    };
    void setStrings(const Path& key, std::span<const NamedText> values, std::uint64_t now);
    void createKey(const Path& key, std::uint64_t now);
    // Deletes the values one name after the other and stops at the first name the key does not
    // hold (any more); returns how many names were deleted.
    std::size_t deleteValues(const Path& key, std::span<const Text> names, std::uint64_t now);
    bool deleteKey(const Path& key, std::uint64_t now);

private:
    // Bytes of the loaded file, until an edit gives the block text of its own.
    struct Block {
        std::size_t begin = 0, end = 0;
        std::unique_ptr<std::string> own;
    };
    struct Layout;
    struct Survey;
    // Bytes [begin, end) of a block replaced by `with`, which the caller keeps.
    struct Splice {
        std::size_t begin, end;
        std::string_view with;
    };

    std::string_view textOf(const Block& b) const;
    std::string& ownText(Block& b);
    Survey survey(const Path& key) const;
    // A value of a batch by its name and place in the batch; its line is written under the name
    // the key keeps.
    struct Named {
        std::u16string_view name;
        std::size_t index;
    };
    using LineOf = std::function<void(std::string& out, std::u16string_view name, std::size_t index,
                                      std::string_view eol)>;
    void setBatch(const Path& key, std::vector<Named> batch, const LineOf& line, std::uint64_t now);
    void setIn(const std::vector<std::size_t>& same, std::span<const Named> sorted,
               const LineOf& line, std::uint64_t now);
    std::vector<Layout> layouts(const std::vector<std::size_t>& blocks) const;
    static bool needsBlock(const Survey& s, const std::vector<Layout>& layouts);
    void edit(Block& b, const Layout& layout, std::vector<Splice> splices, std::uint64_t now);
    void insertBlock(const Path& key, std::string body, std::size_t at, std::uint64_t now);
    void removeBlocks(const std::vector<std::size_t>& ascending);
    void dropTrailingBlankLine();
    void reconcile(const Path& key, std::uint64_t now);

    // Every edit: the file differs from the one loaded, and what a read took from it is stale.
    void changed() {
        edited_ = true;
        lookup_.reset();
    }

    FileBytes source_;
    std::string eol_ = "\n";
    Block head_;                // everything before the first block: header, #arch, comments
    std::vector<Block> blocks_; // file order
    bool edited_ = false;
    // The values of the key findValue read last: asked name after name (an import's look at each
    // new name), a key's values are read once.
    struct Lookup {
        Path key;
        std::vector<Value> values;
    };
    mutable std::optional<Lookup> lookup_;
};

} // namespace keyloft::wine
