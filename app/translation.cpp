#include "translation.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace keyloft {

using namespace Qt::StringLiterals;

bool installJapaneseQtTranslation(QApplication& app) {
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList folders = {programDir + u"/translations"_s,
#ifdef KEYLOFT_INSTALLED_TRANSLATIONS
                                 programDir + QStringLiteral("/" KEYLOFT_INSTALLED_TRANSLATIONS),
#endif
                                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    for (const QString& folder : folders) {
        auto* translator = new QTranslator(&app);
        if (translator->load(u"qtbase_ja"_s, folder) &&
            QCoreApplication::installTranslator(translator))
            return true;
        delete translator;
    }
    return false;
}

} // namespace keyloft
