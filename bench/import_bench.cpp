// keyloft-cli's import of many values into one section of a Wine prefix (no server), in process:
// the .reg file read, the plan made against the store and one rewrite of user.reg; into a new
// section, into one that holds a value already (where each new name is looked at for a value of
// another kind) and over the same names already there (each one changed). Beside it, measured in
// the same run, two rewrites of the user.reg the import leaves: its bytes read and written
// atomically (temporary file, fsync, rename), and one setting written by the store, which checks
// the whole file as wineserver reads it before it writes. Goal: the import of 50,000 values within
// 3 times a rewrite.
#include "run.h"
#include "settings_store.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using keyloft::Text;

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const fs::path& file, const std::string& bytes) {
    const fs::path tmp = file.string() + ".tmp";
    std::ofstream(tmp, std::ios::binary) << bytes;
    fs::rename(tmp, file);
}

// The .reg file is handed over in memory; what the command prints is dropped.
class MemoryIo final : public keyloft::cli::Io {
public:
    explicit MemoryIo(const std::string& file) : file_(file) {}
    void out(std::u16string_view) override {}
    void outBytes(std::string_view) override {}
    void err(std::u16string_view) override {}
    std::string readInput() override { return file_; }
    std::string readFile(std::u16string_view) override { return file_; }
    void writeFile(std::u16string_view, std::string_view) override {}

private:
    const std::string& file_;
};

struct Prefix {
    fs::path dir, file;
    std::string empty, withOne, withValues, regFile, changedRegFile;

    explicit Prefix(int values) {
        std::string tmpl = (fs::temp_directory_path() / "keyloft-import-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        file = dir / "user.reg";
        // A prefix of some size around the section: 500 applications of 8 sections.
        empty = "WINE REGISTRY Version 2\n"
                ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
                "#arch=win64\n";
        char line[160];
        for (int app = 0; app < 500; ++app)
            for (int sec = 0; sec < 8; ++sec) {
                std::snprintf(line, sizeof line,
                              "\n[Software\\\\VB and VBA Program Settings\\\\Bulk%03d\\\\Sec%d] "
                              "1796591193\n#time=1dd85c5ac67f724\n",
                              app, sec);
                empty += line;
                for (int k = 0; k < 12; ++k) {
                    std::snprintf(line, sizeof line, "\"Setting%02d\"=\"C:\\\\App%03d\\\\%d\"\n", k,
                                  app, k);
                    empty += line;
                }
            }
        regFile = changedRegFile = "Windows Registry Editor Version 5.00\r\n\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\VB and VBA Program "
                                   "Settings\\Import\\Values]\r\n";
        for (int k = 0; k < values; ++k) {
            std::snprintf(line, sizeof line, "\"Key%06d\"=\"value number %d\"\r\n", k, k);
            regFile += line;
            std::snprintf(line, sizeof line, "\"Key%06d\"=\"changed value %d\"\r\n", k, k);
            changedRegFile += line;
        }
        writeAll(file, empty);
        if (import(regFile.substr(0, regFile.find("\"Key000001\""))) != 0)
            std::abort();
        withOne = readAll(file);
        if (import(regFile) != 0)
            std::abort();
        withValues = readAll(file);
    }
    ~Prefix() { fs::remove_all(dir); }

    int import(const std::string& reg) const {
        MemoryIo io(reg);
        return keyloft::cli::run({u"import", u"-"}, io, [&](const fs::path&) {
            return keyloft::openWinePrefixStore(dir);
        });
    }
};

const Prefix& prefix(int values) {
    static std::map<int, std::unique_ptr<Prefix>> made;
    auto& p = made[values];
    if (!p)
        p = std::make_unique<Prefix>(values);
    return *p;
}

// The import of one of the prefix's .reg files, each time into user.reg as `before` has it.
void timeImport(benchmark::State& state, std::string Prefix::*before, std::string Prefix::*reg) {
    const Prefix& p = prefix(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        writeAll(p.file, p.*before);
        state.ResumeTiming();
        if (p.import(p.*reg) != 0)
            state.SkipWithError("import failed");
    }
}

void ImportIntoANewSection(benchmark::State& state) {
    timeImport(state, &Prefix::empty, &Prefix::regFile);
}

void ImportIntoAStoredSection(benchmark::State& state) {
    timeImport(state, &Prefix::withOne, &Prefix::regFile);
}

void ImportOverTheSameNames(benchmark::State& state) {
    timeImport(state, &Prefix::withValues, &Prefix::changedRegFile);
}

// The user.reg that the import leaves, read and written again.
void BaselineReadAndAtomicRewrite(benchmark::State& state) {
    const Prefix& p = prefix(static_cast<int>(state.range(0)));
    writeAll(p.file, p.withValues);
    for (auto _ : state) {
        const std::string text = readAll(p.file);
        const fs::path tmp = p.dir / "baseline.tmp";
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            state.SkipWithError("write failed");
        ::fsync(fd);
        ::close(fd);
        fs::rename(tmp, p.file);
    }
    state.counters["fileMB"] = static_cast<double>(p.withValues.size()) / 1e6;
}

// The store's own rewrite of that file: one setting changed by a store opened for it, as
// `keyloft-cli set` does (the file read and checked line by line, one block edited, written
// atomically).
void BaselineOneSettingWritten(benchmark::State& state) {
    const Prefix& p = prefix(static_cast<int>(state.range(0)));
    writeAll(p.file, p.withValues);
    int n = 0;
    for (auto _ : state) {
        auto store = keyloft::openWinePrefixStore(p.dir);
        store->SaveSetting(u"Import", u"Values", u"Key000000", (n++ % 2) ? u"a" : u"b");
    }
}

void values(benchmark::internal::Benchmark* b) {
    b->ArgName("values")->Unit(benchmark::kMillisecond);
    for (const int n : {2000, 8000, 20000, 50000, 200000})
        b->Arg(n);
}

BENCHMARK(BaselineReadAndAtomicRewrite)->Apply(values);
BENCHMARK(BaselineOneSettingWritten)->Apply(values);
BENCHMARK(ImportIntoANewSection)->Apply(values);
BENCHMARK(ImportIntoAStoredSection)->Apply(values);
BENCHMARK(ImportOverTheSameNames)->Apply(values);

} // namespace

BENCHMARK_MAIN();
