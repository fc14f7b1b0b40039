#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace keyloft {

// Every message box of the program goes through here, so that tests can script the answers and
// check the exact texts. No box passes a title of its own: each shows the program title.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual QMessageBox::StandardButton show(QWidget* parent, const QString& text,
                                             QMessageBox::Icon icon,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton) = 0;
};

// Modal QMessageBox boxes titled with the program title.
class QtMessageBoxes final : public MessageBoxes {
public:
    QMessageBox::StandardButton show(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton) override;
};

} // namespace keyloft
