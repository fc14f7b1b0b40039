#include "scripted_message_boxes.h"

#include <QTest>

namespace keyloft::testing {

QMessageBox::StandardButton ScriptedMessageBoxes::show(QWidget*, const QString& text,
                                                       QMessageBox::Icon icon,
                                                       QMessageBox::StandardButtons buttons,
                                                       QMessageBox::StandardButton defaultButton) {
    shown_.append({text, icon, buttons, defaultButton});
    if (answers_.isEmpty()) {
        const QByteArray message = "unscripted message box: " + text.toUtf8();
        QTest::qFail(message.constData(), __FILE__, __LINE__);
        return buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok;
    }
    return answers_.dequeue();
}

} // namespace keyloft::testing
