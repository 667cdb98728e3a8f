// The one Unicode-to-Shift_JIS conversion and its inverse: characters CP932 cannot hold as
// themselves are kept as "&#x...;" and come back, only in exactly that form; URLs go out with the
// real character percent-encoded.
#include "support/codepage.h"

#include <gtest/gtest.h>

#include <mutex>

#include "browser/page_tools.h"
#include "http_test_server.h"
#include "support/web_fetch.h"
#include "test_support.h"

using namespace hanabira;
using testing_support::S;

namespace {

struct Row {
    const char* typed;    // UTF-8, as the user types it or a feed holds it
    const char* written;  // UTF-8 spelling of the Shift_JIS text the program keeps
};

// The six strings that were lost, and the nine characters that turned into look-alikes.
const Row kRows[] = {
    {"今日も可愛い😊✨", "今日も可愛い&#x1f60a;&#x2728;"},
    {"ゆるふわ日記♡", "ゆるふわ日記&#x2661;"},
    {"𠮷野家", "&#x20bb7;野家"},
    {"Café «ル・ポワン»", "Caf&#xe9; &#xab;ル・ポワン&#xbb;"},
    {"ありがとう❤️", "ありがとう&#x2764;&#xfe0f;"},
    {"ゔぁんぱいあ", "&#x3094;ぁんぱいあ"},
    {"¥100", "&#xa5;100"},
    {"10時〜12時", "10時&#x301c;12時"},
    {"A—B", "A&#x2014;B"},
    {"3−1", "3&#x2212;1"},
    {"a‖b", "a&#x2016;b"},
    {"‾", "&#x203e;"},
    {"¢", "&#xa2;"},
    {"£", "&#xa3;"},
    {"¬", "&#xac;"},
};

}  // namespace

TEST(Codepage, EveryCharacterSurvivesInOneWrittenForm) {
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.typed);
        const std::string kept = Utf8ToSjis(r.typed);
        EXPECT_EQ(kept, Utf8ToSjis(r.written));  // the Japanese parts as CP932, the rest as references
        EXPECT_EQ(SjisToUtf8(kept), r.typed);
        EXPECT_EQ(Utf8ToSjis(SjisToUtf8(kept)), kept);
    }
    // What CP932 holds stays itself, the full-width forms of the look-alikes included.
    EXPECT_EQ(Utf8ToSjis("～―￥￠￡￢∥"), testing_support::Iconv("～―￥￠￡￢∥", "UTF-8", "CP932"));
    EXPECT_EQ(Utf8ToSjis("a\xFF" "b"), "a?b");  // a malformed byte is no character
}

TEST(Codepage, OnlyTheWrittenFormIsDecodedAndEveryFormReadsBackByteForByte) {
    struct Case {
        const char* stored;  // Shift_JIS spelled in UTF-8
        const char* shown;
    };
    const Case cases[] = {
        {"&#x2661;", "♡"},
        {"&#x1f60a;", "😊"},
        {"&#9825;", "&#9825;"},        // decimal
        {"&#X2661;", "&#X2661;"},      // upper-case x
        {"&#x2661A;", "&#x2661A;"},    // upper-case digit
        {"&#x02661;", "&#x02661;"},    // leading zero
        {"&#x2661", "&#x2661"},        // no semicolon
        {"&#x3042;", "&#x3042;"},      // あ: CP932 holds it, so the program never writes it so
        {"&#xd800;", "&#xd800;"},      // a surrogate is no character
        {"&#x110000;", "&#x110000;"},  // beyond Unicode
        {"&amp;#x2661;", "&amp;#x2661;"},
        {"&#x&#x2661;;", "&#x♡;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        const std::string stored = S(c.stored);
        EXPECT_EQ(SjisToUtf8(stored), c.shown);
        EXPECT_EQ(Utf8ToSjis(SjisToUtf8(stored)), stored);
    }
}

TEST(Codepage, TitleReferencesAreRewrittenOnlyForCharactersCp932CannotHold) {
    EXPECT_EQ(NormalizeReferences(S("日記&#9825;&#X2661;&#x02661;")), S("日記&#x2661;&#x2661;&#x2661;"));
    EXPECT_EQ(NormalizeReferences("&#12354; &#x3042; &amp; &#9825 &#99999999;"), "&#12354; &#x3042; &amp; &#9825 &#99999999;");
}

TEST(Codepage, UrlsAreRequestedWithTheRealCharacterPercentEncoded) {
    EXPECT_EQ(UrlForRequest("http://h/&#x2661;/a?b=&#x1f60a;#&#X2661;"), "http://h/%E2%99%A1/a?b=%F0%9F%98%8A#&#X2661;");
    EXPECT_EQ(SearchRequestURL(1, "http://h/&#x2661;/"), "http://www.google.co.jp/search?hl=ja&ie=UTF-8&q=site%3Ah/%E2%99%A1/");

    std::mutex mutex;
    std::string target;
    testing_support::HttpTestServer server([&](testing_support::HttpTestServer& s) {
        s.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mutex);
            target = req.target;
            res.set_content("ok", "text/plain");
        });
    });
    std::string body;
    ASSERT_TRUE(FetchToStream(body, server.Url("/&#x2661;/feed")));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(target, "/%E2%99%A1/feed");
}

TEST(Codepage, TheLinkListLetsTheWrittenFormThroughItsEscaping) {
    const std::string page = BuildLinkListPage(S("<a href=\"/&#x2661;?a=1&b=2\">日記&#x2661;</a>"),
                                               "http://h/", "", "");
    EXPECT_NE(page.find("href=\"http://h/%E2%99%A1?a=1&amp;b=2\""), std::string::npos) << page;
    EXPECT_NE(page.find(S("日記&#x2661;")), std::string::npos);
    EXPECT_EQ(page.find("&amp;#x2661;"), std::string::npos);
}
