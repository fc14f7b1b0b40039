#pragma once

#include "browser_opener.h"

#include <QStringList>

namespace keyloft::testing {

// Records the addresses it is asked to open and answers as scripted; starts no browser.
class RecordingBrowser final : public BrowserOpener {
public:
    QStringList opened;
    bool succeeds = true;

    bool open(const QString& address) override {
        opened.append(address);
        return succeeds;
    }
};

} // namespace keyloft::testing
