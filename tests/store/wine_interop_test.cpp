// Against real Wine, in one throwaway prefix for the whole run: no write while a wineserver runs;
// Wine takes the file of a prefix that Keyloft created; and the two backends read each other's
// writes, the registry backend under Wine and the Wine prefix file backend here.
#include "agreement_data.h"
#include "store_backend.h"
#include "temp_prefix.h"
#include "wine_server.h"

#include <chrono>
#include <thread>

namespace keyloft::testing {
namespace {

namespace fs = std::filesystem;

const std::string kHkcu = "HKCU\\Software\\VB and VBA Program Settings\\";

class WineInterop : public ::testing::Test {
protected:
    // The shared prefix, made by wineboot once per run.
    static void SetUpTestSuite() {
        if (ready)
            return; // a later suite of the same run
        fs::create_directories(shared.path() / "home");
        ::setenv("HOME", (shared.path() / "home").c_str(), 1); // keeps wineboot out of ~
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        ready = wine({"wineboot", "--init"}) == 0 && wine({"wineserver", "-w"}) == 0 &&
                fs::exists(shared.file());
    }
    static void TearDownTestSuite() { wine({"wineserver", "-k"}); }
    void SetUp() override {
        if (!ready)
            GTEST_SKIP() << "wine is not installed or its prefix could not be made";
        settle();
    }

    // A Wine program (or wineserver) run in the prefix; its exit status.
    static int wine(std::vector<std::string> args, const fs::path& in = shared.prefix(),
                    const fs::path& out = "/dev/null") {
        args.insert(args.begin(), {"env", "WINEPREFIX=" + in.string()});
        return run(args, out);
    }
    // Until the wineserver has saved the registry and exited, user.reg is stale.
    static void settle(const fs::path& in = shared.prefix()) { wine({"wineserver", "-w"}, in); }
    // The key as `wine reg query` prints it; "" when Wine finds no such key.
    static std::string query(const std::string& key, const fs::path& in = shared.prefix()) {
        const fs::path out = shared.path() / "query.txt";
        return wine({"wine", "reg", "query", kHkcu + key}, in, out) == 0 ? readFile(out) : "";
    }

    static inline TempPrefix shared;
    static inline bool ready = false;
};

TEST_F(WineInterop, NoWriteWhileAWineserverRuns) {
    const auto store = shared.open();
    store->SaveSetting(u"Busy", u"Sec", u"k", u"before");
    ASSERT_EQ(wine({"wineserver", "-p30"}), 0); // detaches, and stays for 30 s
    for (int i = 0; i < 100 && !wine::runningServer(shared.prefix()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string before = readFile(shared.file());
    EXPECT_EQ(failure([&] { store->SaveSetting(u"Busy", u"Sec", u"k", u"during"); }),
              "1010 Wine のプレフィックス「" + shared.prefix().string() +
                  "」で wineserver が動作中のため、変更できません（いま書き込んでも wineserver に"
                  "上書きされます）。Wine のプログラムをすべて終了するか「wineserver -k」を実行して"
                  "から、やり直してください。");
    EXPECT_EQ(readFile(shared.file()), before);
    EXPECT_EQ(store->GetSetting(u"Busy", u"Sec", u"k"), u"before"); // reading is fine
    wine({"wineserver", "-k"});
    settle();
    store->SaveSetting(u"Busy", u"Sec", u"k", u"after");
    EXPECT_NE(query("Busy\\Sec").find("    k    REG_SZ    after\r\n"), std::string::npos);
}

TEST_F(WineInterop, WineTakesAPrefixKeyloftCreated) {
    TempPrefix fresh;
    fresh.open()->SaveSetting(u"First", u"Run", u"k", u"日本");
    EXPECT_NE(query("First\\Run", fresh.prefix()).find("    k    REG_SZ    "), std::string::npos);
    settle(fresh.prefix()); // Wine made the rest of the prefix around our file
    EXPECT_EQ(fresh.open()->GetSetting(u"First", u"Run", u"k"), u"日本");
}

// The registry backend's half is store_agree_tool.exe from the cross build (tests/store_windows),
// named by KEYLOFT_WINDOWS_TOOL; without it these cases are skipped.
class StoreAgreement : public WineInterop {
protected:
    void SetUp() override {
        if (!tool || !*tool)
            GTEST_SKIP() << "KEYLOFT_WINDOWS_TOOL names no store_agree_tool.exe";
        WineInterop::SetUp();
    }
    // Runs the tool: "write" writes the data set, "dump" prints the area as the backend lists it.
    static std::string registry(const char* mode) {
        const fs::path out = shared.path() / "registry.txt";
        EXPECT_EQ(wine({"wine", tool, mode}, shared.prefix(), out), 0);
        return readFile(out);
    }

    static inline const char* const tool = std::getenv("KEYLOFT_WINDOWS_TOOL");
    const std::string expected = agreement::dump(agreement::expected());
};

TEST_F(StoreAgreement, FileBackendReadsWhatTheRegistryBackendWrote) {
    registry("write");
    ASSERT_EQ(registry("dump"), expected) << "the registry backend disagrees with itself";
    settle();
    EXPECT_EQ(agreement::dump(agreement::read(*shared.open())), expected);
}

TEST_F(StoreAgreement, RegistryBackendReadsWhatTheFileBackendWrote) {
    const auto store = shared.open();
    agreement::write(*store);
    ASSERT_EQ(agreement::dump(agreement::read(*store)), expected)
        << "the file backend disagrees with itself";
    EXPECT_EQ(registry("dump"), expected);
}

} // namespace
} // namespace keyloft::testing
