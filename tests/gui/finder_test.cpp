#include "finder.h"
#include "list_view.h"
#include "memory_store.h"
#include "scripted_message_boxes.h"
#include "settings_store.h"
#include "tree_view.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;
using keyloft::testing::MemoryStore;
using keyloft::testing::ScriptedMessageBoxes;

namespace {

const QString kRoot = u"PC01(taro)"_s;

std::u16string u16(const QString& text) {
    return text.toStdU16String();
}

} // namespace

class FinderTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        store_ = MemoryStore();
        store_.put(u"Sample", u"Window", u"Top", u"100");
        store_.put(u"Sample", u"Window", u"10", u"左");
        store_.put(u"Sample", u"Data", u"Path", u"C:\\data");
        store_.addSection(u"Sample", u"Empty");
        store_.addApplication(u"Bare");
        store_.put(u"日本語 アプリ!", u"設定 (1)", u"名前", u"値");
    }

    void cleanup() {
        finder_.reset();
        QVERIFY(boxes_.allAnswered());
        boxes_.clear();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void designedWindow() {
        open();
        QCOMPARE(finder_->windowTitle(), u"Keyloft"_s);
        QVERIFY(!finder_->windowIcon().isNull());
        QCOMPARE(clientSize(), QSize(552, 360));
        QCOMPARE(tree()->geometry(), QRect(0, 0, 225, 360 - statusBar()->height()));
        QCOMPARE(list()->geometry(), QRect(228, 0, 324, 360 - statusBar()->height()));
        QCOMPARE(list()->headerItem()->text(0), u"キー名称"_s);
        QCOMPARE(list()->headerItem()->text(1), u"設定値"_s);
        QCOMPARE(list()->columnWidth(0), 146);
        QCOMPARE(list()->columnWidth(1), 160);
        QVERIFY(list()->MultiSelect());
        for (int image = 1; image <= 4; ++image)
            QVERIFY(!tree()->imageList()->Item(image).pixmap(16).isNull());
    }

    void menuBar() {
        open();
        QStringList bar;
        for (QAction* menu : finder_->menuBar()->actions()) {
            QStringList items;
            for (QAction* item : menu->menu()->actions())
                items.append(item->text() + u' ' + item->shortcut().toString());
            bar.append(menu->text() + u": "_s + items.join(u", "_s));
        }
        QCOMPARE(bar, QStringList({u"ﾌｧｲﾙ(&F): 閉じる(&W) Ctrl+W"_s,
                                   u"編集(&E): 新規(&N) Ctrl+N, 削除(&D) Del"_s,
                                   u"表示(&V): 再読込(&R) F5"_s, u"ﾍﾙﾌﾟ(&H): ﾊﾞｰｼﾞｮﾝ情報(&A) "_s}));
        for (const auto* name : {"MenuFile", "MenuEdit", "MenuView", "MenuHelp"})
            QVERIFY(finder_->findChild<QMenu*>(QString::fromLatin1(name)));
        QVERIFY(action("MenuNew")->isEnabled());
        QVERIFY(action("MenuAbout")->isEnabled());
    }

    void selectionStates_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("section");
        QTest::addColumn<bool>("menuDel");
        QTest::addColumn<QString>("status");
        QTest::newRow("root after a section")
            << QStringList({kRoot + u"\\Sample"_s, kRoot + u"\\Sample\\Window"_s, kRoot})
            << QStringList() << false << false << kRoot;
        QTest::newRow("application") << QStringList({kRoot + u"\\Sample"_s}) << QStringList()
                                     << false << true << kRoot + u"\\Sample"_s;
        QTest::newRow("section") << QStringList(
                                        {kRoot + u"\\Sample"_s, kRoot + u"\\Sample\\Window"_s})
                                 << QStringList({u"Top=100"_s, u"10=左"_s}) << true << true
                                 << u"PC01(taro)\\Sample\\Window"_s;
        QTest::newRow("section without settings")
            << QStringList({kRoot + u"\\Sample"_s, kRoot + u"\\Sample\\Empty"_s}) << QStringList()
            << true << true << kRoot + u"\\Sample\\Empty"_s;
        QTest::newRow("Japanese names")
            << QStringList({kRoot + u"\\日本語 アプリ!"_s, kRoot + u"\\日本語 アプリ!\\設定 (1)"_s})
            << QStringList({u"名前=値"_s}) << true << true
            << kRoot + u"\\日本語 アプリ!\\設定 (1)"_s;
    }

    void selectionStates() {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, rows);
        QFETCH(bool, section);
        QFETCH(bool, menuDel);
        QFETCH(QString, status);
        open();
        for (const QString& path : clicks)
            click(path);

        QCOMPARE(listRows(), rows);
        QCOMPARE(list()->BackColor(), section ? QColor(0xFF, 0xFF, 0xFF)
                                              : QApplication::palette().color(QPalette::Button));
        QCOMPARE(list()->isEnabled(), section);
        QCOMPARE(action("MenuDel")->isEnabled(), menuDel);
        QCOMPARE(statusText(), status);
        QVERIFY(list()->selectedItems().isEmpty());
        for (int i = 1; i <= tree()->Nodes().Count(); ++i) {
            const TreeNode* node = tree()->Nodes().Item(i);
            const int image = node->Parent() ? (node->FullPath() == clicks.last() ? 3 : 2) : 1;
            QCOMPARE(node->Image(), image);
        }
    }

    void sectionsAreListedLazilyAndAfresh() {
        open();
        QCOMPARE(node(kRoot + u"\\Sample"_s)->Children(), 0);
        click(kRoot + u"\\Bare"_s);
        QCOMPARE(node(kRoot + u"\\Bare"_s)->Children(), 0);

        click(kRoot + u"\\Sample"_s);
        QCOMPARE(childTexts(kRoot + u"\\Sample"_s),
                 QStringList({u"Window"_s, u"Data"_s, u"Empty"_s}));
        store_.addSection(u"Sample", u"New");
        click(kRoot + u"\\Sample"_s);
        QCOMPARE(childTexts(kRoot + u"\\Sample"_s),
                 QStringList({u"Window"_s, u"Data"_s, u"Empty"_s, u"New"_s}));

        click(kRoot + u"\\Sample\\Window"_s);
        store_.put(u"Sample", u"Window", u"Top", u"200");
        click(kRoot + u"\\Sample\\Window"_s);
        QCOMPARE(listRows(), QStringList({u"Top=200"_s, u"10=左"_s}));
        QCOMPARE(list()->ListItems().Item(2)->Key(), u"L10"_s);
    }

    void reloadShowsWhatAnotherProgramChanged() {
        open();
        click(kRoot + u"\\Sample"_s);
        click(kRoot + u"\\Sample\\Window"_s);
        store_.put(u"Later", u"S", u"k", u"v");
        store_.DeleteSetting(u"Bare");

        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_F5); // window-wide, wherever the focus is
        QCOMPARE(childTexts(kRoot), QStringList({u"Sample"_s, u"日本語 アプリ!"_s, u"Later"_s}));
        expectRootState();
    }

    void reloadReadsTheWinePrefixAfresh() {
        QTemporaryDir prefix;
        const auto mine = openWinePrefixStore(prefix.path().toStdString());
        const auto other = openWinePrefixStore(prefix.path().toStdString());
        open(*mine);
        other->SaveSetting(u"別のプログラム", u"設定", u"キー", u"値");

        action("MenuReload")->trigger();
        QCOMPARE(childTexts(kRoot), QStringList({u"別のプログラム"_s}));
        click(kRoot + u"\\別のプログラム"_s);
        click(kRoot + u"\\別のプログラム\\設定"_s);
        QCOMPARE(listRows(), QStringList({u"キー=値"_s}));
    }

    void emptyStoreShowsTheRootOnly() {
        store_ = MemoryStore();
        open();
        QCOMPARE(tree()->Nodes().Count(), 1);
        expectRootState();
    }

    void collidingNamesAllShow() {
        store_ = MemoryStore();
        store_.put(u"AB", u"C", u"k", u"from AB\\C");
        store_.put(u"ABC", u"D", u"k", u"from ABC\\D");
        store_.put(u16(kRoot), u"S", u"k", u"from the root's namesake");
        store_.put(u"Case", u"S", u"Key", u"lower");
        store_.put(u"Case", u"S", u"KEY", u"upper");
        store_.put(u"Case", u"s", u"k", u"other section");
        open();
        QCOMPARE(childTexts(kRoot), QStringList({u"AB"_s, u"ABC"_s, kRoot, u"Case"_s}));

        const QList<std::pair<QString, QStringList>> sections = {
            {u"AB\\C"_s, {u"k=from AB\\C"_s}},
            {u"ABC\\D"_s, {u"k=from ABC\\D"_s}},
            {kRoot + u"\\S"_s, {u"k=from the root's namesake"_s}},
            {u"Case\\S"_s, {u"Key=lower"_s, u"KEY=upper"_s}},
            {u"Case\\s"_s, {u"k=other section"_s}},
        };
        for (const auto& [path, rows] : sections) {
            const QString application = kRoot + u'\\' + path.section(u'\\', 0, -2);
            click(application);
            QVERIFY(action("MenuDel")->isEnabled());
            QVERIFY(!list()->isEnabled());
            click(kRoot + u'\\' + path);
            QCOMPARE(listRows(), rows);
            QVERIFY(list()->isEnabled());
        }
        QCOMPARE(childTexts(kRoot), QStringList({u"AB"_s, u"ABC"_s, kRoot, u"Case"_s}));
    }

    void hugeSectionShowsWhole() {
        store_ = MemoryStore();
        for (int i = 0; i < 40000; ++i)
            store_.put(u"Big", u"S", u16(QString::number(i)), u"v");
        open();
        click(kRoot + u"\\Big"_s);
        click(kRoot + u"\\Big\\S"_s);
        QCOMPARE(list()->ListItems().Count(), 40000);
        QCOMPARE(list()->ListItems().Item(40000)->Text(), u"39999"_s);
    }

    void keyboardSelectionActsAsAClick() {
        open();
        tree()->setFocus();
        QTest::keyClick(tree(), Qt::Key_Down);
        QCOMPARE(statusText(), kRoot + u"\\Sample"_s);
        QCOMPARE(node(kRoot + u"\\Sample"_s)->Image(), 3);
        QVERIFY(action("MenuDel")->isEnabled());
        QCOMPARE(childTexts(kRoot + u"\\Sample"_s),
                 QStringList({u"Window"_s, u"Data"_s, u"Empty"_s}));
    }

    void resizeKeepsTheRule_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<int>("listWidth");
        QTest::newRow("large") << QSize(1000, 700) << 1000 - 228;
        QTest::newRow("narrower than the list's left edge") << QSize(100, 120) << 324;
        QTest::newRow("just the list's left edge") << QSize(228, 120) << 0;
    }

    void resizeKeepsTheRule() {
        QFETCH(QSize, client);
        QFETCH(int, listWidth);
        open();
        finder_->resize(client.width(), client.height() + finder_->menuBar()->height());
        QTRY_COMPARE(clientSize(), client);
        const int height = client.height() - statusBar()->height();
        QCOMPARE(tree()->geometry(), QRect(0, 0, 225, height));
        QCOMPARE(list()->geometry(), QRect(228, 0, listWidth, height));
    }

    void exitQuestion_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("OK closes") << QMessageBox::Ok;
        QTest::newRow("Cancel leaves all as it was") << QMessageBox::Cancel;
    }

    void exitQuestion() {
        QFETCH(QMessageBox::StandardButton, answer);
        open();
        click(kRoot + u"\\Sample"_s);
        click(kRoot + u"\\Sample\\Window"_s);
        list()->ListItems().Item(2)->SetSelected(true);
        boxes_.script(answer);

        QTest::keyClick(tree(), Qt::Key_W, Qt::ControlModifier);

        QCOMPARE(boxes_.shown().size(), 1);
        const auto& box = boxes_.shown().first();
        QCOMPARE(box.text, u"finder_testを終了します。よろしいですか？"_s);
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.defaultButton, QMessageBox::Ok);
        QCOMPARE(finder_->isVisible(), answer == QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) {
            QCOMPARE(listRows(), QStringList({u"Top=100"_s, u"10=左"_s}));
            QCOMPARE(list()->selectedItems(),
                     QList<QTreeWidgetItem*>({list()->ListItems().Item(2)}));
            QCOMPARE(tree()->SelectedItem(), node(kRoot + u"\\Sample\\Window"_s));
            QCOMPARE(statusText(), kRoot + u"\\Sample\\Window"_s);
        }
    }

private:
    void open() { open(store_); }
    void open(SettingsStore& store) {
        finder_ = std::make_unique<Finder>(store, boxes_, u"PC01"_s, u"taro"_s);
        finder_->show();
        QVERIFY(QTest::qWaitForWindowActive(finder_.get()));
    }

    TreeView* tree() const { return finder_->findChild<TreeView*>(u"tview_01"_s); }
    ListView* list() const { return finder_->findChild<ListView*>(u"lview_01"_s); }
    QStatusBar* statusBar() const { return finder_->findChild<QStatusBar*>(u"StatusBar1"_s); }
    QString statusText() const { return statusBar()->findChild<QLabel*>()->text(); }
    QAction* action(const char* name) const {
        return finder_->findChild<QAction*>(QString::fromLatin1(name));
    }
    QSize clientSize() const {
        const QWidget* client = finder_->centralWidget();
        return {client->width(), client->height() + statusBar()->height()};
    }

    TreeNode* node(const QString& path) const {
        for (int i = 1; i <= tree()->Nodes().Count(); ++i) {
            if (tree()->Nodes().Item(i)->FullPath() == path)
                return tree()->Nodes().Item(i);
        }
        return nullptr;
    }

    // As the user does it: a left click on the node's text.
    void click(const QString& path) {
        TreeNode* target = node(path);
        QVERIFY2(target, qPrintable(path));
        tree()->scrollToItem(target);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {},
                          tree()->visualItemRect(target).center());
        QCOMPARE(tree()->SelectedItem(), target);
    }

    QStringList childTexts(const QString& path) const {
        QStringList texts;
        const TreeNode* parent = node(path);
        for (int i = 0; parent && i < parent->Children(); ++i)
            texts.append(parent->child(i)->text(0));
        return texts;
    }

    QStringList listRows() const {
        QStringList rows;
        for (int i = 1; i <= list()->ListItems().Count(); ++i) {
            const ListItem* row = list()->ListItems().Item(i);
            rows.append(row->Text() + u'=' + row->SubItems(1));
        }
        return rows;
    }

    void expectRootState() {
        TreeNode* root = tree()->Nodes().Item(1);
        QCOMPARE(tree()->SelectedItem(), root);
        QVERIFY(root->isExpanded());
        QCOMPARE(list()->ListItems().Count(), 0);
        QVERIFY(!list()->isEnabled());
        QCOMPARE(list()->BackColor(), QApplication::palette().color(QPalette::Button));
        QVERIFY(!action("MenuDel")->isEnabled());
        QCOMPARE(statusText(), kRoot);
    }

    MemoryStore store_;
    ScriptedMessageBoxes boxes_;
    std::unique_ptr<Finder> finder_;
};

QTEST_MAIN(FinderTest)
#include "finder_test.moc"
