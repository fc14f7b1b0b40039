// The Wine prefix backend at the level of the file: what it reads, which bytes it rewrites, and how
// it shares the prefix with other writers and with wineserver.
#include "store_backend.h"
#include "temp_prefix.h"
#include "wine_reg_file.h"
#include "wine_server.h"

#include <csignal>
#include <map>
#include <random>
#include <regex>

namespace keyloft::testing {
namespace {

namespace fs = std::filesystem;

const std::string kHeader = "WINE REGISTRY Version 2\n"
                            ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                            "\n"
                            "#arch=win64\n";
const std::string kVb = "Software\\\\VB and VBA Program Settings\\\\";

std::string fixture() {
    return readFile(fs::path(KEYLOFT_STORE_TEST_DATA) / "wine_user.reg");
}

// Timestamps differ from run to run; the rest of a block must match exactly.
std::string untimed(const std::string& s) {
    static const std::regex seconds(R"(\] \d{9,})"), time("#time=[0-9a-f]{9,}");
    return std::regex_replace(std::regex_replace(s, seconds, "] T"), time, "#time=T");
}

// The file cut into its header and its blocks, each with its path below the settings base ("" for
// the header and for blocks outside the base).
std::vector<std::pair<std::string, std::string>> blocksOf(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out{{"", ""}};
    for (std::size_t at = 0, end; at < text.size(); at = end) {
        end = std::min(text.find('\n', at), text.size() - 1) + 1;
        const std::string line = text.substr(at, end - at);
        if (line.starts_with("[" + kVb))
            out.emplace_back(line.substr(kVb.size() + 1, line.rfind(']') - kVb.size() - 1), "");
        else if (line.starts_with("["))
            out.emplace_back("", "");
        out.back().second += line;
    }
    return out;
}

class WineFile : public ::testing::Test, protected TempPrefix {};

TEST_F(WineFile, EditsRewriteOnlyTheBlocksTheyChange) {
    const std::string sec = "MyApp\\\\Sec", jp = "My\"\\[App\\]\\\\\\x65e5\\x672c";
    const auto block = [](const std::string& below, const std::string& body) {
        return "[" + kVb + below + "] T\n#time=T\n" + body;
    };
    const auto secWith = [&](const std::string& from, const std::string& to) {
        const auto all = blocksOf(fixture());
        std::string b = untimed(std::find_if(all.begin(), all.end(), [&](const auto& x) {
                                    return x.first == sec;
                                })->second);
        return b.replace(b.find(from), from.size(), to);
    };
    const struct {
        const char* label;
        std::function<void(SettingsStore&)> change;
        std::map<std::string, std::string> blocks; // by path below the base: new text, "" if gone
    } edits[] = {
        {"NewValueGoesInSortedPlace",
         [](SettingsStore& s) { s.SaveSetting(u"myapp", u"SEC", u"Fo", u"bar"); },
         {{sec, secWith("\"Key", "\"Fo\"=\"bar\"\n\"Key")}}},
        {"StringReplacesDwordKeepingItsSpelling",
         [](SettingsStore& s) { s.SaveSetting(u"MyApp", u"Sec", u"DW", u"日本"); },
         {{sec, secWith("dword:0000000a", "\"\\x65e5\\x672c\"")}}},
        {"NewApplicationGoesInTreeOrder",
         [](SettingsStore& s) { s.SaveSetting(u"NewApp", u"S[1]", u"k", u"v"); },
         {{"NewApp\\\\S\\[1\\]", block("NewApp\\\\S\\[1\\]", "\"k\"=\"v\"\n\n")}}},
        {"DeletingSectionLeavesEmptyApplicationBlock",
         [](SettingsStore& s) { s.DeleteSetting(u"MyApp", u"Sec"); },
         {{"MyApp", block("MyApp", "\n")}, {sec, ""}, {sec + "\\\\Sub", ""}}},
        {"DeletingApplicationWhoseParentStaysImplied",
         [](SettingsStore& s) { s.DeleteSetting(u"my\"[app]"); },
         {{jp, ""}}},
        {"LastValueOfKeyWithSubkeysTakesItsBlock",
         [](SettingsStore& s) {
             for (const auto* k : {u"Bin", u"Dw", u"Empty", u"Ex", u"Key\"Q", u"Mu", u"Tab"})
                 s.DeleteSetting(u"MyApp", u"Sec", k);
         },
         {{sec, ""}}},
        {"LastValueOfLeafKeepsHeaderAndTime",
         [](SettingsStore& s) { s.DeleteSetting(u"My\"[App]", u"日本", u"CAFÉ1"); },
         {{jp, block(jp, "\n")}}},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.label);
        put(fixture());
        e.change(*open());
        // The header and every other block byte for byte, in order; the changed ones as given.
        const auto split = [&](const std::string& text) {
            std::pair<std::vector<std::string>, std::map<std::string, std::string>> out;
            for (const auto& [below, b] : blocksOf(text))
                if (e.blocks.count(below))
                    out.second[below] = untimed(b);
                else
                    out.first.push_back(b);
            return out;
        };
        const auto [kept, changed] = split(readFile(file()));
        EXPECT_EQ(kept, split(fixture()).first);
        for (const auto& [below, text] : e.blocks)
            EXPECT_EQ(changed.count(below) ? changed.at(below) : "", text) << below;
    }
}

TEST_F(WineFile, CrlfFileStaysCrlfAndAnUnendedLastLineGetsItsEnd) {
    put("WINE REGISTRY Version 2\r\n;; c\r\n\r\n#arch=win64\r\n\r\n[Software] "
        "1\r\n#time=1\r\n\r\n[" +
        kVb + "A\\\\S] 1\r\n#time=1\r\n\"a\"=\"1\"\r\n\"c\"=\"3\"");
    const auto store = open();
    store->SaveSetting(u"A", u"S", u"b", u"2");
    store->SaveSetting(u"A", u"S", u"d", u"4");
    store->SaveSetting(u"Y", u"S", u"k", u"v");
    EXPECT_EQ(
        untimed(readFile(file())),
        "WINE REGISTRY Version 2\r\n;; c\r\n\r\n#arch=win64\r\n\r\n[Software] 1\r\n#time=1\r\n"
        "\r\n[" +
            kVb + "A\\\\S] T\r\n#time=T\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\"c\"=\"3\"\r\n" +
            "\"d\"=\"4\"\r\n\r\n[" + kVb + "Y\\\\S] T\r\n#time=T\r\n\"k\"=\"v\"\r\n");
}

// Lenient where wineserver is lenient: spacing, type spellings, raw UTF-8, unknown lines; and
// duplicates merge as Wine merges them, across blocks and case.
TEST_F(WineFile, ReadsWhatWineReads) {
    const std::string s = "[" + kVb + "A\\\\S] 1\n";
    const std::pair<std::string, Settings> readings[] = {
        {s + "  \"a\" = str:\"sz\"\n\"b\"=str(2):\"%X%\"\n\"c\"=str(7):\"m\\0\"\n\"d\"=dword:1\n" +
             "\"e\"=\"\xe6\x97\xa5\xff\xe6\x9c\xac "
             "\\xg\\q\\101\"\n@=\"default\"\n\"\"=\"default\"\n",
         {{u"a", u"sz"}, {u"b", u"%X%"}, {u"e", u"日本 xgqA"}}},
        {s + "\"Key\"=\"old\"\n\"KEY\"=\"new\"\n; comment\nunknown line\n#class=\"c\"\n\n[" + kVb +
             "a\\\\s] 2\n\"key\"=\"newest\"\n\"Other\"=\"o\"\n",
         {{u"Key", u"newest"}, {u"Other", u"o"}}},
        {"[" + kVb + "A\\S] 1\n\"k\"=\"v\"\n", {}}, // a single backslash separates nothing
    };
    for (const auto& [body, settings] : readings) {
        SCOPED_TRACE(body);
        put(kHeader + "\n" + body);
        EXPECT_EQ(open()->GetAllSettings(u"A", u"S"), settings);
    }
    EXPECT_EQ(open()->EnumRegSubKeys(kBase), Names{u"AS"});
}

TEST_F(WineFile, KeysImpliedByDeeperKeysAreListed) {
    put(kHeader + "\n[" + kVb + "App\\\\Sec\\\\Deep] 1\n#time=1\n");
    const auto store = open();
    EXPECT_EQ(store->EnumRegSubKeys(kBase), Names{u"App"});
    EXPECT_EQ(store->EnumRegSubKeys(kBase + u"\\app"), Names{u"Sec"});
    store->SaveSetting(u"App", u"Sec", u"k", u"v"); // the implied key gets its own block
    EXPECT_EQ(untimed(readFile(file())), kHeader + "\n[" + kVb + "App\\\\Sec] T\n#time=T\n" +
                                             "\"k\"=\"v\"\n\n[" + kVb +
                                             "App\\\\Sec\\\\Deep] 1\n#time=1\n");
}

TEST_F(WineFile, FileItCannotParseIsNeverRewritten) {
    const std::string k = kHeader + "\n[" + kVb + "A\\\\S] 1\n";
    const std::string value = "値の行の形式が正しくありません";
    const struct {
        std::string text;
        long line;
        std::string reason;
    } files[] = {
        {"WINE REGISTRY Version 1\n", 1, "先頭行が「WINE REGISTRY Version 2」ではありません"},
        {kHeader + "\n[" + kVb + "A\\\\S 1\n\"k\"=\"v\"\n", 6, "キーの見出しに「]」がありません"},
        {kHeader + "\"k\"=\"v\"\n", 5, "キーより前に値があります"},
        {k + "\"a\"=\"1\"\n\"k\" \"v\"\n", 8, value},
        {k + "\"k\"=hex:01,1ff\n", 7, value},
        {k + "\"k\"=hex:01,\\\n", 7, value},
        {k + std::string("\"k\"=\"a\0b\"\n", 10), 7, "NUL バイトが含まれています"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.text);
        put(f.text);
        const auto store = open();
        EXPECT_TRUE(store->GetAllSettings(u"A", u"S").empty());
        const StoreError e = failure([&] { store->SaveSetting(u"A", u"S", u"k", u"v"); });
        EXPECT_EQ(e.number(), 1011);
        EXPECT_EQ(e.what(), "レジストリファイル「" + file().string() + "」の " +
                                std::to_string(f.line) +
                                " 行目を解釈できないため、変更できません: " + f.reason);
        EXPECT_EQ(failure([&] { store->DeleteSetting(u"A"); }).number(), 1011);
        EXPECT_EQ(readFile(file()), f.text);
    }
    fs::remove(file());
    fs::create_directory(file());
    EXPECT_EQ(failure([&] { open()->SaveSetting(u"A", u"S", u"k", u"v"); }).what(),
              "レジストリファイル「" + file().string() + "」を読み込めません: Is a directory");
}

TEST_F(WineFile, MissingPrefixIsCreatedWithAFileWineAccepts) {
    open()->SaveSetting(u"App", u"Sec", u"k", u"v");
    EXPECT_EQ(untimed(readFile(file())),
              kHeader + "\n[" + kVb + "App\\\\Sec] T\n#time=T\n\"k\"=\"v\"\n");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(file()).permissions(), static_cast<fs::perms>(0666 & ~mask));
}

TEST_F(WineFile, RewriteKeepsModeAndFollowsSymlink) {
    for (const fs::perms mode : {fs::perms(0600), fs::perms(0644)}) {
        put(fixture());
        fs::permissions(file(), mode);
        open()->SaveSetting(u"App", u"Sec", u"k", u"v");
        EXPECT_EQ(fs::status(file()).permissions(), mode);
    }
    const fs::path real = path() / "elsewhere" / "user.reg";
    fs::create_directories(real.parent_path());
    writeFile(real, fixture());
    fs::remove(file());
    fs::create_symlink("../elsewhere/user.reg", file());
    open()->SaveSetting(u"App", u"Sec", u"k", u"через ссылку");
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(open()->GetSetting(u"App", u"Sec", u"k"), u"через ссылку");
    EXPECT_NE(readFile(real).find("\\x447\\x435\\x440"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), {}), 1); // no temp left
    EXPECT_EQ(std::distance(fs::directory_iterator(prefix()), {}), 1);
}

// Stands in for a wineserver: a child process that holds the lock byte of a server folder.
class FakeServer {
public:
    explicit FakeServer(const fs::path& folder) {
        fs::create_directories(folder);
        fs::permissions(folder.parent_path(), fs::perms::owner_all);
        fs::permissions(folder, fs::perms::owner_all);
        const int fd = ::open((folder / "lock").c_str(), O_WRONLY | O_CREAT, 0600);
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        if ((pid_ = ::fork()) == 0) {
            struct ::flock fl {}; // a write lock on byte 0, as wineserver takes
            fl.l_type = F_WRLCK;
            fl.l_len = 1;
            const char ok = ::fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
            if (::write(ready[1], &ok, 1) == 1)
                ::pause();
            ::_exit(1);
        }
        char ok = 'n';
        EXPECT_EQ(::read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, 'y');
        for (const int f : {fd, ready[0], ready[1]})
            ::close(f);
    }
    ~FakeServer() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
};

TEST_F(WineFile, RefusesToWriteWhileAWineserverRuns) {
    ::setenv("TMPDIR", (path() / "tmp").c_str(), 1); // where Debian's Wine puts its folder
    fs::create_directories(path() / "tmp");
    for (const bool debian : {false, true}) {
        SCOPED_TRACE(debian ? "Debian" : "upstream");
        put(fixture());
        if (debian)
            writeFile(prefix() / "wineserver", "wine-keyloftTest");
        struct stat st {};
        ::stat(prefix().c_str(), &st);
        const auto folders = wine::serverFolders(prefix(), st.st_dev, st.st_ino);
        EXPECT_EQ(folders.size(), debian ? 2U : 1U);
        EXPECT_EQ(folders.back().parent_path(),
                  debian ? path() / "tmp" / "wine-keyloftTest"
                         : fs::path("/tmp/.wine-" + std::to_string(::getuid())));
        const auto store = open();
        {
            FakeServer server(folders.back());
            EXPECT_NE(wine::runningServer(prefix()), 0);
            const StoreError e = failure([&] { store->SaveSetting(u"App", u"Sec", u"k", u"v"); });
            EXPECT_EQ(e.number(), 1010);
            EXPECT_EQ(e.what(),
                      "Wine のプレフィックス「" + prefix().string() +
                          "」で wineserver が動作中のため、変更できません（いま書き込んでも "
                          "wineserver に上書きされます）。Wine のプログラムをすべて終了するか"
                          "「wineserver -k」を実行してから、やり直してください。");
            EXPECT_EQ(failure([&] { store->DeleteSetting(u"MyApp", u"Sec"); }).number(), 1010);
            EXPECT_EQ(readFile(file()), fixture());
            EXPECT_EQ(store->GetSetting(u"MyApp", u"Sec", u"Tab"), u"a\tb"); // reading is fine
        }
        store->SaveSetting(u"App", u"Sec", u"k", u"v");
        for (const auto& folder : folders) { // created for the write, private like Wine's
            EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
            EXPECT_EQ(fs::status(folder / "lock").permissions(), fs::perms(0600));
            fs::remove_all(folder);
        }
        fs::remove_all(prefix());
    }
    ::unsetenv("TMPDIR");
}

TEST_F(WineFile, TwoProcessesLoseNoUpdate) {
    put(fixture());
    constexpr int kWrites = 60;
    std::vector<pid_t> children;
    for (const char16_t* who : {u"A", u"B"}) {
        if (const pid_t pid = ::fork(); pid != 0) {
            children.push_back(pid);
            continue;
        }
        int failed = 0;
        const auto store = open();
        for (int i = 0; i < kWrites; ++i)
            try {
                store->SaveSetting(u"Race", who, utf8ToUtf16(std::to_string(i)), u"v");
            } catch (...) {
                ++failed;
            }
        ::_exit(failed);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto store = open();
    EXPECT_EQ(store->GetAllSettings(u"Race", u"A").size(), std::size_t{kWrites});
    EXPECT_EQ(store->GetAllSettings(u"Race", u"B").size(), std::size_t{kWrites});
    EXPECT_EQ(store->GetSetting(u"MyApp", u"Sec", u"Tab"), u"a\tb");
}

TEST_F(WineFile, ReadsSeeOtherWritersChanges) {
    put(fixture());
    const auto reader = open();
    EXPECT_EQ(reader->GetSetting(u"MyApp", u"Sec", u"Tab"), u"a\tb");
    open()->SaveSetting(u"MyApp", u"Sec", u"Tab", u"other store");
    EXPECT_EQ(reader->GetSetting(u"MyApp", u"Sec", u"Tab"), u"other store");
    std::string text = readFile(file()); // an in-place writer, as Wine is for a symlinked file
    text.replace(text.find("other store"), 11, "in place");
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << text;
    EXPECT_EQ(reader->GetSetting(u"MyApp", u"Sec", u"Tab"), u"in place");
    fs::remove(file());
    EXPECT_TRUE(reader->EnumRegSubKeys(kBase).empty());
}

} // namespace
} // namespace keyloft::testing
