// Against real Wine, in the throwaway prefix of this test run: what the windows write and delete,
// Wine reads back.
#include "finder_driver.h"
#include "scripted_message_boxes.h"
#include "settings_store.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;
using testing::FinderDriver;

namespace {

// Until the wineserver has saved the registry and exited, the store refuses to write.
bool settle() {
    return QProcess::execute(u"wineserver"_s, {u"-w"_s}) == 0;
}

// What `wine reg query` prints of a key below the settings area; empty when Wine finds none.
QString query(const QString& key) {
    QProcess wine;
    // The loader the build found starting here; `wine` itself may not (cmake/KeyloftWine.cmake).
    wine.start(QStringLiteral(KEYLOFT_WINE_LOADER),
               {u"reg"_s, u"query"_s, u"HKCU\\Software\\VB and VBA Program Settings\\"_s + key});
    wine.waitForFinished(60000);
    const QString out = QString::fromLocal8Bit(wine.readAllStandardOutput());
    settle();
    return wine.exitCode() == 0 ? out.simplified() : QString();
}

} // namespace

class WindowWineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(qEnvironmentVariableIsSet("WINEPREFIX"));
        QVERIFY(settle());
        store_ = openWinePrefixStore(qEnvironmentVariable("WINEPREFIX").toStdString());
    }

    void cleanup() {
        QVERIFY(modals_.finish());
        QVERIFY(boxes_.allAnswered());
    }

    void wineReadsWhatTheWindowsLeft() {
        FinderDriver window(*store_, boxes_);
        boxes_.script(QMessageBox::Ok);
        boxes_.script(QMessageBox::Ok);
        modals_.then([](QDialog& dialog) {
            testing::typeInto(dialog, {u"Keyloft Test"_s, u"Window"_s, u" Left "_s, u"42"_s}, true);
            testing::typeInto(dialog, {u"Keyloft Test"_s, u"Window"_s, u"Top"_s, u"7"_s}, true);
        });
        window.action(u"MenuNew"_s)->trigger();
        QVERIFY(query(u"Keyloft Test\\Window"_s).endsWith(u"Left REG_SZ 42 Top REG_SZ 7"_s));

        window.action(u"MenuReload"_s)->trigger();
        window.click(u"Keyloft Test\\Window"_s);
        window.selectRows({1});
        boxes_.script(QMessageBox::Ok);
        window.action(u"MenuDel"_s)->trigger();
        QVERIFY(query(u"Keyloft Test\\Window"_s).endsWith(u"Window Top REG_SZ 7"_s));
    }

private:
    std::unique_ptr<SettingsStore> store_;
    testing::ScriptedMessageBoxes boxes_;
    testing::ModalScript modals_;
};

QTEST_MAIN(WindowWineTest)
#include "window_wine_test.moc"
