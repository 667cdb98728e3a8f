#include "check/dates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <random>
#include <stdexcept>

#include "support/sjis_text.h"
#include "test_support.h"

using namespace hanabira;
using testing_support::S;

namespace {

// A fixed clock: 2026/12/08 10:00:00 (2000-01-01 is day 36526).
TDateTime At(const char* text) {
    auto v = ReadDateText(text, 46000.0);
    if (!v) throw std::runtime_error(std::string("test date does not read: ") + text);
    return *v;
}
const TDateTime kNow = 46364.0 + 10.0 / 24.0;


// What the feed fetch hands over: Shift_JIS, lower-cased.
std::string DecodedFeed(const std::string& relative) {
    std::string bytes = testing_support::ReadData("feeds/" + relative);
    if (relative.rfind("EUC-JP/", 0) == 0) bytes = testing_support::Iconv(bytes, "EUC-JP", "CP932");
    return LowerSjis(bytes);
}

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old, hadOld_ = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (hadOld_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadOld_ = false;
};

}  // namespace

TEST(DatesTest, KnownDayNumbers) {
    struct Row { const char* text; double days; };
    const Row rows[] = {
        {"1899/12/30", 0},       {"1900/01/01", 2},        {"2000/01/01", 36526},
        {"2026/12/08", 46364},   {"9999/12/31", 2958465},  {"0001/01/01", -693593},
        {"1899/12/29 06:00", -1.25},  // before day 0 the time still counts forward
    };
    for (const auto& r : rows) {
        auto v = ReadDateText(r.text, kNow);
        ASSERT_TRUE(v) << r.text;
        EXPECT_DOUBLE_EQ(*v, r.days) << r.text;
    }
    EXPECT_DOUBLE_EQ(At("2026/12/08 10:00:00"), kNow);
}

TEST(DatesTest, ReplaceMonthNames) {
    EXPECT_EQ(ReplaceMonthNames("mon, 07 dec 2026"), "mon, 07 12 2026");
    EXPECT_EQ(ReplaceMonthNames("JAN Feb mAr apr may jun jul aug sep oct nov dec"),
              "01 02 03 04 05 06 07 08 09 10 11 12");
    EXPECT_EQ(ReplaceMonthNames(S("月曜 07 Dec")), S("月曜 07 12"));
    EXPECT_EQ(ReplaceMonthNames("mayday"), "05day");
}

TEST(DatesTest, ReadDateTextAccepts) {
    struct Row { std::string text, expected; };
    const Row rows[] = {
        {"2026/12/07 03:16:43", "2026/12/07 03:16:43"},
        {"2026/12/07 03:16:43 gm", "2026/12/07 03:16:43"},  // what follows the time is ignored
        {"2026/12/07 03:16:43z", "2026/12/07 03:16:43"},
        {"2026/12/07 03:16:43 /0500", "2026/12/07 03:16:43"},
        {"2026/12/07 03:16:43.999", "2026/12/07 03:16:43"},
        {"2026/12/07", "2026/12/07 00:00:00"},
        {"  2026 / 12 / 07  ", "2026/12/07 00:00:00"},
        {"2026/12/07/", "2026/12/07 00:00:00"},
        {"2026/12/07/ 10:20", "2026/12/07 10:20:00"},
        {"2026/12/7 3:16", "2026/12/07 03:16:00"},
        {"2026/12/07 03", "2026/12/07 03:00:00"},
        {"12/07", "2026/12/07 00:00:00"},  // month and day of the current year
        {"1/2 23:59:59", "2026/01/02 23:59:59"},
        {"0026/12/07", "0026/12/07 00:00:00"},  // four digits are the year as written
        {"2024/02/29", "2024/02/29 00:00:00"},
        {"2000/02/29", "2000/02/29 00:00:00"},
        {"2026/12/07 3:16 PM", "2026/12/07 15:16:00"},
        {"2026/12/07 3:16 pm", "2026/12/07 15:16:00"},
        {"2026/12/07 PM 3:16", "2026/12/07 15:16:00"},
        {"2026/12/07 am 3:16", "2026/12/07 03:16:00"},
        {"2026/12/07 12:00 AM", "2026/12/07 00:00:00"},
        {"2026/12/07 12:00 PM", "2026/12/07 12:00:00"},
        {"2026/12/07 11:59:59 pm", "2026/12/07 23:59:59"},
        {"2026/12/07 1:00am", "2026/12/07 01:00:00"},
        {"2026/12/07 " + S("午後") + "3:16", "2026/12/07 15:16:00"},
        {"2026/12/07 3:16 " + S("午前"), "2026/12/07 03:16:00"},
        {"03:16:43", "1899/12/30 03:16:43"},  // a time alone is on day 0
        {" 3:16 pm ", "1899/12/30 15:16:00"},
    };
    for (const auto& r : rows) {
        auto v = ReadDateText(r.text, kNow);
        ASSERT_TRUE(v) << r.text;
        EXPECT_EQ(FormatDateText(*v), r.expected) << r.text;
    }
}

TEST(DatesTest, ReadDateTextRefuses) {
    const std::string rows[] = {
        "",
        "   ",
        "gmt",
        "2026/12/07t03:16:43",
        "2026/dec/07",
        "07 dec 2026 03:16:43",
        "2026/13/01",
        "2026/00/10",
        "2026/12/00",
        "2026/12/32",
        "2026/04/31",
        "2026/02/29",
        "1900/02/29",
        "2100/02/29",
        "0000/01/01",
        "12345/01/01",
        "2026/12/07 24:00",
        "2026/12/07 25:00",
        "2026/12/07 10:60",
        "2026/12/07 10:00:60",
        "2026/12/07 10:00:00.1000",
        "2026/12/07 13:00 PM",
        "2026/12/07 0:30 AM",
        "2026/12/07 03:",
        "2026/12/07 03:16:",
        "2026/12/07 x",
        "03:16:43 gm",  // a time alone admits nothing after it
        "2026",
    };
    for (const auto& text : rows) EXPECT_FALSE(ReadDateText(text, kNow)) << text;
    EXPECT_EQ(DateValue("2026/12/07t03:16:43"), 0.0);
    EXPECT_GT(DateValue("2026/12/07"), 0.0);
}

TEST(DatesTest, ShortYearsFallIntoTheWindowAroundTheCurrentYear) {
    struct Row { const char* now; const char* text; const char* expected; };
    const Row rows[] = {
        {"2026/06/15", "76/01/01", "1976/01/01 00:00:00"},  // 50 years back
        {"2026/06/15", "75/12/31", "2075/12/31 00:00:00"},  // 49 years ahead
        {"2026/06/15", "26/12/07", "2026/12/07 00:00:00"},
        {"2026/06/15", "00/01/01", "2000/01/01 00:00:00"},
        {"2026/06/15", "99/01/01", "1999/01/01 00:00:00"},
        {"2026/06/15", "5/1/1", "2005/01/01 00:00:00"},
        {"2049/01/01", "99/01/01", "1999/01/01 00:00:00"},
        {"2049/01/01", "98/01/01", "2098/01/01 00:00:00"},
        {"2050/01/01", "00/01/01", "2000/01/01 00:00:00"},
        {"2050/01/01", "99/01/01", "2099/01/01 00:00:00"},
        {"2026/06/15", "026/01/01", "0026/01/01 00:00:00"},  // three digits are taken as written
    };
    for (const auto& r : rows) {
        auto v = ReadDateText(r.text, At(r.now));
        ASSERT_TRUE(v) << r.now << " " << r.text;
        EXPECT_EQ(FormatDateText(*v), r.expected) << r.now << " " << r.text;
    }
    // The two-number form takes the year of the clock it is given.
    EXPECT_EQ(FormatDateText(*ReadDateText("2/29", At("2028/01/01"))), "2028/02/29 00:00:00");
    EXPECT_FALSE(ReadDateText("2/29", At("2027/01/01")));
}

TEST(DatesTest, FormatDateText) {
    struct Row { double value; const char* expected; };
    const Row rows[] = {
        {36526.5, "2000/01/01 12:00:00"},
        {0, "1899/12/30 00:00:00"},
        {2, "1900/01/01 00:00:00"},
        {-1.25, "1899/12/29 06:00:00"},
        {46364.0 + 86399.4 / 86400.0, "2026/12/08 23:59:59"},   // milliseconds are dropped
        {46364.0 + 86399.9996 / 86400.0, "2026/12/09 00:00:00"},  // but a hair below the day is the day
        {2958465.99999, "9999/12/31 23:59:59"},
        {2958466.5, ""},
        {-700000, ""},
        {std::nan(""), ""},
        {HUGE_VAL, ""},
    };
    for (const auto& r : rows) EXPECT_EQ(FormatDateText(r.value), r.expected) << r.value;
}

TEST(DatesTest, EverySecondOfADayWritesBackAsRead) {
    char text[32];
    for (int s = 0; s < 86400; ++s) {
        std::snprintf(text, sizeof text, "2026/12/07 %02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
        auto v = ReadDateText(text, kNow);
        ASSERT_TRUE(v) << text;
        ASSERT_EQ(FormatDateText(*v), text);
        // Nine hours later, as the HEAD date's shift adds them.
        const int t = (s + 9 * 3600) % 86400;
        char shifted[32];
        std::snprintf(shifted, sizeof shifted, "2026/12/%02d %02d:%02d:%02d", s + 9 * 3600 >= 86400 ? 8 : 7,
                      t / 3600, t / 60 % 60, t % 60);
        ASSERT_EQ(FormatDateText(*v + 9.0 / 24.0), shifted);
    }
}

TEST(DatesTest, NowDateTimeIsTheLocalWallClock) {
    const char* zones[] = {"UTC", "Asia/Tokyo", "America/New_York"};
    for (const char* zone : zones) {
        if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone)) continue;
        ScopedTimeZone tz(zone);
        for (int attempt = 0; attempt < 3; ++attempt) {
            using std::chrono::system_clock;
            const std::time_t before = system_clock::to_time_t(system_clock::now());
            const std::string now = FormatDateText(NowDateTime());
            if (system_clock::to_time_t(system_clock::now()) != before) continue;  // the second turned
            std::tm tm{};
            localtime_r(&before, &tm);
            char expected[32];
            std::strftime(expected, sizeof expected, "%Y/%m/%d %H:%M:%S", &tm);
            EXPECT_EQ(now, expected) << zone;
            break;
        }
    }
}

TEST(DatesTest, HeadDateFromResponse) {
    struct Row { std::string headers, expected; };
    auto response = [](const std::string& lastModified) {
        return "HTTP/1.1 200 OK\r\nDate: Tue, 08 Dec 2026 01:00:00 GMT\r\nLast-Modified: " + lastModified +
               "\r\nContent-Type: text/xml";
    };
    const Row rows[] = {
        {response("Mon, 07 Dec 2026 03:16:43 GMT"), "2026/12/07 12:16:43"},
        {response("Thu, 31 Dec 2026 20:30:00 GMT"), "2027/01/01 05:30:00"},
        {response("Mon, 07 Dec 2026 03:16:43 +0900"), "2026/12/07 03:16:43"},
        {response("Wed, 07 Oct 2026 03:16:43 GMT"), "2026/10/07 12:16:43"},
        {response("Sun, 28 Feb 2027 15:00:00 GMT"), "2027/03/01 00:00:00"},
        {response("Mon, 07 Dec 2026 03:16:43 JST"), "2026/12/07 03:16:43"},
        {response("Monday, 07-Dec-26 03:16:43 GMT"), ""},
        {response("2026-12-07 03:16:43"), ""},  // no day name, no comma
        {response("Mon, 31 Feb 2026 03:16:43 GMT"), ""},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/xml", ""},
        {"HTTP/1.1 200 OK\r\nLAST-MODIFIED: Mon, 07 Dec 2026 03:16:43 GMT\r\n", "2026/12/07 12:16:43"},
        {"HTTP/1.1 200 OK\r\nlast-modified: Mon, 07 Dec 2026 03:16:43 GMT", "2026/12/07 12:16:43"},
        {"HTTP/1.1 200 OK\r\nLast-Modified:Mon, 07 Dec 2026 03:16:43 GMT\r\n", "2026/12/07 12:16:43"},  // the blank is optional in HTTP
        {"", ""},
    };
    for (const char* zone : {"UTC", "Asia/Tokyo"}) {
        ScopedTimeZone tz(zone);
        for (const auto& r : rows) EXPECT_EQ(HeadDateFromResponse(r.headers), r.expected) << zone << ": " << r.headers;
    }
}

namespace {

std::string PubDateFeed(const std::string& element) {
    return LowerSjis("<rss><channel><title>t</title><item><pubDate>" + element + "</pubDate></item></channel></rss>");
}
std::string DcDateFeed(const std::string& element) {
    return LowerSjis("<rdf:RDF><channel><dc:date>2001-01-01</dc:date></channel><item><dc:date>" + element +
                     "</dc:date></item></rdf:RDF>");
}

}  // namespace

TEST(DatesTest, FeedElementsAreNormalised) {
    struct Row { bool pubDate; std::string element, normalised, reads; };
    const Row rows[] = {
        {true, "Mon, 07 Dec 2026 03:16:43 +0900", "2026/12/07 03:16:43", "2026/12/07 03:16:43"},
        {true, "Wed, 7 Oct 2026 03:16:43 +0900", "2026/10/7 03:16:43", "2026/10/07 03:16:43"},
        // Another zone than Japan's is moved to Japan's clock and written plainly.
        {true, "Mon, 07 Dec 2026 03:16:43 GMT", "2026/12/07 12:16:43", "2026/12/07 12:16:43"},
        {true, "Mon, 07 Dec 2026 03:16:43 -0500", "2026/12/07 17:16:43", "2026/12/07 17:16:43"},
        {true, "  Mon,   07 Dec 2026 03:16:43   ", "2026/12/07 03:16:43", "2026/12/07 03:16:43"},
        {true, "Mon, 07 Dec 2026", "2026/12/07 ", "2026/12/07 00:00:00"},
        // Without the day name the date is kept rather than lost.
        {true, "07 Dec 2026 03:16:43 +0900", "2026/12/07 03:16:43", "2026/12/07 03:16:43"},
        {true, "2026-12-07T03:16:43+09:00", "2026/12/07 03:16:43", "2026/12/07 03:16:43"},
        {false, "2026-12-07T03:16:43+09:00", "2026/12/07 03:16:43", "2026/12/07 03:16:43"},
        {false, "2026-12-07T03:16:43Z", "2026/12/07 12:16:43", "2026/12/07 12:16:43"},
        {false, "2026-12-07", "2026/12/07", "2026/12/07 00:00:00"},
        {false, "2026-12-07T03:16:43-08:00", "2026/12/07 20:16:43", "2026/12/07 20:16:43"},
        {false, "\r\n2026-12-07T03:16:43+09:00\r\n", "2026/12/07 03:16:43", "2026/12/07 03:16:43"},
        {false, "  2026-12-07 03:16:43  ", "2026/12/07 03:16:43", "2026/12/07 03:16:43"},
    };
    for (const auto& r : rows) {
        const std::string feed = r.pubDate ? PubDateFeed(r.element) : DcDateFeed(r.element);
        const std::string got = FeedDateFromText(feed, kNow);
        EXPECT_EQ(got, r.normalised) << r.element;
        auto v = ReadDateText(got, kNow);
        ASSERT_TRUE(v) << got;
        EXPECT_EQ(FormatDateText(*v), r.reads) << got;
    }
}

TEST(DatesTest, FeedScanTakesTheFirstDateNotInTheFuture) {
    const std::string inOneHour = "<pubDate>Tue, 08 Dec 2026 11:00:00 +0900</pubDate>";
    const std::string inOneSecond = "<pubDate>Tue, 08 Dec 2026 10:00:01 +0900</pubDate>";
    const std::string rightNow = "<pubDate>Tue, 08 Dec 2026 10:00:00 +0900</pubDate>";
    const std::string yesterday = "<pubDate>Mon, 07 Dec 2026 10:00:00 +0900</pubDate>";
    const std::string lastWeek = "<pubDate>Tue, 01 Dec 2026 10:00:00 +0900</pubDate>";
    auto item = [](const std::string& date) { return "<item><title>x</title>" + date + "</item>\r\n"; };
    struct Row { const char* name; std::string feed, expected; };
    const Row rows[] = {
        {"future then yesterday", "<rss><channel>" + item(inOneHour) + item(yesterday) + item(lastWeek) + "</channel></rss>",
         "2026/12/07 10:00:00"},
        {"one second ahead is future", "<rss>" + item(inOneSecond) + item(lastWeek) + "</rss>", "2026/12/01 10:00:00"},
        {"now is not future", "<rss>" + item(rightNow) + item(lastWeek) + "</rss>", "2026/12/08 10:00:00"},
        {"channel date first", "<rss><channel>" + lastWeek + item(yesterday) + "</channel></rss>", "2026/12/01 10:00:00"},
        {"future channel date skipped", "<rss><channel>" + inOneHour + item(yesterday) + "</channel></rss>",
         "2026/12/07 10:00:00"},
        {"all future, text follows", "<rss>" + item(inOneHour) + item(inOneSecond) + "</rss>", ""},
        // A date yet to come is no update, even when nothing follows it.
        {"all future, ends on the element", "<rss>" + item(inOneHour) + inOneSecond, ""},
        {"empty element stops", "<rss>" + item(inOneHour) + item("<pubDate></pubDate>") + item(yesterday) + "</rss>", ""},
        {"blank element stops", "<rss>" + item("<pubDate>\r\n</pubDate>") + item(yesterday) + "</rss>", ""},
        {"an element that is no date is passed over", "<rss>" + item("<pubDate>Mon, someday</pubDate>") + item(yesterday),
         "2026/12/07 10:00:00"},
        {"end tag before start tag", "</pubDate><rss>" + item(yesterday), ""},
        {"start tag without end tag", "<rss><item><pubDate>Mon, 07 Dec 2026 10:00:00 +0900", ""},
        {"atom feed", "<feed><entry><updated>2026-12-07T10:00:00+09:00</updated></entry></feed>", "2026/12/07 10:00:00"},
        {"failed fetch", S("<取得できませんでした>"), ""},
        {"empty text", "", ""},
        {"japanese around dates", "<rss>" + item(S("<title>表示ソフト</title>") + yesterday) + "</rss>",
         "2026/12/07 10:00:00"},
    };
    for (const auto& r : rows) EXPECT_EQ(FeedDateFromText(LowerSjis(r.feed), kNow), r.expected) << r.name;
}

TEST(DatesTest, DcDateFeedsSkipTheChannelBlock) {
    struct Row { const char* name; std::string feed, expected; };
    const Row rows[] = {
        {"channel date ignored",
         "<rdf><channel><dc:date>2026-12-08T09:00:00+09:00</dc:date></channel>"
         "<item><dc:date>2026-12-09T00:00:00+09:00</dc:date></item><item><dc:date>2026-12-01</dc:date></item></rdf>",
         "2026/12/01"},
        {"empty channel date ignored",
         "<rdf><channel><dc:date></dc:date></channel><item><dc:date>2026-12-01T08:00:00+09:00</dc:date></item></rdf>",
         "2026/12/01 08:00:00"},
        {"no channel end: scanned from the start",
         "<rdf><dc:date>2026-11-30</dc:date><item><dc:date>2026-12-01</dc:date></item></rdf>", "2026/11/30"},
        {"pubDate anywhere decides the mode",
         "<rdf><channel><dc:date>2026-12-01</dc:date></channel><item><dc:date>2026-12-02</dc:date></item>"
         "<pubDate>Mon, 30 Nov 2026 00:00:00 +0900</pubDate></rdf>",
         "2026/11/30 00:00:00"},
        {"items only before the channel end", "<rdf><item><dc:date>2026-12-01</dc:date></item></channel></rdf>", ""},
    };
    for (const auto& r : rows) EXPECT_EQ(FeedDateFromText(LowerSjis(r.feed), kNow), r.expected) << r.name;
}

TEST(DatesTest, FeedWithoutClockUsesNow) {
    EXPECT_EQ(FeedDateFromText(PubDateFeed("Mon, 07 Dec 2026 03:16:43 +0900")).empty(), NowDateTime() < At("2026/12/07 03:16:43"));
    EXPECT_EQ(FeedDateFromText(PubDateFeed("Mon, 07 Dec 2099 03:16:43 +0900")), "");
}

namespace {

// The scan as written with the plain cutting primitives, to check the faster walk against.
std::string ReferenceFeedDate(std::string text, TDateTime now) {
    const bool pubDate = FindOnBoundary("<pubdate>", text) != std::string::npos;
    if (!pubDate) CutThrough(text, "</channel>");
    while (!text.empty()) {
        std::string e = pubDate ? TakeElement(text, "<pubdate>", "</pubdate>") : TakeElement(text, "<dc:date>", "</dc:date>");
        if (e.empty()) return {};
        const auto d = ReadFeedElement(e, pubDate, now);
        if (d && d->value <= now) return d->stored;
    }
    return {};
}

}  // namespace

TEST(DatesTest, ScanMatchesTheCuttingPrimitivesOnMixedText) {
    const std::string pieces[] = {
        "<pubdate>", "</pubdate>", "<pub", "date>", "</pub", "<dc:date>", "</dc:date>", "<dc:", "</channel>",
        "mon, 07 dec 2026 03:16:43 +0900", "tue, 09 dec 2026 03:16:43 +0900", "2026-12-01", "2027-01-01t00:00:00",
        "x", " ", "\r\n", S("表"), S("ソ"), "\x81", "<item>",
    };
    std::mt19937 rng(12345);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), count(0, 24);
    for (int round = 0; round < 4000; ++round) {
        std::string feed;
        for (size_t n = count(rng); n > 0; --n) feed += pieces[pick(rng)];
        ASSERT_EQ(FeedDateFromText(feed, kNow), ReferenceFeedDate(feed, kNow)) << feed;
    }
}

TEST(DatesTest, CorpusFeedsGiveTheDateAReaderFinds) {
    struct Row { const char* file; const char* expected; };
    const Row rows[] = {
        {"EUC-JP/artifact-jp.com.xml", "2003/05/16 19:29:16"},     // the channel's pubDate
        {"EUC-JP/misuzilla.org.xml", "2005/12/27"},                // date without time
        {"EUC-JP/club.h14m.org.xml", "2006/01/03 15:40:14"},       // +00:00: moved to Japan's clock
        {"EUC-JP/aivy.co.jp.xml", "2006/01/03 22:01:28"},
        {"EUC-JP/ch.kitaguni.tv.xml", "2005/12/22 20:19:00"},
        {"EUC-JP/overcube.com.atom.xml", "2006/01/01 00:00:00"},   // Atom 0.3: the first entry's issued
        {"SHIFT_JIS/yasuhisa.com.xml", "2006/01/03 21:32:56"},     // empty channel date cut away
        {"SHIFT_JIS/andore.com.inami.xml", "2006/01/03 12:30:00"},
        {"SHIFT_JIS/moon-light.ne.jp.xml", "2006/01/02 19:05:13"},
        {"SHIFT_JIS/10e.org.xml", "2006/01/03 04:02:09"},
        {"SHIFT_JIS/blog.inkase.net.xml", "2010/01/01 00:00:00"},
    };
    for (const auto& r : rows) {
        const std::string got = FeedDateFromText(DecodedFeed(r.file));
        EXPECT_EQ(got, r.expected) << r.file;
        if (*r.expected) {
            EXPECT_GT(DateValue(got), At("2003/01/01")) << r.file;
        }
    }
}
