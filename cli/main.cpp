#include "console.h"
#include "run.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    keyloft::cli::ProcessIo io;
    const int status = keyloft::cli::run(
        keyloft::cli::programArguments(argc, argv), io,
        [](const std::filesystem::path& prefix) { return keyloft::openDefaultStore(prefix); });
    std::fflush(stdout);
    return status;
}
