// The check of all sites with many sites in flight: host limits, stalls, abort, edits during the
// run checked against a model of the table, and the strict walk's order with one connection.
// Several servers on 127.0.0.1 (one port each) stand for several hosts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "check/check_test_support.h"
#include "check/dates.h"
#include "check/rss_check.h"
#include "store/site_table.h"
#include "support/web_fetch.h"

namespace {

using namespace check_testing;
using hanabira::CheckBridge;
using hanabira::TMWBlogListRec;
using SteadyClock = std::chrono::steady_clock;

// A host whose path /k answers HEAD with site k's date and GET with its feed, each after a
// latency; it records how many requests it works on at once and when each one arrived.
class Host {
public:
    explicit Host(int latencyMs = 0) : latencyMs_(latencyMs) {
        server_.Get(R"(/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            const int k = std::stoi(req.matches[1].str());
            const bool head = req.method == "HEAD";
            {
                std::unique_lock<std::mutex> lock(m_);
                arrivals_.push_back(SteadyClock::now());
                ++(head ? heads_ : gets_)[k];
                maxActive_ = std::max(maxActive_, ++active_);
                if (held_.count(k)) {
                    waiting_.insert(k);
                    cv_.wait_for(lock, std::chrono::seconds(20), [&] { return !held_.count(k) || stopping_; });
                    waiting_.erase(k);
                }
            }
            server_.Pause(latencyMs_);
            {
                std::lock_guard<std::mutex> lock(m_);
                --active_;
            }
            if (head) {
                res.set_header("Last-Modified", SentHeadDate(k));
                res.status = 200;
                return;
            }
            res.set_content(Rss2(SentFeedDate(k)), "text/xml");
        });
        server_.Start();
    }
    ~Host() {
        {
            std::lock_guard<std::mutex> lock(m_);
            stopping_ = true;
        }
        cv_.notify_all();
    }
    std::string Url(int k) const { return server_.Url("/" + std::to_string(k)); }
    void Hold(int k) {
        std::lock_guard<std::mutex> lock(m_);
        held_.insert(k);
    }
    void Release(int k) {
        {
            std::lock_guard<std::mutex> lock(m_);
            held_.erase(k);
        }
        cv_.notify_all();
    }
    bool Waiting(int k) const {
        std::lock_guard<std::mutex> lock(m_);
        return waiting_.count(k) > 0;
    }
    int MaxActive() const {
        std::lock_guard<std::mutex> lock(m_);
        return maxActive_;
    }
    int Heads(int k) const { return Count(heads_, k); }
    int Gets(int k) const { return Count(gets_, k); }
    // How much earlier than requests spaced gapMs apart any arrival came, in ms (0 when none did).
    double MostEarlyMs(double gapMs) const {
        std::lock_guard<std::mutex> lock(m_);
        std::vector<SteadyClock::time_point> t = arrivals_;
        std::sort(t.begin(), t.end());
        double early = 0;
        for (size_t i = 0; i < t.size(); ++i)
            for (size_t j = i + 1; j < t.size(); ++j)
                early = std::max(early, gapMs * static_cast<double>(j - i) -
                                            std::chrono::duration<double, std::milli>(t[j] - t[i]).count());
        return early;
    }

private:
    int Count(const std::map<int, int>& m, int k) const {
        std::lock_guard<std::mutex> lock(m_);
        const auto it = m.find(k);
        return it == m.end() ? 0 : it->second;
    }
    int latencyMs_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool stopping_ = false;
    int active_ = 0, maxActive_ = 0;
    std::vector<SteadyClock::time_point> arrivals_;
    std::map<int, int> heads_, gets_;
    std::set<int> held_, waiting_;
    testing_support::HttpTestServer server_;  // last: stopped first
};

class ConcurrentCheckTest : public WorkerTestBase {
protected:

    static void ExpectCleanEnd(const WorkerRun& run, const FakeHost& host) {
        EXPECT_EQ(run.finishCalls, 1);
        EXPECT_FALSE(host.checking.load());
        ASSERT_FALSE(host.statuses.empty());
        EXPECT_EQ(host.statuses.back(), "");
        EXPECT_EQ(host.offThreadCalls, 0);
    }
    static std::string Url(int k) { return "http://site" + std::to_string(k) + "/"; }
};

std::vector<std::string> Steps(const std::vector<std::string>& statuses) {
    std::vector<std::string> steps;
    for (const std::string& s : statuses)
        if (s.size() > 22) steps.push_back(s.substr(22));  // without "[date time]:"
    return steps;
}

TEST_F(ConcurrentCheckTest, SixRequestsAtMostToAServerWithAGapBetweenStarts) {
    Host a(250), b(250);  // slow, so that the requests to one server overlap
    FakeHost host;
    constexpr int kPerHost = 16;
    for (int k = 0; k < 2 * kPerHost; ++k)  // the hosts' sites alternate in the table; visited once
        host.table.Add(SiteLine("t" + std::to_string(k), Url(k), (k % 2 ? b : a).Url(k), "2026/01/01 00:00:00"));
    CheckBridge bridge(&host);
    WorkerRun run(bridge, host, 100, 32);
    ASSERT_TRUE(run.Wait());
    ExpectCleanEnd(run, host);
    for (const Host* h : {&a, &b}) {
        EXPECT_EQ(h->MaxActive(), 6) << "a browser's share of one server, never more";
        // Arrivals are seen after the server's accept and read: two may land together when the
        // first was held up, but none comes earlier than the client's 20 ms spacing allows by
        // more than that jitter (40 ms, for sanitizers).
        EXPECT_LE(h->MostEarlyMs(20.0), 40.0) << "at most 50 starts a second to one server";
    }
    for (int k = 0; k < 2 * kPerHost; ++k) {
        const TMWBlogListRec r = SiteAt(host.table, k);
        EXPECT_EQ(r.HeadTime, StoredHeadDate(k)) << k;
        EXPECT_EQ(r.LastUpdate, StoredFeedDate(k)) << k;
        EXPECT_EQ((k % 2 ? b : a).Heads(k), 1) << k;
    }
}

TEST_F(ConcurrentCheckTest, AStalledSiteDoesNotHoldUpTheOthers) {
    Host slow, b, c;
    FakeHost host;
    slow.Hold(0);
    host.table.Add(SiteLine("stalled", Url(0), slow.Url(0)));
    for (int k = 1; k <= 20; ++k) host.table.Add(SiteLine("t", Url(k), (k % 2 ? b : c).Url(k)));
    CheckBridge bridge(&host);
    WorkerRun run(bridge, host, 0, 4);
    const auto othersDone = [&] {
        for (int k = 1; k <= 20; ++k)
            if (SiteAt(host.table, k).LastUpdate.empty()) return false;
        return true;
    };
    ASSERT_TRUE(SpinUntil(othersDone, 10000)) << "the other sites waited for the stalled one";
    EXPECT_TRUE(slow.Waiting(0));
    EXPECT_FALSE(run.freed);
    slow.Release(0);
    ASSERT_TRUE(run.Wait());
    ExpectCleanEnd(run, host);
    EXPECT_EQ(SiteAt(host.table, 0).LastUpdate, StoredFeedDate(0));
}

// Every site in flight is stalled (in its HEAD or in its feed) when the stop comes.
TEST_F(ConcurrentCheckTest, AbortEndsEveryTransferInFlightWithinASecond) {
    std::vector<std::unique_ptr<Host>> hosts;
    FakeHost host;
    const std::string oldDate = "2026/01/01 00:00:00";
    constexpr int kSites = 12;
    for (int k = 0; k < kSites; ++k) {
        hosts.push_back(std::make_unique<Host>());
        hosts.back()->Hold(k);
        host.table.Add(SiteLine("t", Url(k), hosts.back()->Url(k), "2025/12/01 00:00:00", oldDate, oldDate));
    }
    CheckBridge bridge(&host);
    WorkerRun run(bridge, host, 0, 8);
    const auto held = [&] {
        int n = 0;
        for (int k = 0; k < kSites; ++k) n += hosts[static_cast<size_t>(k)]->Waiting(k);
        return n;
    };
    ASSERT_TRUE(SpinUntil([&] { return held() == 8; }, 10000)) << "eight sites in flight";
    const auto abortAt = SteadyClock::now();
    run.worker->AbortCheck();
    ASSERT_TRUE(run.Wait({}, 10000));
    EXPECT_LT(SteadyClock::now() - abortAt, std::chrono::seconds(1));
    ExpectCleanEnd(run, host);
    for (int k = 0; k < kSites; ++k) {
        EXPECT_EQ(SiteAt(host.table, k).HeadTime, oldDate) << k;
        EXPECT_EQ(SiteAt(host.table, k).LastUpdate, oldDate) << k;
        EXPECT_EQ(hosts[static_cast<size_t>(k)]->Gets(k), 0) << k;
        if (k >= 8) {
            EXPECT_EQ(hosts[static_cast<size_t>(k)]->Heads(k), 0) << "no site starts after the stop";
        }
    }
    for (int k = 0; k < kSites; ++k) hosts[static_cast<size_t>(k)]->Release(k);
}

// Deletes, inserts, appends and edits (title, category, feed URL) at random moments of a run over
// three hosts, also in the middle of hand-off steps. The model says, for every site, which feeds
// it has had: each date in its line must be empty or come from one of them, and a site whose feed
// never changed must end with exactly its own dates.
TEST_F(ConcurrentCheckTest, RandomEditsDuringAConcurrentRunNeverReachTheWrongSite) {
    constexpr int kSites = 60;
    for (unsigned seed : {11u, 12u, 13u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        Host hosts[3] = {Host(2), Host(0), Host(4)};
        FakeHost host;
        struct ModelSite {
            std::string title, category;
            std::set<int> feeds;  // every feed the site has had
            int feed = 0;         // its feed now
        };
        std::map<std::string, ModelSite> model;
        const auto feedUrl = [&](int feed) { return hosts[feed % 3].Url(feed); };
        const auto add = [&](int at, int k, bool append) {
            // Visited long ago: both steps run.
            const std::string line = SiteLine("t" + std::to_string(k), Url(k), feedUrl(k), "2026/01/01 00:00:00");
            if (append)
                host.table.Add(line);
            else
                host.table.Insert(at, line);
            model[Url(k)] = ModelSite{"t" + std::to_string(k), "", {k}, k};
        };
        for (int k = 0; k < kSites; ++k) add(0, k, true);
        int next = 1000, ops = 0;
        const auto mutate = [&] {
            if (host.table.Count() == 0 || rng() % 3 != 0) return;
            ++ops;
            const int at = static_cast<int>(rng() % static_cast<unsigned>(host.table.Count()));
            TMWBlogListRec r = SiteAt(host.table, at);
            ModelSite& m = model[r.SiteURL];
            switch (rng() % 8) {
                case 0:
                    if (host.table.Count() > kSites / 2) {
                        model.erase(r.SiteURL);
                        host.table.Delete(at);
                    }
                    break;
                case 1:
                    add(at, next++, false);
                    break;
                case 2:
                    add(0, next++, true);
                    break;
                case 3: {
                    const int feed = 2000 + static_cast<int>(rng() % 1000);  // a feed of its own
                    r.RSSURL = feedUrl(feed);
                    m.feeds.insert(feed);
                    m.feed = feed;
                    host.table.Put(at, hanabira::WriteSiteRecord(r));
                    break;
                }
                default:
                    r.SiteTitle = "edited " + std::to_string(rng() % 100000);
                    r.Category = "c" + std::to_string(rng() % 5);
                    m.title = r.SiteTitle;
                    m.category = r.Category;
                    host.table.Put(at, hanabira::WriteSiteRecord(r));
            }
        };
        host.onShow = mutate;
        CheckBridge bridge(&host);
        WorkerRun run(bridge, host, 0, 16);
        ASSERT_TRUE(run.Wait(mutate));
        ExpectCleanEnd(run, host);
        EXPECT_GE(ops, 200) << "the run gave too little room for edits";

        ASSERT_EQ(host.table.Count(), static_cast<int>(model.size()));
        const auto headFrom = [](const std::set<int>& feeds, const std::string& v) {
            if (v.empty()) return true;
            for (int f : feeds)
                if (v == StoredHeadDate(f)) return true;
            return false;
        };
        const auto feedFrom = [](const std::set<int>& feeds, const std::string& v) {
            if (v.empty()) return true;
            for (int f : feeds)
                if (v == StoredFeedDate(f)) return true;
            return false;
        };
        for (int i = 0; i < host.table.Count(); ++i) {
            const TMWBlogListRec r = SiteAt(host.table, i);
            SCOPED_TRACE(r.SiteURL);
            const auto it = model.find(r.SiteURL);
            ASSERT_NE(it, model.end());
            const ModelSite& m = it->second;
            EXPECT_EQ(r.SiteTitle, m.title);
            EXPECT_EQ(r.Category, m.category);
            EXPECT_EQ(r.RSSURL, feedUrl(m.feed));
            const int k = std::stoi(r.SiteURL.substr(11));
            if (k >= 1000) {  // added during the run: not visited
                EXPECT_EQ(r.HeadTime, "");
                EXPECT_EQ(r.LastUpdate, "");
            } else if (m.feeds.size() == 1) {
                EXPECT_EQ(r.HeadTime, StoredHeadDate(k));
                EXPECT_EQ(r.LastUpdate, StoredFeedDate(k));
            } else {
                EXPECT_TRUE(headFrom(m.feeds, r.HeadTime)) << r.HeadTime;
                EXPECT_TRUE(feedFrom(m.feeds, r.LastUpdate)) << r.LastUpdate;
            }
        }
    }
}

// Sites of every kind spread over three hosts: one connection walks them in table order, step for
// step; sixteen connections store the same lines with the same steps, in some order.
TEST_F(ConcurrentCheckTest, OneConnectionIsTheStrictWalkAndManyStoreTheSame) {
    Host hosts[3] = {Host(3), Host(0), Host(1)};
    const std::string older = "2026/10/01 00:00:00";
    struct Kind {
        std::string lastVisit, headTime, headCheck;
        bool feedUrl, siteUrl;
        std::vector<std::string> steps;  // before the title
    };
    const std::vector<Kind> kinds = {
        {"", "", "", true, true, {"CheckRSS... "}},                                     // never visited: no HEAD
        {"2026/01/01 00:00:00", "", "", true, true, {"CheckHEAD... ", "CheckRSS... "}}, // visited before the HEAD date
        {"2026/12/01 00:00:00", "", "", true, true, {"CheckHEAD... "}},                 // visited after HEAD
        {"2026/06/01 00:00:00", "2026/01/01 00:00:00", "Skip", true, true, {"CheckRSS... "}},  // Skip
        {"", "", "", false, true, {}},                                                 // no feed URL
        {"", "", "", true, false, {}},                                                 // no site URL
    };
    constexpr int kSites = 30;
    const auto fill = [&](FakeHost& host, std::vector<std::string>& want) {
        for (int k = 0; k < kSites; ++k) {
            const Kind& kind = kinds[static_cast<size_t>(k) % kinds.size()];
            const std::string title = "t" + std::to_string(k);
            host.table.Add(SiteLine(title, kind.siteUrl ? Url(k) : "", kind.feedUrl ? hosts[k % 3].Url(k) : "",
                                    kind.lastVisit, kind.headTime, older, kind.headCheck));
            for (const std::string& s : kind.steps) want.push_back(s + title);
        }
    };
    FakeHost strict, concurrent;
    std::vector<std::string> want, unused;
    fill(strict, want);
    fill(concurrent, unused);
    {
        CheckBridge bridge(&strict);
        WorkerRun run(bridge, strict, 0, 1);
        ASSERT_TRUE(run.Wait());
        ExpectCleanEnd(run, strict);
    }
    EXPECT_EQ(Steps(strict.statuses), want) << "one connection: the sites in table order, step for step";
    {
        CheckBridge bridge(&concurrent);
        WorkerRun run(bridge, concurrent, 0, 16);
        ASSERT_TRUE(run.Wait());
        ExpectCleanEnd(run, concurrent);
    }
    std::vector<std::string> got = Steps(concurrent.statuses);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(concurrent.table.GetText(), strict.table.GetText());
    for (int k = 0; k < kSites; ++k) {
        EXPECT_EQ(hosts[k % 3].Heads(k), k % 6 == 1 || k % 6 == 2 ? 2 : 0) << k;  // once in each run
    }
}

TEST(CheckConnectionsSetting, ReadsTheSettingsText) {
    const struct {
        const char* text;
        int want;
    } cases[] = {
        {"", 48}, {"abc", 48}, {"0", 48}, {"-4", 48}, {"8x", 48}, {"1", 1},
        {"8", 8}, {" 24 ", 24}, {"64", 64}, {"65", 64}, {"99999999999", 48},
        {"16", 48},  // what every earlier version wrote: today's default
        {"15", 15}, {"17", 17},
    };
    for (const auto& c : cases) EXPECT_EQ(hanabira::CheckConnectionsFromText(c.text), c.want) << c.text;
}

}  // namespace
