#pragma once
// The site probe of the registration window, and the record it registers, as plain functions of
// text so that they run without widgets.
#include <functional>
#include <string>
#include <string_view>

#include "store/site_record.h"
#include "support/web_fetch.h"

namespace hanabira {

// What a probe found; both empty when the page announces no usable feed.
struct ProbeResult {
    std::string FeedURL, Title;  // Shift_JIS, in the letter case the page and the feed give them
};

// Receives the progress texts (Shift_JIS) while the probe fetches.
using ProbeStatus = std::function<void(const std::string& statusSjis)>;

// The URL a probe fetches for the text of the URL field: spaces trimmed, then one trailing "/" off.
std::string ProbeUrlFromField(std::string_view fieldText);

// Fetches the page at url, takes the feed link of its head (resolved against url), fetches that
// feed and takes its title. result is filled as the probe goes, so a decoder error
// (std::runtime_error, Shift_JIS what()) leaves in it what was found before the error.
void ProbeSiteUrl(std::string_view url, ProbeResult& result, const ProbeStatus& status = {});
ProbeResult ProbeSiteUrl(std::string_view url, const ProbeStatus& status = {});
// As above, with the fetches stoppable and the pump run while they wait: false when stopped (what
// was found before the stop stays in result).
bool ProbeSiteUrl(std::string_view url, ProbeResult& result, const ProbeStatus& status, const RequestControl& control);

// The feed URL announced in the head (the text before "<body") of a decoded page, in the letter
// case the page gives it, or empty. Among the rel="alternate" links, the first whose type names a
// feed (RSS, Atom, RDF) wins; without one, the first alternate link that is not another language's
// page nor a type that cannot be a feed. A relative URL is resolved against the head's <base href>
// or pageUrl; with both empty it is given as written. The search itself, without any fetch.
std::string FindFeedLink(std::string_view decodedPage, std::string_view pageUrl = {});

// The page and feed decoding of the fetches, without the lower-casing that searches use: the probe
// searches a lower-cased copy and cuts its values from these, at the same positions.
std::string DecodePageAsServed(std::string_view bytes);
std::string DecodeFeedAsServed(std::string_view bytes);

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
