// What every store backend must do, whatever keeps the data: the same cases run against the Wine
// prefix file natively and against the registry under Wine. (Tricky text, names respelled in
// another case and Wine's order at full breadth, both backends alike: tests/store_agree.)
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
    for (const char16_t* value : {u"first", u"a longer second value", u"日本 \"😀\"\\\n"})
        store->SaveSetting(u"App", u"Sec", u"Key", value);
    store->SaveSetting(u"App", u"Sec", u"[Empty]", u"");
    backend().plantKey({u"Lonely"});
    backend().plantKey({u"App", u"Empty"});
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (Names{u"App", u"Lonely"}));
    EXPECT_TRUE(store->EnumRegSubKeys(sectionsOf(u"Lonely")).empty());
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), (Names{u"Empty", u"Sec"}));
    EXPECT_TRUE(store->GetAllSettings(u"App", u"Empty").empty());
    EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"),
              (Settings{{u"[Empty]", u""}, {u"Key", u"日本 \"😀\"\\\n"}}));
    EXPECT_EQ(store->GetSetting(u"App", u"Other", u"Key"), u"");
    // The longest names the registry allows come back whole.
    const Text section(255, u'S'), key(16383, u'k');
    store->SaveSetting(u"Long", section, key, u"v");
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"Long")), Names{section});
    EXPECT_EQ(store->GetSetting(u"Long", section, key), u"v");
}

// Data as other programs leave it: other types, the default value, strings without their NUL or
// of odd length.
TEST_P(StoreConformance, OnlyNamedStringValuesAreSettings) {
    const Text longText(5000, u'長');
    const struct {
        Text name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        std::optional<Text> setting;
    } planted[] = {
        {u"N", 4, {10, 0, 0, 0}, {}},
        {u"N", 3, {1, 2, 3}, {}},
        {u"N", 7, utf16Data(std::u16string_view(u"a\0b\0", 4)), {}},
        {u"", 1, utf16Data(u"default"), {}},
        {u"N", 2, utf16Data(u"%TEMP%\\x"), u"%TEMP%\\x"},
        {u"N", 1, {'a', 0, 'b', 0, 'c', 0}, u"abc"},
        {u"N", 1, {'a', 0, 'b', 0, 0}, u"ab"},
        {u"N", 1, {'a', 0, 'b'}, u"a"},
        {u"N", 1, {}, u""},
        {u"N", 1, {'a', 0, 0, 0, 0, 0}, Text(u"a\0", 2)},
        {u"N", 1, utf16Data(longText), longText},
    };
    for (std::size_t i = 0; i < std::size(planted); ++i) {
        SCOPED_TRACE(i);
        const auto& p = planted[i];
        fresh();
        backend().plantValue(u"App", u"Sec", p.name, p.type, p.data);
        EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"N"), p.setting.value_or(u""));
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"),
                  (p.setting ? Settings{{u"N", *p.setting}} : Settings{}));
        store->SaveSetting(u"App", u"Sec", u"N", u"now a string");
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (Settings{{u"N", u"now a string"}}));
    }
}

TEST_P(StoreConformance, DeletingRemovesWhatWasNamedAndNoMore) {
    const auto fill = [&] {
        fresh();
        store->SaveSetting(u"Äpp", u"Ωne", u"a", u"1");
        store->SaveSetting(u"Äpp", u"Ωne", u"b", u"2");
        store->SaveSetting(u"Äpp", u"Two", u"c", u"3");
        store->SaveSetting(u"Other", u"One", u"a", u"4");
    };
    fill();
    store->DeleteSetting(u"äPP");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), Names{u"Other"});
    store->SaveSetting(u"Äpp", u"New", u"x", u"y"); // nothing of the old subtree comes back
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"Äpp")), Names{u"New"});

    fill();
    store->DeleteSetting(u"Äpp", u"ωNE");
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"Äpp")), Names{u"Two"});
    store->DeleteSetting(u"Äpp", u"Two");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (Names{u"Other", u"Äpp"}));

    fill();
    store->DeleteSettings(u"Äpp", u"ΩNE", {u"A", u"b"});
    EXPECT_TRUE(store->GetAllSettings(u"Äpp", u"Ωne").empty());
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"Äpp")), (Names{u"Two", u"Ωne"}));
    EXPECT_EQ(store->GetSetting(u"Other", u"One", u"a"), u"4");
    store->DeleteSettings(u"Nope", u"Nope", {}); // nothing asked, nothing to fail
}

// The first key that fails stops a batch with its error: the keys before it stay deleted, as a
// store opened afresh sees, and the ones after it are not tried.
TEST_P(StoreConformance, DeleteSettingsStopsAtTheFirstKeyThatFails) {
    const std::pair<Text, long> stops[] = {{u"A", 5}, {Text(u"K\0L", 3), 1004}, {u"", 1001}};
    for (const auto& [failing, number] : stops) {
        SCOPED_TRACE(number);
        fresh();
        for (const char16_t* key : {u"a", u"b", u"c", u"d"})
            store->SaveSetting(u"App", u"Sec", key, key);
        const std::vector<Text> keys{u"B", u"a", failing, u"c"};
        EXPECT_EQ(failure([&] { store->DeleteSettings(u"App", u"Sec", keys); }).number(), number);
        EXPECT_EQ(backend().sameStore()->GetAllSettings(u"App", u"Sec"),
                  (Settings{{u"c", u"c"}, {u"d", u"d"}}));
    }
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
        {[](SettingsStore& s) { s.DeleteSettings(u"App", u"Nope", {u"Key"}); }, {}},
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
        {u"A", u"S", u"", 1001, u"キー名称が空です。"},
        {u"A", u"S\\T", u"K", 1002, u"セクション名に「\\」は使えません。"},
        {Text(256, u'a'), u"S", u"K", 1003, u"アプリケーション名が長すぎます（255 文字まで）。"},
        {u"A", u"S", Text(16384, u'k'), 1003, u"キー名称が長すぎます（16383 文字まで）。"},
        {u"A", Text(u"S\0T", 3), u"K", 1004, u"セクション名に NUL 文字は使えません。"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(utf16ToUtf8(b.description));
        StoreError e = failure([&] { store->SaveSetting(b.application, b.section, b.key, u"v"); });
        EXPECT_EQ(e.number(), b.number);
        EXPECT_EQ(e.description(), b.description);
        EXPECT_EQ(failure([&] { store->DeleteSetting(b.application, b.section, b.key); }).number(),
                  b.number);
        EXPECT_EQ(
            failure([&] { store->DeleteSettings(b.application, b.section, {b.key}); }).number(),
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
