// Reads back, from this program's own file, the icon and the version record that keyloft.rc
// gives Keyloft.exe, as Explorer reads them for the file's properties and its icon.

#include <windows.h>
#include <winver.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

std::string utf8(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    std::string out(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size,
                                                                 nullptr, 0, nullptr, nullptr)),
                    '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()),
                        nullptr, nullptr);
    return out;
}

void expect(bool ok, const std::string& what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what.c_str());
        ++failures;
    }
}

std::vector<char> ownVersionRecord() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0;
    std::vector<char> record(GetFileVersionInfoSizeW(path, &handle));
    if (record.empty() ||
        !GetFileVersionInfoW(path, 0, static_cast<DWORD>(record.size()), record.data()))
        record.clear();
    return record;
}

const void* query(std::vector<char>& record, const std::wstring& path, UINT& length) {
    void* value = nullptr;
    length = 0;
    return VerQueryValueW(record.data(), path.c_str(), &value, &length) ? value : nullptr;
}

void checkVersionRecord() {
    std::vector<char> record = ownVersionRecord();
    if (record.empty())
        return expect(false, "the program has a version record");

    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(record, L"\\", length));
    expect(fixed && fixed->dwFileVersionMS == 0x00010002 && fixed->dwFileVersionLS == 0x00000001,
           "FILEVERSION 1,2,0,1");
    expect(fixed && fixed->dwProductVersionMS == 0x00010002 &&
               fixed->dwProductVersionLS == 0x00000001,
           "PRODUCTVERSION 1,2,0,1");
    expect(fixed && fixed->dwFileType == VFT_APP, "FILETYPE VFT_APP");

    const auto* language =
        static_cast<const WORD*>(query(record, L"\\VarFileInfo\\Translation", length));
    expect(language && length == 4 && language[0] == 0x0411 && language[1] == 1200,
           "Translation: Japanese, Unicode");

    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } strings[] = {
        {L"Comments", L"比較的安全なﾚｼﾞｽﾄﾘｴﾃﾞｨﾀ"},
        {L"FileDescription", L"Keyloft"},
        {L"FileVersion", L"1.02.0001"},
        {L"InternalName", L"Keyloft"},
        {L"LegalCopyright", L"© 2026 Keyloft developers"},
        {L"LegalTrademarks", L"© 2026 Keyloft developers"},
        {L"OriginalFilename", L"Keyloft.exe"},
        {L"ProductName", L"Keyloft"},
        {L"ProductVersion", L"1.02.0001"},
    };
    for (const auto& [name, value] : strings) {
        const auto* text = static_cast<const wchar_t*>(
            query(record, std::wstring(L"\\StringFileInfo\\041104b0\\") + name, length));
        const std::wstring found = text ? std::wstring(text) : L"(none)";
        expect(found == value,
               utf8(name) + " is \"" + utf8(value) + "\", not \"" + utf8(found) + "\"");
    }
}

// The icon group that Explorer shows: one image of each size it picks from.
void checkIcon() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    const auto* group =
        found ? static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found))) : nullptr;
    if (!group)
        return expect(false, "the program has icon group 1");
    // GRPICONDIR: reserved, type, count; then 14-byte entries beginning with width and height.
    const WORD count = *reinterpret_cast<const WORD*>(group + 4);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const BYTE* entry = group + 6 + 14 * i;
        expect(entry[0] == entry[1], "square icon images");
        sizes.push_back(entry[0] ? entry[0] : 256); // 0 stands for 256
    }
    expect(sizes == std::vector<int>{16, 32, 48, 256}, "icon images of 16, 32, 48 and 256 px");

    // Each loads at its size (the 256 px one is stored as PNG); the program ends right after,
    // so the handles are not released.
    for (int size : {16, 32, 48, 256}) {
        HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size,
                                 size, LR_DEFAULTCOLOR);
        ICONINFO info{};
        BITMAP bitmap{};
        expect(icon && GetIconInfo(static_cast<HICON>(icon), &info) &&
                   GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) && bitmap.bmWidth == size &&
                   bitmap.bmHeight == size,
               "the icon loads at " + std::to_string(size) + " px");
    }
}

} // namespace

int main() {
    checkVersionRecord();
    checkIcon();
    std::printf("%s\n",
                failures ? "version record or icon: FAILED" : "version record and icon: ok");
    return failures ? 1 : 0;
}
