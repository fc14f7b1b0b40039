#include "translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace keyloft {

using namespace Qt::StringLiterals;

std::unique_ptr<QTranslator> loadJapaneseQtTranslation() {
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList folders = {programDir + u"/translations"_s,
#ifdef KEYLOFT_INSTALLED_TRANSLATIONS
                                 programDir + QStringLiteral("/" KEYLOFT_INSTALLED_TRANSLATIONS),
#endif
                                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    auto translator = std::make_unique<QTranslator>();
    for (const QString& folder : folders) {
        if (translator->load(u"qtbase_ja"_s, folder))
            return translator;
    }
    return nullptr;
}

} // namespace keyloft
