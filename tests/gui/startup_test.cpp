#include "fake_identity.h"
#include "finder.h"
#include "reg_set_module.h"
#include "scripted_message_boxes.h"
#include "settings_store.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;
using keyloft::testing::FakeIdentity;
using keyloft::testing::ScriptedMessageBoxes;

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(prefix_.isValid());
        store_ = openWinePrefixStore(prefix_.filePath(QStringLiteral("pfx")).toStdString());
    }

    void cleanup() {
        QVERIFY(boxes_.allAnswered());
        boxes_.clear();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void failingIdentityEndsWithTheMessage_data() {
        QTest::addColumn<std::optional<QString>>("computer");
        QTest::addColumn<std::optional<QString>>("user");
        QTest::newRow("no computer name") << std::optional<QString>() << std::optional(u"taro"_s);
        QTest::newRow("no user name") << std::optional(u"PC01"_s) << std::optional<QString>();
    }

    void failingIdentityEndsWithTheMessage() {
        QFETCH(std::optional<QString>, computer);
        QFETCH(std::optional<QString>, user);
        boxes_.script(QMessageBox::Ok);

        const auto finder = Main(FakeIdentity(computer, user), boxes_, *store_);

        QVERIFY(!finder);
        QCOMPARE(boxes_.shown().size(), 1);
        const auto& box = boxes_.shown().first();
        QCOMPARE(box.text, u"ＰＣ情報の取得に失敗しました。処理を中断します。"_s);
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void identityLabelsTheShownWindow_data() {
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QString>("user");
        QTest::newRow("plain") << u"PC01"_s << u"taro"_s;
        QTest::newRow("empty user") << u"PC01"_s << QString();
        QTest::newRow("parentheses and Japanese") << u"端末(1)"_s << u"太郎"_s;
    }

    void identityLabelsTheShownWindow() {
        QFETCH(QString, computer);
        QFETCH(QString, user);

        auto finder = Main(FakeIdentity(computer, user), boxes_, *store_);

        QVERIFY(finder);
        QVERIFY(finder->isVisible());
        QCOMPARE(finder->windowTitle(), u"Keyloft"_s);
        QCOMPARE(gComputerName, computer);
        QCOMPARE(gUserName, user);
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(boxes_.shown().isEmpty());
        finder.reset();
    }

private:
    QTemporaryDir prefix_;
    std::unique_ptr<SettingsStore> store_;
    ScriptedMessageBoxes boxes_;
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
