#include "control_error.h"
#include "image_list.h"
#include "list_tools.h"
#include "list_view.h"
#include "node_level.h"
#include "tree_tools.h"
#include "tree_view.h"

#include <QPixmap>
#include <QTest>

#include <functional>

using namespace keyloft;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::function<void()>)

namespace {

QIcon solid(Qt::GlobalColor colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QStringList childTexts(const TreeNode& node) {
    QStringList texts;
    for (int i = 0; i < node.childCount(); ++i)
        texts.append(node.child(i)->text(0));
    return texts;
}

QStringList headers(const ListView& list) {
    QStringList texts;
    for (int column = 0; column < list.columnCount(); ++column)
        texts.append(list.headerItem()->text(column));
    return texts;
}

} // namespace

class ViewsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        images_ = ImageList();
        for (const auto colour : {Qt::red, Qt::green, Qt::blue, Qt::black})
            images_.Add(solid(colour));
        tree_ = std::make_unique<TreeView>();
        tree_->SetImageList(&images_);
        list_ = std::make_unique<ListView>();
        list_->SetImageList(&images_);
        list_->setHeaderLabels({u"キー名称"_s, u"設定値"_s});
        tools_ = TreeTOOLs();
        rows_ = ListTOOLs();
    }

    void treeInitMakesTheOnlyRoot_data() {
        QTest::addColumn<std::optional<QString>>("rootKey");
        QTest::addColumn<std::optional<int>>("icon");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("image");
        QTest::newRow("defaults") << std::optional<QString>() << std::optional<int>() << u"PC(u)"_s
                                  << 0;
        QTest::newRow("no image") << std::optional<QString>() << std::optional(-1) << u"PC(u)"_s
                                  << 0;
        QTest::newRow("key and image") << std::optional(u"K"_s) << std::optional(1) << u"K"_s << 1;
    }

    void treeInitMakesTheOnlyRoot() {
        QFETCH(std::optional<QString>, rootKey);
        QFETCH(std::optional<int>, icon);
        tools_.Tree = tree_.get();
        QCOMPARE(tools_.Root_Node(), nullptr);
        tree_->Nodes().Add(u"old"_s, u"old"_s);

        tools_.init(*tree_, u"PC(u)"_s, rootKey, icon);

        QCOMPARE(tree_->Nodes().Count(), 1);
        TreeNode* root = tools_.Root_Node();
        QCOMPARE(tools_.nowNode, root);
        QCOMPARE(root->Text(), u"PC(u)"_s);
        QTEST(root->Key(), "key");
        QTEST(root->Image(), "image");
        QCOMPARE(root->icon(0).isNull(), root->Image() == 0);
        tree_->Nodes().Add(u"old"_s, u"reused key"_s); // the old node's key was forgotten
    }

    void addsPlaceNodesAndKeepNowNode() {
        tools_.init(*tree_, u"R"_s);
        tools_.AddNodeChild(u"A"_s, u"a"_s, 2);
        TreeNode* a = tools_.newNode;
        tools_.AddNodeChild(u"C"_s, u"c"_s, 2);
        TreeNode* c = tools_.newNode;
        tools_.SetNowNode(a);
        tools_.AddNode(u"B"_s, u"b"_s);
        QCOMPARE(childTexts(*tools_.Root_Node()), QStringList({u"A"_s, u"B"_s, u"C"_s}));
        QCOMPARE(tools_.newNode->Index(), 4); // indexes follow creation, not place
        QCOMPARE(c->Index(), 3);

        tools_.AddNodeChild(u"S1"_s, u"s1"_s);
        tools_.AddNodeChild(u"S2"_s, u"s2"_s);
        QCOMPARE(childTexts(*a), QStringList({u"S1"_s, u"S2"_s}));
        QCOMPARE(tools_.newNode->Text(), u"S2"_s);
        QCOMPARE(tools_.nowNode, a);
        QCOMPARE(tools_.newNode->Parent(), a);
        QCOMPARE(tools_.newNode->Root(), tools_.Root_Node());
        QCOMPARE(tools_.newNode->FullPath(), u"R\\A\\S2"_s);
        QCOMPARE(NodeLevel(*tools_.Root_Node()), 1);
        QCOMPARE(NodeLevel(*a), 2);
        QCOMPARE(NodeLevel(*tools_.newNode), 3);
    }

    void initNodeRemovesDescendantsOnly() {
        tools_.init(*tree_, u"R"_s);
        tools_.AddNodeChild(u"A"_s, u"a"_s);
        TreeNode* a = tools_.newNode;
        tools_.AddNodeChild(u"B"_s, u"b"_s);
        tools_.SetNowNode(a);
        tools_.AddNodeChild(u"S"_s, u"s"_s);
        TreeNode* s = tools_.newNode;

        tools_.Init_Node(*s);
        QCOMPARE(tree_->Nodes().Count(), 4);
        tools_.Init_Node(*a);
        QCOMPARE(tree_->Nodes().Count(), 3);
        QCOMPARE(a->Children(), 0);
        tools_.AddNodeChild(u"S"_s, u"s"_s);
        tree_->Nodes().Remove(u"a"_s); // with its subtree
        QVERIFY_THROWS_EXCEPTION(ControlError, tree_->Nodes().Remove(u"s"_s));
        tools_.Init_Node(*tools_.Root_Node());
        QCOMPARE(tree_->Nodes().Count(), 1);
        QCOMPARE(tree_->Nodes().Item(1)->Text(), u"R"_s);
        tools_.SetNowNode(tools_.Root_Node());
        tools_.AddNodeChild(u"B"_s, u"b"_s); // removed keys are free again
    }

    void controlsPassErrorsOn_data() {
        QTest::addColumn<std::function<void()>>("action");
        QTest::addColumn<ControlError::Kind>("kind");
        const auto tree = [this](auto f) {
            return std::function<void()>([this, f] { f(*tree_); });
        };
        const auto list = [this](auto f) {
            return std::function<void()>([this, f] { f(*list_); });
        };
        QTest::newRow("duplicate node key") << tree([](TreeView& t) {
            t.Nodes().Add(u"k"_s, u"x"_s), t.Nodes().Add(u"k"_s, u"y"_s);
        }) << ControlError::Kind::DuplicateKey;
        QTest::newRow("remove of a missing key")
            << tree([](TreeView& t) { t.Nodes().Remove(u"none"_s); })
            << ControlError::Kind::NoSuchElement;
        QTest::newRow("node index 0")
            << tree([](TreeView& t) { t.Nodes().Item(0); }) << ControlError::Kind::NoSuchElement;
        QTest::newRow("node image 5") << tree([](TreeView& t) { t.Nodes().Add(u"k"_s, u"x"_s, 5); })
                                      << ControlError::Kind::NoSuchImage;
        QTest::newRow("duplicate row key") << list([](ListView& l) {
            l.ListItems().Add(u"L1"_s, u"1"_s), l.ListItems().Add(u"L1"_s, u"1"_s);
        }) << ControlError::Kind::DuplicateKey;
        QTest::newRow("row image -1")
            << list([](ListView& l) { l.ListItems().Add(u"k"_s, u"x"_s, -1); })
            << ControlError::Kind::NoSuchImage;
        QTest::newRow("sub-item past the last column")
            << list([](ListView& l) { l.ListItems().Add(u"k"_s, u"x"_s)->SetSubItems(2, u"v"_s); })
            << ControlError::Kind::NoSuchElement;
        QTest::newRow("row index past the last")
            << list([](ListView& l) { l.ListItems().Add(u"k"_s, u"x"_s), l.ListItems().Item(2); })
            << ControlError::Kind::NoSuchElement;
    }

    void controlsPassErrorsOn() {
        QFETCH(std::function<void()>, action);
        QFETCH(ControlError::Kind, kind);
        try {
            action();
            QFAIL("no error");
        } catch (const ControlError& error) {
            QCOMPARE(error.kind(), kind);
        }
    }

    void listInitHandlesColumns_data() {
        QTest::addColumn<std::optional<QStringList>>("columns");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("none given")
            << std::optional<QStringList>() << QStringList({u"キー名称"_s, u"設定値"_s});
        QTest::newRow("empty") << std::optional(QStringList()) << QStringList();
        QTest::newRow("three") << std::optional(QStringList({u"a"_s, u"b"_s, u"c"_s}))
                               << QStringList({u"a"_s, u"b"_s, u"c"_s});
    }

    void listInitHandlesColumns() {
        QFETCH(std::optional<QStringList>, columns);
        list_->ListItems().Add(u"L1"_s, u"1"_s);
        rows_.init(*list_, columns);
        QCOMPARE(list_->ListItems().Count(), 0);
        QTEST(headers(*list_), "expected");
        rows_.initItem();
        QTEST(headers(*list_), "expected");
    }

    void addListItemFillsARow() {
        rows_.init(*list_);
        rows_.AddListItem(u"b"_s, u"Lb"_s);
        rows_.AddListItem(u"a"_s, u"La"_s, 4, QStringList({u"値"_s}));

        const ListItem* bare = list_->ListItems().Item(1);
        QCOMPARE(bare->Text(), u"b"_s);
        QCOMPARE(bare->SubItems(1), QString());
        QVERIFY(bare->icon(0).isNull());
        const ListItem* full = list_->ListItems().Item(2);
        QCOMPARE(full->SubItems(1), u"値"_s);
        QCOMPARE(full->icon(0).cacheKey(), images_.Item(4).cacheKey());
    }

    void sortingFollowsKeyAndOrder() {
        rows_.init(*list_);
        for (const auto& [key, value] :
             {std::pair(u"b"_s, u"2"_s), {u"C"_s, u"1"_s}, {u"a"_s, u"3"_s}})
            rows_.AddListItem(key, u'L' + key, 4, QStringList({value}));
        const auto texts = [this] {
            QStringList t;
            for (int i = 1; i <= list_->ListItems().Count(); ++i)
                t.append(list_->ListItems().Item(i)->Text());
            return t;
        };
        list_->SetSorted(true);
        QCOMPARE(texts(), QStringList({u"a"_s, u"b"_s, u"C"_s})); // case does not split them
        list_->SetSortOrder(Qt::DescendingOrder);
        QCOMPARE(texts(), QStringList({u"C"_s, u"b"_s, u"a"_s}));
        list_->SetSortKey(1);
        QCOMPARE(texts(), QStringList({u"a"_s, u"b"_s, u"C"_s}));

        rows_.AddListItem(u"z"_s, u"Lz"_s, 4, QStringList({u"0"_s}));
        QTRY_COMPARE(texts(), QStringList({u"a"_s, u"b"_s, u"C"_s, u"z"_s}));
    }

    void userSelectionRaisesNodeClick() {
        tools_.init(*tree_, u"R"_s);
        tools_.AddNodeChild(u"A"_s, u"a"_s);
        tools_.AddNodeChild(u"B"_s, u"b"_s);
        tools_.Root_Node()->SetExpanded(true);
        tools_.Root_Node()->SetSelected(true);
        tree_->show();
        QVERIFY(QTest::qWaitForWindowExposed(tree_.get()));
        QList<TreeNode*> clicked;
        connect(tree_.get(), &TreeView::NodeClick, this,
                [&clicked](TreeNode* node) { clicked.append(node); });

        QTest::keyClick(tree_.get(), Qt::Key_Down);
        QCOMPARE(clicked, QList<TreeNode*>({tree_->Nodes().Item(2)}));
        QCOMPARE(tools_.Selected_Node(), tree_->Nodes().Item(2));

        TreeNode* b = tree_->Nodes().Item(3);
        const QPoint onB = tree_->visualItemRect(b).center();
        QCOMPARE(tree_->HitTest(onB), b);
        QTest::mouseClick(tree_->viewport(), Qt::RightButton, {}, onB);
        QVERIFY(!b->Selected());
        QTest::mouseClick(tree_->viewport(), Qt::LeftButton, {}, onB);
        QCOMPARE(clicked.size(), 2);
        QCOMPARE(clicked.last(), b);
        QTest::mouseClick(tree_->viewport(), Qt::LeftButton, {}, {5, tree_->height() - 5});
        QVERIFY(b->Selected()); // a click beside every node keeps the selection
        QCOMPARE(clicked.size(), 2);
    }

private:
    ImageList images_;
    std::unique_ptr<TreeView> tree_;
    std::unique_ptr<ListView> list_;
    TreeTOOLs tools_;
    ListTOOLs rows_;
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
