#pragma once

#include <memory>

class QTranslator;

namespace keyloft {

// Qt's own Japanese texts (standard buttons, context menus, the command line's help), whatever
// the system locale: first from the translations folder beside the executable, then (installed on
// Unix) from share/keyloft/translations beside its bin folder, then from Qt's own translations
// folder. None when no folder holds them. Loaded once while an application object exists, and
// installed into each application object in turn.
std::unique_ptr<QTranslator> loadJapaneseQtTranslation();

} // namespace keyloft
