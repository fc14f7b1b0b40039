// The Wine prefix backend at the level of the file: what it reads, which bytes it rewrites, and how
// it shares the prefix with other writers and with wineserver; and the conformance cases' backend.
#include "case_fold.h"
#include "store_backend.h"
#include "temp_prefix.h"
#include "wine/wine_reg_file.h"

#include <list>
#include <map>
#include <regex>
#include <set>

namespace keyloft::testing {

namespace fs = std::filesystem;

// Every fresh store gets a prefix of its own that does not exist yet; other programs' keys and
// values are planted by editing its user.reg directly.
class WineFileBackend final : public StoreBackend {
public:
    std::unique_ptr<SettingsStore> open(bool again) override {
        return (again ? prefixes_.back() : prefixes_.emplace_back()).open();
    }
    void plant(const Names& below, std::u16string_view name, std::uint32_t type,
               const Bytes& data) override {
        const TempPrefix& p = prefixes_.back();
        auto reg = fs::exists(p.file()) ? wine::RegFile::load(wine::FileBytes(readFile(p.file())))
                                        : wine::RegFile();
        Names path{u"Software", u"VB and VBA Program Settings"};
        path.insert(path.end(), below.begin(), below.end());
        if (type)
            reg.setValue(path, name, type, data, wine::fileTimeNow());
        else
            reg.createKey(path, wine::fileTimeNow());
        p.put(reg.text());
    }

private:
    std::list<TempPrefix> prefixes_;
};

StoreBackend& storeBackend() {
    static WineFileBackend backend;
    return backend;
}

namespace {

const std::string kHeader = "WINE REGISTRY Version 2\n";
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

// The table against the one wineserver loads (l_intl.nls: a header, then the uppercase and the
// lowercase table, each after its size in words, each three levels of offsets to a delta), unit by
// unit over the whole BMP.
TEST(CaseFold, AgreesWithWinesOwnTableOverTheWholeBmp) {
    const std::string nls = readFile("/usr/share/wine/nls/l_intl.nls");
    if (nls.empty())
        GTEST_SKIP() << "no Wine installed";
    const auto word = [&](std::size_t i) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(nls[2 * i]) |
                                          static_cast<unsigned char>(nls[2 * i + 1]) << 8);
    };
    const std::size_t lower = word(0) + word(word(0)) + 1u;
    const auto at = [&](std::size_t i) { return word(lower + i); };
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        const auto wine =
            static_cast<char16_t>(c + at(at(at(c >> 8) + ((c >> 4) & 15)) + (c & 15)));
        ASSERT_EQ(foldCase(static_cast<char16_t>(c)), wine) << std::hex << c;
    }
}

// A batch of values into one key is one rewrite, and leaves the file as one value after the other
// would: over duplicate blocks and values out of order, with names repeated in the batch.
TEST(RegFileBatch, LeavesTheFileAsOneValueAfterTheOther) {
    const std::string text = kHeader + "\n[" + kVb +
                             "A\\S] 1\n#time=1\n\"m\"=\"1\"\n\"c\"=\"2\"\n" + "\"M\"=\"3\"\n\n[" +
                             kVb + "A\\S] 1\n\"x\"=\"4\"\n\"C\"=\"5\"\n";
    const std::vector<std::pair<Text, Text>> values = {
        {u"b", u"1"}, {u"m", u"2"},      {u"B", u"3"}, {u"z", u"4"}, {u"c", u"5"},
        {u"a", u"6"}, {u"\u212A", u"7"}, {u"k", u"8"}, {u"y", u"9"}};
    for (const Names& key : {Names{u"Software", u"VB and VBA Program Settings", u"A", u"S"},
                             Names{u"Software", u"VB and VBA Program Settings", u"A", u"New"}}) {
        std::vector<wine::RegFile::NamedText> batch;
        auto oneByOne = wine::RegFile::load(wine::FileBytes(text));
        for (const auto& [name, value] : values) {
            batch.push_back({name, value});
            oneByOne.setValue(key, name, wine::kRegSz,
                              {static_cast<std::uint8_t>(value[0]), 0, 0, 0}, 7);
        }
        auto together = wine::RegFile::load(wine::FileBytes(text));
        together.setStrings(key, batch, 7);
        EXPECT_EQ(together.text(), oneByOne.text());
    }
}

class WineFile : public ::testing::Test, protected TempPrefix {};

// Every block an edit leaves alone stays as it was, byte for byte and in its place; the blocks it
// changes or adds read as given.
TEST_F(WineFile, EditsRewriteOnlyTheBlocksTheyChange) {
    const auto blocks = blocksOf(fixture());
    const std::map<std::string, std::string> original(blocks.begin(), blocks.end());
    const std::string sec = "MyApp\\\\Sec", sub = sec + "\\\\Sub", deep = "Implied\\\\Sec\\\\Deep";
    const auto block = [](const std::string& below, const std::string& body) {
        return "[" + kVb + below + "] T\n#time=T\n" + body;
    };
    const std::pair<std::function<void(SettingsStore&)>, std::map<std::string, std::string>>
        edits[] = {
            // A string replaces a DWORD and keeps its name's spelling.
            {[](SettingsStore& s) { s.SaveSetting(u"myapp", u"SEC", u"DW", u"日本"); },
             {{sec, std::regex_replace(untimed(original.at(sec)), std::regex("dword:0000000a"),
                                       "\"\\x65e5\\x672c\"")}}},
            // A new key goes in tree order: after the keys its name begins with, before its own
            // subkeys.
            {[](SettingsStore& s) { s.SaveSetting(u"MyApp2", u"S[1]", u"k", u"v"); },
             {{sub, original.at(sub) + block("MyApp2\\\\S\\[1\\]", "\"k\"=\"v\"\n\n")}}},
            {[](SettingsStore& s) { s.SaveSetting(u"Implied", u"Sec", u"k", u"v"); },
             {{deep, block("Implied\\\\Sec", "\"k\"=\"v\"\n\n") + original.at(deep)}}},
            // A key left without values and subkeys keeps a block; one with subkeys needs none.
            {[](SettingsStore& s) { s.DeleteSetting(u"MyApp", u"Sec"); },
             {{sec, block("MyApp", "\n")}, {sub, ""}}},
            {[](SettingsStore& s) {
                 s.DeleteSettings(u"MyApp", u"Sec",
                                  {u"Bin", u"Dw", u"Empty", u"Ex", u"Key\"Q", u"Mu", u"Tab"});
             },
             {{sec, ""}}},
        };
    std::set<std::string> unchanged;
    for (const auto& [below, text] : blocks)
        unchanged.insert(text);
    for (std::size_t i = 0; i < std::size(edits); ++i) {
        SCOPED_TRACE(i);
        put(fixture());
        edits[i].first(*open());
        std::string expected, now;
        for (const auto& [below, text] : blocks)
            expected += edits[i].second.count(below) ? edits[i].second.at(below) : text;
        for (const auto& [below, text] : blocksOf(readFile(file())))
            now += unchanged.count(text) ? text : untimed(text);
        EXPECT_EQ(now, expected);
    }
}

TEST_F(WineFile, CrlfFileStaysCrlfAndAnUnendedLastLineGetsItsEnd) {
    const std::string head = "WINE REGISTRY Version 2\r\n\r\n[" + kVb +
                             "A\\\\S] 100000000\r\n#time=100000000\r\n\"a\"=\"1\"\r\n";
    put(head + "\"c\"=\"3\"");
    const auto store = open();
    store->SaveSetting(u"A", u"S", u"b", u"2");
    store->SaveSetting(u"A", u"S", u"d", u"4");
    store->SaveSetting(u"Y", u"S", u"k", u"v");
    EXPECT_EQ(untimed(readFile(file())), untimed(head) + "\"b\"=\"2\"\r\n\"c\"=\"3\"\r\n" +
                                             "\"d\"=\"4\"\r\n\r\n[" + kVb +
                                             "Y\\\\S] T\r\n#time=T\r\n\"k\"=\"v\"\r\n");
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

// A write checks the whole file and leaves one it cannot parse as it is; a read needs only its
// first lines and the blocks of the key it reads.
TEST_F(WineFile, FileItCannotParseIsNeverRewritten) {
    const std::string k = kHeader + "\n[" + kVb + "A\\\\S] 1\n\"a\"=\"1\"\n";
    const std::string value = "値の行の形式が正しくありません";
    const Settings none, a{{u"a", u"1"}};
    const std::tuple<std::string, long, std::string, Settings> files[] = {
        {"WINE REGISTRY Version 1\n", 1, "先頭行が「WINE REGISTRY Version 2」ではありません", none},
        {kHeader + "\n[" + kVb + "A\\\\S 1\n\"k\"=\"v\"\n", 3, "キーの見出しに「]」がありません",
         none},
        {kHeader + "\"k\"=\"v\"\n", 2, "キーより前に値があります", none},
        {k + "\"k\" \"v\"\n", 5, value, none},
        {k + "\"k\"=hex:01,1ff\n", 5, value, none},
        {k + "\"k\"=hex:01,\\\n", 5, value, none},
        {k + std::string("\"k\"=\"a\0b\"\n", 10), 5, "NUL バイトが含まれています", none},
        {k + "\n[Other] 1\n\"x\"=dword:1\n\"y\"\n", 8, value, a},
    };
    for (const auto& [text, line, reason, readable] : files) {
        SCOPED_TRACE(text);
        put(text);
        const auto store = open();
        EXPECT_EQ(store->GetAllSettings(u"A", u"S"), readable);
        const std::string error = "1011 レジストリファイル「" + file().string() + "」の " +
                                  std::to_string(line) +
                                  " 行目を解釈できないため、変更できません: " + reason;
        EXPECT_EQ(failure([&] { store->SaveSetting(u"A", u"S", u"k", u"v"); }), error);
        EXPECT_EQ(readFile(file()), text);
    }
    // Nor does it write what it cannot read, or where it cannot make the prefix.
    fs::remove(file());
    fs::create_directory(file());
    EXPECT_EQ(failure([&] { open()->SaveSetting(u"A", u"S", u"k", u"v"); }),
              "1012 レジストリファイル「" + file().string() + "」を読み込めません: Is a directory");
    const fs::path under = path() / "file" / "pfx";
    writeFile(under.parent_path(), "");
    EXPECT_EQ(failure([&] { openWinePrefixStore(under)->SaveSetting(u"A", u"S", u"k", u"v"); }),
              "1013 レジストリファイル「" + (under / "user.reg").string() +
                  "」に書き込めません: Not a directory");
}

TEST_F(WineFile, RewriteKeepsModeAndFollowsSymlink) {
    put(fixture());
    fs::permissions(file(), fs::perms(0640));
    open()->SaveSetting(u"App", u"Sec", u"k", u"v");
    EXPECT_EQ(fs::status(file()).permissions(), fs::perms(0640));
    fs::rename(file(), path() / "real.reg");
    fs::create_symlink("../real.reg", file());
    open()->SaveSetting(u"App", u"Sec", u"k", u"через ссылку");
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(open()->GetSetting(u"App", u"Sec", u"k"), u"через ссылку");
    EXPECT_EQ(std::distance(fs::directory_iterator(path()), {}), 2); // pfx and real.reg: no temp
}

// Debian's build keeps wineserver's lock below ${TMPDIR:-/tmp}, in the folder that
// PREFIX/wineserver names: a write takes it there too, and only in a folder private as Wine's.
TEST_F(WineFile, LocksWhereDebiansWineserverLooks) {
    put(fixture());
    writeFile(prefix() / "wineserver", "wine-keyloftTest");
    ::setenv("TMPDIR", path().c_str(), 1);
    const fs::path debian = path() / "wine-keyloftTest";
    fs::create_directory(debian);
    EXPECT_EQ(failure([&] { open()->SaveSetting(u"App", u"Sec", u"k", u"v"); }),
              "1014 レジストリファイル「" + debian.string() +
                  "」をロックできません: ほかのユーザーのフォルダーか、公開されたフォルダーです");
    fs::permissions(debian, fs::perms::owner_all);
    open()->SaveSetting(u"App", u"Sec", u"k", u"v");
    EXPECT_EQ(std::distance(fs::directory_iterator(debian), {}), 1); // server-<dev>-<inode>
    ::unsetenv("TMPDIR");
}

TEST_F(WineFile, TwoProcessesLoseNoUpdate) {
    put(fixture());
    // While another Keyloft writes, it holds the lock byte a server would: a write waits for it
    // rather than taking it for a server (and going through a bridge, or refusing).
    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    if (const pid_t writer = ::fork(); writer == 0) {
        const wine::PrefixLock lock(prefix());
        (void)!::write(held[1], "x", 1);
        ::usleep(300'000);
        ::_exit(0);
    } else {
        char c;
        ASSERT_EQ(::read(held[0], &c, 1), 1);
        EXPECT_EQ(failure([&] { open()->SaveSetting(u"Race", u"Waited", u"k", u"v"); }),
                  "no error");
        ::waitpid(writer, nullptr, 0);
        ::close(held[0]);
        ::close(held[1]);
    }
    const pid_t child = ::fork();
    const auto store = open();
    const Text who = child ? u"Parent" : u"Child";
    for (int i = 0; i < 60; ++i)
        store->SaveSetting(u"Race", who, utf8ToUtf16(std::to_string(i)), u"v");
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(store->GetAllSettings(u"Race", u"Child").size(), 60u);
    EXPECT_EQ(store->GetAllSettings(u"Race", u"Parent").size(), 60u);
}

// A store reads and writes what the file holds now, whoever changed it since.
TEST_F(WineFile, StoreSeesOtherWritersChanges) {
    put(fixture());
    const auto store = open();
    EXPECT_EQ(store->GetSetting(u"MyApp", u"Sec", u"Tab"), u"a\tb");
    open()->SaveSetting(u"MyApp", u"Sec", u"Tab", u"other store");
    store->SaveSetting(u"MyApp", u"Sec", u"Mine", u"v");
    EXPECT_EQ(store->GetSetting(u"MyApp", u"Sec", u"Tab"), u"other store");
    std::string text = readFile(file()); // an in-place writer, as Wine is for a symlinked file
    text.replace(text.find("other store"), 11, "in place");
    writeFile(file(), text);
    EXPECT_EQ(store->GetSetting(u"MyApp", u"Sec", u"Tab"), u"in place");
    fs::remove(file());
    EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
}

} // namespace
} // namespace keyloft::testing
