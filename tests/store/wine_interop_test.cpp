// Against real Wine: what Wine writes, Keyloft reads; what Keyloft writes, Wine reads back exactly;
// and no write while a wineserver runs. One throwaway prefix serves the whole run.
#include "settings_store.h"
#include "store_backend.h"
#include "temp_prefix.h"
#include "wine_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace keyloft::testing {
namespace {

namespace fs = std::filesystem;

const Text kBase = u"Software\\VB and VBA Program Settings";
const std::string kHkcuBase = "HKCU\\Software\\VB and VBA Program Settings\\";

struct Outcome {
    int status;
    std::string out;
};

// Runs a program with its arguments as given (no shell) and collects its output.
Outcome run(std::vector<std::string> args, const fs::path& prefix) {
    int pipeFd[2];
    if (::pipe(pipeFd) != 0)
        return {-1, {}};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        ::dup2(pipeFd[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::close(null);
        ::close(pipeFd[0]);
        ::close(pipeFd[1]); // a detaching wineserver must not keep our pipe open
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFd[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(pipeFd[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool haveWine() {
    return run({"sh", "-c", "command -v wine && command -v wineserver"}, "/").status == 0;
}

// The shared prefix, initialised by wineboot once per run.
class WinePrefix : public ::testing::Environment {
public:
    static inline TempDir* dir = nullptr;
    static inline bool ready = false;
    static fs::path prefix() { return dir->path() / "pfx"; }

    void SetUp() override {
        if (!haveWine())
            return;
        dir = new TempDir;
        fs::create_directories(dir->path() / "home");
        ::setenv("HOME", (dir->path() / "home").c_str(), 1); // keeps wineboot out of ~
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        ready = run({"wineboot", "--init"}, prefix()).status == 0 &&
                run({"wineserver", "-w"}, prefix()).status == 0 &&
                fs::exists(prefix() / "user.reg");
    }
    void TearDown() override {
        if (!dir)
            return;
        run({"wineserver", "-k"}, prefix());
        delete dir;
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WinePrefix);

// `wine reg export` of one key: its REG_SZ values, unescaped (Wine escapes \\, \", \n, \r, \0).
std::map<Text, Text> exported(const std::string& key, const fs::path& prefix) {
    const fs::path file = prefix / "export.reg";
    fs::remove(file);
    EXPECT_EQ(
        run({"wine", "reg", "export", kHkcuBase + key, "Z:" + file.string(), "/y"}, prefix).status,
        0);
    const std::string raw = readFile(file);
    Text text;
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2) // past the BOM
        text += static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                      (static_cast<unsigned char>(raw[i + 1]) << 8));
    std::map<Text, Text> values;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(u"\r\n", at), text.size());
        const std::u16string_view line(text.data() + at, end - at);
        at = end + 2;
        if (!line.starts_with(u"\""))
            continue;
        Text parts[2];
        int part = 0;
        for (std::size_t i = 1; i < line.size() && part < 2; ++i) {
            char16_t c = line[i];
            if (c == u'\\' && i + 1 < line.size()) {
                c = line[++i];
                c = c == u'n' ? u'\n' : c == u'r' ? u'\r' : c == u'0' ? u'\0' : c;
            } else if (c == u'"') {
                i += part == 0 ? 2 : 0; // past ="
                ++part;
                continue;
            }
            parts[part] += c;
        }
        values[parts[0]] = parts[1];
    }
    return values;
}

class WineInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (!WinePrefix::ready)
            GTEST_SKIP() << "wine is not installed or its prefix could not be made";
    }
    static fs::path prefix() { return WinePrefix::prefix(); }
    static Outcome wine(std::vector<std::string> args) {
        args.insert(args.begin(), "wine");
        return run(std::move(args), prefix());
    }
    static void waitForServerExit() { run({"wineserver", "-w"}, prefix()); }
};

TEST_F(WineInterop, KeyloftReadsWhatWineWrites) {
    const std::vector<std::pair<std::string, std::string>> values{
        {"Plain", "value"},       {"Japanese", "日本語 😀"}, {"Quote", "say \"hi\""},
        {"Backslash", "C:\\d\\"}, {"Tab", "a\tb"},          {"Empty", ""},
        {"CaseKey", "x"},
    };
    for (const auto& [name, data] : values)
        ASSERT_EQ(
            wine({"reg", "add", kHkcuBase + "FromWine\\Sec", "/v", name, "/d", data, "/f"}).status,
            0);
    wine({"reg", "add", kHkcuBase + "FromWine\\Sec", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d",
          "%TEMP%", "/f"});
    wine({"reg", "add", kHkcuBase + "FromWine\\Sec", "/v", "Number", "/t", "REG_DWORD", "/d", "5",
          "/f"});
    wine({"reg", "add", kHkcuBase + "Implied\\Sec\\Deep", "/f"});
    waitForServerExit();

    const auto store = openWinePrefixStore(prefix());
    const auto apps = store->EnumRegSubKeys(kBase);
    EXPECT_NE(std::find(apps.begin(), apps.end(), u"FromWine"), apps.end());
    EXPECT_EQ(store->EnumRegSubKeys(kBase + u"\\implied"), std::vector<Text>{u"Sec"});
    EXPECT_EQ(store->GetAllSettings(u"fromwine", u"SEC"),
              (std::vector<Setting>{{u"Backslash", u"C:\\d\\"},
                                    {u"CaseKey", u"x"},
                                    {u"Empty", u""},
                                    {u"Japanese", u"日本語 😀"},
                                    {u"Path", u"%TEMP%"},
                                    {u"Plain", u"value"},
                                    {u"Quote", u"say \"hi\""},
                                    {u"Tab", u"a\tb"}}));
    EXPECT_EQ(store->GetSetting(u"FromWine", u"Sec", u"Number"), u"");
    store->SaveSetting(u"FROMWINE", u"sec", u"casekey", u"merged");
    EXPECT_EQ(exported("FromWine\\Sec", prefix()).at(u"CaseKey"), u"merged");
    waitForServerExit();
}

TEST_F(WineInterop, WineReadsExactlyWhatKeyloftWrites) {
    const std::map<Text, Text> values{
        {u"Japanese", u"日本語のテキスト"},
        {u"Surrogates", u"😀𠮷"},
        {u"Quotes", u"\"quoted\""},
        {u"Backslashes", u"\\\\server\\share\\"},
        {u"Tab", u"a\tb"},
        {u"Newlines", u"1\n2\r\n3"},
        {u"Empty", u""},
        {u"key \"with\" [odd] \\ name", u"v"},
        {u"café1", u"é1 \u00ff9"},
    };
    const Text longSection(255, u'L');
    const auto store = openWinePrefixStore(prefix());
    for (const auto& [name, data] : values)
        store->SaveSetting(u"FromKeyloft", u"Sec", name, data);
    store->SaveSetting(u"FromKeyloft", longSection, u"k", u"long");

    EXPECT_EQ(exported("FromKeyloft\\Sec", prefix()), values);
    EXPECT_EQ(exported("FromKeyloft\\" + u8(longSection), prefix()),
              (std::map<Text, Text>{{u"k", u"long"}}));
    const Outcome query = wine({"reg", "query", kHkcuBase + "FromKeyloft\\Sec"});
    EXPECT_EQ(query.status, 0);
    for (const char* line : {"    Tab    REG_SZ    a\tb\r\n", "    Empty    REG_SZ    \r\n",
                             "    Quotes    REG_SZ    \"quoted\"\r\n",
                             "    key \"with\" [odd] \\ name    REG_SZ    v\r\n"})
        EXPECT_NE(query.out.find(line), std::string::npos) << line << query.out;
    const Outcome apps = wine({"reg", "query", "HKCU\\Software\\VB and VBA Program Settings"});
    EXPECT_NE(apps.out.find("\r\nHKEY_CURRENT_USER\\Software\\VB and VBA Program "
                            "Settings\\FromKeyloft\r\n"),
              std::string::npos);
    waitForServerExit(); // Wine rewrites the file its own way; nothing is lost

    const auto again = openWinePrefixStore(prefix());
    std::map<Text, Text> read;
    for (const auto& [k, v] : again->GetAllSettings(u"FromKeyloft", u"Sec"))
        read[k] = v;
    EXPECT_EQ(read, values);
    again->DeleteSetting(u"FromKeyloft", longSection);
    again->DeleteSetting(u"FromKeyloft", u"Sec", u"Tab");
    EXPECT_NE(wine({"reg", "query", kHkcuBase + "FromKeyloft\\" + u8(longSection)}).status, 0);
    EXPECT_EQ(exported("FromKeyloft\\Sec", prefix()).count(u"Tab"), 0U);
    waitForServerExit();
}

TEST_F(WineInterop, NoWriteWhileAWineserverRuns) {
    const auto store = openWinePrefixStore(prefix());
    store->SaveSetting(u"Busy", u"Sec", u"k", u"before");
    // The server detaches and would keep a captured output open.
    ASSERT_EQ(run({"sh", "-c", "wineserver -p30 >/dev/null 2>&1"}, prefix()).status, 0);
    for (int i = 0; i < 100 && !wine::runningServer(prefix()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(wine::runningServer(prefix()), 0);
    const std::string before = readFile(prefix() / "user.reg");
    try {
        store->SaveSetting(u"Busy", u"Sec", u"k", u"during");
        ADD_FAILURE() << "saved while wineserver runs";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.number(), 1010);
    }
    EXPECT_THROW(store->DeleteSetting(u"Busy"), StoreError);
    EXPECT_EQ(readFile(prefix() / "user.reg"), before);
    EXPECT_EQ(store->GetSetting(u"Busy", u"Sec", u"k"), u"before"); // reading is fine
    run({"wineserver", "-k"}, prefix());
    waitForServerExit();
    EXPECT_EQ(wine::runningServer(prefix()), 0);
    store->SaveSetting(u"Busy", u"Sec", u"k", u"after");
    EXPECT_EQ(exported("Busy\\Sec", prefix()).at(u"k"), u"after");
    waitForServerExit();
}

TEST_F(WineInterop, PrefixKeyloftCreatedIsOneWineAccepts) {
    TempDir other;
    const fs::path fresh = other.path() / "pfx";
    openWinePrefixStore(fresh)->SaveSetting(u"First", u"Run", u"k", u"日本");
    EXPECT_EQ(exported("First\\Run", fresh), (std::map<Text, Text>{{u"k", u"日本"}}));
    run({"wineserver", "-w"}, fresh);
    EXPECT_EQ(openWinePrefixStore(fresh)->GetSetting(u"First", u"Run", u"k"), u"日本");
}

} // namespace
} // namespace keyloft::testing
