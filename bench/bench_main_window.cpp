// The main window's lists at scale: 100,000 sites, the category view rebuilt for the root and for a
// 2,000-site category, and a repaint of a scrolled list (only the visible rows are formatted).
#include <QApplication>
#include <QScrollBar>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "store/site_record.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/list_utils.h"
#include "support/virtual_list_model.h"
#include "ui/main/main_window.h"

using namespace hanabira;

namespace {

constexpr int kSites = 100000;

// Made on first use and freed before the application object goes.
std::unique_ptr<TForm1> g_form;

TForm1& Form() {
    if (!g_form) g_form = [] {
        auto f = std::make_unique<TForm1>(QString::fromStdString(std::filesystem::temp_directory_path().string()));
        for (int i = 0; i < kSites; ++i) {
            TMWBlogListRec r;
            r.SiteTitle = Utf8ToSjis("花びらの咲く庭 ガーデニング日記 ") + std::to_string(i);
            r.SiteURL = "http://blog" + std::to_string(i) + ".example.jp/diary/";
            r.LastVisit = "2026/12/07 21:10:00";
            r.Registered = "2026/11/20 10:00:00";
            r.LastUpdate = "2026/12/06 20:55:12";
            // One site in fifty falls in the 2,000-site category; the rest spread over 49 others.
            r.Category = Utf8ToSjis(i % 50 == 0 ? "写真" : "趣味") + std::to_string(i % 50);
            r.RSSURL = r.SiteURL + "index.rdf";
            r.HeadTime = "2026/12/06 20:55:12";
            r.ManagerName = Utf8ToSjis("さくら");
            f->SiteTable().Add(WriteSiteRecord(r));
        }
        SetupListColumns(f->findChild<QTreeView*>("lvSiteList"), SjisLiteral(TForm1::kListColumns));
        f->resize(1000, 700);
        f->show();
        QApplication::processEvents();
        return f;
    }();
    return *g_form;
}

void BM_ShowCategory_AllSites(benchmark::State& state) {
    TForm1& f = Form();
    for (auto _ : state) f.ShowCategory(AllSitesCategory());
    state.counters["rows"] = f.CategorySites().Count();
}
BENCHMARK(BM_ShowCategory_AllSites)->Unit(benchmark::kMillisecond);

void BM_ShowCategory_2000Sites(benchmark::State& state) {
    TForm1& f = Form();
    const std::string name = Utf8ToSjis("写真") + "0";
    for (auto _ : state) f.ShowCategory(name);
    state.counters["rows"] = f.CategorySites().Count();
}
BENCHMARK(BM_ShowCategory_2000Sites)->Unit(benchmark::kMillisecond);

// What a click from a small category to the root costs: the row count changes by 98,000.
void BM_SwitchBetweenCategories(benchmark::State& state) {
    TForm1& f = Form();
    const std::string name = Utf8ToSjis("写真") + "0";
    for (auto _ : state) {
        f.ShowCategory(name);
        f.ShowCategory(AllSitesCategory());
    }
}
BENCHMARK(BM_SwitchBetweenCategories)->Unit(benchmark::kMillisecond);

void BM_RepaintScrolledList(benchmark::State& state) {
    TForm1& f = Form();
    f.ShowCategory(AllSitesCategory());
    f.findChild<QTreeView*>("lvSiteList")->verticalScrollBar()->setValue(f.findChild<QTreeView*>("lvSiteList")->verticalScrollBar()->maximum() / 2);
    QApplication::processEvents();
    auto* model = qobject_cast<VirtualListModel*>(f.findChild<QTreeView*>("lvSiteList")->model());
    long long cells = 0, paints = 0;
    for (auto _ : state) {
        const long long before = model->FormattedCells;
        f.findChild<QTreeView*>("lvSiteList")->viewport()->repaint();
        cells += model->FormattedCells - before;
        ++paints;
    }
    state.counters["cells_per_paint"] = paints ? static_cast<double>(cells) / paints : 0;
}
BENCHMARK(BM_RepaintScrolledList)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_form.reset();
    return 0;
}
