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

// Pid of a wineserver that runs for the prefix, or 0. Creates nothing.
long runningServer(const std::filesystem::path& prefix);

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
