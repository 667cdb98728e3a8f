// RequestPool, the many-at-once driver of the update checks, against servers on 127.0.0.1: it ends
// every request as its single form does, accepts compressed feeds and reuses a host's connection.
// Its host limits, pause and stop are tested through the worker (tests/check/concurrent_check_test).
#include <gtest/gtest.h>

#include <chrono>
#include <map>
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
