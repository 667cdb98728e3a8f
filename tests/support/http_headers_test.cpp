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

}  // namespace
}  // namespace hanabira
