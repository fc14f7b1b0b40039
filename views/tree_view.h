#pragma once

#include <QHash>
#include <QString>
#include <QTreeWidget>

#include <optional>
#include <vector>

namespace keyloft {

class ImageList;
class TreeView;

// A node of a TreeView. Nodes are created and removed only through the view's Nodes().
class TreeNode : public QTreeWidgetItem {
public:
    ~TreeNode() override;

    // Unique within the whole tree; empty for a node created without a key.
    const QString& Key() const { return key_; }
    QString Text() const { return text(0); }
    // 1-based position in the view's Nodes(), in the order of creation.
    int Index() const;
    TreeNode* Parent() const { return static_cast<TreeNode*>(parent()); }
    TreeNode* Root() const;
    TreeNode* Child() const;
    int Children() const { return childCount(); }
    bool Selected() const { return isSelected(); }
    // Selecting makes the node the view's one selected node; it does not raise NodeClick.
    void SetSelected(bool selected);
    void SetExpanded(bool expanded) { setExpanded(expanded); }
    int Image() const { return image_; }
    void SetImage(int image);
    // The texts from the top-level ancestor down to this node, joined by "\".
    QString FullPath() const;

private:
    friend class TreeNodeCollection;
    TreeNode(TreeView& view, const QString& key, const QString& text);

    TreeView& view_;
    QString key_;
    int image_ = 0;
};

// The node collection of a TreeView: keyed nodes with creation-order indexes.
class TreeNodeCollection {
public:
    enum class Relationship { Next = 2, Child = 4 };

    explicit TreeNodeCollection(TreeView& view) : view_(view) {}
    TreeNodeCollection(const TreeNodeCollection&) = delete;
    TreeNodeCollection& operator=(const TreeNodeCollection&) = delete;

    int Count() const { return static_cast<int>(order_.size()); }
    // Throws ControlError for an index outside 1..Count.
    TreeNode* Item(int index) const;
    // A top-level node appended after the others. An empty key leaves the node without one;
    // image 0 leaves it without an image. Throws ControlError for a key already in the tree, an
    // image the image list lacks, or a relative index outside 1..Count.
    TreeNode* Add(const QString& key, const QString& text, int image = 0);
    // Next: directly after the relative, under the same parent. Child: the relative's last child.
    TreeNode* Add(int relative, Relationship relationship, const QString& key, const QString& text,
                  int image = 0);
    // Remove a node together with all its descendants. Throws ControlError when none is found.
    void Remove(const QString& key);
    void Remove(int index);
    void Clear();

private:
    friend class TreeNode;
    TreeNode* create(const QString& key, const QString& text, int image);
    void remove(TreeNode* node);
    void forget(const TreeNode* node);

    TreeView& view_;
    std::vector<TreeNode*> order_;
    QHash<QString, TreeNode*> byKey_;
};

// A tree control whose nodes carry keys and images from an attached ImageList. NodeClick is
// raised for a left click on a node, and whenever a gesture of the mouse (a drag, say) or of the
// keyboard leaves another node selected, so that the window always follows the node the user
// sees selected. No gesture leaves the tree without a selected node; a right or middle button
// press, or a press beside every node, leaves the selection alone.
class TreeView : public QTreeWidget {
    Q_OBJECT

public:
    explicit TreeView(QWidget* parent = nullptr);
    ~TreeView() override;

    TreeNodeCollection& Nodes() { return nodes_; }
    const TreeNodeCollection& Nodes() const { return nodes_; }
    TreeNode* SelectedItem() const;
    // The node with the keyboard focus, which the tree moves on by itself when that node goes.
    TreeNode* CurrentNode() const { return static_cast<TreeNode*>(currentItem()); }
    // The node under a point of the viewport, or none.
    TreeNode* HitTest(QPoint point) const;
    void SetImageList(const ImageList* images) { images_ = images; }
    const ImageList* imageList() const { return images_; }

signals:
    void NodeClick(keyloft::TreeNode* node);
    // Any button pressed, at a point of the viewport.
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint at);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;

private:
    // Raises NodeClick when the gesture that began with `before` selected was no click and left
    // another node selected.
    void followSelection(const QPersistentModelIndex& before);

    TreeNodeCollection nodes_;
    const ImageList* images_ = nullptr;
    std::optional<QPersistentModelIndex> pressedWith_; // the selection a left press began with
    bool clicked_ = false;
};

} // namespace keyloft
