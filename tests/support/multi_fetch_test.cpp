// RequestPool, the many-at-once driver of the update checks, against servers on 127.0.0.1: it ends
// every request as its single form does, accepts compressed feeds and reuses a host's connection.
// Its host limits, pause and stop are tested through the worker (tests/check/concurrent_check_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

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

// A service's blogs on many subdomains, and a second service beside it: names routed to one
// server on 127.0.0.1, whose answers take 150 ms. It records, per service, how many requests it
// works on at once and when each arrived.
TEST_F(MultiFetchTest, SixAtOnceAndFiftyStartsASecondToOneServiceWhateverItsSubdomains) {
    std::mutex m;
    std::map<std::string, int> active, most;
    std::map<std::string, std::vector<std::chrono::steady_clock::time_point>> arrivals;
    HttpTestServer server;
    // A thread for every connection: each subdomain has its own, kept open after its answer.
    server.server().new_task_queue = [] { return new httplib::ThreadPool(40); };
    server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string host = req.get_header_value("Host");
        const std::string service = host.find("example.co.jp") != std::string::npos ? "a" : "b";
        {
            std::lock_guard<std::mutex> lock(m);
            arrivals[service].push_back(std::chrono::steady_clock::now());
            most[service] = std::max(most[service], ++active[service]);
        }
        server.Pause(150);
        {
            std::lock_guard<std::mutex> lock(m);
            --active[service];
        }
        res.set_content("<rss/>", "text/xml");
    });
    server.Start();
    const std::string port = std::to_string(server.port());
    std::vector<std::string> urls;
    for (int k = 0; k < 24; ++k) urls.push_back("blog" + std::to_string(k) + ".example.co.jp");
    for (int k = 0; k < 6; ++k) urls.push_back("user" + std::to_string(k) + ".other.ne.jp");
    for (std::string& name : urls) {
        hanabira::CurrentFetchLimits().resolve.push_back(name + ":" + port + ":127.0.0.1");
        name = "http://" + name + ":" + port + "/feed";
    }
    RequestPool pool({32, 6, 20}, {});
    for (size_t i = 0; i < urls.size(); ++i) pool.Add(i, RequestPool::Kind::Feed, urls[i]);
    const auto done = Drain(pool);
    ASSERT_EQ(done.size(), urls.size());
    for (const auto& [tag, f] : done) EXPECT_EQ(f.result, RequestResult::Ok) << tag;

    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(most["a"], 6) << "a browser's share of one service, never more";
    EXPECT_EQ(most["b"], 6) << "the other service is not held up behind the first";
    // The pool starts a service's requests at least 20 ms apart. Arrivals are seen after the
    // server's accept and read, so two may land together when the first was held up; but none
    // may come earlier than the spacing allows by more than that jitter (40 ms, for sanitizers).
    for (auto& [service, times] : arrivals) {
        std::sort(times.begin(), times.end());
        double mostEarly = 0;
        for (size_t i = 0; i < times.size(); ++i)
            for (size_t j = i + 1; j < times.size(); ++j)
                mostEarly = std::max(mostEarly, 20.0 * static_cast<double>(j - i) -
                                                    std::chrono::duration<double, std::milli>(times[j] - times[i]).count());
        EXPECT_LE(mostEarly, 40.0) << service << ": at most 50 starts a second";
    }
}

// 429 and 503 ask the reader to slow down: the request is sent once more after the time asked
// (the requests to that service wait meanwhile); a second such answer is a failure.
TEST_F(MultiFetchTest, ASlowDownAnswerIsAskedOnceMoreAfterTheTimeItAsks) {
    std::mutex m;
    std::map<std::string, int> requests;
    std::map<std::string, std::chrono::steady_clock::time_point> lastArrival;
    HttpTestServer server;
    server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(m);
        const int n = ++requests[req.path];
        lastArrival[req.path] = std::chrono::steady_clock::now();
        if (req.path == "/busy" && n == 1) {
            res.status = 429;
            res.set_header("Retry-After", "1");
        } else if (req.path == "/down") {
            res.status = 503;
            res.set_header("Retry-After", "0");
        } else {
            res.set_content("<rss>ok</rss>", "text/xml");
        }
    });
    server.Start();
    const auto start = std::chrono::steady_clock::now();
    RequestPool pool({4, 1, 0}, {});
    pool.Add(1, RequestPool::Kind::Feed, server.Url("/busy"));
    pool.Add(2, RequestPool::Kind::Feed, server.Url("/plain"));  // the same service, queued behind
    pool.Add(3, RequestPool::Kind::Head, server.Url("/down"));
    pool.Add(4, RequestPool::Kind::Feed, server.Url("/down"));
    const auto done = Drain(pool);
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done.at(1).result, RequestResult::Ok);
    EXPECT_EQ(done.at(1).text, "<rss>ok</rss>\r\n");
    EXPECT_EQ(done.at(2).result, RequestResult::Ok);
    EXPECT_EQ(done.at(3).result, RequestResult::Failed);
    EXPECT_EQ(done.at(4).result, RequestResult::Failed);
    EXPECT_EQ(done.at(4).failure, hanabira::RequestFailureText(0, 503, 0));
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(requests["/busy"], 2);
    EXPECT_EQ(requests["/down"], 4) << "HEAD and GET, each asked twice";
    EXPECT_GE(lastArrival["/busy"] - start, std::chrono::milliseconds(900)) << "after the second it asked";
    EXPECT_GE(lastArrival["/plain"] - start, std::chrono::milliseconds(900)) << "its service waited too";
}

// Bodies held in memory have a budget: while a large feed is held beyond it, no other feed starts
// (a HEAD request holds no body and goes on); once it ends, the others follow.
TEST_F(MultiFetchTest, NoFeedStartsWhileTheBodiesHeldExceedTheBudget) {
    std::mutex m;
    std::condition_variable cv;
    bool stalled = false, release = false;
    std::map<std::string, int> requests;
    HttpTestServer server;
    server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> lock(m);
            ++requests[req.method + " " + req.path];
        }
        if (req.path != "/big") {
            res.set_content("<rss/>", "text/xml");
            return;
        }
        // Not a type the server compresses: the client holds every byte sent.
        res.set_chunked_content_provider("application/octet-stream", [&](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
                const std::string block(200 * 1024, 'x');
                sink.write(block.data(), block.size());
                return true;
            }
            std::unique_lock<std::mutex> lock(m);
            stalled = true;
            cv.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
            sink.done();
            return true;
        });
    });
    server.Start();
    RequestPool::Limits limits{8, 8, 0};
    limits.bodyBudgetBytes = 64 * 1024;
    RequestPool pool(limits, {});
    pool.Add(1, RequestPool::Kind::Feed, server.Url("/big"));
    std::vector<RequestPool::Finished> done;
    const auto spin = [&](int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end)
            for (auto& f : pool.Perform(20)) done.push_back(std::move(f));
    };
    for (int i = 0; i < 250; ++i) {
        spin(20);
        std::lock_guard<std::mutex> lock(m);
        if (stalled) break;
    }
    spin(100);  // the stalled body's bytes are taken in
    pool.Add(2, RequestPool::Kind::Feed, server.Url("/small"));
    pool.Add(3, RequestPool::Kind::Head, server.Url("/head"));
    spin(300);
    {
        std::lock_guard<std::mutex> lock(m);
        ASSERT_TRUE(stalled);
        EXPECT_EQ(requests["GET /small"], 0) << "held back while the budget is exceeded";
        EXPECT_EQ(requests["HEAD /head"], 1);
        release = true;
    }
    cv.notify_all();
    const auto rest = Drain(pool);
    for (const auto& [tag, f] : rest) done.push_back(f);
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(requests["GET /small"], 1);
    EXPECT_EQ(done.size(), 3u);
    for (const auto& f : done) EXPECT_EQ(f.result, RequestResult::Ok) << f.tag;
}

// Which requests count against one service's limits.
TEST(RequestPoolGroup, RegistrableDomainsAndHostsWithout) {
    const struct {
        const char* url;
        const char* group;
    } cases[] = {
        // Subdomains of one blog service, by any scheme or port: one group.
        {"http://alice.hatenablog.com/feed", "hatenablog.com"},
        {"https://bob.hatenablog.com:8443/rss", "hatenablog.com"},
        {"http://HATENABLOG.com/", "hatenablog.com"},
        {"http://blog.livedoor.jp/alice/index.rdf", "livedoor.jp"},
        {"http://alice.blogspot.com/feeds/posts/default", "blogspot.com"},  // a user's own suffix: still one service
        {"http://alice.example.jp./feed", "example.jp"},
        // Second-level registries of Japan.
        {"http://www.example.co.jp/feed", "example.co.jp"},
        {"http://blog.shop.example.ne.jp/rss", "example.ne.jp"},
        {"http://www.city.kawasaki.jp/rss", "city.kawasaki.jp"},
        // No registrable domain: the host and port stand alone.
        {"http://co.jp/feed", "co.jp:80"},
        {"http://127.0.0.1:8080/feed", "127.0.0.1:8080"},
        {"http://127.0.0.1:8081/feed", "127.0.0.1:8081"},
        {"http://[::1]:8080/feed", "[::1]:8080"},
        {"http://localhost/feed", "localhost:80"},
        {"https://nas.intranet/feed", "nas.intranet:443"},
        {"example.com/feed", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RequestPool::GroupOf(c.url), c.group) << c.url;
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
