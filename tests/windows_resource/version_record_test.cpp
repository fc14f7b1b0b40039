// Reads back, from this program's own file, the icon, the version record and the manifest that
// keyloft.rc gives Keyloft.exe, as Explorer reads them for the file's properties and its icon and
// as Windows reads the manifest when it starts the program; and keyloft-cli.exe's manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

TEST(WindowsResource, VersionRecord) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::vector<char> record(GetFileVersionInfoSizeW(path, nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(record.size()), record.data()));
    const auto query = [&](const std::wstring& item) {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueW(record.data(), item.c_str(), &value, &length) ? value : nullptr;
    };
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    const auto* language = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
    ASSERT_TRUE(fixed && language);
    // Version 1,3,0,0 of an application; Japanese, Unicode.
    EXPECT_EQ((std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                  fixed->dwProductVersionMS, fixed->dwProductVersionLS,
                                  fixed->dwFileType, language[0], language[1]}),
              (std::vector<DWORD>{0x00010003, 0, 0x00010003, 0, VFT_APP, 0x0411, 1200}));
    const std::pair<const wchar_t*, std::wstring> strings[] = {
        {L"Comments", L"比較的安全なﾚｼﾞｽﾄﾘｴﾃﾞｨﾀ"},
        {L"FileDescription", L"Keyloft"},
        {L"FileVersion", L"1.03.0000"},
        {L"InternalName", L"Keyloft"},
        {L"LegalCopyright", L"© 2026 Keyloft developers"},
        {L"LegalTrademarks", L"© 2026 Keyloft developers"},
        {L"OriginalFilename", L"Keyloft.exe"},
        {L"ProductName", L"Keyloft"},
        {L"ProductVersion", L"1.03.0000"},
    };
    for (const auto& [name, value] : strings) {
        const auto* text = static_cast<const wchar_t*>(
            query(std::wstring(L"\\StringFileInfo\\041104b0\\") + name));
        EXPECT_EQ(text ? text : L"(none)", value) << name;
    }
}

// The icon Explorer shows, loading at each size it picks from (the 256 px image is stored as PNG).
// The program ends right after, so the handles stay open.
TEST(WindowsResource, Icon) {
    for (const int size : {16, 32, 48, 256}) {
        const auto icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
        ICONINFO info{};
        BITMAP bitmap{};
        EXPECT_TRUE(icon && GetIconInfo(icon, &info) &&
                    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) && bitmap.bmWidth == size)
            << size;
    }
}

// What Windows reads from the manifest: no elevation, Windows 10 and 11 known, long paths; and
// no DPI setting, which Qt makes itself.
TEST(WindowsResource, Manifest) {
    const char* cli = std::getenv("KEYLOFT_CLI_PROGRAM");
    ASSERT_TRUE(cli);
    for (HMODULE module :
         {GetModuleHandleW(nullptr), LoadLibraryExA(cli, nullptr, LOAD_LIBRARY_AS_DATAFILE)}) {
        ASSERT_TRUE(module);
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        ASSERT_TRUE(found);
        const std::string_view manifest(
            static_cast<const char*>(LockResource(LoadResource(module, found))),
            SizeofResource(module, found));
        for (const std::string_view part :
             {R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
              R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",
              "<ws2:longPathAware>true</ws2:longPathAware>", "</assembly>"})
            EXPECT_NE(manifest.find(part), manifest.npos) << part;
        EXPECT_EQ(manifest.find("dpiAware"), manifest.npos);
    }
}

} // namespace
