// What every store backend must do, whatever keeps the data: the same cases run against the Wine
// prefix file natively and against the registry under Wine.
#include "settings_store.h"
#include "store_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace keyloft::testing {
namespace {

const Text kBase = u"Software\\VB and VBA Program Settings";

Text sectionsOf(std::u16string_view app) {
    return kBase + u"\\" + Text(app);
}

std::vector<std::uint8_t> utf16Data(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    for (const char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xff));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

class StoreConformance : public ::testing::TestWithParam<std::shared_ptr<StoreBackend>> {
protected:
    void SetUp() override { store = GetParam()->freshStore(); }
    StoreBackend& backend() { return *GetParam(); }

    // Runs `call`, which must fail; returns the error.
    static StoreError failure(const std::function<void()>& call) {
        try {
            call();
        } catch (const StoreError& e) {
            return e;
        }
        ADD_FAILURE() << "no error";
        return {0, {}};
    }

    std::unique_ptr<SettingsStore> store;
};

TEST_P(StoreConformance, NothingSavedYetListsNothing) {
    EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
    EXPECT_TRUE(store->EnumRegSubKeys(sectionsOf(u"App")).empty());
    EXPECT_TRUE(store->GetAllSettings(u"App", u"Sec").empty());
    EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"Key"), u"");
}

TEST_P(StoreConformance, SaveCreatesApplicationAndSection) {
    store->SaveSetting(u"App", u"Sec", u"Key", u"Value");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), std::vector<Text>{u"App"});
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), std::vector<Text>{u"Sec"});
    EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (std::vector<Setting>{{u"Key", u"Value"}}));
    EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"Key"), u"Value");
    EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"Other"), u"");
    EXPECT_EQ(store->GetSetting(u"App", u"Other", u"Key"), u"");
}

TEST_P(StoreConformance, EmptyKeysAreListedButHoldNothing) {
    backend().plantKey({u"Lonely"});
    backend().plantKey({u"App", u"Empty"});
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (std::vector<Text>{u"App", u"Lonely"}));
    EXPECT_TRUE(store->EnumRegSubKeys(sectionsOf(u"Lonely")).empty());
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), std::vector<Text>{u"Empty"});
    EXPECT_TRUE(store->GetAllSettings(u"App", u"Empty").empty());
}

TEST_P(StoreConformance, LongestNamesComeBackWhole) {
    const Text section(255, u'S');
    const Text key(16383, u'k');
    store->SaveSetting(u"App", section, key, u"v");
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), std::vector<Text>{section});
    EXPECT_EQ(store->GetSetting(u"App", section, key), u"v");
}

struct TrickyText {
    const char* label;
    Text text;
};

const TrickyText kTrickyTexts[] = {
    {"Japanese", u"日本語のテキスト（全角）"},
    {"SurrogatePairs", u"😀 𠮷野家"},
    {"Quotes", u"say \"hi\" and 'bye'"},
    {"Backslashes", u"C:\\Program Files\\\\x41\\"},
    {"Tab", u"a\tb"},
    {"Newlines", u"line 1\nline 2\r\nline 3"},
    {"Brackets", u"[Section] @=\"x\""},
    {"HexLookalike", u"é1 café0 \u00ff9"},
    {"Percent", u"%PATH%;%USERPROFILE%"},
    {"Controls", u"\x01\x07\x1b\x7f end"},
};

TEST_P(StoreConformance, TrickyTextRoundTripsAsValueAndName) {
    for (const auto& [label, text] : kTrickyTexts) {
        SCOPED_TRACE(label);
        store->SaveSetting(u"App", u"Values", u"k_x", text);
        EXPECT_EQ(store->GetSetting(u"App", u"Values", u"k_x"), text);
        store->SaveSetting(u"App", u"Keys", text, u"v");
        EXPECT_EQ(store->GetSetting(u"App", u"Keys", text), u"v");
        if (text.find(u'\\') == Text::npos) {
            store->SaveSetting(text, text, u"k", u"v");
            EXPECT_EQ(store->GetAllSettings(text, text), (std::vector<Setting>{{u"k", u"v"}}));
        }
    }
    store->SaveSetting(u"App", u"Values", u"empty", u"");
    EXPECT_EQ(store->GetAllSettings(u"App", u"Values").front(), (Setting{u"empty", u""}));
}

struct PlantedValue {
    const char* label;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    bool listed;
    Text text;
};

TEST_P(StoreConformance, OnlyStringValuesAreSettings) {
    const PlantedValue planted[] = {
        {"Dword", 4, {10, 0, 0, 0}, false, u""},
        {"Binary", 3, {1, 2, 3}, false, u""},
        {"MultiString", 7, utf16Data(std::u16string_view(u"a\0b\0", 4)), false, u""},
        {"ExpandString", 2, utf16Data(u"%TEMP%\\x"), true, u"%TEMP%\\x"},
        {"String", 1, utf16Data(u"plain"), true, u"plain"},
    };
    for (const auto& p : planted) {
        SCOPED_TRACE(p.label);
        store = backend().freshStore();
        backend().plantValue(u"App", u"Sec", u"Name", p.type, p.data);
        EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"Name"), p.text);
        const auto all = store->GetAllSettings(u"App", u"Sec");
        const std::vector<Setting> expected =
            p.listed ? std::vector<Setting>{{u"Name", p.text}} : std::vector<Setting>{};
        EXPECT_EQ(all, expected);
        store->SaveSetting(u"App", u"Sec", u"Name", u"now a string");
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"),
                  (std::vector<Setting>{{u"Name", u"now a string"}}));
    }
}

TEST_P(StoreConformance, DefaultValueIsNoSetting) {
    backend().plantValue(u"App", u"Sec", u"", 1, utf16Data(u"default"));
    store->SaveSetting(u"App", u"Sec", u"Key", u"v");
    EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (std::vector<Setting>{{u"Key", u"v"}}));
}

struct CaseVariant {
    const char* label;
    Text first, second;
};

TEST_P(StoreConformance, NamesDifferingOnlyInCaseAreOneName) {
    const CaseVariant variants[] = {
        {"Ascii", u"MyApp", u"myAPP"},       {"Latin1", u"ÄÖÜÉ", u"äöüé"},
        {"LatinExtended", u"ŁĄŻŒ", u"łążœ"}, {"Greek", u"ΑΒΓΔ", u"αβγδ"},
        {"Cyrillic", u"ДОМ", u"дом"},        {"FullWidth", u"ＡＢＣ", u"ａｂｃ"},
    };
    for (const auto& [label, first, second] : variants) {
        SCOPED_TRACE(label);
        store = backend().freshStore();
        store->SaveSetting(first, first, first, u"1");
        store->SaveSetting(second, second, second, u"2");
        EXPECT_EQ(store->EnumRegSubKeys(kBase), std::vector<Text>{first});
        EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(second)), std::vector<Text>{first});
        EXPECT_EQ(store->GetAllSettings(second, first), (std::vector<Setting>{{first, u"2"}}));
        EXPECT_EQ(store->GetSetting(first, second, second), u"2");
        store->DeleteSetting(second, second, second);
        EXPECT_TRUE(store->GetAllSettings(first, first).empty());
        store->DeleteSetting(second);
        EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
    }
}

TEST_P(StoreConformance, ListingsFollowWinesOrder) {
    // Lowercased unit by unit, a prefix first: "_" (0x5f) sorts before letters.
    const std::vector<Text> sorted{u"App",  u"App [1]", u"app b", u"App_x", u"b",
                                   u"Zeta", u"Ä",       u"Ω",     u"日本"};
    const std::vector<Text> saveOrder{u"Ω",     u"b",   u"app b", u"Zeta",   u"日本",
                                      u"App_x", u"App", u"Ä",     u"App [1]"};
    for (const auto& name : saveOrder) {
        store->SaveSetting(name, u"Sec", u"k", u"v");
        store->SaveSetting(u"Sorted", name, u"k", u"v");
        store->SaveSetting(u"Sorted", u"Keys", name, name);
    }
    EXPECT_EQ(store->EnumRegSubKeys(kBase),
              (std::vector<Text>{u"App", u"App [1]", u"app b", u"App_x", u"b", u"Sorted", u"Zeta",
                                 u"Ä", u"Ω", u"日本"}));
    std::vector<Text> sections = store->EnumRegSubKeys(sectionsOf(u"Sorted"));
    sections.erase(std::find(sections.begin(), sections.end(), u"Keys"));
    EXPECT_EQ(sections, sorted);
    std::vector<Text> keys;
    for (const auto& s : store->GetAllSettings(u"Sorted", u"Keys"))
        keys.push_back(s.key);
    EXPECT_EQ(keys, sorted);
}

TEST_P(StoreConformance, DeletingRemovesWhatWasNamedAndNoMore) {
    const auto fill = [&] {
        store = backend().freshStore();
        store->SaveSetting(u"App", u"One", u"a", u"1");
        store->SaveSetting(u"App", u"One", u"b", u"2");
        store->SaveSetting(u"App", u"Two", u"c", u"3");
        store->SaveSetting(u"Other", u"One", u"a", u"4");
    };
    fill();
    store->DeleteSetting(u"APP");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), std::vector<Text>{u"Other"});
    EXPECT_EQ(store->GetSetting(u"App", u"One", u"a"), u"");
    store->SaveSetting(u"App", u"New", u"x", u"y"); // nothing of the old subtree comes back
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), std::vector<Text>{u"New"});

    fill();
    store->DeleteSetting(u"App", u"one");
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), std::vector<Text>{u"Two"});
    store->DeleteSetting(u"App", u"Two");
    EXPECT_EQ(store->EnumRegSubKeys(kBase), (std::vector<Text>{u"App", u"Other"}));
    EXPECT_TRUE(store->EnumRegSubKeys(sectionsOf(u"App")).empty());

    fill();
    store->DeleteSetting(u"App", u"One", u"A");
    EXPECT_EQ(store->GetAllSettings(u"App", u"One"), (std::vector<Setting>{{u"b", u"2"}}));
    store->DeleteSetting(u"App", u"One", u"b");
    EXPECT_TRUE(store->GetAllSettings(u"App", u"One").empty());
    EXPECT_EQ(store->EnumRegSubKeys(sectionsOf(u"App")), (std::vector<Text>{u"One", u"Two"}));
    EXPECT_EQ(store->GetSetting(u"Other", u"One", u"a"), u"4");
}

struct MissingItem {
    const char* label;
    std::function<void(SettingsStore&)> call;
    const char16_t* description; // nullptr: only the number is fixed
};

TEST_P(StoreConformance, DeletingWhatIsNotThereFailsWithError5) {
    const MissingItem missing[] = {
        {"Application", [](SettingsStore& s) { s.DeleteSetting(u"Nope"); },
         u"削除しようとしたアプリケーション「Nope」が見つかりません。ほかのプログラムが削除した可能"
         u"性が"
         u"あります。"},
        {"Section", [](SettingsStore& s) { s.DeleteSetting(u"App", u"Nope"); },
         u"削除しようとしたセクション「Nope」が見つかりません。ほかのプログラムが削除した可能性があ"
         u"り"
         u"ます。"},
        {"Key", [](SettingsStore& s) { s.DeleteSetting(u"App", u"Sec", u"Nope"); },
         u"削除しようとしたキー「Nope」が見つかりません。ほかのプログラムが削除した可能性があります"
         u"。"},
        {"SectionOfMissingApplication", [](SettingsStore& s) { s.DeleteSetting(u"Nope", u"Sec"); },
         nullptr},
        {"KeyOfMissingSection", [](SettingsStore& s) { s.DeleteSetting(u"App", u"Nope", u"Key"); },
         nullptr},
    };
    store->SaveSetting(u"App", u"Sec", u"Key", u"v");
    for (const auto& m : missing) {
        SCOPED_TRACE(m.label);
        const StoreError e = failure([&] { m.call(*store); });
        EXPECT_EQ(e.number(), 5);
        if (m.description) {
            EXPECT_EQ(e.description(), m.description);
        }
    }
    EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (std::vector<Setting>{{u"Key", u"v"}}));
}

struct BadName {
    const char* label;
    Text application, section, key;
    long number;
    const char16_t* description;
};

TEST_P(StoreConformance, BadNamesAreRefusedAndNothingIsWritten) {
    const BadName bad[] = {
        {"EmptyApplication", u"", u"S", u"K", 1001, u"アプリケーション名が空です。"},
        {"EmptySection", u"A", u"", u"K", 1001, u"セクション名が空です。"},
        {"EmptyKey", u"A", u"S", u"", 1001, u"キー名称が空です。"},
        {"BackslashInApplication", u"A\\B", u"S", u"K", 1002,
         u"アプリケーション名に「\\」は使えません。"},
        {"BackslashInSection", u"A", u"S\\T", u"K", 1002, u"セクション名に「\\」は使えません。"},
        {"LongApplication", Text(256, u'a'), u"S", u"K", 1003,
         u"アプリケーション名が長すぎます（255 文字まで）。"},
        {"LongSection", u"A", Text(256, u's'), u"K", 1003,
         u"セクション名が長すぎます（255 文字まで）。"},
        {"LongKey", u"A", u"S", Text(16384, u'k'), 1003,
         u"キー名称が長すぎます（16383 文字まで）。"},
        {"NulInApplication", Text(u"A\0B", 3), u"S", u"K", 1004,
         u"アプリケーション名に NUL 文字は使えません。"},
        {"NulInSection", u"A", Text(u"S\0T", 3), u"K", 1004,
         u"セクション名に NUL 文字は使えません。"},
        {"NulInKey", u"A", u"S", Text(u"K\0L", 3), 1004, u"キー名称に NUL 文字は使えません。"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.label);
        StoreError e = failure([&] { store->SaveSetting(b.application, b.section, b.key, u"v"); });
        EXPECT_EQ(e.number(), b.number);
        EXPECT_EQ(e.description(), b.description);
        e = failure([&] { store->DeleteSetting(b.application, b.section, b.key); });
        EXPECT_EQ(e.number(), b.number);
        if (!b.key.empty() && b.key.size() <= 16383 && b.key.find(u'\0') == Text::npos) {
            e = failure([&] { store->DeleteSetting(b.application, b.section); });
            EXPECT_EQ(e.number(), b.number);
        }
    }
    EXPECT_TRUE(store->EnumRegSubKeys(kBase).empty());
}

TEST_P(StoreConformance, SavingAgainReplacesTheValue) {
    store->SaveSetting(u"App", u"Sec", u"Key", u"first");
    store->SaveSetting(u"App", u"Sec", u"Key", u"second, longer than the first");
    store->SaveSetting(u"App", u"Sec", u"Key", u"3");
    EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (std::vector<Setting>{{u"Key", u"3"}}));
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreConformance, ::testing::ValuesIn(storeBackends()),
                         [](const auto& info) { return info.param->name(); });

} // namespace
} // namespace keyloft::testing
