#include "console.h"
#include "run.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    keyloft::cli::ProcessIo io;
    std::vector<keyloft::Text> arguments;
    try {
        arguments = keyloft::cli::programArguments(argc, argv);
    } catch (const keyloft::cli::UsageError& e) {
        io.err(u"keyloft-cli: " + e.message + u'\n');
        return keyloft::cli::kUsage;
    }
    const int status = keyloft::cli::run(arguments, io, [](const std::filesystem::path& prefix) {
        return keyloft::openDefaultStore(prefix);
    });
    std::fflush(stdout);
    return status;
}
