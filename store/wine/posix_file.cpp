#include "posix_file.h"

#include "store_error.h"
#include "text_codec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace keyloft::posix {

Text pathText(const std::filesystem::path& p) {
    return utf8ToUtf16(p.string());
}

Text errnoText(int error) {
    return utf8ToUtf16(std::strerror(error));
}

ReadResult readWhole(const std::filesystem::path& file, wine::FileBytes& out, int& error,
                     struct stat& st, const std::function<void(std::string_view)>& progress) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return error == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return ReadResult::Failed;
    }
    // One byte more than the file holds, so that the read that finds its end needs no more room.
    out.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == out.size())
            out.resize(out.size() + 65536); // it grew meanwhile
        // In parts no larger than the cache, so that `progress` finds them there.
        constexpr std::size_t kPart = 512 * 1024;
        const ssize_t n = ::read(fd, out.data() + got, std::min(out.size() - got, kPart));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
        if (progress)
            progress(std::string_view(out.data(), got));
    }
    out.resize(got);
    ::close(fd);
    return ReadResult::Ok;
}

std::filesystem::path resolveLinks(std::filesystem::path p) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0)
            return p;
        target.resize(static_cast<std::size_t>(n));
        const std::filesystem::path t = target;
        p = t.is_absolute() ? t : p.parent_path() / t;
    }
    return p;
}

void writeAtomically(const std::filesystem::path& shownAs, const std::filesystem::path& target,
                     std::string_view bytes) {
    const auto dir =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    std::random_device rd;
    const auto tmp =
        dir / (".keyloft-" + target.filename().string() + "-" +
               digits(static_cast<std::uint64_t>(::getpid())) + digits(rd(), 16, 8) + ".tmp");
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw errors::writeFailed(pathText(shownAs), errnoText(errno));
    int e = 0;
    if (existed) {
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            e = errno;
        if (!e && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) [[maybe_unused]]
            const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    }
    for (std::size_t done = 0; !e && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            e = errno;
        else
            done += static_cast<std::size_t>(n);
    }
    if (!e && ::fsync(fd) != 0)
        e = errno;
    if (::close(fd) != 0 && !e)
        e = errno;
    if (!e && ::rename(tmp.c_str(), target.c_str()) != 0)
        e = errno;
    if (e) {
        ::unlink(tmp.c_str());
        throw errors::writeFailed(pathText(shownAs), errnoText(e));
    }
    if (const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd); // the rename itself
        ::close(dfd);
    }
}

} // namespace keyloft::posix
