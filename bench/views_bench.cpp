// The window's fill times beside the store's read times for the same data: a section of 30,000
// settings in the list, 2,000 applications in the tree; and sorting that list by a header click.
// Target: under 100 ms each.
#include "finder.h"
#include "list_view.h"
#include "message_boxes.h"
#include "recording_browser.h"
#include "settings_store.h"
#include "tree_view.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <string>

using namespace keyloft;
using namespace Qt::StringLiterals;

namespace {

constexpr int kSettings = 30000;
constexpr int kApplications = 2000;

// The data of every benchmark: application Big with section Rows holding kSettings settings, and
// kApplications further applications with one section each, as a Wine prefix's user.reg written
// directly (one save per setting would rewrite the file each time).
std::filesystem::path writeWinePrefix() {
    const auto prefix = std::filesystem::temp_directory_path() / "keyloft-views-bench";
    std::filesystem::create_directories(prefix);
    std::ofstream out(prefix / "user.reg", std::ios::binary | std::ios::trunc);
    out << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-"
           "1000\n\n#arch=win64\n\n";
    const std::string base = "[Software\\\\VB and VBA Program Settings\\\\";
    out << base << "Big\\\\Rows] 1796593483\n#time=1dd85cb0158885c\n";
    for (int i = 0; i < kSettings; ++i)
        out << "\"Key" << std::setw(5) << std::setfill('0') << i << std::setw(0) << "\"=\"Value "
            << i << "\"\n"; // in Wine's order, as Wine writes the file
    for (int i = 0; i < kApplications; ++i)
        out << '\n'
            << base << "App" << i << "\\\\Section] 1796593483\n#time=1dd85cb0158885c\n"
            << "\"k\"=\"v\"\n";
    return prefix;
}

class NoBoxes final : public MessageBoxes {
public:
    QMessageBox::StandardButton show(QWidget*, const QString&, QMessageBox::Icon,
                                     QMessageBox::StandardButtons,
                                     QMessageBox::StandardButton) override {
        return QMessageBox::Cancel;
    }
};

struct Window {
    std::unique_ptr<SettingsStore> store = openWinePrefixStore(writeWinePrefix());
    NoBoxes boxes;
    testing::RecordingBrowser browser;
    std::unique_ptr<Finder> finder;
    TreeView* tree = nullptr;

    Window() {
        finder = std::make_unique<Finder>(*store, boxes, browser, u"PC01"_s, u"bench"_s);
        finder->show();
        QCoreApplication::processEvents();
        tree = finder->findChild<TreeView*>(u"tview_01"_s);
    }
    TreeNode* node(const QString& path) const {
        for (int i = 1; i <= tree->Nodes().Count(); ++i) {
            if (tree->Nodes().Item(i)->FullPath() == path)
                return tree->Nodes().Item(i);
        }
        return nullptr;
    }
    // Big's section Rows, its 30,000 settings in the list.
    TreeNode* openRows() {
        for (const auto* path : {u"PC01(bench)\\Big", u"PC01(bench)\\Big\\Rows"}) {
            node(QString::fromUtf16(path))->SetSelected(true);
            finder->tview_01_NodeClick(*node(QString::fromUtf16(path)));
        }
        return node(u"PC01(bench)\\Big\\Rows"_s);
    }
};

void ListFill_Window(benchmark::State& state) {
    Window window;
    TreeNode* section = window.openRows();
    for (auto _ : state) {
        window.finder->tview_01_NodeClick(*section);
        QCoreApplication::processEvents(); // the list lays itself out and paints
    }
}

// A header click on the full list: each time the other column, so that every row's collation key
// is made afresh, as on the first click after the list was filled.
void ListSort_Window(benchmark::State& state) {
    Window window;
    window.openRows();
    auto* list = window.finder->findChild<ListView*>(u"lview_01"_s);
    int column = 0;
    for (auto _ : state) {
        emit list->header()->sectionClicked(column);
        QCoreApplication::processEvents();
        column = 1 - column;
    }
    if (list->ListItems().Item(2)->Text() != u"Key00001"_s &&
        list->ListItems().Item(2)->Text() != u"Key29998"_s)
        state.SkipWithError("the list is not in collation order");
}

// A fresh store each time: the file is parsed as after another program changed it.
void ListRead_WineStore(benchmark::State& state) {
    const auto prefix = writeWinePrefix();
    for (auto _ : state) {
        const auto store = openWinePrefixStore(prefix);
        const auto settings = store->GetAllSettings(u"Big", u"Rows");
        if (settings.size() != kSettings)
            state.SkipWithError("the Wine store read another number of settings");
        benchmark::DoNotOptimize(settings);
    }
}

void TreeFill_Window(benchmark::State& state) {
    Window window;
    QAction* reload = window.finder->findChild<QAction*>(u"MenuReload"_s);
    for (auto _ : state) {
        reload->trigger();
        QCoreApplication::processEvents();
    }
}

void TreeRead_WineStore(benchmark::State& state) {
    const auto prefix = writeWinePrefix();
    for (auto _ : state) {
        const auto store = openWinePrefixStore(prefix);
        const auto names = store->EnumRegSubKeys(kSettingsBasePath);
        if (names.size() != kApplications + 1)
            state.SkipWithError("the Wine store listed another number of applications");
        benchmark::DoNotOptimize(names);
    }
}

} // namespace

BENCHMARK(ListFill_Window)->Unit(benchmark::kMillisecond);
BENCHMARK(ListSort_Window)->Unit(benchmark::kMillisecond);
BENCHMARK(ListRead_WineStore)->Unit(benchmark::kMillisecond);
BENCHMARK(TreeFill_Window)->Unit(benchmark::kMillisecond);
BENCHMARK(TreeRead_WineStore)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(std::filesystem::temp_directory_path() / "keyloft-views-bench");
    return 0;
}
