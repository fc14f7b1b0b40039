#pragma once

#include <filesystem>
#include <optional>

class QCoreApplication;

namespace keyloft {

// What the command line asks for.
struct CommandLine {
    // End at once with this status: the help, the version or an error has been shown.
    std::optional<int> exitCode;
    // The Wine prefix to open in place of the one the environment names.
    std::filesystem::path prefix;
};

// Reads app's arguments. Help and version go to standard output, an error as one line to
// standard error (as Qt does for help, in a message box on Windows where no console shows it).
// While Qt's own options (-platform, -style ...) may still be among the arguments, `complete`
// is false and an unknown option gives none: read again once a QApplication has taken them out.
std::optional<CommandLine> readCommandLine(const QCoreApplication& app, bool complete);

// Whether the environment or the arguments name a display (or a platform) for a QApplication.
bool displayNamed(int argc, char* argv[]);

} // namespace keyloft
