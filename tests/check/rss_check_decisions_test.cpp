// What the check of all sites decides for the servers users' blogs live on, over two runs: a first
// check of sites never visited (their feed is read without a HEAD request), the user's visit, and a
// second check after each feed changed. Every server on 127.0.0.1, one port each.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <mutex>
#include <set>

#include "check/check_test_support.h"
#include "check/dates.h"
#include "check/rss_check.h"
#include "check/visit_list.h"
#include "support/web_fetch.h"

namespace {

using namespace check_testing;
using hanabira::CheckBridge;
using hanabira::TMWBlogListRec;

// Now as HTTP writes dates (English names whatever the locale).
std::string HttpDateNow() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

enum class Server { Plain, NoLastModified, ChangingLastModified, Redirect, RefusesHead, Skip, TooMany };

// One blog's server. Its feed is dated feedDate; Last-Modified follows the feed (or as its kind says).
class BlogServer {
public:
    explicit BlogServer(Server kind) : kind_(kind) {
        server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); });
        server_.Start();
    }
    std::string FeedUrl() const { return server_.Url(kind_ == Server::Redirect ? "/old-feed" : "/feed"); }
    void Publish(const std::string& feedDate, const std::string& lastModified) {
        std::lock_guard<std::mutex> lock(m_);
        feedDate_ = feedDate;
        lastModified_ = lastModified;
        heads_ = gets_ = 0;
        refused_.clear();
    }
    int Heads() const {
        std::lock_guard<std::mutex> lock(m_);
        return heads_;
    }
    int Gets() const {
        std::lock_guard<std::mutex> lock(m_);
        return gets_;
    }

private:
    void Answer(const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(m_);
        const bool head = req.method == "HEAD";
        ++(head ? heads_ : gets_);
        // A busy server: the first request of each kind is asked to come back in a second.
        if (kind_ == Server::TooMany && refused_.insert(req.method).second) {
            res.status = 429;
            res.set_header("Retry-After", "1");
            return;
        }
        if (kind_ == Server::Redirect && req.path == "/old-feed") {
            res.status = 301;
            res.set_header("Location", server_.Url("/feed"));
            return;
        }
        if (head && kind_ == Server::RefusesHead) {
            res.status = 405;
            return;
        }
        if (kind_ == Server::ChangingLastModified)
            res.set_header("Last-Modified", HttpDateNow());  // on every request
        else if (kind_ != Server::NoLastModified)
            res.set_header("Last-Modified", lastModified_);
        if (!head) res.set_content(Rss2(feedDate_), "text/xml");
    }

    Server kind_;
    mutable std::mutex m_;
    std::string feedDate_, lastModified_;
    int heads_ = 0, gets_ = 0;
    std::set<std::string> refused_;
    testing_support::HttpTestServer server_;  // last: stopped first
};

struct Row {
    const char* name;
    Server kind;
    // HeadTime after the second run: as stored before it (the HEAD failed or was not sent), the
    // server's Last-Modified, or a date that reads (the server's clock).
    enum { Kept, LastModified, Now } headTime;
};

class RssCheckDecisionsTest : public WorkerTestBase {
protected:
    // One run of the concurrent check over every site; the table afterwards.
    void RunCheck(FakeHost& host) {
        CheckBridge bridge(&host);
        WorkerRun run(bridge, host, 100, hanabira::kDefaultCheckConnections);
        ASSERT_TRUE(run.Wait());
        EXPECT_EQ(run.finishCalls, 1);
        EXPECT_EQ(host.offThreadCalls, 0);
    }
};

TEST_F(RssCheckDecisionsTest, EveryServerKindIsReadWhenItChangedAndNeverAskedTwiceWhenNew) {
    const std::vector<Row> rows = {
        {"a plain server", Server::Plain, Row::LastModified},
        {"no Last-Modified", Server::NoLastModified, Row::Kept},
        {"a Last-Modified that changes on every request", Server::ChangingLastModified, Row::Now},
        {"a feed behind a redirect (the HEAD is not followed)", Server::Redirect, Row::Kept},
        {"a server that refuses HEAD (405)", Server::RefusesHead, Row::Kept},
        {"a site marked Skip", Server::Skip, Row::Kept},
        {"429 with Retry-After, then the answer", Server::TooMany, Row::LastModified},
    };
    std::vector<std::unique_ptr<BlogServer>> servers;
    FakeHost host;
    for (size_t i = 0; i < rows.size(); ++i) {
        servers.push_back(std::make_unique<BlogServer>(rows[i].kind));
        servers[i]->Publish("Mon, 02 Nov 2026 00:00:0" + std::to_string(i) + " +0900", "Sun, 01 Nov 2026 15:00:00 GMT");
        host.table.Add(SiteLine("blog" + std::to_string(i), "http://blog" + std::to_string(i) + "/",
                                servers[i]->FeedUrl(), "", "", "", rows[i].kind == Server::Skip ? "Skip" : ""));
    }

    // The first check: nothing was ever visited, so every feed is read and no HEAD is sent.
    RunCheck(host);
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        const TMWBlogListRec r = SiteAt(host.table, static_cast<int>(i));
        EXPECT_EQ(servers[i]->Heads(), 0);
        // A 429 is asked once more; a redirect is followed to the feed.
        EXPECT_EQ(servers[i]->Gets(), rows[i].kind == Server::TooMany || rows[i].kind == Server::Redirect ? 2 : 1);
        EXPECT_EQ(r.LastUpdate, "2026/11/02 00:00:0" + std::to_string(i));
        EXPECT_EQ(r.HeadTime, "");
        EXPECT_TRUE(hanabira::NeedsVisit(r));
    }
    for (const std::string& status : host.statuses)
        EXPECT_EQ(status.find("CheckHEAD"), std::string::npos) << "no HEAD line for a site never visited";

    // The user visits every blog; then each one posts again (at 01:00 in Japan on the 4th).
    for (int i = 0; i < host.table.Count(); ++i) {
        TMWBlogListRec r = SiteAt(host.table, i);
        r.LastVisit = "2026/11/03 00:00:00";
        host.table.Put(i, hanabira::WriteSiteRecord(r));
        EXPECT_FALSE(hanabira::NeedsVisit(r)) << i;
    }
    for (size_t i = 0; i < rows.size(); ++i)
        servers[i]->Publish("Wed, 04 Nov 2026 01:00:0" + std::to_string(i) + " +0900", "Tue, 03 Nov 2026 16:00:00 GMT");

    // The second check: a HEAD where one can tell something, then the feed; every update listed.
    host.statuses.clear();
    RunCheck(host);
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        const TMWBlogListRec r = SiteAt(host.table, static_cast<int>(i));
        const Server kind = rows[i].kind;
        EXPECT_EQ(servers[i]->Heads(), kind == Server::Skip ? 0 : kind == Server::TooMany ? 2 : 1);
        EXPECT_GE(servers[i]->Gets(), 1);
        EXPECT_EQ(r.LastUpdate, "2026/11/04 01:00:0" + std::to_string(i));
        switch (rows[i].headTime) {
            case Row::Kept:
                EXPECT_EQ(r.HeadTime, "");
                break;
            case Row::LastModified:
                EXPECT_EQ(r.HeadTime, "2026/11/04 01:00:00");
                break;
            case Row::Now:
                EXPECT_GT(hanabira::DateValue(r.HeadTime), hanabira::DateValue("2026/11/04 01:00:00"));
                break;
        }
        EXPECT_TRUE(hanabira::NeedsVisit(r)) << "the update is listed";
    }
}

}  // namespace
