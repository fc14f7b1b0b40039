// The Delete command on a Wine prefix store in a temporary folder, a second store playing the
// other program that changes the settings meanwhile.
#include "finder_driver.h"
#include "message_boxes.h"
#include "scripted_message_boxes.h"
#include "settings_store.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;
using Boxes = testing::ScriptedMessageBoxes;

namespace {

const QString kWarning =
    u"よろしいですか？\r\n\r\n誤った削除を行なった場合にはアプリケーションが動作しなくなる可能性があります。"_s;

} // namespace

class DeleteTest : public testing::WindowTest {
    Q_OBJECT

    void seed() override {
        for (const auto* key : {u"k1", u"k2", u"k3", u"k4"})
            store().SaveSetting(u"A", u"S", key, u"v");
        store().SaveSetting(u"A", u"T", u"k", u"v");
        store().SaveSetting(u"B", u"S", u"k", u"v");
    }

private slots:
    // Every question names what goes and defaults to Cancel, and Cancel leaves all as it was.
    // After OK, the node the tree selects in place of one that went is the current one: the next
    // Delete names it.
    void cancelThenDelete_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QStringList>("rowsAfter");
        QTest::addColumn<QString>("statusAfter");
        QTest::addColumn<QString>("nextQuestion");
        QTest::newRow("keys") << u"A\\S"_s << QList<int>{1, 2, 4}
                              << u"選択された3個のキー情報を削除します。"_s + kWarning
                              << QStringList{u"k3=v"_s} << u"PC01(taro)\\A\\S"_s
                              << u"アプリケーション「A」の\r\nセクション「S」"_s;
        QTest::newRow("section: its sibling follows")
            << u"A\\S"_s << QList<int>{}
            << u"アプリケーション「A」の\r\nセクション「S」の設定情報を全て削除します。"_s +
                   kWarning
            << QStringList{u"k=v"_s} << u"PC01(taro)\\A\\T"_s
            << u"アプリケーション「A」の\r\nセクション「T」"_s;
        QTest::newRow("application: the next one follows")
            << u"A"_s << QList<int>{}
            << u"アプリケーション「A」の設定情報を全て削除します。"_s + kWarning << QStringList{}
            << u"PC01(taro)\\B"_s << u"アプリケーション「B」の設定"_s;
    }

    void cancelThenDelete() {
        QFETCH(QString, node);
        QFETCH(QList<int>, rows);
        QFETCH(QString, question);
        QFETCH(QStringList, rowsAfter);
        QFETCH(QString, statusAfter);
        QFETCH(QString, nextQuestion);
        window_->click(node);
        window_->selectRows(rows);
        const QByteArray before = store_->contents();
        const int nodes = window_->tree()->Nodes().Count();
        boxes_.script(QMessageBox::Cancel);
        QTest::keyClick(window_->list(), Qt::Key_Delete);
        QCOMPARE(boxes_.shown(), QList({Boxes::question(question, QMessageBox::Cancel)}));
        QCOMPARE(store_->contents(), before);
        QCOMPARE(window_->tree()->Nodes().Count(), nodes);
        QCOMPARE(window_->list()->selectedItems().size(), rows.size());
        QVERIFY(window_->list()->MultiSelect());

        boxes_.script(QMessageBox::Ok);
        window_->action(u"MenuDel"_s)->trigger();
        QCOMPARE(window_->rows(), rowsAfter);
        QCOMPARE(window_->statusText(), statusAfter);
        QCOMPARE(window_->tree()->SelectedItem()->FullPath(), statusAfter);
        const std::vector<Text> left =
            node == u"A"_s ? std::vector<Text>{u"B"} : std::vector<Text>{u"A", u"B"};
        QCOMPARE(store().EnumRegSubKeys(kSettingsBasePath), left);
        QCOMPARE(store().GetAllSettings(u"A", u"S").size(), rows.isEmpty() ? 0u : 1u);
        boxes_.script(QMessageBox::Cancel);
        QTest::keyClick(window_->tree(), Qt::Key_Delete);
        QVERIFY(boxes_.shown().last().text.startsWith(nextQuestion));
    }

    // A section goes with the sections below it, and the question names each one the store holds,
    // one another program made since the tree was read too; its neighbour of a longer name stays.
    void nestedSectionsGoWithTheOneTheyAreBelow() {
        store().SaveSetting(u"C", u"n", u"k", u"v");
        store().SaveSetting(u"C", u"n\\1", u"k", u"v");
        store().SaveSetting(u"C", u"n\\2\\x", u"k", u"v");
        store().SaveSetting(u"C", u"n2", u"k", u"v");
        window_->action(u"MenuReload"_s)->trigger();
        window_->click(u"C"_s);
        QCOMPARE(window_->childTexts(u"C"_s),
                 QStringList({u"n"_s, u"n\\1"_s, u"n\\2"_s, u"n\\2\\x"_s, u"n2"_s}));
        window_->click(u"C\\n"_s);
        store_->another()->SaveSetting(u"C", u"N\\late", u"k", u"v");
        boxes_.script(QMessageBox::Ok);
        window_->action(u"MenuDel"_s)->trigger();
        QCOMPARE(boxes_.shown(),
                 QList({Boxes::question(
                     u"アプリケーション「C」の\r\nセクション「n」の設定情報を全て削除します。\r\n"
                     u"その下のセクション「n\\1」「n\\2」「n\\2\\x」「n\\late」も削除します。"_s +
                         kWarning,
                     QMessageBox::Cancel)}));
        QCOMPARE(store().GetSections(u"C"), std::vector<Text>{u"n2"});
        QCOMPARE(window_->childTexts(u"C"_s), QStringList{u"n2"_s});
        QCOMPARE(window_->statusText(), u"PC01(taro)\\C\\n2"_s);
    }

    // What another program removed meanwhile: the failure is shown, then the tree and the list
    // show what is stored. Of three keys the first stays deleted and the third is not tried.
    void removedMeanwhile_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("statusAfter");
        QTest::addColumn<QStringList>("rowsAfter");
        QTest::addColumn<QString>("treeAfter");
        QTest::newRow("key") << u"A\\S"_s << QList<int>{1, 2, 3} << u"A\\S\\k2"_s << u"キー「k2」"_s
                             << u"PC01(taro)\\A\\S"_s << QStringList{u"k3=v"_s, u"k4=v"_s}
                             << u"A A\\S A\\T B"_s;
        QTest::newRow("section") << u"A\\S"_s << QList<int>{} << u"A\\S"_s << u"セクション「S」"_s
                                 << u"PC01(taro)\\A"_s << QStringList{} << u"A A\\T B"_s;
        QTest::newRow("application")
            << u"A"_s << QList<int>{} << u"A"_s << u"アプリケーション「A」"_s << u"PC01(taro)\\B"_s
            << QStringList{} << u"B B\\S"_s;
        QTest::newRow("a section's application")
            << u"A\\T"_s << QList<int>{} << u"A"_s << u"セクション「T」"_s << u"PC01(taro)\\B"_s
            << QStringList{} << u"B B\\S"_s;
    }

    void removedMeanwhile() {
        QFETCH(QString, node);
        QFETCH(QList<int>, rows);
        QFETCH(QString, removed);
        QFETCH(QString, failure);
        QFETCH(QString, statusAfter);
        QFETCH(QStringList, rowsAfter);
        QFETCH(QString, treeAfter);
        window_->click(node);
        window_->selectRows(rows);
        const QStringList names = removed.split(u'\\');
        const auto other = store_->another();
        if (names.size() == 1)
            other->DeleteSetting(names[0].toStdU16String());
        else if (names.size() == 2)
            other->DeleteSetting(names[0].toStdU16String(), names[1].toStdU16String());
        else
            other->DeleteSetting(names[0].toStdU16String(), names[1].toStdU16String(),
                                 names[2].toStdU16String());
        boxes_.script(QMessageBox::Ok);
        boxes_.script(QMessageBox::Ok);
        window_->action(u"MenuDel"_s)->trigger();
        QCOMPARE(boxes_.shown().last(),
                 Boxes::exclamation(
                     u"削除しようとした"_s + failure +
                     u"が見つかりません。ほかのプログラムが削除した可能性があります。"_s));
        QCOMPARE(window_->statusText(), statusAfter);
        QCOMPARE(window_->tree()->SelectedItem()->FullPath(), statusAfter);
        QCOMPARE(window_->rows(), rowsAfter);
        QStringList tree;
        for (int i = 2; i <= window_->tree()->Nodes().Count(); ++i)
            tree.append(window_->tree()->Nodes().Item(i)->FullPath().section(u'\\', 1));
        tree.sort();
        QCOMPARE(tree.join(u' '), treeAfter);
    }

    void rootIsRefused() {
        window_->click(u""_s);
        boxes_.script(QMessageBox::Ok);
        QMetaObject::invokeMethod(&window_->window(), "MenuDel_Click");
        QCOMPARE(
            boxes_.shown(),
            QList({Boxes::exclamation(u"削除できないノードを選択しています\r\n\r\nPC01(taro)"_s)}));
        QCOMPARE(store().EnumRegSubKeys(kSettingsBasePath), std::vector<Text>({u"A", u"B"}));
    }

    // The real message box: Esc and the close box answer Cancel, Enter the default button.
    void realBoxAnswersCancel() {
        QtMessageBoxes real;
        for (const QString& how : {u"esc"_s, u"close"_s, u"enter"_s}) {
            modals_.then([&](QDialog& box) {
                QCOMPARE(box.windowTitle(), u"Keyloft"_s);
                how == u"close"_s
                    ? void(box.close())
                    : QTest::keyClick(&box, how == u"esc"_s ? Qt::Key_Escape : Qt::Key_Return);
            });
            QCOMPARE(real.show(&window_->window(), u"?"_s, QMessageBox::Question,
                               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel),
                     QMessageBox::Cancel);
        }
    }
};

QTEST_MAIN(DeleteTest)
#include "delete_test.moc"
