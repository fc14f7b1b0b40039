// The two backends read each other's writes through one real Wine prefix.
#include "agreement_data.h"
#include "temp_prefix.h"

#include <gtest/gtest.h>

namespace keyloft::agreement {
namespace {

using testing::run;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
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
        const auto file = std::filesystem::path(prefix_).parent_path() / "dump.txt";
        EXPECT_EQ(run({environment("KEYLOFT_WINE"), tool_, "dump"}, file), 0);
        return testing::readFile(file);
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
