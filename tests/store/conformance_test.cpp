// What every store backend must do, whatever keeps the data: the same cases run against the Wine
// prefix file natively and against the registry under Wine.
#include "store_backend.h"

#include <optional>

namespace keyloft::testing {
namespace {

Text sectionsOf(std::u16string_view app) {
    return kBase + u"\\" + Text(app);
}

class StoreConformance : public ::testing::TestWithParam<std::shared_ptr<StoreBackend>> {
protected:
    void SetUp() override { fresh(); }
    void fresh() { store = GetParam()->freshStore(); }
    StoreBackend& backend() { return *GetParam(); }

    std::unique_ptr<SettingsStore> store;
};

TEST_P(StoreConformance, SavedSettingsReadBack) {
    EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
    EXPECT_TRUE(store->GetAllSettings(u"App", u"Sec").empty());
    EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"Key"), u"");
    for (const char16_t* value : {u"first", u"a longer second value", u"3"})
        store->SaveSetting(u"App", u"Sec", u"Key", value);
    store->SaveSetting(u"App", u"Sec", u"Empty", u"");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), Names{u"App"});
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), Names{u"Sec"});
    EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (Settings{{u"Empty", u""}, {u"Key", u"3"}}));
    EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"Key"), u"3");
    EXPECT_EQ(store->GetSetting(u"App", u"Other", u"Key"), u"");
    // The longest names the registry allows come back whole.
    const Text section(255, u'S'), key(16383, u'k');
    store->SaveSetting(u"Long", section, key, u"v");
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"Long")), Names{section});
    EXPECT_EQ(store->GetSetting(u"Long", section, key), u"v");
}

TEST_P(StoreConformance, EmptyKeysAreListedButHoldNothing) {
    backend().plantKey({u"Lonely"});
    backend().plantKey({u"App", u"Empty"});
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (Names{u"App", u"Lonely"}));
    EXPECT_TRUE(store->EnumRegSubKeys(sectionsOf(u"Lonely")).empty());
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), Names{u"Empty"});
    EXPECT_TRUE(store->GetAllSettings(u"App", u"Empty").empty());
}

TEST_P(StoreConformance, TrickyTextRoundTripsAsValueAndName) {
    const Text texts[] = {
        u"日本語のテキスト（全角）",
        u"😀 𠮷野家",
        u"say \"hi\" and 'bye'",
        u"C:\\Program Files\\\\x41\\",
        u"line 1\nline 2\r\n\tline 3",
        u"[Section] @=\"x\"",
        u"é1 café0 \u00ff9",
        u"\x01"
        u"7\x07\x1b\x7f end",
    };
    for (const Text& text : texts) {
        SCOPED_TRACE(utf16ToUtf8(text));
        store->SaveSetting(u"App", u"Values", u"k", text);
        EXPECT_EQ(store->GetSetting(u"App", u"Values", u"k"), text);
        store->SaveSetting(u"App", u"Keys", text, u"v");
        EXPECT_EQ(store->GetSetting(u"App", u"Keys", text), u"v");
        if (text.find(u'\\') == Text::npos) {
            store->SaveSetting(text, text, u"k", u"v");
            EXPECT_EQ(store->GetAllSettings(text, text), (Settings{{u"k", u"v"}}));
        }
    }
}

// Data as other programs leave it: other types, the default value, strings without their NUL or
// of odd length.
TEST_P(StoreConformance, OnlyNamedStringValuesAreSettings) {
    const Text longText(5000, u'長');
    const struct {
        const char* label;
        Text name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        std::optional<Text> setting;
    } planted[] = {
        {"Dword", u"N", 4, {10, 0, 0, 0}, {}},
        {"Binary", u"N", 3, {1, 2, 3}, {}},
        {"MultiString", u"N", 7, utf16Data(std::u16string_view(u"a\0b\0", 4)), {}},
        {"Default", u"", 1, utf16Data(u"default"), {}},
        {"ExpandString", u"N", 2, utf16Data(u"%TEMP%\\x"), u"%TEMP%\\x"},
        {"NoNul", u"N", 1, {'a', 0, 'b', 0, 'c', 0}, u"abc"},
        {"OddLength", u"N", 1, {'a', 0, 'b', 0, 0}, u"ab"},
        {"OddLengthNoNul", u"N", 1, {'a', 0, 'b'}, u"a"},
        {"Empty", u"N", 1, {}, u""},
        {"OnlyNul", u"N", 1, {0, 0}, u""},
        {"TwoNuls", u"N", 1, {'a', 0, 0, 0, 0, 0}, Text(u"a\0", 2)},
        {"Long", u"N", 1, utf16Data(longText), longText},
    };
    for (const auto& p : planted) {
        SCOPED_TRACE(p.label);
        fresh();
        backend().plantValue(u"App", u"Sec", p.name, p.type, p.data);
        EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"N"), p.setting.value_or(u""));
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"),
                  (p.setting ? Settings{{u"N", *p.setting}} : Settings{}));
        store->SaveSetting(u"App", u"Sec", u"N", u"now a string");
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (Settings{{u"N", u"now a string"}}));
    }
}

TEST_P(StoreConformance, NamesDifferingOnlyInCaseAreOneName) {
    const std::pair<Text, Text> variants[] = {
        {u"MyApp", u"myAPP"}, {u"ÄÖÜÉ", u"äöüé"}, {u"ŁĄŻŒ", u"łążœ"},
        {u"ΑΒΓΔ", u"αβγδ"},   {u"ДОМ", u"дом"},   {u"ＡＢＣ", u"ａｂｃ"},
    };
    for (const auto& [first, second] : variants) {
        SCOPED_TRACE(utf16ToUtf8(first));
        fresh();
        store->SaveSetting(first, first, first, u"1");
        store->SaveSetting(second, second, second, u"2");
        EXPECT_EQ(store->EnumRegSubKeys(kBase), Names{first}); // the first spelling stays
        EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(second)), Names{first});
        EXPECT_EQ(store->GetAllSettings(second, first), (Settings{{first, u"2"}}));
        EXPECT_EQ(store->GetSetting(first, second, second), u"2");
        store->DeleteSetting(second, second, second);
        EXPECT_TRUE(store->GetAllSettings(first, first).empty());
        store->DeleteSetting(second);
        EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
    }
}

TEST_P(StoreConformance, ListingsFollowWinesOrder) {
    // Lowercased unit by unit, a prefix first: "_" (0x5f) sorts before letters.
    const Names sorted{u"App", u"App [1]", u"app b", u"App_x", u"b", u"Zeta", u"Ä", u"Ω", u"日本"};
    for (const auto* name :
         {u"Ω", u"b", u"app b", u"Zeta", u"日本", u"App_x", u"App", u"Ä", u"App [1]"}) {
        store->SaveSetting(u"Sorted", name, u"k", u"v");
        store->SaveSetting(u"Keys", u"Sec", name, name);
    }
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (Names{u"Keys", u"Sorted"}));
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"Sorted")), sorted);
    Names keys;
    for (const auto& s : store->GetAllSettings(u"Keys", u"Sec"))
        keys.push_back(s.key);
    EXPECT_EQ(keys, sorted);
}

TEST_P(StoreConformance, DeletingRemovesWhatWasNamedAndNoMore) {
    const auto fill = [&] {
        fresh();
        store->SaveSetting(u"App", u"One", u"a", u"1");
        store->SaveSetting(u"App", u"One", u"b", u"2");
        store->SaveSetting(u"App", u"Two", u"c", u"3");
        store->SaveSetting(u"Other", u"One", u"a", u"4");
    };
    fill();
    store->DeleteSetting(u"APP");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), Names{u"Other"});
    store->SaveSetting(u"App", u"New", u"x", u"y"); // nothing of the old subtree comes back
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), Names{u"New"});

    fill();
    store->DeleteSetting(u"App", u"one");
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), Names{u"Two"});
    store->DeleteSetting(u"App", u"Two");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (Names{u"App", u"Other"}));

    fill();
    store->DeleteSetting(u"App", u"One", u"A");
    EXPECT_EQ(store->GetAllSettings(u"App", u"One"), (Settings{{u"b", u"2"}}));
    store->DeleteSetting(u"App", u"One", u"b");
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), (Names{u"One", u"Two"}));
    EXPECT_EQ(store->GetSetting(u"Other", u"One", u"a"), u"4");
}

TEST_P(StoreConformance, DeletingWhatIsNotThereFailsWithError5) {
    const Text gone = u"」が見つかりません。ほかのプログラムが削除した可能性があります。";
    const struct {
        std::function<void(SettingsStore&)> call;
        Text description; // empty: only the number is fixed
    } missing[] = {
        {[](SettingsStore& s) { s.DeleteSetting(u"Nope"); },
         u"削除しようとしたアプリケーション「Nope" + gone},
        {[](SettingsStore& s) { s.DeleteSetting(u"App", u"Nope"); },
         u"削除しようとしたセクション「Nope" + gone},
        {[](SettingsStore& s) { s.DeleteSetting(u"App", u"Sec", u"Nope"); },
         u"削除しようとしたキー「Nope" + gone},
        {[](SettingsStore& s) { s.DeleteSetting(u"Nope", u"Sec"); }, {}},
        {[](SettingsStore& s) { s.DeleteSetting(u"App", u"Nope", u"Key"); }, {}},
    };
    store->SaveSetting(u"App", u"Sec", u"Key", u"v");
    for (std::size_t i = 0; i < std::size(missing); ++i) {
        SCOPED_TRACE(i);
        const StoreError e = failure([&] { missing[i].call(*store); });
        EXPECT_EQ(e.number(), 5);
        if (!missing[i].description.empty()) {
            EXPECT_EQ(e.description(), missing[i].description);
        }
    }
    EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (Settings{{u"Key", u"v"}}));
}

TEST_P(StoreConformance, BadNamesAreRefusedAndNothingIsWritten) {
    const struct {
        Text application, section, key;
        long number;
        const char16_t* description;
    } bad[] = {
        {u"", u"S", u"K", 1001, u"アプリケーション名が空です。"},
        {u"A", u"", u"K", 1001, u"セクション名が空です。"},
        {u"A", u"S", u"", 1001, u"キー名称が空です。"},
        {u"A\\B", u"S", u"K", 1002, u"アプリケーション名に「\\」は使えません。"},
        {u"A", u"S\\T", u"K", 1002, u"セクション名に「\\」は使えません。"},
        {Text(256, u'a'), u"S", u"K", 1003, u"アプリケーション名が長すぎます（255 文字まで）。"},
        {u"A", Text(256, u's'), u"K", 1003, u"セクション名が長すぎます（255 文字まで）。"},
        {u"A", u"S", Text(16384, u'k'), 1003, u"キー名称が長すぎます（16383 文字まで）。"},
        {Text(u"A\0B", 3), u"S", u"K", 1004, u"アプリケーション名に NUL 文字は使えません。"},
        {u"A", Text(u"S\0T", 3), u"K", 1004, u"セクション名に NUL 文字は使えません。"},
        {u"A", u"S", Text(u"K\0L", 3), 1004, u"キー名称に NUL 文字は使えません。"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(utf16ToUtf8(b.description));
        StoreError e = failure([&] { store->SaveSetting(b.application, b.section, b.key, u"v"); });
        EXPECT_EQ(e.number(), b.number);
        EXPECT_EQ(e.description(), b.description);
        EXPECT_EQ(failure([&] { store->DeleteSetting(b.application, b.section, b.key); }).number(),
                  b.number);
        if (b.key == u"K") { // a bad key name is no bad section
            EXPECT_EQ(failure([&] { store->DeleteSetting(b.application, b.section); }).number(),
                      b.number);
        }
    }
    EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreConformance, ::testing::ValuesIn(storeBackends()),
                         [](const auto& info) { return info.param->name(); });

} // namespace
} // namespace keyloft::testing
