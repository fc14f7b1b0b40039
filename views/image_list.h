#pragma once

#include <QIcon>
#include <QList>

namespace keyloft {

// Images that tree nodes and list rows refer to by 1-based index; 0 stands for no image.
class ImageList {
public:
    void Add(const QIcon& image) { images_.append(image); }
    int Count() const { return static_cast<int>(images_.size()); }
    // Throws ControlError for an index outside 1..Count; 0 gives the null icon.
    QIcon Item(int index) const;

private:
    QList<QIcon> images_;
};

// The icon for image index `index` of `images`, which may be absent; throws as Item does.
QIcon imageOf(const ImageList* images, int index);

} // namespace keyloft
