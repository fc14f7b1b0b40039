#include "resource_images.h"

#include <QPixmap>

namespace keyloft {

using namespace Qt::StringLiterals;

QIcon imageIcon(QStringView name) {
    QIcon icon;
    // Without a 24 and a 48, a 150 % screen would blur the 16 px image up by itself.
    for (int size : {16, 24, 32, 48})
        icon.addFile(u":/images/%1-%2.png"_s.arg(name).arg(size), QSize(size, size));
    return icon;
}

QCursor handCursor() {
    return QCursor(QPixmap(u":/cursors/hand.xpm"_s), 6, 1);
}

} // namespace keyloft
