// The registration probe's search of a page for its feed link, on pages built to be hard: a 1 MB
// page whose head is half of it (thousands of tags, the feed link last), and a page with 300 KB of
// inline style and no feed link at all. The probe runs on the GUI thread, so this is what the
// window waits for once the page is fetched.
#include <benchmark/benchmark.h>

#include <string>

#include "register/site_probe.h"
#include "support/codepage.h"

using namespace hanabira;

namespace {

const std::string& LargeHeadPage() {
    static const std::string page = [] {
        std::string p = "<html><head><title>" + Utf8ToSjis("花びらの庭") + "</title>\r\n";
        for (int i = 0; p.size() < 512 * 1024; ++i) {
            const std::string n = std::to_string(i);
            p += "<meta name=\"keyword" + n + "\" content=\"" + Utf8ToSjis("表示ソフト ") + n + "\">\r\n";
            p += "<link rel=\"stylesheet\" type=\"text/css\" href=\"/css/style" + n + ".css\">\r\n";
            p += "<link rel=\"alternate\" hreflang=\"en\" href=\"/en/" + n + "/\">\r\n";
        }
        p += "<link rel=\"alternate\" type=\"application/rss+xml\" title=\"RSS\" "
             "href=\"/blog/Index.rdf\">\r\n";
        p += "</head>\r\n<body>\r\n";
        while (p.size() < 1024 * 1024)
            p += "<p>" + Utf8ToSjis("本日の更新です。ソフトの表示を直しました。") + "</p>\r\n";
        return p + "</body></html>\r\n";
    }();
    return page;
}

const std::string& InlineStylePage() {
    static const std::string page = [] {
        std::string p = "<html><head><title>style</title>\r\n<style type=\"text/css\">\r\n";
        for (int i = 0; p.size() < 300 * 1024; ++i)
            p += ".entry" + std::to_string(i) + " > p { margin: 0 auto; font-family: sans-serif; }\r\n";
        return p + "</style>\r\n</head>\r\n<body><p>x</p></body></html>\r\n";
    }();
    return page;
}

void BM_FindFeedLink_1MBPageLargeHead(benchmark::State& state) {
    const std::string& page = LargeHeadPage();
    std::string feed;
    for (auto _ : state) {
        feed = FindFeedLink(page, "http://blog.example.jp/blog/");
        benchmark::DoNotOptimize(feed);
    }
    if (feed != "http://blog.example.jp/blog/Index.rdf") state.SkipWithError("feed link not found");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_FindFeedLink_1MBPageLargeHead)->Unit(benchmark::kMillisecond);

void BM_FindFeedLink_300KBInlineStyleNoFeed(benchmark::State& state) {
    const std::string& page = InlineStylePage();
    std::string feed;
    for (auto _ : state) {
        feed = FindFeedLink(page, "http://blog.example.jp/");
        benchmark::DoNotOptimize(feed);
    }
    if (!feed.empty()) state.SkipWithError("a feed link where there is none");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_FindFeedLink_300KBInlineStyleNoFeed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
