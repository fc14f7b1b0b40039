#pragma once

#include "wine_bridge.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace keyloft::wine {

// The registry a running wineserver keeps in memory for the prefix: while one runs, it, not
// user.reg, is what Wine programs see, and the only place a change lasts. Looked for at every
// request, so a server that starts or ends between two requests is followed.
class LiveRegistry {
public:
    LiveRegistry(std::filesystem::path prefix, std::filesystem::path bridges);

    // The running server's reply to a framed request (its body after the status); none when no
    // server runs that Keyloft can reach through its socket folder, and user.reg is the truth.
    // Throws the store's error the registry reported, errors::serverUnreachable when a server
    // runs but the bridge cannot start, errors::bridgeFailed when it failed to answer.
    std::optional<std::string> ask(const std::string& request);

private:
    // False when the server ended meanwhile.
    bool start(long server);

    std::filesystem::path prefix_;
    std::filesystem::path bridges_;
    std::unique_ptr<Bridge> bridge_;
    long server_ = 0; // the server the bridge is a client of
};

} // namespace keyloft::wine
