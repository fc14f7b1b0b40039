#pragma once

#include "settings_store.h"
#include "wine/live/wine_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace keyloft::testing {

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::filesystem::path& p, std::string_view bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// A Wine prefix in a scratch folder of its own that goes away with the test; the prefix does not
// exist until something writes it.
class TempPrefix {
public:
    TempPrefix() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "keyloft-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    // Writes leave a server folder for the prefix in /tmp/.wine-<uid>, as Wine does; it goes too.
    ~TempPrefix() {
        struct stat st {};
        std::error_code ec;
        if (::stat(prefix().c_str(), &st) == 0)
            std::filesystem::remove_all(wine::serverFolders(prefix(), st.st_dev, st.st_ino)[0], ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempPrefix(const TempPrefix&) = delete;
    TempPrefix& operator=(const TempPrefix&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path prefix() const { return path_ / "pfx"; }
    std::filesystem::path file() const { return prefix() / "user.reg"; }
    void put(std::string_view text) const {
        std::filesystem::create_directories(prefix());
        writeFile(file(), text);
    }
    std::unique_ptr<SettingsStore> open() const { return openWinePrefixStore(prefix()); }

private:
    std::filesystem::path path_;
};

// Runs a program (searched in PATH) through the shell; its exit status, or -1. Its output goes to
// a file, not a pipe, because a wineserver it starts inherits the output and lives on after it.
inline int run(const std::vector<std::string>& argv,
               const std::filesystem::path& out = "/dev/null") {
    std::string command;
    for (const std::string& arg : argv) {
        command += " '";
        for (const char c : arg)
            command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "'";
    }
    const int status = std::system((command + " >'" + out.string() + "'").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace keyloft::testing
