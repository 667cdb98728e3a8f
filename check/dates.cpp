#include "check/dates.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "support/codepage.h"
#include "support/http_headers.h"
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

namespace {

// One Last-Modified value as the stored HEAD date; empty when it does not read.
std::string HeadDateFromValue(std::string_view fieldValue) {
    std::string line = LowerSjis(fieldValue);
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

}  // namespace

std::string HeadDateFromResponse(std::string_view statusAndHeaders) {
    // The field as HTTP defines it: its name in any case, the blank after the colon optional,
    // folded lines joined. Of repeated fields the first that reads counts, so a stray broken copy
    // cannot empty a good date.
    for (const std::string& value : HeaderFieldValues(statusAndHeaders, "last-modified")) {
        std::string date = HeadDateFromValue(value);
        if (!date.empty()) return date;
    }
    return {};
}

namespace {

constexpr int kJapanOffsetMinutes = 9 * 60;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t DigitsAt(std::string_view s, size_t i) {
    size_t j = i;
    while (j < s.size() && IsDigit(s[j])) ++j;
    return j - i;
}

// Where the clock time of a feed date stands: "h:mm" or "hh:mm", then ":ss" and a fraction of a
// second when written. Digits and ":" are never the second byte of a Shift_JIS character, so the
// bytes can be walked one by one.
struct ClockSpan {
    size_t begin = std::string_view::npos;
    size_t fraction = 0;  // where ".123" starts; equals end without a fraction
    size_t end = 0;
};

ClockSpan FindClock(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (!IsDigit(s[i]) || (i > 0 && IsDigit(s[i - 1]))) continue;
        const size_t h = DigitsAt(s, i);
        if (h > 2 || i + h >= s.size() || s[i + h] != ':' || DigitsAt(s, i + h + 1) != 2) continue;
        size_t end = i + h + 3;
        if (end < s.size() && s[end] == ':' && DigitsAt(s, end + 1) == 2) end += 3;
        ClockSpan c;
        c.begin = i;
        c.fraction = end;
        if (end < s.size() && (s[end] == '.' || s[end] == ',') && DigitsAt(s, end + 1) > 0)
            end += 1 + DigitsAt(s, end + 1);
        c.end = end;
        return c;
    }
    return {};
}

// The text a feed date was stored as before the strict reader, kept for every form whose instant it
// had right: existing files and the list's columns rely on it.
//
// Minutes east of Greenwich of the zone names that text knew.
std::optional<int> TodaysNamedZone(std::string_view name) {
    static const struct {
        const char* name;
        int minutes;
    } kZones[] = {
        {"z", 0},       {"gmt", 0},     {"ut", 0},      {"utc", 0},     {"wet", 0},     {"bst", 60},
        {"cet", 60},    {"west", 60},   {"cest", 120},  {"eet", 120},   {"eest", 180},  {"msk", 180},
        {"est", -300},  {"edt", -240},  {"cst", -360},  {"cdt", -300},  {"mst", -420},  {"mdt", -360},
        {"pst", -480},  {"pdt", -420},  {"akst", -540}, {"akdt", -480}, {"hst", -600},  {"sgt", 480},
        {"hkt", 480},   {"jst", 540},   {"kst", 540},   {"aest", 600},  {"aedt", 660},  {"nzst", 720},
        {"nzdt", 780},
    };
    for (const auto& z : kZones)
        if (name == z.name) return z.minutes;
    return std::nullopt;
}

// The zone written after the clock time of a feed date, in minutes east of Greenwich: a numeric
// offset with or without a colon, "Z", or a name. None when no zone is written, or one that cannot
// be told (an unknown name): such a date is then taken as written.
std::optional<int> ZoneOffset(std::string_view element) {
    const ClockSpan clock = FindClock(element);
    if (clock.begin == std::string_view::npos) return std::nullopt;
    std::string_view z = element.substr(clock.end);
    while (!z.empty() && (z.front() == ' ' || z.front() == '\t')) z.remove_prefix(1);
    std::string name;
    while (!z.empty()) {
        char c = z.front();
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c < 'a' || c > 'z') break;
        name += c;
        z.remove_prefix(1);
    }
    int base = 0;
    if (!name.empty()) {
        const auto named = TodaysNamedZone(name);
        if (!named) return std::nullopt;
        // Only Greenwich may carry an offset of its own ("GMT+09:00").
        if (*named != 0 || z.empty() || (z.front() != '+' && z.front() != '-')) return named;
        base = *named;
    }
    if (z.empty() || (z.front() != '+' && z.front() != '-')) return std::nullopt;
    const int sign = z.front() == '-' ? -1 : 1;
    z.remove_prefix(1);
    const size_t d = DigitsAt(z, 0);
    int hours = 0, minutes = 0;
    if (d == 4) {
        hours = (z[0] - '0') * 10 + (z[1] - '0');
        minutes = (z[2] - '0') * 10 + (z[3] - '0');
    } else if (d == 2 && z.size() >= 5 && z[2] == ':' && DigitsAt(z, 3) == 2) {
        hours = (z[0] - '0') * 10 + (z[1] - '0');
        minutes = (z[3] - '0') * 10 + (z[4] - '0');
    } else if (d == 1 || d == 2) {
        hours = d == 1 ? z[0] - '0' : (z[0] - '0') * 10 + (z[1] - '0');
    } else {
        return std::nullopt;
    }
    if (hours > 14 || minutes > 59) return std::nullopt;
    return base + sign * (hours * 60 + minutes);
}

// A feed date as the site record stores it. Dates in another zone are moved to Japan's clock, the
// clock of the HEAD dates and of the last visit, so that all three compare; they are written in the
// plain form. A date in Japan's zone or without a zone keeps its normalised text.
std::string InJapanTime(std::string_view element, const std::string& normalised, TDateTime now) {
    const auto offset = ZoneOffset(element);
    if (!offset || *offset == kJapanOffsetMinutes) return normalised;
    // A fraction of a second longer than milliseconds would not read; it is dropped anyway.
    std::string plain = normalised;
    const ClockSpan clock = FindClock(plain);
    if (clock.begin != std::string::npos) plain.erase(clock.fraction, clock.end - clock.fraction);
    const auto value = ReadDateText(plain, now);
    if (!value) return normalised;
    const std::string shifted = FormatDateText(*value + (kJapanOffsetMinutes - *offset) / (24.0 * 60.0));
    return shifted.empty() ? normalised : shifted;
}


// ---- the feed date reader ----
//
// A feed date element is read by one strict reader that knows the forms feeds really write: ISO
// 8601 (W3C-DTF) as in RSS 1.0 and Atom, and the mail-date family of RSS 2.0 with what servers make
// of it (full month names, stray commas, day and month swapped, the C library's form, a zone before
// the year, no seconds, no time). A text it cannot read is no date.

struct FeedInstant {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::optional<int> offset;  // minutes east of Greenwich; none: Japan's clock, as written
};

// US daylight saving time on a given local standard date and hour: from 2007 the second Sunday of
// March to the first Sunday of November, before that the first Sunday of April to the last Sunday
// of October (both at 2:00).
bool UsDaylightTime(int y, int m, int d, int h) {
    auto weekday = [](int yy, int mm, int dd) {  // 0 = Sunday
        const long long days = DaysFromCivil(yy, static_cast<unsigned>(mm), static_cast<unsigned>(dd));
        return static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    };
    auto nthSunday = [&](int mm, int n) {  // n = -1: the last
        if (n > 0) {
            const int first = 1 + (7 - weekday(y, mm, 1)) % 7;
            return first + 7 * (n - 1);
        }
        const int last = DaysInMonth(y, mm);
        return last - weekday(y, mm, last);
    };
    int startMonth = 3, startDay, endMonth = 11, endDay;
    if (y >= 2007) {
        startDay = nthSunday(3, 2);
        endDay = nthSunday(11, 1);
    } else {
        startMonth = 4;
        startDay = nthSunday(4, 1);
        endMonth = 10;
        endDay = nthSunday(10, -1);
    }
    const int at = m * 10000 + d * 100 + h, from = startMonth * 10000 + startDay * 100 + 2,
              to = endMonth * 10000 + endDay * 100 + 1;  // 2:00 daylight is 1:00 standard
    return at >= from && at < to;
}

// Zone names, minutes east of Greenwich: RFC 822 and RFC 2822 (UT, GMT, the four US zones), and the
// abbreviations the tz database writes for the North American, European and common Asian and
// Pacific zones. Where an abbreviation is ambiguous the reader keeps its older meaning: CST is US
// Central, BST British Summer Time, IST India.
std::optional<int> NamedZone(std::string_view name) {
    static const struct {
        const char* name;
        int minutes;
    } kZones[] = {
        {"z", 0},       {"gmt", 0},     {"ut", 0},       {"utc", 0},     {"wet", 0},      {"west", 60},
        {"bst", 60},    {"ist", 330},   {"cet", 60},     {"met", 60},    {"mez", 60},     {"cest", 120},
        {"mest", 120},  {"mesz", 120},  {"eet", 120},    {"eest", 180},  {"msk", 180},    {"msd", 240},
        {"ast", -240},  {"adt", -180},  {"nst", -210},   {"ndt", -150},  {"est", -300},   {"edt", -240},
        {"cst", -360},  {"cdt", -300},  {"mst", -420},   {"mdt", -360},  {"pst", -480},   {"pdt", -420},
        {"akst", -540}, {"akdt", -480}, {"hst", -600},   {"sst", -660},  {"pkt", 300},    {"ict", 420},
        {"wib", 420},   {"sgt", 480},   {"hkt", 480},    {"pht", 480},   {"awst", 480},   {"jst", 540},
        {"kst", 540},   {"acst", 570},  {"acdt", 630},   {"aest", 600},  {"aedt", 660},   {"nzst", 720},
        {"nzdt", 780},
    };
    for (const auto& z : kZones)
        if (name == z.name) return z.minutes;
    return std::nullopt;
}

// The US zones written without saying whether daylight time applies: standard offset in minutes.
std::optional<int> UsGenericZone(std::string_view name) {
    if (name == "at") return -240;
    if (name == "et") return -300;
    if (name == "ct") return -360;
    if (name == "mt") return -420;
    if (name == "pt") return -480;
    return std::nullopt;
}

int MonthOfName(std::string_view w) {
    static const char* const kNames[12] = {"january", "february", "march",     "april",   "may",      "june",
                                           "july",    "august",   "september", "october", "november", "december"};
    for (int i = 0; i < 12; ++i) {
        const std::string_view full = kNames[i];
        if (w == full || (w.size() == 3 && full.substr(0, 3) == w) || (i == 8 && w == "sept")) return i + 1;
    }
    return 0;
}

bool IsDayName(std::string_view w) {
    static const char* const kNames[7] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    for (const char* n : kNames) {
        const std::string_view full = n;
        if (w == full || (w.size() == 3 && full.substr(0, 3) == w)) return true;
    }
    return w == "tues" || w == "thur" || w == "thurs";
}

// The element as plain lower-case ASCII with every kind of blank as one space; none when it holds
// anything else (a Japanese character).
std::optional<std::string> PlainDateText(std::string_view e) {
    std::string out;
    for (size_t i = 0; i < e.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(e[i]);
        if (e.compare(i, 6, "&#xa0;") == 0) {  // a no-break space as the program keeps it
            out.push_back(' ');
            i += 5;
            continue;
        }
        if (c == 0xA0 || c == '\t' || c == '\r' || c == '\n') c = ' ';
        if (c >= 0x80) return std::nullopt;
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        out.push_back(static_cast<char>(c));
    }
    return out;
}

// Reads "h:mm[:ss[.fraction]]" at i; false when the text there is no clock time (or has more parts).
bool ReadClock(std::string_view s, size_t& i, FeedInstant& t) {
    const size_t h = DigitsAt(s, i);
    if (h == 0 || h > 2 || i + h >= s.size() || s[i + h] != ':') return false;
    size_t k = i + h + 1;
    if (DigitsAt(s, k) != 2) return false;
    t.hour = std::stoi(std::string(s.substr(i, h)));
    t.minute = std::stoi(std::string(s.substr(k, 2)));
    k += 2;
    t.second = 0;
    if (k < s.size() && s[k] == ':') {
        if (DigitsAt(s, k + 1) != 2) return false;
        t.second = std::stoi(std::string(s.substr(k + 1, 2)));
        k += 3;
        if (k < s.size() && (s[k] == '.' || s[k] == ',') && DigitsAt(s, k + 1) > 0) k += 1 + DigitsAt(s, k + 1);
    }
    if (k < s.size() && (s[k] == ':' || IsDigit(s[k]))) return false;  // "1:2:3:4"
    i = k;
    return true;
}

// "+hhmm", "+hh:mm", "+hh" or "+h" at i (the sign included); minutes east of Greenwich.
std::optional<int> ReadNumericOffset(std::string_view s, size_t& i) {
    if (i >= s.size() || (s[i] != '+' && s[i] != '-')) return std::nullopt;
    const int sign = s[i] == '-' ? -1 : 1;
    size_t k = i + 1;
    const size_t d = DigitsAt(s, k);
    int hours = 0, minutes = 0;
    auto num = [&](size_t at, size_t n) { return std::stoi(std::string(s.substr(at, n))); };
    if (d == 4) {
        hours = num(k, 2);
        minutes = num(k + 2, 2);
        k += 4;
    } else if (d == 2 && k + 2 < s.size() && s[k + 2] == ':' && DigitsAt(s, k + 3) == 2) {
        hours = num(k, 2);
        minutes = num(k + 3, 2);
        k += 5;
    } else if (d == 1 || d == 2) {
        hours = num(k, d);
        k += d;
    } else {
        return std::nullopt;
    }
    if (hours > 14 || minutes > 59) return std::nullopt;
    i = k;
    return sign * (hours * 60 + minutes);
}

// A zone word at the end of a date, with the offset that may follow GMT, UTC or Etc/GMT. Unknown
// names count as Greenwich time with an unknown local zone, as mail dates treat them: Japan's clock
// would put a European or American date up to a day off, and no date at all would keep the site out
// of the visit list for good.
bool ReadZoneWord(std::string_view s, size_t& i, const std::string& word, FeedInstant& t) {
    if (word == "etc/gmt" || word == "gmt" || word == "utc" || word == "ut") {
        size_t k = i;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
            const auto off = ReadNumericOffset(s, k);
            if (!off) return false;
            // In the tz database's Etc names the sign is the other way round: Etc/GMT+5 is five
            // hours behind Greenwich.
            t.offset = word == "etc/gmt" ? -*off : *off;
            i = k;
            return true;
        }
        t.offset = 0;
        return true;
    }
    if (const auto named = NamedZone(word)) {
        t.offset = *named;
        return true;
    }
    if (UsGenericZone(word)) {
        t.offset = *UsGenericZone(word);  // daylight time is decided once the date is known
        return true;
    }
    // A single military letter (and any other name) counts as no offset.
    if (word.size() <= 5) {
        t.offset = 0;
        return true;
    }
    return false;
}

bool Valid(const FeedInstant& t) {
    return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= DaysInMonth(t.year, t.month) && t.hour <= 23 && t.minute <= 59 && t.second <= 60;
}

// ISO 8601 as feeds write it: "2026-12-07T03:16:43.123+09:00", with "/" for "-", a space for "T",
// without seconds, without a time, with "Z" or a zone name.
std::optional<FeedInstant> ReadIsoDate(std::string_view s) {
    FeedInstant t;
    size_t i = 0;
    if (DigitsAt(s, 0) != 4) return std::nullopt;
    t.year = std::stoi(std::string(s.substr(0, 4)));
    i = 4;
    const char sep = i < s.size() ? s[i] : '\0';
    if (sep != '-' && sep != '/') return std::nullopt;
    for (int* part : {&t.month, &t.day}) {
        if (i >= s.size() || s[i] != sep) return std::nullopt;
        const size_t d = DigitsAt(s, i + 1);
        if (d == 0 || d > 2) return std::nullopt;
        *part = std::stoi(std::string(s.substr(i + 1, d)));
        i += 1 + d;
    }
    auto blanks = [&] {
        while (i < s.size() && s[i] == ' ') ++i;
    };
    blanks();
    if (i < s.size() && s[i] == 't') {
        ++i;
        blanks();
    }
    if (i < s.size() && IsDigit(s[i]) && !ReadClock(s, i, t)) return std::nullopt;
    blanks();
    if (i < s.size()) {
        if (s[i] == '+' || s[i] == '-') {
            const auto off = ReadNumericOffset(s, i);
            if (!off) return std::nullopt;
            t.offset = *off;
        } else {
            std::string word;
            while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || s[i] == '/')) word += s[i++];
            if (word.empty() || !ReadZoneWord(s, i, word, t)) return std::nullopt;
        }
        blanks();
    }
    if (i != s.size() || !Valid(t)) return std::nullopt;
    return t;
}

// The mail-date family: "[Day,] DD Mon YYYY [HH:MM[:SS]] [zone]" and the forms servers make of it.
std::optional<FeedInstant> ReadMailDate(std::string_view s) {
    FeedInstant t;
    bool haveTime = false, haveZone = false;
    int dayNumber = -1, yearNumber = -1, yearDigits = 0;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == ',' || c == '.') {
            ++i;
            continue;
        }
        if (IsDigit(c)) {
            size_t k = i;
            FeedInstant clock = t;
            if (ReadClock(s, k, clock)) {
                if (haveTime) return std::nullopt;
                t.hour = clock.hour, t.minute = clock.minute, t.second = clock.second;
                haveTime = true;
                i = k;
                continue;
            }
            const size_t d = DigitsAt(s, i);
            const int n = std::stoi(std::string(s.substr(i, std::min<size_t>(d, 5))));
            if (d <= 2 && dayNumber < 0) {
                dayNumber = n;
            } else if (yearNumber < 0 && (d == 4 || d == 2 || d == 3)) {
                yearNumber = n;
                yearDigits = static_cast<int>(d);
            } else {
                return std::nullopt;
            }
            i += d;
            // "30-aug-2012": a hyphen between the parts of the date.
            if (i < s.size() && s[i] == '-' && !haveTime && i + 1 < s.size() && !IsDigit(s[i + 1])) ++i;
            continue;
        }
        if (c == '+' || c == '-') {
            if (haveZone || (!haveTime && (i == 0 || s[i - 1] != ' '))) {
                if (c == '-' && !haveTime) {  // a hyphen between date parts
                    ++i;
                    continue;
                }
                return std::nullopt;
            }
            const auto off = ReadNumericOffset(s, i);
            if (!off) return std::nullopt;
            t.offset = *off;
            haveZone = true;
            continue;
        }
        if (c >= 'a' && c <= 'z') {
            std::string word;
            while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || s[i] == '/')) word += s[i++];
            if (i < s.size() && s[i] == '-' && !haveTime) ++i;  // "aug-2012"
            if (IsDayName(word)) continue;
            if (const int m = MonthOfName(word)) {
                if (t.month) return std::nullopt;
                t.month = m;
                continue;
            }
            if ((word == "am" || word == "pm") && haveTime) {
                if (t.hour == 0 || t.hour > 12) return std::nullopt;
                t.hour = t.hour % 12 + (word == "pm" ? 12 : 0);
                continue;
            }
            // A zone stands after the time (in the C library's form, before the year).
            if (!haveTime || haveZone || !ReadZoneWord(s, i, word, t)) return std::nullopt;
            haveZone = true;
            continue;
        }
        return std::nullopt;
    }
    if (dayNumber < 0 || yearNumber < 0 || !t.month) return std::nullopt;
    t.day = dayNumber;
    t.year = yearNumber;
    // Two-digit years as mail dates read them: 00-49 this century, 50-99 the last; three digits
    // count from 1900.
    if (yearDigits == 2) t.year += yearNumber < 50 ? 2000 : 1900;
    if (yearDigits == 3) t.year += 1900;
    if (!Valid(t)) return std::nullopt;
    return t;
}

// Whether the zone was one of the US zones named without daylight saving: applied now that the
// date is known.
void ApplyUsDaylight(std::string_view s, FeedInstant& t) {
    if (!t.offset) return;
    for (const char* name : {"at", "et", "ct", "mt", "pt"}) {
        const std::string_view n = name;
        size_t at = s.find(n);
        while (at != std::string_view::npos) {
            const bool alone = (at == 0 || !std::isalpha(static_cast<unsigned char>(s[at - 1]))) &&
                               (at + 2 >= s.size() || !std::isalpha(static_cast<unsigned char>(s[at + 2])));
            if (alone) {
                if (UsDaylightTime(t.year, t.month, t.day, t.hour)) *t.offset += 60;
                return;
            }
            at = s.find(n, at + 1);
        }
    }
}

std::optional<FeedInstant> ReadFeedInstant(std::string_view element) {
    auto plain = PlainDateText(element);
    if (!plain) return std::nullopt;
    std::string s;
    for (const char c : *plain) {  // blanks folded into one, none at the ends
        if (c == ' ' && (s.empty() || s.back() == ' ')) continue;
        s.push_back(c);
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.empty()) return std::nullopt;
    auto t = ReadIsoDate(s);
    if (!t) t = ReadMailDate(s);
    if (t) ApplyUsDaylight(s, *t);
    return t;
}

}  // namespace

std::optional<FeedDate> ReadFeedElement(std::string_view element, bool pubDate, TDateTime now) {
    const auto t = ReadFeedInstant(element);
    if (!t) return std::nullopt;
    const auto date = EncodeDate(t->year, t->month, t->day);
    const auto time = EncodeTime(t->hour, t->minute, std::min(t->second, 59), 0);
    if (!date || !time) return std::nullopt;
    const int offset = t->offset.value_or(kJapanOffsetMinutes);
    const TDateTime value = static_cast<TDateTime>(*date) + *time + (kJapanOffsetMinutes - offset) / (24.0 * 60.0);
    // The text stored so far stays wherever it stood for the same second.
    std::string stored = InJapanTime(element, NormalizeFeedElement(element, pubDate, now), now);
    const auto before = ReadDateText(stored, now);
    if (!before || std::fabs(*before - value) * 86400.0 >= 0.5) stored = FormatDateText(value);
    if (stored.empty()) return std::nullopt;
    return FeedDate{stored, value};
}

namespace {

// Byte offset of the next "<entry" start tag ("<entry>" or "<entry " with attributes), or npos.
size_t FindEntryStart(std::string_view text) {
    size_t from = 0;
    for (;;) {
        const size_t a = FindOnBoundary("<entry", text.substr(from));
        if (a == std::string_view::npos) return a;
        const size_t next = from + a + 6;
        if (next < text.size() && std::string_view(">/ \t\r\n").find(text[next]) != std::string_view::npos)
            return from + a;
        from = next;
    }
}

// The date of one Atom entry: its publication (Atom 0.3: issued), else its last change (modified).
// Empty when it has none, or an empty one.
std::string EntryDate(std::string_view entry) {
    static const std::pair<std::string_view, std::string_view> kTags[] = {
        {"<published>", "</published>"}, {"<issued>", "</issued>"},
        {"<updated>", "</updated>"},     {"<modified>", "</modified>"}};
    for (const auto& [start, end] : kTags) {
        const size_t a = FindOnBoundary(start, entry);
        if (a == std::string_view::npos) continue;
        const std::string_view after = entry.substr(a + start.size());
        const size_t b = FindOnBoundary(end, after);
        if (b == std::string_view::npos) continue;
        return TrimLineBreaks(after.substr(0, b));
    }
    return {};
}

// The scan over the entries of an Atom feed, by the rule of the RSS elements: the first entry whose
// date is not in the future; an entry without a date ends it. The feed's own date stands
// before the first entry and, like an RSS 1.0 channel's, says nothing about the entries.
std::string AtomFeedDate(std::string_view text, TDateTime now) {
    for (;;) {
        const size_t a = FindEntryStart(text);
        if (a == std::string_view::npos) return {};
        text.remove_prefix(a + 6);
        const size_t b = FindOnBoundary("</entry>", text);
        const std::string raw = EntryDate(text.substr(0, b));
        if (raw.empty()) return {};
        // A date that does not read is no date: the scan goes on.
        const auto d = ReadFeedElement(raw, false, now);
        if (d && d->value <= now) return d->stored;
        text.remove_prefix(b == std::string_view::npos ? text.size() : b + 8);
    }
}

}  // namespace

std::string FeedDateFromText(std::string_view decodedText, TDateTime now) {
    const bool pubDate = FindOnBoundary("<pubdate>", decodedText) != std::string_view::npos;
    if (!pubDate && FindOnBoundary("<dc:date>", decodedText) == std::string_view::npos)
        return AtomFeedDate(decodedText, now);
    std::string text(decodedText);
    // An RSS 1.0 channel carries its own date, which says nothing about the items.
    if (!pubDate) CutThrough(text, "</channel>");
    ElementScanner scan(text, pubDate ? "<pubdate>" : "<dc:date>", pubDate ? "</pubdate>" : "</dc:date>");
    while (!scan.Empty()) {
        const std::string e = scan.Take();
        if (e.empty()) return {};
        // A date that does not read is no date: the scan goes on.
        const auto d = ReadFeedElement(e, pubDate, now);
        if (d && d->value <= now) return d->stored;
    }
    // Every element lies in the future: a date yet to come is no update.
    return {};
}

std::string FeedDateFromText(std::string_view decodedText) { return FeedDateFromText(decodedText, NowDateTime()); }

}  // namespace hanabira
