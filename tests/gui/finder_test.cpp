#include "finder_driver.h"
#include "scripted_message_boxes.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;
using testing::FinderDriver;

namespace {

const QString kRoot = u"PC01(taro)"_s;

} // namespace

class FinderTest : public testing::WindowTest {
    Q_OBJECT

    void seed() override {
        store().SaveSetting(u"Sample", u"Window", u"Top", u"100");
        store().SaveSetting(u"Sample", u"Window", u"10", u"左");
        store().SaveSetting(u"Sample", u"Empty", u"k", u"v");
        store().DeleteSetting(u"Sample", u"Empty", u"k"); // the section stays, empty
    }

private slots:
    void designedWindow() {
        QCOMPARE(finder()->windowTitle(), u"Keyloft"_s);
        // The open prefix's folder, or on Windows the registry key.
        const QString prefix = store_->location();
        QCOMPARE(tree()->Nodes().Item(1)->toolTip(0), prefix);
        QCOMPARE(statusBar()->toolTip(), prefix);
        QVERIFY(!finder()->windowIcon().isNull());
        for (int image = 1; image <= 4; ++image)
            QVERIFY(!tree()->imageList()->Item(image).pixmap(16).isNull());
        QCOMPARE(clientSize(), QSize(552, 360));
        QCOMPARE(list()->geometry(), QRect(228, 0, 324, 360 - statusBar()->height()));
        QCOMPARE(list()->headerItem()->text(0) + list()->headerItem()->text(1),
                 u"キー名称設定値"_s);
        QCOMPARE(QList({list()->columnWidth(0), list()->columnWidth(1)}), QList({146, 160}));
        QStringList bar;
        for (QAction* menu : finder()->menuBar()->actions()) {
            QStringList items;
            for (QAction* item : menu->menu()->actions())
                items.append(item->text() + u' ' + item->shortcut().toString());
            bar.append(menu->text() + u": "_s + items.join(u", "_s));
        }
        QCOMPARE(bar, QStringList({u"ﾌｧｲﾙ(&F): 閉じる(&W) Ctrl+W"_s,
                                   u"編集(&E): 新規(&N) Ctrl+N, 削除(&D) Del"_s,
                                   u"表示(&V): 再読込(&R) F5"_s, u"ﾍﾙﾌﾟ(&H): ﾊﾞｰｼﾞｮﾝ情報(&A) "_s}));
    }

    void selectionStates_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("status");
        QTest::newRow("root after a section")
            << QStringList({u"Sample\\Window"_s, QString()}) << QStringList() << kRoot;
        QTest::newRow("application")
            << QStringList({u"Sample"_s}) << QStringList() << u"PC01(taro)\\Sample"_s;
        QTest::newRow("down arrow acts as a click")
            << QStringList({u"Down"_s}) << QStringList() << u"PC01(taro)\\Sample"_s;
        QTest::newRow("section") << QStringList({u"Sample\\Window"_s})
                                 << QStringList({u"10=左"_s, u"Top=100"_s})
                                 << u"PC01(taro)\\Sample\\Window"_s;
        QTest::newRow("section without settings")
            << QStringList({u"Sample\\Empty"_s}) << QStringList() << u"PC01(taro)\\Sample\\Empty"_s;
    }

    void selectionStates() {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, rows);
        QFETCH(QString, status);
        for (const QString& path : clicks)
            path == u"Down"_s ? QTest::keyClick(tree(), Qt::Key_Down) : window_->click(path);
        expectState(rows, status);
    }

    // Keys built by joining names without a separator would collide here.
    void collidingNamesAllShow() {
        const QStringList sections = {u"AB\\C"_s, u"ABC\\D"_s, kRoot + u"\\S"_s};
        for (const QString& path : sections)
            store().SaveSetting(path.section(u'\\', 0, 0).toStdU16String(),
                                path.section(u'\\', 1).toStdU16String(), u"k",
                                path.toStdU16String());
        openWindow();
        QCOMPARE(window_->childTexts(QString()),
                 QStringList({u"AB"_s, u"ABC"_s, u"PC01(taro)"_s, u"Sample"_s}));
        for (const QString& path : sections) {
            window_->click(path);
            QCOMPARE(window_->rows(), QStringList({u"k="_s + path}));
        }
    }

    // Cancel leaves all as it was; OK closes.
    void exitQuestion() {
        window_->click(u"Sample\\Window"_s);
        window_->selectRows({2});
        boxes_.script(QMessageBox::Cancel);
        boxes_.script(QMessageBox::Ok);
        QTest::keyClick(tree(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(finder()->isVisible());
        QCOMPARE(list()->selectedItems(), QList<QTreeWidgetItem*>({list()->ListItems().Item(2)}));
        QCOMPARE(window_->statusText(), u"PC01(taro)\\Sample\\Window"_s);
        QTest::keyClick(tree(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!finder()->isVisible());
        const auto question = testing::ScriptedMessageBoxes::question(
            u"finder_testを終了します。よろしいですか？"_s, QMessageBox::Ok);
        QCOMPARE(boxes_.shown(), QList({question, question}));
    }

private:
    Finder* finder() const { return &window_->window(); }
    TreeView* tree() const { return window_->tree(); }
    ListView* list() const { return window_->list(); }
    QStatusBar* statusBar() const { return finder()->findChild<QStatusBar*>(u"StatusBar1"_s); }
    QSize clientSize() const {
        const QWidget* client = finder()->centralWidget();
        return {client->width(), client->height() + statusBar()->height()};
    }

    // The state for the selected node at status: the list serves sections only, and
    // deleting serves all but the root.
    void expectState(const QStringList& rows, const QString& status) {
        const bool section = status.count(u'\\') == 2;
        QCOMPARE(window_->rows(), rows);
        QVERIFY(list()->selectedItems().isEmpty());
        QCOMPARE(list()->BackColor(), section ? QColor(0xFF, 0xFF, 0xFF)
                                              : QApplication::palette().color(QPalette::Button));
        QCOMPARE(list()->isEnabled(), section);
        QCOMPARE(window_->action(u"MenuDel"_s)->isEnabled(), status != kRoot);
        QCOMPARE(window_->statusText(), status);
        QCOMPARE(tree()->SelectedItem(), window_->node(status.mid(kRoot.size() + 1)));
        QVERIFY(tree()->Nodes().Item(1)->isExpanded());
        for (int i = 1; i <= tree()->Nodes().Count(); ++i) {
            const TreeNode* node = tree()->Nodes().Item(i);
            QCOMPARE(node->Image(), !node->Parent() ? 1 : node->FullPath() == status ? 3 : 2);
        }
    }
};

QTEST_MAIN(FinderTest)
#include "finder_test.moc"
