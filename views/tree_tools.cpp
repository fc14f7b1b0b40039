#include "tree_tools.h"

#include "tree_view.h"

namespace keyloft {

void TreeTOOLs::init(TreeView& tTree, const QString& rootText,
                     const std::optional<QString>& rootKey, std::optional<int> rIcon) {
    Tree = &tTree;
    Tree->Nodes().Clear();
    rootText_ = rootText;
    rootKey_ = rootKey.value_or(rootText);
    rootImage_ = rIcon.value_or(-1);
    nowNode = Tree->Nodes().Add(rootKey_, rootText_, rootImage_ == -1 ? 0 : rootImage_);
}

void TreeTOOLs::Init_Node(TreeNode& nNode) {
    RemoveSubtree(nNode, false);
}

void TreeTOOLs::AddNode(const QString& nText, const QString& nkey, std::optional<int> nIcon) {
    newNode = Tree->Nodes().Add(nowNode->Index(), TreeNodeCollection::Relationship::Next, nkey,
                                nText, nIcon.value_or(0));
}

void TreeTOOLs::AddNodeChild(const QString& nText, const QString& nkey, std::optional<int> nIcon) {
    newNode = Tree->Nodes().Add(nowNode->Index(), TreeNodeCollection::Relationship::Child, nkey,
                                nText, nIcon.value_or(0));
}

TreeNode* TreeTOOLs::Selected_Node() const {
    return Tree->SelectedItem();
}

TreeNode* TreeTOOLs::Root_Node() const {
    if (Tree->Nodes().Count() < 1)
        return nullptr;
    return Tree->Nodes().Item(1)->Root();
}

void TreeTOOLs::RemoveSubtree(TreeNode& node, bool removeSelf) {
    while (node.Children() != 0)
        RemoveSubtree(*node.Child(), true);
    if (removeSelf)
        Tree->Nodes().Remove(node.Key());
}

} // namespace keyloft
