#include "check/site_check.h"

#include <exception>
#include <string>

#include "check/dates.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/encoding.h"
#include "support/web_fetch.h"

namespace hanabira {

namespace {

// Writes one field into the site's line as it is now. The site is looked up again, near where it
// was read, so lines added, deleted or edited meanwhile never receive another site's result; a
// changed feed URL makes the result stale.
SiteCheckResult StoreField(TLightStrings& table, int readAt, std::string_view url, const std::string& feedUrl,
                           std::string TMWBlogListRec::*field, std::string value) {
    const int pos = LocateSite(table, readAt, url);
    if (pos < 0) return SiteCheckResult::NotFound;
    TMWBlogListRec current = ReadSiteRecord(table.Get(pos));
    if (current.RSSURL != feedUrl) return SiteCheckResult::Failed;
    current.*field = std::move(value);
    table.Put(pos, WriteSiteRecord(current));
    return SiteCheckResult::Stored;
}

}  // namespace

SiteCheckResult CheckSiteHeadIn(TLightStrings& table, std::string_view url, const RequestControl& control) {
    const int index = IndexOfURL(table, url);
    if (index < 0) return SiteCheckResult::NotFound;
    const TMWBlogListRec rec = ReadSiteRecord(table.Get(index));
    std::string headTime;
    if (rec.HeadCheck.empty()) {
        if (rec.RSSURL.empty()) return SiteCheckResult::Failed;  // a request to no address fails
        std::string answer;
        switch (HeadCheck(rec.RSSURL, answer, control)) {
            case RequestResult::Aborted:
                return SiteCheckResult::Aborted;
            case RequestResult::Failed:
                return SiteCheckResult::Failed;
            case RequestResult::Ok:
                break;
        }
        headTime = HeadDateFromResponse(answer);
    }
    return StoreField(table, index, url, rec.RSSURL, &TMWBlogListRec::HeadTime, std::move(headTime));
}

SiteCheckResult CheckSiteRssIn(TLightStrings& table, std::string_view url, const RequestControl& control) {
    const int index = IndexOfURL(table, url);
    if (index < 0) return SiteCheckResult::NotFound;
    const TMWBlogListRec rec = ReadSiteRecord(table.Get(index));
    if (rec.RSSURL.empty()) return SiteCheckResult::NoFeedUrl;
    std::string text;
    // A stopped fetch says nothing about the feed: the site keeps the date it had.
    if (FetchFeed(rec.RSSURL, text, control) == RequestResult::Aborted) return SiteCheckResult::Aborted;
    std::string lastUpdate;
    try {
        lastUpdate = FeedDateFromText(DecodeFeedText(text));
    } catch (const std::exception&) {
        // Undecodable feed: no date can be read from it, as from a failed fetch.
    }
    return StoreField(table, index, url, rec.RSSURL, &TMWBlogListRec::LastUpdate, std::move(lastUpdate));
}

}  // namespace hanabira
