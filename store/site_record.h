#pragma once
// One registered site: ten text fields, stored as one TAB-separated line.
#include <string>
#include <string_view>

namespace hanabira {

struct TMWBlogListRec {
    std::string SiteTitle, SiteURL, LastVisit, Registered, LastUpdate, Category, RSSURL, HeadTime,
        HeadCheck, ManagerName;
};
TMWBlogListRec ReadSiteRecord(std::string_view line);
std::string WriteSiteRecord(const TMWBlogListRec& rec);

// The SiteURL field of a stored line, without parsing the other fields.
std::string_view SiteURLOfLine(std::string_view line);

}  // namespace hanabira
