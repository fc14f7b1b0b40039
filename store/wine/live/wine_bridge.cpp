#include "wine_bridge.h"

#include "text_codec.h"
#include "wine/posix_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ; // NOLINT: POSIX names it so

namespace keyloft::wine {

namespace {

using Clock = std::chrono::steady_clock;
using posix::errnoText;

// Not inherited by the bridge, nor by any other program this process starts.
bool cloexecPipe(int fds[2]) {
#ifdef __linux__
    return ::pipe2(fds, O_CLOEXEC) == 0;
#else
    if (::pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i)
        ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    return true;
#endif
}
using posix::pathText;

// What Wine printed last on stderr is kept for the error a failure shows; no more than this.
constexpr std::size_t kErrorTail = 2000;

void closeFd(int& fd) noexcept {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// A write to a bridge that has ended must fail with EPIPE, not end Keyloft with SIGPIPE.
ssize_t writeWithoutSigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipe{};
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending{};
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    sigset_t old{};
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    const ssize_t written = ::write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !pendingBefore) {
        const timespec now{};
        sigtimedwait(&pipe, nullptr, &now); // the one this write raised
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return written;
}

std::vector<std::string> environmentFor(const std::filesystem::path& prefix) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (const std::string_view v(*e);
            !v.starts_with("WINEPREFIX=") && !v.starts_with("WINEDEBUG="))
            env.emplace_back(v);
    env.push_back("WINEPREFIX=" + prefix.string());
    // Wine's messages go to stderr, never into the replies; quiet, they cost no time either.
    env.emplace_back("WINEDEBUG=-all");
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

} // namespace

Bridge::Bridge(const std::filesystem::path& wine, const std::filesystem::path& exe,
               const std::filesystem::path& prefix, Clock::time_point deadline,
               const std::function<bool()>& abandon) {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (!cloexecPipe(in) || !cloexecPipe(out) || !cloexecPipe(err)) {
        const int error = errno;
        for (int* p : {in, out, err})
            for (int i : {0, 1})
                closeFd(p[i]);
        throw BridgeFailure{u"pipe: " + errnoText(error)};
    }
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // Its own process group: a Ctrl+C meant for Keyloft in a terminal is not the bridge's.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none{}, defaults{};
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    std::vector<std::string> args{wine.string(), exe.string()};
    std::vector<std::string> env = environmentFor(prefix);
    const auto argv = pointers(args);
    const auto envp = pointers(env);
    const int rc = (wine.has_parent_path() ? posix_spawn : posix_spawnp)(
        &pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(err[1]);
    if (rc != 0) {
        pid_ = -1;
        fail(u"「" + pathText(wine) + u"」を起動できません: " + errnoText(rc), false);
    }
    for (const int fd : {in_, out_, err_})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    try {
        std::string reply =
            exchange(bridge::Writer().u8(static_cast<std::uint8_t>(bridge::Op::Hello)).frame(),
                     deadline, abandon);
        bridge::Reader hello(reply);
        if (hello.u8() != static_cast<std::uint8_t>(bridge::Status::Ok))
            throw bridge::ProtocolError{"no greeting"};
        const std::uint32_t version = hello.u32();
        hello.u32(); // its pointer size
        hello.end();
        if (version != bridge::kVersion)
            fail(u"中継プログラムの版が違います", false);
    } catch (const bridge::ProtocolError&) {
        fail(u"中継プログラムの応答を解釈できません", false);
    }
}

Bridge::~Bridge() {
    stop();
}

std::string Bridge::call(const std::string& request, Clock::duration limit) {
    if (broken_)
        throw BridgeFailure{u"中継プログラムは使えなくなっています", true};
    std::string body = exchange(request, Clock::now() + limit);
    try {
        bridge::Reader reply(body);
        const auto status = static_cast<bridge::Status>(reply.u8());
        if (status == bridge::Status::Error) {
            const auto number = static_cast<long>(reply.u32());
            Text description = reply.text();
            reply.end();
            throw StoreError(number, std::move(description));
        }
        if (status != bridge::Status::Ok)
            throw bridge::ProtocolError{"unknown status"};
    } catch (const bridge::ProtocolError&) {
        fail(u"中継プログラムの応答を解釈できません", false);
    }
    return body.substr(1);
}

std::string Bridge::exchange(const std::string& request, Clock::time_point deadline,
                             const std::function<bool()>& abandon) {
    std::size_t sent = 0;
    std::string received;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            fail(u"応答がありません", false);
        if (abandon && abandon())
            fail(u"wineserver が終了しました", true);
        pollfd fds[3] = {
            {out_, POLLIN, 0}, {err_, POLLIN, 0}, {sent < request.size() ? in_ : -1, POLLOUT, 0}};
        const int wait =
            abandon ? std::min(2, static_cast<int>(left.count())) : static_cast<int>(left.count());
        if (::poll(fds, 3, wait) < 0) {
            if (errno == EINTR)
                continue;
            fail(u"poll: " + errnoText(errno), false);
        }
        if (fds[2].revents) {
            const ssize_t n =
                writeWithoutSigpipe(in_, request.data() + sent, request.size() - sent);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
            else if (errno != EAGAIN && errno != EINTR)
                fail(u"中継プログラムが終了しました", true);
        }
        if (fds[1].revents) {
            const ssize_t n = ::read(err_, buffer, sizeof buffer);
            if (n > 0) {
                errors_.append(buffer, static_cast<std::size_t>(n));
                if (errors_.size() > kErrorTail)
                    errors_.erase(0, errors_.size() - kErrorTail);
            } else if (n == 0) {
                closeFd(err_);
            }
        }
        if (fds[0].revents) {
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                fail(u"中継プログラムが終了しました", true);
            if (n > 0)
                received.append(buffer, static_cast<std::size_t>(n));
            try {
                if (const auto length = bridge::frameLength(received)) {
                    if (received.size() > 4 + std::size_t{*length})
                        fail(u"中継プログラムの応答を解釈できません", false);
                    if (received.size() == 4 + std::size_t{*length})
                        return received.substr(4);
                }
            } catch (const bridge::ProtocolError&) {
                fail(u"中継プログラムの応答を解釈できません", false);
            }
        }
    }
}

void Bridge::fail(Text reason, bool gone) {
    broken_ = true;
    if (!gone && pid_ > 0)
        ::kill(pid_, SIGKILL); // it cannot be trusted with another request
    stop();
    // Wine says why it could not run the program (a client of another version, a missing
    // loader, ...) on stderr: its last line.
    std::string said = errors_;
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' '))
        said.pop_back();
    if (const auto line = said.find_last_of('\n'); line != std::string::npos)
        said.erase(0, line + 1);
    if (!said.empty())
        reason += u"（" + utf8ToUtf16(said) + u"）";
    throw BridgeFailure{std::move(reason), gone};
}

void Bridge::stop() noexcept {
    closeFd(in_); // the bridge reads the end of its input and ends
    if (pid_ > 0) {
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        pid_ = -1;
    }
    if (err_ >= 0) { // what it said last, for fail()
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(err_, buffer, sizeof buffer)) > 0)
            errors_.append(buffer, static_cast<std::size_t>(n));
        if (errors_.size() > kErrorTail)
            errors_.erase(0, errors_.size() - kErrorTail);
    }
    closeFd(out_);
    closeFd(err_);
}

std::filesystem::path bridgeFile(const std::filesystem::path& folder, bool win32) {
    return folder / (win32 ? "keyloft-bridge-i686.exe" : "keyloft-bridge-x86_64.exe");
}

std::filesystem::path installedBridgeFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return (self.parent_path() / KEYLOFT_BRIDGE_FROM_PROGRAM).lexically_normal();
}

} // namespace keyloft::wine
