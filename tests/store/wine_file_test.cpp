// The Wine prefix backend at the level of the file: what it reads, which bytes it rewrites, and how
// it shares the prefix with other writers and with wineserver.
#include "case_fold.h"
#include "store_backend.h"
#include "temp_prefix.h"
#include "text_codec.h"
#include "wine_server.h"

#include <clocale>
#include <cwctype>
#include <map>
#include <regex>
#include <set>

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

// The lowercase table against the C library's, unit by unit over the whole BMP: they differ
// nowhere.
TEST(CaseFold, AgreesWithTowlowerOverTheWholeBmp) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    for (std::wint_t c = 0; c <= 0xFFFF; ++c)
        ASSERT_EQ(foldCase(static_cast<char16_t>(c)), std::towlower(c)) << std::hex << c;
}

class WineFile : public ::testing::Test, protected TempPrefix {};

// Every block an edit leaves alone stays as it was, byte for byte and in its place; the blocks it
// changes or adds read as given.
TEST_F(WineFile, EditsRewriteOnlyTheBlocksTheyChange) {
    const std::string sec = "MyApp\\\\Sec", sub = sec + "\\\\Sub";
    const std::string jp = "My\"\\[App\\]\\\\\\x65e5\\x672c";
    const auto original = [](const std::string& below) {
        for (const auto& [path, text] : blocksOf(fixture()))
            if (path == below)
                return text;
        return std::string();
    };
    const auto block = [](const std::string& below, const std::string& body) {
        return "[" + kVb + below + "] T\n#time=T\n" + body;
    };
    const auto secWith = [&](const std::string& from, const std::string& to) {
        std::string b = untimed(original(sec));
        return b.replace(b.find(from), from.size(), to);
    };
    const struct {
        const char* label;
        std::function<void(SettingsStore&)> change;
        std::map<std::string, std::string> blocks; // by path below the base: its text now
    } edits[] = {
        {"NewValueGoesInSortedPlace",
         [](SettingsStore& s) { s.SaveSetting(u"myapp", u"SEC", u"Fo", u"bar"); },
         {{sec, secWith("\"Key", "\"Fo\"=\"bar\"\n\"Key")}}},
        {"StringReplacesDwordKeepingItsSpelling",
         [](SettingsStore& s) { s.SaveSetting(u"MyApp", u"Sec", u"DW", u"日本"); },
         {{sec, secWith("dword:0000000a", "\"\\x65e5\\x672c\"")}}},
        {"NewApplicationGoesInTreeOrder", // after the keys it begins with
         [](SettingsStore& s) { s.SaveSetting(u"MyApp2", u"S[1]", u"k", u"v"); },
         {{sub, original(sub) + block("MyApp2\\\\S\\[1\\]", "\"k\"=\"v\"\n\n")}}},
        {"DeletingSectionLeavesEmptyApplicationBlock",
         [](SettingsStore& s) { s.DeleteSetting(u"MyApp", u"Sec"); },
         {{sec, block("MyApp", "\n")}, {sub, ""}}},
        {"DeletingApplicationWhoseParentStaysImplied",
         [](SettingsStore& s) { s.DeleteSetting(u"my\"[app]"); },
         {{jp, ""}}},
        {"LastValueOfKeyWithSubkeysTakesItsBlock",
         [](SettingsStore& s) {
             s.DeleteSettings(u"MyApp", u"Sec",
                              {u"Bin", u"Dw", u"Empty", u"Ex", u"Key\"Q", u"Mu", u"Tab"});
         },
         {{sec, ""}}},
        {"LastValueOfLeafKeepsHeaderAndTime",
         [](SettingsStore& s) { s.DeleteSetting(u"My\"[App]", u"日本", u"CAFÉ1"); },
         {{jp, block(jp, "\n")}}},
    };
    std::set<std::string> unchanged;
    for (const auto& [below, text] : blocksOf(fixture()))
        unchanged.insert(text);
    for (const auto& e : edits) {
        SCOPED_TRACE(e.label);
        put(fixture());
        e.change(*open());
        std::string expected, now;
        for (const auto& [below, text] : blocksOf(fixture()))
            expected += e.blocks.count(below) ? e.blocks.at(below) : text;
        for (const auto& [below, text] : blocksOf(readFile(file())))
            now += unchanged.count(text) ? text : untimed(text);
        EXPECT_EQ(now, expected);
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

// A write checks the whole file and leaves one it cannot parse as it is; a read needs only its
// first lines and the blocks of the key it reads.
TEST_F(WineFile, FileItCannotParseIsNeverRewritten) {
    const std::string k = kHeader + "\n[" + kVb + "A\\\\S] 1\n\"a\"=\"1\"\n";
    const std::string value = "値の行の形式が正しくありません";
    const Settings none, a{{u"a", u"1"}};
    const struct {
        std::string text;
        long line;
        std::string reason;
        Settings readable;
    } files[] = {
        {"WINE REGISTRY Version 1\n", 1, "先頭行が「WINE REGISTRY Version 2」ではありません", none},
        {kHeader + "\n[" + kVb + "A\\\\S 1\n\"k\"=\"v\"\n", 6, "キーの見出しに「]」がありません",
         none},
        {kHeader + "\"k\"=\"v\"\n", 5, "キーより前に値があります", none},
        {k + "\"k\" \"v\"\n", 8, value, none},
        {k + "\"k\"=hex:01,1ff\n", 8, value, none},
        {k + "\"k\"=hex:01,\\\n", 8, value, none},
        {k + std::string("\"k\"=\"a\0b\"\n", 10), 8, "NUL バイトが含まれています", none},
        {k + "\n[Other] 1\n\"x\"=dword:1\n\"y\"\n", 11, value, a},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.text);
        put(f.text);
        const auto store = open();
        EXPECT_EQ(store->GetAllSettings(u"A", u"S"), f.readable);
        const StoreError e = failure([&] { store->SaveSetting(u"A", u"S", u"k", u"v"); });
        EXPECT_EQ(e.what(), "レジストリファイル「" + file().string() + "」の " +
                                std::to_string(f.line) +
                                " 行目を解釈できないため、変更できません: " + f.reason);
        EXPECT_EQ(failure([&] { store->DeleteSettings(u"A", u"S", {u"a"}); }).number(), 1011);
        EXPECT_EQ(readFile(file()), f.text);
    }
    fs::remove(file());
    fs::create_directory(file());
    EXPECT_EQ(failure([&] { open()->SaveSetting(u"A", u"S", u"k", u"v"); }).what(),
              "レジストリファイル「" + file().string() + "」を読み込めません: Is a directory");
}

TEST_F(WineFile, RewriteKeepsModeAndFollowsSymlink) {
    open()->SaveSetting(u"App", u"Sec", u"k", u"v"); // a new prefix: a file Wine accepts
    EXPECT_EQ(untimed(readFile(file())),
              kHeader + "\n[" + kVb + "App\\\\Sec] T\n#time=T\n\"k\"=\"v\"\n");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(file()).permissions(), static_cast<fs::perms>(0666 & ~mask));
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
    EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), {}), 1); // no temp left
    EXPECT_EQ(std::distance(fs::directory_iterator(prefix()), {}), 1);
}

// Where wineserver keeps its lock, upstream and in Debian's build; the refusal itself is tried
// against a real wineserver in wine_interop_test.
TEST_F(WineFile, ServerFoldersAreWhereWineKeepsThem) {
    put(fixture());
    writeFile(prefix() / "wineserver", "wine-keyloftTest");
    ::setenv("TMPDIR", path().c_str(), 1);
    struct stat st {};
    ::stat(prefix().c_str(), &st);
    const std::string leaf = "server-" + digits(st.st_dev, 16) + "-" + digits(st.st_ino, 16);
    EXPECT_EQ(wine::serverFolders(prefix(), st.st_dev, st.st_ino),
              (std::vector<fs::path>{"/tmp/.wine-" + std::to_string(::getuid()) + "/" + leaf,
                                     path() / "wine-keyloftTest" / leaf}));
    open()->SaveSetting(u"App", u"Sec", u"k", u"v"); // made for the write, private as Wine's
    EXPECT_EQ(fs::status(path() / "wine-keyloftTest" / leaf).permissions(), fs::perms::owner_all);
    ::unsetenv("TMPDIR");
}

TEST_F(WineFile, TwoProcessesLoseNoUpdate) {
    put(fixture());
    constexpr int kWrites = 60;
    const pid_t child = ::fork();
    const auto store = open();
    const Text who = child ? u"Parent" : u"Child";
    for (int i = 0; i < kWrites; ++i)
        store->SaveSetting(u"Race", who, utf8ToUtf16(std::to_string(i)), u"v");
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(store->GetAllSettings(u"Race", u"Child").size(), std::size_t{kWrites});
    EXPECT_EQ(store->GetAllSettings(u"Race", u"Parent").size(), std::size_t{kWrites});
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
