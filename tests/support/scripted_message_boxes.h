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
        friend bool operator==(const Box&, const Box&) = default;
    };
    // The two kinds of box the program shows: a question, and a refusal or failure.
    static Box question(const QString& text, QMessageBox::StandardButton defaultButton) {
        return {text, QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel, defaultButton};
    }
    static Box exclamation(const QString& text) {
        return {text, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok};
    }

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

inline char* toString(const ScriptedMessageBoxes::Box& box) {
    return QTest::toString(box.text + QStringLiteral(" (icon %1, buttons %2, default %3)")
                                          .arg(box.icon)
                                          .arg(box.buttons.toInt())
                                          .arg(box.defaultButton));
}

} // namespace keyloft::testing
