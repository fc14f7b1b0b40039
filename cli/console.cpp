#include "console.h"

#include "text_codec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it builds on.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#endif

namespace keyloft::cli {

namespace {

void write(std::FILE* stream, std::u16string_view text) {
#ifdef _WIN32
    HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        while (!text.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
            DWORD written = 0;
            if (!WriteConsoleW(handle, text.data(), chunk, &written, nullptr) || !written)
                return;
            text.remove_prefix(written);
        }
        return;
    }
#endif
    const std::string bytes = utf16ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

std::filesystem::path pathOf(std::u16string_view name) {
#ifdef _WIN32
    return std::filesystem::path(std::wstring(name.begin(), name.end()));
#else
    return std::filesystem::path(utf16ToUtf8(name));
#endif
}

Text reason(int error) {
    return utf8ToUtf16(std::strerror(error));
}

} // namespace

ProcessIo::ProcessIo() {
#ifdef _WIN32
    // The bytes as they are: a .reg file, and UTF-8 without CRLF translation.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
}

void ProcessIo::out(std::u16string_view text) {
    write(stdout, text);
}

void ProcessIo::outBytes(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void ProcessIo::err(std::u16string_view text) {
    std::fflush(stdout);
    write(stderr, text);
}

std::string ProcessIo::readInput() {
#ifdef _WIN32
    // Typed on a console: read as UTF-16, whatever the console's code page, up to Ctrl+Z (the end
    // of a console's input, as the C runtime takes it), the console's CRLF line ends as LF.
    HANDLE console = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
        std::u16string typed;
        wchar_t buffer[4096];
        DWORD read = 0;
        while (typed.find(u'\x1a') == typed.npos &&
               ReadConsoleW(console, buffer, std::size(buffer), &read, nullptr) && read > 0)
            typed.append(buffer, buffer + read);
        typed.erase(std::min(typed.find(u'\x1a'), typed.size()));
        std::u16string text;
        for (std::size_t i = 0; i < typed.size(); ++i)
            if (typed[i] != u'\r' || i + 1 == typed.size() || typed[i + 1] != u'\n')
                text += typed[i];
        return utf16ToUtf8(text);
    }
#endif
    std::string bytes;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
        bytes.append(buffer, n);
    if (std::ferror(stdin))
        throw UsageError{u"標準入力を読めません: " + reason(errno)};
    return bytes;
}

// Read by blocks, so that a failed read (a folder opens, but does not read) is a status, not an
// exception.
std::string ProcessIo::readFile(std::u16string_view name) {
    const auto unreadable = [&](int error) {
        return UsageError{u"「" + Text(name) + u"」を読めません: " + reason(error)};
    };
    const std::filesystem::path path = pathOf(name);
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        throw unreadable(EISDIR);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw unreadable(errno);
    std::string bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        throw unreadable(errno);
    return bytes;
}

void ProcessIo::writeFile(std::u16string_view name, std::string_view bytes) {
    const std::filesystem::path path = pathOf(name);
    std::filesystem::path temp = path;
    temp += ".keyloft-tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            const int error = errno;
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            throw UsageError{u"「" + Text(name) + u"」に書き込めません: " + reason(error)};
        }
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw UsageError{u"「" + Text(name) + u"」に書き込めません: " +
                         utf8ToUtf16(error.message())};
    }
}

std::vector<Text> programArguments([[maybe_unused]] int argc, [[maybe_unused]] char* argv[]) {
    std::vector<Text> arguments;
#ifdef _WIN32
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            arguments.emplace_back(wide[i], wide[i] + std::wcslen(wide[i]));
        LocalFree(wide);
    }
#else
    // A byte that is no UTF-8 would be dropped on the way to a name, a value or a path: another
    // one than the user gave.
    for (int i = 1; i < argc; ++i) {
        std::size_t invalidAt = 0;
        auto argument = strictUtf8ToUtf16(argv[i], invalidAt);
        if (!argument)
            throw UsageError{u"引数 " + utf8ToUtf16(digits(static_cast<std::uint64_t>(i))) +
                             u" に UTF-8 として正しくないバイトがあります。"};
        arguments.push_back(std::move(*argument));
    }
#endif
    return arguments;
}

} // namespace keyloft::cli
