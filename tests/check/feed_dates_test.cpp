// Feed dates of every real feed in tests/data/feeds, and of hand-written Atom feeds and zones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "check/dates.h"
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

// Every file of the folder, so that a feed added there cannot go unchecked.
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
        {"EUC-JP/atom.ycf.nanet.co.jp.xml", ""},
        {"EUC-JP/azito.under.jp.xml", "2006/01/02 01:47:44"},
        {"EUC-JP/azoz.org.xml", "2005/12/29 16:32:10"},
        {"EUC-JP/blog.kabu-navi.com.atom.xml", ""},
        {"EUC-JP/blog.kabu-navi.com.xml", ""},
        {"EUC-JP/bphrs.net.xml", "2005/12/26 19:45:28"},
        {"EUC-JP/ch.kitaguni.tv.xml", "2005/12/22 20:19:00"},
        {"EUC-JP/club.h14m.org.xml", "2006/01/03 06:40:14"},
        {"EUC-JP/contents-factory.com.xml", "2006/01/01 22:46:08"},
        {"EUC-JP/furusatonoeki.cutegirl.jp.xml", "2005/10/26 23:33:37"},
        {"EUC-JP/manana.moo.jp.xml", "2005/09/21 21:38:56"},
        {"EUC-JP/mimizun.com.xml", "2006/01/03 12:23:55"},
        {"EUC-JP/misuzilla.org.xml", "2005/12/27"},
        {"EUC-JP/overcube.com.atom.xml", ""},
        {"EUC-JP/overcube.com.xml", "2006/01/01 00:00:00"},
        {"EUC-JP/pinkupa.com.xml", "2006/01/01 12:01:09"},
        {"EUC-JP/rdf.ycf.nanet.co.jp.xml", "2006/01/01 01:22:43"},
        {"EUC-JP/siesta.co.jp.aozora.xml", "2006/01/03 21:20:37"},
        {"EUC-JP/tls.org.xml", "2006/01/03 09:33:46"},
        {"EUC-JP/yukiboh.moo.jp.xml", "2006/01/01 16:06:14"},
        {"SHIFT_JIS/10e.org.xml", "2006/01/03 04:02:09"},
        {"SHIFT_JIS/1affliate.com.xml", ""},
        {"SHIFT_JIS/_chromium_Shift-JIS_with_no_encoding_specified.html", ""},
        {"SHIFT_JIS/_ude_1.txt", ""},
        {"SHIFT_JIS/_ude_2.txt", ""},
        {"SHIFT_JIS/_ude_3.txt", ""},
        {"SHIFT_JIS/_ude_4.txt", ""},
        {"SHIFT_JIS/accessories-brand.com.xml", ""},
        {"SHIFT_JIS/amefoot.net.xml", ""},
        {"SHIFT_JIS/andore.com.inami.xml", "2006/01/02 19:30:00/08:00"},
        {"SHIFT_JIS/andore.com.money.xml", "2006/01/03 22:02:36"},
        {"SHIFT_JIS/andore.com.xml", "2005/08/23 07:46:13"},
        {"SHIFT_JIS/blog.inkase.net.xml", ""},
        {"SHIFT_JIS/blog.paseri.ne.jp.xml", ""},
        {"SHIFT_JIS/bloglelife.com.xml", ""},
        {"SHIFT_JIS/brag.zaka.to.xml", ""},
        {"SHIFT_JIS/celeb.lalalu.com.xml", ""},
        {"SHIFT_JIS/clickablewords.com.xml", ""},
        {"SHIFT_JIS/do.beginnersrack.com.xml", ""},
        {"SHIFT_JIS/dogsinn.jp.xml", ""},
        {"SHIFT_JIS/grebeweb.net.xml", ""},
        {"SHIFT_JIS/milliontimes.jp.xml", ""},
        {"SHIFT_JIS/moon-light.ne.jp.xml", "2006/01/02 19:05:13"},
        {"SHIFT_JIS/nextbeaut.com.xml", ""},
        {"SHIFT_JIS/ooganemochi.com.xml", ""},
        {"SHIFT_JIS/perth-on.net.xml", ""},
        {"SHIFT_JIS/sakusaka-silk.net.xml", "2005/12/18 15:58:42"},
        {"SHIFT_JIS/setsuzei119.jp.xml", ""},
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
