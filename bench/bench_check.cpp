// The check of all sites against a loopback server: a whole run against a plain sequential libcurl
// HEAD+GET loop over the same sites, and how the GUI thread fares while a run goes on (its worst
// event-loop gap, measured with a 1 ms timer, and its time inside the worker's hand-off steps).
// Delay 0 here, so the run goes as fast as the sites answer.
#include <benchmark/benchmark.h>

#include "plain_curl_loop.h"
#include <curl/curl.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "check/dates.h"
#include "check/rss_check.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/encoding.h"
#include "support/web_fetch.h"
#include "tests/http_test_server.h"

using namespace hanabira;

namespace {

using Clock = std::chrono::steady_clock;

// Times every event delivered to the bridge: those are the hand-off steps run on this thread.
class TimingApp : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (receiver != timed) return QCoreApplication::notify(receiver, event);
        const auto t0 = Clock::now();
        const bool r = QCoreApplication::notify(receiver, event);
        const auto spent = Clock::now() - t0;
        inside += spent;
        longest = std::max(longest, spent);
        return r;
    }
    QObject* timed = nullptr;
    Clock::duration inside{}, longest{};
};

TimingApp& App() {
    static int argc = 1;
    static char name[] = "bench_check";
    static char* argv[] = {name, nullptr};
    static TimingApp app(argc, argv);
    return app;
}

std::string Clock2(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v % 60);
    return buf;
}

// Every path /s<k> answers a Last-Modified and a small RSS 2.0 feed of its own.
testing_support::HttpTestServer& Server() {
    static testing_support::HttpTestServer server([](testing_support::HttpTestServer& s) {
        s.Get(R"(/s(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            const int k = std::stoi(req.matches[1].str());
            const std::string mmss = Clock2(k / 60) + ":" + Clock2(k);
            res.set_header("Last-Modified", "Sun, 01 Nov 2026 0" + std::to_string(k / 3600 % 10) + ":" + mmss + " GMT");
            res.set_content("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                            "<title>bench</title><link>http://example/</link>\n<item><title>entry</title>"
                            "<pubDate>Mon, 02 Nov 2026 00:" + mmss + " +0900</pubDate></item>\n"
                            "<item><title>older</title><pubDate>Sun, 01 Nov 2026 00:00:00 +0900</pubDate></item>\n"
                            "</channel></rss>\n",
                            "text/xml");
        });
    });
    return server;
}

std::string SiteUrl(int k) { return "http://site" + std::to_string(k) + ".example/"; }

void FillTable(TLightStrings& table, int sites) {
    table.Clear();
    const std::string title = Utf8ToSjis("ベンチのブログ");
    for (int k = 0; k < sites; ++k) {
        TMWBlogListRec r;
        r.SiteTitle = title + std::to_string(k);
        r.SiteURL = SiteUrl(k);
        r.RSSURL = Server().Url("/s" + std::to_string(k));
        r.Registered = "2026/01/01 00:00:00";
        r.Category = k % 2 ? "" : Utf8ToSjis("趣味");
        table.Add(WriteSiteRecord(r));  // never visited: every site gets both steps
    }
}

class BenchHost : public CheckHost {
public:
    explicit BenchHost(bool filter) : filter_(filter) {}
    TLightStrings& SiteTable() override { return table; }
    void SetStatusText(const std::string& text) override { status = text; }
    bool ShowSelectedCategory() override {
        // As the main window does with the root selected: the category view is rebuilt.
        if (filter_) FilterCategory(table, AllSitesCategory(), view, rows);
        return true;
    }
    // As the main window does after a check result: only the changed line is brought in.
    bool ShowSiteChanged(int tableIndex) override {
        if (!filter_) return true;
        if (!UpdateCategoryView(table, tableIndex, AllSitesCategory(), view, rows)) ShowSelectedCategory();
        return true;
    }
    std::atomic<bool>& CheckingFlag() override { return checking; }

    TLightStrings table{'\t'}, view{'\t'};
    std::vector<int> rows;
    std::string status;
    std::atomic<bool> checking{false};

private:
    bool filter_;
};

struct RunStats {
    double seconds = 0;
    int sitesDone = 0;
    double worstGapMs = 0;
    double handoffShare = 0;
    double longestHandoffMs = 0;
};

// One run over host's table on this thread's event loop; aborted after limitSeconds. With
// measureGaps a 1 ms timer records the longest gap between its ticks.
RunStats RunOnce(BenchHost& host, bool measureGaps, double limitSeconds = 1e9) {
    TimingApp& app = App();
    CheckBridge bridge(&host);
    app.timed = &bridge;
    app.inside = {};
    app.longest = {};
    QEventLoop loop;
    RunStats stats;
    Clock::time_point last = Clock::now();
    Clock::duration worst{};
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        worst = std::max(worst, now - last);
        last = now;
    });
    const auto start = Clock::now();
    bool finished = false;
    bool freed = false;
    auto* worker = new TMWRSSCheck(&bridge, 0, [&](TMWRSSCheck*) {
        finished = true;
        loop.quit();
    });
    QObject::connect(worker, &QObject::destroyed, [&] { freed = true; });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] { worker->AbortCheck(); });
    limit.start(static_cast<int>(std::min(limitSeconds * 1000, 1e9)));
    if (measureGaps) tick.start();
    last = Clock::now();
    if (!finished) loop.exec();
    tick.stop();
    limit.stop();
    stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (int i = 0; i < host.table.Count(); ++i)
        if (!ReadSiteRecord(host.table.Get(i)).LastUpdate.empty()) ++stats.sitesDone;
    stats.worstGapMs = std::chrono::duration<double, std::milli>(worst).count();
    stats.handoffShare = std::chrono::duration<double>(app.inside).count() / stats.seconds;
    stats.longestHandoffMs = std::chrono::duration<double, std::milli>(app.longest).count();
    app.timed = nullptr;
    while (!freed) {  // the worker frees itself once its thread has ended
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return stats;
}

void BM_WorkerRun(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    const bool filter = state.range(1) != 0;
    BenchHost host(filter);
    RunStats last;
    for (auto _ : state) {
        state.PauseTiming();
        FillTable(host.table, sites);
        host.ShowSelectedCategory();  // the view as the window shows it when the run starts
        state.ResumeTiming();
        last = RunOnce(host, false);
    }
    if (last.sitesDone != sites) state.SkipWithError("not every site got its feed date");
    state.counters["sites/s"] = benchmark::Counter(sites, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["handoff_share_%"] = last.handoffShare * 100;
}

// One hand-off step from another thread and back, the GUI thread idling in its event loop.
void BM_HandOffRoundTrip(benchmark::State& state) {
    BenchHost host(false);
    CheckBridge bridge(&host);
    QEventLoop loop;
    std::atomic<bool> done{false};
    long steps = 0;
    const auto start = Clock::now();
    std::thread caller([&] {
        while (!done.load()) {
            bridge.RunOnGui([](CheckHost&) {});
            ++steps;
        }
        QMetaObject::invokeMethod(&loop, [&] { loop.quit(); }, Qt::QueuedConnection);
    });
    QTimer::singleShot(1000, [&] { done = true; });
    loop.exec();
    caller.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto _ : state) {
    }
    state.counters["us_per_step"] = seconds * 1e6 / static_cast<double>(steps);
}


// The same requests with nothing around them: a fresh handle per request, as the program makes.
void BM_PlainCurlLoop(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    size_t bytes = 0;
    const auto urlOf = [](int k) { return Server().Url("/s" + std::to_string(k)); };
    for (auto _ : state) bytes += bench_support::PlainCurlLoop(sites, urlOf);
    benchmark::DoNotOptimize(bytes);
    state.counters["sites/s"] = benchmark::Counter(sites, benchmark::Counter::kIsIterationInvariantRate);
}

// The program's own requests and date work in a plain loop: what the run costs without hand-offs.
void BM_OwnRequestsLoop(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    size_t dates = 0;
    for (auto _ : state) {
        for (int k = 0; k < sites; ++k) {
            const std::string url = Server().Url("/s" + std::to_string(k));
            std::string answer;
            if (HeadRequest(url, answer)) dates += HeadDateFromResponse(answer).size();
            dates += FeedDateFromText(DecodeFeedText(FetchPageText(url, [] { return false; }))).size();
        }
    }
    benchmark::DoNotOptimize(dates);
    state.counters["sites/s"] = benchmark::Counter(sites, benchmark::Counter::kIsIterationInvariantRate);
}

// 10,000 sites: the GUI thread's worst gap and its share inside the hand-offs. With the category
// view rebuilt after every step the GUI thread becomes the limit, so that run is cut after 20 s.
void BM_GuiDuringRun(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    const bool filter = state.range(1) != 0;
    BenchHost host(filter);
    RunStats stats;
    for (auto _ : state) {
        state.PauseTiming();
        FillTable(host.table, sites);
        host.ShowSelectedCategory();  // the view as the window shows it when the run starts
        state.ResumeTiming();
        stats = RunOnce(host, true, 20.0);
    }
    state.counters["sites_done"] = stats.sitesDone;
    state.counters["sites/s"] = stats.sitesDone / stats.seconds;
    state.counters["worst_gap_ms"] = stats.worstGapMs;
    state.counters["longest_handoff_ms"] = stats.longestHandoffMs;
    state.counters["handoff_share_%"] = stats.handoffShare * 100;
}

}  // namespace

// Args: sites, category view rebuilt after each step (1) or not (0).
BENCHMARK(BM_WorkerRun)->Args({1000, 0})->Args({1000, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_HandOffRoundTrip)->Iterations(1);
BENCHMARK(BM_OwnRequestsLoop)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainCurlLoop)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GuiDuringRun)->Args({10000, 0})->Args({10000, 1})->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

int main(int argc, char** argv) {
    App();
    Server();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
