#pragma once
// The one-site check: HEAD date and feed date of one site, on the calling (GUI) thread.
#include <functional>
#include <string_view>

#include "store/light_strings.h"

namespace hanabira {

enum class SiteCheckResult {
    NotFound,   // no site with that URL (also: deleted while the request waited)
    Stored,     // the result was written into the site's line
    Failed,     // the request failed, or the site's feed URL changed meanwhile: nothing stored
    NoFeedUrl,  // the site has no feed URL (the feed step only)
};

// HEAD step of the site whose SiteURL is url (the first such line). A "Skip" site makes no request
// and gets an empty HeadTime. pump runs at least every 250 ms while the request waits; the table
// may change meanwhile, so the result is stored where the site is found afterwards, and only its
// HeadTime is written into the line as it is then.
SiteCheckResult CheckSiteHeadIn(TLightStrings& table, std::string_view url, const std::function<void()>& pump);
// Feed step: fetch the feed and store its date as LastUpdate (empty when the fetch fails or the
// feed cannot be decoded; never throws for either).
SiteCheckResult CheckSiteRssIn(TLightStrings& table, std::string_view url);

}  // namespace hanabira
