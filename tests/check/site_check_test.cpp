// The one-site check on the calling thread, against feed servers on 127.0.0.1.
#include "check/site_check.h"

#include <gtest/gtest.h>

#include <chrono>

#include "check/check_test_support.h"
#include "store/site_table.h"
#include "support/web_fetch.h"
#include "test_support.h"

namespace {

using namespace check_testing;
using hanabira::SiteCheckResult;
using hanabira::TMWBlogListRec;

class SiteCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = hanabira::CurrentFetchLimits();
        hanabira::CurrentFetchLimits().connectTimeoutSec = 2;
        hanabira::CurrentFetchLimits().lowSpeedTimeSec = 5;
    }
    void TearDown() override { hanabira::CurrentFetchLimits() = saved_; }

    SiteAnswer Answer(int k, int headStatus = 200) {
        SiteAnswer a;
        a.headStatus = headStatus;
        a.lastModified = SentHeadDate(k);
        a.feed = Rss2(SentFeedDate(k));
        return a;
    }
    // Two sites sharing a URL (only the first is ever checked) between two others; the site was
    // visited once (a site never visited sends no HEAD).
    hanabira::TLightStrings Table(const std::string& rssUrl, const std::string& headCheck = "",
                                  const std::string& lastVisit = "2026/06/01 00:00:00") {
        hanabira::TLightStrings t('\t');
        t.Add(SiteLine("other", "http://other/", server.Url("/other"), "", "", "keep"));
        t.Add(SiteLine("site", "http://site/", rssUrl, lastVisit, "2026/01/01 00:00:00", "2026/01/01 00:00:00",
                       headCheck));
        t.Add(SiteLine("twin", "http://site/", server.Url("/twin"), "", "", "keep"));
        return t;
    }

    FeedServer server;

private:
    hanabira::FetchLimits saved_;
};

struct OneSiteCase {
    const char* name;
    std::string url;       // checked URL
    std::string feedPath;  // empty: the site has no feed URL
    std::string headCheck;
    int headStatus;
    SiteCheckResult want;
    std::string wantHeadTime;  // of the site (line 1)
    int wantHeads;
    bool neverVisited = false;  // else visited before the check
};

TEST_F(SiteCheckTest, HeadStep) {
    const std::string stored = "2026/01/01 00:00:00";
    const std::vector<OneSiteCase> cases = {
        {"success stores the HEAD date", "http://site/", "/h1", "", 200, SiteCheckResult::Stored, StoredHeadDate(1), 1},
        {"Skip: empty date, no request", "http://site/", "/h2", "Skip", 200, SiteCheckResult::Stored, "", 0},
        {"404 stores nothing", "http://site/", "/h3", "", 404, SiteCheckResult::Failed, stored, 1},
        {"redirect stores nothing", "http://site/", "/h4", "", 302, SiteCheckResult::Failed, stored, 1},
        {"no feed URL: the request fails", "http://site/", "", "", 200, SiteCheckResult::Failed, stored, 0},
        {"unknown URL", "http://none/", "/h6", "", 200, SiteCheckResult::NotFound, stored, 0},
        {"URL compared exactly", "http://SITE/", "/h7", "", 200, SiteCheckResult::NotFound, stored, 0},
        // Its feed is read whatever the HEAD answers: none is sent, the stored date stays.
        {"never visited: no request", "http://site/", "/h8", "", 200, SiteCheckResult::NotAsked, stored, 0, true},
        {"never visited and Skip: emptied", "http://site/", "/h9", "Skip", 200, SiteCheckResult::Stored, "", 0, true},
    };
    for (const OneSiteCase& c : cases) {
        SCOPED_TRACE(c.name);
        server.Set(c.feedPath, Answer(1, c.headStatus));
        hanabira::TLightStrings table = Table(c.feedPath.empty() ? "" : server.Url(c.feedPath), c.headCheck,
                                              c.neverVisited ? "" : "2026/06/01 00:00:00");
        const std::string other = table.Get(0), twin = table.Get(2);
        EXPECT_EQ(hanabira::CheckSiteHeadIn(table, c.url, {}), c.want);
        ASSERT_EQ(table.Count(), 3);
        EXPECT_EQ(SiteAt(table, 1).HeadTime, c.wantHeadTime);
        EXPECT_EQ(SiteAt(table, 1).LastUpdate, stored) << "the HEAD step writes only HeadTime";
        EXPECT_EQ(table.Get(0), other);
        EXPECT_EQ(table.Get(2), twin) << "only the first site with the URL";
        if (!c.feedPath.empty()) {
            EXPECT_EQ(server.Heads(c.feedPath), c.wantHeads);
        }
        EXPECT_EQ(server.Gets(c.feedPath), 0);
    }
}

TEST_F(SiteCheckTest, FeedStep) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(testing_support::HttpTestServer::UnusedPort()) + "/f";
    server.Set("/f1", Answer(1));
    struct Case {
        const char* name;
        std::string url, rssUrl, lastVisit;
        SiteCheckResult want;
        std::string wantLastUpdate;
    };
    const std::vector<Case> cases = {
        {"feed date stored", "http://site/", server.Url("/f1"), "", SiteCheckResult::Stored, StoredFeedDate(1)},
        {"always fetched, whatever the visit", "http://site/", server.Url("/f1"), "2026/12/01 00:00:00",
         SiteCheckResult::Stored, StoredFeedDate(1)},
        {"failed fetch keeps the date", "http://site/", refused, "", SiteCheckResult::Failed, "2026/01/01 00:00:00"},
        {"no feed URL", "http://site/", "", "", SiteCheckResult::NoFeedUrl, "2026/01/01 00:00:00"},
        {"unknown URL", "http://none/", server.Url("/f1"), "", SiteCheckResult::NotFound, "2026/01/01 00:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hanabira::TLightStrings table = Table(c.rssUrl, "", c.lastVisit);
        const std::string other = table.Get(0), twin = table.Get(2);
        EXPECT_EQ(hanabira::CheckSiteRssIn(table, c.url), c.want);
        EXPECT_EQ(SiteAt(table, 1).LastUpdate, c.wantLastUpdate);
        EXPECT_EQ(SiteAt(table, 1).HeadTime, "2026/01/01 00:00:00") << "the feed step writes only LastUpdate";
        EXPECT_EQ(table.Get(0), other);
        EXPECT_EQ(table.Get(2), twin);
    }
    EXPECT_EQ(server.Heads("/f1"), 0);
}

// The window handles messages while the HEAD request waits, so the table may change under it.
TEST_F(SiteCheckTest, TableChangedWhileTheHeadRequestPumps) {
    struct Case {
        const char* name;
        std::function<void(hanabira::TLightStrings&)> edit;
        SiteCheckResult want;
        std::function<void(const hanabira::TLightStrings&)> check;
    };
    const std::vector<Case> cases = {
        {"lines before it deleted and inserted, the site edited",
         [](hanabira::TLightStrings& t) {
             t.Delete(0);
             t.Insert(0, SiteLine("a", "http://a/", ""));
             t.Insert(0, SiteLine("b", "http://b/", ""));
             TMWBlogListRec r = SiteAt(t, 2);
             r.SiteTitle = "renamed";
             r.Category = "cat";
             t.Put(2, hanabira::WriteSiteRecord(r));
         },
         SiteCheckResult::Stored,
         [](const hanabira::TLightStrings& t) {
             ASSERT_EQ(t.Count(), 4);
             const TMWBlogListRec r = SiteAt(t, 2);
             EXPECT_EQ(r.SiteURL, "http://site/");
             EXPECT_EQ(r.HeadTime, StoredHeadDate(5));
             EXPECT_EQ(r.SiteTitle, "renamed");
             EXPECT_EQ(r.Category, "cat");
             for (int i : {0, 1, 3}) EXPECT_EQ(SiteAt(t, i).HeadTime, "") << i;
         }},
        {"the site deleted",
         [](hanabira::TLightStrings& t) { t.Delete(1); },
         SiteCheckResult::NotFound,
         [](const hanabira::TLightStrings& t) {
             ASSERT_EQ(t.Count(), 2);
             for (int i : {0, 1}) EXPECT_EQ(SiteAt(t, i).HeadTime, "") << i;
         }},
        {"the site's feed URL changed",
         [](hanabira::TLightStrings& t) {
             TMWBlogListRec r = SiteAt(t, 1);
             r.RSSURL = "http://elsewhere/feed";
             t.Put(1, hanabira::WriteSiteRecord(r));
         },
         SiteCheckResult::Failed,
         [](const hanabira::TLightStrings& t) { EXPECT_EQ(SiteAt(t, 1).HeadTime, "2026/01/01 00:00:00"); }},
    };
    SiteAnswer slow = Answer(5);
    slow.headDelayMs = 400;
    server.Set("/slow", slow);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hanabira::TLightStrings table = Table(server.Url("/slow"));
        table.Put(2, SiteLine("twin", "http://twin/", ""));  // no duplicate here
        int pumps = 0;
        hanabira::RequestControl control;
        control.pump = [&] {
            if (pumps++ == 0) c.edit(table);
        };
        const auto result = hanabira::CheckSiteHeadIn(table, "http://site/", control);
        EXPECT_GE(pumps, 2) << "the pump runs while the request waits";
        EXPECT_EQ(result, c.want);
        c.check(table);
    }
}

// A stop ends either step within a second, whatever the server does, and the site keeps the dates
// it had; a request that fails on its own still follows the rules above.
TEST_F(SiteCheckTest, StoppedStepsKeepTheDatesTheSiteHad) {
    SiteAnswer stalledHead = Answer(7);
    stalledHead.holdHead = true;
    server.Set("/held", stalledHead);
    SiteAnswer stalledFeed = Answer(8);
    stalledFeed.stallAfter = 60;  // the feed's first bytes, then nothing
    server.Set("/stalled", stalledFeed);
    const std::string stored = "2026/01/01 00:00:00";
    struct Case {
        const char* name;
        bool head;
        std::string path;
        std::function<bool()> sent;  // the server has the request: stop now
    };
    const std::vector<Case> cases = {
        {"HEAD waiting for its answer", true, "/held", [&] { return server.Held("/held"); }},
        {"feed stalled after its first bytes", false, "/stalled", [&] { return server.Stalled("/stalled"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hanabira::TLightStrings table = Table(server.Url(c.path));
        const std::string before = table.Get(1);
        std::chrono::steady_clock::time_point stoppedAt{};
        hanabira::RequestControl control;
        control.pump = [] {};
        control.abort = [&] {
            if (stoppedAt == std::chrono::steady_clock::time_point{} && c.sent())
                stoppedAt = std::chrono::steady_clock::now();
            return stoppedAt != std::chrono::steady_clock::time_point{};
        };
        const SiteCheckResult r = c.head ? hanabira::CheckSiteHeadIn(table, "http://site/", control)
                                         : hanabira::CheckSiteRssIn(table, "http://site/", control);
        EXPECT_EQ(r, SiteCheckResult::Aborted);
        EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(1));
        EXPECT_EQ(table.Get(1), before) << "HeadTime " << SiteAt(table, 1).HeadTime << ", LastUpdate "
                                        << SiteAt(table, 1).LastUpdate;
        EXPECT_EQ(SiteAt(table, 1).LastUpdate, stored);
        server.Release(c.path);
    }
}

}  // namespace
