#include "tree_view.h"

#include "control_error.h"
#include "image_list.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace keyloft {

using namespace Qt::StringLiterals;

TreeNode::TreeNode(TreeView& view, const QString& key, const QString& text)
    : view_(view), key_(key) {
    setText(0, text);
}

// However a node goes (Remove, Clear, or with its parent), the collection forgets it; its
// descendants follow when the base class deletes them.
TreeNode::~TreeNode() {
    view_.Nodes().forget(this);
}

int TreeNode::Index() const {
    const auto& order = view_.Nodes().order_;
    return static_cast<int>(std::find(order.begin(), order.end(), this) - order.begin()) + 1;
}

TreeNode* TreeNode::Root() const {
    auto* node = const_cast<TreeNode*>(this);
    while (node->Parent())
        node = node->Parent();
    return node;
}

TreeNode* TreeNode::Child() const {
    return childCount() > 0 ? static_cast<TreeNode*>(child(0)) : nullptr;
}

void TreeNode::SetSelected(bool selected) {
    if (selected && treeWidget())
        treeWidget()->setCurrentItem(this);
    else
        setSelected(selected);
}

void TreeNode::SetImage(int image) {
    if (image == image_)
        return; // a refresh over every node must not repaint the ones that keep their image
    setIcon(0, imageOf(view_.imageList(), image));
    image_ = image;
}

QString TreeNode::FullPath() const {
    QString path = Text();
    for (const TreeNode* node = Parent(); node; node = node->Parent())
        path.prepend(node->Text() + u'\\');
    return path;
}

TreeNode* TreeNodeCollection::Item(int index) const {
    if (index < 1 || index > Count())
        throw ControlError(ControlError::Kind::NoSuchElement,
                           u"no node with index %1"_s.arg(index));
    return order_[static_cast<std::size_t>(index - 1)];
}

TreeNode* TreeNodeCollection::create(const QString& key, const QString& text, int image) {
    if (!key.isEmpty() && byKey_.contains(key))
        throw ControlError(ControlError::Kind::DuplicateKey, u"node key not unique: "_s + key);
    const QIcon icon = imageOf(view_.imageList(), image);
    auto* node = new TreeNode(view_, key, text);
    node->setIcon(0, icon);
    node->image_ = image;
    return node;
}

TreeNode* TreeNodeCollection::Add(const QString& key, const QString& text, int image) {
    TreeNode* node = create(key, text, image);
    view_.addTopLevelItem(node);
    order_.push_back(node);
    if (!key.isEmpty())
        byKey_.insert(key, node);
    return node;
}

TreeNode* TreeNodeCollection::Add(int relative, Relationship relationship, const QString& key,
                                  const QString& text, int image) {
    TreeNode* relativeNode = Item(relative);
    TreeNode* node = create(key, text, image);
    if (relationship == Relationship::Child) {
        relativeNode->addChild(node);
    } else if (QTreeWidgetItem* parent = relativeNode->parent()) {
        parent->insertChild(parent->indexOfChild(relativeNode) + 1, node);
    } else {
        view_.insertTopLevelItem(view_.indexOfTopLevelItem(relativeNode) + 1, node);
    }
    order_.push_back(node);
    if (!key.isEmpty())
        byKey_.insert(key, node);
    return node;
}

void TreeNodeCollection::Remove(const QString& key) {
    TreeNode* node = key.isEmpty() ? nullptr : byKey_.value(key);
    if (!node)
        throw ControlError(ControlError::Kind::NoSuchElement, u"no node with key "_s + key);
    delete node;
}

void TreeNodeCollection::Remove(int index) {
    delete Item(index);
}

void TreeNodeCollection::Clear() {
    order_.clear();
    byKey_.clear();
    view_.clear();
}

void TreeNodeCollection::forget(const TreeNode* node) {
    if (const auto it = std::find(order_.begin(), order_.end(), node); it != order_.end())
        order_.erase(it);
    if (!node->Key().isEmpty())
        byKey_.remove(node->Key());
}

TreeView::TreeView(QWidget* parent) : QTreeWidget(parent), nodes_(*this) {
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        clicked_ = true;
        emit NodeClick(static_cast<TreeNode*>(item));
    });
}

TreeView::~TreeView() {
    nodes_.Clear(); // while the collection still exists for the nodes' destructors
}

TreeNode* TreeView::SelectedItem() const {
    const auto selected = selectedItems();
    return selected.isEmpty() ? nullptr : static_cast<TreeNode*>(selected.first());
}

TreeNode* TreeView::HitTest(QPoint point) const {
    return static_cast<TreeNode*>(itemAt(point));
}

void TreeView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    // Only a left press on a node selects; the pop-up menu acts on the node already selected.
    if (event->button() == Qt::LeftButton && itemAt(at)) {
        pressedWith_ = QPersistentModelIndex(currentIndex());
        clicked_ = false;
        QTreeWidget::mousePressEvent(event);
    } else {
        event->accept();
    }
    emit MouseDown(event->button(), event->modifiers(), at);
}

void TreeView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && pressedWith_) {
        if (!clicked_)
            followSelection(*pressedWith_);
        pressedWith_.reset();
    }
}

void TreeView::keyPressEvent(QKeyEvent* event) {
    const QPersistentModelIndex before(currentIndex());
    QTreeWidget::keyPressEvent(event);
    followSelection(before);
}

// The menu key stands for a right press on the selected node.
void TreeView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() != QContextMenuEvent::Keyboard || !SelectedItem())
        return event->ignore();
    emit MouseDown(Qt::RightButton, event->modifiers(), visualItemRect(SelectedItem()).center());
}

void TreeView::followSelection(const QPersistentModelIndex& before) {
    if (TreeNode* after = SelectedItem(); after && indexFromItem(after) != before)
        emit NodeClick(after);
}

QItemSelectionModel::SelectionFlags TreeView::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
    // Ctrl+click or Ctrl+Space on the selected node would leave none selected.
    const auto flags = QTreeWidget::selectionCommand(index, event);
    if (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::NoUpdate;
    return flags;
}

} // namespace keyloft
