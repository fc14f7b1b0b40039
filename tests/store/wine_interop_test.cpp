// Against real Wine: what Wine writes, Keyloft reads; what Keyloft writes, Wine reads back exactly;
// and no write while a wineserver runs. One throwaway prefix serves the whole run. (The data set
// both ways at full breadth is the agreement test's, tests/store_agree.)
#include "store_backend.h"
#include "temp_prefix.h"
#include "wine_server.h"

#include <chrono>
#include <thread>

namespace keyloft::testing {
namespace {

namespace fs = std::filesystem;

const std::string kHkcu = "HKCU\\Software\\VB and VBA Program Settings\\";

// The shared prefix, made by wineboot once per run.
class WinePrefix : public ::testing::Environment {
public:
    static inline TempPrefix* dir = nullptr;
    static inline bool ready = false;

    void SetUp() override {
        if (run({"sh", "-c", "command -v wine && command -v wineserver"}) != 0)
            return;
        dir = new TempPrefix;
        fs::create_directories(dir->path() / "home");
        ::setenv("HOME", (dir->path() / "home").c_str(), 1); // keeps wineboot out of ~
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        const std::string in = "WINEPREFIX=" + dir->prefix().string();
        ready = run({"env", in, "wineboot", "--init"}) == 0 &&
                run({"env", in, "wineserver", "-w"}) == 0 && fs::exists(dir->file());
    }
    void TearDown() override {
        if (dir)
            run({"env", "WINEPREFIX=" + dir->prefix().string(), "wineserver", "-k"});
        delete dir;
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WinePrefix);

class WineInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!WinePrefix::ready)
            GTEST_SKIP() << "wine is not installed or its prefix could not be made";
        settle();
    }
    static fs::path prefix() { return WinePrefix::dir->prefix(); }
    static std::unique_ptr<SettingsStore> open() { return WinePrefix::dir->open(); }
    // A Wine program (or wineserver) run in the prefix; its exit status.
    static int wine(std::vector<std::string> args, const fs::path& out = "/dev/null",
                    const fs::path& in = prefix()) {
        args.insert(args.begin(), {"env", "WINEPREFIX=" + in.string()});
        return run(args, out);
    }
    // Until the wineserver has saved the registry and exited, user.reg is stale.
    static void settle(const fs::path& in = prefix()) {
        wine({"wineserver", "-w"}, "/dev/null", in);
    }
    // The key as `wine reg query` prints it; "" when Wine finds no such key.
    static std::string query(const std::string& key, const fs::path& in = prefix()) {
        const fs::path out = WinePrefix::dir->path() / "query.txt";
        return wine({"wine", "reg", "query", kHkcu + key}, out, in) == 0 ? readFile(out) : "";
    }
};

// What Wine writes, Keyloft reads; what Keyloft writes and deletes, Wine reads back exactly, and
// keeps when it saves the registry its own way.
TEST_F(WineInterop, EachReadsWhatTheOtherWrote) {
    for (auto add : std::vector<std::vector<std::string>>{
             {"/v", "Japanese", "/d", "日本語 😀"},
             {"/v", "Quote", "/d", "say \"hi\""},
             {"/v", "Tab", "/d", "a\tb"},
             {"/v", "CaseKey", "/d", "x"},
             {"/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%"},
             {"/v", "Number", "/t", "REG_DWORD", "/d", "5"},
         }) {
        add.insert(add.begin(), {"wine", "reg", "add", kHkcu + "FromWine\\Sec"});
        add.push_back("/f");
        ASSERT_EQ(wine(add), 0);
    }
    settle();
    const auto store = open();
    EXPECT_EQ(store->GetAllSettings(u"fromwine", u"SEC"), (Settings{{u"CaseKey", u"x"},
                                                                    {u"Japanese", u"日本語 😀"},
                                                                    {u"Path", u"%TEMP%"},
                                                                    {u"Quote", u"say \"hi\""},
                                                                    {u"Tab", u"a\tb"}}));
    store->SaveSetting(u"FROMWINE", u"sec", u"casekey", u"merged");
    store->SaveSetting(u"FromWine", u"Sec", u"key \"with\" [odd] \\ name", u"\\\\server\\");
    store->DeleteSettings(u"FromWine", u"Sec", {u"Japanese", u"quote", u"Tab"});
    const Text longSection(255, u'L');
    store->SaveSetting(u"FromWine", longSection, u"k", u"long");
    const std::string shown = query("FromWine\\Sec");
    for (const char* line :
         {"\n    CaseKey    REG_SZ    merged\r\n",
          "\n    key \"with\" [odd] \\ name    REG_SZ    \\\\server\\\r\n",
          "\n    Path    REG_EXPAND_SZ    %TEMP%\r\n", "\n    Number    REG_DWORD    0x5\r\n"})
        EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
    for (const char* gone : {"Japanese", "Quote", "Tab"})
        EXPECT_EQ(shown.find(gone), std::string::npos) << gone << shown;
    EXPECT_NE(query("FromWine\\" + std::string(255, 'L')), "");
    ASSERT_EQ(wine({"wine", "reg", "add", kHkcu + "FromWine\\ByWine", "/f"}), 0);
    settle();
    const auto again = open();
    EXPECT_EQ(again->EnumRegSubKeys(kBase + u"\\FromWine"),
              (Names{u"ByWine", longSection, u"Sec"}));
    EXPECT_EQ(again->GetAllSettings(u"FromWine", u"Sec"),
              (Settings{{u"CaseKey", u"merged"},
                        {u"key \"with\" [odd] \\ name", u"\\\\server\\"},
                        {u"Path", u"%TEMP%"}}));
}

TEST_F(WineInterop, NoWriteWhileAWineserverRuns) {
    const auto store = open();
    store->SaveSetting(u"Busy", u"Sec", u"k", u"before");
    ASSERT_EQ(wine({"wineserver", "-p30"}), 0); // detaches, and stays for 30 s
    for (int i = 0; i < 100 && !wine::runningServer(prefix()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(wine::runningServer(prefix()), 0);
    const std::string before = readFile(prefix() / "user.reg");
    EXPECT_EQ(failure([&] { store->SaveSetting(u"Busy", u"Sec", u"k", u"during"); }).number(),
              1010);
    EXPECT_EQ(failure([&] { store->DeleteSetting(u"Busy"); }).number(), 1010);
    EXPECT_EQ(readFile(prefix() / "user.reg"), before);
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

} // namespace
} // namespace keyloft::testing
