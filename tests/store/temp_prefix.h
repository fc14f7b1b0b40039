#pragma once

#include "settings_store.h"
#include "text_codec.h"
#include "wine_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace keyloft::testing {

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
        const auto forget = [&](const std::filesystem::path& p) {
            struct stat st {};
            if (::stat(p.c_str(), &st) == 0)
                for (const auto& folder : wine::serverFolders(p, st.st_dev, st.st_ino))
                    if (folder.parent_path() == upstream)
                        std::filesystem::remove_all(folder, ec);
        };
        forget(path_);
        for (std::filesystem::recursive_directory_iterator it(path_, ec), end; !ec && it != end;
             it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                forget(it->path());
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Replaces the file by a new one, as a rename-based writer would.
inline void writeFile(const std::filesystem::path& p, std::string_view bytes) {
    const auto tmp = p.string() + ".new";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::rename(tmp, p);
}

// Sets an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

inline std::string u8(std::u16string_view s) {
    return utf16ToUtf8(s);
}
inline Text u16(std::string_view s) {
    return utf8ToUtf16(s);
}

} // namespace keyloft::testing
