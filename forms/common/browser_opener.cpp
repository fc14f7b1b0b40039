#include "browser_opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace keyloft {

bool DesktopBrowserOpener::open(const QString& address) {
    // A web address, or a local file such as the installed README.
    return QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

} // namespace keyloft
