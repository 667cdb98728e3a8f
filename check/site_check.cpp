#include "check/site_check.h"

#include <exception>
#include <string>

#include "check/dates.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/encoding.h"
#include "support/web_fetch.h"

namespace hanabira {

HeadStep HeadStepOf(const TMWBlogListRec& site) {
    if (!site.HeadCheck.empty()) return HeadStep::Skip;
    if (site.RSSURL.empty()) return HeadStep::NoAddress;
    return HeadStep::Request;
}

StoredResult StoreCheckResult(TLightStrings& table, int readAt, std::string_view siteUrl,
                              std::string_view feedUrl, std::string TMWBlogListRec::*field,
                              std::string value) {
    StoredResult r;
    r.index = LocateSite(table, readAt, siteUrl);
    if (r.index < 0) return r;
    r.site = ReadSiteRecord(table.Get(r.index));
    if (r.site.RSSURL != feedUrl) {
        r.outcome = StoreOutcome::FeedChanged;
        return r;
    }
    r.site.*field = std::move(value);
    r.line = WriteSiteRecord(r.site);
    table.Put(r.index, r.line);
    r.outcome = StoreOutcome::Stored;
    return r;
}

namespace {

SiteCheckResult StoreField(TLightStrings& table, int readAt, std::string_view url, const std::string& feedUrl,
                           std::string TMWBlogListRec::*field, std::string value) {
    switch (StoreCheckResult(table, readAt, url, feedUrl, field, std::move(value)).outcome) {
        case StoreOutcome::Stored:
            return SiteCheckResult::Stored;
        case StoreOutcome::FeedChanged:
            return SiteCheckResult::Failed;
        case StoreOutcome::NotFound:
            break;
    }
    return SiteCheckResult::NotFound;
}

}  // namespace

SiteCheckResult CheckSiteHeadIn(TLightStrings& table, std::string_view url, const RequestControl& control) {
    const int index = IndexOfURL(table, url);
    if (index < 0) return SiteCheckResult::NotFound;
    const TMWBlogListRec rec = ReadSiteRecord(table.Get(index));
    std::string headTime;
    const HeadStep step = HeadStepOf(rec);
    if (step == HeadStep::NoAddress) return SiteCheckResult::Failed;
    if (step == HeadStep::Request) {
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
