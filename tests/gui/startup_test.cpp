#include "fake_identity.h"
#include "finder.h"
#include "finder_driver.h"
#include "recording_browser.h"
#include "reg_set_module.h"
#include "scripted_message_boxes.h"
#include "tree_view.h"

#include <QApplication>
#include <QTest>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace keyloft;
using namespace Qt::StringLiterals;
using keyloft::testing::FakeIdentity;

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void init() { boxes_.clear(); } // here, so that a failed cleanup does not carry over

    void cleanup() {
        QVERIFY(boxes_.allAnswered());
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QVERIFY(!QGuiApplication::overrideCursor());
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

        QVERIFY(!Main(FakeIdentity(computer, user), boxes_, browser_, *store_));

        QCOMPARE(boxes_.shown().size(), 1);
        const auto& box = boxes_.shown().first();
        QCOMPARE(box.text, u"ＰＣ情報の取得に失敗しました。処理を中断します。"_s);
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void identityLabelsTheShownWindow() {
        const auto finder = Main(FakeIdentity(u"端末(1)"_s, u"太郎"_s), boxes_, browser_, *store_);
        QVERIFY(finder && finder->isVisible());
        QCOMPARE(finder->findChild<TreeView*>()->Nodes().Item(1)->Text(), u"端末(1)(太郎)"_s);
        QCOMPARE(QList({gComputerName, gUserName}), QList({u"端末(1)"_s, u"太郎"_s}));
        QVERIFY(boxes_.shown().isEmpty());
    }

#ifdef _WIN32
    // The program's own identity source labels the root with what Windows reports, as it
    // reports it: under Wine, the computer name in capitals.
    void systemIdentityLabelsTheRoot() {
        wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {}, user[257] = {};
        DWORD computerSize = MAX_COMPUTERNAME_LENGTH + 1, userSize = 257;
        QVERIFY(GetComputerNameW(computer, &computerSize) && GetUserNameW(user, &userSize));
        const auto finder = Main(SystemIdentity(), boxes_, browser_, *store_);
        QVERIFY(finder);
        QCOMPARE(finder->findChild<TreeView*>()->Nodes().Item(1)->Text(),
                 QString::fromWCharArray(computer) + u'(' + QString::fromWCharArray(user) + u')');
    }
#endif

private:
    testing::TempStore store_;
    testing::ScriptedMessageBoxes boxes_;
    testing::RecordingBrowser browser_;
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
