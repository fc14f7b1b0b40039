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

// REG_SZ data: UTF-16LE with its terminating NUL.
inline std::vector<std::uint8_t> utf16Data(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    for (const char16_t c : Text(text) + u'\0') {
        data.push_back(static_cast<std::uint8_t>(c & 0xff));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return data;
}

// Runs `call`, which must fail; returns the error.
inline StoreError failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const StoreError& e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return {0, {}};
}

// One backend under the conformance cases; each platform's test executable supplies its list
// through storeBackends().
class StoreBackend {
public:
    virtual ~StoreBackend() = default;
    virtual std::string name() const = 0;
    // A store over a settings area that does not exist yet (no base key).
    virtual std::unique_ptr<SettingsStore> freshStore() = 0;
    // Another store over the area of the last fresh one.
    virtual std::unique_ptr<SettingsStore> sameStore() = 0;
    // Puts a raw value (type as in winnt.h: 4 REG_DWORD, 3 REG_BINARY, ...) where the store
    // itself never writes one, as another program would.
    virtual void plantValue(std::u16string_view application, std::u16string_view section,
                            std::u16string_view name, std::uint32_t type,
                            const std::vector<std::uint8_t>& data) = 0;
    // Creates an empty key below the base key, e.g. {u"App"} or {u"App", u"Sec"}.
    virtual void plantKey(const std::vector<Text>& pathBelowBase) = 0;
};

std::vector<std::shared_ptr<StoreBackend>> storeBackends();

} // namespace keyloft::testing
