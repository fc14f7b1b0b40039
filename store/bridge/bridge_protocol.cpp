#include "bridge_protocol.h"

namespace keyloft::bridge {

Writer& Writer::u8(std::uint8_t v) {
    body_.push_back(static_cast<char>(v));
    return *this;
}

Writer& Writer::u32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        body_.push_back(static_cast<char>((v >> shift) & 0xff));
    return *this;
}

Writer& Writer::text(std::u16string_view t) {
    u32(static_cast<std::uint32_t>(t.size()));
    for (const char16_t c : t) {
        body_.push_back(static_cast<char>(c & 0xff));
        body_.push_back(static_cast<char>(c >> 8));
    }
    return *this;
}

Writer& Writer::texts(const std::vector<Text>& ts) {
    u32(static_cast<std::uint32_t>(ts.size()));
    for (const Text& t : ts)
        text(t);
    return *this;
}

Writer& Writer::bytes(std::string_view b) {
    u32(static_cast<std::uint32_t>(b.size()));
    body_ += b;
    return *this;
}

std::string Writer::frame() const {
    std::string out;
    out.reserve(4 + body_.size());
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((body_.size() >> shift) & 0xff));
    return out + body_;
}

std::string_view Reader::take(std::size_t n) {
    if (n > rest_.size())
        throw ProtocolError{"message ends early"};
    const std::string_view part = rest_.substr(0, n);
    rest_.remove_prefix(n);
    return part;
}

std::uint8_t Reader::u8() {
    return static_cast<std::uint8_t>(take(1)[0]);
}

std::uint32_t Reader::u32() {
    const std::string_view b = take(4);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<std::uint8_t>(b[static_cast<std::size_t>(i)]);
    return v;
}

Text Reader::text() {
    const std::uint32_t units = u32();
    if (units > rest_.size() / 2)
        throw ProtocolError{"text longer than its message"};
    const std::string_view b = take(2 * std::size_t{units});
    Text t(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        t[i] = static_cast<char16_t>(static_cast<std::uint8_t>(b[2 * i]) |
                                     static_cast<std::uint8_t>(b[2 * i + 1]) << 8);
    return t;
}

std::vector<Text> Reader::texts() {
    const std::uint32_t count = u32();
    if (count > rest_.size() / 4)
        throw ProtocolError{"more texts than its message holds"};
    std::vector<Text> ts;
    ts.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        ts.push_back(text());
    return ts;
}

std::string Reader::bytes() {
    return std::string(take(u32()));
}

void Reader::end() const {
    if (!rest_.empty())
        throw ProtocolError{"message longer than expected"};
}

std::optional<std::uint32_t> frameLength(std::string_view received) {
    if (received.size() < 4)
        return std::nullopt;
    const std::uint32_t length = Reader(received.substr(0, 4)).u32();
    if (length > kMaxFrame)
        throw ProtocolError{"frame of " + std::to_string(length) + " bytes"};
    return length;
}

std::string errorReply(const StoreError& e) {
    return Writer()
        .u8(static_cast<std::uint8_t>(Status::Error))
        .u32(static_cast<std::uint32_t>(e.number()))
        .text(e.description())
        .frame();
}

} // namespace keyloft::bridge
