#include "check/site_check.h"

#include <exception>
#include <utility>
#include <string>

#include "check/dates.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/encoding.h"
#include "support/sjis_text.h"
#include "support/web_fetch.h"

namespace hanabira {

HeadStep HeadStepOf(const TMWBlogListRec& site) {
    if (!site.HeadCheck.empty()) return HeadStep::Skip;
    if (site.RSSURL.empty()) return HeadStep::NoAddress;
    if (DateValue(site.LastVisit) == 0) return HeadStep::NotVisited;
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
    if (step == HeadStep::NotVisited) return SiteCheckResult::NotAsked;
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
    std::string failure;
    return CheckSiteRssIn(table, url, control, failure);
}

SiteCheckResult CheckSiteRssIn(TLightStrings& table, std::string_view url, const RequestControl& control,
                               std::string& failure) {
    failure.clear();
    const int index = IndexOfURL(table, url);
    if (index < 0) return SiteCheckResult::NotFound;
    const TMWBlogListRec rec = ReadSiteRecord(table.Get(index));
    if (rec.RSSURL.empty()) return SiteCheckResult::NoFeedUrl;
    std::string text, why;
    const RequestResult r = FetchFeed(rec.RSSURL, text, control, why);
    // A stopped fetch says nothing about the feed: the site keeps the date it had.
    if (r == RequestResult::Aborted) return SiteCheckResult::Aborted;
    FeedAnswer answer = JudgeFeedAnswer(r, text, why);
    failure = answer.failure;
    if (!answer.store) return SiteCheckResult::Failed;
    return StoreField(table, index, url, rec.RSSURL, &TMWBlogListRec::LastUpdate, std::move(answer.lastUpdate));
}

namespace {

// Whether a decoded text is a feed at all: RSS (0.9x to 2.0), RSS 1.0 or Atom.
bool IsFeedText(const std::string& text) {
    for (const char* marker : {"<rss", "<rdf:rdf", "<feed", "<channel"})
        if (FindOnBoundary(marker, text) != std::string::npos) return true;
    return false;
}

// Whether the feed's first date element is one the feed date reader cannot read.
bool FirstDateUnreadable(const std::string& text) {
    size_t first = std::string::npos;
    std::string_view open, close;
    for (const auto& [a, b] : {std::pair<std::string_view, std::string_view>{"<pubdate>", "</pubdate>"},
                               {"<dc:date>", "</dc:date>"},
                               {"<published>", "</published>"},
                               {"<updated>", "</updated>"}}) {
        const size_t at = FindOnBoundary(a, text);
        if (at < first) first = at, open = a, close = b;
    }
    if (first == std::string::npos) return false;
    const size_t start = first + open.size();
    const size_t end = FindOnBoundary(close, std::string_view(text).substr(start));
    if (end == std::string::npos) return false;
    const std::string element = TrimLineBreaks(std::string_view(text).substr(start, end));
    return !element.empty() && !ReadFeedElement(element, open == "<pubdate>", NowDateTime());
}

}  // namespace

FeedAnswer JudgeFeedAnswer(RequestResult result, const std::string& text, const std::string& failure) {
    FeedAnswer a;
    if (result != RequestResult::Ok) {
        a.failure = result == RequestResult::Failed ? failure : std::string();
        return a;
    }
    a.store = true;
    std::string decoded;
    try {
        decoded = DecodeFeedText(text);
    } catch (const std::exception&) {
        // Undecodable: no date can be read from it.
    }
    if (!IsFeedText(decoded)) {
        a.failure = FindOnBoundary("<html", decoded) != std::string::npos ? SjisLiteral("フィードではありません (HTML ページ)")
                                                                        : SjisLiteral("フィードではありません");
        return a;
    }
    a.lastUpdate = FeedDateFromText(decoded);
    if (a.lastUpdate.empty() && FirstDateUnreadable(decoded)) a.failure = SjisLiteral("フィードの日付が読めません");
    return a;
}

}  // namespace hanabira
