#include "wine_server.h"

#include "store_error.h"
#include "text_codec.h"
#include "wine/posix_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
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

// Takes flock() on the prefix folder open at fd, giving up when another Keyloft holds it too
// long: one that hangs must not hang us.
void lockPrefixDir(int fd, int how, const std::filesystem::path& prefix) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::flock(fd, how | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            throw errors::lockFailed(pathText(prefix), errnoText(errno));
        if (std::chrono::steady_clock::now() > deadline)
            throw errors::lockFailed(pathText(prefix), u"ほかの Keyloft が書き込みを終えません");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
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
    const int dirFd = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    long pid = 0;
    try {
        // Another Keyloft writing holds the server's lock byte too: its write is waited out, so
        // that it is not taken for a server.
        lockPrefixDir(dirFd, LOCK_SH, prefix);
        struct stat st {};
        if (::fstat(dirFd, &st) == 0)
            pid = serverHolding(serverFolders(prefix, st.st_dev, st.st_ino));
    } catch (...) {
        ::close(dirFd);
        throw;
    }
    ::close(dirFd);
    return pid;
}

long hiddenServer(const std::filesystem::path& prefix) {
    struct stat want {};
    if (::stat(prefix.c_str(), &want) != 0)
        return 0;
    const long seen = serverHolding(serverFolders(prefix, want.st_dev, want.st_ino));
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return 0;
    long found = 0;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end || pid == seen)
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        char comm[32] = {};
        const int fd = ::open((dir + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const ssize_t n = ::read(fd, comm, sizeof comm - 1);
        ::close(fd);
        // wineserver, wineserver64, wineserver32: checking only these keeps the walk cheap.
        if (n <= 0 || std::string_view(comm).substr(0, 10) != "wineserver")
            continue;
        DIR* fds = ::opendir((dir + "/fd").c_str());
        if (!fds)
            continue;
        while (const dirent* f = ::readdir(fds)) {
            struct stat st {};
            if (f->d_name[0] != '.' && ::stat((dir + "/fd/" + f->d_name).c_str(), &st) == 0 &&
                st.st_dev == want.st_dev && st.st_ino == want.st_ino) {
                found = pid;
                break;
            }
        }
        ::closedir(fds);
        if (found)
            break;
    }
    ::closedir(proc);
    return found;
}

std::vector<std::filesystem::path> winesFor(long serverPid, bool win32) {
    const std::vector<std::string> names = win32 ? std::vector<std::string>{"wine", "wine64"}
                                                 : std::vector<std::string>{"wine64", "wine"};
    std::vector<std::filesystem::path> wines;
    std::error_code ec;
    const auto server = std::filesystem::read_symlink(
        "/proc/" + digits(static_cast<std::uint64_t>(serverPid)) + "/exe", ec);
    if (!ec) {
        // Distributions keep the loaders beside the server (/usr/lib/wine); Wine's own builds,
        // as Lutris, Proton and Bottles ship them, in the bin/ of the same tree.
        const auto dir = server.parent_path();
        for (const auto& folder : {dir, dir.parent_path() / "bin"})
            for (const std::string& name : names)
                if (const auto wine = folder / name;
                    std::filesystem::is_regular_file(wine, ec) &&
                    ::access(wine.c_str(), X_OK) == 0 &&
                    std::find(wines.begin(), wines.end(), wine) == wines.end())
                    wines.push_back(wine);
    }
    wines.emplace_back("wine");
    return wines;
}

bool isWin32Prefix(const std::filesystem::path& prefix) {
    for (const char* file : {"user.reg", "system.reg"}) {
        const int fd = ::open((prefix / file).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // The line stands in the head, before the first key.
        char head[4096];
        const ssize_t n = ::read(fd, head, sizeof head);
        ::close(fd);
        if (n <= 0)
            continue;
        const std::string_view text(head, static_cast<std::size_t>(n));
        const auto arch = text.find("\n#arch=");
        if (arch != std::string_view::npos)
            return text.substr(arch + 7, 5) == "win32";
    }
    return false;
}

ServerEndWatch::ServerEndWatch(const std::filesystem::path& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0)
        return;
    for (const auto& folder : serverFolders(prefix, st.st_dev, st.st_ino)) {
        const int fd = ::open((folder / "lock").c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && holder(fd)) {
            fd_ = fd;
            return;
        }
        if (fd >= 0)
            ::close(fd);
    }
}

ServerEndWatch::~ServerEndWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ServerEndWatch::ended() {
    if (fd_ < 0 || held_)
        return held_;
        // An open file description's lock: neither dropped by closing another descriptor of the
        // file, nor shared with the PrefixLock this process may take later.
#ifdef F_OFD_SETLK
    struct ::flock fl = lockByte(F_WRLCK);
    held_ = ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
#else
    // Without such locks (macOS), only look: a server could start in the moment after.
    held_ = !holder(fd_);
#endif
    return held_;
}

PrefixLock::PrefixLock(const std::filesystem::path& prefix) {
    try {
        dirFd_ = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ < 0)
            throw errors::lockFailed(pathText(prefix), errnoText(errno));
        lockPrefixDir(dirFd_, LOCK_EX, prefix);
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
