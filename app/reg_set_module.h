#pragma once

#include <QString>

#include <memory>

namespace keyloft {

class BrowserOpener;
class Finder;
class IdentitySource;
class MessageBoxes;
class SettingsStore;

// The workstation identity, fetched once at start-up; the tree's root is labelled with it.
extern QString gComputerName;
extern QString gUserName;

// Fetches the identity and opens the main window. Returns no window when the identity could not
// be read: the user has been told, and the program is to end.
std::unique_ptr<Finder> Main(const IdentitySource& identity, MessageBoxes& boxes,
                             BrowserOpener& browser, SettingsStore& store);

} // namespace keyloft
