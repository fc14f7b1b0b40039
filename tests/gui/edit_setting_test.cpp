#include "finder_driver.h"
#include "scripted_message_boxes.h"
#include "settings_store.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;
using Box = testing::ScriptedMessageBoxes::Box;

namespace {

const QStringList kBoxes = {u"txt_App"_s, u"txt_Section"_s, u"txt_Key"_s, u"txt_Value"_s};

QLineEdit* box(const QDialog& dialog, const QString& name) {
    return dialog.findChild<QLineEdit*>(name);
}
QPushButton* ok(const QDialog& dialog) {
    return dialog.findChild<QPushButton*>(u"cmd_Action_0"_s);
}
// The four boxes' texts, "|" between them.
QString texts(const QDialog& dialog) {
    QStringList texts;
    for (const QString& name : kBoxes)
        texts.append(box(dialog, name)->text());
    return texts.join(u'|');
}
// E editable (white), L locked (button face), U untouched (as designed: the window colour).
QString states(const QDialog& dialog) {
    QString states;
    for (const QString& name : kBoxes) {
        const QLineEdit* b = box(dialog, name);
        const QColor base = b->palette().color(QPalette::Base);
        if (b->isReadOnly())
            states += base == QApplication::palette().color(QPalette::Button) ? u'L' : u'?';
        else
            states += base == QColor(0xFF, 0xFF, 0xFF)                        ? u'E'
                      : base == QApplication::palette().color(QPalette::Base) ? u'U'
                                                                              : u'?';
    }
    return states;
}
void type(QDialog& dialog, const QString& typed, bool ok = false) {
    testing::typeInto(dialog, typed.split(u'|'), ok);
}
Box question(const QString& text) {
    return testing::ScriptedMessageBoxes::question(text, QMessageBox::Ok);
}
constexpr auto exclamation = testing::ScriptedMessageBoxes::exclamation;
const QString kConfirm = u"入力した情報で登録します。よろしいですか？"_s;

} // namespace

class EditSettingTest : public testing::WindowTest {
    Q_OBJECT

    void seed() override {
        for (const auto* key : {u"k1", u"k2", u"k3"})
            store().SaveSetting(u"A", u"S", key, u"v" + std::u16string(key).substr(1));
        store_->addDword(u"A"_s, u"S"_s, u"Num"_s, 10); // a value the list does not show
    }

private slots:
    void opensAsDesigned_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<QString>("texts");
        QTest::addColumn<QString>("states");
        QTest::newRow("new at the root") << u""_s << false << u"|||"_s << u"EEEU"_s;
        QTest::newRow("new at an application") << u"A"_s << false << u"A|||"_s << u"LEEU"_s;
        QTest::newRow("new at a section, a row selected")
            << u"A\\S"_s << false << u"A|S||"_s << u"LLEU"_s;
        QTest::newRow("double click on a row") << u"A\\S"_s << true << u"A|S|k2|v2"_s << u"LLLE"_s;
    }

    void opensAsDesigned() {
        QFETCH(QString, node);
        QFETCH(bool, doubleClick);
        QFETCH(QString, texts);
        QFETCH(QString, states);
        window_->click(node);
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
            for (const QObject* child : dialog.children())
                captions.append(
                    child->property(child->inherits("QLineEdit") ? "" : "text").toString());
            QCOMPARE(captions.join(u' ').simplified(),
                     u"OK ｷｬﾝｾﾙ アプリケーション セクション キー名称 設定値"_s);
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
        window_->click(u"A\\S"_s);
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
            // The Enter that confirms an input method's composition is the composition's alone.
            QLineEdit* value = box(dialog, u"txt_Value"_s);
            QInputMethodEvent composing(u"にほん"_s, {});
            QApplication::sendEvent(value, &composing);
            QTest::keyClick(value, Qt::Key_Return);
            QInputMethodEvent committed;
            committed.setCommitString(u"日本"_s);
            QApplication::sendEvent(value, &committed);
            QTest::keyClick(value, Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), value);
            QCOMPARE(value->text(), u"日本"_s);
            QTest::qWait(0);
            QCOMPARE(walk(Qt::Key_Enter, Qt::ShiftModifier, 2),
                     QStringList({u"txt_App"_s, u"txt_Section"_s}));
            // A composition the input method never ends is over once the focus moves on.
            QInputMethodEvent abandoned(u"ご"_s, {});
            QApplication::sendEvent(QApplication::focusWidget(), &abandoned);
            QCOMPARE(walk(Qt::Key_Tab, Qt::NoModifier, 6),
                     QStringList({u"txt_Key"_s, u"txt_Value"_s, u"cmd_Action_0"_s,
                                  u"cmd_Action_1"_s, u"txt_App"_s, u"txt_Section"_s}));
            QCOMPARE(walk(Qt::Key_Return, Qt::NoModifier, 1), QStringList({u"txt_Key"_s}));
            QVERIFY(boxes_.shown().isEmpty());
        });
        window_->selectRows({1});
        QTest::keyClick(window_->list(), Qt::Key_Return); // Enter in the list edits, too
    }

    // A box keeps whole what it is given, longer than Qt's default cap too. Value rows open a
    // stored value (before) for editing; name rows a new setting, `before` typed, the cursor at ^.
    void boxesKeepWhatTheyAreGiven_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("after");
        const QString longText(40000, u'x');
        QTest::newRow("long stored value")
            << u"txt_Value"_s << longText << u"y"_s << longText + u'y';
        QTest::newRow("long name") << u"txt_Key"_s << u""_s << longText << longText;
        // A name keeps the first line of a paste; a value all of it, and its stored line breaks.
        QTest::newRow("two lines into a name")
            << u"txt_Key"_s << u"a^b"_s << u"X\r\nY"_s << u"aXb"_s;
        QTest::newRow("two lines into a value")
            << u"txt_Value"_s << u"1\r\n2"_s << u"\n3"_s << u"1\r\n2\n3"_s;
    }

    void boxesKeepWhatTheyAreGiven() {
        QFETCH(QString, name);
        QFETCH(QString, before);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        const bool value = name == u"txt_Value"_s;
        if (value)
            store().SaveSetting(u"A", u"S", u"k4", before.toStdU16String());
        window_->click(u"A\\S"_s);
        modals_.then([&](QDialog& dialog) {
            QLineEdit* edit = box(dialog, name);
            const qsizetype cursor = before.indexOf(u'^');
            if (!value)
                edit->setText(QString(before).remove(u'^'));
            edit->setCursorPosition(cursor < 0 ? edit->text().size() : cursor);
            QApplication::clipboard()->setText(pasted);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(edit->text(), after);
        });
        if (value)
            window_->doubleClickRow(4);
        else
            window_->action(u"MenuNew"_s)->trigger();
    }

    // OK: a name left empty, the question answered Cancel, a write the store refuses, a write
    // and what each node shows after it.
    void pressingOk_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
        QTest::addColumn<QString>("message"); // the last box shown
        QTest::addColumn<QString>("after");   // the boxes' texts; "+" when OK is left enabled
        QTest::addColumn<QString>("shown");   // rows of a section, else the node's children
        const QList ok{QMessageBox::Ok}, twice{QMessageBox::Ok, QMessageBox::Ok};
        QTest::newRow("application of spaces")
            << u""_s << u" \u3000 | s |"_s << ok << u"アプリケーションの入力は省略できません。"_s
            << u"| s ||+"_s << u"A"_s;
        QTest::newRow("section of an ideographic space")
            << u""_s << u" A\u3000|\u3000| k "_s << ok << u"セクションの入力は省略できません。"_s
            << u"A|| k |+"_s << u"A"_s;
        QTest::newRow("key empty")
            << u""_s << u"A|S|| v "_s << ok << u"キー名称の入力は省略できません。"_s
            << u"A|S|| v +"_s << u"A"_s;
        QTest::newRow("a number under the name in another case")
            << u"A\\S"_s << u"num|1"_s << ok
            << u"キー名称「num」には文字列以外の値（REG_DWORD）が登録されています。\r\n上書きすると元の値が失われるため、登録できません。"_s
            << u"A|S|num|1+"_s << u"k1=v1|k2=v2|k3=v3"_s;
        QTest::newRow("question answered Cancel")
            << u"A\\S"_s << u"k|v"_s << QList{QMessageBox::Cancel} << kConfirm << u"A|S|k|v+"_s
            << u"k1=v1|k2=v2|k3=v3"_s;
        QTest::newRow("refused by the store")
            << u""_s << u"B|x\\\\y|k|1"_s << twice
            << u"データの更新時にエラーが発生しました。\r\n\r\n1002\r\nセクション名に空の階層があります（「\\」の前後には名前が要ります）。"_s
            << u"B|x\\\\y|k|1+"_s << u"A"_s;
        QTest::newRow("section: list read again")
            << u"A\\S"_s << u" 新しい　キー\u3000| 値 "_s << ok << kConfirm
            << u"A|S|新しい　キー|値"_s << u"k1=v1|k2=v2|k3=v3|新しい　キー=値"_s;
        QTest::newRow("application: sections read again")
            << u"A"_s << u"T|k|   "_s << ok << kConfirm << u"A|T|k|"_s << u"S|T"_s;
        QTest::newRow("application: a nested section and the key on its way")
            << u"A"_s << u"E\\J|k|v"_s << ok << kConfirm << u"A|E\\J|k|v"_s << u"E|E\\J|S"_s;
        QTest::newRow("root: list emptied, tree as it was")
            << u""_s << u"B|S|k|v"_s << ok << kConfirm << u"B|S|k|v"_s << u"A"_s;
    }

    void pressingOk() {
        QFETCH(QString, node);
        QFETCH(QString, typed);
        QFETCH(QList<QMessageBox::StandardButton>, answers);
        QFETCH(QString, message);
        QFETCH(QString, after);
        QFETCH(QString, shown);
        window_->click(node);
        for (const auto answer : answers)
            boxes_.script(answer);
        const bool saved = !after.endsWith(u'+');
        modals_.then([&](QDialog& dialog) {
            type(dialog, typed, true);
            const bool refused = message.endsWith(u"できません。"_s); // before the question
            QCOMPARE(boxes_.shown().first(), refused ? exclamation(message) : question(kConfirm));
            QCOMPARE(boxes_.shown().last(),
                     message == kConfirm ? question(kConfirm) : exclamation(message));
            QCOMPARE(texts(dialog) + (ok(dialog)->isEnabled() ? u"+"_s : u""_s), after);
            const auto empty = after.split(u'|').indexOf(QString());
            if (refused) // the focus goes into the empty box, else the key's
                QCOMPARE(QApplication::focusWidget(), box(dialog, kBoxes[empty < 0 ? 2 : empty]));
            const bool section = node.contains(u'\\');
            QCOMPARE((section ? window_->rows() : window_->childTexts(node)).join(u'|'), shown);
            QCOMPARE(window_->list()->isEnabled(), section);
        });
        window_->action(u"MenuNew"_s)->trigger();
        const QStringList w = after.split(u'|');
        QCOMPARE(store().GetSetting(w[0].toStdU16String(), w[1].toStdU16String(),
                                    w[2].toStdU16String()) == w[3].toStdU16String(),
                 saved);
        if (saved && node.isEmpty()) { // the new application shows after a reload
            window_->action(u"MenuReload"_s)->trigger();
            QCOMPARE(window_->childTexts(node), QStringList({u"A"_s, u"B"_s}));
        }
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
        window_->click(u"A\\S"_s);
        boxes_.script(answer);
        modals_.then([&](QDialog& dialog) {
            type(dialog, u"x"_s);
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
        QTest::newRow("closed unsaved: the next row follows")
            << false << QStringList{u"k1"_s, u"k3"_s};
        QTest::newRow("saved: the rest passed over") << true << QStringList{u"k1"_s};
    }

    void oneDialogPerSelectedRow() {
        QFETCH(bool, save);
        QFETCH(QStringList, opened);
        window_->click(u"A\\S"_s);
        window_->selectRows({1, 3});
        QStringList keys;
        if (save)
            boxes_.script(QMessageBox::Ok);
        for (int i = 0; i < 2; ++i) {
            modals_.then([&](QDialog& dialog) {
                keys.append(box(dialog, u"txt_Key"_s)->text());
                if (save)
                    type(dialog, u"new"_s, true);
            });
        }
        QTest::keyClick(window_->list(), Qt::Key_Return);
        QCOMPARE(modals_.finish(), !save);
        QCOMPARE(keys, opened);
        QCOMPARE(store().GetSetting(u"A", u"S", u"k1"), save ? u"new" : u"v1");
    }

    // Locked boxes hold names as stored: trimmed or cut at a line break, the value would land in
    // another section or key.
    void lockedNamesAreWrittenAsStored() {
        store().SaveSetting(u"A", u"S\n ", u" k", u"old");
        window_->click(u"A\\S\n "_s);
        for (int i = 0; i < 3; ++i)
            boxes_.script(QMessageBox::Ok);
        modals_.then([&](QDialog& dialog) { type(dialog, u"new"_s, true); });
        window_->doubleClickRow(1);
        modals_.then([&](QDialog& dialog) { // and after a save the dialog stays for another
            type(dialog, u" k2 |v"_s, true);
            QVERIFY(dialog.isVisible() && !ok(dialog)->isEnabled());
            type(dialog, u"k3|w"_s, true);
        });
        window_->action(u"MenuNew"_s)->trigger();
        QCOMPARE(store().GetAllSettings(u"A", u"S\n "),
                 std::vector<Setting>({{u" k", u"new"}, {u"k2", u"v"}, {u"k3", u"w"}}));
        QCOMPARE(store().EnumRegSubKeys(applicationKeyPath(u"A")),
                 std::vector<Text>({u"S", u"S\n "}));
        QCOMPARE(store().GetAllSettings(u"A", u"S").size(), 3u);
    }
};

QTEST_MAIN(EditSettingTest)
#include "edit_setting_test.moc"
