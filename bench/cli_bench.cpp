// keyloft-cli as a script runs it, start to exit, beside what such a script would call instead,
// in one run: on a prefix made by wineboot and grown to an 8.4 MB user.reg, with no server
// running, one `get` and one `set` beside `wine reg query` and `wine reg add` (Wine's own start
// and server included, and ended before each run), and beside the store's own operation in
// process; then the same while a server runs (`wineserver -p`), where keyloft-cli starts its
// bridge; and an import of 1,000 settings offline beside one rewrite of the file.
#include "settings_store.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kTargetSize = 8400 * 1024;
const std::string kKey = "HKCU\\Software\\VB and VBA Program Settings\\Bench\\Small";

// The loader the build found starting here; `wine` itself may not (cmake/KeyloftWine.cmake).
const std::string kWine = "'" KEYLOFT_WINE_LOADER "'";

int sh(const std::string& command) {
    return std::system(command.c_str());
}

struct Bench {
    fs::path dir, prefix, importFile, saved;
    std::string cli;
    bool ready = false;

    Bench() {
        std::string tmpl = (fs::temp_directory_path() / "keyloft-cli-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            return;
        dir = tmpl;
        prefix = dir / "pfx";
        cli = "'" KEYLOFT_CLI "' --prefix '" + prefix.string() + "' ";
        fs::create_directories(dir / "home");
        ::setenv("HOME", (dir / "home").c_str(), 1);
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        if (sh(kWine + " wineboot --init >/dev/null 2>&1 && wineserver -w") != 0)
            return;
        std::string text = "\n[Software\\\\VB and VBA Program Settings\\\\Bench\\\\Small] 1\n"
                           "\"k\"=\"value\"\n";
        const std::size_t start = fs::file_size(prefix / "user.reg");
        char line[160];
        for (int app = 0; start + text.size() < kTargetSize; ++app)
            for (int sec = 0; sec < 8; ++sec) {
                std::snprintf(line, sizeof line,
                              "\n[Software\\\\VB and VBA Program Settings\\\\Bulk%05d\\\\S%d] 1\n",
                              app, sec);
                text += line;
                for (int k = 0; k < 12; ++k) {
                    std::snprintf(line, sizeof line, "\"Setting%02d\"=\"C:\\\\App%05d\\\\%d\"\n", k,
                                  app, k);
                    text += line;
                }
            }
        std::ofstream(prefix / "user.reg", std::ios::app | std::ios::binary) << text;
        saved = dir / "user.reg.saved";
        fs::copy_file(prefix / "user.reg", saved);
        importFile = dir / "import.reg";
        std::ofstream reg(importFile, std::ios::binary);
        reg << "Windows Registry Editor Version 5.00\r\n\r\n";
        for (int s = 0; s < 10; ++s) {
            reg << "[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Imported\\S" << s
                << "]\r\n";
            for (int k = 0; k < 100; ++k)
                reg << "\"Key" << k << "\"=\"imported value " << k << "\"\r\n";
            reg << "\r\n";
        }
        ready = static_cast<bool>(reg);
    }
    ~Bench() {
        if (!dir.empty()) {
            sh("wineserver -k >/dev/null 2>&1; wineserver -w");
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    }
    std::unique_ptr<keyloft::SettingsStore> open() const {
        return keyloft::openWinePrefixStore(prefix, KEYLOFT_BRIDGES);
    }
};

Bench& bench() {
    static Bench b;
    return b;
}

// Median seconds of each case, for the ratios printed at the end.
std::vector<std::pair<std::string, double>> took;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double tookFor(const std::string& name) {
    for (const auto& [n, s] : took)
        if (n == name)
            return s;
    return 0;
}

// Runs `timed` per iteration after `before` (untimed); keeps the median under `name`.
template <class Before, class Timed>
void measure(benchmark::State& state, const std::string& name, Before before, Timed timed) {
    if (!bench().ready) {
        state.SkipWithError("wine could not make the prefix");
        return;
    }
    std::vector<double> runs;
    for (auto _ : state) {
        before();
        const auto start = Clock::now();
        timed();
        const double s = seconds(start);
        state.SetIterationTime(s);
        runs.push_back(s);
    }
    took.emplace_back(name, median(runs));
}

void noServer() {
    sh("wineserver -k >/dev/null 2>&1; wineserver -w");
}
void serverUp() {
    sh("wineserver -p >/dev/null 2>&1");
}

#define CASE(name, iterations, before, body)                                                       \
    void name(benchmark::State& state) {                                                           \
        measure(state, #name, before, [] { body; });                                               \
    }                                                                                              \
    BENCHMARK(name)->Iterations(iterations)->UseManualTime()->Unit(benchmark::kMillisecond)

// Offline: no server, and none left by the run before.
// The floor of any command a script starts: a shell and a program that does nothing.
CASE(ProcessStart, 10, noServer, sh("/bin/true"));
CASE(CliGet, 10, noServer, sh(bench().cli + "get Bench Small k >/dev/null"));
CASE(StoreGet, 10, noServer, bench().open()->GetSetting(u"Bench", u"Small", u"k"));
CASE(WineRegQuery, 3, noServer, sh(kWine + " reg query '" + kKey + "' /v k >/dev/null"));
CASE(CliSet, 10, noServer, sh(bench().cli + "set Bench Small k new"));
CASE(StoreSet, 10, noServer, bench().open()->SaveSetting(u"Bench", u"Small", u"k", u"v"));
CASE(WineRegAdd, 3, noServer, sh(kWine + " reg add '" + kKey + "' /v k /d x /f >/dev/null"));

// 1,000 settings into the file as it was, beside one rewrite of it.
void restore() {
    noServer();
    fs::copy_file(bench().saved, bench().prefix / "user.reg", fs::copy_options::overwrite_existing);
}
CASE(CliImport1000, 5, restore,
     sh(bench().cli + "import '" + bench().importFile.string() + "' >/dev/null"));
CASE(StoreOneRewrite, 5, restore,
     bench().open()->SaveSetting(u"Bench", u"Small", u"k", u"rewrite"));

// Through a running server: keyloft-cli starts its bridge for the one command.
CASE(CliGetLive, 5, serverUp, sh(bench().cli + "get Bench Small k >/dev/null"));
CASE(WineRegQueryLive, 5, serverUp, sh(kWine + " reg query '" + kKey + "' /v k >/dev/null"));
CASE(CliSetLive, 5, serverUp, sh(bench().cli + "set Bench Small k live"));
CASE(WineRegAddLive, 5, serverUp, sh(kWine + " reg add '" + kKey + "' /v k /d y /f >/dev/null"));

// The same write with the bridge already up: what a single command pays for starting it.
std::unique_ptr<keyloft::SettingsStore> warm;
void warmBridge() {
    serverUp();
    if (!warm) {
        warm = bench().open();
        warm->GetSetting(u"Bench", u"Small", u"k");
    }
}
CASE(StoreSetLiveWarm, 20, warmBridge, warm->SaveSetting(u"Bench", u"Small", u"k", u"warm"));

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    warm.reset();
    const auto ratio = [](const char* what, const char* a, const char* b) {
        if (tookFor(a) > 0 && tookFor(b) > 0)
            std::printf("%-50s %8.1f ms / %8.1f ms = 1/%.1f (%.2fx)\n", what, 1e3 * tookFor(a),
                        1e3 * tookFor(b), tookFor(b) / tookFor(a), tookFor(a) / tookFor(b));
    };
    ratio("get offline, beside wine reg query (<= 1/20)", "CliGet", "WineRegQuery");
    ratio("set offline, beside wine reg add (<= 1/15)", "CliSet", "WineRegAdd");
    ratio("get offline, beside the store's own (<= 3x)", "CliGet", "StoreGet");
    ratio("starting any program, beside the store's own get", "ProcessStart", "StoreGet");
    ratio("set offline, beside the store's own (<= 3x)", "CliSet", "StoreSet");
    ratio("import of 1,000 beside one rewrite (<= 3x)", "CliImport1000", "StoreOneRewrite");
    ratio("get through a server, beside wine reg query", "CliGetLive", "WineRegQueryLive");
    ratio("set through a server, beside wine reg add", "CliSetLive", "WineRegAddLive");
    ratio("set through a server, beside a warm bridge's", "CliSetLive", "StoreSetLiveWarm");
    if (tookFor("CliSetLive") > 0 && tookFor("StoreSetLiveWarm") > 0)
        std::printf("bridge start for a single command: about %.1f ms\n",
                    1e3 * (tookFor("CliSetLive") - tookFor("StoreSetLiveWarm")));
    return 0;
}
