// The smallest program that stops under Wine as Keyloft's edit dialog did: a list whose double
// click opens a modal dialog of four line edits from the mouse handler (exec() in a nested loop),
// whose OK asks a question in a message box. No Keyloft code. Driven by keyloft_drive with a
// session that repeats the round (nested_dialog.sh).
// Window titles: Repro (the list), Edit (the dialog), Question (the box).
// With --trace, every message of the GUI thread and of Qt's dispatcher window, and each time the
// dispatcher blocks and wakes, goes to standard error with the time in ms.
#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

using namespace Qt::StringLiterals;

QElapsedTimer clock_;

class Trace final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        const MSG* msg = static_cast<const MSG*>(message);
        RECT frame = {};
        GetWindowRect(msg->hwnd, &frame);
        std::fprintf(stderr, "%lld %s hwnd %p msg %04x wp %llx lp %llx frame %ld,%ld-%ld,%ld\n",
                     clock_.elapsed(), type.constData(), static_cast<void*>(msg->hwnd),
                     msg->message, static_cast<unsigned long long>(msg->wParam),
                     static_cast<unsigned long long>(msg->lParam), frame.left, frame.top,
                     frame.right, frame.bottom);
        return false;
    }
};

class Edit final : public QDialog {
public:
    explicit Edit(QWidget* parent) : QDialog(parent) {
        setWindowTitle(u"Edit"_s);
        setFixedSize(300, 210);
        const QString texts[] = {u"Sample App"_s, u"Window"_s, u"Top"_s, u"100"_s};
        for (int i = 0; i < 4; ++i) {
            auto* box = new QLineEdit(texts[i], this);
            box->setGeometry(10, 10 + 40 * i, 200, 24);
        }
        ok_ = new QPushButton(u"OK"_s, this);
        ok_->setGeometry(220, 10, 70, 24);
        ok_->setEnabled(false);
        auto* cancel = new QPushButton(u"Cancel"_s, this);
        cancel->setGeometry(220, 44, 70, 24);
        for (QLineEdit* box : findChildren<QLineEdit*>())
            connect(box, &QLineEdit::textChanged, ok_, [this] { ok_->setEnabled(true); });
        connect(ok_, &QPushButton::clicked, this,
                [this] { QMessageBox::question(this, u"Question"_s, u"Save?"_s); });
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }

private:
    QPushButton* ok_;
};

class List final : public QTreeWidget {
protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QTreeWidget::mouseDoubleClickEvent(event);
        Edit dialog(this);
        dialog.exec();
    }
};

} // namespace

int main(int argc, char** argv) {
    using namespace Qt::StringLiterals;
    clock_.start();
    QApplication app(argc, argv);
    Trace trace;
    if (argc > 1 && std::strcmp(argv[1], "--trace") == 0) {
        app.installNativeEventFilter(&trace);
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                         [] { std::fprintf(stderr, "%lld block\n", clock_.elapsed()); });
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake,
                         [] { std::fprintf(stderr, "%lld awake\n", clock_.elapsed()); });
    }
    List list;
    list.setWindowTitle(u"Repro"_s);
    list.setHeaderHidden(true);
    list.addTopLevelItem(new QTreeWidgetItem(QStringList{u"Top"_s}));
    list.setGeometry(100, 100, 400, 300);
    list.show();
    return QApplication::exec();
}
