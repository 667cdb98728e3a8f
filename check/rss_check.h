#pragma once
// The background check of all sites. The worker thread does the network and date work; every touch
// of the site table, the status bar and the lists is a hand-off step that runs on the GUI thread
// while the worker waits.
#include <QObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/light_strings.h"
#include "store/site_record.h"
#include "support/web_fetch.h"

namespace hanabira {

// How far a run has come: sites ended of all, how many entered the visit list (were not in it
// before their check and are now, over all categories), and how many could not be checked.
struct CheckProgress {
    int done = 0, total = 0, entered = 0, failed = 0;
};
// One site's end in a run. failure: why its feed could not be read; empty when it could, or when
// its feed was not asked (unchanged since the last visit).
struct SiteCheckOutcome {
    std::string siteUrl, title, feedUrl, failure;
};

// What the worker needs of the main window. Every call is made on the GUI thread.
class CheckHost {
public:
    virtual ~CheckHost() = default;
    virtual TLightStrings& SiteTable() = 0;
    virtual void SetStatusText(const std::string& text) = 0;  // Shift_JIS; empty clears
    // False when no category is selected: nothing is shown then.
    virtual bool ShowSelectedCategory() = 0;
    // The show-category step after line tableIndex of the site table changed. A host that keeps
    // track of its view can update just that line; the result must equal ShowSelectedCategory.
    virtual bool ShowSiteChanged(int tableIndex) {
        (void)tableIndex;
        return ShowSelectedCategory();
    }
    virtual std::atomic<bool>& CheckingFlag() = 0;
    // A site of the run has ended (never called for a site cut off by a stop).
    virtual void SiteCheckEnded(const SiteCheckOutcome& outcome, const CheckProgress& progress) {
        (void)outcome;
        (void)progress;
    }
};

class TMWRSSCheck;

// Lives on the GUI thread and carries the hand-off steps there. When the main window goes away
// while a worker still runs, it is detached (and deliberately never freed): every later step
// then does nothing and the run ends at its next stop test.
// The bridge may be deleted only while no worker uses it, i.e. while the host's Checking flag is
// false: the worker clears that flag in its very last hand-off and never touches the bridge after.
class CheckBridge : public QObject {
    Q_OBJECT
public:
    explicit CheckBridge(CheckHost* host);
    void Detach();
    bool Attached() const;
    // Runs f on the GUI thread and waits; an exception thrown there is rethrown to the caller.
    // Returns false when the bridge is detached (f did not run). Called on the GUI thread itself,
    // f runs at once.
    bool RunOnGui(const std::function<void(CheckHost&)>& f);

private:
    CheckHost* host_;
    std::atomic<bool> attached_{true};
};

// The number of sites a run has in flight at once, from the "CheckConnections" setting's text: a
// missing, non-number or smaller than 1 value gives the default; more than the maximum gives the
// maximum (beyond it a run gains nothing on a 2-core machine, but holds more sockets and bodies).
// 16, the default of earlier versions, is what every settings file written by them holds (there is
// no window to choose it): it reads as today's default.
constexpr int kDefaultCheckConnections = 48;
constexpr int kEarlierDefaultCheckConnections = 16;
constexpr int kMaxCheckConnections = 64;
int CheckConnectionsFromText(std::string_view text);

// The line that sums up a run when it ends, with the time it ended at (Shift_JIS):
// "[2026/12/09 00:10:40]:1,000 サイトをチェックしました: 更新 12 件、失敗 3 件 (42 秒)"; a stopped run
// says how far it came.
std::string CheckSummaryText(const CheckProgress& progress, bool stopped, int seconds, double now);

class TMWRSSCheck : public QThread {
    Q_OBJECT
public:
    // Call on the GUI thread. Before it returns it sets the host's Checking flag (so a second start
    // cannot slip in before the thread runs) and takes the site count of the run; then it starts
    // the thread. The object deletes itself after the run (deleteLater).
    // connections: sites in flight at once (clamped to 1..kMaxCheckConnections), at most six of
    // them in one group of hosts (RequestPool::GroupOf), whose requests the pool spaces and
    // limits. 1 is the strict walk: one site after another in table order, with a pause of
    // delayMs after each (the concurrent run does not use delayMs).
    TMWRSSCheck(CheckBridge* bridge, int delayMs, std::function<void(TMWRSSCheck*)> onFinish,
                int connections = kDefaultCheckConnections);
    void AbortCheck();
    bool IsAborted() const { return Aborted.load(); }
    // The counts of the run so far; final once OnFinish runs. Read them on the GUI thread.
    const CheckProgress& Progress() const { return progress_; }
    int Seconds() const;

    int Delay;  // the strict walk's pause after each site, in ms
    std::string StatusText;
    std::atomic<bool> Aborted{false};
    std::function<void(TMWRSSCheck*)> OnFinish;

protected:
    void run() override { Execute(); }
    void Execute();

private:
    struct SiteJob;
    class Walk;
    void TakeSnapshot(const TLightStrings& table);
    bool LoadSiteLine(SiteJob& job);
    // Writes the job's value of field into the site's current line; with a step text also the
    // status line and the category view (the "show category" step). False when it was dropped.
    bool StoreSiteLine(SiteJob& job, std::string TMWBlogListRec::*field, const char* step);
    void FinishRun();
    // The steps of one site. Each returns true while the site has a request in the pool.
    bool BeginSite(SiteJob& job, RequestPool& pool);
    bool AfterHead(SiteJob& job, bool fresh, RequestPool& pool);
    bool StartFeed(SiteJob& job, RequestPool& pool);
    bool Continue(SiteJob& job, const RequestPool::Finished& done, RequestPool& pool);
    bool StopRequested() const;

    // A site has ended: its counts, and the hand-off that tells the main window.
    void SiteEnded(const SiteJob& job);

    CheckBridge* bridge_;
    int connections_;
    CheckProgress progress_;  // written in hand-off steps only, so the GUI thread reads it safely
    std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
    // The site and feed URLs of the lines at the start of the run: site i of the run is found by
    // its URL, near where the walk expects it, so edits in the main window never misplace a result.
    std::vector<std::string> urls_, feeds_;
    int shift_ = 0;  // how far the lines have moved since the start (deletions before the walk)
};

}  // namespace hanabira
