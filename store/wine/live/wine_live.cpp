#include "wine_live.h"

#include "store_error.h"
#include "wine/posix_file.h"
#include "wine_server.h"

namespace keyloft::wine {

using posix::pathText;

LiveRegistry::LiveRegistry(std::filesystem::path prefix, std::filesystem::path bridges)
    : prefix_(std::move(prefix)), bridges_(std::move(bridges)) {}

std::optional<std::string> LiveRegistry::ask(const std::string& request) {
    for (int attempt = 0;; ++attempt) {
        const long server = runningServer(prefix_);
        if (server != server_) { // a client of a server that has gone
            bridge_.reset();
            server_ = 0;
        }
        if (!server)
            return std::nullopt;
        if (!bridge_ && !start(server))
            return std::nullopt; // the server ended just now
        try {
            return bridge_->call(request);
        } catch (const BridgeFailure& f) {
            bridge_.reset();
            server_ = 0;
            // One that ended (killed, or its server gone) is started again once.
            if (!f.gone || attempt > 0)
                throw errors::bridgeFailed(pathText(prefix_), f.reason);
        }
    }
}

bool LiveRegistry::start(long server) {
    const bool win32 = isWin32Prefix(prefix_);
    const auto exe = bridgeFile(bridges_, win32);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(exe, ec))
        throw errors::serverUnreachable(pathText(prefix_),
                                        u"中継プログラム「" + pathText(exe) + u"」がありません");
    Text reasons;
    // Were the server to end while the bridge starts, the bridge's Wine would start one.
    ServerEndWatch watch(prefix_);
    const auto ended = [&] { return watch.ended(); };
    // One limit for all the Wines tried, so that the window waits no longer in all.
    const auto deadline = std::chrono::steady_clock::now() + kBridgeStartLimit;
    // The server's own Wine first: the server refuses a client of another version.
    for (const auto& wine : winesFor(server, win32)) {
        try {
            bridge_ = std::make_unique<Bridge>(wine, exe, prefix_, deadline, ended);
            server_ = server;
            return true;
        } catch (const BridgeFailure& f) {
            if (watch.ended())
                return false;
            if (!reasons.empty())
                reasons += u"、";
            reasons += pathText(wine) + u": " + f.reason;
        }
    }
    throw errors::serverUnreachable(pathText(prefix_), reasons);
}

} // namespace keyloft::wine
