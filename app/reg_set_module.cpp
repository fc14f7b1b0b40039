#include "reg_set_module.h"

#include "finder.h"
#include "identity.h"
#include "message_boxes.h"

#include <QGuiApplication>

namespace keyloft {

QString gComputerName;
QString gUserName;

std::unique_ptr<Finder> Main(const IdentitySource& identity, MessageBoxes& boxes,
                             BrowserOpener& browser, SettingsStore& store) {
    if (!GetPcInfo(identity, gComputerName, gUserName)) {
        boxes.show(nullptr, QStringLiteral("ＰＣ情報の取得に失敗しました。処理を中断します。"),
                   QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok);
        return nullptr;
    }
    // Loading the window reads the whole list of applications.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    auto finder = std::make_unique<Finder>(store, boxes, browser, gComputerName, gUserName);
    QGuiApplication::restoreOverrideCursor();
    finder->show();
    return finder;
}

} // namespace keyloft
