#pragma once

#include <QCollator>
#include <QColor>
#include <QHash>
#include <QHeaderView>
#include <QString>
#include <QTreeWidget>

#include <optional>

namespace keyloft {

class ImageList;
class ListView;

// A row of a ListView. Rows are created and removed only through the view's ListItems().
class ListItem : public QTreeWidgetItem {
public:
    // Unique within the list, compared exactly; empty for a row created without a key.
    const QString& Key() const { return key_; }
    QString Text() const { return text(0); }
    // Text of column index + 1, for index from 1. Throws ControlError past the last column.
    QString SubItems(int index) const;
    void SetSubItems(int index, const QString& text);
    bool Selected() const { return isSelected(); }
    void SetSelected(bool selected);
    // Sorting: the list's collation, then code unit by code unit.
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    friend class ListItemCollection;
    friend class ListView;
    ListItem(const QString& key, const QString& text) : key_(key) { setText(0, text); }
    void checkColumn(int index) const;

    QString key_;
    // The collation key of one column's text, made once per sort rather than per comparison.
    mutable std::optional<QCollatorSortKey> sortKey_;
    mutable int sortKeyColumn_ = -1;
};

// The rows of a ListView: keyed, numbered from 1 in the order shown.
class ListItemCollection {
public:
    explicit ListItemCollection(ListView& view) : view_(view) {}
    ListItemCollection(const ListItemCollection&) = delete;
    ListItemCollection& operator=(const ListItemCollection&) = delete;

    int Count() const;
    // Throws ControlError for an index outside 1..Count.
    ListItem* Item(int index) const;
    // Appends a row. An empty key leaves it without one; image 0 means no image. The report
    // view shows the small icon. Throws ControlError for a key already in the list or an image
    // that the image list lacks.
    ListItem* Add(const QString& key, const QString& text, int icon = 0, int smallIcon = 0);
    // Removes every row; the columns stay.
    void Clear();

private:
    ListView& view_;
    QHash<QString, ListItem*> byKey_;
};

// The column headers of a ListView; a column is known by its 1-based position.
class ColumnHeaderCollection {
public:
    explicit ColumnHeaderCollection(ListView& view) : view_(view) {}
    ColumnHeaderCollection(const ColumnHeaderCollection&) = delete;
    ColumnHeaderCollection& operator=(const ColumnHeaderCollection&) = delete;

    int Count() const;
    // Inserts a column at 1-based position index (1..Count + 1); width -1 keeps the default.
    void Add(int index, const QString& text, int width = -1);
    void Clear();

private:
    ListView& view_;
};

// Column headers that the keyboard reaches too: Tab gives them the focus, Left and Right choose a
// header, Space or Enter clicks it.
class ListHeader final : public QHeaderView {
    Q_OBJECT

public:
    explicit ListHeader(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int focused_ = 0; // logical index
};

// A list control in report form: keyed rows with images from an attached ImageList, sortable by
// one column.
class ListView : public QTreeWidget {
    Q_OBJECT

public:
    explicit ListView(QWidget* parent = nullptr);

    ListItemCollection& ListItems() { return items_; }
    const ListItemCollection& ListItems() const { return items_; }
    ColumnHeaderCollection& ColumnHeaders() { return columns_; }
    // The row under a point of the viewport, or none.
    ListItem* HitTest(QPoint point) const;

    // Rows sort by the text of column SortKey in the platform's Japanese collation: kana in their
    // reading order, letter case ignored, numbers by value ("Key2" before "Key10"). While
    // sorted, a change of order or column, or rows added later, take effect at the next turn of
    // the event loop; setting Sorted sorts at once.
    Qt::SortOrder SortOrder() const { return sortOrder_; }
    void SetSortOrder(Qt::SortOrder order);
    int SortKey() const { return sortKey_; }
    void SetSortKey(int column);
    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);

    QColor BackColor() const;
    void SetBackColor(const QColor& color);
    bool MultiSelect() const;
    void SetMultiSelect(bool multiSelect);
    void SetImageList(const ImageList* images) { images_ = images; }
    const ImageList* imageList() const { return images_; }

signals:
    // A click on a column header; column is its 1-based position.
    void ColumnClick(int column);
    // A left click on a row, raised just before the Click of the same click.
    void ItemClick(keyloft::ListItem* row);
    // A left click anywhere in the list, on a row or not; a drag is no click.
    void Click();
    // A left double click anywhere in the list; Enter acts as one, so the keyboard reaches it too.
    void DblClick();
    // Any button pressed, at a point of the viewport. Only the left button selects rows.
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint at);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class ListItemCollection;
    friend class ListItem;
    void sortNow();
    void sortSoon();
    const QCollatorSortKey& sortKeyOf(const ListItem& row, int column) const;

    ListItemCollection items_;
    ColumnHeaderCollection columns_;
    const ImageList* images_ = nullptr;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    int sortKey_ = 0;
    bool sorted_ = false;
    bool sortPending_ = false;
    QCollator collator_;
    std::optional<QPoint> leftPressedAt_;
};

} // namespace keyloft
