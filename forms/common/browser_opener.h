#pragma once

#include <QString>

namespace keyloft {

// Opens an address in a browser window. Tests hand in their own, so no browser starts.
class BrowserOpener {
public:
    virtual ~BrowserOpener() = default;
    // False when nothing could open it; callers that ignore failures may ignore this too.
    virtual bool open(const QString& address) = 0;
};

// The desktop's own browser, or the program it opens local files with.
class DesktopBrowserOpener final : public BrowserOpener {
public:
    bool open(const QString& address) override;
};

} // namespace keyloft
