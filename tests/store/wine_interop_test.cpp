// Against real Wine, in one throwaway prefix for the whole run: while a wineserver runs, every
// operation goes through it (by the bridge this build made), and no write lands behind a server;
// Wine takes the file of a prefix that Keyloft created; and the two backends read each other's
// writes, the registry backend under Wine and the Wine prefix file backend here.
#include "agreement_data.h"
#include "store_backend.h"
#include "temp_prefix.h"
#include "text_codec.h"
#include "wine/live/wine_server.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

namespace keyloft::testing {
namespace {

namespace fs = std::filesystem;

const std::string kHkcu = "HKCU\\Software\\VB and VBA Program Settings\\";
// The loader the build found starting here; `wine` itself may not (see cmake/KeyloftWine.cmake).
const std::string kWine = KEYLOFT_WINE_LOADER;

// Whether this machine runs 32-bit programs at all, which a 32-bit prefix needs.
bool runs32BitPrograms() {
    return run({KEYLOFT_RUNS_32BIT_PROBE}) == 0;
}

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
        ready = wine({kWine, "wineboot", "--init"}) == 0 && wine({"wineserver", "-w"}) == 0 &&
                fs::exists(shared.file());
    }
    static void TearDownTestSuite() { wine({"wineserver", "-k"}); }
    void SetUp() override {
        if (!ready)
            GTEST_SKIP() << "wine is not installed or its prefix could not be made";
        settle();
    }
    // A case that failed midway leaves no server behind to block the next.
    void TearDown() override { end(); }

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
        return wine({kWine, "reg", "query", kHkcu + key}, in, out) == 0 ? readFile(out) : "";
    }

    // A server with no client, as an open Wine program keeps one, until end().
    static void serve(const fs::path& in = shared.prefix()) {
        ASSERT_EQ(wine({"wineserver", "-p"}, in), 0);
        waitFor([&] { return wine::runningServer(in) != 0; });
    }
    static void end(const fs::path& in = shared.prefix()) {
        wine({"wineserver", "-k"}, in);
        settle(in);
    }
    static void waitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 200 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    // Zombies aside: a bridge that has ended is reaped only at the store's next look at it.
    static bool bridgeRuns() {
        return run({"pgrep", "-r", "D,R,S,T", "-f", "[k]eyloft-bridge"}) == 0;
    }
    // The store as the program opens it, with the bridges this build made.
    static std::unique_ptr<SettingsStore> live(const fs::path& in = shared.prefix()) {
        return openWinePrefixStore(in, KEYLOFT_BRIDGES);
    }

    static inline TempPrefix shared;
    static inline bool ready = false;
};

// A value Wine's own programs set is listed before the server has saved it, a change is seen by
// them at once and lasts when the server ends; the store follows a server that starts or ends
// between two operations, and a bridge that was killed is started again.
TEST_F(WineInterop, WhileAServerRunsEveryOperationGoesThroughIt) {
    const auto store = live();
    store->SaveSetting(u"Live", u"Sec", u"before", u"in the file");
    serve();
    ASSERT_EQ(
        wine({kWine, "reg", "add", kHkcu + "Live\\Sec", "/v", "byWine", "/d", "set by Wine", "/f"}),
        0);
    EXPECT_EQ(store->GetAllSettings(u"Live", u"Sec"),
              (Settings{{u"before", u"in the file"}, {u"byWine", u"set by Wine"}}));
    store->SaveSetting(u"Live", u"Sec", u"mine", u"through the server");
    EXPECT_NE(query("Live\\Sec").find("    mine    REG_SZ    through the server\r\n"),
              std::string::npos);
    store->DeleteSettings(u"LIVE", u"sec", {u"BEFORE"});
    EXPECT_EQ(failure([&] { store->DeleteSetting(u"Live", u"Gone"); }),
              "5 削除しようとしたセクション「Gone」が見つかりません。ほかのプログラムが削除した"
              "可能性があります。");
    ASSERT_EQ(run({"pkill", "-KILL", "-f", "[k]eyloft-bridge"}), 0);
    store->SaveSetting(u"Live", u"Sec", u"again", u"after the bridge was killed");
    EXPECT_EQ(store->GetValueType(u"Live", u"Sec", u"AGAIN"), 1u);
    end();
    waitFor([] { return !bridgeRuns(); });
    EXPECT_FALSE(bridgeRuns()) << "the bridge outlived its server";
    const Settings saved{{u"again", u"after the bridge was killed"},
                         {u"byWine", u"set by Wine"},
                         {u"mine", u"through the server"}};
    EXPECT_EQ(shared.open()->GetAllSettings(u"Live", u"Sec"), saved) << "not in user.reg";
    store->DeleteSetting(u"Live");
    EXPECT_EQ(query("Live"), "");
}

// Where the bridge cannot start, a write is refused and the file left as it was; reads show the
// file.
TEST_F(WineInterop, NoWriteWhileAServerRunsThatCannotBeReached) {
    const fs::path none = shared.path() / "no bridges";
    const auto store = openWinePrefixStore(shared.prefix(), none);
    store->SaveSetting(u"Busy", u"Sec", u"k", u"before");
    serve();
    const std::string before = readFile(shared.file());
    EXPECT_EQ(failure([&] { store->SaveSetting(u"Busy", u"Sec", u"k", u"during"); }),
              "1010 Wine のプレフィックス「" + shared.prefix().string() +
                  "」で wineserver が動作中ですが、その wineserver を通して変更できません（中継"
                  "プログラム「" +
                  (none / "keyloft-bridge-x86_64.exe").string() +
                  "」がありません）。いま書き込んでも wineserver に上書きされるため、変更しません。"
                  "Wine のプログラムをすべて終了するか「wineserver -k」を実行してから、やり直して"
                  "ください。");
    EXPECT_EQ(readFile(shared.file()), before);
    EXPECT_EQ(store->GetSetting(u"Busy", u"Sec", u"k"), u"before");
    end();
    store->SaveSetting(u"Busy", u"Sec", u"k", u"after");
    EXPECT_NE(query("Busy\\Sec").find("    k    REG_SZ    after\r\n"), std::string::npos);
}

// A server in a mount namespace with a /tmp of its own, as sandboxed Wine runs: its socket folder
// is out of sight, so it can be neither reached nor kept from overwriting the file.
TEST_F(WineInterop, AServerOutOfSightBlocksEveryWrite) {
    if (::getuid() != 0)
        GTEST_SKIP() << "a mount namespace needs root";
    const std::string before = readFile(shared.file());
    // The prefix, itself under /tmp, is mounted back at its own path over the sandbox's /tmp (by
    // its open folder: mount would otherwise resolve the path inside the new /tmp).
    ASSERT_EQ(run({"env", "WINEPREFIX=" + shared.prefix().string(), "unshare", "-m", "sh", "-c",
                   "exec 3<\"$WINEPREFIX\" && mount -t tmpfs sandbox /tmp && "
                   "mkdir -p \"$WINEPREFIX\" && mount -c --bind /proc/self/fd/3 \"$WINEPREFIX\" && "
                   "exec 3<&- && wineserver -p"}),
              0);
    long hidden = 0;
    waitFor([&] { return (hidden = wine::hiddenServer(shared.prefix())) != 0; });
    ASSERT_NE(hidden, 0);
    EXPECT_EQ(failure([&] { live()->SaveSetting(u"Hidden", u"Sec", u"k", u"lost"); }),
              "1010 Wine のプレフィックス「" + shared.prefix().string() +
                  "」で、Keyloft からつなげない wineserver（プロセス " + std::to_string(hidden) +
                  "。サンドボックスの中の Wine など）が動作中のため、変更できません（いま書き込んで"
                  "も wineserver に上書きされます）。そのプレフィックスの Wine のプログラムをすべて"
                  "終了してから、やり直してください。");
    EXPECT_EQ(readFile(shared.file()), before);
    EXPECT_EQ(wine::runningServer(shared.prefix()), 0) << "a second server";
    EXPECT_FALSE(bridgeRuns());
    ::kill(static_cast<pid_t>(hidden), SIGTERM);
    waitFor([&] { return wine::hiddenServer(shared.prefix()) == 0; });
}

// Where `wine` itself cannot start (Debian's picks the 32-bit loader once wine32 is installed, and
// a kernel without 32-bit support refuses it), a 64-bit prefix is still changed through its server:
// the bridge runs under the wine64 beside the server.
TEST_F(WineInterop, TheBridgeStartsWhereWineItselfCannot) {
    const fs::path broken = shared.path() / "broken";
    fs::create_directories(broken);
    writeFile(broken / "wine",
              "#!/bin/sh\necho 'cannot execute binary file: Exec format error' >&2\n"
              "exit 126\n");
    fs::permissions(broken / "wine", fs::perms::owner_all);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (broken.string() + ":" + path).c_str(), 1);
    serve();
    live()->SaveSetting(u"Wine64", u"Sec", u"k", u"64");
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_NE(query("Wine64\\Sec").find("    k    REG_SZ    64\r\n"), std::string::npos);
    end();
}

// Old Visual Basic programs often live in 32-bit prefixes: there the 32-bit bridge runs. Exactly
// one of the two cases runs on a machine, by whether it runs 32-bit programs.
class Wine32Prefix : public WineInterop {
protected:
    static void SetUpTestSuite() {
        if (runs32BitPrograms())
            WineInterop::SetUpTestSuite();
    }
    void SetUp() override {
        if (!runs32BitPrograms())
            GTEST_SKIP()
                << "this machine runs no 32-bit programs (scripts/runs-32bit), so a 32-bit "
                   "prefix cannot be made or served; see Wine32PrefixWithout32BitPrograms";
        WineInterop::SetUp();
    }
};

TEST_F(Wine32Prefix, GetsThe32BitBridge) {
    TempPrefix win32;
    ASSERT_EQ(run({"env", "WINEPREFIX=" + win32.prefix().string(), "WINEARCH=win32", kWine,
                   "wineboot", "--init"}),
              0)
        << "no 32-bit Wine (Debian: wine32:i386, which scripts/setup --tests installs)";
    settle(win32.prefix());
    serve(win32.prefix());
    live(win32.prefix())->SaveSetting(u"Old", u"Sec", u"k", u"32");
    EXPECT_NE(query("Old\\Sec", win32.prefix()).find("    k    REG_SZ    32\r\n"),
              std::string::npos);
    end(win32.prefix());
}

// Where 32-bit programs cannot run, no Wine program and so no server runs in a 32-bit prefix: it is
// changed in its file, and nothing is started for it.
class Wine32PrefixWithout32BitPrograms : public WineInterop {
protected:
    static void SetUpTestSuite() {} // no Wine to start
    void SetUp() override {
        if (runs32BitPrograms())
            GTEST_SKIP() << "this machine runs 32-bit programs; see Wine32Prefix";
    }
    void TearDown() override {}
};

TEST_F(Wine32PrefixWithout32BitPrograms, IsChangedInItsFile) {
    TempPrefix win32;
    win32.put(
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"
        "\n\n#arch=win32\n");
    live(win32.prefix())->SaveSetting(u"Old", u"Sec", u"k", u"in the file");
    EXPECT_EQ(win32.open()->GetSetting(u"Old", u"Sec", u"k"), u"in the file");
    EXPECT_EQ(wine::runningServer(win32.prefix()), 0);
}

TEST_F(WineInterop, WineTakesAPrefixKeyloftCreated) {
    TempPrefix fresh;
    fresh.open()->SaveSetting(u"First", u"Run", u"k", u"日本");
    EXPECT_NE(query("First\\Run", fresh.prefix()).find("    k    REG_SZ    "), std::string::npos);
    settle(fresh.prefix()); // Wine made the rest of the prefix around our file
    EXPECT_EQ(fresh.open()->GetSetting(u"First", u"Run", u"k"), u"日本");
}

// Names Wine keeps apart although the C library's towlower pairs them (and two it takes for one):
// made by Wine's regedit, listed in Wine's order; an import that deletes one of a pair leaves the
// other, offline and through a running server, and stops at the border of the settings.
TEST_F(WineInterop, NamesCompareAsWineComparesThem) {
    const Text apart = u"ik\u00df\u00e5\u0130\u01c5\u01c6\u01c8\u01c9\u01cb\u01cc\u01f2\u01f3"
                       u"\u03b8\u03c9\u03f4\u1e9e\u2126\u212a\u212b"; // in Wine's order
    const Text base = u"HKEY_CURRENT_USER\\Software\\VB and VBA Program ";
    const auto reg = [&](const std::vector<Text>& headers) {
        Text text = u"\xfeffWindows Registry Editor Version 5.00\r\n\r\n";
        for (const Text& h : headers)
            text += u"[" + h + u"]\r\n" + (h[0] == u'-' ? u"" : u"\"v\"=\"x\"\r\n") + u"\r\n";
        const fs::path file = shared.path() / "fold.reg";
        std::string bytes;
        for (const char16_t c : text)
            bytes += {static_cast<char>(c & 0xff), static_cast<char>(c >> 8)};
        writeFile(file, bytes);
        return file.string();
    };
    std::vector<Text> headers;
    for (const char16_t c : apart + u"K\u00c5") // the last two are k and å again
        headers.push_back(base + u"Settings\\Fold\\" + c);
    headers.push_back(base + u"Sett\u0130ngs\\Fold");
    ASSERT_EQ(wine({kWine, "regedit", "/S", reg(headers)}), 0);
    settle();
    std::vector<Text> names;
    for (const char16_t c : apart)
        names.emplace_back(1, c);
    const Text fold = u"Software\\VB and VBA Program Settings\\Fold";
    EXPECT_EQ(shared.open()->EnumRegSubKeys(fold), names);

    const auto imported = [&](const Text& header) {
        return run({KEYLOFT_CLI, "--prefix", shared.prefix().string(), "import",
                    reg({u"-" + base + header})});
    };
    const auto wineHas = [&](const Text& key) {
        return wine({"env", "LC_ALL=C.UTF-8", kWine, "reg", "query",
                     utf16ToUtf8(u"HKCU\\Software\\VB and VBA Program " + key)}) == 0;
    };
    EXPECT_EQ(imported(u"Settings\\Fold\\k"), 0);
    EXPECT_EQ(imported(u"Settings\\Fold\\i"), 0);
    EXPECT_TRUE(wineHas(u"Settings\\Fold\\\u212a")) << "went with k";
    EXPECT_FALSE(wineHas(u"Settings\\Fold\\k"));
    settle();
    serve();
    EXPECT_EQ(imported(u"Settings\\Fold\\\u00df"), 0);
    std::erase_if(names, [](const Text& n) { return n == u"k" || n == u"i" || n == u"\u00df"; });
    EXPECT_EQ(live()->EnumRegSubKeys(fold), names);
    end();
    EXPECT_EQ(imported(u"Settings\\Fold"), 0);
    EXPECT_TRUE(wineHas(u"Sett\u0130ngs\\Fold")) << "outside the settings, deleted";
    EXPECT_EQ(
        wine({kWine, "reg", "delete", "HKCU\\Software\\VB and VBA Program Sett\xc4\xb0ngs", "/f"}),
        0);
}

// What both regedits must carry exactly, in keyloft-cli's .reg files and in Wine's own.
std::vector<Setting> tripSettings() {
    return {{u"japanese", u"日本語の設定"},
            {u"pair", u"\U0001F600 \U00020BB7"},
            {u"quotes", u"say \"hi\""},
            {u"backslash", u"C:\\dir\\"},
            {u"empty", u""},
            {u"long", Text(40000, u'長')},
            {u"lines", u"one\r\ntwo\nthree"},
            {u"name \"with\" \\", u"v"}};
}

std::vector<Setting> sorted(std::vector<Setting> settings) {
    std::sort(settings.begin(), settings.end(),
              [](const Setting& a, const Setting& b) { return a.key < b.key; });
    return settings;
}

TEST_F(WineInterop, WinesRegeditImportsWhatTheCommandLineExported) {
    TempPrefix source;
    source.put("WINE REGISTRY Version 2\n");
    for (const Setting& s : tripSettings())
        source.open()->SaveSetting(u"Trip", u"Out", s.key, s.value);
    const fs::path file = shared.path() / "out.reg";
    ASSERT_EQ(run({KEYLOFT_CLI, "--prefix", source.prefix().string(), "export", "Trip", "-o",
                   file.string()}),
              0);
    ASSERT_EQ(wine({kWine, "regedit", "/S", file.string()}), 0);
    settle();
    EXPECT_EQ(sorted(shared.open()->GetAllSettings(u"Trip", u"Out")), sorted(tripSettings()));
}

TEST_F(WineInterop, TheCommandLineImportsWhatWinesRegeditExported) {
    const auto store = shared.open();
    for (const Setting& s : tripSettings())
        store->SaveSetting(u"Trip", u"In", s.key, s.value);
    const fs::path file = shared.path() / "in.reg";
    ASSERT_EQ(wine({kWine, "regedit", "/E", file.string(),
                    "HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings"}),
              0);
    TempPrefix target;
    target.put("WINE REGISTRY Version 2\n");
    ASSERT_EQ(run({KEYLOFT_CLI, "--prefix", target.prefix().string(), "import", file.string()}), 0);
    EXPECT_EQ(sorted(target.open()->GetAllSettings(u"Trip", u"In")), sorted(tripSettings()));
}

// Sections below sections, as SaveSetting "App", "A\B" makes them: what Wine's regedit imports
// and what the command line imports are the same keys and values, and an export of them, once
// deleted, imports back to exactly what was there; offline and through a running server.
TEST_F(WineInterop, NestedSectionsImportAsWinesRegeditImportsThem) {
    const std::string reg =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\QuoteFixMacro\\firstnames]\r\n"
        "\"Count\"=\"2\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\VB and VBA Program "
        "Settings\\QuoteFixMacro\\firstnames\\1]\r\n"
        "\"email\"=\"jennifer.muster@example.org\"\r\n\"firstName\"=\"Jenny\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\VB and VBA Program "
        "Settings\\QuoteFixMacro\\firstnames\\2]\r\n"
        "\"email\"=\"A.Muster@example.org\"\r\n\"firstName\"=\"Adelinde\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\VB and VBA Program "
        "Settings\\QuoteFixMacro\\Engines\\Jet]\r\n"
        "\"SystemDB\"=\"C:\\\\system.mdw\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\QuoteFixMacro\\a\\b\\c\\]\r\n"
        "\"deep\"=\"three levels\"\r\n";
    const fs::path file = shared.path() / "nested.reg";
    writeFile(file, reg);
    const auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {KEYLOFT_CLI, "--prefix", shared.prefix().string()});
        return run(args);
    };
    bool running = false;
    // Each Wine program leaves a server behind for a while: offline, it is waited out.
    const auto all = [&] {
        const fs::path out = shared.path() / "query.txt";
        const int status =
            wine({kWine, "reg", "query", kHkcu + "QuoteFixMacro", "/s"}, shared.prefix(), out);
        if (!running)
            settle();
        return status == 0 ? readFile(out) : "";
    };
    for (const bool live : {false, true}) {
        running = live;
        SCOPED_TRACE(running ? "through a running server" : "offline");
        if (running)
            serve();
        ASSERT_EQ(wine({kWine, "regedit", "/S", file.string()}), 0);
        if (!running)
            settle();
        const std::string byRegedit = all();
        EXPECT_NE(byRegedit.find("QuoteFixMacro\\a\\b\\c\r\n    deep    REG_SZ    three levels"),
                  std::string::npos)
            << byRegedit;
        ASSERT_EQ(cli({"delete", "QuoteFixMacro"}), 0);
        ASSERT_EQ(cli({"import", file.string()}), 0);
        EXPECT_EQ(all(), byRegedit);

        const fs::path backup = shared.path() / "backup.reg";
        ASSERT_EQ(cli({"export", "QuoteFixMacro", "-o", backup.string()}), 0);
        ASSERT_EQ(cli({"delete", "QuoteFixMacro", "firstnames"}), 0);
        EXPECT_EQ(all().find("firstnames"), std::string::npos) << "deeper sections left behind";
        ASSERT_EQ(cli({"import", backup.string()}), 0);
        EXPECT_EQ(all(), byRegedit);
        ASSERT_EQ(cli({"delete", "QuoteFixMacro"}), 0);
        if (running)
            end();
    }
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
        EXPECT_EQ(wine({kWine, tool, mode}, shared.prefix(), out), 0);
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

// Through the bridge, with Wine's registry API on both ends: what one writes while the server runs,
// the other lists, and the server saves it as written.
TEST_F(StoreAgreement, TheBridgeCarriesTheDataSetExactly) {
    serve();
    agreement::write(*live());
    EXPECT_EQ(agreement::dump(agreement::read(*live())), expected);
    EXPECT_EQ(registry("dump"), expected);
    end();
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
