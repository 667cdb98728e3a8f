// The browser toolbar's page link list on a large page, and the comment filled for a page among
// many registered sites.
#include <benchmark/benchmark.h>

#include <string>

#include "browser/comment_text.h"
#include "browser/page_tools.h"
#include "store/light_strings.h"
#include "store/site_record.h"
#include "support/codepage.h"

using namespace hanabira;

namespace {

// A Shift_JIS page of about 1 MB: n anchors with Japanese texts, every tenth one a duplicate.
std::string LargePage(int anchors) {
    std::string page = Utf8ToSjis("<html><head><title>リンク集</title></head><body>");
    const std::string paragraph = Utf8ToSjis("本文の段落。");
    const std::string text = Utf8ToSjis("日記の記事へのリンクです");
    for (int i = 0; i < anchors; ++i) {
        const std::string target = std::to_string(i % 10 == 9 ? i - 1 : i);
        page.append("<p>").append(paragraph).append("<a href=\"/entry/").append(target).append(".html\">");
        page.append(text).append(target).append("</a></p>\r\n");
    }
    page.append("</body></html>");
    return page;
}

void BM_LinkListPage(benchmark::State& state) {
    const std::string page = LargePage(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildLinkListPage(page, "http://a.example/blog/", "", ""));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
    state.counters["page_bytes"] = static_cast<double>(page.size());
}
BENCHMARK(BM_LinkListPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FillCommentForPage(benchmark::State& state) {
    TLightStrings table('\t');
    for (int i = 0; i < state.range(0); ++i) {
        TMWBlogListRec r;
        r.SiteTitle = "site";
        r.SiteURL = std::string("http://host").append(std::to_string(i)).append(".example/blog/");
        r.ManagerName = std::string("m").append(std::to_string(i));
        table.Add(WriteSiteRecord(r));
    }
    const std::string comment = Utf8ToSjis("{$Manager}さん、こんにちは。\r\n{$MySiteName}({$MySiteURL})の{$MyName}です。");
    std::string pageUrl = "http://host";
    pageUrl.append(std::to_string(state.range(0) - 1)).append(".example/blog/2026/12/entry.html");
    for (auto _ : state) {
        const std::string manager = FindManagerName(table, pageUrl);  // the last site: the whole table is walked
        benchmark::DoNotOptimize(FillCommentTemplate(comment, "me", "http://me.example/", "hana", manager));
    }
}
BENCHMARK(BM_FillCommentForPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
