// Drives a Windows program as a user does, by keyboard and mouse through SendInput, and checks
// what it did through the registry API. Its steps come from a UTF-8 file, one to a line:
//   wait TITLE=N      until exactly N visible top-level windows are titled TITLE (15 s at most)
//   key CHORD         a key with its modifiers, e.g. ctrl+n, shift+tab, return, delete, o
//   type TEXT         the text, typed (keys where the layout has them, else VK_PACKET)
//   click X,Y         a left click at X,Y of the client area of the foreground window, once
//                     that is the active, enabled window under the point (15 s at most)
//   dblclick X,Y      the same, twice
//   value PATH=TEXT   HKCU\PATH (key\name) holds the string TEXT
//   nokey PATH        HKCU\PATH is no key
//   haskey PATH       HKCU\PATH is a key
//   novalue PATH      HKCU\PATH (key\name) is no value
//   copy TEXT         Ctrl+C copies exactly TEXT (\n a line break; carriage returns aside)
//   box TEXT | B1 B2  the foreground message box says TEXT, with the buttons B1, B2 (as Ctrl+C
//                     copies a message box on Windows: title, text and buttons between rules)
// Lines starting with # and blank lines are skipped. The first failing step ends it with
// status 1 and says why; every step is echoed as it starts.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

std::wstring widen(const std::string& text) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string narrow(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

// The message in pieces: GCC 12 warns falsely (-Wrestrict) of a literal + a temporary string.
template <typename... Pieces> [[noreturn]] void fail(const Pieces&... pieces) {
    std::string why;
    (why.append(pieces), ...);
    std::printf("FAIL: %s\n", why.c_str());
    std::fflush(stdout);
    ExitProcess(1);
}

struct Shown {
    HWND window;
    std::wstring title;
};

// Visible top-level windows, topmost first.
std::vector<Shown> shownWindows() {
    std::vector<Shown> shown;
    EnumWindows(
        [](HWND window, LPARAM into) -> BOOL {
            if (IsWindowVisible(window)) {
                wchar_t title[256] = {};
                GetWindowTextW(window, title, 256);
                reinterpret_cast<std::vector<Shown>*>(into)->push_back({window, title});
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&shown));
    return shown;
}

std::string titles(const std::vector<Shown>& shown) {
    std::string all;
    for (const Shown& s : shown)
        all.append("[").append(narrow(s.title)).append("] ");
    return all;
}

std::string windowName(HWND window) {
    if (!window)
        return "none";
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    char handle[32];
    std::snprintf(handle, sizeof handle, "%p", static_cast<void*>(window));
    return std::string(handle).append(" [").append(narrow(title)).append("]");
}

// Where the foreground thread's input goes, for a step that fails.
std::string inputState() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(0, &info))
        return "the foreground thread's input state cannot be read";
    return "foreground " + windowName(GetForegroundWindow()) + ", active " +
           windowName(info.hwndActive) + ", focus " + windowName(info.hwndFocus) + ", capture " +
           windowName(info.hwndCapture) + ", flags " + std::to_string(info.flags);
}

// Input goes to the foreground window: the newest one with the title, unless a modal one is up.
void waitFor(const std::wstring& title, int count) {
    std::vector<Shown> shown;
    for (int tries = 0; tries < 150; ++tries) {
        shown = shownWindows();
        std::vector<HWND> matching;
        for (const Shown& s : shown)
            if (s.title == title)
                matching.push_back(s.window);
        if (static_cast<int>(matching.size()) == count) {
            // A window a modal one disables keeps its place behind it.
            if (count > 0 && IsWindowEnabled(matching.front()) &&
                GetForegroundWindow() != matching.front()) {
                SetForegroundWindow(matching.front());
                Sleep(200);
                if (GetForegroundWindow() != matching.front())
                    continue;
            }
            Sleep(300); // the window's first paint and focus settle
            return;
        }
        Sleep(100);
    }
    fail("not ", std::to_string(count), " windows titled \"", narrow(title),
         "\" within 15 s; shown: ", titles(shown), "; ", inputState());
}

void send(std::vector<INPUT> inputs, DWORD pause = 150) {
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
        fail("SendInput refused the input");
    Sleep(pause);
}

INPUT keyInput(WORD vk, WORD scan, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    return input;
}

std::optional<WORD> namedKey(const std::string& name) {
    static const struct {
        const char* name;
        WORD vk;
    } keys[] = {{"return", VK_RETURN}, {"escape", VK_ESCAPE}, {"tab", VK_TAB},
                {"delete", VK_DELETE}, {"space", VK_SPACE},   {"down", VK_DOWN},
                {"right", VK_RIGHT},   {"home", VK_HOME}};
    for (const auto& key : keys)
        if (name == key.name)
            return key.vk;
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<WORD>(std::toupper(static_cast<unsigned char>(name[0])));
    return std::nullopt;
}

// The key vk with the modifiers held, each with its scan code, as a keyboard sends them.
void press(WORD vk, const std::vector<WORD>& held, DWORD pause) {
    const auto key = [](WORD code, DWORD flags) {
        const bool extended = code == VK_DELETE || code == VK_HOME || code == VK_END ||
                              (code >= VK_LEFT && code <= VK_DOWN);
        return keyInput(code, static_cast<WORD>(MapVirtualKeyW(code, MAPVK_VK_TO_VSC)),
                        flags | (extended ? KEYEVENTF_EXTENDEDKEY : 0u));
    };
    std::vector<INPUT> inputs;
    for (WORD modifier : held)
        inputs.push_back(key(modifier, 0));
    inputs.push_back(key(vk, 0));
    inputs.push_back(key(vk, KEYEVENTF_KEYUP));
    for (auto modifier = held.rbegin(); modifier != held.rend(); ++modifier)
        inputs.push_back(key(*modifier, KEYEVENTF_KEYUP));
    send(inputs, pause);
}

void pressChord(const std::string& chord) {
    std::vector<WORD> held;
    std::string rest = chord;
    for (size_t plus; (plus = rest.find('+')) != std::string::npos && plus > 0;) {
        const std::string modifier = rest.substr(0, plus);
        if (modifier == "ctrl")
            held.push_back(VK_CONTROL);
        else if (modifier == "shift")
            held.push_back(VK_SHIFT);
        else if (modifier == "alt")
            held.push_back(VK_MENU);
        else
            fail("no such modifier: ", modifier);
        rest = rest.substr(plus + 1);
    }
    const std::optional<WORD> vk = namedKey(rest);
    if (!vk)
        fail("no such key: ", rest);
    press(*vk, held, 150);
}

// As typed on the keyboard where its layout has the character, else as an input method sends it.
// Quickly: a list's type-ahead search forgets what was typed after 400 ms.
void typeText(const std::wstring& text) {
    for (wchar_t c : text) {
        const SHORT mapped = VkKeyScanW(c);
        if (mapped == -1 || (mapped & 0x600) != 0)
            send({keyInput(0, c, KEYEVENTF_UNICODE),
                  keyInput(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP)},
                 100);
        else
            press(static_cast<WORD>(mapped & 0xFF),
                  (mapped & 0x100) ? std::vector<WORD>{VK_SHIFT} : std::vector<WORD>{}, 30);
    }
    Sleep(150);
}

// A click goes where a user's would: to the active, enabled window under the point, which holds
// no capture and is in no menu or move loop. Just after a dialog closes, the window behind it
// becomes so a moment later; a click sent before then is lost.
void waitClickable(HWND window, POINT point) {
    std::string why;
    for (int tries = 0; tries < 150; ++tries, Sleep(100)) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
            why = "its thread's state cannot be read";
            continue;
        }
        const HWND under = WindowFromPoint(point);
        if (info.hwndActive != window)
            why = "it is not the active window";
        else if (!IsWindowEnabled(window))
            why = "it is disabled";
        else if (info.hwndCapture)
            why = "a window holds the mouse capture";
        else if (info.flags & (GUI_INMENUMODE | GUI_INMOVESIZE | GUI_POPUPMENUMODE))
            why = "it is in a menu or move loop";
        else if (!under || GetAncestor(under, GA_ROOT) != window)
            why = "another window is under the point";
        else
            return;
    }
    fail("the foreground window would not take a click within 15 s: ", why, "; ", inputState());
}

// When the last click's button went up: a click sooner than the double-click time after it, near
// it, would make a double click of the two.
DWORD lastClick = 0;

// Every button event carries the point. Wine hit-tests a mouse message when the program takes it
// from its queue, at the cursor as it is then, and its X11 driver moves the cursor to where an X
// event said the pointer was, even when that event is stale (the crossing events a window mapped
// or a move loop makes): a press sent with no point then lands wherever that put the cursor.
void click(const std::string& at, int times) {
    int x = 0, y = 0;
    if (std::sscanf(at.c_str(), "%d,%d", &x, &y) != 2)
        fail("not a point: ", at);
    HWND window = GetForegroundWindow();
    POINT point = {x, y};
    if (!window || !ClientToScreen(window, &point))
        fail("no foreground window to click in");
    waitClickable(window, point);
    while (GetTickCount() - lastClick <= GetDoubleClickTime())
        Sleep(50);
    // Absolute coordinates run from 0 to 65535 across the primary screen.
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const auto mouse = [&](DWORD button) {
        INPUT input = {};
        input.type = INPUT_MOUSE;
        input.mi.dx = static_cast<LONG>((point.x * 65535 + width / 2) / (width - 1));
        input.mi.dy = static_cast<LONG>((point.y * 65535 + height / 2) / (height - 1));
        input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | button;
        return input;
    };
    send({mouse(0)});
    for (int i = 0; i < times; ++i) {
        send({mouse(MOUSEEVENTF_LEFTDOWN), mouse(MOUSEEVENTF_LEFTUP)}, 50);
    }
    lastClick = GetTickCount();
    Sleep(300);
}

std::optional<std::wstring> stringValue(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos)
        fail("no value name in ", narrow(path));
    const std::wstring key = path.substr(0, slash), name = path.substr(slash + 1);
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                     value.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return value;
}

bool isKey(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring replaced(std::wstring text, const std::wstring& name, const std::wstring& by) {
    for (size_t at; (at = text.find(name)) != std::wstring::npos;)
        text.replace(at, name.size(), by);
    return text;
}

// \n in a step's text stands for a line break.
std::wstring expanded(std::wstring text) {
    return replaced(std::move(text), L"\\n", L"\n");
}

std::optional<std::wstring> clipboardText() {
    std::optional<std::wstring> text;
    if (!OpenClipboard(nullptr))
        return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    if (text)
        *text = replaced(std::move(*text), L"\r", L"");
    return text;
}

// What the window copies, so that its texts can be read: Qt's widgets are no windows of their own.
void copied(const std::wstring& expected) {
    if (!OpenClipboard(nullptr) || !EmptyClipboard() || !CloseClipboard())
        fail("cannot empty the clipboard");
    pressChord("ctrl+c");
    std::optional<std::wstring> text;
    for (int tries = 0; tries < 50 && !(text = clipboardText()); ++tries)
        Sleep(100);
    if (!text)
        fail("Ctrl+C copied nothing within 5 s");
    if (*text != expected)
        fail("Ctrl+C copied\n", narrow(*text), "\nnot\n", narrow(expected));
}

void run(const std::string& verb, const std::string& operand) {
    const std::wstring wide = expanded(widen(operand));
    const size_t equals = wide.rfind(L'=');
    if (verb == "wait") {
        if (equals == std::wstring::npos)
            fail("wait TITLE=N");
        waitFor(wide.substr(0, equals), std::stoi(wide.substr(equals + 1)));
    } else if (verb == "key") {
        pressChord(operand);
    } else if (verb == "type") {
        typeText(wide);
    } else if (verb == "click" || verb == "dblclick") {
        click(operand, verb == "click" ? 1 : 2);
    } else if (verb == "value") {
        if (equals == std::wstring::npos)
            fail("value PATH=TEXT");
        const std::wstring expected = wide.substr(equals + 1);
        const auto stored = stringValue(wide.substr(0, equals));
        if (stored != expected)
            fail("HKCU\\", narrow(wide.substr(0, equals)), " holds ",
                 stored ? std::string("\"").append(narrow(*stored)).append("\"")
                        : std::string("no string"),
                 ", not \"", narrow(expected), "\"");
    } else if (verb == "novalue") {
        if (const auto stored = stringValue(wide))
            fail("HKCU\\", narrow(wide), " still holds \"", narrow(*stored), "\"");
    } else if (verb == "copy") {
        copied(wide);
    } else if (verb == "box") {
        const size_t bar = wide.rfind(L" | ");
        if (bar == std::wstring::npos)
            fail("box TEXT | BUTTONS");
        wchar_t title[256] = {};
        GetWindowTextW(GetForegroundWindow(), title, 256);
        const std::wstring rule = L"---------------------------\n";
        std::wstring buttons;
        for (size_t at = bar + 3; at < wide.size();) {
            const size_t end = std::min(wide.find(L' ', at), wide.size());
            buttons += wide.substr(at, end - at) + L"   ";
            at = end + 1;
        }
        copied(rule + title + L"\n" + rule + wide.substr(0, bar) + L"\n" + rule + buttons + L"\n" +
               rule);
    } else if (verb == "nokey" || verb == "haskey") {
        if (isKey(wide) != (verb == "haskey"))
            fail("HKCU\\", operand, verb == "haskey" ? " is no key" : " is still a key");
    } else {
        fail("no such step: ", verb);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        fail("usage: keyloft_drive STEPS.txt");
    std::ifstream steps(argv[1]);
    if (!steps)
        fail("cannot read ", argv[1]);
    std::string line;
    for (int number = 1; std::getline(steps, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::printf("step %d: %s\n", number, line.c_str());
        std::fflush(stdout);
        const size_t space = line.find(' ');
        run(line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1));
    }
    std::printf("ok: all steps\n");
    return 0;
}
