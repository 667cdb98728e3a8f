#pragma once
// Shared by the update-check tests: a feed server whose sites answer chosen HEAD dates and feeds,
// a main-window stand-in for the worker, and event-loop spinning on the test (GUI) thread.
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "check/rss_check.h"
#include "http_test_server.h"
#include "store/light_strings.h"
#include "support/web_fetch.h"
#include "store/site_record.h"

namespace check_testing {

// The worker's hand-offs need an application object on this thread; core_tests has no main of
// its own, so it is made on first use and kept.
inline QCoreApplication& App() {
    if (QCoreApplication* app = QCoreApplication::instance()) return *app;
    static int argc = 1;
    static char name[] = "core_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// Processes this thread's events until done() holds; false when limitMs passed first.
// The worker tests: an application object, and short request limits for the dead servers they
// serve (the limits the process had come back afterwards).
class WorkerTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        saved_ = hanabira::CurrentFetchLimits();
        auto& limits = hanabira::CurrentFetchLimits();
        limits.connectTimeoutSec = 2;
        limits.lowSpeedTimeSec = 5;
        limits.totalTimeoutSec = 15;
    }
    void TearDown() override { hanabira::CurrentFetchLimits() = saved_; }

private:
    hanabira::FetchLimits saved_;
};

inline bool SpinUntil(const std::function<bool()>& done, int limitMs = 20000,
                      const std::function<void()>& eachRound = {}) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (eachRound) eachRound();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// How a site's server answers. HEAD and GET of the same path are answered separately.
struct SiteAnswer {
    int headStatus = 200;
    std::string lastModified;  // empty: no Last-Modified header
    std::string location;      // Location of a 3xx answer
    int getStatus = 200;
    std::string feed;
    bool holdHead = false;     // the HEAD answer waits until Release(path)
    int headDelayMs = 0;
    size_t stallAfter = 0;     // > 0: send this many feed bytes, then stall until released
};

class FeedServer {
public:
    FeedServer() {
        server_ = std::make_unique<testing_support::HttpTestServer>();
        server_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); });
        server_->Start();
    }
    ~FeedServer() {
        {
            std::lock_guard<std::mutex> lock(m_);
            releaseAll_ = true;
        }
        cv_.notify_all();
        server_.reset();
    }

    void Set(const std::string& path, SiteAnswer answer) {
        std::lock_guard<std::mutex> lock(m_);
        answers_[path] = std::move(answer);
    }
    std::string Url(const std::string& path) const { return server_->Url(path); }
    int Heads(const std::string& path) const { return Count(heads_, path); }
    int Gets(const std::string& path) const { return Count(gets_, path); }
    int TotalRequests() const {
        std::lock_guard<std::mutex> lock(m_);
        int n = 0;
        for (const auto& [path, count] : heads_) n += count;
        for (const auto& [path, count] : gets_) n += count;
        return n;
    }
    bool Held(const std::string& path) const {
        std::lock_guard<std::mutex> lock(m_);
        return held_.count(path) > 0;
    }
    bool Stalled(const std::string& path) const {
        std::lock_guard<std::mutex> lock(m_);
        return stalled_.count(path) > 0;
    }
    void Release(const std::string& path) {
        {
            std::lock_guard<std::mutex> lock(m_);
            released_.insert(path);
        }
        cv_.notify_all();
    }

private:
    int Count(const std::map<std::string, int>& counts, const std::string& path) const {
        std::lock_guard<std::mutex> lock(m_);
        const auto it = counts.find(path);
        return it == counts.end() ? 0 : it->second;
    }
    // Waits until path is released or the server goes away (at most 20 s).
    void WaitForRelease(std::unique_lock<std::mutex>& lock, const std::string& path) {
        cv_.wait_for(lock, std::chrono::seconds(20), [&] { return releaseAll_ || released_.count(path) > 0; });
    }

    void Answer(const httplib::Request& req, httplib::Response& res) {
        const bool head = req.method == "HEAD";
        SiteAnswer a;
        {
            std::unique_lock<std::mutex> lock(m_);
            ++(head ? heads_ : gets_)[req.path];
            const auto it = answers_.find(req.path);
            if (it == answers_.end()) {
                res.status = 404;
                return;
            }
            a = it->second;
            if (head && a.holdHead) {
                held_.insert(req.path);
                WaitForRelease(lock, req.path);
            }
        }
        if (head) {
            if (a.headDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a.headDelayMs));
            res.status = a.headStatus;
            if (!a.lastModified.empty()) res.set_header("Last-Modified", a.lastModified);
            if (!a.location.empty()) res.set_header("Location", a.location);
            return;
        }
        res.status = a.getStatus;
        if (!a.location.empty()) res.set_header("Location", a.location);
        if (a.stallAfter == 0) {
            res.set_content(a.feed, "text/xml");
            return;
        }
        const std::string path = req.path;
        res.set_chunked_content_provider("text/xml", [this, a, path](size_t, httplib::DataSink& sink) {
            sink.write(a.feed.data(), std::min(a.stallAfter, a.feed.size()));
            std::unique_lock<std::mutex> lock(m_);
            stalled_.insert(path);
            WaitForRelease(lock, path);
            return false;  // the rest never comes: the connection is dropped
        });
    }

    mutable std::mutex m_;
    std::condition_variable cv_;
    bool releaseAll_ = false;
    std::map<std::string, SiteAnswer> answers_;
    std::map<std::string, int> heads_, gets_;
    std::set<std::string> held_, released_, stalled_;
    std::unique_ptr<testing_support::HttpTestServer> server_;  // last: stopped first
};

// The main window as the worker sees it; records what the worker did to it.
class FakeHost : public hanabira::CheckHost {
public:
    hanabira::TLightStrings table{'\t'};
    std::vector<std::string> statuses;
    int showCalls = 0;
    bool noCategory = false;  // as a window with no category selected
    int offThreadCalls = 0;  // calls not made on the GUI thread: must stay 0
    std::atomic<bool> checking{false};
    std::function<void()> onShow;  // runs inside ShowSelectedCategory

    hanabira::TLightStrings& SiteTable() override {
        NoteThread();
        return table;
    }
    void SetStatusText(const std::string& text) override {
        NoteThread();
        statuses.push_back(text);
    }
    bool ShowSelectedCategory() override {
        NoteThread();
        ++showCalls;
        if (onShow) onShow();
        return !noCategory;
    }
    std::atomic<bool>& CheckingFlag() override {
        NoteThread();
        return checking;
    }
    std::vector<hanabira::SiteCheckOutcome> outcomes;
    std::vector<hanabira::CheckProgress> progress;
    void SiteCheckEnded(const hanabira::SiteCheckOutcome& outcome, const hanabira::CheckProgress& p) override {
        NoteThread();
        outcomes.push_back(outcome);
        progress.push_back(p);
    }

private:
    void NoteThread() {
        if (QThread::currentThread() != App().thread()) ++offThreadCalls;
    }
};

// One worker run over a host, followed until the worker has freed itself.
class WorkerRun {
public:
    // connections 1 is the strict walk, whose order of steps the tests can predict.
    WorkerRun(hanabira::CheckBridge& bridge, FakeHost& host, int delayMs = 0, int connections = 1) : host_(host) {
        worker = new hanabira::TMWRSSCheck(
            &bridge, delayMs,
            [this](hanabira::TMWRSSCheck* sender) {
                ++finishCalls;
                senderWasWorker = sender == worker;
                checkingAtFinish = host_.checking.load();
                onGuiThreadAtFinish = QThread::currentThread() == App().thread();
            },
            connections);
        checkingAfterStart = host_.checking.load();
        QObject::connect(worker, &QObject::destroyed, [this] { freed = true; });
    }
    // Spins until the worker is gone; eachRound runs between event rounds (GUI-thread work).
    bool Wait(const std::function<void()>& eachRound = {}, int limitMs = 20000) {
        return SpinUntil([this] { return freed; }, limitMs, eachRound);
    }

    hanabira::TMWRSSCheck* worker = nullptr;  // valid while !freed
    bool freed = false;
    int finishCalls = 0;
    bool senderWasWorker = false;
    bool checkingAfterStart = false;
    bool checkingAtFinish = true;
    bool onGuiThreadAtFinish = false;

private:
    FakeHost& host_;
};

// ---- site lines and dates ----

// A site visited once, long before any date the servers send (so that both steps run for it), unless
// lastVisit says otherwise; "" is a site never visited, whose feed is read without a HEAD request.
inline constexpr const char* kVisitedLongAgo = "2026/01/01 00:00:00";
inline std::string SiteLine(const std::string& title, const std::string& url, const std::string& rssUrl,
                            const std::string& lastVisit = kVisitedLongAgo, const std::string& headTime = "",
                            const std::string& lastUpdate = "", const std::string& headCheck = "") {
    hanabira::TMWBlogListRec r;
    r.SiteTitle = title;
    r.SiteURL = url;
    r.RSSURL = rssUrl;
    r.LastVisit = lastVisit;
    r.HeadTime = headTime;
    r.LastUpdate = lastUpdate;
    r.HeadCheck = headCheck;
    r.Registered = "2026/01/01 00:00:00";
    return hanabira::WriteSiteRecord(r);
}

inline hanabira::TMWBlogListRec SiteAt(const hanabira::TLightStrings& table, int i) {
    return hanabira::ReadSiteRecord(table.Get(i));
}

inline std::string Rss2(const std::string& pubDate) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>t</title>\n"
           "<item><title>a</title><pubDate>" + pubDate + "</pubDate></item>\n</channel></rss>\n";
}

// RSS 1.0: the channel's own date stands before </channel> and must not be taken.
inline std::string Rss1(const std::string& channelDate, const std::string& itemDate) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rdf:RDF><channel><title>t</title><dc:date>" +
           channelDate + "</dc:date></channel>\n<item><title>a</title><dc:date>" + itemDate +
           "</dc:date></item>\n</rdf:RDF>\n";
}

// Dates unique to site k (k < 3600): its HEAD answer and its feed date, as sent and as stored.
inline std::string Clock(int k) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d", (k / 60) % 60, k % 60);
    return buf;
}
inline std::string SentHeadDate(int k) { return "Sun, 01 Nov 2026 00:" + Clock(k) + " GMT"; }
inline std::string StoredHeadDate(int k) { return "2026/11/01 09:" + Clock(k); }
inline std::string SentFeedDate(int k) { return "Mon, 02 Nov 2026 00:" + Clock(k) + " +0900"; }
inline std::string StoredFeedDate(int k) { return "2026/11/02 00:" + Clock(k); }

}  // namespace check_testing
