// Site store at scale: a data file of 100,000 sites in 50 categories, loaded, shown, filtered and
// saved; plus the memory a load takes against the size of the file.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "check/visit_list.h"
#include "store/site_data.h"
#include "store/site_merge.h"
#include "store/site_table.h"
#include "support/codepage.h"

using namespace hanabira;

namespace {

constexpr int kSites = 100000;
constexpr int kCategories = 50;

std::string& DataPath() {
    static std::string path;
    return path;
}

std::string CategoryName(int i) {
    static const char* const kWords[] = {"趣味", "料理", "旅行", "写真", "音楽", "映画", "読書", "日記", "技術", "園芸"};
    return Utf8ToSjis(std::string(kWords[i % 10]) + "・" + std::to_string(i / 10 + 1));
}

// Ten top-level categories of five each (the group itself and four below it) under the root.
CategoryTree BenchTree() {
    CategoryTree tree = BuiltInCategoryTree();
    for (int g = 0; g < 10; ++g) {
        TreeNode group{CategoryName(g), 1, 2, -1, {}};
        for (int k = 1; k < 5; ++k) group.Children.push_back(TreeNode{CategoryName(g + 10 * k), 3, 4, -1, {}});
        tree[0].Children.push_back(std::move(group));
    }
    return tree;
}

std::string DateText(std::mt19937& rng) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d", 2020 + static_cast<int>(rng() % 7),
                  1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28), static_cast<int>(rng() % 24),
                  static_cast<int>(rng() % 60), static_cast<int>(rng() % 60));
    return buf;
}

// Writes the data file: Japanese titles of 10-30 characters, URLs of about 40 bytes, full dates.
void GenerateFile(const std::string& path) {
    std::mt19937 rng(20261207);
    std::vector<std::string> chars;
    for (const char* c : {"花", "の", "日", "記", "ブ", "ロ", "グ", "猫", "と", "暮", "ら", "す", "春", "夏", "秋", "冬",
                          "旅", "空", "山", "川", "料", "理", "写", "真", "館", "！", "〜", "あ", "い", "う"})
        chars.push_back(Utf8ToSjis(c));
    const std::vector<std::string> names = {Utf8ToSjis("花子"), Utf8ToSjis("たろう"), Utf8ToSjis("管理人"),
                                            Utf8ToSjis("ゆき"), "kenji"};
    TLightStrings table;
    for (int i = 0; i < kSites; ++i) {
        TMWBlogListRec r;
        const int len = 10 + static_cast<int>(rng() % 21);
        for (int k = 0; k < len; ++k) r.SiteTitle += chars[rng() % chars.size()];
        const std::string host = "blog" + std::to_string(100000 + i) + ".example-blog.jp";
        r.SiteURL = "http://" + host + "/diary/";
        r.RSSURL = "http://" + host + "/diary/index.rdf";
        r.LastVisit = rng() % 10 ? DateText(rng) : "";
        r.Registered = DateText(rng);
        r.LastUpdate = DateText(rng);
        r.HeadTime = rng() % 3 ? DateText(rng) : "";
        r.Category = CategoryName(i % kCategories);
        r.HeadCheck = rng() % 20 ? "" : "Skip";
        r.ManagerName = names[rng() % names.size()];
        table.Add(WriteSiteRecord(r));
    }
    std::string error;
    if (!SaveSiteData(path, table, BenchTree(), &error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        _exit(1);
    }
}

long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string k = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(k, 0) == 0) return std::stol(line.substr(k.size()));
    }
    return -1;
}

// The tables after a load, shared by the benchmarks that work on loaded data.
struct Loaded {
    TLightStrings table{'='};
    CategoryTree tree = BuiltInCategoryTree();
};
Loaded& LoadedData() {
    static Loaded* data = [] {
        auto* d = new Loaded;
        LoadSiteData(DataPath(), d->table, d->tree);
        return d;
    }();
    return *data;
}

void BM_LoadAndShowAll(benchmark::State& state) {
    for (auto _ : state) {
        TLightStrings table;
        CategoryTree tree = BuiltInCategoryTree();
        TLightStrings view;
        const SiteDataLoad r = LoadSiteData(DataPath(), table, tree);
        FilterCategory(table, AllSitesCategory(), view);
        if (r.status != SiteDataStatus::Loaded || view.Count() != kSites) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(view);
    }
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(DataPath())) / 1e6;
}

void BM_ShowAll(benchmark::State& state) {
    const Loaded& d = LoadedData();
    TLightStrings view;
    for (auto _ : state) {
        FilterCategory(d.table, AllSitesCategory(), view);
        benchmark::DoNotOptimize(view);
    }
}

void BM_FilterCategory2000(benchmark::State& state) {
    const Loaded& d = LoadedData();
    const std::string name = CategoryName(17);
    TLightStrings view;
    for (auto _ : state) {
        FilterCategory(d.table, name, view);
        benchmark::DoNotOptimize(view);
    }
    state.counters["sites"] = view.Count();
}

void BM_VisitListAll(benchmark::State& state) {
    const Loaded& d = LoadedData();
    TLightStrings view, visits;
    FilterCategory(d.table, AllSitesCategory(), view);
    for (auto _ : state) {
        BuildVisitList(view, AllSitesCategory(), visits);
        benchmark::DoNotOptimize(visits);
    }
    state.counters["listed"] = visits.Count();
}

void BM_SaveSiteData(benchmark::State& state) {
    const Loaded& d = LoadedData();
    const std::string path = (std::filesystem::path(DataPath()).parent_path() / "saved.dat").string();
    for (auto _ : state) {
        if (!SaveSiteData(path, d.table, d.tree)) state.SkipWithError("save failed");
    }
}

// The merge when another computer's copy arrives: one site added there, one visited here.
void BM_MergeSiteLists(benchmark::State& state) {
    const Loaded& d = LoadedData();
    const SiteList base{d.table, d.tree};
    SiteList mine = base, theirs = base;
    TMWBlogListRec r = ReadSiteRecord(mine.Sites.Get(500));
    r.LastVisit = "2026/12/09 10:00:00";
    mine.Sites.Put(500, WriteSiteRecord(r));
    theirs.Sites.Add(WriteSiteRecord(TMWBlogListRec{"new", "http://new.example/", "", "", "", "", "", "", "", ""}));
    for (auto _ : state) benchmark::DoNotOptimize(MergeSiteLists(base, mine, theirs));
}

BENCHMARK(BM_LoadAndShowAll)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ShowAll)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FilterCategory2000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_VisitListAll)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SaveSiteData)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_MergeSiteLists)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Peak memory of one load, measured before anything else has allocated: the file is made in a
// child process, so this process has never held the data.
void ReportLoadMemory() {
    // Reset the high-water mark to the present size (where the kernel allows it), so the peak is
    // the load's own.
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const long base = std::max(StatusKb("VmRSS"), StatusKb("VmHWM"));
    const double fileKb = static_cast<double>(std::filesystem::file_size(DataPath())) / 1024.0;
    auto show = [&](const char* what, long kb) {
        std::printf("%-46s %6.1f MB  x%.2f of the file\n", what, kb / 1024.0, kb / fileKb);
    };
    {
        TLightStrings table;
        CategoryTree tree = BuiltInCategoryTree();
        LoadSiteData(DataPath(), table, tree);
        const long peak = StatusKb("VmHWM");
        const long after = StatusKb("VmRSS");
        malloc_trim(0);  // drop the freed copies the allocator kept
        const long trimmed = StatusKb("VmRSS");
        TLightStrings view;
        FilterCategory(table, AllSitesCategory(), view);
        const long withView = StatusKb("VmRSS");
        std::printf("data file: %d sites, %.1f MB\n", table.Count(), fileKb / 1024.0);
        show("load: peak resident above the start", peak - base);
        show("after the load, as the process holds it", after - base);
        show("after the load, freed memory trimmed", trimmed - base);
        show("all-sites view on top", withView - trimmed);
        // What the program keeps to notice and merge a copy written elsewhere: the bytes it last
        // read or wrote, one string the size of the file.
        show("merge base (the file's bytes)", static_cast<long>(fileKb));
    }
    malloc_trim(0);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("hanabira-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    DataPath() = (dir / "RssSites.dat").string();

    const pid_t child = fork();
    if (child == 0) {
        GenerateFile(DataPath());
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;

    ReportLoadMemory();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(dir);
    return 0;
}
