#include "resource_images.h"

#include <QPixmap>

namespace keyloft {

QIcon imageIcon(QStringView name) {
    return QIcon(QStringLiteral(":/images/%1.svg").arg(name));
}

QCursor handCursor() {
    return QCursor(QPixmap(QStringLiteral(":/cursors/hand.xpm")), 6, 1);
}

} // namespace keyloft
