// The Wine prefix store on a large user.reg (10 MB: many applications and sections, one section of
// 30,000 values), beside baselines measured in the same run: one read(2) of the whole file into one
// buffer, one read through a stream, and one read plus atomic rewrite (temporary file, fsync,
// rename). A read after another program's change reads the file afresh ("cold"); an unchanged file
// is served from the cache ("warm"). StoreMemory reports what the store holds for the file.
#include "settings_store.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

void BaselineReadSyscall(benchmark::State& state) {
    for (auto _ : state) {
        const int fd = ::open(prefix().file.c_str(), O_RDONLY);
        struct stat st {};
        ::fstat(fd, &st);
        const auto size = static_cast<std::size_t>(st.st_size);
        const auto buffer = std::make_unique_for_overwrite<char[]>(size);
        if (::read(fd, buffer.get(), size) != static_cast<ssize_t>(size))
            state.SkipWithError("short read");
        ::close(fd);
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * fs::file_size(prefix().file)));
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

// What the tree lists when an application is clicked: its sections at every depth.
void GetSectionsOfOneApplication(benchmark::State& state) {
    const auto store = keyloft::openWinePrefixStore(prefix().dir);
    const bool cold = state.range(0);
    for (auto _ : state) {
        if (cold)
            prefix().touch();
        benchmark::DoNotOptimize(store->GetSections(u"Bulk00900"));
    }
    state.counters["names"] = static_cast<double>(store->GetSections(u"Bulk00900").size());
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

// 1,000 of the 30,000 keys of the big section in one call, on a file another program just wrote
// (the keys are put back between the runs).
void DeleteSettings(benchmark::State& state) {
    const auto store = keyloft::openWinePrefixStore(prefix().dir);
    static const std::string original = readAll(prefix().file); // as the first run found it
    std::vector<Text> keys;
    for (int k = 0; k < kBigSection; k += kBigSection / 1000) {
        char name[16];
        std::snprintf(name, sizeof name, "Key%05d", k);
        keys.emplace_back(name, name + std::strlen(name));
    }
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path tmp = prefix().dir / "restore.tmp";
        std::ofstream(tmp, std::ios::binary) << original;
        fs::rename(tmp, prefix().file);
        state.ResumeTiming();
        store->DeleteSettings(u"Big", u"Values", keys);
    }
    state.counters["keys"] = static_cast<double>(keys.size());
    state.counters["left"] = static_cast<double>(store->GetAllSettings(u"Big", u"Values").size());
}

std::size_t heapInUse() {
    const struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;
}

long residentKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field))
            return std::stol(line.substr(std::strlen(field)));
    return 0;
}

const auto listAll = [](const keyloft::SettingsStore& store) {
    benchmark::DoNotOptimize(store.EnumRegSubKeys(kBase).size());
    benchmark::DoNotOptimize(store.EnumRegSubKeys(kBase + u"\\Bulk00900").size());
    benchmark::DoNotOptimize(store.GetAllSettings(u"Big", u"Values").size());
};

// In a process of its own (`store_bench --memory-of PREFIX`), so that nothing else counts: the
// heap the store still holds after opening the prefix and listing the applications, the sections
// of one application and the big section (the lists themselves freed), and how far the resident
// size rose at its peak meanwhile.
int printMemoryOf(const char* dir) {
    const std::size_t heapBefore = heapInUse();
    const long residentBefore = residentKiB("VmRSS:");
    const auto store = keyloft::openWinePrefixStore(dir);
    listAll(*store);
    std::printf("%zu %ld\n", heapInUse() - heapBefore,
                (residentKiB("VmHWM:") - residentBefore) * 1024);
    return 0;
}

// The store's memory for the big file beyond what it holds for an empty one.
void StoreMemory(benchmark::State& state) {
    const fs::path emptyDir = prefix().dir / "empty";
    fs::create_directories(emptyDir);
    std::ofstream(emptyDir / "user.reg", std::ios::binary)
        << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-"
           "1000\n\n#arch=win64\n";
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const auto measure = [&](const fs::path& dir) {
        double heap = 0, peak = 0;
        FILE* child =
            ::popen(("'" + self.string() + "' --memory-of '" + dir.string() + "'").c_str(), "r");
        if (!child || std::fscanf(child, "%lf %lf", &heap, &peak) != 2)
            std::abort();
        ::pclose(child);
        return std::pair(heap, peak);
    };
    const auto [emptyHeap, emptyPeak] = measure(emptyDir);
    const auto [heap, peak] = measure(prefix().dir);
    for (auto _ : state) {
    }
    const auto size = static_cast<double>(fs::file_size(prefix().file));
    state.counters["fileMB"] = size / 1e6;
    state.counters["heapPerFile"] = (heap - emptyHeap) / size;
    state.counters["peakRssPerFile"] = (peak - emptyPeak) / size;
}

BENCHMARK(BaselineReadSyscall)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BaselineReadAndAtomicRewrite)->Unit(benchmark::kMillisecond);
BENCHMARK(EnumApplications)->ArgName("cold")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(GetSectionsOfOneApplication)
    ->ArgName("cold")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(GetAllSettingsOfBigSection)
    ->ArgName("cold")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SaveSetting)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteSetting)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(StoreMemory)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--memory-of")
        return printMemoryOf(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
