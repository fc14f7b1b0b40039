#include "browser_opener.h"
#include "command_line.h"
#include "finder.h"
#include "identity.h"
#include "message_boxes.h"
#include "program_info.h"
#include "reg_set_module.h"
#include "settings_store.h"
#include "translation.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char* argv[]) {
    using namespace keyloft;
    using namespace Qt::StringLiterals;
    QCoreApplication::setApplicationName(programTitle());
    QCoreApplication::setApplicationVersion(u"%1.%2.%3"_s.arg(identity::kVersionMajor)
                                                .arg(identity::kVersionMinor)
                                                .arg(identity::kVersionRevision));
    std::unique_ptr<QTranslator> japanese;
    std::optional<CommandLine> command;
    {
        // Help, version and a wrong prefix need no display.
        QCoreApplication early(argc, argv);
        japanese = loadJapaneseQtTranslation();
        QCoreApplication::installTranslator(japanese.get());
        command = readCommandLine(early, false);
        // Without a display QApplication would abort before it could take Qt's own options out:
        // an option unknown here is then wrong whatever Qt makes of it.
        if (!command && !displayNamed(argc, argv))
            command = readCommandLine(early, true);
    }
    if (command && command->exitCode)
        return *command->exitCode;

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(fromIdentity(identity::kAppId));
    QCoreApplication::installTranslator(japanese.get());
    if (!command)
        command = readCommandLine(app, true);
    if (command->exitCode)
        return *command->exitCode;

    SystemIdentity workstation;
    QtMessageBoxes boxes;
    DesktopBrowserOpener browser;
    const auto store = openDefaultStore(command->prefix);
    const auto finder = Main(workstation, boxes, browser, *store);
    if (!finder)
        return 1;
    return QApplication::exec();
}
