#include "list_tools.h"

#include "list_view.h"

namespace keyloft {

void ListTOOLs::initItem() {
    List->ListItems().Clear();
}

void ListTOOLs::init(ListView& lList, const std::optional<QStringList>& iSubitems) {
    List = &lList;
    List->ListItems().Clear();
    if (!iSubitems)
        return;
    List->ColumnHeaders().Clear();
    const auto count = iSubitems->size();
    for (qsizetype i = 1; i <= count; ++i)
        List->ColumnHeaders().Add(static_cast<int>(i), iSubitems->at(i - 1));
}

void ListTOOLs::AddListItem(const QString& iText, const QString& iKey, std::optional<int> iIcon,
                            const std::optional<QStringList>& iSubitems) {
    ListItem* row = List->ListItems().Add(iKey, iText, iIcon.value_or(0), iIcon.value_or(0));
    if (!iSubitems)
        return;
    const auto count = iSubitems->size();
    for (qsizetype i = 1; i <= count; ++i)
        row->SetSubItems(static_cast<int>(i), iSubitems->at(i - 1));
}

} // namespace keyloft
