#include "check/dates.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

constexpr long long kMsPerDay = 86400000LL;
constexpr long long kDaysFrom1970To1899 = 25569;  // 1899-12-30 is day -25569 of the Unix epoch

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct CivilDate {
    long long year;
    unsigned month, day;
};

CivilDate CivilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<long long>(yoe) + era * 400 + (m <= 2), m, d};
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && IsLeapYear(y)) ? 29 : days[m - 1];
}

// Day number (days since 1899-12-30) of a valid calendar date, years 1 to 9999.
std::optional<long long> EncodeDate(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return std::nullopt;
    return DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + kDaysFrom1970To1899;
}

std::optional<TDateTime> EncodeTime(int h, int mi, int s, int ms) {
    if (h > 23 || mi > 59 || s > 59 || ms > 999) return std::nullopt;
    return (((h * 60.0 + mi) * 60.0 + s) * 1000.0 + ms) / static_cast<double>(kMsPerDay);
}

int YearOf(TDateTime value) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) value = 0;
    const long long days = static_cast<long long>(std::floor(value));
    return static_cast<int>(CivilFromDays(days - kDaysFrom1970To1899).year);
}

// A cursor over a date text; blanks may stand before every number, separator and marker.
class DateScanner {
public:
    DateScanner(std::string_view text, int currentYear) : s_(text), year_(currentYear) {}

    bool AtEnd() const { return pos_ >= s_.size(); }

    void SkipBlanks() {
        while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
    }

    // Up to four digits are taken (the reader stops once the number reaches 1000), so an
    // overlong number leaves digits behind that make the text fail further on.
    bool Number(int& n) {
        SkipBlanks();
        size_t i = pos_;
        int v = 0;
        while (i < s_.size() && s_[i] >= '0' && s_[i] <= '9' && v < 1000) v = v * 10 + (s_[i++] - '0');
        if (i == pos_) return false;
        digits_ = static_cast<int>(i - pos_);
        pos_ = i;
        n = v;
        return true;
    }

    bool Char(char c) {
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // A symbol compared without regard to ASCII letter case.
    bool Symbol(std::string_view sym) {
        SkipBlanks();
        if (s_.size() - pos_ < sym.size()) return false;
        for (size_t k = 0; k < sym.size(); ++k) {
            char a = s_[pos_ + k], b = sym[k];
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
            if (a != b) return false;
        }
        pos_ += sym.size();
        return true;
    }

    // -1 without a marker, 0 for morning, 12 for afternoon. The Japanese markers are the ones a
    // Japanese desktop writes for times, so they are read as well.
    int DayHalf() {
        static const std::string& morning = SjisLiteral("午前");
        static const std::string& afternoon = SjisLiteral("午後");
        if (Symbol(morning) || Symbol("am")) return 0;
        if (Symbol(afternoon) || Symbol("pm")) return 12;
        return -1;
    }

    std::optional<long long> Date() {
        int n1 = 0, n2 = 0, n3 = 0;
        if (!Number(n1)) return std::nullopt;
        const int len1 = digits_;
        if (!Char('/') || !Number(n2)) return std::nullopt;
        int y = 0, m = 0, d = 0;
        if (Char('/')) {
            if (!Number(n3)) return std::nullopt;
            y = n1;
            m = n2;
            d = n3;
            if (len1 <= 2) {
                // Short years fall into the hundred years from 50 before to 49 after this year.
                const int ref = year_ - 50;
                y += ref / 100 * 100;
                if (y < ref) y += 100;
            }
        } else {
            y = year_;
            m = n1;
            d = n2;
        }
        Char('/');
        SkipBlanks();
        return EncodeDate(y, m, d);
    }

    std::optional<TDateTime> Time() {
        int half = DayHalf();
        int h = 0, mi = 0, sec = 0, ms = 0;
        if (!Number(h)) return std::nullopt;
        if (Char(':')) {
            if (!Number(mi)) return std::nullopt;
            if (Char(':')) {
                if (!Number(sec)) return std::nullopt;
                if (Char('.') && !Number(ms)) return std::nullopt;
            }
        }
        if (half < 0) half = DayHalf();
        if (half >= 0) {
            if (h == 0 || h > 12) return std::nullopt;
            h = (h == 12 ? 0 : h) + half;
        }
        SkipBlanks();
        return EncodeTime(h, mi, sec, ms);
    }

private:
    std::string_view s_;
    size_t pos_ = 0;
    int digits_ = 0;
    int year_;
};

// Keeps the last characters of text, at least keep bytes of them, starting on a character.
std::string KeepTail(const std::string& text, size_t keep) {
    if (text.size() <= keep) return text;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); i += (IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1)) {
        if (text.size() - i < keep) break;
        start = i;
    }
    return text.substr(start);
}

// The feed text from which TakeElement removes one element at a time. Removing an element from
// the middle of a large feed and searching it again from its start would cost the whole feed per
// element; since the text before a removed element holds neither marker, only its last few
// characters can still take part in a match (joined with what followed the element), so that
// tail is all that is kept of it.
class ElementScanner {
public:
    ElementScanner(std::string_view text, std::string_view startTag, std::string_view endTag)
        : rest_(text), start_(startTag), end_(endTag), keep_(std::max(startTag.size(), endTag.size())) {}

    bool Empty() const { return tail_.empty() && rest_.empty(); }

    // TakeElement on the text; empty when no element is left or the element is empty.
    std::string Take() {
        const size_t a = Find(start_);
        const size_t b = Find(end_);
        if (a == std::string_view::npos || b == std::string_view::npos || b < a) return {};
        const size_t stop = b + end_.size() - tail_.size();  // a match always ends beyond the tail
        std::string piece = tail_;
        piece.append(rest_.substr(0, stop));
        std::string content = TakeElement(piece, start_, end_);
        rest_.remove_prefix(stop);
        tail_ = KeepTail(piece, keep_);
        return content;
    }

private:
    size_t Find(std::string_view tag) const {
        if (!tail_.empty()) {
            std::string joint = tail_;
            joint.append(rest_.substr(0, std::min(rest_.size(), tag.size() - 1)));
            const size_t j = FindOnBoundary(tag, joint);
            if (j != std::string_view::npos) return j;
        }
        const size_t r = FindOnBoundary(tag, rest_);
        return r == std::string_view::npos ? r : tail_.size() + r;
    }

    std::string_view rest_;
    std::string tail_;
    std::string_view start_, end_;
    size_t keep_;
};

}  // namespace

std::string NormalizeFeedElement(std::string_view element, bool pubDate, TDateTime now) {
    std::string e(element);
    if (pubDate) e = ReplaceMonthNames(e);
    e = ReplaceAllNoCase(e, "t", " ");
    e = ReplaceAllNoCase(e, "-", "/");
    e = TrimSpaces(CutToken(e, "+"));
    if (!pubDate) return e;
    if (FindOnBoundary(",", e) == std::string::npos) {
        // No day name: an ISO date that already reads is kept, anything else is taken as
        // day, month and year without the day name in front.
        if (ReadDateText(e, now)) return e;
    } else {
        CutToken(e, ",");
    }
    e = TrimSpaces(e);
    const std::string day = CutToken(e, " ");
    const std::string month = CutToken(e, " ");
    const std::string year = CutToken(e, " ");
    return year + "/" + month + "/" + day + " " + TrimSpaces(e);
}

std::string ReplaceMonthNames(std::string_view text) {
    static const char* const kMonths[12][2] = {{"jan", "01"}, {"feb", "02"}, {"mar", "03"}, {"apr", "04"},
                                               {"may", "05"}, {"jun", "06"}, {"jul", "07"}, {"aug", "08"},
                                               {"sep", "09"}, {"oct", "10"}, {"nov", "11"}, {"dec", "12"}};
    std::string out(text);
    for (const auto& row : kMonths) out = ReplaceAllNoCase(out, row[0], row[1]);
    return out;
}

std::optional<TDateTime> ReadDateText(std::string_view text, TDateTime now) {
    const int year = YearOf(now);
    {
        DateScanner sc(text, year);
        if (auto date = sc.Date()) {
            if (sc.AtEnd()) return static_cast<TDateTime>(*date);
            if (auto time = sc.Time()) {
                // Before 1899-12-30 the day counts down while the time still counts up.
                return *date >= 0 ? static_cast<TDateTime>(*date) + *time : static_cast<TDateTime>(*date) - *time;
            }
        }
    }
    DateScanner sc(text, year);
    auto time = sc.Time();
    if (time && sc.AtEnd()) return time;
    return std::nullopt;
}

std::optional<TDateTime> ReadDateText(std::string_view text) { return ReadDateText(text, NowDateTime()); }

TDateTime DateValue(std::string_view text) { return ReadDateText(text).value_or(0.0); }

std::string FormatDateText(TDateTime value) {
    // Milliseconds are rounded first so that a sum such as 03:16:43 plus nine hours, which
    // lands a hair below the second, still writes as that second; the milliseconds are then
    // dropped, as a clock shows them.
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return {};
    const long long ms = std::llround(value * static_cast<double>(kMsPerDay));
    const long long days = ms / kMsPerDay;  // toward zero: before 1899 the time counts up
    const long long timeMs = (ms < 0 ? -ms : ms) % kMsPerDay;
    const CivilDate c = CivilFromDays(days - kDaysFrom1970To1899);
    if (c.year < 1 || c.year > 9999) return {};
    const long long secs = timeMs / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04lld/%02u/%02u %02lld:%02lld:%02lld", c.year, c.month, c.day, secs / 3600,
                  secs / 60 % 60, secs % 60);
    return buf;
}

TDateTime NowDateTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    const long long days =
        DaysFromCivil(tm.tm_year + 1900LL, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday)) +
        kDaysFrom1970To1899;
    const double secs = (tm.tm_hour * 60.0 + tm.tm_min) * 60.0 + tm.tm_sec + static_cast<double>(ms) / 1000.0;
    return static_cast<TDateTime>(days) + secs / 86400.0;
}

std::string HeadDateFromResponse(std::string_view statusAndHeaders) {
    std::string t = LowerSjis(statusAndHeaders);
    CutThrough(t, "last-modified: ");
    std::string line = CutToken(t, "\r");
    CutToken(line, ",");  // the day name
    line = TrimSpaces(ReplaceMonthNames(line));
    const std::string day = CutToken(line, " ");
    const std::string month = CutToken(line, " ");
    const std::string year = CutToken(line, " ");
    const std::string time = CutToken(line, " ");
    // Servers answer in GMT; the stored time is Japan's, whatever zone this computer is set to.
    const TDateTime shift = FindOnBoundary("gmt", line) != std::string::npos ? 9.0 / 24.0 : 0.0;
    const auto v = ReadDateText(year + "/" + month + "/" + day + " " + time);
    if (!v) return {};
    const TDateTime value = *v + shift;
    if (value == 0) return {};
    return FormatDateText(value);
}

std::string FeedDateFromText(std::string_view decodedText, TDateTime now) {
    const bool pubDate = FindOnBoundary("<pubdate>", decodedText) != std::string_view::npos;
    std::string text(decodedText);
    // An RSS 1.0 channel carries its own date, which says nothing about the items.
    if (!pubDate) CutThrough(text, "</channel>");
    ElementScanner scan(text, pubDate ? "<pubdate>" : "<dc:date>", pubDate ? "</pubdate>" : "</dc:date>");
    while (!scan.Empty()) {
        std::string e = scan.Take();
        if (e.empty()) return {};
        e = NormalizeFeedElement(e, pubDate, now);
        const auto d = ReadDateText(e, now);
        if (!d || *d <= now) return e;
    }
    // Every element lies in the future: a date yet to come is no update.
    return {};
}

std::string FeedDateFromText(std::string_view decodedText) { return FeedDateFromText(decodedText, NowDateTime()); }

}  // namespace hanabira
