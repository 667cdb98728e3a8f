#include "check/rss_check.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "check/dates.h"
#include "store/site_table.h"
#include "support/encoding.h"
#include "support/web_fetch.h"

namespace hanabira {

// ---- CheckBridge ----

CheckBridge::CheckBridge(CheckHost* host) : host_(host) {}

void CheckBridge::Detach() {
    attached_.store(false);
    host_ = nullptr;
}

bool CheckBridge::Attached() const { return attached_.load(); }

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
}  // namespace

TMWRSSCheck::TMWRSSCheck(CheckBridge* bridge, int delayMs, std::function<void(TMWRSSCheck*)> onFinish)
    : Delay(delayMs), OnFinish(std::move(onFinish)), bridge_(bridge) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    // The run covers the sites there are when it is started: sites added later are not visited.
    try {
        bridge_->RunOnGui([this](CheckHost& host) {
            host.CheckingFlag().store(true);
            TakeSnapshot(host.SiteTable());
        });
    } catch (...) {
        urls_.clear();
    }
    start();
}

void TMWRSSCheck::AbortCheck() {
    requestInterruption();
    Aborted.store(true);
}

bool TMWRSSCheck::StopRequested() const {
    return isInterruptionRequested() || QCoreApplication::closingDown() || Aborted.load() ||
           !bridge_->Attached();
}

void TMWRSSCheck::Execute() {
    // Checking was set and the sites counted when the worker was created. Nothing may escape a
    // thread's run method, and every path must reach the finish: each step is guarded.
    const int n = static_cast<int>(urls_.size());
    for (int i = 0; i < n; ++i) {
        try {
            CheckSite(i);
        } catch (...) {
            // A failure of one site (a host callback throwing, memory) passes the site over.
        }
        if (Delay > 0) QThread::msleep(static_cast<unsigned long>(Delay));
        if (StopRequested()) break;
    }
    FinishRun();
    // Nothing here may touch the bridge any more: after the last hand-off the main window is free
    // to delete it.
}

void TMWRSSCheck::TakeSnapshot(const TLightStrings& table) {
    const int count = table.Count();
    urls_.clear();
    urls_.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) urls_.emplace_back(SiteURLOfLine(table.Get(i)));
}

void TMWRSSCheck::CheckSite(int i) {
    // A line without a URL is passed over: neither step would do anything for it.
    if (urls_[static_cast<size_t>(i)].empty()) return;
    if (!LoadSiteLine(i)) return;  // deleted meanwhile, or the bridge is detached
    // A HEAD result stored just now also brought the line as it is now: no need to read it again.
    const bool fresh = CheckHead();
    const TDateTime lv = DateValue(Site.LastVisit);
    const TDateTime ht = DateValue(Site.HeadTime);
    if (lv != 0 && ht != 0 && lv > ht) return;  // not changed since the last visit
    // A stop during the HEAD step ends the site here: the feed request would only be cut off.
    if (StopRequested()) return;
    if (!fresh && !LoadSiteLine(i)) return;
    CheckRss();
}

bool TMWRSSCheck::LoadSiteLine(int i) {
    const std::string& url = urls_[static_cast<size_t>(i)];
    bool found = false;
    const bool ran = bridge_->RunOnGui([&](CheckHost& host) {
        const TLightStrings& table = host.SiteTable();
        const int count = table.Count();
        if (count == 0) return;
        const int hint = std::clamp(i + shift_, 0, count - 1);
        const int pos = LocateSite(table, hint, url);
        if (pos < 0) return;
        SiteIndex = pos;
        SiteLine = table.Get(pos);
        found = true;
    });
    if (!ran || !found) return false;
    shift_ = SiteIndex - i;
    Site = ReadSiteRecord(SiteLine);
    return true;
}

bool TMWRSSCheck::StoreSiteLine(CheckField field, bool showStep) {
    bool stored = false;
    bridge_->RunOnGui([&](CheckHost& host) {
        TLightStrings& table = host.SiteTable();
        const int count = table.Count();
        if (count == 0) return;
        const int pos = LocateSite(table, std::clamp(SiteIndex, 0, count - 1), Site.SiteURL);
        if (pos < 0) return;  // the site was deleted meanwhile: its result is dropped
        // Only the field this step owns goes into the line as it is now, so an edit the user made
        // during the request survives. A changed feed URL makes the result stale: dropped too.
        TMWBlogListRec current = ReadSiteRecord(table.Get(pos));
        SiteIndex = pos;
        if (current.RSSURL != Site.RSSURL) {
            Site = std::move(current);  // decide on the site as it is now
            return;
        }
        if (field == CheckField::HeadTime)
            current.HeadTime = Site.HeadTime;
        else
            current.LastUpdate = Site.LastUpdate;
        SiteLine = WriteSiteRecord(current);
        table.Put(pos, SiteLine);
        Site = std::move(current);
        stored = true;
        if (!showStep) return;
        std::string line = "[";
        line += FormatDateText(NowDateTime());
        line += "]:";
        line += StatusText;
        line += Site.SiteTitle;
        StatusText = std::move(line);
        host.SetStatusText(StatusText);
        // The category view follows in the same hand-off: one wait for the worker, not two.
        try {
            host.ShowSiteChanged(pos);
        } catch (...) {
            // No category selected: the table is updated all the same.
        }
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
            }
            if (OnFinish) {
                try {
                    OnFinish(this);
                } catch (...) {
                }
            }
        });
    } catch (...) {
    }
}

bool TMWRSSCheck::CheckHead() {
    if (Site.SiteURL.empty()) return false;
    if (!Site.HeadCheck.empty()) {
        // A "Skip" site is decided on its feed alone. A stored HEAD date is then stale (it may
        // date from before the site was marked) and would keep the site off the visit list, so it
        // is emptied too, silently.
        bool stored = false;
        if (!Site.HeadTime.empty()) {
            Site.HeadTime.clear();
            stored = StoreSiteLine(CheckField::HeadTime, false);
            Site.HeadTime.clear();
        }
        return stored;
    }
    if (Site.RSSURL.empty()) return false;  // a request to no address fails: nothing stored
    std::string answer;
    // Failed: decided on the stored date. Stopped: nothing learnt, nothing stored.
    if (HeadCheck(Site.RSSURL, answer, Control()) != RequestResult::Ok) return false;
    Site.HeadTime = HeadDateFromResponse(answer);
    StatusText = kHeadStep;
    return StoreSiteLine(CheckField::HeadTime, true);
}

void TMWRSSCheck::CheckRss() {
    if (Site.SiteURL.empty() || Site.RSSURL.empty()) return;
    std::string raw;
    // A fetch cut short by a stop says nothing about the feed (even the part read may lack the
    // newest item): the site keeps the date it had, rather than an empty or older one.
    if (FetchFeedText(Site.RSSURL, raw) == RequestResult::Aborted) return;
    try {
        Site.LastUpdate = FeedDateFromText(DecodeFeedText(raw));
    } catch (const std::exception&) {
        // A feed that cannot be decoded holds no date we can read: as a failed fetch.
        Site.LastUpdate.clear();
    }
    StatusText = kRssStep;
    StoreSiteLine(CheckField::LastUpdate, true);
}

RequestControl TMWRSSCheck::Control() const {
    RequestControl control;
    control.abort = [this] { return StopRequested(); };
    return control;
}

RequestResult TMWRSSCheck::FetchFeedText(const std::string& url, std::string& text) {
    return FetchFeed(url, text, Control());
}

}  // namespace hanabira
