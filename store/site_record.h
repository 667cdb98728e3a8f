#pragma once
// One registered site: ten text fields, stored as one TAB-separated line.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace hanabira {

struct TMWBlogListRec {
    std::string SiteTitle, SiteURL, LastVisit, Registered, LastUpdate, Category, RSSURL, HeadTime,
        HeadCheck, ManagerName;
};
TMWBlogListRec ReadSiteRecord(std::string_view line);
std::string WriteSiteRecord(const TMWBlogListRec& rec);

// The fields in their stored order (also the order of declaration). Whatever walks a record field
// by field or finds a field in a stored line goes through this list.
using SiteField = std::string TMWBlogListRec::*;
inline constexpr std::array<SiteField, 10> kSiteFields = {
    &TMWBlogListRec::SiteTitle,  &TMWBlogListRec::SiteURL,    &TMWBlogListRec::LastVisit,
    &TMWBlogListRec::Registered, &TMWBlogListRec::LastUpdate, &TMWBlogListRec::Category,
    &TMWBlogListRec::RSSURL,     &TMWBlogListRec::HeadTime,   &TMWBlogListRec::HeadCheck,
    &TMWBlogListRec::ManagerName};

// One field of a stored line, without parsing the others; empty when the line is too short.
std::string_view FieldOfLine(std::string_view line, SiteField field);
// The SiteURL field of a stored line, without parsing the other fields.
inline std::string_view SiteURLOfLine(std::string_view line) {
    return FieldOfLine(line, &TMWBlogListRec::SiteURL);
}

}  // namespace hanabira
