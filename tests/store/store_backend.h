#pragma once

#include "settings_store.h"
#include "text_codec.h"

#include <cstdint>
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

// One backend under the conformance cases. Each platform's test executable supplies its list
// through storeBackends().
class StoreBackend {
public:
    virtual ~StoreBackend() = default;
    virtual std::string name() const = 0;
    // A store over a settings area that does not exist yet (no base key).
    virtual std::unique_ptr<SettingsStore> freshStore() = 0;
    // Puts a raw registry value (type as in winnt.h: 4 REG_DWORD, 3 REG_BINARY, ...) where the
    // store itself never writes one, as another program would.
    virtual void plantValue(std::u16string_view application, std::u16string_view section,
                            std::u16string_view name, std::uint32_t type,
                            const std::vector<std::uint8_t>& data) = 0;
    // Creates an empty key at a path below the base key, e.g. {u"App"} or {u"App", u"Sec"}.
    virtual void plantKey(const std::vector<Text>& pathBelowBase) = 0;
};

std::vector<std::shared_ptr<StoreBackend>> storeBackends();

} // namespace keyloft::testing
