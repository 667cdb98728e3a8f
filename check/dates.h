#pragma once
// Date texts of the site records: reading, writing, and the HEAD and feed dates of an update check.
#include <optional>
#include <string>
#include <string_view>

namespace hanabira {

using TDateTime = double;  // days since 1899-12-30, time as fraction; 0 = no date
std::string ReplaceMonthNames(std::string_view text);
std::optional<TDateTime> ReadDateText(std::string_view text);
std::string FormatDateText(TDateTime value);
TDateTime NowDateTime();  // the local clock
std::string HeadDateFromResponse(std::string_view statusAndHeaders);
std::string FeedDateFromText(std::string_view decodedText, TDateTime now);
std::string FeedDateFromText(std::string_view decodedText);  // uses NowDateTime()

// ReadDateText with "does not read" as 0, the way every comparison treats it.
TDateTime DateValue(std::string_view text);
// As ReadDateText, but relative to the given clock (two-number dates and short years use its year).
std::optional<TDateTime> ReadDateText(std::string_view text, TDateTime now);
// One feed date element as the feed date stores it: pubDate ("Mon, 07 Dec 2026 03:16:43 +0900")
// or dc:date ("2026-12-07T03:16:43+09:00") turned into year/month/day and time.
std::string NormalizeFeedElement(std::string_view element, bool pubDate, TDateTime now);

// One feed date element as the site record stores it, and the instant it stands for on Japan's
// clock; none when it is no date by the feed date reader's rules. A form the program always read
// right keeps the text it was always stored as; any other is written "yyyy/mm/dd hh:mm:ss".
struct FeedDate {
    std::string stored;
    TDateTime value = 0;
};
std::optional<FeedDate> ReadFeedElement(std::string_view element, bool pubDate, TDateTime now);

}  // namespace hanabira
