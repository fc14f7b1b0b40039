// What every store backend must do, whatever keeps the data: the same cases run against the Wine
// prefix file natively and against the registry under Wine. (Tricky text, names respelled in
// another case and Wine's order at full breadth, both backends alike: the agreement cases in
// wine_interop_test.cpp.)
#include "store_backend.h"

#include <optional>
#include <tuple>

namespace keyloft::testing {
namespace {

// REG_SZ data: UTF-16LE with its terminating NUL.
Bytes utf16(std::u16string_view text) {
    Bytes data;
    for (const char16_t c : Text(text) + u'\0')
        data.insert(data.end(),
                    {static_cast<std::uint8_t>(c & 0xff), static_cast<std::uint8_t>(c >> 8)});
    return data;
}

class StoreConformance : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void fresh() { store = backend.open(); }

    StoreBackend& backend = storeBackend();
    std::unique_ptr<SettingsStore> store;
};

// Data as other programs leave it: other types, the default value, strings without their NUL or
// of odd length. Each has its type, whatever the case of the name asked for.
TEST_F(StoreConformance, OnlyNamedStringValuesAreSettings) {
    const Text longText(5000, u'長');
    const std::tuple<Text, std::uint32_t, Bytes, std::optional<Text>> planted[] = {
        {u"N", 4, {10, 0, 0, 0}, {}},
        {u"N", 3, {1, 2, 3}, {}},
        {u"N", 7, utf16(std::u16string_view(u"a\0b\0", 4)), {}},
        {u"", 1, utf16(u"default"), {}},
        {u"N", 2, utf16(u"%TEMP%\\x"), u"%TEMP%\\x"},
        {u"N", 1, {'a', 0, 'b', 0, 'c', 0}, u"abc"},
        {u"N", 1, {'a', 0, 'b', 0, 0}, u"ab"},
        {u"N", 1, {'a', 0, 'b'}, u"a"},
        {u"N", 1, {}, u""},
        {u"N", 1, {'a', 0, 0, 0, 0, 0}, Text(u"a\0", 2)},
        {u"N", 1, utf16(longText), longText},
    };
    for (const auto& [name, type, data, setting] : planted) {
        SCOPED_TRACE(::testing::PrintToString(data));
        fresh();
        backend.plant({u"App", u"Sec"}, name, type, data);
        EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"N"), setting.value_or(u""));
        EXPECT_EQ(store->GetValueType(u"App", u"Sec", u"n"),
                  name.empty() ? std::nullopt : std::optional(type));
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"),
                  (setting ? Settings{{u"N", *setting}} : Settings{}));
        EXPECT_EQ(store->GetNonStringValues(u"App", u"Sec"),
                  (name.empty() || type == 1 || type == 2 ? std::vector<TypedValue>{}
                                                          : std::vector<TypedValue>{{u"N", type}}));
        store->SaveSetting(u"App", u"Sec", u"N", u"now a string");
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (Settings{{u"N", u"now a string"}}));
    }
}

// Names compare regardless of case, non-ASCII letters too; deleting what is not there (any more)
// fails with error 5 and changes nothing.
TEST_F(StoreConformance, DeletingRemovesWhatWasNamedAndNoMore) {
    const auto fill = [&] {
        fresh();
        store->SaveSetting(u"Äpp", u"Ωne", u"ä", u"1");
        store->SaveSetting(u"Äpp", u"Ωne", u"b", u"2");
        store->SaveSetting(u"Äpp", u"Two", u"c", u"3");
        store->SaveSetting(u"Other", u"One", u"ä", u"4");
    };
    const auto missing = [&](const std::function<void()>& call, const std::string& what) {
        EXPECT_EQ(failure(call),
                  "5 削除しようとした" + what +
                      "」が見つかりません。ほかのプログラムが削除した可能性があります。");
    };
    fill();
    store->DeleteSetting(u"äPP");
    missing([&] { store->DeleteSetting(u"Äpp"); }, "アプリケーション「Äpp");
    missing([&] { store->DeleteSetting(u"Äpp", u"Two"); }, "セクション「Two");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), Names{u"Other"});

    fill();
    store->DeleteSetting(u"Äpp", u"ωNE");
    missing([&] { store->DeleteSetting(u"Äpp", u"Ωne"); }, "セクション「Ωne");
    missing([&] { store->DeleteSettings(u"Äpp", u"Ωne", {u"b"}); }, "キー「b");
    EXPECT_EQ(store->EnumRegSubKeys(kBase + u"\\Äpp"), Names{u"Two"});
    store->DeleteSetting(u"Äpp", u"Two");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (Names{u"Other", u"Äpp"}));

    fill();
    store->DeleteSettings(u"Äpp", u"ΩNE", {u"Ä", u"B"});
    missing([&] { store->DeleteSetting(u"Äpp", u"Ωne", u"ä"); }, "キー「ä");
    EXPECT_TRUE(store->GetAllSettings(u"Äpp", u"Ωne").empty());
    EXPECT_EQ(store->EnumRegSubKeys(kBase + u"\\Äpp"), (Names{u"Two", u"Ωne"}));
    EXPECT_EQ(store->GetSetting(u"Other", u"One", u"ä"), u"4");
}

// A section is a path, as the runtime's SaveSetting takes it: the keys on its way are made, each
// level is a section of its own, and a section's delete takes the sections below it.
TEST_F(StoreConformance, SectionsNestAtAnyDepth) {
    store->SaveSetting(u"App", u"Engines\\Jet", u"SystemDB", u"C:\\system.mdw");
    store->SaveSetting(u"App", u"a\\b\\c", u"deep", u"3");
    store->SaveSetting(u"App", u"Engines", u"own", u"1");
    store->SaveSetting(u"App", u"Engines2", u"k", u"v");
    EXPECT_EQ(store->GetSections(u"app"),
              (Names{u"a", u"a\\b", u"a\\b\\c", u"Engines", u"Engines\\Jet", u"Engines2"}));
    EXPECT_EQ(store->EnumRegSubKeys(kBase + u"\\App\\Engines"), Names{u"Jet"});
    EXPECT_EQ(store->GetSetting(u"APP", u"engines\\JET", u"systemdb"), u"C:\\system.mdw");
    EXPECT_EQ(store->GetAllSettings(u"App", u"Engines"), (Settings{{u"own", u"1"}}));
    EXPECT_TRUE(store->GetAllSettings(u"App", u"a\\b").empty());
    EXPECT_TRUE(store->GetSections(u"Missing").empty());

    store->DeleteSetting(u"App", u"ENGINES");
    EXPECT_EQ(store->GetSections(u"App"), (Names{u"a", u"a\\b", u"a\\b\\c", u"Engines2"}));
    store->DeleteSettings(u"App", u"a\\b\\c", {u"deep"});
    store->DeleteSetting(u"App", u"a\\b");
    EXPECT_EQ(backend.open(true)->GetSections(u"App"), (Names{u"a", u"Engines2"}));
}

// The first key that fails stops a batch with its error: the keys before it stay deleted, as a
// store opened afresh sees, and the ones after it are not tried.
TEST_F(StoreConformance, DeleteSettingsStopsAtTheFirstKeyThatFails) {
    const std::pair<Text, long> stops[] = {{u"A", 5}, {Text(u"K\0L", 3), 1004}, {u"", 1001}};
    for (const auto& [failing, number] : stops) {
        SCOPED_TRACE(number);
        fresh();
        for (const char16_t* key : {u"a", u"b", u"c", u"d"})
            store->SaveSetting(u"App", u"Sec", key, key);
        const std::vector<Text> keys{u"B", u"a", failing, u"c"};
        EXPECT_EQ(std::stol(failure([&] { store->DeleteSettings(u"App", u"Sec", keys); })), number);
        EXPECT_EQ(backend.open(true)->GetAllSettings(u"App", u"Sec"),
                  (Settings{{u"c", u"c"}, {u"d", u"d"}}));
    }
}

TEST_F(StoreConformance, BadNamesAreRefusedAndNothingIsWritten) {
    const std::tuple<Text, Text, Text, std::string> bad[] = {
        {u"", u"S", u"K", "1001 アプリケーション名が空です。"},
        {u"A", u"S", u"", "1001 キー名称が空です。"},
        {u"A\\B", u"S", u"K", "1002 アプリケーション名に「\\」は使えません。"},
        {u"A", u"S\\\\T", u"K",
         "1002 セクション名に空の階層があります（「\\」の前後には名前が要ります）。"},
        {u"A", u"\\S", u"K",
         "1002 セクション名に空の階層があります（「\\」の前後には名前が要ります）。"},
        {u"A", u"S\\", u"K",
         "1002 セクション名に空の階層があります（「\\」の前後には名前が要ります）。"},
        {u"A", u"S\\" + Text(256, u's'), u"K", "1003 セクション名が長すぎます（255 文字まで）。"},
        {Text(256, u'a'), u"S", u"K", "1003 アプリケーション名が長すぎます（255 文字まで）。"},
        {u"A", u"S", Text(16384, u'k'), "1003 キー名称が長すぎます（16383 文字まで）。"},
        {u"A", Text(u"S\0T", 3), u"K", "1004 セクション名に NUL 文字は使えません。"},
    };
    for (const auto& [application, section, key, error] : bad) {
        EXPECT_EQ(failure([&] { store->SaveSetting(application, section, key, u"v"); }), error);
        EXPECT_EQ(failure([&] { store->DeleteSettings(application, section, {key}); }), error);
        if (key == u"K") { // a bad key name is no bad section
            EXPECT_EQ(failure([&] { store->DeleteSetting(application, section); }), error);
        }
    }
    EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
}

} // namespace
} // namespace keyloft::testing
