#pragma once
// The automatic check: when a check of all sites is due by itself. A plain rule over a wall-clock
// time the caller passes in, so that a suspend, a clock set back and a busy window can be tried
// without waiting.
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hanabira {

using ScheduleTime = std::chrono::system_clock::time_point;

// The choices, in minutes; 0 is "しない" (nothing runs by itself).
inline constexpr int kAutoCheckChoices[] = {0, 15, 30, 60, 180};
std::span<const int> AutoCheckChoices();
// The name of a choice as the menus show it (Shift_JIS): "しない", "15分ごと", ... "3時間ごと".
const std::string& AutoCheckChoiceName(int minutes);

// The "AutoCheckMinutes" setting: the minutes in ASCII digits. A missing value, or one that is not
// exactly one of the choices, reads as 0.
inline constexpr std::string_view kAutoCheckKey = "AutoCheckMinutes";
int AutoCheckMinutesFromText(std::string_view text);
std::string AutoCheckMinutesText(int minutes);

struct CheckSchedule {
    int intervalMinutes = 0;          // one of the choices; 0: off
    std::optional<ScheduleTime> due;  // when the next scheduled run may start; empty while off
};

// Choosing an interval (also at start-up) counts a whole interval from now: picking one never
// starts a run of hundreds of sites at once.
void SetAutoCheckInterval(CheckSchedule& s, int minutes, ScheduleTime now);
// A run ended (scheduled or the user's): the next one is a whole interval after its end, so a run
// longer than the interval never follows on itself.
void AutoCheckRunEnded(CheckSchedule& s, ScheduleTime now);

enum class AutoCheckDecision {
    Wait,    // nothing due (or off)
    PutOff,  // due, but the window is busy: asked again at the next tick
    Start,   // start the run now
};
// One tick of the schedule against the wall clock. A due run starts once, however long ago it was
// due (a suspend, a clock set forward): never a burst of the runs missed. A clock set back leaves
// the due time more than an interval ahead; it is then counted again from now, so the schedule
// goes on instead of waiting for the old time to come round.
AutoCheckDecision AutoCheckTick(CheckSchedule& s, ScheduleTime now, bool busy);

// "次の自動チェック 14:30" (Shift_JIS, local time) for the due time; empty while off.
std::string NextAutoCheckText(const CheckSchedule& s);
// "14:30" in local time.
std::string LocalClockText(ScheduleTime t);

}  // namespace hanabira
