// The two backends read each other's writes through one real Wine prefix.
#include "agreement_data.h"
#include "temp_prefix.h"

#include <gtest/gtest.h>

namespace keyloft::agreement {
namespace {

using testing::run;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class StoreAgreement : public ::testing::Test {
protected:
    // Until the prefix's wineserver has saved the registry and exited, user.reg is stale and
    // must not be written.
    static void settle() { ASSERT_EQ(run({env("KEYLOFT_WINESERVER"), "-w"}), 0); }
    // Runs store_agree_tool.exe (KEYLOFT_WINDOWS_TOOL), the registry backend's half, under Wine.
    static int tool(const char* mode, const std::filesystem::path& out = "/dev/null") {
        return run({env("KEYLOFT_WINE"), env("KEYLOFT_WINDOWS_TOOL"), mode}, out);
    }
    // The area as the registry backend lists it.
    static std::string registryDump() {
        const auto file = std::filesystem::path(env("WINEPREFIX")).parent_path() / "dump.txt";
        EXPECT_EQ(tool("dump", file), 0);
        return testing::readFile(file);
    }
};

TEST_F(StoreAgreement, FileBackendReadsWhatTheRegistryBackendWrote) {
    ASSERT_EQ(tool("write"), 0);
    ASSERT_EQ(registryDump(), dump(expected())) << "the registry backend disagrees with itself";
    settle();
    EXPECT_EQ(dump(read(*openWinePrefixStore(env("WINEPREFIX")))), dump(expected()));
}

TEST_F(StoreAgreement, RegistryBackendReadsWhatTheFileBackendWrote) {
    settle();
    const auto store = openWinePrefixStore(env("WINEPREFIX"));
    write(*store);
    ASSERT_EQ(dump(read(*store)), dump(expected())) << "the file backend disagrees with itself";
    EXPECT_EQ(registryDump(), dump(expected()));
}

} // namespace
} // namespace keyloft::agreement
