#include "check/visit_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

using namespace hanabira;
using testing_support::S;

namespace {

TMWBlogListRec Site(const std::string& visit, const std::string& head, const std::string& update,
                    const std::string& category = "", const std::string& title = "t") {
    TMWBlogListRec r;
    r.SiteTitle = title;
    r.SiteURL = "http://" + title + "/";
    r.LastVisit = visit;
    r.HeadTime = head;
    r.LastUpdate = update;
    r.Category = category;
    return r;
}

}  // namespace

TEST(VisitList, DateRule) {
    struct Case {
        const char* what;
        std::string visit, head, update;
        bool listed;
    };
    const std::string v = "2026/12/07 10:00:00";
    const std::vector<Case> cases = {
        {"never visited", "", "", "", true},
        {"never visited, old dates", "", "2000/01/01 00:00:00", "2000/01/01 00:00:00", true},
        {"a visit text that does not read is never", "someday", "", "", true},
        {"feed older than the visit", v, "2026/12/07 12:00:00", "2026/12/07 09:00:00", false},
        {"no HEAD date, feed a second newer", v, "", "2026/12/07 10:00:01", true},
        {"HEAD date older than the visit", v, "2026/12/07 09:00:00", "2026/12/07 11:00:00", false},
        {"both newer", v, "2026/12/07 10:30:00", "2026/12/07 11:00:00", true},
        {"update equal to the visit", v, "", v, false},
        {"HEAD equal to the visit", v, v, "2026/12/07 11:00:00", false},
        {"an update that does not read is no update", v, "", "not a date", false},
        {"an update that does not read, HEAD newer", v, "2026/12/07 11:00:00", "not a date", false},
        {"HEAD text that does not read counts as none", v, "garbage", "2026/12/07 11:00:00", true},
        {"visited, nothing known", v, "", "", false},
        {"feed date a day later", v, "", "2026/12/08 00:00:00", true},
    };
    for (const auto& c : cases) EXPECT_EQ(NeedsVisit(Site(c.visit, c.head, c.update)), c.listed) << c.what;
}

TEST(VisitList, CategoryAndOrder) {
    const std::string v = "2026/12/07 10:00:00";
    const std::string news = S("ニュース");
    TLightStrings view;
    view.Add(WriteSiteRecord(Site("", "", "", "", "new")));                             // listed
    view.Add(WriteSiteRecord(Site(v, "", "", news, "quiet")));                          // visited, no update
    view.Add(WriteSiteRecord(Site(v, "", "2026/12/07 11:00:00", news, "updated")));     // listed
    view.Add(WriteSiteRecord(Site("", "", "", S("未分類"), "literal")));                // listed
    view.Add("short\thttp://short/");                                                   // never visited
    view.Add(WriteSiteRecord(Site("", "", "", S("どこか"), "elsewhere")));

    struct Case {
        std::string category;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {S("すべてのサイト"), {"new", "updated", "literal", "short", "elsewhere"}},
        {S("未分類"), {"new", "literal", "short"}},
        {news, {"updated"}},
        {S("どこか"), {"elsewhere"}},
        {S("ない分類"), {}},
    };
    for (const auto& c : cases) {
        TLightStrings visits;
        visits.Add("stale");
        BuildVisitList(view, c.category, visits);
        std::vector<std::string> titles;
        for (int i = 0; i < visits.Count(); ++i) {
            const TMWBlogListRec rec = ReadSiteRecord(visits.Get(i));
            titles.push_back(rec.SiteTitle);
            EXPECT_EQ(visits.Get(i), WriteSiteRecord(rec)) << "lines are stored in their written form";
        }
        EXPECT_EQ(titles, c.titles) << c.category;
    }
}
