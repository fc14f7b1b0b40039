#include "finder.h"

#include "message_boxes.h"
#include "program_info.h"
#include "settings_store.h"

#include <QWidget>

namespace keyloft {

Finder::Finder(SettingsStore& store, MessageBoxes& boxes, const QString& computerName,
               const QString& userName, QWidget* parent)
    : QMainWindow(parent), store_(store), boxes_(boxes),
      rootText_(computerName + u'(' + userName + u')') {
    setWindowTitle(programTitle());
    setWindowIcon(QIcon(QStringLiteral(":/images/computer.svg")));
    setCentralWidget(new QWidget(this));
    resize(twips(8280), twips(5400));
}

} // namespace keyloft
