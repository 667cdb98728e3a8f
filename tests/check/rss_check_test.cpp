// The background check of all sites, against feed servers on 127.0.0.1. The test thread plays the
// GUI thread: it spins the event loop so the worker's hand-off steps run, and edits the table
// between them as the main window would.
#include "check/rss_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>

#include "check/check_test_support.h"
#include "check/dates.h"
#include "store/site_table.h"
#include "support/web_fetch.h"
#include "test_support.h"

namespace {

using namespace check_testing;
using hanabira::CheckBridge;
using hanabira::TMWBlogListRec;
using testing_support::S;

class RssCheckTest : public WorkerTestBase {
protected:

    // Runs a whole check and asserts what every run must end with.
    void RunToEnd(FakeHost& host, const std::function<void()>& eachRound = {}) {
        CheckBridge bridge(&host);
        WorkerRun run(bridge, host);
        EXPECT_TRUE(run.checkingAfterStart) << "Checking must be set before the thread runs";
        ASSERT_TRUE(run.Wait(eachRound)) << "the run did not end";
        ExpectCleanEnd(run, host);
    }
    static void ExpectCleanEnd(const WorkerRun& run, const FakeHost& host) {
        EXPECT_EQ(run.finishCalls, 1);
        EXPECT_TRUE(run.senderWasWorker);
        EXPECT_TRUE(run.onGuiThreadAtFinish);
        EXPECT_FALSE(run.checkingAtFinish) << "Checking is cleared before the finish callback";
        EXPECT_FALSE(host.checking.load());
        ASSERT_FALSE(host.statuses.empty());
        EXPECT_EQ(host.statuses.back(), "") << "the status line is cleared at the end";
        EXPECT_EQ(host.offThreadCalls, 0) << "the host was touched off the GUI thread";
    }

    FeedServer server;
};

// The status lines without their time stamps; each stamp must be a date text within the run.
std::vector<std::string> StepTexts(const std::vector<std::string>& statuses, hanabira::TDateTime from,
                                   hanabira::TDateTime to) {
    std::vector<std::string> steps;
    for (const std::string& s : statuses) {
        if (s.empty()) continue;
        // "[" + a date text of 19 characters + "]:"
        const std::string stamp = s.size() > 21 ? s.substr(1, 19) : std::string();
        if (s[0] != '[' || stamp.empty() || s.compare(20, 2, "]:") != 0 ||
            hanabira::FormatDateText(hanabira::DateValue(stamp)) != stamp) {
            ADD_FAILURE() << "status line without time stamp: " << s;
            continue;
        }
        const double t = hanabira::DateValue(stamp);
        EXPECT_GE(t, from - 1.5 / 86400) << s;
        EXPECT_LE(t, to + 1.5 / 86400) << s;
        steps.push_back(s.substr(22));
    }
    return steps;
}

struct EdgeCase {
    const char* name;
    SiteAnswer answer;
    std::string lastVisit, headTime, lastUpdate, headCheck;
    enum { Served, NoFeedUrl, NoSiteUrl, Refused } feed = Served;
    std::string wantHeadTime, wantLastUpdate;
    int wantHeads, wantGets;
    bool wantHeadStatus, wantRssStatus;
};

SiteAnswer Head(const std::string& lastModified, const std::string& feed, int status = 200) {
    SiteAnswer a;
    a.lastModified = lastModified;
    a.feed = feed;
    a.headStatus = status;
    return a;
}

TEST_F(RssCheckTest, EveryEdgeCaseOfTheDecisionInOneRun) {
    const std::string older = "2026/10/01 00:00:00";
    SiteAnswer redirect = Head("", "", 301);
    redirect.getStatus = 301;
    redirect.location = server.Url("/moved");
    server.Set("/moved", Head("", Rss2(SentFeedDate(10))));

    const std::vector<EdgeCase> cases = {
        {"visit later than HEAD date: no feed check", Head(SentHeadDate(1), Rss2(SentFeedDate(1))),
         "2026/11/01 09:00:02", "", older, "", EdgeCase::Served, StoredHeadDate(1), older, 1, 0, true, false},
        {"visit equal to HEAD date: feed check", Head(SentHeadDate(2), Rss2(SentFeedDate(2))),
         StoredHeadDate(2), "", older, "", EdgeCase::Served, StoredHeadDate(2), StoredFeedDate(2), 1, 1, true, true},
        {"visit earlier than HEAD date", Head(SentHeadDate(3), Rss2(SentFeedDate(3))), "2026/11/01 09:00:02", "",
         older, "", EdgeCase::Served, StoredHeadDate(3), StoredFeedDate(3), 1, 1, true, true},
        {"never visited: no HEAD, its HEAD date kept, feed checked", Head(SentHeadDate(4), Rss2(SentFeedDate(4))),
         "", "2026/12/01 00:00:00", older, "", EdgeCase::Served, "2026/12/01 00:00:00", StoredFeedDate(4), 0, 1,
         false, true},
        {"Last-Modified that does not read", Head("Monday, 07-Dec-26 03:16:43 GMT", Rss2(SentFeedDate(5))),
         "2026/11/30 00:00:00", "2026/01/01 00:00:00", older, "", EdgeCase::Served, "", StoredFeedDate(5), 1, 1,
         true, true},
        {"no Last-Modified header", Head("", Rss2(SentFeedDate(6))), "2026/11/30 00:00:00", "", older, "",
         EdgeCase::Served, "", StoredFeedDate(6), 1, 1, true, true},
        {"Skip: no HEAD request, stored HEAD date emptied, feed checked",
         Head(SentHeadDate(7), Rss2(SentFeedDate(7))), "2026/06/01 00:00:00", "2026/01/01 00:00:00", older,
         "Skip", EdgeCase::Served, "", StoredFeedDate(7), 0, 1, false, true},
        {"failed HEAD decided on the stored date", Head(SentHeadDate(8), Rss2(SentFeedDate(8)), 404),
         "2026/06/01 00:00:00", "2026/01/01 00:00:00", older, "", EdgeCase::Served, "2026/01/01 00:00:00", older,
         1, 0, false, false},
        {"failed HEAD without stored date: feed checked", Head(SentHeadDate(9), Rss2(SentFeedDate(9)), 500),
         "2026/06/01 00:00:00", "", older, "", EdgeCase::Served, "", StoredFeedDate(9), 1, 1, false, true},
        {"HEAD redirect fails, the feed fetch follows it", redirect, "2026/06/01 00:00:00", "", older, "",
         EdgeCase::Served, "",
         StoredFeedDate(10), 1, 1, false, true},
        {"empty feed URL: nothing at all", Head(SentHeadDate(11), Rss2(SentFeedDate(11))), "", "", older, "",
         EdgeCase::NoFeedUrl, "", older, 0, 0, false, false},
        {"empty site URL: passed over", Head(SentHeadDate(12), Rss2(SentFeedDate(12))), "", "", older, "",
         EdgeCase::NoSiteUrl, "", older, 0, 0, false, false},
        // A failed request says nothing about the blog: its date stays, and no step line is shown.
        {"refused feed: LastUpdate kept", {}, "", "", older, "", EdgeCase::Refused, "", older, 0, 0, false, false},
        {"RSS 1.0: the item date, not the channel's",
         Head("", Rss1("2026-11-05T00:00:00+09:00", "2026-11-03T08:30:00+09:00")), "2026/06/01 00:00:00", "",
         older, "",
         EdgeCase::Served, "", "2026/11/03 08:30:00", 1, 1, true, true},
        {"unreadable stored HEAD date counts as none", Head("", Rss2(SentFeedDate(15)), 404),
         "2026/06/01 00:00:00", "not a date", older, "", EdgeCase::Served, "not a date", StoredFeedDate(15), 1,
         1, false, true},
    };

    FakeHost host;
    std::vector<std::string> paths, wantSteps;
    const std::string refused = "http://127.0.0.1:" + std::to_string(testing_support::HttpTestServer::UnusedPort());
    for (size_t i = 0; i < cases.size(); ++i) {
        const EdgeCase& c = cases[i];
        const std::string path = "/site" + std::to_string(i) + "/feed";
        const std::string title = i == 3 ? S("日本語のサイト") : "site " + std::to_string(i);
        server.Set(path, c.answer);
        paths.push_back(path);
        const std::string siteUrl = c.feed == EdgeCase::NoSiteUrl ? "" : "http://site" + std::to_string(i) + "/";
        const std::string rssUrl = c.feed == EdgeCase::NoFeedUrl ? ""
                                   : c.feed == EdgeCase::Refused ? refused + path
                                                                 : server.Url(path);
        host.table.Add(SiteLine(title, siteUrl, rssUrl, c.lastVisit, c.headTime, c.lastUpdate, c.headCheck));
        if (c.wantHeadStatus) wantSteps.push_back("CheckHEAD... " + title);
        if (c.wantRssStatus) wantSteps.push_back("CheckRSS... " + title);
    }

    const double from = hanabira::NowDateTime();
    RunToEnd(host);
    const double to = hanabira::NowDateTime();

    ASSERT_EQ(host.table.Count(), static_cast<int>(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        const EdgeCase& c = cases[i];
        SCOPED_TRACE(c.name);
        const TMWBlogListRec rec = SiteAt(host.table, static_cast<int>(i));
        EXPECT_EQ(rec.HeadTime, c.wantHeadTime);
        EXPECT_EQ(rec.LastUpdate, c.wantLastUpdate);
        EXPECT_EQ(rec.LastVisit, c.lastVisit) << "the check never writes the visit";
        EXPECT_EQ(server.Heads(paths[i]), c.wantHeads);
        EXPECT_EQ(server.Gets(paths[i]), c.wantGets);
    }
    EXPECT_EQ(StepTexts(host.statuses, from, to), wantSteps);
    EXPECT_EQ(host.showCalls, static_cast<int>(wantSteps.size())) << "one category refresh per stored step";
}

TEST_F(RssCheckTest, NoCategorySelectedStillStoresEveryStep) {
    FakeHost host;
    host.noCategory = true;
    for (int k = 0; k < 3; ++k) {
        const std::string path = "/f" + std::to_string(k);
        server.Set(path, Head(SentHeadDate(k), Rss2(SentFeedDate(k))));
        host.table.Add(SiteLine("t", "http://s" + std::to_string(k) + "/", server.Url(path)));
    }
    RunToEnd(host);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(SiteAt(host.table, k).HeadTime, StoredHeadDate(k));
        EXPECT_EQ(SiteAt(host.table, k).LastUpdate, StoredFeedDate(k));
    }
    EXPECT_EQ(host.showCalls, 6);
}

TEST_F(RssCheckTest, EmptyTableEndsAtOnce) {
    FakeHost host;
    RunToEnd(host);
    EXPECT_EQ(host.statuses, std::vector<std::string>{""});
    EXPECT_EQ(host.showCalls, 0);
}

// A stop in the middle of a site's request ends the run within a second and stores nothing for
// that site: it keeps the dates it had (a cut-off feed may lack its newest item, and a stopped
// request says nothing about the site).
TEST_F(RssCheckTest, AbortKeepsTheDatesTheSiteHad) {
    const std::string oldHead = "2026/01/01 00:00:00", oldUpdate = "2026/01/02 00:00:00";
    struct Case {
        const char* name;
        bool duringHead;
        std::vector<std::string> steps;
    };
    const std::vector<Case> cases = {
        {"stop while the HEAD waits", true, {"CheckHEAD... t0", "CheckRSS... t0"}},
        {"stop while the feed stalls after its first item", false,
         {"CheckHEAD... t0", "CheckRSS... t0", "CheckHEAD... t1"}},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = "/r" + std::to_string(round++) + "-";
        FakeHost host;
        const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss><channel>\n<item><pubDate>" +
                                 SentFeedDate(21) + "</pubDate></item>\n";
        SiteAnswer stopped = Head(SentHeadDate(21), head + "<item><pubDate>" + SentFeedDate(22) +
                                                        "</pubDate></item>" + std::string(4000, ' ') + "</channel></rss>\n");
        if (c.duringHead)
            stopped.holdHead = true;
        else
            stopped.stallAfter = head.size();
        server.Set(p + "0", Head(SentHeadDate(20), Rss2(SentFeedDate(20))));
        server.Set(p + "1", stopped);
        server.Set(p + "2", Head(SentHeadDate(23), Rss2(SentFeedDate(23))));
        for (int k = 0; k < 3; ++k)
            host.table.Add(SiteLine("t" + std::to_string(k), "http://a" + std::to_string(k) + "/",
                                    server.Url(p + std::to_string(k)), "2025/12/01 00:00:00", oldHead, oldUpdate));

        CheckBridge bridge(&host);
        WorkerRun run(bridge, host);
        const std::string path = p + "1";
        ASSERT_TRUE(SpinUntil([&] { return c.duringHead ? server.Held(path) : server.Stalled(path); }, 10000));
        SpinUntil([] { return false; }, 150);  // let the first bytes arrive
        const auto abortAt = std::chrono::steady_clock::now();
        run.worker->AbortCheck();
        EXPECT_TRUE(run.worker->IsAborted());
        ASSERT_TRUE(run.Wait({}, 10000));
        EXPECT_LT(std::chrono::steady_clock::now() - abortAt, std::chrono::seconds(1))
            << "the stop must cut the request short, not wait for a time-out";
        ExpectCleanEnd(run, host);

        EXPECT_EQ(SiteAt(host.table, 0).HeadTime, StoredHeadDate(20));
        EXPECT_EQ(SiteAt(host.table, 0).LastUpdate, StoredFeedDate(20));
        EXPECT_EQ(SiteAt(host.table, 1).HeadTime, c.duringHead ? oldHead : StoredHeadDate(21));
        EXPECT_EQ(SiteAt(host.table, 1).LastUpdate, oldUpdate) << "nothing stored for the stopped step";
        EXPECT_EQ(SiteAt(host.table, 2).LastUpdate, oldUpdate);
        EXPECT_EQ(server.Heads(p + "2") + server.Gets(p + "2"), 0) << "no site after the abort";
        EXPECT_EQ(StepTexts(host.statuses, 0, 1e9), c.steps);
        server.Release(path);
    }
}

TEST_F(RssCheckTest, AbortRightAfterTheStartEndsWithTheFirstSite) {
    FakeHost host;
    for (int k = 0; k < 3; ++k) {
        const std::string path = "/b" + std::to_string(k);
        server.Set(path, Head(SentHeadDate(k), Rss2(SentFeedDate(k))));
        host.table.Add(SiteLine("t", "http://b" + std::to_string(k) + "/", server.Url(path)));
    }
    CheckBridge bridge(&host);
    WorkerRun run(bridge, host);
    run.worker->AbortCheck();
    ASSERT_TRUE(run.Wait());
    ExpectCleanEnd(run, host);
    // The stop may catch the first site's HEAD in flight or just after it; its feed is never asked
    // for, and no later site is.
    EXPECT_LE(server.Heads("/b0"), 1);
    EXPECT_EQ(server.Gets("/b0"), 0);
    EXPECT_EQ(server.TotalRequests() - server.Heads("/b0"), 0);
}

// The table changes in the main window while site 1's HEAD request waits.
struct EditCase {
    const char* name;
    std::function<void(FakeHost&, FeedServer&)> edit;
    std::function<void(FakeHost&, FeedServer&)> check;
};

TEST_F(RssCheckTest, EditsDuringARequestNeverMisplaceAResult) {
    auto find = [](FakeHost& h, const std::string& url) { return hanabira::IndexOfURL(h.table, url); };
    auto rec = [&](FakeHost& h, const std::string& url) {
        const int i = find(h, url);
        EXPECT_GE(i, 0) << url;
        return i < 0 ? TMWBlogListRec{} : SiteAt(h.table, i);
    };
    auto own = [&](FakeHost& h, int k) {
        const TMWBlogListRec r = rec(h, "http://e" + std::to_string(k) + "/");
        EXPECT_EQ(r.HeadTime, StoredHeadDate(k)) << "site " << k;
        EXPECT_EQ(r.LastUpdate, StoredFeedDate(k)) << "site " << k;
    };
    auto untouched = [&](FakeHost& h, FeedServer& s, const std::string& url, const std::string& path) {
        const TMWBlogListRec r = rec(h, url);
        EXPECT_EQ(r.HeadTime, "");
        EXPECT_EQ(r.LastUpdate, "");
        EXPECT_EQ(s.Heads(path) + s.Gets(path), 0) << "a site added during the run is not visited";
    };
    const std::vector<EditCase> cases = {
        {"the site is deleted",
         [](FakeHost& h, FeedServer&) { h.table.Delete(1); },
         [&](FakeHost& h, FeedServer& s) {
             EXPECT_EQ(h.table.Count(), 2);
             EXPECT_EQ(find(h, "http://e1/"), -1);
             own(h, 0);
             own(h, 2);
             EXPECT_EQ(s.Gets("/e1"), 0);
             for (const std::string& st : h.statuses) EXPECT_EQ(st.find("title1"), std::string::npos) << st;
         }},
        {"the site is edited (title, manager, visit)",
         [](FakeHost& h, FeedServer&) {
             TMWBlogListRec r = SiteAt(h.table, 1);
             r.SiteTitle = S("新しい名前");
             r.ManagerName = "manager";
             r.LastVisit = "2026/01/01 00:00:00";
             h.table.Put(1, hanabira::WriteSiteRecord(r));
         },
         [&](FakeHost& h, FeedServer&) {
             own(h, 0);
             own(h, 1);
             own(h, 2);
             const TMWBlogListRec r = SiteAt(h.table, 1);
             EXPECT_EQ(r.SiteTitle, S("新しい名前"));
             EXPECT_EQ(r.ManagerName, "manager");
             EXPECT_EQ(r.LastVisit, "2026/01/01 00:00:00");
             bool titled = false;
             for (const std::string& st : h.statuses)
                 titled |= st.find("CheckHEAD... " + S("新しい名前")) != std::string::npos;
             EXPECT_TRUE(titled) << "the status line names the site as it is now";
         }},
        {"the site's feed URL is changed",
         [](FakeHost& h, FeedServer& s) {
             TMWBlogListRec r = SiteAt(h.table, 1);
             r.RSSURL = s.Url("/other");
             h.table.Put(1, hanabira::WriteSiteRecord(r));
         },
         [&](FakeHost& h, FeedServer& s) {
             const TMWBlogListRec r = SiteAt(h.table, 1);
             EXPECT_EQ(r.HeadTime, "") << "the old feed's HEAD date is stale";
             EXPECT_EQ(r.LastUpdate, StoredFeedDate(40)) << "the feed step reads the new feed";
             EXPECT_EQ(s.Gets("/other"), 1);
             EXPECT_EQ(s.Gets("/e1"), 0);
         }},
        {"a site before it is deleted and one is added",
         [](FakeHost& h, FeedServer& s) {
             h.table.Delete(0);
             h.table.Add(SiteLine("added", "http://added/", s.Url("/added")));
         },
         [&](FakeHost& h, FeedServer& s) {
             own(h, 1);
             own(h, 2);
             untouched(h, s, "http://added/", "/added");
         }},
        {"a site is inserted before it",
         [](FakeHost& h, FeedServer& s) { h.table.Insert(0, SiteLine("inserted", "http://ins/", s.Url("/ins"))); },
         [&](FakeHost& h, FeedServer& s) {
             own(h, 0);
             own(h, 1);
             own(h, 2);
             untouched(h, s, "http://ins/", "/ins");
         }},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        FeedServer s;
        FakeHost host;
        for (int k = 0; k < 3; ++k) {
            const std::string path = "/e" + std::to_string(k);
            SiteAnswer a = Head(SentHeadDate(k), Rss2(SentFeedDate(k)));
            a.holdHead = k == 1;
            s.Set(path, a);
            host.table.Add(SiteLine("title" + std::to_string(k), "http://e" + std::to_string(k) + "/", s.Url(path)));
        }
        for (const char* extra : {"/other", "/added", "/ins"}) s.Set(extra, Head(SentHeadDate(40), Rss2(SentFeedDate(40))));
        CheckBridge bridge(&host);
        WorkerRun run(bridge, host);
        ASSERT_TRUE(SpinUntil([&] { return s.Held("/e1"); }));
        c.edit(host, s);
        s.Release("/e1");
        ASSERT_TRUE(run.Wait());
        ExpectCleanEnd(run, host);
        c.check(host, s);
    }
}

// Deletes, adds, inserts and edits sites from the GUI thread at random moments of a run; every
// result must land in its own site's line, and every edit must survive.
TEST_F(RssCheckTest, RandomEditsDuringARunKeepEveryResultWithItsSite) {
    constexpr int kSites = 40;
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        FeedServer s;
        FakeHost host;
        auto url = [](int k) { return "http://r" + std::to_string(k) + "/"; };
        auto path = [](int k) { return "/r" + std::to_string(k); };
        auto serve = [&](int k) {
            SiteAnswer a = Head(SentHeadDate(k), Rss2(SentFeedDate(k)));
            a.headDelayMs = static_cast<int>(rng() % 3);
            s.Set(path(k), a);
        };
        for (int k = 0; k < kSites; ++k) {
            serve(k);
            host.table.Add(SiteLine("t" + std::to_string(k), url(k), s.Url(path(k))));
        }
        std::map<std::string, std::string> wantTitle;  // url -> title after the last edit
        int next = 1000, deletions = 0;
        auto mutate = [&] {
            if (host.table.Count() == 0 || rng() % 4 != 0) return;
            const int at = static_cast<int>(rng() % static_cast<unsigned>(host.table.Count()));
            switch (rng() % 6) {
                case 0:
                    if (deletions < 10) {
                        wantTitle.erase(std::string(hanabira::SiteURLOfLine(host.table.Get(at))));
                        host.table.Delete(at);
                        ++deletions;
                    }
                    break;
                case 1:
                    serve(next);
                    host.table.Add(SiteLine("new", url(next), s.Url(path(next))));
                    ++next;
                    break;
                case 2:
                    serve(next);
                    host.table.Insert(at, SiteLine("new", url(next), s.Url(path(next))));
                    ++next;
                    break;
                default: {
                    TMWBlogListRec r = SiteAt(host.table, at);
                    r.SiteTitle = "edited " + std::to_string(rng() % 100000);
                    r.Category = "c";
                    wantTitle[r.SiteURL] = r.SiteTitle;
                    host.table.Put(at, hanabira::WriteSiteRecord(r));
                }
            }
        };
        host.onShow = mutate;  // also in the middle of hand-off steps
        RunToEnd(host, mutate);

        int originals = 0;
        for (int i = 0; i < host.table.Count(); ++i) {
            const TMWBlogListRec r = SiteAt(host.table, i);
            const int k = std::stoi(r.SiteURL.substr(8));
            SCOPED_TRACE(r.SiteURL);
            if (k < kSites) {
                ++originals;
                EXPECT_EQ(r.HeadTime, StoredHeadDate(k));
                EXPECT_EQ(r.LastUpdate, StoredFeedDate(k));
                EXPECT_EQ(s.Heads(path(k)), 1) << "every site present throughout is checked once";
            } else {
                EXPECT_EQ(r.HeadTime, "");
                EXPECT_EQ(r.LastUpdate, "");
                EXPECT_EQ(s.Heads(path(k)) + s.Gets(path(k)), 0);
            }
            const auto it = wantTitle.find(r.SiteURL);
            if (it != wantTitle.end()) {
                EXPECT_EQ(r.SiteTitle, it->second);
            }
        }
        EXPECT_GT(originals, kSites - 11);
        EXPECT_GT(next + deletions, 1000) << "the run gave no room for edits";
    }
}

TEST_F(RssCheckTest, DetachedBridgeEndsTheRunWithoutTouchingTheHost) {
    auto host = std::make_unique<FakeHost>();
    constexpr int kSites = 20;
    for (int k = 0; k < kSites; ++k) {
        const std::string path = "/d" + std::to_string(k);
        SiteAnswer a = Head(SentHeadDate(k), Rss2(SentFeedDate(k)));
        a.holdHead = k == 1;
        server.Set(path, a);
        host->table.Add(SiteLine("t", "http://d" + std::to_string(k) + "/", server.Url(path)));
    }
    // As the main window does when its wait for the worker gives up: detach, free everything but
    // the bridge.
    auto* bridge = new CheckBridge(host.get());
    WorkerRun run(*bridge, *host, 100);
    ASSERT_TRUE(SpinUntil([&] { return server.Held("/d1"); }));
    bridge->Detach();
    EXPECT_FALSE(bridge->Attached());
    host.reset();
    const auto releasedAt = std::chrono::steady_clock::now();
    server.Release("/d1");
    ASSERT_TRUE(run.Wait());
    EXPECT_LT(std::chrono::steady_clock::now() - releasedAt, std::chrono::milliseconds(1000))
        << "the run ends at the next stop test, not after pausing through every remaining site";
    EXPECT_EQ(run.finishCalls, 0);
    EXPECT_EQ(server.Gets("/d1"), 0);
    for (int k = 2; k < kSites; ++k) EXPECT_EQ(server.Heads("/d" + std::to_string(k)), 0) << k;
    delete bridge;  // only now: the worker is gone
}

TEST_F(RssCheckTest, BridgeDetachedWhileAStepWaitsInTheQueue) {
    auto host = std::make_unique<FakeHost>();
    server.Set("/q", Head(SentHeadDate(1), Rss2(SentFeedDate(1))));
    host->table.Add(SiteLine("t", "http://q/", server.Url("/q")));
    auto* bridge = new CheckBridge(host.get());
    WorkerRun run(*bridge, *host);
    // No events processed: the worker's first step sits in the queue while the window goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    bridge->Detach();
    host.reset();
    ASSERT_TRUE(run.Wait());
    EXPECT_EQ(run.finishCalls, 0);
    EXPECT_EQ(server.TotalRequests(), 0);
    delete bridge;
}

}  // namespace
