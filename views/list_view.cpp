#include "list_view.h"

#include "control_error.h"
#include "image_list.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <utility>

namespace keyloft {

using namespace Qt::StringLiterals;

void ListItem::checkColumn(int index) const {
    const QTreeWidget* view = treeWidget();
    if (index < 1 || !view || index >= view->columnCount())
        throw ControlError(ControlError::Kind::NoSuchElement, u"no sub-item %1"_s.arg(index));
}

QString ListItem::SubItems(int index) const {
    checkColumn(index);
    return text(index);
}

void ListItem::SetSubItems(int index, const QString& text) {
    checkColumn(index);
    setText(index, text);
    if (sortKeyColumn_ == index)
        sortKeyColumn_ = -1;
}

void ListItem::SetSelected(bool selected) {
    if (selected != isSelected()) // deselecting thousands of unselected rows must stay cheap
        setSelected(selected);
}

bool ListItem::operator<(const QTreeWidgetItem& other) const {
    const auto* view = static_cast<const ListView*>(treeWidget());
    const int column = view->sortColumn();
    const int c = view->sortKeyOf(*this, column)
                      .compare(view->sortKeyOf(static_cast<const ListItem&>(other), column));
    return c != 0 ? c < 0 : text(column) < other.text(column);
}

int ListItemCollection::Count() const {
    return view_.topLevelItemCount();
}

ListItem* ListItemCollection::Item(int index) const {
    if (index < 1 || index > Count())
        throw ControlError(ControlError::Kind::NoSuchElement, u"no row %1"_s.arg(index));
    return static_cast<ListItem*>(view_.topLevelItem(index - 1));
}

ListItem* ListItemCollection::Add(const QString& key, const QString& text, int icon,
                                  int smallIcon) {
    if (!key.isEmpty() && byKey_.contains(key))
        throw ControlError(ControlError::Kind::DuplicateKey, u"row key not unique: "_s + key);
    imageOf(view_.imageList(), icon); // checked, though the report view never shows it
    const QIcon shown = imageOf(view_.imageList(), smallIcon);
    auto* item = new ListItem(key, text);
    item->setIcon(0, shown);
    view_.addTopLevelItem(item);
    if (!key.isEmpty())
        byKey_.insert(key, item);
    if (view_.sorted_)
        view_.sortSoon();
    return item;
}

void ListItemCollection::Clear() {
    byKey_.clear();
    view_.clear();
}

int ColumnHeaderCollection::Count() const {
    return view_.columnCount();
}

void ColumnHeaderCollection::Add(int index, const QString& text, int width) {
    if (index < 1 || index > Count() + 1)
        throw ControlError(ControlError::Kind::NoSuchElement,
                           u"no column position %1"_s.arg(index));
    QStringList labels;
    QList<int> widths;
    for (int column = 0; column < Count(); ++column) {
        labels.append(view_.headerItem()->text(column));
        widths.append(view_.columnWidth(column));
    }
    labels.insert(index - 1, text);
    widths.insert(index - 1, width);
    view_.setColumnCount(static_cast<int>(labels.size()));
    view_.setHeaderLabels(labels);
    for (int column = 0; column < Count(); ++column) {
        if (widths[column] >= 0)
            view_.setColumnWidth(column, widths[column]);
    }
}

void ColumnHeaderCollection::Clear() {
    view_.setColumnCount(0);
}

ListHeader::ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::TabFocus);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void ListHeader::keyPressEvent(QKeyEvent* event) {
    const int visual = visualIndex(focused_);
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int next = visual + (event->key() == Qt::Key_Left ? -1 : 1);
        if (next >= 0 && next < count())
            focused_ = logicalIndex(next);
        viewport()->update();
        break;
    }
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit sectionClicked(focused_);
        break;
    default:
        QHeaderView::keyPressEvent(event);
    }
}

void ListHeader::paintEvent(QPaintEvent* event) {
    QHeaderView::paintEvent(event);
    if (!hasFocus() || focused_ >= count())
        return;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    painter.drawRect(sectionViewportPosition(focused_) + 2, 2, sectionSize(focused_) - 5,
                     height() - 5);
}

void ListHeader::focusInEvent(QFocusEvent* event) {
    QHeaderView::focusInEvent(event);
    viewport()->update();
}

void ListHeader::focusOutEvent(QFocusEvent* event) {
    QHeaderView::focusOutEvent(event);
    viewport()->update();
}

ListView::ListView(QWidget* parent)
    : QTreeWidget(parent), items_(*this), columns_(*this),
      collator_(QLocale(QLocale::Japanese, QLocale::Japan)) {
    setHeader(new ListHeader(this));
    header()->setSectionsClickable(true);               // after setHeader, which would turn it off
    header()->setSortIndicator(-1, Qt::AscendingOrder); // none until the rows are sorted
    header()->setSortIndicatorShown(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false); // columns keep the widths they are given
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { emit ColumnClick(header()->visualIndex(logical) + 1); });
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    collator_.setNumericMode(true);
}

ListItem* ListView::HitTest(QPoint point) const {
    return static_cast<ListItem*>(itemAt(point));
}

void ListView::SetSortOrder(Qt::SortOrder order) {
    sortOrder_ = order;
    if (sorted_)
        sortSoon();
}

void ListView::SetSortKey(int column) {
    sortKey_ = column;
    if (sorted_)
        sortSoon();
}

void ListView::SetSorted(bool sorted) {
    sorted_ = sorted;
    if (sorted_)
        sortNow();
}

void ListView::sortNow() {
    sortPending_ = false;
    sortItems(sortKey_, sortOrder_);
}

const QCollatorSortKey& ListView::sortKeyOf(const ListItem& row, int column) const {
    if (row.sortKeyColumn_ != column) {
        row.sortKey_ = collator_.sortKey(row.text(column));
        row.sortKeyColumn_ = column;
    }
    return *row.sortKey_;
}

void ListView::sortSoon() {
    if (sortPending_)
        return;
    sortPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (sorted_ && sortPending_)
            sortNow();
    });
}

void ListView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        leftPressedAt_ = at;
        QTreeWidget::mousePressEvent(event);
    } else {
        event->accept(); // the pop-up menu acts on the selection as it is
    }
    emit MouseDown(event->button(), event->modifiers(), at);
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    const auto pressedAt = std::exchange(leftPressedAt_, std::nullopt);
    if (event->button() != Qt::LeftButton || !pressedAt)
        return;
    const QPoint at = event->position().toPoint();
    if ((at - *pressedAt).manhattanLength() >= QApplication::startDragDistance())
        return; // a drag selects rows; it is no click
    if (ListItem* row = HitTest(*pressedAt); row && row == HitTest(at))
        emit ItemClick(row);
    emit Click();
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DblClick();
}

// The menu key stands for a right press on the current row.
void ListView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() != QContextMenuEvent::Keyboard || !currentItem())
        return event->ignore();
    emit MouseDown(Qt::RightButton, event->modifiers(), visualItemRect(currentItem()).center());
}

void ListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit DblClick();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

QColor ListView::BackColor() const {
    return palette().color(QPalette::Base);
}

void ListView::SetBackColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Base, color); // in every colour group, so also while disabled
    setPalette(p);
}

bool ListView::MultiSelect() const {
    return selectionMode() == QAbstractItemView::ExtendedSelection;
}

void ListView::SetMultiSelect(bool multiSelect) {
    setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                                 : QAbstractItemView::SingleSelection);
}

} // namespace keyloft
