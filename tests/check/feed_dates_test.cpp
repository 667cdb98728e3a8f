// Feed dates of every real feed in tests/data/feeds, and of hand-written Atom feeds and zones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "check/dates.h"
#include "support/encoding.h"
#include "support/sjis_text.h"
#include "test_support.h"

using namespace hanabira;

namespace {

// 2026/12/08 10:00:00: every corpus feed lies in the past.
const TDateTime kNow = 46364.0 + 10.0 / 24.0;

// What the feed fetch hands over: Shift_JIS, lower-cased.
std::string DecodedFeed(const std::string& relative) {
    std::string bytes = testing_support::ReadData("feeds/" + relative);
    if (relative.rfind("EUC-JP/", 0) == 0) bytes = testing_support::Iconv(bytes, "EUC-JP", "CP932");
    return LowerSjis(bytes);
}

struct CorpusRow {
    const char* file;
    const char* expected;
};

// Every file of the folder, so that a feed added there cannot go unchecked. The RSS feeds give the
// dates they gave before Atom entries were read; only those written in another zone than Japan's
// moved (to Japan's clock).
const CorpusRow kCorpus[] = {
        {"EUC-JP/_mozilla_bug426271_text-euc-jp.html", ""},
        {"EUC-JP/_mozilla_bug431054_text.html", ""},
        {"EUC-JP/_mozilla_bug620106_text.html", ""},
        {"EUC-JP/_ude_1.txt", ""},
        {"EUC-JP/aivy.co.jp.xml", "2006/01/03 22:01:28"},
        {"EUC-JP/akaname.main.jp.xml", "2005/12/01 02:05:21"},
        {"EUC-JP/arclamp.jp.xml", "2005/12/30 19:07:00"},
        {"EUC-JP/aristrist.s57.xrea.com.xml", "2006/01/02 19:27:50"},
        {"EUC-JP/artifact-jp.com.xml", "2003/05/16 19:29:16"},
        {"EUC-JP/atom.ycf.nanet.co.jp.xml", "2006/01/01 01:22:43"},
        {"EUC-JP/azito.under.jp.xml", "2006/01/02 01:47:44"},
        {"EUC-JP/azoz.org.xml", "2005/12/29 16:32:10"},
        {"EUC-JP/blog.kabu-navi.com.atom.xml", "2005/03/31 01:08:09"},
        {"EUC-JP/blog.kabu-navi.com.xml", "2005/11/10 00:30:50"},
        {"EUC-JP/bphrs.net.xml", "2005/12/26 19:45:28"},
        {"EUC-JP/ch.kitaguni.tv.xml", "2005/12/22 20:19:00"},
        {"EUC-JP/club.h14m.org.xml", "2006/01/03 15:40:14"},  // +00:00: nine hours on
        {"EUC-JP/contents-factory.com.xml", "2006/01/01 22:46:08"},
        {"EUC-JP/furusatonoeki.cutegirl.jp.xml", "2005/10/26 23:33:37"},
        {"EUC-JP/manana.moo.jp.xml", "2005/09/21 21:38:56"},
        {"EUC-JP/mimizun.com.xml", "2006/01/03 12:23:55"},
        {"EUC-JP/misuzilla.org.xml", "2005/12/27"},
        {"EUC-JP/overcube.com.atom.xml", "2006/01/01 00:00:00"},
        {"EUC-JP/overcube.com.xml", "2006/01/01 00:00:00"},
        {"EUC-JP/pinkupa.com.xml", "2006/01/01 12:01:09"},
        {"EUC-JP/rdf.ycf.nanet.co.jp.xml", "2006/01/01 01:22:43"},
        {"EUC-JP/siesta.co.jp.aozora.xml", "2006/01/03 21:20:37"},
        {"EUC-JP/tls.org.xml", "2006/01/03 09:33:46"},
        {"EUC-JP/yukiboh.moo.jp.xml", "2006/01/01 16:06:14"},
        {"SHIFT_JIS/10e.org.xml", "2006/01/03 04:02:09"},
        {"SHIFT_JIS/1affliate.com.xml", "2005/12/28 21:39:12"},
        {"SHIFT_JIS/_chromium_Shift-JIS_with_no_encoding_specified.html", ""},
        {"SHIFT_JIS/_ude_1.txt", ""},
        {"SHIFT_JIS/_ude_2.txt", ""},
        {"SHIFT_JIS/_ude_3.txt", ""},
        {"SHIFT_JIS/_ude_4.txt", ""},
        {"SHIFT_JIS/accessories-brand.com.xml", "2005/02/15 08:43:06"},
        {"SHIFT_JIS/amefoot.net.xml", "2005/07/29 18:05:33"},
        {"SHIFT_JIS/andore.com.inami.xml", "2006/01/03 12:30:00"},  // -08:00: seventeen hours on
        {"SHIFT_JIS/andore.com.money.xml", "2006/01/03 22:02:36"},
        {"SHIFT_JIS/andore.com.xml", "2005/08/23 07:46:13"},
        {"SHIFT_JIS/blog.inkase.net.xml", "2010/01/01 00:00:00"},  // Atom 1.0 published, Z
        {"SHIFT_JIS/blog.paseri.ne.jp.xml", "2005/12/04 09:34:01"},
        {"SHIFT_JIS/bloglelife.com.xml", "2005/11/30 20:16:40"},
        {"SHIFT_JIS/brag.zaka.to.xml", "2005/05/05 20:35:00"},  // Atom 0.3 issued in +09:00 kept
        {"SHIFT_JIS/celeb.lalalu.com.xml", "2005/12/19 06:13:30"},
        {"SHIFT_JIS/clickablewords.com.xml", "2005/12/22 20:06:21"},
        {"SHIFT_JIS/do.beginnersrack.com.xml", "2005/10/23 09:08:00"},
        {"SHIFT_JIS/dogsinn.jp.xml", "2005/07/29 23:32:11"},
        {"SHIFT_JIS/grebeweb.net.xml", "2006/01/03 18:55:30"},
        {"SHIFT_JIS/milliontimes.jp.xml", "2005/04/24 17:27:52"},
        {"SHIFT_JIS/moon-light.ne.jp.xml", "2006/01/02 19:05:13"},
        {"SHIFT_JIS/nextbeaut.com.xml", "2005/12/30 17:39:29"},
        {"SHIFT_JIS/ooganemochi.com.xml", "2005/10/03 14:12:31"},
        {"SHIFT_JIS/perth-on.net.xml", "2005/12/27 18:21:02"},  // Atom 0.3 issued, Z
        {"SHIFT_JIS/sakusaka-silk.net.xml", "2005/12/18 15:58:42"},
        {"SHIFT_JIS/setsuzei119.jp.xml", "2005/10/13 09:52:02"},
        {"SHIFT_JIS/tamuyou.haun.org.xml", "2006/01/03 17:51:01"},
        {"SHIFT_JIS/yasuhisa.com.xml", "2006/01/03 21:32:56"},
};

}  // namespace

TEST(FeedDatesCorpus, EveryFeedGivesItsPinnedDate) {
    std::set<std::string> listed;
    for (const auto& r : kCorpus) {
        listed.insert(r.file);
        EXPECT_EQ(FeedDateFromText(DecodedFeed(r.file), kNow), r.expected) << r.file;
    }
    const std::filesystem::path root = testing_support::DataPath("feeds");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = std::filesystem::relative(entry.path(), root).generic_string();
        EXPECT_TRUE(listed.count(relative)) << relative << " has no pinned date";
    }
}

namespace {

std::string PubDateFeed(const std::string& element) {
    return LowerSjis("<rss><channel><item><pubDate>" + element + "</pubDate></item></channel></rss>");
}
std::string DcDateFeed(const std::string& element) {
    return LowerSjis("<rdf:RDF><channel></channel><item><dc:date>" + element + "</dc:date></item></rdf:RDF>");
}

}  // namespace

// The stored date is on Japan's clock whatever zone the feed writes; Japan's own zone and dates
// without a zone keep the text they always had.
TEST(FeedDatesZones, StoredOnJapansClock) {
    struct Row {
        bool pubDate;
        const char* element;
        const char* stored;
    };
    const Row rows[] = {
        {true, "Mon, 07 Dec 2026 03:16:43 +0000", "2026/12/07 12:16:43"},
        {true, "Mon, 07 Dec 2026 03:16:43 GMT", "2026/12/07 12:16:43"},
        {true, "Mon, 07 Dec 2026 03:16:43 EST", "2026/12/07 17:16:43"},
        {true, "Mon, 07 Dec 2026 03:16:43 +05:30", "2026/12/07 06:46:43"},
        {true, "Sun, 06 Dec 2026 20:30:00 -0800", "2026/12/07 13:30:00"},   // the next day in Japan
        {true, "Mon, 07 Dec 2026 03:16:43 +0900", "2026/12/07 03:16:43"},
        {true, "Mon, 07 Dec 2026 03:16:43 JST", "2026/12/07 03:16:43 js"},
        {true, "Mon, 07 Dec 2026 03:16:43", "2026/12/07 03:16:43"},
        {true, "Mon, 07 Dec 2026 03:16:43 XYZ", "2026/12/07 12:16:43"},  // unknown: Greenwich, never Japan
        {false, "2026-12-07T03:16:43Z", "2026/12/07 12:16:43"},
        {false, "2026-12-07T03:16:43+00:00", "2026/12/07 12:16:43"},
        {false, "2026-12-07T03:16:43-08:00", "2026/12/07 20:16:43"},
        {false, "2026-12-07T03:16:43.1234567Z", "2026/12/07 12:16:43"},
        {false, "2026-12-07T03:16:43+09:00", "2026/12/07 03:16:43"},
        {false, "2026-12-07T03:16:43", "2026/12/07 03:16:43"},
        {false, "2026-12-07", "2026/12/07"},
        {false, "2026-12-07Z", "2026/12/07 09:00:00"},  // no time: midnight in that zone
    };
    for (const auto& r : rows) {
        const std::string feed = r.pubDate ? PubDateFeed(r.element) : DcDateFeed(r.element);
        EXPECT_EQ(FeedDateFromText(feed, kNow), r.stored) << r.element;
    }
}

// Whether a date lies in the future is decided on Japan's clock: 02:00 Greenwich is 11:00 in Japan,
// after the clock's 10:00, so the older item is taken.
TEST(FeedDatesZones, FutureIsJudgedAfterTheMove) {
    const std::string feed = DcDateFeed("2026-12-08T02:00:00Z</dc:date></item><item><dc:date>2026-12-08T00:30:00Z");
    EXPECT_EQ(FeedDateFromText(feed, kNow), "2026/12/08 09:30:00");
}

TEST(FeedDatesAtom, EntriesGiveTheDate) {
    const std::string atom10 = "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\">"
                               "<title>t</title><updated>2026-12-08T09:00:00+09:00</updated>";
    const std::string atom03 = "<feed version=\"0.3\"><modified>2026-12-08T00:00:00Z</modified>";
    struct Row {
        const char* name;
        std::string feed, expected;
    };
    const Row rows[] = {
        {"published before updated, feed date passed over",
         atom10 + "<entry><title>a</title><updated>2026-12-07T12:00:00+09:00</updated>"
                  "<published>2026-12-06T12:00:00+09:00</published></entry></feed>",
         "2026/12/06 12:00:00"},
        {"updated when not published",
         atom10 + "<entry><updated>2026-12-05T12:00:00+09:00</updated></entry></feed>", "2026/12/05 12:00:00"},
        {"issued before modified",
         atom03 + "<entry><modified>2026-12-07T00:00:00Z</modified><issued>2026-12-06T20:00:00+09:00</issued>"
                  "<created>2026-12-06T11:00:00Z</created></entry></feed>",
         "2026/12/06 20:00:00"},
        {"modified when not issued", atom03 + "<entry><modified>2026-12-07T00:00:00Z</modified></entry></feed>",
         "2026/12/07 09:00:00"},
        {"future entry skipped",
         atom10 + "<entry><published>2026-12-09T00:00:00+09:00</published></entry>\r\n"
                  "<entry xml:lang=\"ja\"><published>2026-12-01T00:00:00+09:00</published></entry></feed>",
         "2026/12/01 00:00:00"},
        {"every entry in the future", atom10 + "<entry><published>2026-12-09T00:00:00+09:00</published></entry></feed>",
         ""},
        {"entry without a date stops", atom10 + "<entry><title>a</title></entry><entry><published>2026-12-01"
                                                "</published></entry></feed>",
         ""},
        {"empty date stops",
         atom10 + "<entry><published></published></entry><entry><published>2026-12-01</published></entry></feed>",
         ""},
        {"cut off inside an entry", atom10 + "<entry><published>2026-12-01T00:00:00+09:00</published><title>",
         "2026/12/01 00:00:00"},
        {"a date that does not read is passed over",
         atom10 + "<entry><published>someday</published></entry><entry><published>2026-12-01</published></entry>",
         "2026/12/01"},
        {"longer tag names are no entries",
         atom10 + "<entrylist><published>2026-12-03</published></entrylist>"
                  "<entry><published>2026-12-01</published></entry>",
         "2026/12/01"},
        // An RSS date element anywhere keeps the RSS reading, even with entries beside it.
        {"rss element decides",
         "<rdf><channel><dc:date>2026-12-01</dc:date></channel></rdf><entry><published>2026-12-01</published>"
         "</entry>",
         ""},
    };
    for (const auto& r : rows) EXPECT_EQ(FeedDateFromText(LowerSjis(r.feed), kNow), r.expected) << r.name;
}

namespace {

enum class Kind { Rss2, Rss1, Atom };

// A feed as fetched (UTF-8 bytes) holding the given date elements, read the way the check reads it.
std::string FeedDateOf(Kind kind, const std::vector<std::string>& elements) {
    std::string feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (kind == Kind::Rss2) {
        feed += "<rss version=\"2.0\"><channel><title>日記</title>";
        for (const auto& e : elements) feed += "<item><title>記事</title><pubDate>" + e + "</pubDate></item>";
        feed += "</channel></rss>";
    } else if (kind == Kind::Rss1) {
        feed += "<rdf:RDF><channel><title>日記</title></channel>";
        for (const auto& e : elements) feed += "<item><title>記事</title><dc:date>" + e + "</dc:date></item>";
        feed += "</rdf:RDF>";
    } else {
        feed += "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>日記</title>";
        for (const auto& e : elements) feed += "<entry><title>記事</title><published>" + e + "</published></entry>";
        feed += "</feed>";
    }
    return FeedDateFromText(DecodeFeedText(feed), kNow);
}

}  // namespace

// Dates as real feeds write them, through the same path as a fetched feed. A form the program always
// read right keeps its stored text; the others are stored plainly with the right instant on Japan's
// clock; a text that is no date is passed over.
TEST(FeedDatesForms, EachFamilyAsRealFeedsWriteIt) {
    const std::string older = "Tue, 01 Dec 2026 10:00:00 +0900";
    struct Row {
        Kind kind;
        std::string element, stored;
    };
    const Row rows[] = {
        // Standard forms: their stored text, byte for byte.
        {Kind::Rss2, "Mon, 07 Dec 2026 03:16:43 +0900", "2026/12/07 03:16:43"},
        {Kind::Rss2, "Wed, 7 Oct 2026 03:16:43 +0900", "2026/10/7 03:16:43"},
        {Kind::Rss2, "Mon, 07 Dec 2026 03:16:43 JST", "2026/12/07 03:16:43 js"},
        {Kind::Rss2, "MON, 07 DEC 2026 03:16 +0900", "2026/12/07 03:16"},
        {Kind::Rss1, "2026-12-07T03:16:43+09:00", "2026/12/07 03:16:43"},
        {Kind::Atom, "2026-12-07T03:16:43Z", "2026/12/07 12:16:43"},
        // Zones: RFC 822 and 2822 names, Greenwich with offsets, Etc/GMT (the sign reversed), the
        // European, North American (daylight by the US rule) and Asian abbreviations.
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 MEST", "2015/04/30 15:57:00"},
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 MET", "2015/04/30 16:57:00"},
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 Etc/GMT", "2015/04/30 17:57:00"},
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 Etc/GMT+5", "2015/04/30 22:57:00"},
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 GMT-3", "2015/04/30 20:57:00"},
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 UTC+01:00", "2015/04/30 16:57:00"},
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 UT", "2015/04/30 17:57:00"},
        {Kind::Rss2, "Thu, 30 Apr 2015 08:57:00 A", "2015/04/30 17:57:00"},  // military: no offset
        {Kind::Rss2, "26 January 2004 10:00:00 ET", "2004/01/27 00:00:00"},
        {Kind::Rss2, "26 July 2004 10:00:00 ET", "2004/07/26 23:00:00"},
        {Kind::Rss2, "26 July 2004 10:00:00 PT", "2004/07/27 02:00:00"},
        {Kind::Rss2, "Sun, 09 Mar 2025 10:00:00 CT", "2025/03/10 00:00:00"},  // the day daylight time begins
        {Kind::Rss2, "Sat, 08 Mar 2025 10:00:00 CT", "2025/03/09 01:00:00"},
        {Kind::Rss2, "26 July 2004 10:00:00 AT", "2004/07/26 22:00:00"},
        {Kind::Rss2, "26 July 2004 10:00:00 MT", "2004/07/27 01:00:00"},
        {Kind::Rss2, "26 July 2004 10:00:00 CST", "2004/07/27 01:00:00"},  // US Central, as always
        {Kind::Rss2, "26 July 2004 10:00:00 BST", "2004/07/26 18:00:00"},
        {Kind::Rss2, "Mon, 07 Dec 2026 03:16:43 IST", "2026/12/07 06:46:43"},
        {Kind::Rss2, "Mon, 07 Dec 2026 03:16:43 HKT", "2026/12/07 04:16:43"},
        {Kind::Rss2, "Mon, 07 Dec 2026 03:16:43 XYZ", "2026/12/07 12:16:43"},  // unknown: Greenwich
        {Kind::Rss1, "2026-12-07T03:16:43 UTC", "2026/12/07 12:16:43"},
        {Kind::Atom, "2026-12-07T03:16:43-05", "2026/12/07 17:16:43"},
        // Forms: full month names in any case, stray commas and blanks (a no-break space too), day
        // and month either way round, the C library's form (also with the zone before the year),
        // no seconds, no time.
        {Kind::Rss2, "26 January 2004", "2004/01/26 00:00:00"},
        {Kind::Rss2, "Monday, 26 JANUARY 2004 10:00:00 +0900", "2004/01/26 10:00:00"},
        {Kind::Rss2, "13 Feb, 2012 10:00:00 +0900", "2012/02/13 10:00:00"},
        {Kind::Rss2, "Mon,\xC2\xA0" "07 Dec 2026 03:16:43 +0900", "2026/12/07 03:16:43"},
        {Kind::Rss2, "Thu Aug 30 2012 17:26:16 +0200", "2012/08/31 00:26:16"},
        {Kind::Rss2, "Sun Jan  4 16:29:06 2004", "2004/01/04 16:29:06"},
        {Kind::Rss2, "Sun Jan 4 16:29:06 PST 2004", "2004/01/05 09:29:06"},
        {Kind::Rss2, "Mon, 07 Dec 26 03:16:43 +0900", "26/12/07 03:16:43"},  // read right as ever: kept
        {Kind::Atom, "2026-12-07T03:16Z", "2026/12/07 12:16:00"},
        // No date: passed over, the next element counts.
        {Kind::Rss2, "1:2:3:4", "2026/12/01 10:00:00"},
        {Kind::Rss2, "Mon, 07 Dec 2026 1:2:3:4 +0900", "2026/12/01 10:00:00"},
        {Kind::Rss1, "2013-xx-27", "2026/12/01 10:00:00"},
        {Kind::Rss2, "Mon, 32 Dec 2026 03:16:43 +0900", "2026/12/01 10:00:00"},
        {Kind::Rss2, "Mon, 07 Dec 2026 25:16:43 +0900", "2026/12/01 10:00:00"},
        {Kind::Rss2, "Mon, 07 Dec 2026 03:16:43 +2500", "2026/12/01 10:00:00"},
        {Kind::Atom, "someday", "2026/12/01 10:00:00"},
    };
    for (const Row& r : rows) {
        const bool noDate = r.stored == "2026/12/01 10:00:00";
        const std::string older2 = r.kind == Kind::Rss2 ? older : "2026-12-01T10:00:00+09:00";
        EXPECT_EQ(FeedDateOf(r.kind, noDate ? std::vector<std::string>{r.element, older2}
                                            : std::vector<std::string>{r.element}),
                  r.stored)
            << r.element;
    }
}

// Dates stored by earlier versions, leftovers and all, read exactly as they always did: bad forms
// are turned away where a feed is read, never where a stored text is.
TEST(FeedDatesForms, StoredLeftoversReadAsBefore) {
    const struct {
        const char* stored;
        const char* reads;
    } rows[] = {
        {"2015/04/30 08:57:00 me", "2015/04/30 08:57:00"},
        {"2026/12/07 03:16:43 js", "2026/12/07 03:16:43"},
        {"2026/12/07 03:16:43 gm", "2026/12/07 03:16:43"},
        {"2026/10/7 03:16:43", "2026/10/07 03:16:43"},
        {"2026/12/07 ", "2026/12/07 00:00:00"},
        {"2026/12/07z", ""},
        {"//someday ", ""},
    };
    for (const auto& r : rows) {
        const auto v = ReadDateText(r.stored, kNow);
        EXPECT_EQ(v ? FormatDateText(*v) : std::string(), r.reads) << r.stored;
    }
}
