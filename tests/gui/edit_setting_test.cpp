#include "finder_driver.h"
#include "list_view.h"
#include "scripted_message_boxes.h"
#include "settings_store.h"
#include "tree_view.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;
using testing::FinderDriver;
using testing::ModalScript;
using testing::typeInto;
using Box = testing::ScriptedMessageBoxes::Box;

namespace {

QStringList strings(std::initializer_list<QStringView> texts) {
    QStringList list;
    for (const QStringView text : texts)
        list.append(text.toString());
    return list;
}

const QStringList kBoxes = {u"txt_App"_s, u"txt_Section"_s, u"txt_Key"_s, u"txt_Value"_s};
const QColor kWhite(0xFF, 0xFF, 0xFF);

QLineEdit* box(const QDialog& dialog, const QString& name) {
    return dialog.findChild<QLineEdit*>(name);
}
QPushButton* ok(const QDialog& dialog) {
    return dialog.findChild<QPushButton*>(u"cmd_Action_0"_s);
}
QStringList texts(const QDialog& dialog) {
    QStringList texts;
    for (const QString& name : kBoxes)
        texts.append(box(dialog, name)->text());
    return texts;
}
// E editable (white), L locked (button face), U untouched (as designed: the window colour).
QString states(const QDialog& dialog) {
    QString states;
    for (const QString& name : kBoxes) {
        const QLineEdit* b = box(dialog, name);
        const QColor base = b->palette().color(QPalette::Base);
        states += b->isReadOnly() && base == QApplication::palette().color(QPalette::Button) ? u'L'
                  : !b->isReadOnly() && base == kWhite                                       ? u'E'
                  : !b->isReadOnly() && base == QApplication::palette().color(QPalette::Base)
                      ? u'U'
                      : u'?';
    }
    return states;
}
Box question(const QString& text) {
    return testing::ScriptedMessageBoxes::question(text, QMessageBox::Ok);
}
constexpr auto exclamation = testing::ScriptedMessageBoxes::exclamation;
const QString kConfirm = u"入力した情報で登録します。よろしいですか？"_s;

} // namespace

class EditSettingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A window colour other than white, so that an editable box's white must be chosen.
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Base, Qt::yellow);
        QApplication::setPalette(palette);
    }

    void init() {
        boxes_.clear();
        prefix_ = std::make_unique<QTemporaryDir>();
        store_ = openWinePrefixStore(prefix_->path().toStdString());
        store_->SaveSetting(u"A", u"S", u"k1", u"v1");
        store_->SaveSetting(u"A", u"S", u"k2", u"v2");
        store_->SaveSetting(u"A", u"S", u"k3", u"v3");
        window_ = std::make_unique<FinderDriver>(*store_, boxes_);
    }

    void cleanup() {
        QVERIFY(modals_.finish());
        window_.reset();
        QVERIFY(boxes_.allAnswered());
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void opensAsDesigned_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("states");
        QTest::newRow("new at the root")
            << u""_s << false << strings({u"", u"", u"", u""}) << u"EEEU"_s;
        QTest::newRow("new at an application")
            << u"A"_s << false << strings({u"A", u"", u"", u""}) << u"LEEU"_s;
        QTest::newRow("new at a section, a row selected")
            << u"A\\S"_s << false << strings({u"A", u"S", u"", u""}) << u"LLEU"_s;
        QTest::newRow("double click on a row")
            << u"A\\S"_s << true << strings({u"A", u"S", u"k2", u"v2"}) << u"LLLE"_s;
    }

    void opensAsDesigned() {
        QFETCH(QString, node);
        QFETCH(bool, doubleClick);
        QFETCH(QStringList, texts);
        QFETCH(QString, states);
        if (node.contains(u'\\'))
            window_->open(u"A"_s, u"S"_s);
        else
            window_->click(node);
        if (node.contains(u'\\'))
            window_->selectRows({2});
        modals_.then([&](QDialog& dialog) {
            QVERIFY(!QGuiApplication::overrideCursor());
            QCOMPARE(dialog.windowTitle(), u"値の操作"_s);
            QCOMPARE(dialog.size(), QSize(493, 221));
            QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
            QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinMaxButtonsHint)));
            QVERIFY(dialog.windowIcon().pixmap(16).toImage() !=
                    window_->window().windowIcon().pixmap(16).toImage());
            QStringList captions;
            for (const auto* label : dialog.findChildren<QLabel*>())
                captions.append(label->text());
            for (const auto* button : dialog.findChildren<QPushButton*>())
                captions.append(button->text());
            QCOMPARE(captions, QStringList({u"アプリケーション"_s, u"セクション"_s, u"キー名称"_s,
                                            u"設定値"_s, u"OK"_s, u"ｷｬﾝｾﾙ"_s}));
            QCOMPARE(::texts(dialog), texts);
            QCOMPARE(::states(dialog), states);
            QVERIFY(!ok(dialog)->isEnabled());
            QTRY_COMPARE(QApplication::focusWidget(), box(dialog, u"txt_App"_s));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); // clean: no question
            QVERIFY(!dialog.isVisible());
        });
        if (doubleClick)
            window_->doubleClickRow(2);
        else
            QTest::keyClick(window_->tree(), Qt::Key_N, Qt::ControlModifier);
        QVERIFY(modals_.finish());
        QCOMPARE(window_->list()->selectedItems().size(), node.contains(u'\\') ? 1 : 0);
    }

    // Tab follows the designed order; Enter and Shift+Enter follow the cycle of the boxes, locked
    // ones included, and never press OK.
    void focusOrderAndEnterCycle() {
        window_->open(u"A"_s, u"S"_s);
        modals_.then([&](QDialog& dialog) {
            QTRY_COMPARE(QApplication::focusWidget(), box(dialog, u"txt_App"_s));
            const auto walk = [&](Qt::Key key, Qt::KeyboardModifiers modifiers, int steps) {
                QStringList names;
                for (int i = 0; i < steps; ++i) {
                    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
                    names.append(QApplication::focusWidget()->objectName());
                }
                return names;
            };
            QCOMPARE(walk(Qt::Key_Return, Qt::NoModifier, 3),
                     QStringList({u"txt_Section"_s, u"txt_Key"_s, u"txt_Value"_s}));
            QTest::keyClicks(QApplication::focusWidget(), u"x"_s);
            QCOMPARE(walk(Qt::Key_Enter, Qt::ShiftModifier, 2),
                     QStringList({u"txt_App"_s, u"txt_Section"_s}));
            QCOMPARE(walk(Qt::Key_Tab, Qt::NoModifier, 5),
                     QStringList({u"txt_Key"_s, u"txt_Value"_s, u"cmd_Action_0"_s,
                                  u"cmd_Action_1"_s, u"txt_App"_s}));
            QVERIFY(boxes_.shown().isEmpty());
        });
        window_->selectRows({1});
        QTest::keyClick(window_->list(), Qt::Key_Return); // Enter in the list edits, too
    }

    void validation_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("application of spaces")
            << strings({u" \u3000 ", u" s ", u""}) << u"アプリケーションの入力は省略できません。"_s
            << u"txt_App"_s << strings({u"", u" s ", u"", u""});
        QTest::newRow("section of an ideographic space")
            << strings({u" A\u3000", u"\u3000", u" k "}) << u"セクションの入力は省略できません。"_s
            << u"txt_Section"_s << strings({u"A", u"", u" k ", u""});
        QTest::newRow("key empty")
            << strings({u"A", u"S", u"", u" v "}) << u"キー名称の入力は省略できません。"_s
            << u"txt_Key"_s << strings({u"A", u"S", u"", u" v "});
    }

    void validation() {
        QFETCH(QStringList, typed);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        QFETCH(QStringList, after);
        boxes_.script(QMessageBox::Ok);
        modals_.then([&](QDialog& dialog) {
            typeInto(dialog, typed, true);
            QCOMPARE(boxes_.shown(), QList<Box>({exclamation(message)}));
            QCOMPARE(QApplication::focusWidget(), box(dialog, focus));
            QCOMPARE(texts(dialog), after);
            QVERIFY(ok(dialog)->isEnabled());
        });
        window_->action(u"MenuNew"_s)->trigger();
        QCOMPARE(store_->EnumRegSubKeys(kSettingsBasePath), std::vector<Text>({u"A"}));
    }

    // What the user sees after a save depends on the node the dialog was opened for.
    void saveRefreshesTheNode_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("section: list read again")
            << u"A\\S"_s << strings({u" 新しい　キー\u3000", u" 値 "})
            << strings({u"A", u"S", u"新しい　キー", u"値"})
            << strings({u"k1=v1", u"k2=v2", u"k3=v3", u"新しい　キー=値"});
        QTest::newRow("application: sections read again")
            << u"A"_s << strings({u"T", u"k", u"   "}) << strings({u"A", u"T", u"k", u""})
            << strings({u"S", u"T"});
        QTest::newRow("root: list emptied, tree as it was")
            << u""_s << strings({u"B", u"S", u"k", u"v"}) << strings({u"B", u"S", u"k", u"v"})
            << strings({u"A"});
    }

    void saveRefreshesTheNode() {
        QFETCH(QString, node);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, written);
        QFETCH(QStringList, shown);
        if (node.contains(u'\\'))
            window_->open(u"A"_s, u"S"_s);
        else
            window_->click(node);
        boxes_.script(QMessageBox::Ok);
        modals_.then([&](QDialog& dialog) {
            typeInto(dialog, typed, true);
            QCOMPARE(boxes_.shown(), QList<Box>({question(kConfirm)}));
            QVERIFY(dialog.isVisible());
            QVERIFY(!ok(dialog)->isEnabled());
            QCOMPARE(texts(dialog), written);
            QCOMPARE(node.contains(u'\\') ? window_->rows() : window_->childTexts(node), shown);
            QCOMPARE(window_->list()->isEnabled(), node.contains(u'\\'));
        });
        window_->action(u"MenuNew"_s)->trigger();
        QCOMPARE(QString::fromStdU16String(store_->GetSetting(written[0].toStdU16String(),
                                                              written[1].toStdU16String(),
                                                              written[2].toStdU16String())),
                 written[3]);
        if (node.isEmpty()) { // the new application shows after a reload
            window_->action(u"MenuReload"_s)->trigger();
            QCOMPARE(window_->childTexts(node), QStringList({u"A"_s, u"B"_s}));
        }
    }

    // Cancel at the question, then a write the store refuses, then two writes in one opening.
    void saveOutcomesInOneOpening() {
        window_->click(u""_s);
        boxes_.script(QMessageBox::Cancel);
        for (int i = 0; i < 4; ++i)
            boxes_.script(QMessageBox::Ok);
        modals_.then([&](QDialog& dialog) {
            typeInto(dialog, {u"B"_s, u"x\\y"_s, u"k"_s, u"1"_s}, true);
            QVERIFY(ok(dialog)->isEnabled());
            QTest::mouseClick(ok(dialog), Qt::LeftButton);
            QCOMPARE(boxes_.shown().last(),
                     exclamation(u"データの更新時にエラーが発生しました。\r\n\r\n1002\r\n"
                                 u"セクション名に「\\」は使えません。"_s));
            QCOMPARE(texts(dialog), QStringList({u"B"_s, u"x\\y"_s, u"k"_s, u"1"_s}));
            QVERIFY(ok(dialog)->isEnabled());
            QVERIFY(store_->GetSetting(u"B", u"x\\y", u"k").empty());

            typeInto(dialog, {u"B"_s, u"xy"_s}, true);
            QCOMPARE(store_->GetSetting(u"B", u"xy", u"k"), u"1");
            typeInto(dialog, {u"B"_s, u"xy"_s, u"k"_s, u"2"_s}, true);
            QCOMPARE(store_->GetSetting(u"B", u"xy", u"k"), u"2");
            QCOMPARE(boxes_.shown().size(), 5);
            QCOMPARE(boxes_.shown()[0], question(kConfirm));
        });
        window_->action(u"MenuNew"_s)->trigger();
    }

    void discardQuestion_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("Cancel button, discarded") << u"cancel"_s << QMessageBox::Ok;
        QTest::newRow("Esc, kept") << u"esc"_s << QMessageBox::Cancel;
        QTest::newRow("close box, discarded") << u"close"_s << QMessageBox::Ok;
    }

    void discardQuestion() {
        QFETCH(QString, how);
        QFETCH(QMessageBox::StandardButton, answer);
        window_->open(u"A"_s, u"S"_s);
        boxes_.script(answer);
        modals_.then([&](QDialog& dialog) {
            typeInto(dialog, {u"x"_s});
            QTest::keyClick(box(dialog, u"txt_Key"_s), Qt::Key_Backspace); // typed and undone
            if (how == u"cancel"_s)
                QTest::mouseClick(dialog.findChild<QPushButton*>(u"cmd_Action_1"_s),
                                  Qt::LeftButton);
            else if (how == u"esc"_s)
                QTest::keyClick(box(dialog, u"txt_Key"_s), Qt::Key_Escape);
            else
                dialog.close();
            QCOMPARE(boxes_.shown(),
                     QList<Box>({question(u"入力を破棄して画面を閉じてよろしいですか？"_s)}));
            QCOMPARE(dialog.isVisible(), answer == QMessageBox::Cancel);
            QVERIFY(!dialog.isVisible() || ok(dialog)->isEnabled());
        });
        window_->action(u"MenuNew"_s)->trigger();
        QCOMPARE(window_->rows(), QStringList({u"k1=v1"_s, u"k2=v2"_s, u"k3=v3"_s}));
    }

    // One dialog per selected row, until a save refills the list.
    void oneDialogPerSelectedRow_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("closed unsaved: the next row follows") << false << strings({u"k1", u"k3"});
        QTest::newRow("saved: the rest passed over") << true << strings({u"k1"});
    }

    void oneDialogPerSelectedRow() {
        QFETCH(bool, save);
        QFETCH(QStringList, opened);
        window_->open(u"A"_s, u"S"_s);
        window_->selectRows({1, 3});
        QStringList keys;
        if (save)
            boxes_.script(QMessageBox::Ok);
        for (int i = 0; i < 2; ++i) {
            modals_.then([&](QDialog& dialog) {
                keys.append(box(dialog, u"txt_Key"_s)->text());
                if (save) {
                    typeInto(dialog, {u"new"_s}, true);
                }
            });
        }
        QTest::keyClick(window_->list(), Qt::Key_Return);
        QCOMPARE(modals_.finish(), !save);
        QCOMPARE(keys, opened);
        QCOMPARE(store_->GetSetting(u"A", u"S", u"k1"), save ? u"new" : u"v1");
    }

    // Locked boxes hold names as stored: trimmed, the value would land in another section or key.
    void lockedNamesAreWrittenAsStored() {
        store_->SaveSetting(u"A", u"S ", u" k", u"old");
        window_->open(u"A"_s, u"S "_s);
        boxes_.script(QMessageBox::Ok);
        boxes_.script(QMessageBox::Ok);
        modals_.then([&](QDialog& dialog) { typeInto(dialog, {u"new"_s}, true); });
        window_->doubleClickRow(1);
        modals_.then([&](QDialog& dialog) { typeInto(dialog, {u" k2 "_s, u"v"_s}, true); });
        window_->action(u"MenuNew"_s)->trigger();
        QCOMPARE(store_->GetAllSettings(u"A", u"S "),
                 std::vector<Setting>({{u" k", u"new"}, {u"k2", u"v"}}));
        QCOMPARE(store_->EnumRegSubKeys(applicationKeyPath(u"A")),
                 std::vector<Text>({u"S", u"S "}));
        QCOMPARE(store_->GetAllSettings(u"A", u"S").size(), 3u);
    }

    // The Enter that confirms an input method's composition is the composition's alone.
    void enterEndingACompositionStays() {
        modals_.then([&](QDialog& dialog) {
            QLineEdit* app = box(dialog, u"txt_App"_s);
            QTRY_COMPARE(QApplication::focusWidget(), app);
            QInputMethodEvent composing(u"にほん"_s, {});
            QApplication::sendEvent(app, &composing);
            QTest::keyClick(app, Qt::Key_Return);
            QInputMethodEvent committed;
            committed.setCommitString(u"日本"_s);
            QApplication::sendEvent(app, &committed);
            QTest::keyClick(app, Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), app);
            QCOMPARE(app->text(), u"日本"_s);
            QTest::qWait(0);
            QTest::keyClick(app, Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), box(dialog, u"txt_Section"_s));
        });
        window_->action(u"MenuNew"_s)->trigger();
    }

private:
    std::unique_ptr<QTemporaryDir> prefix_;
    std::unique_ptr<SettingsStore> store_;
    testing::ScriptedMessageBoxes boxes_;
    std::unique_ptr<FinderDriver> window_;
    ModalScript modals_;
};

QTEST_MAIN(EditSettingTest)
#include "edit_setting_test.moc"
