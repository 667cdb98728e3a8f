#include "register/site_probe.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "register/probe_server.h"
#include "support/encoding.h"
#include "support/sjis_text.h"
#include "test_support.h"

namespace {

using hanabira::BuildSiteRecord;
using hanabira::ProbeResult;
using hanabira::ProbeSiteUrl;
using hanabira::ProbeUrlFromField;
using hanabira::SiteFields;
using probe_testing::Encode;
using probe_testing::ProbeServer;
using testing_support::S;

std::string ReplaceRoot(std::string text, const std::string& root) {
    for (size_t at = text.find("{root}"); at != std::string::npos; at = text.find("{root}", at + root.size()))
        text.replace(at, 6, root);
    return text;
}

// The three feeds every page may point at, one per encoding. The EUC-JP title starts with a kanji
// whose bytes decide the detection (kana alone leave EUC-JP and Shift_JIS undecided).
void ServeFeeds(ProbeServer& server) {
    server.Serve("/feed-sjis.xml",
                 Encode("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<rss><channel>\r\n"
                        "<title>花びら日記 DIARY</title>\r\n<item><title>最初の記事</title></item>\r\n"
                        "</channel></rss>\r\n",
                        "CP932"),
                 "application/rss+xml");
    server.Serve("/feed-euc.xml",
                 Encode("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\r\n<rdf:RDF><channel>\r\n"
                        "<title>日記ブログ Euc Feed</title>\r\n<link>http://example/</link>\r\n"
                        "<description>説明文です</description></channel></rdf:RDF>\r\n",
                        "EUC-JP"),
                 "application/rss+xml");
    server.Serve("/feeds/utf8.xml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed><title>Hanabira NEWS 日本語</title>\n"
                 "<entry><title>記事</title></entry></feed>\n",
                 "application/atom+xml");
    // Paths are case-sensitive: only a feed URL fetched as the page wrote it finds this one.
    server.Serve("/Feeds/UTF8.XML",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed><title>テスト Blog</title></feed>\n",
                 "application/atom+xml");
}

struct PageCase {
    const char* name;
    const char* head;      // UTF-8, {root} = the server's http://127.0.0.1:port
    const char* encoding;  // iconv name the page is served in
    const char* feed;      // expected feed URL, {root} allowed
    const char* title;     // expected title, UTF-8
};

const char kSjisTitle[] = "花びら日記 DIARY";
const char kEucTitle[] = "日記ブログ Euc Feed";
const char kUtf8Title[] = "Hanabira NEWS 日本語";

const PageCase kPages[] = {
    {"ShiftJisPage", "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"{root}/feed-sjis.xml\">",
     "CP932", "{root}/feed-sjis.xml", kSjisTitle},
    {"EucJpPage", "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"{root}/feed-euc.xml\" />",
     "EUC-JP", "{root}/feed-euc.xml", kEucTitle},
    {"Utf8Page", "<link rel=\"alternate\" href=\"{root}/feeds/utf8.xml\">", "UTF-8", "{root}/feeds/utf8.xml",
     kUtf8Title},
    {"StylesheetLinkPassedOver",
     "<link rel=\"stylesheet\" href=\"{root}/style.css\">\r\n<link rel=\"alternate\" href=\"{root}/feed-sjis.xml\">",
     "CP932", "{root}/feed-sjis.xml", kSjisTitle},
    {"EmptyHrefTriesNextLink",
     "<link rel=\"alternate\" href=\"\" title=\"空\">\r\n<link rel=\"alternate\" href=\"{root}/feed-euc.xml\">",
     "EUC-JP", "{root}/feed-euc.xml", kEucTitle},
    {"CapitalsFoundAndCaseKept",
     "<LINK REL=\"Alternate\" TYPE=\"application/rss+xml\" HREF=\"{root}/Feeds/UTF8.XML\">", "UTF-8",
     "{root}/Feeds/UTF8.XML", "テスト Blog"},
    {"AttributeOrderFree", "<link href=\"{root}/feed-sjis.xml\" type=\"application/rss+xml\" rel=\"alternate\">",
     "CP932", "{root}/feed-sjis.xml", kSjisTitle},
    {"UnquotedHrefEndsAtSpace", "<link href={root}/feed-sjis.xml rel=\"alternate\" title=\"rss\">", "CP932",
     "{root}/feed-sjis.xml", kSjisTitle},
    {"SingleQuotedHref", "<link href='{root}/feed-euc.xml' rel=\"alternate\" title=\"rss\">", "EUC-JP",
     "{root}/feed-euc.xml", kEucTitle},
    {"SingleQuotedRel", "<link rel='alternate' type='application/rss+xml' href='{root}/feed-sjis.xml'>", "CP932",
     "{root}/feed-sjis.xml", kSjisTitle},
    {"UnquotedRel", "<link rel=alternate type=application/rss+xml href={root}/feed-euc.xml>", "EUC-JP",
     "{root}/feed-euc.xml", kEucTitle},
    {"RelWithMoreThanAlternateNotFound", "<link rel=\"alternate stylesheet\" href=\"{root}/feed-sjis.xml\">",
     "CP932", "", ""},
    {"RootRelativeFeedResolved",
     "<link rel=\"alternate\" href=\"/feed-sjis.xml\">\r\n<link rel=\"alternate\" href=\"{root}/feed-euc.xml\">",
     "CP932", "{root}/feed-sjis.xml", kSjisTitle},
    {"DocumentRelativeFeedResolved", "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"../feed-euc.xml\">",
     "EUC-JP", "{root}/feed-euc.xml", kEucTitle},
    {"HreflangAlternateFirst",
     "<link rel=\"alternate\" hreflang=\"en\" href=\"{root}/en/\">\r\n"
     "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"{root}/feed-euc.xml\">",
     "EUC-JP", "{root}/feed-euc.xml", kEucTitle},
    {"FeedTypeBeforeUntypedAlternate",
     "<link rel=\"alternate\" href=\"{root}/feeds/utf8.xml\">\r\n"
     "<link rel=\"alternate\" type=\"application/atom+xml\" href=\"{root}/feed-sjis.xml\">",
     "CP932", "{root}/feed-sjis.xml", kSjisTitle},
    {"OnlyTheChosenLinkIsTried",
     "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"{root}/gone.xml\">\r\n"
     "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"{root}/feed-euc.xml\">",
     "CP932", "{root}/gone.xml", ""},
    {"MissingFeedGivesNoTitle", "<link rel=\"alternate\" href=\"{root}/gone.xml\">", "CP932", "{root}/gone.xml",
     ""},
};

class ProbePages : public testing::TestWithParam<PageCase> {
protected:
    static void SetUpTestSuite() {
        server_ = new ProbeServer;
        ServeFeeds(*server_);
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static ProbeServer* server_;
};
ProbeServer* ProbePages::server_ = nullptr;

TEST_P(ProbePages, FindsFeedAndTitle) {
    const PageCase& c = GetParam();
    const std::string root = server_->Root();
    const std::string charset = std::string(c.encoding) == "CP932" ? "Shift_JIS" : c.encoding;
    const std::string html = "<html><head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                             charset + "\">\r\n<title>ページの題名 Page</title>\r\n" +
                             ReplaceRoot(c.head, root) +
                             "\r\n</head>\r\n<body>\r\n<p>本文です</p>\r\n</body></html>\r\n";
    const std::string path = std::string("/page/") + c.name;
    server_->Serve(path, Encode(html, c.encoding));
    server_->ClearRequests();

    const ProbeResult r = ProbeSiteUrl(server_->Url(path));
    EXPECT_EQ(r.FeedURL, S(ReplaceRoot(c.feed, root).c_str()));
    EXPECT_EQ(r.Title, S(c.title));
    // The page first, then the feed it announces, and nothing else.
    const std::vector<std::string> requests = server_->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), path);
    EXPECT_EQ(requests.size(), *c.feed ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Probe, ProbePages, testing::ValuesIn(kPages),
                         [](const testing::TestParamInfo<PageCase>& info) { return info.param.name; });

class ProbeSite : public testing::Test {
protected:
    ProbeServer server_;
};

TEST_F(ProbeSite, HeadOnlyIsSearched) {
    ServeFeeds(server_);
    const std::string root = server_.Root();
    // A feed link after "<body" does not count, and a page without "<body" has no head at all.
    server_.Serve("/in-body",
                  ReplaceRoot("<html><head></head><body><link rel=\"alternate\" href=\"{root}/feed-sjis.xml\">"
                              "</body></html>",
                              root));
    server_.Serve("/no-body",
                  ReplaceRoot("<html><head><link rel=\"alternate\" href=\"{root}/feed-sjis.xml\"></head></html>",
                              root));
    for (const char* path : {"/in-body", "/no-body"}) {
        const ProbeResult r = ProbeSiteUrl(server_.Url(path));
        EXPECT_EQ(r.FeedURL, "") << path;
        EXPECT_EQ(r.Title, "") << path;
    }
}

TEST_F(ProbeSite, ReportsProgressPerFetch) {
    ServeFeeds(server_);
    server_.Serve("/with-feed",
                  ReplaceRoot("<head><link rel=\"alternate\" href=\"{root}/feed-sjis.xml\"></head><body>",
                              server_.Root()));
    server_.Serve("/without-feed", "<head></head><body>");
    std::vector<std::string> seen;
    auto record = [&seen](const std::string& s) { seen.push_back(s); };

    ProbeSiteUrl(server_.Url("/with-feed"), record);
    EXPECT_EQ(seen, (std::vector<std::string>{S("サイトデータを読み込んでいます"), S("RSSデータを読み込んでいます")}));
    seen.clear();
    ProbeSiteUrl(server_.Url("/without-feed"), record);
    EXPECT_EQ(seen, (std::vector<std::string>{S("サイトデータを読み込んでいます")}));
}

TEST_F(ProbeSite, UnfetchableUrlsGiveEmptyResults) {
    // No scheme: the fetch cannot open it, even though host and port are right.
    server_.Serve("/page", "<head><link rel=\"alternate\" href=\"/x\"></head><body>");
    const std::string bare = "127.0.0.1:" + std::to_string(server_.Port()) + "/page";
    for (const std::string& url : {bare, "http://127.0.0.1:" + std::to_string(testing_support::HttpTestServer::UnusedPort()) + "/x", std::string()}) {
        const ProbeResult r = ProbeSiteUrl(url);
        EXPECT_EQ(r.FeedURL, "") << url;
        EXPECT_EQ(r.Title, "") << url;
    }
}

TEST_F(ProbeSite, InvalidUtf8PageRaisesDecoderError) {
    server_.Serve("/bad-utf8", std::string("<html><head><meta charset=utf-8><title>t</title></head>"
                                           "<body>abc\x81 def</body></html>"));
    ProbeResult r;
    try {
        ProbeSiteUrl(server_.Url("/bad-utf8"), r);
        FAIL() << "no error raised";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "UTF-8 Unknown code.");
    }
    EXPECT_EQ(r.FeedURL, "");
}

TEST(ProbeUrlFromField, TrimsThenDropsOneSlash) {
    const struct {
        std::string field, url;
    } cases[] = {
        {"  http://a.example/blog/  ", "http://a.example/blog"},
        {"http://a.example/blog//", "http://a.example/blog/"},
        {S("　http://a.example/　"), "http://a.example"},
        {"http://a.example/\r\n", "http://a.example"},  // pasted with its line break
        {"/", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ProbeUrlFromField(c.field), c.url) << c.field;
}

TEST(BuildSiteRecord, FieldRules) {
    SiteFields f;
    f.SiteURL = " http://a.example/blog/ ";
    f.SiteTitle = S("　花びら\tの日記\r\n ");
    f.RSSURL = " http://a.example/rss.xml ";
    f.Category = S(" 日記 ");
    f.ManagerName = S(" 管理人 ");
    f.SkipHeadCheck = true;
    const auto rec = BuildSiteRecord(f, "2010/01/02 03:04:05", "2010/02/03 04:05:06", "2010/05/01 12:00:00");
    EXPECT_EQ(rec.SiteURL, "http://a.example/blog");
    EXPECT_EQ(rec.SiteTitle, S("花びらの日記"));  // no TAB or line break may reach the stored line
    EXPECT_EQ(rec.RSSURL, "http://a.example/rss.xml");
    EXPECT_EQ(rec.Category, S(" 日記 "));  // taken as chosen, not trimmed
    EXPECT_EQ(rec.ManagerName, S("管理人"));
    EXPECT_EQ(rec.LastVisit, "2010/01/02 03:04:05");
    EXPECT_EQ(rec.LastUpdate, "2010/02/03 04:05:06");
    EXPECT_EQ(rec.Registered, "2010/05/01 12:00:00");
    EXPECT_EQ(rec.HeadTime, "");
    EXPECT_EQ(rec.HeadCheck, "Skip");

    f.SkipHeadCheck = false;
    f.SiteURL = "http://a.example//";
    const auto plain = BuildSiteRecord(f, "", "", "2010/05/01 12:00:00");
    EXPECT_EQ(plain.HeadCheck, "");
    EXPECT_EQ(plain.SiteURL, "http://a.example/");
    EXPECT_EQ(plain.LastVisit, "");
    EXPECT_EQ(plain.LastUpdate, "");
}

// The head as pages write it, searched without a fetch. Page URL http://a.example/blog/index.html.
TEST(FindFeedLink, ChoosesTheFeedOfTheHead) {
    struct Row {
        const char* name;
        std::string head, feed;
    };
    const std::string rss = "type=\"application/rss+xml\"";
    const Row rows[] = {
        {"base href", "<base href=\"http://b.example/x/\"><link rel=\"alternate\" " + rss + " href=\"rss.xml\">",
         "http://b.example/x/rss.xml"},
        {"document relative", "<link rel=\"alternate\" " + rss + " href=\"index.rdf\">",
         "http://a.example/blog/index.rdf"},
        {"commented out link passed over",
         "<!-- <link rel=\"alternate\" " + rss + " href=\"/old.xml\"> --><link rel=\"alternate\" " + rss +
             " href=\"/new.xml\">",
         "http://a.example/new.xml"},
        {"link inside a script passed over",
         "<script>document.write('<link rel=\"alternate\" " + rss + " href=\"/js.xml\">');</script>"
         "<link rel=\"alternate\" href=\"/rss.xml\">",
         "http://a.example/rss.xml"},
        {"oEmbed data is no feed", "<link rel=\"alternate\" type=\"application/json+oembed\" href=\"/o\">", ""},
        {"a page in html is no feed", "<link rel=\"alternate\" type=\"text/html\" href=\"/m/\">", ""},
        {"another language is no feed", "<link rel=\"alternate\" hreflang=\"en\" href=\"/en/\">", ""},
        {"entities decoded", "<link rel=\"alternate\" " + rss + " href=\"/feed?a=1&amp;b=2\">",
         "http://a.example/feed?a=1&b=2"},
        {"> inside a quoted value", "<link title=\"a > b\" rel=\"alternate\" " + rss + " href=\"/rss.xml\">",
         "http://a.example/rss.xml"},
        {"attributes on their own lines",
         "<link\r\n rel=\"alternate\"\r\n " + rss + "\r\n href=\"/rss.xml\"\r\n/>", "http://a.example/rss.xml"},
        {"japanese title with 0x5C second bytes",
         S("<link title=\"表ソ\" rel=\"alternate\" ") + rss + " href=\"/Blog/Feed.XML\">",
         "http://a.example/Blog/Feed.XML"},
        {"no alternate", "<link rel=\"stylesheet\" href=\"/s.css\"><link rel=\"alternate\">", ""},
    };
    for (const auto& r : rows) {
        const std::string page = "<html><head><title>T</title>" + r.head + "</head><body><p>x</p></body>";
        EXPECT_EQ(hanabira::FindFeedLink(page, "http://a.example/blog/index.html"), r.feed) << r.name;
    }
    // Without a page URL the link is given as written.
    EXPECT_EQ(hanabira::FindFeedLink("<head><link rel=alternate href=/Rss.xml></head><body>"), "/Rss.xml");
}

// The probe decodes as the fetches do and lower-cases only its search copy: the two decodings must
// stay the same but for letter case.
TEST(DecodeAsServed, SameAsTheSearchDecodingButForCase) {
    std::vector<std::string> inputs = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><feed><title>Hanabira NEWS 日本語</title></feed>",
        "<meta charset=\"UTF-8\"><p>Ünïcode ok</p>",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss>\xff\xfe broken</rss>",
        Encode("<title>花びら ABC</title>", "EUC-JP"),
        Encode("<title>花びら ABC</title>", "CP932"),
        "",
    };
    for (const char* f : {"SHIFT_JIS/blog.inkase.net.xml", "EUC-JP/aivy.co.jp.xml", "SHIFT_JIS/_ude_1.txt"})
        inputs.push_back(testing_support::ReadData(std::string("feeds/") + f));
    for (const std::string& in : inputs) {
        EXPECT_EQ(hanabira::LowerSjis(hanabira::DecodeFeedAsServed(in)), hanabira::DecodeFeedText(in)) << in.substr(0, 60);
        std::string page, lowPage;
        try {
            page = hanabira::LowerSjis(hanabira::DecodePageAsServed(in));
        } catch (const std::runtime_error& e) {
            page = e.what();
        }
        try {
            lowPage = hanabira::DecodePageText(in);
        } catch (const std::runtime_error& e) {
            lowPage = e.what();
        }
        EXPECT_EQ(page, lowPage) << in.substr(0, 60);
    }
}

}  // namespace
