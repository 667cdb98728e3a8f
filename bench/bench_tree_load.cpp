// The category tree's text form at scale: 80,000 categories loaded from and saved to their text,
// and a whole data file with such a tree read from disk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "store/category_tree.h"
#include "store/site_data.h"
#include "support/codepage.h"

using namespace hanabira;

namespace {

// count categories: groups of 20 under the root, each group with its members one level below.
CategoryTree WideTree(int count) {
    CategoryTree tree = BuiltInCategoryTree();
    TreeNode* group = nullptr;
    for (int i = 0; i < count; ++i) {
        TreeNode node{Utf8ToSjis("カテゴリ" + std::to_string(i)), i % 30, i % 7, -1, {}};
        if (i % 20 == 0) {
            tree[0].Children.push_back(std::move(node));
            group = &tree[0].Children.back();
        } else {
            group->Children.push_back(std::move(node));
        }
    }
    return tree;
}

void BM_LoadTreeText(benchmark::State& state) {
    const std::string text = MWSaveTreeToStrings(WideTree(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        CategoryTree tree;
        MWLoadTreeFromStrings(tree, text);
        benchmark::DoNotOptimize(tree.data());
    }
    state.SetComplexityN(state.range(0));
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadTreeText)->Arg(10000)->Arg(20000)->Arg(40000)->Arg(80000)->Unit(benchmark::kMillisecond)->Complexity();

void BM_SaveTreeText(benchmark::State& state) {
    const CategoryTree tree = WideTree(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(MWSaveTreeToStrings(tree));
}
BENCHMARK(BM_SaveTreeText)->Arg(80000)->Unit(benchmark::kMillisecond);

// The start-up load of a data file holding the 80,000 categories and no sites.
void BM_LoadDataFileWithLargeTree(benchmark::State& state) {
    const std::string path = (std::filesystem::temp_directory_path() / "bench-tree-RssSites.dat").string();
    SaveSiteData(path, TLightStrings('\t'), WideTree(80000));
    for (auto _ : state) {
        TLightStrings table('\t');
        CategoryTree tree;
        benchmark::DoNotOptimize(LoadSiteData(path, table, tree).status);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadDataFileWithLargeTree)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
