// Date readers: date texts, HEAD answers with their header fields, feed texts and elements.
#include <stdexcept>

#include "check/dates.h"
#include "fuzz_support.h"
#include "support/http_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hanabira;
    const std::string_view in = fuzzing::Text(data, size);
    const TDateTime now = 46363.5;  // 2026-12-07 12:00, so that runs repeat
    (void)ReplaceMonthNames(in);
    if (const auto v = ReadDateText(in, now)) {
        // A value that reads is written as a date text that reads back to the same second.
        const std::string text = FormatDateText(*v);
        if (*v >= 1 && *v < 2958465) {  // years 1900..9999
            const auto back = ReadDateText(text, now);
            fuzzing::Require(back.has_value(), "a formatted date reads back");
            fuzzing::Require(*back - *v < 1.0 / 86400 && *v - *back < 1.0 / 86400, "to the same second");
        }
    }
    (void)HeaderFieldValues(in, "last-modified");
    const std::string head = HeadDateFromResponse(in);
    fuzzing::Require(head.empty() || ReadDateText(head, now).has_value(), "a HEAD date is a date text");
    (void)FeedDateFromText(in, now);
    for (const bool pubDate : {true, false}) {
        // A feed date is stored as a text that reads back to its instant.
        if (const auto d = ReadFeedElement(in, pubDate, now)) {
            const auto back = ReadDateText(d->stored, now);
            fuzzing::Require(back.has_value(), "a stored feed date reads");
            fuzzing::Require(*back - d->value < 1.0 / 86400 && d->value - *back < 1.0 / 86400, "as its instant");
        }
    }
    (void)NormalizeFeedElement(in, true, now);
    (void)NormalizeFeedElement(in, false, now);
    return 0;
}
