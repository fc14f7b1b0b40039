#pragma once

#include "settings_store.h"
#include "text_codec.h"
#include "wine_server.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace keyloft::testing {

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Replaces the file by a new one, as a rename-based writer would.
inline void writeFile(const std::filesystem::path& p, std::string_view bytes) {
    const auto tmp = p.string() + ".new";
    std::ofstream(tmp, std::ios::binary | std::ios::trunc) << bytes;
    std::filesystem::rename(tmp, p);
}

// A scratch folder that goes away with the test.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "keyloft-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        // Writes leave a server folder per prefix in /tmp/.wine-<uid>, as Wine does; these
        // prefixes are gone, so are their folders.
        std::error_code ec;
        const std::filesystem::path upstream = "/tmp/.wine-" + std::to_string(::getuid());
        for (std::filesystem::recursive_directory_iterator it(path_, ec), end; !ec && it != end;
             it.increment(ec)) {
            struct stat st {};
            if (it->is_directory(ec) && !it->is_symlink(ec) && ::stat(it->path().c_str(), &st) == 0)
                for (const auto& folder : wine::serverFolders(it->path(), st.st_dev, st.st_ino))
                    if (folder.parent_path() == upstream)
                        std::filesystem::remove_all(folder, ec);
        }
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A Wine prefix in a scratch folder of its own; it does not exist until something writes it.
class TempPrefix : public TempDir {
public:
    std::filesystem::path prefix() const { return path() / "pfx"; }
    std::filesystem::path file() const { return prefix() / "user.reg"; }
    void put(std::string_view text) const {
        std::filesystem::create_directories(prefix());
        writeFile(file(), text);
    }
    std::unique_ptr<SettingsStore> open() const { return openWinePrefixStore(prefix()); }
};

// Runs a program (searched in PATH, no shell); its exit status, or -1. Its output goes to a file,
// not a pipe, because a wineserver it starts inherits the output and lives on after it.
inline int run(std::vector<std::string> argv, const std::filesystem::path& out = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace keyloft::testing
