#pragma once
// The site probe of the registration window, and the record it registers, as plain functions of
// text so that they run without widgets.
#include <functional>
#include <string>
#include <string_view>

#include "store/site_record.h"

namespace hanabira {

// What a probe found; both empty when the page announces no usable feed.
struct ProbeResult {
    std::string FeedURL, Title;  // Shift_JIS, lower-cased like the texts they were cut from
};

// Receives the progress texts (Shift_JIS) while the probe fetches.
using ProbeStatus = std::function<void(const std::string& statusSjis)>;

// The URL a probe fetches for the text of the URL field: spaces trimmed, then one trailing "/" off.
std::string ProbeUrlFromField(std::string_view fieldText);

// Fetches the page at url, takes the first feed link of its head, fetches that feed and takes its
// title. result is filled as the probe goes, so a decoder error (std::runtime_error, Shift_JIS
// what()) leaves in it what was found before the error.
void ProbeSiteUrl(std::string_view url, ProbeResult& result, const ProbeStatus& status = {});
ProbeResult ProbeSiteUrl(std::string_view url, const ProbeStatus& status = {});

// The feed URL announced in the head of an already decoded (lower-cased) page, or empty. The
// search itself, without any fetch.
std::string FindFeedLink(std::string_view decodedPage);

// The window's fields as they are typed, Shift_JIS.
struct SiteFields {
    std::string SiteURL, SiteTitle, RSSURL, Category, ManagerName;
    bool SkipHeadCheck = true;
};

// The record a registration stores. keptLastVisit and keptLastUpdate carry the dates of the site
// being edited (empty for a new site); registered is the date text of the registration.
TMWBlogListRec BuildSiteRecord(const SiteFields& fields, std::string_view keptLastVisit,
                               std::string_view keptLastUpdate, std::string_view registered);

}  // namespace hanabira
