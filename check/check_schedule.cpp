#include "check/check_schedule.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "support/codepage.h"

namespace hanabira {

namespace {

std::chrono::minutes Interval(const CheckSchedule& s) {
    return std::chrono::minutes(s.intervalMinutes);
}

bool IsChoice(int minutes) {
    const auto choices = AutoCheckChoices();
    return std::find(choices.begin(), choices.end(), minutes) != choices.end();
}

}  // namespace

std::span<const int> AutoCheckChoices() {
    return kAutoCheckChoices;
}

const std::string& AutoCheckChoiceName(int minutes) {
    switch (minutes) {
        case 15:
            return SjisLiteral("15分ごと");
        case 30:
            return SjisLiteral("30分ごと");
        case 60:
            return SjisLiteral("1時間ごと");
        case 180:
            return SjisLiteral("3時間ごと");
        default:
            return SjisLiteral("しない");
    }
}

int AutoCheckMinutesFromText(std::string_view text) {
    // Only the exact digits written: anything else (a sign, spaces, "015", another number) is not a
    // choice this program offers, and a schedule nobody chose must not start checking by itself.
    for (const int m : AutoCheckChoices())
        if (text == std::to_string(m)) return m;
    return 0;
}

std::string AutoCheckMinutesText(int minutes) {
    return std::to_string(IsChoice(minutes) ? minutes : 0);
}

void SetAutoCheckInterval(CheckSchedule& s, int minutes, ScheduleTime now) {
    s.intervalMinutes = IsChoice(minutes) ? minutes : 0;
    if (s.intervalMinutes == 0)
        s.due.reset();
    else
        s.due = now + Interval(s);
}

void AutoCheckRunEnded(CheckSchedule& s, ScheduleTime now) {
    if (s.intervalMinutes != 0) s.due = now + Interval(s);
}

AutoCheckDecision AutoCheckTick(CheckSchedule& s, ScheduleTime now, bool busy) {
    if (s.intervalMinutes == 0) return AutoCheckDecision::Wait;
    if (!s.due || *s.due - now > Interval(s)) {
        s.due = now + Interval(s);  // the clock went back: count from the time it shows now
        return AutoCheckDecision::Wait;
    }
    if (now < *s.due) return AutoCheckDecision::Wait;
    if (busy) return AutoCheckDecision::PutOff;
    // Provisional until the run's end sets it; however many intervals were missed, this is one run.
    s.due = now + Interval(s);
    return AutoCheckDecision::Start;
}

std::string LocalClockText(ScheduleTime t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", tm.tm_hour % 100, tm.tm_min % 100);
    return buf;
}

std::string NextAutoCheckText(const CheckSchedule& s) {
    if (s.intervalMinutes == 0 || !s.due) return {};
    return SjisLiteral("次の自動チェック ") + LocalClockText(*s.due);
}

}  // namespace hanabira
