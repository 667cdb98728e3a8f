// Days in the tray: 20 scheduled runs back to back, through the main window as the schedule starts
// them, over 1,000 sites on loopback servers (127.0.0.1 .. 127.0.0.50). One site in 23 fails (HEAD
// and feed answer 500), one in 47 answers every request after 2 s (both spread over the hosts);
// the others answer new dates in every run. The servers run in a child process, so the heap in use
// (mallinfo2) reported after runs 1, 10 and 20, and how much it grew, is the program's alone. Fails
// when the saved data file changed in anything but its dates.
//
//   bench_auto_check_soak          one iteration of 20 runs (a few minutes)
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "store/category_tree.h"
#include "store/site_data.h"
#include "store/site_record.h"
#include "support/codepage.h"
#include "support/desktop_notice.h"
#include "ui/main/main_window.h"

using namespace hanabira;
using namespace std::chrono_literals;

namespace {

constexpr int kHosts = 50;
constexpr int kSites = 1000;
constexpr int kRuns = 20;
constexpr int kSlowMs = 2000;

// The run under way, shared with the servers' process: the fast sites answer a newer date in each.
std::atomic<int>* g_run = nullptr;
std::vector<std::string> g_hostUrls;  // "http://127.0.0.N:port" of each host

std::string Two(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v % 100);
    return buf;
}

// A loopback host: /s<k> answers for site k.
class Host {
public:
    explicit Host(const std::string& address) : address_(address) {
        server_.new_task_queue = [] { return new httplib::ThreadPool(8); };
        server_.set_keep_alive_timeout(2);
        auto answer = [](const httplib::Request& req, httplib::Response& res) {
            const int k = std::stoi(req.matches[1].str());
            if (k % 23 == 0) {
                res.status = 500;
                return;
            }
            if (k % 47 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(kSlowMs));
            const int run = g_run->load();
            // Day 1 + run of November, minute and second from the site: every run a newer date, all of
            // them in the past (a feed date later than the present is not taken).
            const std::string day = Two(1 + run), mmss = Two(k / 60 % 60) + ":" + Two(k % 60);
            res.set_header("Last-Modified", "Sun, " + day + " Nov 2026 01:" + mmss + " GMT");
            res.set_content(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                "<title>soak</title><link>http://example/</link>\n<item><title>entry</title>"
                "<pubDate>Sun, " +
                    day + " Nov 2026 10:" + mmss + " +0900</pubDate></item>\n</channel></rss>\n",
                "text/xml");
        };
        server_.Get(R"(/s(\d+))", answer);
        port_ = server_.bind_to_any_port(address_);
        if (port_ <= 0) throw std::runtime_error("cannot bind " + address_);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(1ms);
    }
    ~Host() {
        server_.stop();
        thread_.join();
    }
    std::string Base() const { return "http://" + address_ + ":" + std::to_string(port_); }

private:
    std::string address_;
    int port_ = 0;
    httplib::Server server_;
    std::thread thread_;
};

struct CountedNotices : NoticeSender {
    int sent = 0;
    void Send(const std::string&, std::function<void()>) override { ++sent; }
};

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// Whether the data file at after differs from the one at before in nothing but the sites' dates:
// the same sites in the same order with the same other fields, the same category tree.
bool ChangedOnlyInDates(const std::string& before, const std::string& after) {
    TLightStrings a('\t'), b('\t');
    CategoryTree ta, tb;
    if (LoadSiteData(before, a, ta).status != SiteDataStatus::Loaded) return false;
    if (LoadSiteData(after, b, tb).status != SiteDataStatus::Loaded) return false;
    if (MWSaveTreeToStrings(ta) != MWSaveTreeToStrings(tb) || a.Count() != b.Count()) return false;
    for (int i = 0; i < a.Count(); ++i) {
        TMWBlogListRec ra = ReadSiteRecord(a.Get(i)), rb = ReadSiteRecord(b.Get(i));
        for (TMWBlogListRec* r : {&ra, &rb}) r->LastVisit = r->Registered = r->LastUpdate = r->HeadTime = "";
        if (WriteSiteRecord(ra) != WriteSiteRecord(rb)) return false;
    }
    return true;
}

// Starts the hosts in a child process (before this one has threads) and learns their addresses.
// The child ends when this process closes its end of the pipe (also when it dies).
pid_t StartServers() {
    void* shared =
        mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return -1;
    g_run = new (shared) std::atomic<int>(0);
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(up[0]);
        close(down[1]);
        {
            std::vector<std::unique_ptr<Host>> hosts;
            for (int i = 1; i <= kHosts; ++i)
                hosts.push_back(std::make_unique<Host>("127.0.0." + std::to_string(i)));
            std::string list;
            for (const auto& h : hosts) list += h->Base() + "\n";
            [[maybe_unused]] ssize_t n = write(up[1], list.data(), list.size());
            close(up[1]);
            char c;
            while (read(down[0], &c, 1) > 0) {
            }
        }
        _exit(0);
    }
    close(up[1]);
    close(down[0]);  // down[1] stays open for the life of this process
    std::string list;
    char buf[4096];
    for (ssize_t n; (n = read(up[0], buf, sizeof buf)) > 0;) list.append(buf, static_cast<size_t>(n));
    close(up[0]);
    for (size_t pos = 0, end; (end = list.find('\n', pos)) != std::string::npos; pos = end + 1)
        g_hostUrls.push_back(list.substr(pos, end - pos));
    return child;
}

void BM_TwentyScheduledRuns(benchmark::State& state) {
    if (static_cast<int>(g_hostUrls.size()) != kHosts) {
        state.SkipWithError("the servers did not start");
        return;
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "hanabira_soak";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string dataFile = (folder / "RssSites.dat").string();

    double heapKiB[kRuns + 1] = {};
    int notices = 0;
    bool onlyDates = true, saved = false;
    int visitList = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TLightStrings table('\t');
        const std::string title = Utf8ToSjis("ゆるふわ日記");
        for (int k = 0; k < kSites; ++k) {
            TMWBlogListRec r;
            r.SiteTitle = title + std::to_string(k);
            r.SiteURL = "http://site" + std::to_string(k) + ".example/";
            r.RSSURL = g_hostUrls[static_cast<size_t>(k % kHosts)] + "/s" + std::to_string(k);
            r.Registered = "2026/01/01 00:00:00";
            r.LastVisit = "2026/10/31 00:00:00";
            r.Category = Utf8ToSjis(k % 2 ? "日記" : "写真");
            r.ManagerName = Utf8ToSjis("はな");
            table.Add(WriteSiteRecord(r));
        }
        CategoryTree tree = BuiltInCategoryTree();
        for (const char* name : {"日記", "写真"})
            tree[0].Children.push_back({Utf8ToSjis(name), 5, 0, -1, {}});
        SaveSiteData(dataFile, table, tree);
        std::filesystem::copy_file(dataFile, folder / "original.dat");
        const auto originalTime = std::filesystem::last_write_time(dataFile);
        // The program as it starts: the data file loaded, the root category shown.
        auto form = std::make_unique<TForm1>(QString::fromStdString(folder.string()));
        RunStartupSequence(*form);
        state.ResumeTiming();
        ScheduleTime now = std::chrono::sys_days{std::chrono::year{2026} / 12 / 9};
        form->SetAutoCheckClock([&now] { return now; });
        auto owned = std::make_unique<CountedNotices>();
        CountedNotices& sent = *owned;
        form->SetNoticeSender(std::move(owned));
        form->SetAutoCheckMinutes(15);

        for (int run = 1; run <= kRuns; ++run) {
            const auto started = std::chrono::steady_clock::now();
            g_run->store(run);
            now += 15min;
            form->ScheduleTick();
            if (!form->IsChecking()) {
                state.SkipWithError("the scheduled run did not start");
                break;
            }
            while (form->IsChecking()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
            }
            // The worker frees itself after its run.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            state.PauseTiming();
            heapKiB[run] = static_cast<double>(HeapInUse()) / 1024.0;
            // Progress on stderr: the soak takes minutes.
            std::fprintf(stderr, "run %d: %.1f s, heap %.0f KiB\n", run,
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                         heapKiB[run]);
            if (run == 1) saved = std::filesystem::last_write_time(dataFile) != originalTime;
            if (run == 1 || run == kRuns)
                onlyDates = onlyDates && ChangedOnlyInDates((folder / "original.dat").string(), dataFile);
            now += 1min;  // the run's end, as the clock sees it
            state.ResumeTiming();
        }
        notices = sent.sent;
        visitList = form->VisitSites().Count();
        form.reset();
    }
    if (!saved) state.SkipWithError("the scheduled run did not save the data file");
    if (visitList == 0) state.SkipWithError("no site reached the visit list");
    if (!onlyDates) state.SkipWithError("the data file changed in more than its dates");
    state.counters["visit_list"] = visitList;
    state.counters["heap_run1_KiB"] = heapKiB[1];
    state.counters["heap_run10_KiB"] = heapKiB[10];
    state.counters["heap_run20_KiB"] = heapKiB[kRuns];
    state.counters["heap_growth_1_to_20_pct"] =
        heapKiB[1] > 0 ? (heapKiB[kRuns] - heapKiB[1]) * 100.0 / heapKiB[1] : 0;
    state.counters["notices"] = notices;
    state.counters["runs"] = kRuns;
    std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(BM_TwentyScheduledRuns)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(1);

int main(int argc, char** argv) {
    const pid_t servers = StartServers();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (servers > 0) {
        kill(servers, SIGTERM);
        waitpid(servers, nullptr, 0);
    }
    return 0;
}
