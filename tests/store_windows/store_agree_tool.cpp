// The registry's half of the agreement cases (tests/store/wine_interop_test.cpp), run under Wine:
//   store_agree_tool write   writes the agreed data set through the registry backend
//   store_agree_tool dump    prints the whole settings area as the registry backend lists it
//   store_agree_tool time APP SECTION
//                            prints the microseconds the backend's RegEnumValueW loop takes
//                            to list that section, and the count (bench/live_bench.cpp)

#include "agreement_data.h"
#include "windows/windows_registry_store.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string_view>

int main(int argc, char** argv) {
    const std::string_view mode = argc >= 2 ? argv[1] : "";
    try {
        const auto store = keyloft::openWindowsRegistryStore();
        if (mode == "time" && argc == 4) {
            const auto name = [](std::string_view ascii) {
                return keyloft::Text(ascii.begin(), ascii.end());
            };
            const auto start = std::chrono::steady_clock::now();
            const auto settings = store->GetAllSettings(name(argv[2]), name(argv[3]));
            const std::chrono::duration<double, std::micro> took =
                std::chrono::steady_clock::now() - start;
            std::printf("%.0f %zu\n", took.count(), settings.size());
        } else if (mode == "write") {
            keyloft::agreement::write(*store);
        } else {                                  // dump
            _setmode(_fileno(stdout), _O_BINARY); // byte for byte: no CR before each LF
            const std::string text = keyloft::agreement::dump(keyloft::agreement::read(*store));
            std::fwrite(text.data(), 1, text.size(), stdout);
        }
    } catch (const keyloft::StoreError& e) {
        std::fprintf(stderr, "error %ld: %s\n", e.number(), e.what());
        return 1;
    }
    return 0;
}
