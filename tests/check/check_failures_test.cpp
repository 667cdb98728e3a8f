// What a check tells the user: why a site's feed could not be read, the counts of a run, and the
// line that sums it up; a failed feed request never changes the site's dates.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include "check/dates.h"
#include "check/rss_check.h"
#include "check/site_check.h"
#include "check_test_support.h"
#include "support/web_fetch.h"
#include "test_support.h"

using namespace hanabira;
using namespace check_testing;
using testing_support::S;

namespace {

SiteAnswer Feed(const std::string& body, int status = 200) {
    SiteAnswer a;
    a.feed = body;
    a.getStatus = status;
    return a;
}

class CheckFailuresTest : public WorkerTestBase {
protected:
    FeedServer server;
};

}  // namespace

TEST_F(CheckFailuresTest, EachFailureHasItsReasonAndAnErrorAnswerKeepsTheDate) {
    CurrentFetchLimits().lowSpeedTimeSec = 1;  // a stalled server gives up after a second
    const SiteAnswer missing = Feed("<html><body>Not Found</body></html>", 404);
    const SiteAnswer broken = Feed("<html><body>Error</body></html>", 500);
    SiteAnswer loop;
    loop.getStatus = 302;
    loop.location = server.Url("/loop");
    SiteAnswer stall;
    stall.feed = Rss2(SentFeedDate(1));
    stall.stallAfter = 10;
    server.Set("/404", missing);
    server.Set("/500", broken);
    server.Set("/loop", loop);
    server.Set("/stall", stall);
    server.Set("/html", Feed("<!DOCTYPE html><html><head><title>blog</title></head><body>moved</body></html>"));
    server.Set("/nodate", Feed(Rss2("someday")));
    server.Set("/ok", Feed(Rss2(SentFeedDate(2))));
    const std::string refused = "http://127.0.0.1:1/feed";
    struct Row {
        std::string feed, reason;
        bool stored;
    };
    const Row rows[] = {
        {refused, S("接続できません"), false},
        {server.Url("/stall"), S("応答がありません (1 秒)"), false},
        {server.Url("/404"), S("404 ページが見つかりません"), false},
        {server.Url("/500"), S("500 サーバーのエラーです"), false},
        {server.Url("/loop"), S("リダイレクトが多すぎます"), false},
        {server.Url("/html"), S("フィードではありません (HTML ページ)"), true},
        {server.Url("/nodate"), S("フィードの日付が読めません"), true},
        {server.Url("/ok"), "", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.feed);
        TLightStrings table('\t');
        table.Add(SiteLine("site", "http://site/", r.feed, "", "", "2026/01/01 00:00:00"));
        std::string reason = "stale";
        const SiteCheckResult result = CheckSiteRssIn(table, "http://site/", RequestControl{}, reason);
        EXPECT_EQ(reason, r.reason);
        EXPECT_EQ(result, r.stored ? SiteCheckResult::Stored : SiteCheckResult::Failed);
        if (!r.stored) {
            EXPECT_EQ(SiteAt(table, 0).LastUpdate, "2026/01/01 00:00:00");
        }
    }
    server.Release("/stall");
    // A name that is not found, and the statuses without a meaning of their own.
    EXPECT_EQ(RequestFailureText(CURLE_COULDNT_RESOLVE_HOST, 0, 0), S("サーバーが見つかりません"));
    EXPECT_EQ(RequestFailureText(CURLE_OK, 418, 0), S("418 リクエストが受け付けられませんでした"));
    EXPECT_EQ(RequestFailureText(CURLE_OK, 599, 0), S("599 サーバーのエラーです"));
}

TEST_F(CheckFailuresTest, ARunCountsItsSitesAndSumsItUp) {
    server.Set("/a", Feed(Rss2(SentFeedDate(1))));
    server.Set("/b", Feed(Rss2(SentFeedDate(2))));
    SiteAnswer missing;
    missing.getStatus = 404;
    server.Set("/gone", missing);
    FakeHost host;
    // a and b were visited before their new posts; gone fails; never visited is in the list already.
    host.table.Add(SiteLine("a", "http://a/", server.Url("/a"), "2026/10/01 00:00:00"));
    host.table.Add(SiteLine("b", "http://b/", server.Url("/b"), "2026/10/01 00:00:00"));
    host.table.Add(SiteLine("gone", "http://gone/", server.Url("/gone"), "2026/10/01 00:00:00", "", "2026/09/01 00:00:00"));
    host.table.Add(SiteLine("new", "http://new/", server.Url("/a"), ""));
    CheckBridge bridge(&host);
    WorkerRun run(bridge, host, 0, 4);
    CheckProgress final;
    run.worker->OnFinish = [&](TMWRSSCheck* w) { final = w->Progress(); };
    ASSERT_TRUE(run.Wait());
    EXPECT_EQ(final.total, 4);
    EXPECT_EQ(final.done, 4);
    EXPECT_EQ(final.entered, 2);
    EXPECT_EQ(final.failed, 1);
    ASSERT_EQ(host.progress.size(), 4u);
    EXPECT_EQ(host.progress.back().done, 4);
    for (const SiteCheckOutcome& o : host.outcomes)
        EXPECT_EQ(o.failure, o.siteUrl == "http://gone/" ? S("404 ページが見つかりません") : "") << o.siteUrl;
    EXPECT_EQ(SiteAt(host.table, 2).LastUpdate, "2026/09/01 00:00:00") << "an error answer stores nothing";

    const double at = DateValue("2026/12/09 00:10:40");
    EXPECT_EQ(CheckSummaryText({1000, 1000, 12, 3}, false, 42, at),
              S("[2026/12/09 00:10:40]:1,000 サイトをチェックしました: 更新 12 件、失敗 3 件 (42 秒)"));
    EXPECT_EQ(CheckSummaryText({123, 1000, 2, 0}, true, 5, at),
              S("[2026/12/09 00:10:40]:1,000 サイト中 123 サイトをチェックして中断しました: 更新 2 件、失敗 0 件 (5 秒)"));
}
