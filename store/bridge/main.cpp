// keyloft-bridge: run by Keyloft under a prefix's own Wine while that prefix's wineserver runs.
// The server keeps the registry in memory and saves user.reg only now and then, so while it runs
// the registry API is the only true view of the settings. The bridge answers Keyloft's requests
// (bridge_protocol.h) on stdin and stdout through the store's registry backend, until stdin
// closes or Wine shuts the prefix down.
#include "bridge_protocol.h"
#include "windows/windows_registry_store.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

using namespace keyloft;
using bridge::Op;

bool readExactly(HANDLE in, char* to, std::size_t n) {
    while (n > 0) {
        DWORD got = 0;
        const DWORD want = n > 1u << 20 ? 1u << 20 : static_cast<DWORD>(n);
        if (!ReadFile(in, to, want, &got, nullptr) || got == 0)
            return false;
        to += got;
        n -= got;
    }
    return true;
}

bool writeAll(HANDLE out, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD put = 0;
        const DWORD want = bytes.size() > 1u << 20 ? 1u << 20 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(out, bytes.data(), want, &put, nullptr) || put == 0)
            return false;
        bytes.remove_prefix(put);
    }
    return true;
}

// A "system" process of the prefix does not keep its wineserver alive: when the last other Wine
// program ends, the server signals this event and shuts down as it would without the bridge.
// The info class is Wine's own (services.exe makes the same call); elsewhere it simply fails.
constexpr ULONG kProcessWineMakeProcessSystem = 1000;

DWORD WINAPI exitWithThePrefix(void* event) {
    WaitForSingleObject(event, INFINITE);
    ExitProcess(0);
}

void leaveWithThePrefix() {
    using SetInformation = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG);
    const auto set = reinterpret_cast<SetInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationProcess")));
    HANDLE event = nullptr;
    if (set && set(GetCurrentProcess(), kProcessWineMakeProcessSystem, &event, sizeof event) == 0 &&
        event)
        CloseHandle(CreateThread(nullptr, 0, exitWithThePrefix, event, 0, nullptr));
}

// RegSaveKeyW, the one call that hands over a whole key in one round trip, needs it.
void enableBackupPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

std::wstring wide(std::u16string_view text) {
    return {text.begin(), text.end()};
}

// The key's whole branch as the server writes it: one consistent snapshot, in the format of
// user.reg, whatever the number of values. Nothing when the key does not exist.
void saveKey(const Text& path, bridge::Writer& reply) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) {
        reply.u8(0);
        return;
    }
    if (rc != ERROR_SUCCESS)
        throw registryFailure(u"RegOpenKeyExW", path, rc);
    wchar_t folder[MAX_PATH + 1];
    wchar_t file[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"klb", 0, file)) {
        rc = static_cast<LONG>(GetLastError());
        RegCloseKey(key);
        throw registryFailure(u"GetTempFileNameW", path, rc);
    }
    DeleteFileW(file); // RegSaveKeyW makes the file itself
    rc = RegSaveKeyW(key, file, nullptr);
    RegCloseKey(key);
    const HANDLE saved =
        rc == ERROR_SUCCESS
            ? CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr)
            : INVALID_HANDLE_VALUE;
    if (saved == INVALID_HANDLE_VALUE) {
        if (rc == ERROR_SUCCESS)
            rc = static_cast<LONG>(GetLastError());
        DeleteFileW(file);
        throw registryFailure(u"RegSaveKeyW", path, rc);
    }
    std::string text;
    LARGE_INTEGER size{};
    const bool read = GetFileSizeEx(saved, &size) && size.QuadPart < bridge::kMaxFrame &&
                      (text.resize(static_cast<std::size_t>(size.QuadPart)),
                       readExactly(saved, text.data(), text.size()));
    rc = read ? ERROR_SUCCESS : static_cast<LONG>(GetLastError());
    CloseHandle(saved); // and the file is gone
    if (!read)
        throw registryFailure(u"ReadFile", path, rc ? rc : ERROR_FILE_TOO_LARGE);
    reply.u8(1).bytes(text);
}

std::string answer(std::string_view request, SettingsStore& store) {
    bridge::Reader in(request);
    bridge::Writer reply;
    reply.u8(static_cast<std::uint8_t>(bridge::Status::Ok));
    const auto op = static_cast<Op>(in.u8());
    switch (op) {
    case Op::Hello:
        in.end();
        reply.u32(bridge::kVersion).u32(sizeof(void*));
        break;
    case Op::EnumSubKeys: {
        const Text path = in.text();
        in.end();
        reply.texts(store.EnumRegSubKeys(path));
        break;
    }
    case Op::SaveKey: {
        const Text path = in.text();
        in.end();
        saveKey(path, reply);
        break;
    }
    case Op::GetSetting:
    case Op::GetValueType:
    case Op::SaveSetting:
    case Op::DeleteSection:
    case Op::DeleteSettings: {
        const Text application = in.text();
        const Text section = in.text();
        if (op == Op::DeleteSection) {
            in.end();
            store.DeleteSetting(application, section);
        } else if (op == Op::DeleteSettings) {
            const std::vector<Text> keys = in.texts();
            in.end();
            store.DeleteSettings(application, section, keys);
        } else {
            const Text key = in.text();
            if (op == Op::SaveSetting) {
                const Text value = in.text();
                in.end();
                store.SaveSetting(application, section, key, value);
            } else if (op == Op::GetSetting) {
                in.end();
                reply.text(store.GetSetting(application, section, key));
            } else {
                in.end();
                const auto type = store.GetValueType(application, section, key);
                reply.u8(type ? 1 : 0).u32(type.value_or(0));
            }
        }
        break;
    }
    case Op::DeleteApplication: {
        const Text application = in.text();
        in.end();
        store.DeleteSetting(application);
        break;
    }
    case Op::EnumSections: {
        const Text application = in.text();
        in.end();
        reply.texts(store.GetSections(application));
        break;
    }
    default:
        throw bridge::ProtocolError{"unknown operation " + std::to_string(static_cast<int>(op))};
    }
    return reply.frame();
}

} // namespace

int main() {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    leaveWithThePrefix();
    enableBackupPrivilege();
    const std::unique_ptr<SettingsStore> store = openWindowsRegistryStore();
    try {
        std::string request;
        for (;;) {
            char head[4];
            if (!readExactly(in, head, sizeof head))
                return 0; // Keyloft has gone
            request.resize(*bridge::frameLength(std::string_view(head, sizeof head)));
            if (!readExactly(in, request.data(), request.size()))
                return 0;
            std::string reply;
            try {
                reply = answer(request, *store);
            } catch (const StoreError& e) {
                reply = bridge::errorReply(e);
            }
            if (!writeAll(out, reply))
                return 0;
        }
    } catch (const bridge::ProtocolError& e) {
        std::fprintf(stderr, "keyloft-bridge: %s\n", e.reason.c_str());
        return 2;
    }
}
