#pragma once

#include <QString>

namespace keyloft {

// The program's own identity, as its version record carries it.
inline QString programTitle() {
    return QStringLiteral("Keyloft");
}
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 2;
inline constexpr int kVersionRevision = 1;

// Design units: 1440 twips to the inch, 15 twips to a pixel at 96 dpi. Qt scales further on
// high-density screens by itself.
constexpr int twips(int t) {
    return t / 15;
}

} // namespace keyloft
