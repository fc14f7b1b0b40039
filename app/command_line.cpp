#include "command_line.h"

#include "settings_store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace keyloft {

using namespace Qt::StringLiterals;

namespace {

// Where Qt would show the help: on standard error, or on Windows without a console (and without
// redirected output) in a message box.
void showError(const QString& text) {
    const QString line =
        QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + u": "_s + text;
#ifdef _WIN32
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    if (!GetConsoleWindow() && !(startup.dwFlags & STARTF_USESTDHANDLES)) {
        MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(line.utf16()), L"Keyloft",
                    MB_OK | MB_ICONEXCLAMATION);
        return;
    }
#endif
    std::fputs(qPrintable(line + u'\n'), stderr);
}

} // namespace

std::optional<CommandLine> readCommandLine(const QCoreApplication& app, bool complete) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Visual Basic のプログラムが GetSetting/SaveSetting で保存した設定を表示・編集します。"_s);
    parser.addHelpOption();
    parser.addVersionOption();
#ifndef _WIN32
    parser.addPositionalArgument(u"PREFIX"_s,
                                 u"開く Wine のプレフィックス（フォルダーか、その user.reg）。"
                                 u"省略すると $WINEPREFIX、それもなければ ~/.wine。"_s,
                                 u"[PREFIX]"_s);
#endif
    if (!parser.parse(app.arguments())) {
        if (!complete)
            return std::nullopt;
        showError(parser.errorText());
        return CommandLine{2, {}};
    }
    // Help (also with Qt's own options) and version: shown, and the program ends here.
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
#ifdef _WIN32
    constexpr qsizetype accepted = 0; // the registry: no prefix to name
#else
    constexpr qsizetype accepted = 1;
#endif
    if (arguments.size() > accepted) {
        showError(u"余分な引数があります: "_s + arguments.mid(accepted).join(u' '));
        return CommandLine{2, {}};
    }
    if (arguments.isEmpty())
        return CommandLine{};
    if (auto prefix = winePrefixOf(QFile::encodeName(arguments.first()).toStdString()))
        return CommandLine{std::nullopt, std::move(*prefix)};
    showError(u"「"_s + arguments.first() +
              u"」は Wine のプレフィックスではありません（user.reg のあるフォルダーか、"
              u"その user.reg を指定してください）。"_s);
    return CommandLine{2, {}};
}

bool displayNamed(int argc, char* argv[]) {
#if defined(_WIN32) || defined(__APPLE__)
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return true; // the desktop is always there
#else
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0 ||
            std::strcmp(argv[i], "-display") == 0 || std::strcmp(argv[i], "--display") == 0)
            return true;
    return false;
#endif
}

} // namespace keyloft
