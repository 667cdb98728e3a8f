#pragma once
// The one-site check: HEAD date and feed date of one site, on the calling (GUI) thread.
#include <functional>
#include <string_view>

#include "store/light_strings.h"
#include "support/web_fetch.h"

namespace hanabira {

enum class SiteCheckResult {
    NotFound,   // no site with that URL (also: deleted while the request waited)
    Stored,     // the result was written into the site's line
    Failed,     // the request failed, or the site's feed URL changed meanwhile: nothing stored
    NoFeedUrl,  // the site has no feed URL (the feed step only)
    Aborted,    // the stop test ended the request: nothing stored, the table was not touched after it
};

// HEAD step of the site whose SiteURL is url (the first such line). A "Skip" site makes no request
// and gets an empty HeadTime. control's pump runs while the request waits; the table may change
// meanwhile, so the result is stored where the site is found afterwards, and only its HeadTime is
// written into the line as it is then. When control's stop test ends the request, the table is
// not touched again (it may be gone with its window).
SiteCheckResult CheckSiteHeadIn(TLightStrings& table, std::string_view url, const RequestControl& control);
// Feed step: fetch the feed and store its date as LastUpdate (empty when the fetch fails or the
// feed cannot be decoded; never throws for either). Stopped, it stores nothing, as above.
SiteCheckResult CheckSiteRssIn(TLightStrings& table, std::string_view url, const RequestControl& control = {});

}  // namespace hanabira
