// Header fields as HTTP defines them, and the HEAD date read from them.
#include "support/http_headers.h"

#include <gtest/gtest.h>

#include "check/dates.h"

namespace hanabira {
namespace {

TEST(HttpHeaders, FieldsAsHttpReadsThem) {
    const std::string date = "Mon, 07 Dec 2026 03:16:43 GMT";
    struct Case {
        const char* name;
        std::string response;
        std::vector<std::string> values;  // of Last-Modified
        std::string headDate;             // HeadDateFromResponse
    };
    const std::vector<Case> cases = {
        {"usual", "HTTP/1.1 200 OK\r\nLast-Modified: " + date + "\r\n", {date}, "2026/12/07 12:16:43"},
        {"no blank after the colon", "HTTP/1.1 200 OK\r\nLast-Modified:" + date, {date}, "2026/12/07 12:16:43"},
        {"tabs and blanks around the value", "HTTP/1.1 200 OK\r\nlast-MODIFIED:\t  " + date + " \t\r\n", {date},
         "2026/12/07 12:16:43"},
        {"blank before the colon", "HTTP/1.1 200 OK\r\nLast-Modified : " + date, {date}, "2026/12/07 12:16:43"},
        {"folded onto a second line", "HTTP/1.1 200 OK\r\nLast-Modified: Mon, 07 Dec 2026\r\n  03:16:43 GMT\r\nX: y",
         {date}, "2026/12/07 12:16:43"},
        {"LF-only lines", "HTTP/1.1 200 OK\nLast-Modified: " + date + "\nX: y\n", {date}, "2026/12/07 12:16:43"},
        {"repeated: the first that reads counts",
         "HTTP/1.1 200 OK\r\nLast-Modified: yesterday\r\nLast-Modified: " + date + "\r\nLast-Modified: Tue, 08 Dec 2026 "
         "03:16:43 GMT",
         {"yesterday", date, "Tue, 08 Dec 2026 03:16:43 GMT"}, "2026/12/07 12:16:43"},
        {"a longer name is another field", "HTTP/1.1 200 OK\r\nX-Last-Modified: " + date, {}, ""},
        {"the name inside another value", "HTTP/1.1 200 OK\r\nX-Note: last-modified: " + date, {}, ""},
        {"a continuation of another field", "HTTP/1.1 200 OK\r\nX: a\r\n Last-Modified: " + date, {}, ""},
        {"empty value", "HTTP/1.1 200 OK\r\nLast-Modified:\r\n", {""}, ""},
        {"no fields", "HTTP/1.1 200 OK", {}, ""},
        {"nothing", "", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HeaderFieldValues(c.response, "Last-Modified"), c.values);
        EXPECT_EQ(HeadDateFromResponse(c.response), c.headDate);
    }
}

TEST(HttpHeaders, RetryAfterInSecondsOrAsADate) {
    const std::time_t now = 1793491200;  // Sun, 01 Nov 2026 00:00:00 GMT
    const struct {
        const char* headers;
        long seconds;
    } cases[] = {
        {"HTTP/1.1 429 Too Many Requests\r\nRetry-After: 120", 120},
        {"HTTP/1.1 503 Service Unavailable\r\nretry-after:  0 ", 0},
        {"HTTP/1.1 503 x\r\nRetry-After: 99999999999999999999", 86400},
        {"HTTP/1.1 429 x\r\nRetry-After: Sun, 01 Nov 2026 00:00:30 GMT", 30},
        {"HTTP/1.1 429 x\r\nRetry-After: Sat, 31 Oct 2026 23:00:00 GMT", 0},  // already past
        {"HTTP/1.1 429 x\r\nRetry-After: soon", -1},
        {"HTTP/1.1 429 x\r\nRetry-After: -5", -1},
        {"HTTP/1.1 429 x\r\nContent-Type: text/plain", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(RetryAfterSeconds(c.headers, now), c.seconds) << c.headers;
}

}  // namespace
}  // namespace hanabira
