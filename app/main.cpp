#include "browser_opener.h"
#include "finder.h"
#include "identity.h"
#include "message_boxes.h"
#include "program_info.h"
#include "reg_set_module.h"
#include "settings_store.h"
#include "translation.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(keyloft::programTitle());
    QGuiApplication::setDesktopFileName(keyloft::fromIdentity(keyloft::identity::kAppId));
    keyloft::installJapaneseQtTranslation(app);

    keyloft::SystemIdentity identity;
    keyloft::QtMessageBoxes boxes;
    keyloft::DesktopBrowserOpener browser;
    const auto store = keyloft::openDefaultStore();
    const auto finder = keyloft::Main(identity, boxes, browser, *store);
    if (!finder)
        return 1;
    return QApplication::exec();
}
