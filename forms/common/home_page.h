#pragma once

#include <QString>

namespace keyloft {

// The address the About box opens: the web address a build was configured with, or else the
// README installed with the program, found from the folder the program runs from, so that it is
// found wherever the program was unpacked, installed or moved to.
QString homePage(const QString& programFolder);

// The file: address, percent-encoded, of `relative` (with / between folders) from `folder`.
QString fileAddress(const QString& folder, const QString& relative);

} // namespace keyloft
