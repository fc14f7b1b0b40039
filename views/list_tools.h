#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace keyloft {

class ListView;

// Wraps one list control in report form; it owns nothing.
class ListTOOLs {
public:
    ListView* List = nullptr;

    // Removes every row; the columns stay.
    void initItem();
    // Binds to lList and removes every row. With iSubitems the columns are replaced by one
    // column per text, in order; without it they stay as they are.
    void init(ListView& lList, const std::optional<QStringList>& iSubitems = std::nullopt);
    // Appends a row whose first column is iText and whose further columns take the elements of
    // iSubitems in order; icon and small icon are both iIcon. A failure while setting a
    // sub-item leaves the row in the list.
    void AddListItem(const QString& iText, const QString& iKey,
                     std::optional<int> iIcon = std::nullopt,
                     const std::optional<QStringList>& iSubitems = std::nullopt);
};

} // namespace keyloft
