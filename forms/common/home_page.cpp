#include "home_page.h"

#include "program_info.h"

#include <QDir>
#include <QUrl>

namespace keyloft {

QString homePage(const QString& programFolder) {
    const QString configured = fromIdentity(identity::kHomePage);
    if (!configured.isEmpty())
        return configured;
    return fileAddress(programFolder, fromIdentity(identity::kReadmeFromProgram));
}

QString fileAddress(const QString& folder, const QString& relative) {
    return QUrl::fromLocalFile(QDir::cleanPath(folder + u'/' + relative))
        .toString(QUrl::FullyEncoded);
}

} // namespace keyloft
