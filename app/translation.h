#pragma once

class QApplication;

namespace keyloft {

// Installs Qt's own Japanese texts (standard buttons, context menus), whatever the system
// locale: first from the translations folder beside the executable, then from Qt's own
// translations folder. False when neither holds them.
bool installJapaneseQtTranslation(QApplication& app);

} // namespace keyloft
