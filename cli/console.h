#pragma once

#include "command.h"

namespace keyloft::cli {

// The process's own standard streams and files. Text goes out as UTF-8, except to a Windows
// console, which is handed UTF-16 as it is (WriteConsoleW), whatever its code page.
class ProcessIo final : public Io {
public:
    ProcessIo();
    void out(std::u16string_view text) override;
    void outBytes(std::string_view bytes) override;
    void err(std::u16string_view text) override;
    std::string readInput() override;
    std::string readFile(std::u16string_view name) override;
    void writeFile(std::u16string_view name, std::string_view bytes) override;
};

// The program's arguments as UTF-16: on Windows the command line's own, elsewhere argv as UTF-8;
// throws UsageError for an argument that is not.
std::vector<Text> programArguments(int argc, char* argv[]);

} // namespace keyloft::cli
