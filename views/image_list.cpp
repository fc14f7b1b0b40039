#include "image_list.h"

#include "control_error.h"

namespace keyloft {

QIcon ImageList::Item(int index) const {
    if (index == 0)
        return {};
    if (index < 1 || index > Count())
        throw ControlError(ControlError::Kind::NoSuchImage,
                           QStringLiteral("no image %1 in the image list").arg(index));
    return images_.at(index - 1);
}

QIcon imageOf(const ImageList* images, int index) {
    if (index == 0)
        return {};
    if (!images)
        throw ControlError(ControlError::Kind::NoSuchImage,
                           QStringLiteral("no image list for image %1").arg(index));
    return images->Item(index);
}

} // namespace keyloft
