#include "control_error.h"
#include "image_list.h"
#include "node_level.h"
#include "tree_tools.h"
#include "tree_view.h"

#include <QPixmap>
#include <QTest>

#include <functional>

using namespace keyloft;
using namespace Qt::StringLiterals;

namespace {

std::optional<ControlError::Kind> kindOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ControlError& error) {
        return error.kind();
    }
    return std::nullopt;
}

QStringList childTexts(const QTreeWidgetItem* parent) {
    QStringList texts;
    for (int i = 0; i < parent->childCount(); ++i)
        texts.append(parent->child(i)->text(0));
    return texts;
}

} // namespace

class ViewsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        images_ = ImageList();
        for (const auto colour : {Qt::red, Qt::green, Qt::blue, Qt::black}) {
            QPixmap pixmap(16, 16);
            pixmap.fill(colour);
            images_.Add(QIcon(pixmap));
        }
        tree_ = std::make_unique<TreeView>();
        tree_->SetImageList(&images_);
        tools_ = TreeTOOLs();
    }

    void treeToolsBuildAndPrune() {
        tools_.init(*tree_, u"R"_s);
        TreeNode* root = tools_.Root_Node();
        QCOMPARE(root->Key(), u"R"_s); // the text, unless a key is given
        QVERIFY(root->icon(0).isNull());
        tools_.AddNodeChild(u"A"_s, u"a"_s, 2);
        TreeNode* a = tools_.newNode;
        tools_.AddNodeChild(u"C"_s, u"c"_s, 2);
        tools_.SetNowNode(a);
        tools_.AddNode(u"B"_s, u"b"_s);
        QCOMPARE(childTexts(root), QStringList({u"A"_s, u"B"_s, u"C"_s}));
        QCOMPARE(tools_.newNode->Index(), 4); // indexes follow creation, not place
        tools_.AddNodeChild(u"S1"_s, u"s1"_s);
        tools_.AddNodeChild(u"S2"_s, u"s2"_s);
        QCOMPARE(childTexts(a), QStringList({u"S1"_s, u"S2"_s}));
        QCOMPARE(tools_.nowNode, a);
        QCOMPARE(tools_.newNode->FullPath(), u"R\\A\\S2"_s);
        QCOMPARE(QList({NodeLevel(*root), NodeLevel(*a), NodeLevel(*tools_.newNode)}),
                 QList({1, 2, 3}));

        tools_.Init_Node(*tools_.newNode); // a leaf keeps itself
        QCOMPARE(tree_->Nodes().Count(), 6);
        tools_.Init_Node(*a);
        QCOMPARE(tree_->Nodes().Count(), 4);
        tools_.AddNodeChild(u"S1"_s, u"s1"_s); // removed keys are free again
        tree_->Nodes().Remove(u"a"_s);         // with its subtree
        QCOMPARE(kindOf([this] { tree_->Nodes().Remove(u"s1"_s); }),
                 ControlError::Kind::NoSuchElement);
        QCOMPARE(childTexts(root), QStringList({u"B"_s, u"C"_s}));

        tools_.init(*tree_, u"PC(u)"_s, u"K"_s, 1);
        QCOMPARE(tree_->Nodes().Count(), 1);
        QCOMPARE(tools_.nowNode, tools_.Root_Node());
        QCOMPARE(tools_.Root_Node()->Text(), u"PC(u)"_s);
        QCOMPARE(tools_.Root_Node()->Key(), u"K"_s);
        QCOMPARE(tools_.Root_Node()->icon(0).cacheKey(), images_.Item(1).cacheKey());
        tree_->Nodes().Add(u"b"_s, u"reused key"_s); // the old nodes' keys were forgotten
    }

private:
    ImageList images_;
    std::unique_ptr<TreeView> tree_;
    TreeTOOLs tools_;
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
