#pragma once

#include "settings_store.h"

#include <QString>
#include <QStringView>

#include <string_view>

namespace keyloft {

// The store speaks UTF-16 as the registry does; both sides keep every code unit as it is.
inline QString fromStore(std::u16string_view text) {
    return QStringView(text.data(), static_cast<qsizetype>(text.size())).toString();
}

inline std::u16string_view toStore(const QString& text) {
    return {QStringView(text).utf16(), static_cast<std::size_t>(text.size())};
}

} // namespace keyloft
