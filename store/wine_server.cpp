#include "wine_server.h"

#include "posix_file.h"
#include "store_error.h"
#include "text_codec.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace keyloft::wine {

namespace {

using posix::errnoText;
using posix::pathText;

// The folder name Debian's Wine keeps in PREFIX/wineserver, if it is one.
std::string debianFolderName(const std::filesystem::path& prefix) {
    const int fd = ::open((prefix / "wineserver").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf)
        return {};
    std::string name(buf, static_cast<std::size_t>(n));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        return {};
    return name;
}

struct ::flock lockByte(short type) {
    struct ::flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    return fl;
}

// Pid holding the server lock byte of the file open at fd, or 0.
long holder(int fd) {
    struct ::flock fl = lockByte(F_WRLCK);
    if (::fcntl(fd, F_GETLK, &fl) != 0 || fl.l_type == F_UNLCK)
        return 0;
    return fl.l_pid > 0 ? fl.l_pid : 1;
}

// Pid of a server holding the lock of one of these folders, or 0. Opens without creating.
long serverHolding(const std::vector<std::filesystem::path>& folders) {
    for (const auto& folder : folders) {
        const int fd = ::open((folder / "lock").c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const long pid = holder(fd);
        ::close(fd);
        if (pid)
            return pid;
    }
    return 0;
}

// Wine refuses server folders that are not private to the user; so do we, and we create
// missing ones the way Wine does.
void ensurePrivateDir(const std::filesystem::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw errors::lockFailed(pathText(dir), errnoText(errno));
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        throw errors::lockFailed(pathText(dir), errnoText(errno));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
        throw errors::lockFailed(pathText(dir),
                                 u"ほかのユーザーのフォルダーか、公開されたフォルダーです");
}

} // namespace

std::vector<std::filesystem::path> serverFolders(const std::filesystem::path& prefix, dev_t device,
                                                 ino_t inode) {
    const std::string leaf = "server-" + digits(static_cast<std::uint64_t>(device), 16) + "-" +
                             digits(static_cast<std::uint64_t>(inode), 16);
    std::vector<std::filesystem::path> folders;
    folders.push_back(std::filesystem::path("/tmp") / (".wine-" + digits(::getuid())) / leaf);
    if (const std::string name = debianFolderName(prefix); !name.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        const std::filesystem::path base = tmp && *tmp ? tmp : "/tmp";
        if (base / name / leaf != folders.front())
            folders.push_back(base / name / leaf);
    }
    return folders;
}

long runningServer(const std::filesystem::path& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0)
        return 0;
    return serverHolding(serverFolders(prefix, st.st_dev, st.st_ino));
}

PrefixLock::PrefixLock(const std::filesystem::path& prefix) {
    try {
        dirFd_ = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ < 0)
            throw errors::lockFailed(pathText(prefix), errnoText(errno));
        // Another Keyloft holds it for milliseconds; one that hangs must not hang us.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::flock(dirFd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                throw errors::lockFailed(pathText(prefix), errnoText(errno));
            if (std::chrono::steady_clock::now() > deadline)
                throw errors::lockFailed(pathText(prefix),
                                         u"ほかの Keyloft が書き込みを終えません");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        struct stat st {};
        if (::fstat(dirFd_, &st) != 0)
            throw errors::lockFailed(pathText(prefix), errnoText(errno));
        const Text prefixText = pathText(prefix);
        const auto folders = serverFolders(prefix, st.st_dev, st.st_ino);
        // Look first, creating nothing, so that a running server is reported as such.
        if (serverHolding(folders))
            throw errors::serverRunning(prefixText);
        for (const auto& folder : folders) {
            ensurePrivateDir(folder.parent_path());
            ensurePrivateDir(folder);
            const auto lock = folder / "lock";
            const int fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd < 0)
                throw errors::lockFailed(pathText(lock), errnoText(errno));
            lockFds_.push_back(fd);
            struct ::flock fl = lockByte(F_WRLCK);
            if (::fcntl(fd, F_SETLK, &fl) != 0) {
                if (errno == EAGAIN || errno == EACCES)
                    throw errors::serverRunning(prefixText); // one started just now
                throw errors::lockFailed(pathText(lock), errnoText(errno));
            }
        }
    } catch (...) {
        release();
        throw;
    }
}

PrefixLock::~PrefixLock() {
    release();
}

void PrefixLock::release() noexcept {
    for (const int fd : lockFds_)
        ::close(fd); // closing drops the record lock
    lockFds_.clear();
    if (dirFd_ >= 0)
        ::close(dirFd_);
    dirFd_ = -1;
}

} // namespace keyloft::wine
