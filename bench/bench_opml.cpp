// OPML import at scale: a 10,000-feed file (100 folders of 100 feeds, Japanese titles) into a
// program that already holds 10,000 sites. The whole command through the main window, and its
// parts one by one to show where the time goes: reading the XML, the merge with the site table,
// the one save of the data file, and the rebuilt list.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QString>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "check/dates.h"
#include "store/opml.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/messages.h"
#include "ui/main/category_tree_widget.h"
#include "ui/main/main_window.h"
#include "ui/main/opml_commands.h"

using namespace hanabira;

namespace {

constexpr int kSites = 10000;
constexpr int kFeeds = 10000;

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        auto p = std::filesystem::temp_directory_path() / "hanabira-bench-opml";
        std::filesystem::create_directories(p);
        return p;
    }();
    return folder;
}

// The file's feeds: all new, or every second one already registered (by page and feed URL).
std::string MakeOpml(bool halfRegistered) {
    {
        std::string x =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n<head><title>"
            "feeds</title></head>\n<body>\n";
        for (int folder = 0; folder < 100; ++folder) {
            x += "<outline text=\"フォルダ " + std::to_string(folder) + "\" title=\"フォルダ\">\n";
            for (int k = 0; k < kFeeds / 100; ++k) {
                const int i = folder * (kFeeds / 100) + k;
                const std::string host = halfRegistered && i % 2 ? "blog" + std::to_string(i) + ".example.jp"
                                                                 : "new" + std::to_string(i) + ".example.com";
                x += "  <outline type=\"rss\" text=\"花びらの咲く庭 &amp; 日記 " + std::to_string(i) +
                     "\" title=\"花びらの咲く庭 &amp; 日記 " + std::to_string(i) + "\" xmlUrl=\"http://" +
                     host + "/diary/index.rdf\" htmlUrl=\"http://" + host + "/diary/\"/>\n";
            }
            x += "</outline>\n";
        }
        return x + "</body>\n</opml>\n";
    }
}

const std::string& OpmlText(bool halfRegistered = false) {
    static const std::string allNew = MakeOpml(false), half = MakeOpml(true);
    return halfRegistered ? half : allNew;
}

const std::string& SiteTableText() {
    static const std::string text = [] {
        TLightStrings table('\t');
        for (int i = 0; i < kSites; ++i) {
            TMWBlogListRec r;
            r.SiteTitle = Utf8ToSjis("花びらの咲く庭 ガーデニング日記 ") + std::to_string(i);
            r.SiteURL = "http://blog" + std::to_string(i) + ".example.jp/diary";
            r.LastVisit = "2026/12/07 21:10:00";
            r.Registered = "2026/11/20 10:00:00";
            r.LastUpdate = "2026/12/06 20:55:12";
            r.Category = Utf8ToSjis("趣味") + std::to_string(i % 50);
            r.RSSURL = r.SiteURL + "/index.rdf";
            r.ManagerName = Utf8ToSjis("さくら");
            table.Add(WriteSiteRecord(r));
        }
        return table.GetText();
    }();
    return text;
}

class SilentMessages : public MessageRoutines {
public:
    void Error(QWidget*, const QString&) override { ++errors; }
    void Info(QWidget*, const QString&) override {}
    bool Question(QWidget*, const QString&, bool) override { return true; }
    std::optional<QString> Input(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    int SaveFailed(QWidget*, const QString&) override { return 1; }
    int errors = 0;
};

std::unique_ptr<TForm1> g_form;

TForm1& Form() {
    if (!g_form) {
        g_form = std::make_unique<TForm1>(QString::fromStdString(Folder().string()));
        g_form->resize(1000, 700);
        g_form->show();
        QApplication::processEvents();
    }
    return *g_form;
}

// The program before the import: 10,000 sites, the built-in tree, the root selected.
void Reset(TForm1& f) {
    f.SiteTable().SetText(SiteTableText());
    f.findChild<hanabira::CategoryTreeWidget*>("ftBlogCategories")->LoadCategoryTree(BuiltInCategoryTree());
    f.findChild<hanabira::CategoryTreeWidget*>("ftBlogCategories")->setCurrentItem(f.findChild<hanabira::CategoryTreeWidget*>("ftBlogCategories")->topLevelItem(0));
}

// Arg: 0 = every feed new, 1 = half of them registered already.
void BM_ImportCommand_10000FeedsInto10000Sites(benchmark::State& state) {
    const std::string file = (Folder() / "feeds.opml").string();
    {
        const std::string& xml = OpmlText(state.range(0) == 1);
        std::FILE* out = std::fopen(file.c_str(), "wb");
        std::fwrite(xml.data(), 1, xml.size(), out);
        std::fclose(out);
    }
    auto messages = std::make_unique<SilentMessages>();
    SilentMessages* seen = messages.get();
    SetMessages(std::move(messages));
    OpmlDialogs().OpenFile = [&file](QWidget*) { return QString::fromStdString(file); };
    TForm1& f = Form();
    for (auto _ : state) {
        state.PauseTiming();
        Reset(f);
        state.ResumeTiming();
        ImportOpmlFile(&f);
    }
    state.counters["sites_after"] = f.SiteTable().Count();
    if (seen->errors) state.SkipWithError("the import reported an error");
    SetMessages(nullptr);
}
BENCHMARK(BM_ImportCommand_10000FeedsInto10000Sites)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Part_ReadOpml(benchmark::State& state) {
    for (auto _ : state) {
        OpmlImport got = ReadOpml(OpmlText());
        benchmark::DoNotOptimize(got);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * OpmlText().size()));
}
BENCHMARK(BM_Part_ReadOpml)->Unit(benchmark::kMillisecond);

void BM_Part_AddImportedSites(benchmark::State& state) {
    const OpmlImport got = ReadOpml(OpmlText(true));
    TLightStrings table('\t');
    OpmlMergeCount count;
    for (auto _ : state) {
        state.PauseTiming();
        table.SetText(SiteTableText());
        state.ResumeTiming();
        count = AddImportedSites(table, got.Sites, "2026/12/08 10:00:00");
    }
    state.counters["added"] = count.Added;
    state.counters["skipped"] = count.Skipped;
}
BENCHMARK(BM_Part_AddImportedSites)->Unit(benchmark::kMillisecond);

void BM_Part_SaveDataFile(benchmark::State& state) {
    TForm1& f = Form();
    Reset(f);
    AddImportedSites(f.SiteTable(), ReadOpml(OpmlText()).Sites, "2026/12/08 10:00:00");
    for (auto _ : state) f.SaveSiteDataFile();
    state.counters["sites"] = f.SiteTable().Count();
}
BENCHMARK(BM_Part_SaveDataFile)->Unit(benchmark::kMillisecond);

void BM_Part_ShowAllSites(benchmark::State& state) {
    TForm1& f = Form();
    Reset(f);
    AddImportedSites(f.SiteTable(), ReadOpml(OpmlText()).Sites, "2026/12/08 10:00:00");
    for (auto _ : state) f.ShowSelectedCategory();
}
BENCHMARK(BM_Part_ShowAllSites)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_form.reset();
    std::filesystem::remove_all(Folder());
    return 0;
}
