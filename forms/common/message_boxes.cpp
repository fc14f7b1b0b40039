#include "message_boxes.h"

#include "program_info.h"

namespace keyloft {

QMessageBox::StandardButton QtMessageBoxes::show(QWidget* parent, const QString& text,
                                                 QMessageBox::Icon icon,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, programTitle(), text, buttons, parent);
    box.setDefaultButton(defaultButton);
    // Esc and the close box answer Cancel where there is one, else OK.
    box.setEscapeButton(buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                                              : QMessageBox::Ok);
    const int answer = box.exec();
    return static_cast<QMessageBox::StandardButton>(answer);
}

} // namespace keyloft
