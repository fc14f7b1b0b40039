#pragma once

#include "settings_store.h"
#include "text_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace keyloft {
// Readable failure messages for lists of settings.
inline void PrintTo(const Setting& s, std::ostream* os) {
    *os << '"' << utf16ToUtf8(s.key) << "\"=\"" << utf16ToUtf8(s.value) << '"';
}
} // namespace keyloft

namespace keyloft::testing {

inline const Text kBase = u"Software\\VB and VBA Program Settings";
using Names = std::vector<Text>;
using Settings = std::vector<Setting>;
using Bytes = std::vector<std::uint8_t>;

// Runs `call`, which must fail; returns the error as the user sees it, number and text.
inline std::string failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const StoreError& e) {
        return std::to_string(e.number()) + " " + e.what();
    }
    return "no error";
}

// The backend under the conformance cases; each platform's test executable supplies its own.
class StoreBackend {
public:
    virtual ~StoreBackend() = default;
    // A store over a settings area that does not exist yet (no base key); with `again`, another
    // store over the area of the last fresh one.
    virtual std::unique_ptr<SettingsStore> open(bool again = false) = 0;
    // Creates a key below the base key, e.g. {u"App", u"Sec"}, as another program would; with a
    // type (as in winnt.h: 4 REG_DWORD, 3 REG_BINARY, ...), also a raw value in it.
    virtual void plant(const Names& below, std::u16string_view name = {}, std::uint32_t type = 0,
                       const Bytes& data = {}) = 0;
};

StoreBackend& storeBackend();

} // namespace keyloft::testing
