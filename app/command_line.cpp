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

#ifdef _WIN32
// The stream the starting program handed over: a file, a pipe or a console. Wine starts a program
// from a Unix shell with such handles but without STARTF_USESTDHANDLES, by which Qt tells, and a
// GUI program's C streams are not tied to them; so both are passed by.
HANDLE handedOver(DWORD stream) {
    HANDLE handle = GetStdHandle(stream);
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const DWORD type = GetFileType(handle);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR ? handle
                                                                                      : nullptr;
}

bool write(HANDLE handle, const QString& text) {
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode))
        return WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(text.utf16()),
                             static_cast<DWORD>(text.size()), &written, nullptr);
    const QByteArray bytes = text.toUtf8();
    return WriteFile(handle, bytes.constData(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == static_cast<DWORD>(bytes.size());
}
#endif

// Where Qt would show the help: on standard error, or on Windows where no stream was handed over
// in a message box.
void showError(const QString& text) {
    const QString line =
        QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + u": "_s + text;
#ifdef _WIN32
    if (HANDLE handle = handedOver(STD_ERROR_HANDLE)) {
        write(handle, line + u'\n');
        return;
    }
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(line.utf16()), L"Keyloft",
                MB_OK | MB_ICONEXCLAMATION);
#else
    std::fputs(qPrintable(line + u'\n'), stderr);
#endif
}

} // namespace

std::optional<CommandLine> readCommandLine(const QCoreApplication& app, bool complete) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Visual Basic のプログラムが GetSetting/SaveSetting で保存した設定を表示・編集します。"_s);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
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
#ifdef _WIN32
    // Help and version to a stream handed over, where Qt would show a message box.
    if (HANDLE out = handedOver(STD_OUTPUT_HANDLE);
        out && (parser.isSet(version) || parser.isSet(help))) {
        write(out, parser.isSet(version) ? QCoreApplication::applicationName() + u' ' +
                                               QCoreApplication::applicationVersion() + u'\n'
                                         : parser.helpText());
        return CommandLine{0, {}};
    }
#else
    Q_UNUSED(help);
    Q_UNUSED(version);
#endif
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
