#pragma once

class QApplication;

namespace keyloft {

// Installs Qt's own Japanese texts (standard buttons, context menus), whatever the system
// locale: first from the translations folder beside the executable, then (installed on Unix)
// from share/keyloft/translations beside its bin folder, then from Qt's own translations folder.
// False when none holds them.
bool installJapaneseQtTranslation(QApplication& app);

} // namespace keyloft
