#pragma once

#include "bridge/bridge_protocol.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Keyloft's side of the bridge: keyloft-bridge.exe run under the prefix's own Wine, asked one
// request at a time over pipes, never waited for longer than a set limit.
namespace keyloft::wine {

// Waits no longer than these, so that the window never freezes for longer: a Wine program starts
// against a running server in well under a second, and every request takes milliseconds.
inline constexpr std::chrono::seconds kBridgeStartLimit{10};
inline constexpr std::chrono::seconds kBridgeAnswerLimit{5};

// Why the bridge could not be used; `gone` when it ended (it may be started again), not when it
// failed to answer in time or answered nonsense.
struct BridgeFailure {
    Text reason;
    bool gone = false;
};

class Bridge {
public:
    // Starts `exe` under `wine` in the prefix and greets it by `deadline`. Throws BridgeFailure,
    // with `gone` when `abandon`, asked every few milliseconds meanwhile, says to give up.
    Bridge(const std::filesystem::path& wine, const std::filesystem::path& exe,
           const std::filesystem::path& prefix, std::chrono::steady_clock::time_point deadline,
           const std::function<bool()>& abandon);
    // Closes the bridge's stdin, which ends it, and reaps it.
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Sends one framed request and returns the reply's body after its status. Throws the
    // store's error the bridge reported, or BridgeFailure; after a failure the bridge is of no
    // further use.
    std::string call(const std::string& request,
                     std::chrono::steady_clock::duration limit = kBridgeAnswerLimit);

private:
    std::string exchange(const std::string& request, std::chrono::steady_clock::time_point deadline,
                         const std::function<bool()>& abandon = nullptr);
    [[noreturn]] void fail(Text reason, bool gone);
    void stop() noexcept;

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1; // the bridge's stdin, stdout and stderr
    std::string errors_;                // the last of what Wine printed on stderr
    bool broken_ = false;
};

// The bridge's file for the prefix's word size, in `folder`.
std::filesystem::path bridgeFile(const std::filesystem::path& folder, bool win32);
// Where the bridges are installed relative to the running program; empty when that is unknown.
std::filesystem::path installedBridgeFolder();

} // namespace keyloft::wine
