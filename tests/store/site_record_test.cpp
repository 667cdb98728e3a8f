#include "store/site_record.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

using hanabira::ReadSiteRecord;
using hanabira::TMWBlogListRec;
using hanabira::WriteSiteRecord;
using testing_support::S;

namespace {

std::vector<std::string> Fields(const TMWBlogListRec& r) {
    return {r.SiteTitle, r.SiteURL,  r.LastVisit, r.Registered, r.LastUpdate,
            r.Category,  r.RSSURL,   r.HeadTime,  r.HeadCheck,  r.ManagerName};
}

}  // namespace

TEST(SiteRecord, ReadsShortAndLongLines) {
    struct Case {
        std::string line;
        std::vector<std::string> fields;
        std::string rewritten;
    };
    const std::string nine(9, '\t');
    const std::vector<Case> cases = {
        {"", {"", "", "", "", "", "", "", "", "", ""}, nine},
        {"T\thttp://a/", {"T", "http://a/", "", "", "", "", "", "", "", ""}, "T\thttp://a/" + std::string(8, '\t')},
        {"T\t", {"T", "", "", "", "", "", "", "", "", ""}, "T" + nine},
        {"\t\tV", {"", "", "V", "", "", "", "", "", "", ""}, "\t\tV" + std::string(7, '\t')},
        {"1\t2\t3\t4\t5\t6\t7\t8\t9\t10",
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
         "1\t2\t3\t4\t5\t6\t7\t8\t9\t10"},
        // An eleventh value is not a field and is gone once the line is written again.
        {"1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12",
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
         "1\t2\t3\t4\t5\t6\t7\t8\t9\t10"},
        {"1\t2\t3\t4\t5\t6\t7\t8\t9\t", {"1", "2", "3", "4", "5", "6", "7", "8", "9", ""}, "1\t2\t3\t4\t5\t6\t7\t8\t9\t"},
        {S("日記\thttp://b/\t\t2026/01/02 03:04:05\t\t趣味\t\t\tSkip\t花子"),
         {S("日記"), "http://b/", "", "2026/01/02 03:04:05", "", S("趣味"), "", "", "Skip", S("花子")},
         S("日記\thttp://b/\t\t2026/01/02 03:04:05\t\t趣味\t\t\tSkip\t花子")},
    };
    for (const auto& c : cases) {
        const TMWBlogListRec rec = ReadSiteRecord(c.line);
        EXPECT_EQ(Fields(rec), c.fields) << testing::PrintToString(c.line);
        EXPECT_EQ(WriteSiteRecord(rec), c.rewritten) << testing::PrintToString(c.line);
        EXPECT_EQ(hanabira::SiteURLOfLine(c.line), rec.SiteURL) << testing::PrintToString(c.line);
        // A field taken straight from the line is the field of the parsed record.
        for (hanabira::SiteField f : hanabira::kSiteFields)
            EXPECT_EQ(hanabira::FieldOfLine(c.line, f), rec.*f) << testing::PrintToString(c.line);
    }
}
