// The Wine prefix backend at the level of the file: what it reads, which bytes it rewrites, and how
// it shares the prefix with other writers and with wineserver.
#include "settings_store.h"
#include "store_backend.h"
#include "temp_prefix.h"
#include "wine_reg_file.h"
#include "wine_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace keyloft::testing {
namespace {

namespace fs = std::filesystem;

const Text kBase = u"Software\\VB and VBA Program Settings";
const std::string kHeader = "WINE REGISTRY Version 2\n"
                            ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                            "\n"
                            "#arch=win64\n";
const std::string kVb = "Software\\\\VB and VBA Program Settings\\\\";

using Snapshot = std::map<Text, std::map<Text, std::map<Text, Text>>>; // by folded names

Snapshot snapshot(const SettingsStore& store) {
    Snapshot all;
    for (const auto& a : store.EnumRegSubKeys(kBase)) {
        auto& app = all[wine::foldCase(a)];
        for (const auto& s : store.EnumRegSubKeys(kBase + u"\\" + a)) {
            auto& section = app[wine::foldCase(s)];
            for (const auto& [k, v] : store.GetAllSettings(a, s))
                section[wine::foldCase(k)] = v;
        }
    }
    return all;
}

std::string fixture() {
    return readFile(fs::path(KEYLOFT_STORE_TEST_DATA) / "wine_user.reg");
}

// Timestamps differ from run to run; the rest of a block must match exactly.
std::string untimed(const std::string& s) {
    static const std::regex seconds(R"(\] \d{9,})"), time("#time=[0-9a-f]{9,}");
    return std::regex_replace(std::regex_replace(s, seconds, "] T"), time, "#time=T");
}

// The file cut into its header and its blocks, each block keyed by its header line's path.
std::vector<std::pair<std::string, std::string>> blocksOf(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out{{"", ""}};
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t nl = text.find('\n', at);
        const std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        const std::string line = text.substr(at, end - at);
        if (line.starts_with("["))
            out.emplace_back(line.substr(1, line.rfind(']') - 1), "");
        out.back().second += line;
        at = end;
    }
    return out;
}

StoreError failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const StoreError& e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return {0, {}};
}

class WineFile : public ::testing::Test {
protected:
    fs::path prefix() const { return dir.path() / "pfx"; }
    fs::path file() const { return prefix() / "user.reg"; }
    void put(const std::string& text) {
        fs::create_directories(prefix());
        writeFile(file(), text);
    }
    std::unique_ptr<SettingsStore> open() const { return openWinePrefixStore(prefix()); }

    TempDir dir;
};

struct Edit {
    const char* label;
    std::function<void(SettingsStore&)> change;
    // Blocks that change, by path below the base key: their new text ("" when gone).
    std::map<std::string, std::string> blocks;
};

TEST_F(WineFile, EditsRewriteOnlyTheBlocksTheyChange) {
    const Edit edits[] = {
        {"NewValueGoesInSortedPlace",
         [](SettingsStore& s) { s.SaveSetting(u"myapp", u"SEC", u"Fo", u"bar"); },
         {{"MyApp\\\\Sec",
           "[" + kVb +
               "MyApp\\\\Sec] T\n#time=T\n"
               "\"Bin\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,"
               "14,15,16,17,\\\n  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,"
               "29,2a\n\"Dw\"=dword:0000000a\n\"Empty\"=\"\"\n"
               "\"Ex\"=str(2):\"%PATH%x\"\n\"Fo\"=\"bar\"\n\"Key\\\"Q\"=\"a\\\\b\\\"c\"\n"
               "\"Mu\"=str(7):\"a\\0b\\0\"\n\"Tab\"=\"a\\tb\"\n\n"}}},
        {"StringReplacesDwordKeepingItsSpelling",
         [](SettingsStore& s) { s.SaveSetting(u"MyApp", u"Sec", u"DW", u"日本"); },
         {{"MyApp\\\\Sec",
           "[" + kVb +
               "MyApp\\\\Sec] T\n#time=T\n"
               "\"Bin\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,"
               "14,15,16,17,\\\n  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,"
               "29,2a\n\"Dw\"=\"\\x65e5\\x672c\"\n\"Empty\"=\"\"\n"
               "\"Ex\"=str(2):\"%PATH%x\"\n\"Key\\\"Q\"=\"a\\\\b\\\"c\"\n"
               "\"Mu\"=str(7):\"a\\0b\\0\"\n\"Tab\"=\"a\\tb\"\n\n"}}},
        {"NewApplicationGoesInTreeOrder",
         [](SettingsStore& s) { s.SaveSetting(u"NewApp", u"S[1]", u"k", u"v"); },
         {{"NewApp\\\\S\\[1\\]", "[" + kVb + "NewApp\\\\S\\[1\\]] T\n#time=T\n\"k\"=\"v\"\n\n"}}},
        {"DeletingSectionLeavesEmptyApplicationBlock",
         [](SettingsStore& s) { s.DeleteSetting(u"MyApp", u"Sec"); },
         {{"MyApp", "[" + kVb + "MyApp] T\n#time=T\n\n"},
          {"MyApp\\\\Sec", ""},
          {"MyApp\\\\Sec\\\\Sub", ""}}},
        {"DeletingApplicationWhoseParentStaysImplied",
         [](SettingsStore& s) { s.DeleteSetting(u"my\"[app]"); },
         {{"My\"\\[App\\]\\\\\\x65e5\\x672c", ""}}},
        {"LastValueOfKeyWithSubkeysTakesItsBlock",
         [](SettingsStore& s) {
             for (const auto* k : {u"Bin", u"Dw", u"Empty", u"Ex", u"Key\"Q", u"Mu", u"Tab"})
                 s.DeleteSetting(u"MyApp", u"Sec", k);
         },
         {{"MyApp\\\\Sec", ""}}},
        {"LastValueOfLeafKeepsHeaderAndTime",
         [](SettingsStore& s) { s.DeleteSetting(u"My\"[App]", u"日本", u"CAFÉ1"); },
         {{"My\"\\[App\\]\\\\\\x65e5\\x672c",
           "[" + kVb + "My\"\\[App\\]\\\\\\x65e5\\x672c] T\n#time=T\n\n"}}},
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.label);
        put(fixture());
        e.change(*open());
        const auto before = blocksOf(fixture());
        const auto after = blocksOf(readFile(file()));
        std::map<std::string, std::string> changed;
        std::vector<std::pair<std::string, std::string>> kept, expectKept;
        for (const auto& [path, text] : after) {
            const std::string below = path.starts_with(kVb) ? path.substr(kVb.size()) : "";
            if (e.blocks.count(below))
                changed[below] = untimed(text);
            else
                kept.emplace_back(path, text);
        }
        for (const auto& [path, text] : before)
            if (!e.blocks.count(path.starts_with(kVb) ? path.substr(kVb.size()) : ""))
                expectKept.emplace_back(path, text);
        EXPECT_EQ(kept, expectKept); // the header and every other block, byte for byte, in order
        for (const auto& [below, text] : e.blocks) {
            if (text.empty())
                EXPECT_FALSE(changed.count(below)) << below;
            else
                EXPECT_EQ(changed[below], text);
        }
        // Tree order: a new block sits between the neighbours Wine would give it.
        const wine::RegFile reg = wine::RegFile::parse(readFile(file()));
        EXPECT_TRUE(std::is_sorted(
            reg.blocks().begin(), reg.blocks().end(), [](const auto& x, const auto& y) {
                return std::lexicographical_compare(
                    x->path.begin(), x->path.end(), y->path.begin(), y->path.end(),
                    [](const Text& m, const Text& n) { return wine::compareNames(m, n) < 0; });
            }));
    }
}

TEST_F(WineFile, UntouchedFileComesBackByteForByte) {
    const std::string text = fixture();
    EXPECT_EQ(wine::RegFile::parse(text).text(), text);
    std::string crlf;
    for (const char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    crlf += "; trailing comment without line end";
    EXPECT_EQ(wine::RegFile::parse(crlf).text(), crlf);
}

TEST_F(WineFile, CrlfFileStaysCrlf) {
    put("WINE REGISTRY Version 2\r\n;; c\r\n\r\n#arch=win64\r\n\r\n[" + kVb +
        "A\\\\S] 1\r\n#time=1\r\n\"a\"=\"1\"\r\n\"c\"=\"3\"\r\n\r\n[Z] 1\r\n#time=1\r\n");
    const auto store = open();
    store->SaveSetting(u"A", u"S", u"b", u"2");
    store->SaveSetting(u"Y", u"S", u"k", u"v");
    EXPECT_EQ(untimed(readFile(file())),
              "WINE REGISTRY Version 2\r\n;; c\r\n\r\n#arch=win64\r\n\r\n[" + kVb +
                  "A\\\\S] T\r\n#time=T\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\"c\"=\"3\"\r\n\r\n[" +
                  kVb + "Y\\\\S] T\r\n#time=T\r\n\"k\"=\"v\"\r\n\r\n[Z] 1\r\n#time=1\r\n");
}

struct Reading {
    const char* label;
    std::string body; // below the header
    std::vector<Setting> settings;
};

TEST_F(WineFile, ReadsWhatWineWrites) {
    const std::string s = "[" + kVb + "A\\\\S] 1\n";
    const Reading readings[] = {
        {"Escapes",
         s + "\"k1\"=\"\\x30c6\\x30b9\\x30c8 caf\\x00e91 \\xe91 \\xg\"\n"
             "\"k2\"=\"\\101\\0\\0017\\a\\b\\t\\n\\v\\f\\r\\e\\q\\\\\\\"\"\n"
             "\"k3\"=\"\xe6\x97\xa5\xff\xe6\x9c\xac\"\n",
         {{u"k1", u"テスト café1 \u0e91 xg"},
          {u"k2", Text(u"A\0\x01"
                       u"7\a\b\t\n\v\f\r\x1bq\\\"",
                       15)},
          {u"k3", u"日本"}}},
        {"TypesAndSpacing",
         s + "  \"a\" = str:\"sz\"\n\"b\"=str(2):\"%X%\"\n\"c\"=str(7):\"m\\0\"\n"
             "\"d\"=dword:00000001\n\"e\"=hex:41,00\n\"f\"=hex(1):\n"
             "\"g\"=hex(2):41,00,42,00,00,00\n\"h\"=hex(1):41,00,\\\n  42,00,00,00\n"
             "\"i\"=hex(1):41,00,42\n@=\"default\"\n\"\"=\"also default\"\n",
         {{u"a", u"sz"}, {u"b", u"%X%"}, {u"f", u""}, {u"g", u"AB"}, {u"h", u"AB"}, {u"i", u"A"}}},
        {"DuplicatesMerge",
         s +
             "\"Key\"=\"old\"\n\"KEY\"=\"new\"\n; comment\nunknown line\n#class=\"c\"\n\n"
             "[" +
             kVb + "a\\\\s] 2\n\"key\"=\"newest\"\n\"Other\"=\"o\"\n",
         {{u"Key", u"newest"}, {u"Other", u"o"}}},
        {"SingleBackslashIsNoSeparator", "[" + kVb + "A\\S] 1\n\"k\"=\"v\"\n", {}},
    };
    for (const auto& r : readings) {
        SCOPED_TRACE(r.label);
        put(kHeader + "\n" + r.body);
        EXPECT_EQ(open()->GetAllSettings(u"A", u"S"), r.settings);
    }
    EXPECT_EQ(open()->EnumRegSubKeys(kBase), std::vector<Text>{u"AS"});
}

TEST_F(WineFile, KeysImpliedByDeeperKeysAreListed) {
    put(kHeader + "\n[" + kVb + "App\\\\Sec\\\\Deep] 1\n#time=1\n");
    const auto store = open();
    EXPECT_EQ(store->EnumRegSubKeys(kBase), std::vector<Text>{u"App"});
    EXPECT_EQ(store->EnumRegSubKeys(kBase + u"\\app"), std::vector<Text>{u"Sec"});
    store->SaveSetting(u"App", u"Sec", u"k", u"v"); // the implied key gets its own block
    EXPECT_EQ(untimed(readFile(file())), kHeader + "\n[" + kVb + "App\\\\Sec] T\n#time=T\n" +
                                             "\"k\"=\"v\"\n\n[" + kVb +
                                             "App\\\\Sec\\\\Deep] 1\n#time=1\n");
}

struct Unparsable {
    const char* label;
    std::string text;
    long line;
    const char* reason;
};

TEST_F(WineFile, FileItCannotParseIsNeverRewritten) {
    const std::string k = "[" + kVb + "A\\\\S] 1\n";
    const Unparsable files[] = {
        {"Bom", "\xef\xbb\xbfWINE REGISTRY Version 2\n", 1,
         "先頭行が「WINE REGISTRY Version 2」ではありません"},
        {"Version1", "WINE REGISTRY Version 1\n" + k, 1,
         "先頭行が「WINE REGISTRY Version 2」ではありません"},
        {"UnclosedKey", kHeader + "\n[" + kVb + "A\\\\S 1\n\"k\"=\"v\"\n", 6,
         "キーの見出しに「]」がありません"},
        {"ValueBeforeKey", kHeader + "\"k\"=\"v\"\n", 5, "キーより前に値があります"},
        {"NoEquals", kHeader + "\n" + k + "\"a\"=\"1\"\n\"k\" \"v\"\n", 8,
         "値の行の形式が正しくありません"},
        {"UnknownType", kHeader + "\n" + k + "\"k\"=int:5\n", 7, "値の行の形式が正しくありません"},
        {"UnclosedString", kHeader + "\n" + k + "\"k\"=\"v\n", 7, "値の行の形式が正しくありません"},
        {"BadHexByte", kHeader + "\n" + k + "\"k\"=hex:01,1ff\n", 7,
         "値の行の形式が正しくありません"},
        {"ContinuationAtEnd", kHeader + "\n" + k + "\"k\"=hex:01,\\\n", 7,
         "値の行の形式が正しくありません"},
        {"NulByte", kHeader + "\n" + k + std::string("\"k\"=\"a\0b\"\n", 10), 7,
         "NUL バイトが含まれています"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.label);
        put(f.text);
        const auto store = open();
        EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
        EXPECT_TRUE(store->GetAllSettings(u"A", u"S").empty());
        const StoreError e = failure([&] { store->SaveSetting(u"A", u"S", u"k", u"v"); });
        EXPECT_EQ(e.number(), 1011);
        EXPECT_EQ(u8(e.description()), "レジストリファイル「" + file().string() + "」の " +
                                           std::to_string(f.line) +
                                           " 行目を解釈できないため、変更できません: " + f.reason);
        EXPECT_EQ(failure([&] { store->DeleteSetting(u"A"); }).number(), 1011);
        EXPECT_EQ(readFile(file()), f.text);
    }
    fs::remove(file());
    fs::create_directory(file());
    EXPECT_EQ(u8(failure([&] { open()->SaveSetting(u"A", u"S", u"k", u"v"); }).description()),
              "レジストリファイル「" + file().string() + "」を読み込めません: Is a directory");
}

TEST_F(WineFile, MissingPrefixIsCreatedWithAFileWineAccepts) {
    const auto store = open();
    EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
    store->SaveSetting(u"App", u"Sec", u"k", u"v");
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
    const fs::path real = dir.path() / "elsewhere" / "user.reg";
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

// Stands in for a wineserver: a child process that holds the lock byte in a server folder.
class FakeServer {
public:
    explicit FakeServer(const fs::path& folder) {
        int ready[2], quit[2];
        if (::pipe(ready) != 0 || ::pipe(quit) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(quit[1]);
            fs::create_directories(folder);
            fs::permissions(folder.parent_path(), fs::perms::owner_all);
            fs::permissions(folder, fs::perms::owner_all);
            const int fd = ::open((folder / "lock").c_str(), O_WRONLY | O_CREAT, 0600);
            struct ::flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_len = 1;
            const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
            [[maybe_unused]] auto w = ::write(ready[1], &ok, 1);
            char c;
            [[maybe_unused]] auto r = ::read(quit[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(quit[0]);
        quit_ = quit[1];
        char ok = 'n';
        [[maybe_unused]] auto r = ::read(ready[0], &ok, 1);
        ::close(ready[0]);
        EXPECT_EQ(ok, 'y');
    }
    ~FakeServer() {
        ::close(quit_);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
    int quit_;
};

TEST_F(WineFile, RefusesToWriteWhileAWineserverRuns) {
    const std::string tmp = dir.path() / "tmp";
    fs::create_directories(tmp);
    const ScopedEnv tmpdir("TMPDIR", tmp);
    for (const bool debian : {false, true}) {
        SCOPED_TRACE(debian ? "Debian" : "upstream");
        put(fixture());
        if (debian)
            writeFile(prefix() / "wineserver", "wine-keyloftTest");
        struct stat st {};
        ::stat(prefix().c_str(), &st);
        const auto folders = wine::serverFolders(prefix(), st.st_dev, st.st_ino);
        ASSERT_EQ(folders.size(), debian ? 2U : 1U);
        EXPECT_EQ(folders.back().parent_path(),
                  debian ? fs::path(tmp) / "wine-keyloftTest"
                         : fs::path("/tmp/.wine-" + std::to_string(::getuid())));
        const auto store = open();
        {
            FakeServer server(folders.back());
            EXPECT_NE(wine::runningServer(prefix()), 0);
            const StoreError e = failure([&] { store->SaveSetting(u"App", u"Sec", u"k", u"v"); });
            EXPECT_EQ(e.number(), 1010);
            EXPECT_EQ(u8(e.description()),
                      "Wine のプレフィックス「" + prefix().string() +
                          "」で wineserver が動作中のため、変更できません（いま書き込んでも "
                          "wineserver に上書きされます）。Wine のプログラムをすべて終了するか"
                          "「wineserver -k」を実行してから、やり直してください。");
            EXPECT_EQ(failure([&] { store->DeleteSetting(u"MyApp", u"Sec"); }).number(), 1010);
            EXPECT_EQ(readFile(file()), fixture());
            EXPECT_EQ(store->EnumRegSubKeys(kBase), (std::vector<Text>{u"My\"[App]", u"MyApp"}));
        }
        EXPECT_EQ(wine::runningServer(prefix()), 0);
        store->SaveSetting(u"App", u"Sec", u"k", u"v");
        for (const auto& folder : folders) { // created for the write, private like Wine's
            EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
            EXPECT_EQ(fs::status(folder / "lock").permissions(), fs::perms(0600));
            fs::remove_all(folder);
        }
        fs::remove_all(prefix());
    }
}

TEST_F(WineFile, TwoProcessesLoseNoUpdate) {
    put(fixture());
    constexpr int kWrites = 60;
    std::vector<pid_t> children;
    for (const char16_t* who : {u"A", u"B"}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int failed = 0;
            const auto store = open();
            for (int i = 0; i < kWrites; ++i) {
                try {
                    store->SaveSetting(u"Race", who, u16(std::to_string(i)), u"v");
                } catch (...) {
                    ++failed;
                }
            }
            ::_exit(failed);
        }
        children.push_back(pid);
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

// Random saves and deletes, with names that differ in case, against a plain model of what the
// store must then hold; every step also reparses the file from scratch.
TEST_F(WineFile, RandomEditsMatchAModel) {
    put(fixture());
    const auto store = open();
    Snapshot model = snapshot(*store);
    const Text names[] = {u"a", u"A", u"b", u"Ä", u"ä", u"a b", u"a_b"};
    std::mt19937 rng(7);
    const auto pick = [&] { return names[rng() % std::size(names)]; };
    for (int step = 0; step < 300; ++step) {
        const Text app = pick(), sec = pick(), key = pick();
        const Text fa = wine::foldCase(app), fs_ = wine::foldCase(sec), fk = wine::foldCase(key);
        try {
            switch (rng() % 6) {
            case 0:
                store->DeleteSetting(app);
                model.erase(fa);
                break;
            case 1:
                store->DeleteSetting(app, sec);
                model.at(fa).erase(fs_);
                break;
            case 2:
                store->DeleteSetting(app, sec, key);
                model.at(fa).at(fs_).erase(fk);
                break;
            default:
                store->SaveSetting(app, sec, key, u16(std::to_string(step)));
                model[fa][fs_][fk] = u16(std::to_string(step));
            }
        } catch (const StoreError& e) {
            EXPECT_EQ(e.number(), 5);
        }
        ASSERT_EQ(snapshot(*open()), model) << step;
    }
    EXPECT_EQ(store->GetSetting(u"MyApp", u"Sec", u"Tab"), u"a\tb");
}

} // namespace
} // namespace keyloft::testing
