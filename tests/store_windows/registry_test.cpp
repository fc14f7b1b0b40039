// What only the registry backend meets: registry calls that fail for reasons of their own.
#include "store_backend.h"

#include <windows.h>

namespace keyloft::testing {
namespace {

TEST(RegistryFailure, ReportsTheCallTheKeyAndTheWindowsError) {
    const auto backend = storeBackends().front();
    const auto store = backend->freshStore();
    // A volatile key takes no lasting subkey, so creating the section fails. Only the
    // application key is volatile: RegCreateKeyExW would make every missing parent so too.
    backend->plantKey({});
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Volatile",
                              0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const StoreError e = failure([&] { store->SaveSetting(u"Volatile", u"Sec", u"Key", u"v"); });
    EXPECT_EQ(e.number(), 1020);
    const Text start = u"レジストリの操作に失敗しました（RegCreateKeyExW「Software\\VB and VBA "
                       u"Program Settings\\Volatile\\Sec」、エラー 1021: ";
    EXPECT_TRUE(e.description().starts_with(start)) << e.what();
    EXPECT_TRUE(e.description().ends_with(u"）。")) << e.what();
    EXPECT_GT(e.description().size(), start.size() + 2) << "no system message";
    EXPECT_TRUE(store->EnumRegSubKeys(kBase + u"\\Volatile").empty());
}

} // namespace
} // namespace keyloft::testing
