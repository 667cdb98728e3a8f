// RequestPool, the many-at-once driver of the update checks, against servers on 127.0.0.1: it ends
// every request as its single form does, accepts compressed feeds, reuses a host's connection,
// keeps the per-host limits (the pause between requests is tested with the worker) and stops
// every request at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>

#include "http_test_server.h"
#include "support/web_fetch.h"

namespace {

using hanabira::RequestPool;
using hanabira::RequestResult;
using testing_support::HttpTestServer;

class MultiFetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = hanabira::CurrentFetchLimits();
        hanabira::CurrentFetchLimits().connectTimeoutSec = 2;
        hanabira::CurrentFetchLimits().totalTimeoutSec = 10;
    }
    void TearDown() override { hanabira::CurrentFetchLimits() = saved_; }

    // Runs the pool until nothing is left; the results by tag.
    static std::map<std::uint64_t, RequestPool::Finished> Drain(RequestPool& pool, int limitMs = 10000) {
        std::map<std::uint64_t, RequestPool::Finished> done;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while ((pool.Queued() > 0 || pool.Running() > 0) && std::chrono::steady_clock::now() < end)
            for (RequestPool::Finished& f : pool.Perform(50)) done[f.tag] = std::move(f);
        for (RequestPool::Finished& f : pool.Perform(0)) done[f.tag] = std::move(f);  // failed at once
        return done;
    }

private:
    hanabira::FetchLimits saved_;
};

TEST_F(MultiFetchTest, EveryRequestEndsAsItsSingleFormDoes) {
    HttpTestServer server;
    server.Get("/ok", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Last-Modified", "Sun, 01 Nov 2026 00:00:01 GMT");
        res.set_content("<rss>\n<item>a</item>\n</rss>\n", "text/xml");
    });
    server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    server.Get("/moved", [&server](const httplib::Request&, httplib::Response& res) {
        res.status = 301;
        res.set_header("Location", server.Url("/ok"));
    });
    server.Start();
    const std::vector<std::string> urls = {
        server.Url("/ok"), server.Url("/missing"), server.Url("/moved"),
        "http://127.0.0.1:" + std::to_string(HttpTestServer::UnusedPort()) + "/refused",
        "no-scheme.example/feed", "",
    };
    RequestPool pool({4, 2, 0}, [] { return false; });
    for (size_t i = 0; i < urls.size(); ++i) {
        pool.Add(2 * i, RequestPool::Kind::Head, urls[i]);
        pool.Add(2 * i + 1, RequestPool::Kind::Feed, urls[i]);
    }
    const auto done = Drain(pool);
    ASSERT_EQ(done.size(), 2 * urls.size());
    for (size_t i = 0; i < urls.size(); ++i) {
        SCOPED_TRACE(urls[i]);
        std::string head, feed;
        const RequestResult headResult = hanabira::HeadCheck(urls[i], head, {});
        const RequestResult feedResult = hanabira::FetchFeed(urls[i], feed, {});
        const RequestPool::Finished& h = done.at(2 * i);
        const RequestPool::Finished& f = done.at(2 * i + 1);
        EXPECT_EQ(h.result, headResult);
        EXPECT_EQ(f.result, feedResult);
        // The Date header differs from one answer to the next: compare the HEAD answers without it.
        const auto withoutDate = [](std::string text) {
            const size_t at = text.find("\r\nDate: ");
            if (at != std::string::npos) text.erase(at, text.find("\r\n", at + 2) - at);
            return text;
        };
        EXPECT_EQ(withoutDate(h.text), withoutDate(head));
        EXPECT_EQ(f.text, feed);
    }
    EXPECT_EQ(done.at(0).result, RequestResult::Ok);
    EXPECT_EQ(done.at(1).text, "<rss>\r\n<item>a</item>\r\n</rss>\r\n");
    EXPECT_EQ(done.at(5).result, RequestResult::Ok) << "the feed follows the redirect";
}

TEST_F(MultiFetchTest, FeedsAcceptCompressionAndPagesDoNot) {
    std::string body;
    for (int i = 0; body.size() < 100000; ++i) body += "<item>entry " + std::to_string(i) + "</item>\n";
    std::mutex m;
    std::vector<std::string> encodings;
    HttpTestServer server;
    server.Get("/feed", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> lock(m);
            encodings.push_back(req.get_header_value("Accept-Encoding"));
        }
        res.set_content(body, "text/xml");  // compressed by the server when the client accepts it
    });
    server.Start();
    std::string normalized;
    for (char c : body) normalized += c == '\n' ? std::string("\r\n") : std::string(1, c);

    RequestPool pool({}, {});
    pool.Add(1, RequestPool::Kind::Feed, server.Url("/feed"));
    const auto done = Drain(pool);
    std::string single;
    EXPECT_EQ(hanabira::FetchFeed(server.Url("/feed"), single, {}), RequestResult::Ok);
    const std::string page = hanabira::FetchPageText(server.Url("/feed"));

    EXPECT_EQ(done.at(1).text, normalized);
    EXPECT_EQ(single, normalized);
    EXPECT_EQ(page, normalized);
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(encodings.size(), 3u);
    EXPECT_NE(encodings[0].find("gzip"), std::string::npos) << encodings[0];
    EXPECT_NE(encodings[1].find("gzip"), std::string::npos) << encodings[1];
    EXPECT_EQ(encodings[2], "") << "a page fetch cut short keeps more of a plain answer";
}

// One host, one request at a time: HEAD and feed of five sites all go over one connection.
TEST_F(MultiFetchTest, RequestsToAHostReuseItsConnection) {
    std::mutex m;
    std::set<int> ports;
    int requests = 0;
    HttpTestServer server;
    server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(m);
        ports.insert(req.remote_port);
        ++requests;
        res.set_content("<rss/>", "text/xml");
    });
    server.server().set_keep_alive_max_count(100);  // the server's own default closes after 5
    server.Start();
    RequestPool pool({1, 1, 0}, {});
    for (int k = 0; k < 5; ++k) {
        pool.Add(2 * k, RequestPool::Kind::Head, server.Url("/" + std::to_string(k)));
        pool.Add(2 * k + 1, RequestPool::Kind::Feed, server.Url("/" + std::to_string(k)));
    }
    const auto done = Drain(pool);
    EXPECT_EQ(done.size(), 10u);
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(requests, 10);
    EXPECT_EQ(ports.size(), 1u) << "keep-alive: one connection for every request to the host";
}

TEST_F(MultiFetchTest, HostLimitsHoldAndOtherHostsGoOn) {
    struct Counter {
        std::mutex m;
        int active = 0, maxActive = 0;
        std::vector<std::chrono::steady_clock::time_point> arrivals;
    };
    const auto serve = [](Counter& c) {
        return [&c](HttpTestServer& s) {
            s.Get(".*", [&c, &s](const httplib::Request&, httplib::Response& res) {
                {
                    std::lock_guard<std::mutex> lock(c.m);
                    c.arrivals.push_back(std::chrono::steady_clock::now());
                    c.maxActive = std::max(c.maxActive, ++c.active);
                }
                s.Pause(150);
                std::lock_guard<std::mutex> lock(c.m);
                --c.active;
                res.set_content("<rss/>", "text/xml");
            });
        };
    };
    Counter ca, cb;
    HttpTestServer a(serve(ca)), b(serve(cb));
    RequestPool pool({16, 2, 0}, {});
    for (int k = 0; k < 8; ++k) pool.Add(static_cast<std::uint64_t>(k), RequestPool::Kind::Feed, a.Url("/a"));
    for (int k = 8; k < 12; ++k) pool.Add(static_cast<std::uint64_t>(k), RequestPool::Kind::Feed, b.Url("/b"));
    const auto done = Drain(pool);
    EXPECT_EQ(done.size(), 12u);
    std::scoped_lock lock(ca.m, cb.m);
    EXPECT_EQ(ca.maxActive, 2);
    EXPECT_EQ(cb.maxActive, 2);
    // The second host's requests were queued behind the first host's, yet ran beside them.
    ASSERT_EQ(ca.arrivals.size(), 8u);
    ASSERT_EQ(cb.arrivals.size(), 4u);
    EXPECT_LT(*std::min_element(cb.arrivals.begin(), cb.arrivals.end()),
              *std::max_element(ca.arrivals.begin(), ca.arrivals.end()));
}

TEST_F(MultiFetchTest, AStopEndsEveryRequestQueuedOrRunning) {
    HttpTestServer server;
    server.Get(".*", [&server](const httplib::Request&, httplib::Response& res) {
        server.Pause(10000);  // silent until the server stops
        res.set_content("late", "text/plain");
    });
    server.Start();
    std::atomic<bool> stop{false};
    RequestPool pool({2, 2, 0}, [&] { return stop.load(); });
    for (int k = 0; k < 5; ++k)
        pool.Add(static_cast<std::uint64_t>(k), k % 2 ? RequestPool::Kind::Feed : RequestPool::Kind::Head,
                 server.Url("/" + std::to_string(k)));
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(pool.Perform(20).empty());
    EXPECT_EQ(pool.Running(), 2);
    EXPECT_EQ(pool.Queued(), 3);
    stop = true;
    const auto at = std::chrono::steady_clock::now();
    const auto done = pool.Perform(50);
    EXPECT_LT(std::chrono::steady_clock::now() - at, std::chrono::milliseconds(500));
    ASSERT_EQ(done.size(), 5u);
    for (const RequestPool::Finished& f : done) {
        EXPECT_EQ(f.result, RequestResult::Aborted);
        EXPECT_EQ(f.text, "") << "a stopped request hands on nothing";
    }
    EXPECT_EQ(pool.Running() + pool.Queued(), 0);
}

TEST(RequestPoolHost, NamesSchemeHostAndPort) {
    const struct {
        const char* url;
        const char* host;
    } cases[] = {
        {"http://Example.COM/feed", "http://example.com:80"},
        {"https://example.com/feed?x=1", "https://example.com:443"},
        {"http://user:pw@127.0.0.5:8080/a/b", "http://127.0.0.5:8080"},
        {"example.com/feed", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RequestPool::HostOf(c.url), c.host) << c.url;
}

}  // namespace
