// The .reg codec: regedit's bytes written, both regedits' forms read, everything outside the VB
// settings refused line by line; and a batch on the Wine file landing all or nothing.
#include "reg_file.h"
#include "store_backend.h"
#include "temp_prefix.h"
#include "text_codec.h"

#include <gtest/gtest.h>

#include <tuple>

namespace keyloft::testing {
namespace {

using Kind = Change::Kind;

std::string utf16le(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xff);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

const std::string kBase = "[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings";

TEST(RegFile, ExportIsWhatRegeditWrites) {
    const std::string file = reg::exportFile(
        {{u"App", u"", {}},
         {u"App", u"Sec", {{u"q\"k\\", u"C:\\x \"y\""}, {u"multi", u"a\nb"}, {u"e", u""}}}},
        true);
    EXPECT_EQ(file, utf16le(u"\xfeff"
                            u"Windows Registry Editor Version 5.00\r\n\r\n"
                            u"[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings]\r\n\r\n"
                            u"[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\App]\r\n"
                            u"\r\n"
                            u"[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\App\\Sec]"
                            u"\r\n"
                            u"\"q\\\"k\\\\\"=\"C:\\\\x \\\"y\\\"\"\r\n"
                            u"\"multi\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
                            u"\"e\"=\"\"\r\n\r\n"));
}

TEST(RegFile, LongHexLinesWrapAsRegeditWrapsThem) {
    const std::string file = reg::exportFile({{u"A", u"S", {{u"k", Text(40, u'\n')}}}}, false);
    const std::string text = utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(file.data()), file.size() / 2));
    std::string first = "\"k\"=hex(1):";
    for (int i = 0; i < 11; ++i)
        first += "0a,00,";
    EXPECT_NE(text.find(first + "\\\r\n  0a,00,"), std::string::npos);
    const auto back = reg::importFile(file);
    ASSERT_EQ(back.changes.size(), 1u);
    EXPECT_EQ(back.changes[0].value, Text(40, u'\n'));
}

// Values no quoted form carries in both regedits, and the rest, come back exactly.
TEST(RegFile, ExportedValuesReadBackExactly) {
    const std::vector<Text> values = {
        u"日本語", u"\U0001F600",    u"\"\\\"",      u"",         Text(40000, u'x'),
        u"a\r\nb", Text(u"a\0b", 3), u"\xd800 lone", u"tab\there"};
    std::vector<Setting> settings;
    for (std::size_t i = 0; i < values.size(); ++i)
        settings.push_back({u"k" + utf8ToUtf16(std::to_string(i)), values[i]});
    const auto back = reg::importFile(reg::exportFile({{u"App", u"Sec", settings}}, false));
    ASSERT_TRUE(back.refusals.empty()) << utf16ToUtf8(back.refusals[0].reason);
    ASSERT_EQ(back.changes.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.changes[i].value, values[i]) << i;
}

struct ImportCase {
    const char* what;
    std::string file; // UTF-8, after the header line
    std::vector<Change> changes;
};

TEST(RegFile, ImportReadsBothRegeditsForms) {
    const std::vector<ImportCase> cases = {
        {"quoted escapes and Wine's",
         kBase + "\\A\\S]\n\"k\"=\"x\\\\y\\\"z\\n\\r\\0\"\n",
         {{Kind::Save, u"A", u"S", u"k", Text(u"x\\y\"z\n\r\0", 8)}}},
        {"hex(1) continued, hex(2) read as text",
         kBase + "\\A\\S]\n\"h\"=hex(1):61,00,\\\n  62,00,00,00\n\"x\"=hex(2):25,00,00,00\n",
         {{Kind::Save, u"A", u"S", u"h", u"ab"}, {Kind::Save, u"A", u"S", u"x", u"%"}}},
        {"comments, blank lines, HKCU, an app header, any case",
         "; c\n# c\n\n[hkcu\\software\\vb and vba program settings\\A]\n\n" + kBase +
             "\\A\\S] ; here\n  \"k\" = \"v\" ; there\n",
         {{Kind::Save, u"A", u"S", u"k", u"v"}}},
        {"deletions",
         "[-" + kBase.substr(1) + "\\A]\n[-" + kBase.substr(1) + "\\B\\S]\n" + kBase +
             "\\C\\S]\n\"k\"=-\n",
         {{Kind::DeleteApplication, u"A", {}, {}, {}},
          {Kind::DeleteSection, u"B", u"S", {}, {}},
          {Kind::DeleteKey, u"C", u"S", u"k", {}}}},
        {"nested sections, a final backslash as regedit reads it",
         kBase + "\\A\\S\\T\\U\\]\n\"k\"=\"v\"\n[-" + kBase.substr(1) + "\\A\\S\\T]\n",
         {{Kind::Save, u"A", u"S\\T\\U", u"k", u"v"},
          {Kind::DeleteSection, u"A", u"S\\T", {}, {}}}},
    };
    for (const auto& c : cases) {
        const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n" + c.file;
        for (const std::string& bytes :
             {text, "\xef\xbb\xbf" + text, "\xff\xfe" + utf16le(utf8ToUtf16(text))}) {
            const auto read = reg::importFile(bytes);
            EXPECT_TRUE(read.refusals.empty()) << c.what;
            EXPECT_EQ(read.changes, c.changes) << c.what;
        }
    }
}

TEST(RegFile, Regedit4IsReadInTheCodePageNamed) {
    const std::string file =
        " \tREGEDIT4\r\n\r\n" + kBase + "\\\x93\xfa\x96\x7b\\S]\r\n\"k\"=\"\x83\x65\"\r\n";
    const auto read = reg::importFile(file);
    ASSERT_EQ(read.changes.size(), 1u);
    EXPECT_EQ(read.changes[0], (Change{Kind::Save, u"日本", u"S", u"k", u"テ"}));
    const auto latin = reg::importFile(file, "1252");
    ASSERT_EQ(latin.changes.size(), 1u);
    EXPECT_EQ(latin.changes[0].application, u"\u201c\u00fa\u2013{");
    EXPECT_EQ(reg::importFile(file, "no-such-code-page").refusals.size(), 1u);
}

struct RefusalCase {
    const char* what;
    std::string file;
    std::vector<long> lines;
};

TEST(RegFile, AnythingOutsideTheSettingsIsRefusedLineByLine) {
    const std::vector<RefusalCase> cases = {
        {"another key and root",
         "[HKEY_CURRENT_USER\\Software\\Wine]\n\"a\"=\"b\"\n[HKEY_LOCAL_MACHINE\\Software\\VB and "
         "VBA Program Settings\\A\\S]\n",
         {3, 5}},
        {"a root and a base path spelt with letters Wine keeps apart",
         "[H\u212aEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\A\\S]\n"
         "[HKEY_CURRENT_USER\\Software\\VB and VBA Program Sett\u0130ngs\\A\\S]\n",
         {3, 4}},
        {"a value at application level, an empty step, the default value",
         kBase + "\\A]\n\"k\"=\"v\"\n" + kBase + "\\A\\\\T]\n" + kBase + "\\A\\S]\n@=\"v\"\n",
         {4, 5, 7}},
        {"types that are no string",
         kBase + "\\A\\S]\n\"d\"=dword:00000001\n\"b\"=hex:01,\\\n  02\n\"m\"=hex(7):00,00\n",
         {4, 5, 7}},
        {"the whole area deleted, a value of a deleted key, garbage",
         "[-HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings]\n[-" + kBase.substr(1) +
             "\\A\\S]\n\"k\"=\"v\"\nnonsense\n\"open\"=\"x\n",
         {3, 5, 6, 7}},
    };
    for (const auto& c : cases) {
        const auto read = reg::importFile("Windows Registry Editor Version 5.00\n\n" + c.file);
        std::vector<long> lines;
        for (const auto& r : read.refusals)
            lines.push_back(r.line);
        EXPECT_EQ(lines, c.lines) << c.what;
    }
}

// Bytes the file's encoding cannot carry refuse the whole file at their line, and the header is
// where regedit looks for it: on the first line, so that nothing before it decides the encoding.
TEST(RegFile, TextTheEncodingCannotCarryRefusesTheFile) {
    const std::string notReg = "regedit の .reg ファイルではありません（1 行目が「Windows Registry "
                               "Editor Version 5.00」でも「REGEDIT4」でもありません）。";
    const std::string utf8 = "UTF-8 として正しくないバイトがあります。";
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n" + kBase + "\\A\\S]\r\n";
    const std::string v4 = "REGEDIT4\r\n\r\n" + kBase + "\\A\\S]\r\n";
    const std::vector<std::tuple<const char*, std::string, long, std::string>> cases = {
        {"bytes that are no UTF-8 in a name",
         v5 + "\"\xff\xfe"
              "b\"=\"v\"\r\n",
         4, utf8},
        {"CP932 in a 5.00 file", v5 + "\"k\"=\"\x83\x65\x83X\x83g\"\r\n", 4, utf8},
        {"in a key name", v5 + kBase + "\\A\\Sec\x80]\r\n", 4, utf8},
        {"after a UTF-8 BOM", "\xef\xbb\xbf" + v5 + "\"k\"=\"\xc0\xaf\"\r\n", 4, utf8},
        {"a byte CP932 has not", v4 + "\"k\"=\"\x83\x65\"\r\n\"m\"=\"\x81\"\r\n", 5,
         "コードページ CP932 で読めないバイトがあります。"},
        {"REGEDIT4 after a UTF-8 BOM", "\xef\xbb\xbf" + v4, 1,
         "REGEDIT4 のファイルに UTF-8 の BOM があります（REGEDIT4 は ANSI のコードページで書かれま"
         "す）。"},
        {"REGEDIT4 after a blank line", "\r\n" + v4, 1, notReg},
        {"5.00 after a comment", "; c\n" + v5, 1, notReg},
        {"an empty file", "", 1, notReg},
        {"UTF-16 cut short", "\xff\xfe" + utf16le(utf8ToUtf16(v5)) + "\"", 4,
         "UTF-16 のファイルが途中で切れています。"},
    };
    for (const auto& [what, file, line, reason] : cases) {
        const auto read = reg::importFile(file);
        ASSERT_EQ(read.refusals.size(), 1u) << what;
        EXPECT_EQ(read.refusals[0].line, line) << what;
        EXPECT_EQ(utf16ToUtf8(read.refusals[0].reason), reason) << what;
        EXPECT_TRUE(read.changes.empty()) << what;
    }
}

// Offline a batch is one rewrite: the change that fails leaves the file as it was.
TEST(RegFile, TheWineFileTakesABatchWholeOrNotAtAll) {
    TempPrefix prefix;
    const auto store = prefix.open();
    store->SaveSetting(u"A", u"S", u"k", u"old");
    const std::string before = readFile(prefix.file());
    std::size_t applied = 99;
    EXPECT_THROW(store->Apply({{Kind::Save, u"A", u"S", u"k", u"new"},
                               {Kind::DeleteSection, u"A", u"Missing", {}, {}}},
                              applied),
                 StoreError);
    EXPECT_EQ(applied, 0u);
    EXPECT_EQ(readFile(prefix.file()), before);

    store->Apply({{Kind::Save, u"A", u"S", u"k", u"new"},
                  {Kind::Save, u"B", u"T", u"x", u"1"},
                  {Kind::DeleteKey, u"a", u"s", u"K", {}}},
                 applied);
    EXPECT_EQ(applied, 3u);
    EXPECT_EQ(prefix.open()->GetAllSettings(u"A", u"S"), std::vector<Setting>{});
    EXPECT_EQ(prefix.open()->GetSetting(u"B", u"T", u"x"), u"1");
}

} // namespace
} // namespace keyloft::testing
