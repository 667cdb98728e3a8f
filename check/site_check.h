#pragma once
// The one-site check: HEAD date and feed date of one site, on the calling (GUI) thread.
#include <functional>
#include <string>
#include <string_view>

#include "store/light_strings.h"
#include "store/site_record.h"
#include "support/web_fetch.h"

namespace hanabira {

enum class SiteCheckResult {
    NotFound,   // no site with that URL (also: deleted while the request waited)
    Stored,     // the result was written into the site's line
    Failed,     // the request failed, or the site's feed URL changed meanwhile: nothing stored
    NoFeedUrl,  // the site has no feed URL (the feed step only)
    Aborted,    // the stop test ended the request: nothing stored, the table was not touched after it
    NotAsked,   // no HEAD request for a site never visited: nothing stored
};

// ---- The rules the one-site check and the check of all sites share ----

// What the HEAD step does for a site.
enum class HeadStep {
    Skip,       // marked "Skip": no request, and its HEAD date is empty
    NoAddress,  // no feed URL: the request fails without being sent, nothing is stored
    // Never visited (its LastVisit does not read as a date): its feed is read whatever the HEAD
    // answers, so none is sent and its HEAD date stays as stored.
    NotVisited,
    Request,  // a HEAD request to the feed URL
};
HeadStep HeadStepOf(const TMWBlogListRec& site);

enum class StoreOutcome { Stored, NotFound, FeedChanged };
struct StoredResult {
    StoreOutcome outcome = StoreOutcome::NotFound;
    int index = -1;       // where the site is now; -1 when it is gone
    TMWBlogListRec site;  // the site as it is now (with the result when stored)
    std::string line;     // its new line, when stored
};
// Stores one check result where the site is now. The site is looked up again by its URL, near
// where it was read, so lines added, deleted or edited meanwhile never receive another site's
// result; only the given field is written into its line as it is then, so the user's edits
// survive. A feed URL other than the one asked (feedUrl) makes the result stale: dropped.
StoredResult StoreCheckResult(TLightStrings& table, int readAt, std::string_view siteUrl,
                              std::string_view feedUrl, std::string TMWBlogListRec::*field,
                              std::string value);

// What a feed request tells about a site: whether its LastUpdate is written and with what, and why
// its feed could not be read (for the list of sites that could not be checked; empty when it
// could). A failed request (no connection, a time-out, an error answer) stores nothing: it says
// nothing about the blog. An answer that is no feed, or a feed whose date does not read, stores
// the empty date as any feed without a date does, and says why.
struct FeedAnswer {
    bool store = false;
    std::string lastUpdate;
    std::string failure;
};
FeedAnswer JudgeFeedAnswer(RequestResult result, const std::string& text, const std::string& failure);

// HEAD step of the site whose SiteURL is url (the first such line). A "Skip" site makes no request
// and gets an empty HeadTime; a site never visited makes none and keeps its HeadTime (NotAsked). control's pump runs while the request waits; the table may change
// meanwhile, so the result is stored where the site is found afterwards, and only its HeadTime is
// written into the line as it is then. When control's stop test ends the request, the table is
// not touched again (it may be gone with its window).
SiteCheckResult CheckSiteHeadIn(TLightStrings& table, std::string_view url, const RequestControl& control);
// Feed step: fetch the feed and store its date as LastUpdate (empty when the fetch fails or the
// feed cannot be decoded; never throws for either). Stopped, it stores nothing, as above.
SiteCheckResult CheckSiteRssIn(TLightStrings& table, std::string_view url,
                               const RequestControl& control = {});
// As above; failure receives why the feed could not be read (empty when it could).
SiteCheckResult CheckSiteRssIn(TLightStrings& table, std::string_view url, const RequestControl& control,
                               std::string& failure);

}  // namespace hanabira
