#pragma once

#include "message_boxes.h"

#include <QList>
#include <QMessageBox>
#include <QQueue>
#include <QString>
#include <QTest>

namespace keyloft::testing {

// Records every box and answers from a script; a box nobody scripted fails the running test
// at once and is answered as if cancelled, so a test can never hang on a dialog.
class ScriptedMessageBoxes final : public MessageBoxes {
public:
    struct Box {
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    void script(QMessageBox::StandardButton answer) { answers_.enqueue(answer); }
    const QList<Box>& shown() const { return shown_; }
    bool allAnswered() const { return answers_.isEmpty(); }
    void clear() {
        shown_.clear();
        answers_.clear();
    }

    QMessageBox::StandardButton show(QWidget*, const QString& text, QMessageBox::Icon icon,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton) override {
        shown_.append({text, icon, buttons, defaultButton});
        if (!answers_.isEmpty())
            return answers_.dequeue();
        QTest::qFail(qPrintable(QStringLiteral("unscripted message box: ") + text), __FILE__,
                     __LINE__);
        return buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok;
    }

private:
    QList<Box> shown_;
    QQueue<QMessageBox::StandardButton> answers_;
};

} // namespace keyloft::testing
