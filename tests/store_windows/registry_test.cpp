// What only the registry backend meets: string data as other programs leave it, and registry
// calls that fail for reasons of their own.
#include "store_backend.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace keyloft {
namespace {

std::vector<std::uint8_t> bytesOf(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    for (const char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xff));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return data;
}

struct RawString {
    const char* label;
    std::vector<std::uint8_t> data;
    Text text;
};

TEST(RegistryStrings, DataWithoutItsNulOrOfOddLengthStillReads) {
    const Text longText(5000, u'長');
    const RawString raw[] = {
        {"NoNul", bytesOf(u"abc"), u"abc"},
        {"OddLength", {'a', 0, 'b', 0, 0}, u"ab"},
        {"OddLengthNoNul", {'a', 0, 'b'}, u"a"},
        {"Empty", {}, u""},
        {"OnlyNul", {0, 0}, u""},
        {"TwoNuls", {'a', 0, 0, 0, 0, 0}, Text(u"a\0", 2)},
        {"LongerThanAFirstRead", bytesOf(longText), longText},
    };
    const auto backend = testing::storeBackends().front();
    for (const auto& [label, data, text] : raw) {
        SCOPED_TRACE(label);
        const auto store = backend->freshStore();
        backend->plantValue(u"App", u"Sec", u"Key", REG_SZ, data);
        EXPECT_EQ(store->GetSetting(u"App", u"Sec", u"Key"), text);
        EXPECT_EQ(store->GetAllSettings(u"App", u"Sec"), (std::vector<Setting>{{u"Key", text}}));
    }
}

TEST(RegistryFailure, ReportsTheCallTheKeyAndTheWindowsError) {
    const auto backend = testing::storeBackends().front();
    const auto store = backend->freshStore();
    // A volatile key takes no lasting subkey, so creating the section fails. Only the
    // application key is volatile: RegCreateKeyExW would make every missing parent so too.
    backend->plantKey({});
    HKEY key = nullptr;
    const std::wstring path = L"Software\\VB and VBA Program Settings\\Volatile";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);

    try {
        store->SaveSetting(u"Volatile", u"Sec", u"Key", u"v");
        FAIL() << "no error";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.number(), 1020);
        const Text start = u"レジストリの操作に失敗しました（RegCreateKeyExW「Software\\VB and VBA "
                           u"Program Settings\\Volatile\\Sec」、エラー 1021: ";
        EXPECT_EQ(e.description().substr(0, start.size()), start) << e.what();
        EXPECT_GT(e.description().size(), start.size() + 2) << "no system message";
        EXPECT_EQ(e.description().substr(e.description().size() - 2), u"）。") << e.what();
    }
    EXPECT_TRUE(store->EnumRegSubKeys(u"Software\\VB and VBA Program Settings\\Volatile").empty());
}

} // namespace
} // namespace keyloft
