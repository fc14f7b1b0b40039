#pragma once

#include <QCursor>
#include <QIcon>
#include <QStringView>

namespace keyloft {

// One of the program's images by name ("computer", "folder_closed", "folder_open", "page",
// "edit_setting"), with every size the program carries of it.
QIcon imageIcon(QStringView name);

// The pointing hand over the About box's link: 32 x 32, hot spot at the fingertip (6, 1).
QCursor handCursor();

} // namespace keyloft
