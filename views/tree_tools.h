#pragma once

#include <QString>

#include <optional>

namespace keyloft {

class TreeNode;
class TreeView;

// Wraps one tree control and keeps a current node through which new nodes are placed. It owns
// neither the control nor the nodes: a node removed from the tree must not be used through
// nowNode or newNode, so callers set nowNode again before each series of adds.
class TreeTOOLs {
public:
    TreeView* Tree = nullptr;
    TreeNode* nowNode = nullptr; // the relative of AddNode and AddNodeChild
    TreeNode* newNode = nullptr; // the node most recently added

    // Binds to tTree, clears it and adds the root, which becomes nowNode. Without rootKey the
    // root's key is its text; without rIcon, or with -1, the root has no image.
    void init(TreeView& tTree, const QString& rootText,
              const std::optional<QString>& rootKey = std::nullopt,
              std::optional<int> rIcon = std::nullopt);
    // Removes every descendant of nNode; nNode stays.
    void Init_Node(TreeNode& nNode);
    // Adds a node directly after nowNode, at its level. An empty nkey gives a node without one.
    void AddNode(const QString& nText, const QString& nkey = {},
                 std::optional<int> nIcon = std::nullopt);
    // Adds a node as the last child of nowNode.
    void AddNodeChild(const QString& nText, const QString& nkey = {},
                      std::optional<int> nIcon = std::nullopt);
    void SetNowNode(TreeNode* nNode) { nowNode = nNode; }
    TreeNode* Selected_Node() const;
    // None while the control holds no node.
    TreeNode* Root_Node() const;

private:
    // Depth-first, first child each time, each node by its key.
    void RemoveSubtree(TreeNode& node, bool removeSelf);

    QString rootKey_;
    int rootImage_ = -1;
    QString rootText_;
};

} // namespace keyloft
