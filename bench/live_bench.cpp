// The Wine prefix store while a wineserver runs for the prefix (started with `wineserver -p`, as
// an open Wine program keeps one), so that every operation goes through the bridge; beside what
// Wine's own programs take in the same run: a Wine program's RegEnumValueW loop over the same
// 30,000-value section (store_agree_tool.exe of the cross build, KEYLOFT_WINDOWS_TOOL), and one
// `wine reg add` per change. Needs wine and the bridges of this build; makes its own prefix.
#include "settings_store.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using keyloft::Text;

constexpr int kBigSection = 30000;
const std::string kKey = "HKCU\\Software\\VB and VBA Program Settings\\Bench\\Small";

// The loader the build found starting here; `wine` itself may not (cmake/KeyloftWine.cmake).
const std::string kWine = "'" KEYLOFT_WINE_LOADER "'";

int sh(const std::string& command) {
    return std::system(command.c_str());
}

// A prefix made by wineboot, with a section of 30,000 values, and a server that stays up.
struct LivePrefix {
    fs::path dir;
    fs::path prefix;
    bool ready = false;

    LivePrefix() {
        std::string tmpl = (fs::temp_directory_path() / "keyloft-live-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            return;
        dir = tmpl;
        prefix = dir / "pfx";
        fs::create_directories(dir / "home");
        ::setenv("HOME", (dir / "home").c_str(), 1); // keeps wineboot out of ~
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
        if (sh(kWine + " wineboot --init >/dev/null 2>&1 && wineserver -w") != 0)
            return;
        std::ofstream reg(prefix / "user.reg", std::ios::app | std::ios::binary);
        reg << "\n[Software\\\\VB and VBA Program Settings\\\\Bench\\\\Big] 1796591193\n";
        for (int k = 0; k < kBigSection; ++k)
            reg << "\"Key" << k << "\"=\"value number " << k << "\"\n";
        reg.close();
        ready = reg && sh("wineserver -p") == 0;
    }
    ~LivePrefix() {
        if (!dir.empty()) {
            sh("wineserver -k; wineserver -w");
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    }
    std::unique_ptr<keyloft::SettingsStore> open() const {
        return keyloft::openWinePrefixStore(prefix, KEYLOFT_BRIDGES);
    }
};

LivePrefix& live() {
    static LivePrefix prefix;
    return prefix;
}

// Seconds per run of each case, its median where noted, for the ratios printed at the end.
struct {
    double write = 0, remove = 0, readLive = 0, enumLoop = 0, regAdd = 0;
} took;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool ready(benchmark::State& state) {
    if (!live().ready)
        state.SkipWithError("wine could not make the prefix or start its server");
    return live().ready;
}

// A store opened afresh: its first operation starts the bridge.
void FirstOperation(benchmark::State& state) {
    if (!ready(state))
        return;
    for (auto _ : state) {
        auto store = live().open();
        store->SaveSetting(u"Bench", u"Small", u"first", u"x");
        state.PauseTiming();
        store.reset(); // ends its bridge
        state.ResumeTiming();
    }
}
BENCHMARK(FirstOperation)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// One write, then one delete, each a round trip through the running bridge.
void WriteAndDelete(benchmark::State& state) {
    if (!ready(state))
        return;
    const auto store = live().open();
    store->SaveSetting(u"Bench", u"Small", u"warm", u"up");
    std::vector<double> writes, removes;
    for (auto _ : state) {
        auto start = Clock::now();
        store->SaveSetting(u"Bench", u"Small", u"k", u"a value");
        writes.push_back(seconds(start));
        start = Clock::now();
        store->DeleteSetting(u"Bench", u"Small", u"k");
        removes.push_back(seconds(start));
    }
    took.write = median(writes);
    took.remove = median(removes);
    state.counters["write_median_ms"] = took.write * 1e3;
    state.counters["delete_median_ms"] = took.remove * 1e3;
}
BENCHMARK(WriteAndDelete)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

void ReadBigSectionThroughServer(benchmark::State& state) {
    if (!ready(state))
        return;
    const auto store = live().open();
    store->GetSetting(u"Bench", u"Small", u"warm"); // the bridge is up
    std::vector<double> runs;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto settings = store->GetAllSettings(u"Bench", u"Big");
        runs.push_back(seconds(start));
        if (settings.size() != kBigSection)
            state.SkipWithError("the section did not come back whole");
    }
    took.readLive = median(runs);
}
BENCHMARK(ReadBigSectionThroughServer)
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The loop inside the Wine program, as it times itself: Wine's start-up is not counted.
void RegEnumValueWLoop(benchmark::State& state) {
    const char* tool = std::getenv("KEYLOFT_WINDOWS_TOOL");
    if (!tool)
        tool = KEYLOFT_WINDOWS_TOOL; // the one the build was configured with
    if (!*tool) {
        state.SkipWithError("KEYLOFT_WINDOWS_TOOL names no store_agree_tool.exe");
        return;
    }
    if (!ready(state))
        return;
    const fs::path out = live().dir / "enum.txt";
    std::vector<double> runs;
    for (auto _ : state) {
        long micros = 0;
        std::size_t count = 0;
        if (sh(kWine + " '" + std::string(tool) + "' time Bench Big >'" + out.string() + "'") !=
                0 ||
            !(std::ifstream(out) >> micros >> count) || count != kBigSection) {
            state.SkipWithError("the Wine program did not list the section");
            return;
        }
        runs.push_back(micros / 1e6);
        state.SetIterationTime(micros / 1e6);
    }
    took.enumLoop = median(runs);
}
BENCHMARK(RegEnumValueWLoop)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void WineRegAddPerChange(benchmark::State& state) {
    if (!ready(state))
        return;
    std::vector<double> runs;
    for (auto _ : state) {
        const auto start = Clock::now();
        sh(kWine + " reg add '" + kKey + "' /v byReg /d value /f >/dev/null");
        runs.push_back(seconds(start));
    }
    took.regAdd = median(runs);
}
BENCHMARK(WineRegAddPerChange)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (took.readLive > 0 && took.enumLoop > 0)
        std::printf("30,000 values through the server: %.3f of a RegEnumValueW loop's time\n",
                    took.readLive / took.enumLoop);
    if (took.write > 0 && took.regAdd > 0)
        std::printf("one write through the server: 1/%.0f of one `wine reg add`\n",
                    took.regAdd / took.write);
    return 0;
}
