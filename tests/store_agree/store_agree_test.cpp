#include "agreement_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace keyloft::agreement {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Exit status of the program, or -1; stdout goes to a file, not a pipe, because wineserver
// inherits it and lives on after wine exits.
int run(std::vector<std::string> argv, const std::filesystem::path& output = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StoreAgreement : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(prefix_.empty()) << "WINEPREFIX is not set";
        ASSERT_TRUE(std::filesystem::is_regular_file(tool_))
            << "no store_agree_tool.exe at \"" << tool_ << "\" (KEYLOFT_WINDOWS_TOOL)";
    }

    // Until the prefix's wineserver has saved the registry and exited, user.reg is stale and
    // must not be written.
    void settle() { ASSERT_EQ(run({environment("KEYLOFT_WINESERVER"), "-w"}), 0); }

    std::string registryDump() {
        const std::filesystem::path file =
            std::filesystem::path(prefix_).parent_path() / "dump.txt";
        EXPECT_EQ(run({environment("KEYLOFT_WINE"), tool_, "dump"}, file), 0);
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    const std::string prefix_ = environment("WINEPREFIX");
    const std::string tool_ = environment("KEYLOFT_WINDOWS_TOOL");
};

TEST_F(StoreAgreement, FileBackendReadsWhatTheRegistryBackendWrote) {
    ASSERT_EQ(run({environment("KEYLOFT_WINE"), tool_, "write"}), 0);
    ASSERT_EQ(registryDump(), dump(expected())) << "the registry backend disagrees with itself";
    settle();
    EXPECT_EQ(dump(read(*openWinePrefixStore(prefix_))), dump(expected()));
}

TEST_F(StoreAgreement, RegistryBackendReadsWhatTheFileBackendWrote) {
    settle();
    const auto store = openWinePrefixStore(prefix_);
    write(*store);
    ASSERT_EQ(dump(read(*store)), dump(expected())) << "the file backend disagrees with itself";
    EXPECT_EQ(registryDump(), dump(expected()));
}

} // namespace
} // namespace keyloft::agreement
