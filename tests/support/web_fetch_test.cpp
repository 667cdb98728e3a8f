#include "support/web_fetch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_test_server.h"
#include "support/codepage.h"
#include "test_support.h"

namespace hanabira {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing_support::HttpTestServer;
using testing_support::S;

double SecondsSince(steady_clock::time_point start) {
    return std::chrono::duration<double>(steady_clock::now() - start).count();
}

// Every test may shorten the limits; they are put back afterwards.
class WebFetchTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CurrentFetchLimits(); }
    void TearDown() override { CurrentFetchLimits() = saved_; }

    // Fast failure for the tests of dead servers.
    static void ShortLimits() {
        FetchLimits& l = CurrentFetchLimits();
        l.connectTimeoutSec = 2;
        l.lowSpeedBytesPerSec = 1;
        l.lowSpeedTimeSec = 1;
        l.totalTimeoutSec = 3;
    }

private:
    FetchLimits saved_;
};

// What the server saw of the requests.
struct Seen {
    struct Fields {
        std::string method, agent, accept, cacheControl, pragma;
    };
    void Record(const httplib::Request& req) {
        std::lock_guard<std::mutex> lock(mutex);
        last = {req.method, req.get_header_value("User-Agent"), req.get_header_value("Accept"),
                req.get_header_value("Cache-Control"), req.get_header_value("Pragma")};
    }
    // Read under the lock too: only the socket orders the server's write before this read, and
    // the thread sanitizer does not see sockets.
    Fields Last() {
        std::lock_guard<std::mutex> lock(mutex);
        return last;
    }

private:
    std::mutex mutex;
    Fields last;
};

void Reply(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, "text/html");
}

TEST_F(WebFetchTest, PageTextComesBackAsCrLfLines) {
    struct Case {
        const char* path;
        int status;
        std::string body;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/lf", 200, "a\nb", "a\r\nb\r\n"},
        {"/mixed", 200, "a\r\nb\rc\n\nd", "a\r\nb\r\nc\r\n\r\nd\r\n"},
        {"/empty", 200, "", ""},
        {"/nul", 200, std::string("a\nb\0c\nd", 7), "a\r\nb\r\n"},
        {"/missing", 404, "<html>Not here</html>", "<html>Not here</html>\r\n"},
        {"/error", 500, "<html>Oops</html>\n", "<html>Oops</html>\r\n"},
        {"/long", 200, std::string(100000, 'z'), std::string(100000, 'z') + "\r\n"},
    };
    HttpTestServer server;
    for (const auto& c : cases)
        server.Get(c.path, [&c](const httplib::Request&, httplib::Response& res) { Reply(res, c.status, c.body); });
    server.Start();
    for (const auto& c : cases) {
        EXPECT_EQ(FetchPageText(server.Url(c.path)), c.expected) << c.path;
        std::string stream = "kept:";
        EXPECT_TRUE(FetchToStream(stream, server.Url(c.path))) << c.path;
        EXPECT_EQ(stream, "kept:" + c.body) << c.path;  // raw bytes, appended
    }
}

TEST_F(WebFetchTest, UrlsThatCannotBeOpenedFail) {
    ShortLimits();
    const std::string refused = "http://127.0.0.1:" + std::to_string(HttpTestServer::UnusedPort()) + "/";
    const std::vector<std::string> urls = {
        "", "127.0.0.1", "127.0.0.1/feed", "not a url", refused, "file:///etc/hostname", "ftp://127.0.0.1/x",
    };
    for (const auto& url : urls) {
        const auto start = steady_clock::now();
        EXPECT_EQ(FetchPageText(url), S("<取得できませんでした>")) << url;
        std::string stream = "kept";
        EXPECT_FALSE(FetchToStream(stream, url)) << url;
        EXPECT_EQ(stream, "kept") << url;
        std::string status = "x", lastModified = "y";
        EXPECT_FALSE(QueryUrlStatus(url, status, lastModified)) << url;
        EXPECT_EQ(status, "") << url;
        EXPECT_EQ(lastModified, "") << url;
        std::string headers = "x";
        EXPECT_FALSE(HeadRequest(url, headers)) << url;
        EXPECT_EQ(headers, "") << url;
        EXPECT_LT(SecondsSince(start), 3.0) << url;
    }
}

TEST_F(WebFetchTest, StatusQueryAndHeadDoNotFollowRedirects) {
    HttpTestServer server;
    server.Get("/old", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/new", 301); });
    server.Get("/hop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/old", 302); });
    server.Get("/new", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Last-Modified", "Sat, 07 Jan 2006 10:00:00 GMT");
        Reply(res, 200, "new page");
    });
    server.Start();

    EXPECT_EQ(FetchPageText(server.Url("/hop")), "new page\r\n");

    std::string status, lastModified;
    EXPECT_FALSE(QueryUrlStatus(server.Url("/old"), status, lastModified));
    EXPECT_EQ(status, "301");
    EXPECT_TRUE(QueryUrlStatus(server.Url("/new"), status, lastModified));
    EXPECT_EQ(lastModified, "Sat, 07 Jan 2006 10:00:00 GMT");

    std::string headers;
    EXPECT_FALSE(HeadRequest(server.Url("/old"), headers));
    EXPECT_EQ(headers, "");
}

TEST_F(WebFetchTest, StatusQueryReportsCodeAndLastModified) {
    struct Case {
        const char* path;
        int status;
        const char* lastModified;  // nullptr: no such header
        bool expected;
    };
    const std::vector<Case> cases = {
        {"/ok", 200, "Mon, 02 Jan 2006 15:04:05 GMT", true},
        {"/ok-plain", 200, nullptr, true},
        {"/auth", 401, nullptr, true},
        {"/missing", 404, "Tue, 03 Jan 2006 00:00:00 GMT", false},
        {"/fail", 500, nullptr, false},
        {"/moved", 302, nullptr, false},
        {"/nothing", 204, nullptr, false},
    };
    HttpTestServer server;
    for (const auto& c : cases) {
        server.Get(c.path, [&c](const httplib::Request&, httplib::Response& res) {
            if (c.lastModified) res.set_header("Last-Modified", c.lastModified);
            if (c.status == 302) res.set_header("Location", "/ok");
            Reply(res, c.status, c.status == 204 ? "" : "<html>body</html>");
        });
    }
    // A body without end: the query must not wait for it.
    server.Get("/endless", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/html", [&server](size_t, httplib::DataSink& sink) {
            const std::string block(4096, 'e');
            return server.Pause(5) && sink.write(block.data(), block.size());
        });
    });
    server.Start();
    for (const auto& c : cases) {
        std::string status = "x", lastModified = "y";
        EXPECT_EQ(QueryUrlStatus(server.Url(c.path), status, lastModified), c.expected) << c.path;
        EXPECT_EQ(status, std::to_string(c.status)) << c.path;
        EXPECT_EQ(lastModified, c.lastModified ? c.lastModified : "") << c.path;
    }
    const auto start = steady_clock::now();
    std::string status, lastModified;
    EXPECT_TRUE(QueryUrlStatus(server.Url("/endless"), status, lastModified));
    EXPECT_LT(SecondsSince(start), 2.0);
}

TEST_F(WebFetchTest, EachRequestSendsItsOwnHeaders) {
    Seen seen;
    HttpTestServer server;
    server.Get("/x", [&seen](const httplib::Request& req, httplib::Response& res) {
        seen.Record(req);
        res.set_header("Last-Modified", "Sun, 08 Jan 2006 01:02:03 GMT");
        Reply(res, 200, "body");
    });
    server.Start();

    EXPECT_EQ(FetchPageText(server.Url("/x")), "body\r\n");
    EXPECT_EQ(seen.Last().method, "GET");
    EXPECT_EQ(seen.Last().agent, "Mozilla/4.0 (compatible; MSIE 6.0; Windows XP)");
    EXPECT_EQ(seen.Last().cacheControl, "no-cache");
    EXPECT_EQ(seen.Last().pragma, "no-cache");

    std::string status, lastModified;
    EXPECT_TRUE(QueryUrlStatus(server.Url("/x"), status, lastModified));
    EXPECT_EQ(seen.Last().method, "GET");
    EXPECT_EQ(seen.Last().agent, S("VUVarovaduro Hanabira 2号"));  // the title, as the program holds it

    std::string headers;
    EXPECT_TRUE(HeadRequest(server.Url("/x"), headers));
    EXPECT_EQ(seen.Last().method, "HEAD");
    EXPECT_EQ(seen.Last().agent, "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(seen.Last().accept, "text/html, */*");
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("\r\nLast-Modified: Sun, 08 Jan 2006 01:02:03 GMT"), std::string::npos) << headers;
    ASSERT_GE(headers.size(), 2u);
    EXPECT_NE(headers.substr(headers.size() - 2), "\r\n");  // lines joined, no break at the end
}

TEST_F(WebFetchTest, HeadSucceedsOnlyFor2xx) {
    HttpTestServer server;
    for (const int code : {200, 204, 299, 304, 401, 404, 500}) {
        server.Get("/" + std::to_string(code),
                   [code](const httplib::Request&, httplib::Response& res) { res.status = code; });
    }
    server.Start();
    for (const int code : {200, 204, 299, 304, 401, 404, 500}) {
        std::string headers;
        EXPECT_EQ(HeadRequest(server.Url("/" + std::to_string(code)), headers), code >= 200 && code < 300)
            << code;
    }
}

TEST_F(WebFetchTest, DeadAndEndlessServersEndQuickly) {
    ShortLimits();
    CurrentFetchLimits().maxBodyBytes = 64 * 1024;
    HttpTestServer server;
    server.Get("/stalled", [&server](const httplib::Request&, httplib::Response& res) {
        server.Pause(10000);  // never answers in time
        Reply(res, 200, "late");
    });
    server.Get("/stalled-body", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(10000, "text/html", [&server](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset == 0) return sink.write("first", 5);
            server.Pause(10000);
            return false;
        });
    });
    server.Get("/truncated", [](const httplib::Request&, httplib::Response& res) {
        // Promises 10000 bytes, sends 3000, then closes the connection.
        res.set_content_provider(10000, "text/html", [](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset > 0) return false;
            const std::string part(3000, 't');
            return sink.write(part.data(), part.size());
        });
    });
    server.Get("/endless", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&server](size_t, httplib::DataSink& sink) {
            const std::string block(4096, 'e');
            return !server.Stopping() && sink.write(block.data(), block.size());
        });
    });
    server.Start();

    struct Case {
        const char* path;
        bool fetched;
        size_t bytes;
    };
    const std::vector<Case> cases = {
        {"/stalled", false, 0},       // a time-out is a failure
        {"/stalled-body", false, 0},  // also in the middle of the body: nothing is kept
        {"/truncated", true, 3000},   // the body ends where the server stopped
        {"/endless", true, 64 * 1024},  // cut at the size limit, like an abort
    };
    for (const auto& c : cases) {
        const auto start = steady_clock::now();
        std::string stream;
        EXPECT_EQ(FetchToStream(stream, server.Url(c.path)), c.fetched) << c.path;
        EXPECT_EQ(stream.size(), c.bytes) << c.path;
        EXPECT_LT(SecondsSince(start), 4.5) << c.path;  // at most the overall limit
    }
    const auto start = steady_clock::now();
    std::string status, lastModified, headers;
    EXPECT_FALSE(QueryUrlStatus(server.Url("/stalled"), status, lastModified));
    EXPECT_EQ(status, "");
    EXPECT_FALSE(HeadRequest(server.Url("/stalled"), headers));
    EXPECT_EQ(FetchPageText(server.Url("/stalled")), S("<取得できませんでした>"));
    EXPECT_LT(SecondsSince(start), 8.0);
}

TEST_F(WebFetchTest, AbortKeepsWhatWasRead) {
    const std::string body = [] {
        std::string b;
        for (int i = 0; b.size() < 200000; ++i) b += "line " + std::to_string(i) + "\n";
        return b;
    }();
    HttpTestServer server;
    server.Get("/big", [&body](const httplib::Request&, httplib::Response& res) { Reply(res, 200, body); });
    server.Get("/trickle", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&server](size_t offset, httplib::DataSink& sink) {
            if (offset > 0 && !server.Pause(10000)) return false;  // then silence
            return sink.write("<item>\n", 7);
        });
    });
    server.Start();

    // The test runs before every block, and no block is larger than 1,025 bytes.
    std::string stream;
    std::vector<size_t> sizes;
    EXPECT_TRUE(FetchToStream(stream, server.Url("/big"), [&] {
        sizes.push_back(stream.size());
        return stream.size() >= 20000;
    }));
    EXPECT_GE(stream.size(), 20000u);
    EXPECT_LT(stream.size(), 20000u + 1025u);
    EXPECT_EQ(stream, body.substr(0, stream.size()));
    for (size_t i = 1; i < sizes.size(); ++i) EXPECT_LE(sizes[i] - sizes[i - 1], 1025u);

    // An abort while the server is silent ends the fetch without waiting for it.
    std::atomic<bool> aborted{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(300));
        aborted = true;
    });
    const auto start = steady_clock::now();
    const std::string text = FetchPageText(server.Url("/trickle"), [&] { return aborted.load(); });
    stopper.join();
    EXPECT_EQ(text, "<item>\r\n");
    EXPECT_LT(SecondsSince(start), 3.0);

    // An abort before the server has answered is no fetch at all.
    HttpTestServer silent([](HttpTestServer& s) {
        s.Get("/", [&s](const httplib::Request&, httplib::Response& res) {
            s.Pause(10000);
            Reply(res, 200, "late");
        });
    });
    std::string none;
    const auto start2 = steady_clock::now();
    EXPECT_FALSE(FetchToStream(none, silent.Url("/"), [] { return true; }));
    EXPECT_LT(SecondsSince(start2), 3.0);
}

TEST_F(WebFetchTest, HeadKeepsPumpingWhileTheServerIsSlow) {
    HttpTestServer server;
    server.Get("/slow", [&server](const httplib::Request&, httplib::Response& res) {
        server.Pause(1200);
        res.status = 200;
    });
    server.Start();

    std::vector<steady_clock::time_point> calls;
    const auto start = steady_clock::now();
    std::string headers;
    EXPECT_TRUE(HeadRequest(server.Url("/slow"), headers, [&] { calls.push_back(steady_clock::now()); }));
    ASSERT_GE(calls.size(), 5u);
    auto previous = start;
    for (const auto& t : calls) {
        EXPECT_LE(std::chrono::duration_cast<milliseconds>(t - previous).count(), 250);
        previous = t;
    }
}

TEST_F(WebFetchTest, RequestsFromSeveralThreadsAtOnce) {
    HttpTestServer server;
    server.Get(R"(/page/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        Reply(res, 200, "page " + req.matches[1].str() + "\n");
    });
    server.Start();
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const std::string n = std::to_string(t * 100 + i);
                std::string headers;
                if (FetchPageText(server.Url("/page/" + n)) == "page " + n + "\r\n" &&
                    HeadRequest(server.Url("/page/" + n), headers))
                    ++good;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), 40);
}

}  // namespace
}  // namespace hanabira

namespace hanabira {
namespace {

// The requests of the update checks end within a second of a stop, whatever the server does, and
// say that they were stopped; the pump runs throughout. Failures stay failures.
TEST_F(WebFetchTest, StoppedRequestsEndAtOnceAndSaySo) {
    ShortLimits();
    CurrentFetchLimits().lowSpeedTimeSec = 20;  // only the stop may end these
    CurrentFetchLimits().totalTimeoutSec = 30;
    HttpTestServer server;
    server.Get("/silent", [&server](const httplib::Request&, httplib::Response& res) {
        server.Pause(20000);  // no status line, no headers
        Reply(res, 200, "late");
    });
    server.Get("/after-headers", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/xml", [&server](size_t, httplib::DataSink&) {
            server.Pause(20000);  // headers sent, then nothing
            return false;
        });
    });
    server.Get("/trickle", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/xml", [&server](size_t, httplib::DataSink& sink) {
            return server.Pause(500) && sink.write("<x>", 1);  // 2 bytes a second
        });
    });
    server.Start();
    const std::string refused = "http://127.0.0.1:" + std::to_string(HttpTestServer::UnusedPort()) + "/";

    struct Case {
        const char* name;
        bool head;
        std::string url;
        int stopAfterMs;  // < 0: never stopped
        RequestResult want;
    };
    const std::vector<Case> cases = {
        {"HEAD to a silent server", true, server.Url("/silent"), 300, RequestResult::Aborted},
        {"feed from a silent server", false, server.Url("/silent"), 300, RequestResult::Aborted},
        {"feed stalled after its headers", false, server.Url("/after-headers"), 300, RequestResult::Aborted},
        {"feed trickling at 2 bytes/s", false, server.Url("/trickle"), 700, RequestResult::Aborted},
        {"HEAD refused", true, refused, -1, RequestResult::Failed},
        {"feed refused", false, refused, -1, RequestResult::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = steady_clock::now();
        std::vector<steady_clock::time_point> pumps;
        RequestControl control;
        control.pump = [&] { pumps.push_back(steady_clock::now()); };
        control.abort = [&] { return c.stopAfterMs >= 0 && SecondsSince(start) * 1000 >= c.stopAfterMs; };
        std::string out = "stale";
        const RequestResult r = c.head ? HeadCheck(c.url, out, control) : FetchFeed(c.url, out, control);
        EXPECT_EQ(r, c.want);
        if (c.stopAfterMs >= 0) {
            EXPECT_LT(SecondsSince(start) * 1000, c.stopAfterMs + 1000);
        }
        if (r == RequestResult::Aborted) {
            EXPECT_EQ(out, "") << "a stopped request hands back nothing";
        } else if (r == RequestResult::Failed) {
            EXPECT_EQ(out, c.head ? "" : S("<取得できませんでした>"));
        }
        auto previous = start;
        for (const auto& t : pumps) {
            EXPECT_LE(std::chrono::duration_cast<milliseconds>(t - previous).count(), 250);
            previous = t;
        }
    }
}

}  // namespace
}  // namespace hanabira
