// The check of all sites against distant hosts: loopback servers on 127.0.0.1 .. 127.0.0.50 answer
// every request after 200 ms; sites never visited (one request each: no HEAD). Three mixes of 1,000
// sites: spread evenly over the 50 hosts; 40 % on one host and 20 % on a second; a quarter on
// subdomains of one registrable domain (names routed to 127.0.0.1), the rest spread. Each run reports
// the requests the servers saw, the most one group of hosts saw at once and in one second, the
// floor the limits allow (the busiest group's sites at six at once and 50 starts a second, or all
// sites over the connections, whichever is longer), the worst gap of the GUI thread's event loop (a
// 1 ms timer) and the heap held beyond its start. Against a bare sequential libcurl HEAD+GET loop.
//
//   bench_concurrent_check --benchmark_filter='Run/1000/48/'   the default, every mix
//   HANABIRA_BENCH_FULL=1 bench_concurrent_check                 the strict walk over 1,000 sites too
#include <benchmark/benchmark.h>

#include "plain_curl_loop.h"
#include <curl/curl.h>
#include <httplib.h>
#include <malloc.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "check/rss_check.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/web_fetch.h"

using namespace hanabira;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kHosts = 50;
constexpr int kLatencyMs = 200;
constexpr int kDelayMs = 100;  // what the main window passes
// What the pool allows one group: six at once, 50 starts a second.
constexpr double kGroupRate = std::min(6.0 / (kLatencyMs / 1000.0), 50.0);
enum Mix { kEven, kTwoBusyHosts, kOneServiceManySubdomains };

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "bench_concurrent_check";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

std::string Two(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v % 60);
    return buf;
}

// One distant host: a server on its own loopback address that answers after kLatencyMs.
class SlowHost {
public:
    explicit SlowHost(const std::string& address) : address_(address) {
        server_.new_task_queue = [] { return new httplib::ThreadPool(64); };  // a thread per kept connection
        server_.set_keep_alive_timeout(2);
        server_.set_tcp_nodelay(true);  // as web servers send their answers (nginx: tcp_nodelay on)
        server_.Get(R"(/s(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard<std::mutex> lock(m_);
                arrivals_.push_back(Clock::now());
                most_ = std::max(most_, ++active_);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kLatencyMs));
            {
                std::lock_guard<std::mutex> lock(m_);
                --active_;
            }
            const int k = std::stoi(req.matches[1].str());
            const std::string mmss = Two(k / 60) + ":" + Two(k);
            res.set_header("Last-Modified", "Sun, 01 Nov 2026 00:" + mmss + " GMT");
            res.set_content("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                            "<title>bench</title><link>http://example/</link>\n<item><title>entry</title>"
                            "<pubDate>Mon, 02 Nov 2026 00:" +
                                mmss + " +0900</pubDate></item>\n</channel></rss>\n",
                            "text/xml");
        });
        port_ = server_.bind_to_any_port(address_);
        if (port_ <= 0) throw std::runtime_error("cannot bind " + address_);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~SlowHost() {
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://" + address_ + ":" + std::to_string(port_) + path;
    }
    int port() const { return port_; }
    void Reset() {
        std::lock_guard<std::mutex> lock(m_);
        arrivals_.clear();
        most_ = active_ = 0;
    }
    int Requests() const {
        std::lock_guard<std::mutex> lock(m_);
        return static_cast<int>(arrivals_.size());
    }
    int MostAtOnce() const {
        std::lock_guard<std::mutex> lock(m_);
        return most_;
    }
    // The most requests that arrived within any one second.
    int MostInASecond() const {
        std::lock_guard<std::mutex> lock(m_);
        std::vector<Clock::time_point> t = arrivals_;
        std::sort(t.begin(), t.end());
        int most = 0;
        for (size_t i = 0, j = 0; j < t.size(); ++j) {
            while (t[j] - t[i] >= std::chrono::seconds(1)) ++i;
            most = std::max(most, static_cast<int>(j - i + 1));
        }
        return most;
    }

private:
    mutable std::mutex m_;
    std::vector<Clock::time_point> arrivals_;
    int active_ = 0, most_ = 0;
    std::string address_;
    int port_ = 0;
    httplib::Server server_;
    std::thread thread_;
};

std::vector<std::unique_ptr<SlowHost>>& Hosts() {
    static std::vector<std::unique_ptr<SlowHost>> hosts = [] {
        std::vector<std::unique_ptr<SlowHost>> h;
        for (int i = 1; i <= kHosts; ++i) h.push_back(std::make_unique<SlowHost>("127.0.0." + std::to_string(i)));
        return h;
    }();
    return hosts;
}

// The host that serves site k in a mix.
int HostOf(Mix mix, int sites, int k) {
    switch (mix) {
        case kEven:
            return k % kHosts;
        case kTwoBusyHosts:
            if (k < sites * 4 / 10) return 0;
            if (k < sites * 6 / 10) return 1;
            return 2 + k % (kHosts - 2);
        case kOneServiceManySubdomains:
            return k % 4 == 0 ? 0 : 1 + k % (kHosts - 1);
    }
    return 0;
}

std::string FeedUrl(int k, Mix mix = kEven, int sites = 1000) {
    const SlowHost& host = *Hosts()[static_cast<size_t>(HostOf(mix, sites, k))];
    if (mix == kOneServiceManySubdomains && k % 4 == 0)
        return "http://blog" + std::to_string(k) + ".example.jp:" + std::to_string(host.port()) + "/s" +
               std::to_string(k);
    return host.Url("/s" + std::to_string(k));
}

// The subdomains of the one-service mix lead to the first host.
void RouteNames(int sites) {
    auto& resolve = CurrentFetchLimits().resolve;
    resolve.clear();
    const std::string port = std::to_string(Hosts()[0]->port());
    for (int k = 0; k < sites; k += 4) resolve.push_back("blog" + std::to_string(k) + ".example.jp:" + port + ":127.0.0.1");
}

// As the main window: the category view follows each stored step.
class BenchHost : public CheckHost {
public:
    TLightStrings& SiteTable() override { return table; }
    void SetStatusText(const std::string& text) override { status = text; }
    bool ShowSelectedCategory() override {
        FilterCategory(table, AllSitesCategory(), view, rows);
        return true;
    }
    bool ShowSiteChanged(int tableIndex) override {
        if (!UpdateCategoryView(table, tableIndex, AllSitesCategory(), view, rows)) ShowSelectedCategory();
        return true;
    }
    std::atomic<bool>& CheckingFlag() override { return checking; }

    void Fill(int sites, Mix mix = kEven) {
        table.Clear();
        const std::string title = Utf8ToSjis("ベンチのブログ");
        for (int k = 0; k < sites; ++k) {
            TMWBlogListRec r;
            r.SiteTitle = title + std::to_string(k);
            r.SiteURL = "http://site" + std::to_string(k) + ".example/";
            r.RSSURL = FeedUrl(k, mix, sites);
            r.Registered = "2026/01/01 00:00:00";
            table.Add(WriteSiteRecord(r));  // never visited: its feed is read, without a HEAD
        }
        ShowSelectedCategory();
    }
    int SitesDone() const {
        int n = 0;
        for (int i = 0; i < table.Count(); ++i) n += !ReadSiteRecord(table.Get(i)).LastUpdate.empty();
        return n;
    }

    TLightStrings table{'\t'}, view{'\t'};
    std::vector<int> rows;
    std::string status;
    std::atomic<bool> checking{false};
};

size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_Run(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    const int connections = static_cast<int>(state.range(1));
    const Mix mix = static_cast<Mix>(state.range(2));
    RouteNames(sites);
    BenchHost host;
    double worstGapMs = 0, heapKiB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        host.Fill(sites, mix);
        for (auto& h : Hosts()) h->Reset();
        const size_t heapBefore = HeapInUse();
        state.ResumeTiming();

        CheckBridge bridge(&host);
        QEventLoop loop;
        bool freed = false;
        Clock::time_point last = Clock::now();
        Clock::duration worst{};
        size_t heapPeak = heapBefore;
        QTimer tick, sample;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            worst = std::max(worst, now - last);
            last = now;
        });
        sample.setInterval(50);
        QObject::connect(&sample, &QTimer::timeout, [&] { heapPeak = std::max(heapPeak, HeapInUse()); });
        auto* worker = new TMWRSSCheck(&bridge, kDelayMs, [&](TMWRSSCheck*) { loop.quit(); }, connections);
        QObject::connect(worker, &QObject::destroyed, [&] { freed = true; });
        tick.start();
        sample.start();
        last = Clock::now();
        loop.exec();
        tick.stop();
        sample.stop();
        state.PauseTiming();
        while (!freed) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        worstGapMs = std::chrono::duration<double, std::milli>(worst).count();
        heapKiB = static_cast<double>(heapPeak - std::min(heapPeak, heapBefore)) / 1024.0;
        state.ResumeTiming();
    }
    if (host.SitesDone() != sites) state.SkipWithError("not every site got its feed date");
    // A group is one host here: the one-service mix sends all its subdomains to the first host.
    int requests = 0, mostAtOnce = 0, mostInASecond = 0;
    std::vector<int> perHost(kHosts, 0);
    for (int k = 0; k < sites; ++k) ++perHost[static_cast<size_t>(HostOf(mix, sites, k))];
    for (auto& h : Hosts()) {
        requests += h->Requests();
        mostAtOnce = std::max(mostAtOnce, h->MostAtOnce());
        mostInASecond = std::max(mostInASecond, h->MostInASecond());
    }
    const int busiest = *std::max_element(perHost.begin(), perHost.end());
    const double floor =
        std::max(busiest / kGroupRate, sites * (kLatencyMs / 1000.0) / std::clamp(connections, 1, 64));
    state.counters["requests"] = requests;
    state.counters["group_most_at_once"] = mostAtOnce;
    state.counters["group_most_in_1s"] = mostInASecond;
    state.counters["floor_s"] = floor;
    state.counters["sites/s"] = benchmark::Counter(sites, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["worst_gui_gap_ms"] = worstGapMs;
    state.counters["heap_peak_KiB"] = heapKiB;
}


// HEAD then GET of every site, one after another, a fresh handle for each: no pause.
void BM_BareSequentialCurl(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    size_t bytes = 0;
    for (auto _ : state) bytes += bench_support::PlainCurlLoop(sites, [&](int k) { return FeedUrl(k); });
    benchmark::DoNotOptimize(bytes);
    state.counters["sites/s"] = benchmark::Counter(sites, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

// Args: sites, connections, mix; one iteration each. The strict walk and the bare loop over 1,000 sites
// take over six minutes each: they run only with HANABIRA_BENCH_FULL=1 (scripts/bench repeats
// every benchmark), and over 100 sites otherwise.
void Register() {
    const bool full = std::getenv("HANABIRA_BENCH_FULL") != nullptr;
    const int slowSites = full ? 1000 : 100;
    benchmark::RegisterBenchmark("BM_Run", BM_Run)
        ->Args({1000, kDefaultCheckConnections, kEven})
        ->Args({1000, kDefaultCheckConnections, kTwoBusyHosts})
        ->Args({1000, kDefaultCheckConnections, kOneServiceManySubdomains})
        ->Args({1000, 16, kEven})
        ->Args({1000, 64, kEven})
        ->Args({1000, 64, kTwoBusyHosts})
        ->Args({slowSites, 1, kEven})
        ->Unit(benchmark::kSecond)
        ->UseRealTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark("BM_BareSequentialCurl", BM_BareSequentialCurl)
        ->Arg(slowSites)
        ->Unit(benchmark::kSecond)
        ->UseRealTime()
        ->Iterations(1);
}

int main(int argc, char** argv) {
    App();
    Hosts();
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
