#include "check/rss_check.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <map>
#include <stdexcept>

#include "check/dates.h"
#include "check/site_check.h"
#include "check/visit_list.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/encoding.h"
#include "support/sjis_text.h"
#include "support/web_fetch.h"

namespace hanabira {

// ---- CheckBridge ----

CheckBridge::CheckBridge(CheckHost* host) : host_(host) {}

void CheckBridge::Detach() {
    attached_.store(false);
    host_ = nullptr;
}

bool CheckBridge::Attached() const {
    return attached_.load();
}

bool CheckBridge::RunOnGui(const std::function<void(CheckHost&)>& f) {
    if (!attached_.load()) return false;
    if (QThread::currentThread() == thread()) {
        if (!host_) return false;
        f(*host_);
        return true;
    }
    // The two atomics give the worker's writes before the step and the GUI thread's writes in it a
    // visible order of their own, independent of how Qt's queue synchronises internally.
    struct Call {
        std::atomic<bool> posted{false};
        std::atomic<bool> ran{false};
        std::exception_ptr error;
    } call;
    call.posted.store(true, std::memory_order_release);
    const bool invoked = QMetaObject::invokeMethod(
        this,
        [this, &f, &call] {
            (void)call.posted.load(std::memory_order_acquire);
            if (!attached_.load() || !host_) return;
            try {
                f(*host_);
            } catch (...) {
                // Carried over to the worker, which waits for this step: it decides there.
                call.error = std::current_exception();
            }
            call.ran.store(true, std::memory_order_release);
        },
        Qt::BlockingQueuedConnection);
    // From here on the bridge may be gone (the step was the last one of a run): only locals.
    // A queued step that was discarded unrun (its receiver deleted, the application gone) also
    // wakes us, with ran still false.
    if (!invoked || !call.ran.load(std::memory_order_acquire)) return false;
    if (call.error) std::rethrow_exception(call.error);
    return true;
}

// ---- TMWRSSCheck ----

namespace {
const char kHeadStep[] = "CheckHEAD... ";
const char kRssStep[] = "CheckRSS... ";
// A person's browser opens six connections to a server at once; a polite reader asks no more of
// one service, and starts at most 50 requests a second to it.
constexpr int kPerGroup = 6;
constexpr int kGroupGapMs = 20;
// The longest wait for the network before the stop test is asked again.
constexpr int kPollMs = 50;
// How far past the first unstarted site the run looks for one whose host has room.
constexpr int kLookAhead = 512;

// The run's decision after the HEAD step: a site visited after its HEAD date has not changed since.
bool NeedsFeedCheck(const TMWBlogListRec& site) {
    const TDateTime lv = DateValue(site.LastVisit);
    const TDateTime ht = DateValue(site.HeadTime);
    return !(lv != 0 && ht != 0 && lv > ht);
}
}  // namespace

namespace {
// 1234567 -> "1,234,567": counts are read at a glance.
std::string Grouped(int n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}
}  // namespace

std::string CheckSummaryText(const CheckProgress& p, bool stopped, int seconds, double now) {
    std::string text = "[" + FormatDateText(now) + "]:";
    if (stopped)
        text += Grouped(p.total) + SjisLiteral(" サイト中 ") + Grouped(p.done) + SjisLiteral(" サイトをチェックして中断しました");
    else
        text += Grouped(p.total) + SjisLiteral(" サイトをチェックしました");
    text += SjisLiteral(": 更新 ") + Grouped(p.entered) + SjisLiteral(" 件、失敗 ") + Grouped(p.failed) +
            SjisLiteral(" 件 (") + Grouped(seconds) + SjisLiteral(" 秒)");
    return text;
}

int CheckConnectionsFromText(std::string_view text) {
    const std::string t(TrimSpaces(text));
    if (t.empty() || t.size() > 9 ||
        !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return kDefaultCheckConnections;
    const int n = std::stoi(t);
    if (n < 1 || n == kEarlierDefaultCheckConnections) return kDefaultCheckConnections;
    return std::min(n, kMaxCheckConnections);
}

// One site of the run while it is in flight.
struct TMWRSSCheck::SiteJob {
    int run = 0;          // its position in the run
    TMWBlogListRec site;  // as last read or stored
    std::string line;
    int index = 0;  // where it was last seen in the table
    bool loaded = false;
    bool wasInVisitList = false;  // before the run touched it
    std::string failure;          // why its feed could not be read
};

TMWRSSCheck::TMWRSSCheck(CheckBridge* bridge, int delayMs, std::function<void(TMWRSSCheck*)> onFinish,
                         int connections)
    : Delay(delayMs),
      OnFinish(std::move(onFinish)),
      bridge_(bridge),
      connections_(std::clamp(connections, 1, kMaxCheckConnections)) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    // The run covers the sites there are when it is started: sites added later are not visited.
    try {
        bridge_->RunOnGui([this](CheckHost& host) {
            host.CheckingFlag().store(true);
            TakeSnapshot(host.SiteTable());
        });
    } catch (...) {
        // The run still starts and finishes as every run does, over no sites.
        urls_.clear();
        feeds_.clear();
    }
    progress_.total = static_cast<int>(urls_.size());
    start();
}

int TMWRSSCheck::Seconds() const {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - startedAt_).count());
}

void TMWRSSCheck::SiteEnded(const SiteJob& job) {
    SiteCheckOutcome outcome;
    outcome.siteUrl = urls_[static_cast<size_t>(job.run)];
    if (job.loaded) {
        outcome.title = job.site.SiteTitle;
        outcome.feedUrl = job.site.RSSURL;
        outcome.failure = job.failure;
    }
    const bool entered = job.loaded && !job.wasInVisitList && NeedsVisit(job.site);
    bridge_->RunOnGui([&](CheckHost& host) {
        ++progress_.done;
        if (entered) ++progress_.entered;
        if (!outcome.failure.empty()) ++progress_.failed;
        if (job.loaded) host.SiteCheckEnded(outcome, progress_);
    });
}

void TMWRSSCheck::AbortCheck() {
    requestInterruption();
    Aborted.store(true);
}

bool TMWRSSCheck::StopRequested() const {
    return isInterruptionRequested() || QCoreApplication::closingDown() || Aborted.load() ||
           !bridge_->Attached();
}

// Which site starts next. The strict walk takes them in table order; the concurrent run takes the
// first one not started whose group of hosts has room, so a service with many sites never idles
// the others.
class TMWRSSCheck::Walk {
public:
    Walk(const std::vector<std::string>& feeds, bool strict)
        : strict_(strict), started_(feeds.size(), false) {
        if (strict_) return;
        hosts_.reserve(feeds.size());
        for (const std::string& feed : feeds) hosts_.push_back(RequestPool::GroupOf(feed));
    }
    int Next() {
        const int n = static_cast<int>(started_.size());
        while (first_ < n && started_[static_cast<size_t>(first_)]) ++first_;
        const int end = strict_ ? std::min(first_ + 1, n) : std::min(first_ + kLookAhead, n);
        for (int i = first_; i < end; ++i) {
            if (started_[static_cast<size_t>(i)]) continue;
            if (!strict_ && !HasRoom(hosts_[static_cast<size_t>(i)])) continue;
            started_[static_cast<size_t>(i)] = true;
            return i;
        }
        return -1;
    }
    bool Done() const { return first_ >= static_cast<int>(started_.size()); }
    void Enter(int i) {
        if (!strict_) ++inFlight_[hosts_[static_cast<size_t>(i)]];
    }
    void Leave(int i) {
        if (strict_) return;
        const auto it = inFlight_.find(hosts_[static_cast<size_t>(i)]);
        if (it != inFlight_.end() && --it->second <= 0) inFlight_.erase(it);
    }

private:
    bool HasRoom(const std::string& host) const {
        if (host.empty()) return true;  // no request at all
        const auto it = inFlight_.find(host);
        return it == inFlight_.end() || it->second < kPerGroup;
    }
    bool strict_;
    std::vector<bool> started_;
    std::vector<std::string> hosts_;
    std::map<std::string, int> inFlight_;
    int first_ = 0;
};

void TMWRSSCheck::Execute() {
    // Checking was set and the sites counted when the worker was created. Nothing may escape a
    // thread's run method, and every path must reach the finish: each step is guarded.
    try {
        const bool strict = connections_ == 1;
        RequestPool::Limits limits;
        limits.maxTransfers = connections_;
        limits.perGroup = strict ? 1 : kPerGroup;
        // The strict walk pauses after every site instead.
        limits.groupGapMs = strict ? 0 : kGroupGapMs;
        RequestPool pool(limits, [this] { return StopRequested(); });
        Walk walk(feeds_, strict);
        std::map<std::uint64_t, SiteJob> active;
        bool stop = false;
        // The end of a site: the strict walk pauses after each one, then asks whether to stop.
        const auto siteDone = [&] {
            if (strict && Delay > 0) QThread::msleep(static_cast<unsigned long>(Delay));
            if (StopRequested()) stop = true;
        };
        while (!stop) {
            while (!stop && static_cast<int>(active.size()) < connections_) {
                const int i = walk.Next();
                if (i < 0) break;
                SiteJob job;
                job.run = i;
                bool inFlight = false;
                try {
                    inFlight = BeginSite(job, pool);
                } catch (...) {
                    // A failure of one site (a host callback throwing, memory) passes the site over.
                }
                if (inFlight) {
                    walk.Enter(i);
                    active.emplace(static_cast<std::uint64_t>(i), std::move(job));
                } else {
                    SiteEnded(job);
                    siteDone();
                }
            }
            if (active.empty()) {
                if (walk.Done()) break;
                continue;  // stop was set, or (never) no site could start: the loop test decides
            }
            for (const RequestPool::Finished& done : pool.Perform(kPollMs)) {
                const auto it = active.find(done.tag);
                if (it == active.end()) continue;
                bool inFlight = false;
                // A stopped request says nothing about the site: nothing is stored for it.
                if (done.result != RequestResult::Aborted) {
                    try {
                        inFlight = Continue(it->second, done, pool);
                    } catch (...) {
                        // One site's fault ends that site, never the run.
                    }
                }
                if (inFlight) continue;
                walk.Leave(it->second.run);
                if (done.result != RequestResult::Aborted) SiteEnded(it->second);
                active.erase(it);
                if (done.result == RequestResult::Aborted)
                    stop = true;
                else
                    siteDone();
            }
            if (StopRequested()) stop = true;
        }
        // Requests still in flight end with the pool, storing nothing.
    } catch (...) {
        // Nothing may leave a thread's run method, and the finish below must always come.
    }
    FinishRun();
    // Nothing here may touch the bridge any more: after the last hand-off the main window is free
    // to delete it.
}

void TMWRSSCheck::TakeSnapshot(const TLightStrings& table) {
    const int count = table.Count();
    urls_.clear();
    feeds_.clear();
    urls_.reserve(static_cast<size_t>(count));
    feeds_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        TMWBlogListRec rec = ReadSiteRecord(table.Get(i));
        urls_.push_back(std::move(rec.SiteURL));
        feeds_.push_back(std::move(rec.RSSURL));
    }
}

bool TMWRSSCheck::BeginSite(SiteJob& job, RequestPool& pool) {
    // A line without a URL is passed over: neither step would do anything for it.
    if (urls_[static_cast<size_t>(job.run)].empty()) return false;
    if (!LoadSiteLine(job)) return false;  // deleted meanwhile, or the bridge is detached
    switch (HeadStepOf(job.site)) {
        case HeadStep::NoAddress:
            // The request would fail: decided on the stored HEAD date (and no feed to read).
            return AfterHead(job, false, pool);
        case HeadStep::Skip: {
            // A "Skip" site is decided on its feed alone. A stored HEAD date is then stale (it may
            // date from before the site was marked) and would keep the site off the visit list, so
            // it is emptied too, silently.
            bool stored = false;
            if (!job.site.HeadTime.empty()) {
                job.site.HeadTime.clear();
                stored = StoreSiteLine(job, &TMWBlogListRec::HeadTime, nullptr);
                job.site.HeadTime.clear();
            }
            return AfterHead(job, stored, pool);
        }
        case HeadStep::NotVisited:
            // Its feed is read whatever the HEAD would answer; the line was just read.
            return AfterHead(job, true, pool);
        case HeadStep::Request:
            break;
    }
    pool.Add(static_cast<std::uint64_t>(job.run), RequestPool::Kind::Head, job.site.RSSURL);
    return true;
}

bool TMWRSSCheck::Continue(SiteJob& job, const RequestPool::Finished& done, RequestPool& pool) {
    if (done.kind == RequestPool::Kind::Head) {
        // Failed: decided on the stored date, nothing stored, no status line.
        bool fresh = false;
        if (done.result == RequestResult::Ok) {
            job.site.HeadTime = HeadDateFromResponse(done.text);
            fresh = StoreSiteLine(job, &TMWBlogListRec::HeadTime, kHeadStep);
        }
        return AfterHead(job, fresh, pool);
    }
    FeedAnswer answer = JudgeFeedAnswer(done.result, done.text, done.failure);
    job.failure = std::move(answer.failure);
    if (!answer.store) return false;  // a failed request says nothing about the blog
    job.site.LastUpdate = std::move(answer.lastUpdate);
    StoreSiteLine(job, &TMWBlogListRec::LastUpdate, kRssStep);
    return false;
}

bool TMWRSSCheck::AfterHead(SiteJob& job, bool fresh, RequestPool& pool) {
    if (!NeedsFeedCheck(job.site)) return false;  // not changed since the last visit
    // A stop during the HEAD step ends the site here: the feed request would only be cut off.
    if (StopRequested()) return false;
    // A result stored just now also brought the line as it is now: no need to read it again.
    if (!fresh && !LoadSiteLine(job)) return false;
    return StartFeed(job, pool);
}

bool TMWRSSCheck::StartFeed(SiteJob& job, RequestPool& pool) {
    if (job.site.SiteURL.empty() || job.site.RSSURL.empty()) return false;
    pool.Add(static_cast<std::uint64_t>(job.run), RequestPool::Kind::Feed, job.site.RSSURL);
    return true;
}

bool TMWRSSCheck::LoadSiteLine(SiteJob& job) {
    const std::string& url = urls_[static_cast<size_t>(job.run)];
    bool found = false;
    const bool ran = bridge_->RunOnGui([&](CheckHost& host) {
        const TLightStrings& table = host.SiteTable();
        const int count = table.Count();
        if (count == 0) return;
        const int hint = std::clamp(job.run + shift_, 0, count - 1);
        const int pos = LocateSite(table, hint, url);
        if (pos < 0) return;
        job.index = pos;
        job.line = table.Get(pos);
        found = true;
    });
    if (!ran || !found) return false;
    shift_ = job.index - job.run;
    job.site = ReadSiteRecord(job.line);
    if (!job.loaded) {
        job.loaded = true;
        job.wasInVisitList = NeedsVisit(job.site);
    }
    return true;
}

bool TMWRSSCheck::StoreSiteLine(SiteJob& job, std::string TMWBlogListRec::*field, const char* step) {
    bool stored = false;
    bridge_->RunOnGui([&](CheckHost& host) {
        StoredResult r = StoreCheckResult(host.SiteTable(), job.index, job.site.SiteURL, job.site.RSSURL,
                                          field, job.site.*field);
        if (r.outcome == StoreOutcome::NotFound) return;  // deleted meanwhile: the result is dropped
        // From here on the site is decided as it is now (a changed feed URL dropped the result).
        job.index = r.index;
        job.site = std::move(r.site);
        if (r.outcome != StoreOutcome::Stored) return;
        job.line = std::move(r.line);
        stored = true;
        if (!step) return;
        std::string line = "[";
        line += FormatDateText(NowDateTime());
        line += "]:";
        line += step;
        line += job.site.SiteTitle;
        StatusText = std::move(line);
        host.SetStatusText(StatusText);
        // The category view follows in the same hand-off: one wait for the worker, not two. With
        // no category selected nothing is shown, and the table is updated all the same.
        host.ShowSiteChanged(job.index);
    });
    return stored;
}

void TMWRSSCheck::FinishRun() {
    // Clearing Checking, the status line and the finish callback form one step, so that once the
    // main window sees Checking false no step of this worker is pending or still to come.
    try {
        bridge_->RunOnGui([this](CheckHost& host) {
            host.CheckingFlag().store(false);
            StatusText.clear();
            try {
                host.SetStatusText(std::string());
            } catch (...) {
                // The finish step always runs to its end: Checking is already cleared.
            }
            if (OnFinish) {
                try {
                    OnFinish(this);
                } catch (...) {
                    // As above: the worker must reach its end whatever the window's finish does.
                }
            }
        });
    } catch (...) {
        // The window is gone or the application ends: there is nobody left to tell.
    }
}

}  // namespace hanabira
