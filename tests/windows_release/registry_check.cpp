// Prints, through the registry API, the values of one key below HKEY_CURRENT_USER, one a line as
// NAME=VALUE (numbers in decimal), or "none" when the key is not there.
// Usage: registry_check.exe KEY
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2)
        return 2;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, argv[1], 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::puts("none");
        return 0;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256, type = 0, dataSize = 0;
        BYTE data[4096];
        dataSize = sizeof data;
        if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        std::wstring text;
        if (type == REG_DWORD)
            text = std::to_wstring(*reinterpret_cast<const DWORD*>(data));
        else if (type == REG_SZ)
            text = reinterpret_cast<const wchar_t*>(data);
        else
            text = L"(type " + std::to_wstring(type) + L")";
        const std::wstring line = std::wstring(name) + L"=" + text + L"\n";
        const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                             nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(),
                            size, nullptr, nullptr);
        std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    }
    RegCloseKey(key);
    return 0;
}
