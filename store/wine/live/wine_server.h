#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// A running wineserver holds the prefix's registry in memory and overwrites user.reg when it
// saves, so Keyloft must neither write while one runs nor let one start while it writes.
namespace keyloft::wine {

// Where a wineserver for the prefix (identified by its device and inode) keeps its socket and
// lock: upstream Wine's folder under /tmp/.wine-<uid>/, and Debian's under
// ${TMPDIR:-/tmp}/<name read from PREFIX/wineserver>/ when that file exists.
std::vector<std::filesystem::path> serverFolders(const std::filesystem::path& prefix, dev_t device,
                                                 ino_t inode);

// Pid of a wineserver that runs for the prefix, or 0. Creates nothing. Waits while another
// Keyloft holds the PrefixLock; throws errors::lockFailed if it holds it too long.
long runningServer(const std::filesystem::path& prefix);

// Pid of a wineserver that holds the prefix folder open although runningServer() does not see it
// (Wine in a sandbox with a /tmp of its own), or 0. A server keeps its prefix open whatever mount
// namespace it runs in, so /proc finds it where its socket folder cannot be seen.
long hiddenServer(const std::filesystem::path& prefix);

// The Wine loaders that can be clients of the server with this pid, best first: its own build's
// (a client of another Wine version is refused), then "wine" from PATH. A 32-bit prefix wants
// the 32-bit loader first.
std::vector<std::filesystem::path> winesFor(long serverPid, bool win32);

// Whether the prefix's registry says it is a 32-bit Windows ("#arch=win32").
bool isWin32Prefix(const std::filesystem::path& prefix);

// Takes the lock byte of the running server's folder the moment that server lets it go, and
// holds it until destroyed: a Wine program started meanwhile, finding no server, then cannot
// start one (it gives up after a few seconds), so whatever Keyloft starts never starts a server.
class ServerEndWatch {
public:
    explicit ServerEndWatch(const std::filesystem::path& prefix);
    ~ServerEndWatch();
    ServerEndWatch(const ServerEndWatch&) = delete;
    ServerEndWatch& operator=(const ServerEndWatch&) = delete;

    // Whether the server has ended (and its lock byte is now held here). Does not wait.
    bool ended();

private:
    int fd_ = -1;
    bool held_ = false;
};

// Held across one read-modify-write: an exclusive flock() on the prefix directory keeps other
// Keyloft processes out, and the lock byte of every server folder keeps any wineserver from
// starting meanwhile. Throws errors::serverRunning when a server runs, errors::lockFailed when a
// lock cannot be had. Released on destruction.
class PrefixLock {
public:
    explicit PrefixLock(const std::filesystem::path& prefix);
    ~PrefixLock();
    PrefixLock(const PrefixLock&) = delete;
    PrefixLock& operator=(const PrefixLock&) = delete;

private:
    void release() noexcept;

    int dirFd_ = -1;
    std::vector<int> lockFds_;
};

} // namespace keyloft::wine
