#pragma once

#include "settings_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What Keyloft and its bridge (a Windows program run under the prefix's Wine, which reaches a
// running wineserver through the registry API) say to each other over the bridge's stdin and
// stdout. Every message is a frame: a 32-bit length, then that many bytes. Numbers are
// little-endian; a text is its length in UTF-16 units and then the units, so names and values
// pass exactly, NULs and lone surrogates included.
namespace keyloft::bridge {

// Changes whenever a message changes shape: the two sides must come from the same build.
inline constexpr std::uint32_t kVersion = 2;
// Far above any registry branch the bridge sends back, yet no length a stray byte could make.
inline constexpr std::uint32_t kMaxFrame = 256u << 20;

// A request is its operation and then its arguments.
enum class Op : std::uint8_t {
    Hello = 1,         // -> version, pointer size
    EnumSubKeys,       // path -> names
    SaveKey,           // path -> found, the key's branch in the text format of user.reg
    GetSetting,        // application, section, key -> value
    GetValueType,      // application, section, key -> found, type
    SaveSetting,       // application, section, key, value -> nothing
    DeleteApplication, // application -> nothing
    DeleteSection,     // application, section -> nothing
    DeleteSettings,    // application, section, keys -> nothing
    EnumSections,      // application -> section paths at every depth
};

// A reply starts with one of these; an error carries the store's number and description.
enum class Status : std::uint8_t { Ok = 0, Error = 1 };

// A frame that does not read as one of these messages.
struct ProtocolError {
    std::string reason;
};

class Writer {
public:
    Writer& u8(std::uint8_t v);
    Writer& u32(std::uint32_t v);
    Writer& text(std::u16string_view t);
    Writer& texts(const std::vector<Text>& ts);
    Writer& bytes(std::string_view b);
    // The message as a frame, length first.
    std::string frame() const;

private:
    std::string body_;
};

class Reader {
public:
    explicit Reader(std::string_view body) : rest_(body) {}
    std::uint8_t u8();
    std::uint32_t u32();
    Text text();
    std::vector<Text> texts();
    std::string bytes();
    // Throws ProtocolError unless every byte was read.
    void end() const;

private:
    std::string_view take(std::size_t n);
    std::string_view rest_;
};

// The length at the start of a frame, once four bytes are there; throws ProtocolError for a
// length past kMaxFrame.
std::optional<std::uint32_t> frameLength(std::string_view received);

// Frames the reply to a request that failed.
std::string errorReply(const StoreError& e);

} // namespace keyloft::bridge
