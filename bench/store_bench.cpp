// The Wine prefix store on a large user.reg (10 MB: many applications and sections, one section of
// 30,000 values), beside two baselines measured in the same run: one plain read of the file, and
// one read plus atomic rewrite (temporary file, fsync, rename). A read after another program's
// change parses the file afresh ("cold"); an unchanged file is served from the cache ("warm").
#include "settings_store.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using keyloft::Text;

constexpr std::size_t kTargetSize = 10 * 1024 * 1024;
constexpr int kBigSection = 30000;
const Text kBase(keyloft::kSettingsBasePath);

struct Prefix {
    fs::path dir;
    fs::path file;

    Prefix() {
        std::string tmpl = (fs::temp_directory_path() / "keyloft-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        file = dir / "user.reg";
        std::string text = "WINE REGISTRY Version 2\n"
                           ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
                           "#arch=win64\n";
        const std::string base = "Software\\\\VB and VBA Program Settings\\\\";
        char line[160];
        const auto block = [&](const std::string& path) {
            text += "\n[" + base + path + "] 1796591193\n#time=1dd85c5ac67f724\n";
        };
        // "Big" sorts before the "Bulk" applications, so the file stays in Wine's order.
        block("Big\\\\Values");
        for (int k = 0; k < kBigSection; ++k) {
            std::snprintf(line, sizeof line, "\"Key%05d\"=\"value number %d \\x65e5\\x672c\"\n", k,
                          k);
            text += line;
        }
        for (int app = 0; text.size() < kTargetSize; ++app)
            for (int sec = 0; sec < 8; ++sec) {
                std::snprintf(line, sizeof line, "Bulk%05d\\\\Section%d", app, sec);
                block(line);
                for (int k = 0; k < 12; ++k) {
                    std::snprintf(line, sizeof line,
                                  "\"Setting%02d\"=\"C:\\\\Program Files\\\\App%05d\\\\%d\"\n", k,
                                  app, k);
                    text += line;
                }
            }
        std::ofstream(file, std::ios::binary) << text;
    }
    ~Prefix() { fs::remove_all(dir); }

    // Another program's change, as far as the store's cache can tell.
    void touch() const {
        timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
};

const Prefix& prefix() {
    static const Prefix p;
    return p;
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void BaselineRead(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(readAll(prefix().file));
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * fs::file_size(prefix().file)));
}

void BaselineReadAndAtomicRewrite(benchmark::State& state) {
    for (auto _ : state) {
        const std::string text = readAll(prefix().file);
        const fs::path tmp = prefix().dir / "baseline.tmp";
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            state.SkipWithError("write failed");
        ::fsync(fd);
        ::close(fd);
        fs::rename(tmp, prefix().file);
    }
}

void EnumApplications(benchmark::State& state) {
    const auto store = keyloft::openWinePrefixStore(prefix().dir);
    const bool cold = state.range(0);
    for (auto _ : state) {
        if (cold)
            prefix().touch();
        benchmark::DoNotOptimize(store->EnumRegSubKeys(kBase));
    }
    state.counters["names"] = static_cast<double>(store->EnumRegSubKeys(kBase).size());
}

void GetAllSettingsOfBigSection(benchmark::State& state) {
    const auto store = keyloft::openWinePrefixStore(prefix().dir);
    const bool cold = state.range(0);
    for (auto _ : state) {
        if (cold)
            prefix().touch();
        benchmark::DoNotOptimize(store->GetAllSettings(u"Big", u"Values"));
    }
    state.counters["settings"] =
        static_cast<double>(store->GetAllSettings(u"Big", u"Values").size());
}

void SaveSetting(benchmark::State& state) {
    const auto store = keyloft::openWinePrefixStore(prefix().dir);
    int i = 0;
    for (auto _ : state)
        store->SaveSetting(u"Big", u"Values", u"Key15000", i++ % 2 ? u"odd" : u"even");
}

void DeleteSetting(benchmark::State& state) {
    const auto store = keyloft::openWinePrefixStore(prefix().dir);
    for (auto _ : state) {
        state.PauseTiming();
        store->SaveSetting(u"Big", u"Values", u"Key15000x", u"doomed");
        state.ResumeTiming();
        store->DeleteSetting(u"Big", u"Values", u"Key15000x");
    }
}

BENCHMARK(BaselineRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineReadAndAtomicRewrite)->Unit(benchmark::kMillisecond);
BENCHMARK(EnumApplications)->ArgName("cold")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(GetAllSettingsOfBigSection)
    ->ArgName("cold")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SaveSetting)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteSetting)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
