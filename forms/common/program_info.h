#pragma once

#include "program_identity.h"

#include <QString>

namespace keyloft {

// The program's own identity, as its version record carries it (see program_identity.h).
inline QString programTitle() {
    return QStringLiteral("Keyloft");
}
inline QString fromIdentity(std::u16string_view text) {
    return QString::fromStdU16String(std::u16string(text));
}

// Design units: 1440 twips to the inch, 15 twips to a pixel at 96 dpi. Qt scales further on
// high-density screens by itself.
constexpr int twips(int t) {
    return t / 15;
}

} // namespace keyloft
