#include "check/check_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/ini_file.h"
#include "test_support.h"

using namespace hanabira;
using namespace std::chrono_literals;
using testing_support::ReadFileBytes;
using testing_support::S;
using testing_support::WriteFileBytes;

namespace {

const ScheduleTime kStart = std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + 10h;

// One step of a day with the schedule: a tick at a time, busy or not, or the end of a run.
struct Step {
    std::chrono::seconds at;  // since kStart
    enum { Tick, BusyTick, RunEnds } what;
    AutoCheckDecision want = AutoCheckDecision::Wait;
};

struct Scenario {
    const char* what;
    int minutes;
    std::vector<Step> steps;
};

}  // namespace

TEST(CheckSchedule, DecidesDueRunsAgainstTheWallClock) {
    using D = AutoCheckDecision;
    const std::vector<Scenario> scenarios = {
        {"off: nothing ever runs", 0, {{0s, Step::Tick}, {24h, Step::Tick}}},
        {"a whole interval after the choice, then after each run's end",
         15,
         {{14min, Step::Tick},
          {15min, Step::Tick, D::Start},
          {16min, Step::Tick},
          {20min, Step::RunEnds},
          {34min, Step::Tick},
          {35min, Step::Tick, D::Start}}},
        {"a run longer than the interval is not followed at once",
         15,
         {{15min, Step::Tick, D::Start},
          {40min, Step::BusyTick, D::PutOff},
          {45min, Step::RunEnds},
          {59min, Step::Tick},
          {60min, Step::Tick, D::Start}}},
        {"put off while busy, started at the first tick after",
         30,
         {{30min, Step::BusyTick, D::PutOff},
          {50min, Step::BusyTick, D::PutOff},
          {50min + 1s, Step::Tick, D::Start},
          {51min, Step::Tick}}},
        {"the user's own run moves the next one",
         60,
         {{40min, Step::RunEnds}, {60min, Step::Tick}, {99min, Step::Tick}, {100min, Step::Tick, D::Start}}},
        {"a suspend over many intervals: one run at resume, no burst",
         15,
         {{10min, Step::Tick},
          {8h, Step::Tick, D::Start},
          {8h + 1s, Step::Tick},
          {8h + 2min, Step::RunEnds},
          {8h + 10min, Step::Tick},
          {8h + 17min, Step::Tick, D::Start}}},
        {"a suspend ending while busy: put off, then still one run",
         15,
         {{5h, Step::BusyTick, D::PutOff}, {5h + 1min, Step::Tick, D::Start}, {5h + 2min, Step::Tick}}},
        {"the clock set back a day: the schedule goes on from there",
         60,
         {{-24h + 1min, Step::Tick},
          {-24h + 60min, Step::Tick},
          {-24h + 61min, Step::Tick, D::Start},
          {-24h + 62min, Step::RunEnds},
          {-24h + 122min, Step::Tick, D::Start}}},
        {"the clock set back a little: the due time stands",
         60,
         {{30min, Step::Tick}, {20min, Step::Tick}, {60min, Step::Tick, D::Start}}},
    };
    for (const Scenario& sc : scenarios) {
        CheckSchedule s;
        SetAutoCheckInterval(s, sc.minutes, kStart);
        for (const Step& step : sc.steps) {
            const ScheduleTime now = kStart + step.at;
            if (step.what == Step::RunEnds) {
                AutoCheckRunEnded(s, now);
                continue;
            }
            EXPECT_EQ(AutoCheckTick(s, now, step.what == Step::BusyTick), step.want)
                << sc.what << ", at " << step.at.count() << " s";
        }
    }
}

TEST(CheckSchedule, ChoosingAndTheTextOfTheNextRun) {
    CheckSchedule s;
    SetAutoCheckInterval(s, 30, kStart);
    ASSERT_TRUE(s.due.has_value());
    EXPECT_EQ(*s.due, kStart + 30min);
    EXPECT_EQ(NextAutoCheckText(s), S("次の自動チェック ") + LocalClockText(kStart + 30min));
    SetAutoCheckInterval(s, 45, kStart);  // not a choice
    EXPECT_EQ(s.intervalMinutes, 0);
    EXPECT_FALSE(s.due.has_value());
    EXPECT_EQ(NextAutoCheckText(s), "");
    AutoCheckRunEnded(s, kStart);
    EXPECT_FALSE(s.due.has_value()) << "a run's end does not turn the schedule on";
}

TEST(AutoCheckSetting, ReadsOnlyTheChoicesAndKeepsTheOtherKeys) {
    const struct {
        std::string text;
        int minutes;
    } reads[] = {{"", 0},
                 {"0", 0},
                 {"15", 15},
                 {"30", 30},
                 {"60", 60},
                 {"180", 180},
                 {"45", 0},
                 {"-15", 0},
                 {" 15", 0},
                 {"015", 0},
                 {"15分", 0},
                 {"1e2", 0},
                 {"99999999999999999999", 0}};
    for (const auto& r : reads) EXPECT_EQ(AutoCheckMinutesFromText(r.text), r.minutes) << r.text;

    testing_support::TempDir dir;
    const std::string path = dir.file("hanabira2.ini");
    // A file of the version before: the key is absent and reads as off.
    const std::string keys =
        "Form1.Pos=10\t20\t621\t418\r\nBlogDataFileName=RssSites.dat\r\nMySiteSelect=" + S("庭") +
        "\r\nCheckConnections=16";
    const std::string rest = "\t#_MWDivKeyValues_#\t\t#_MWDivMultiLine_#\t\t#_MWDivComponent_#\t\r\n";
    WriteFileBytes(path, keys + rest);
    for (const int minutes : AutoCheckChoices()) {
        TMWIniFile ini(path);
        ASSERT_TRUE(ini.ReadSettings());
        EXPECT_EQ(ini.ReadValue(kAutoCheckKey), "");
        // As the close writes them: the keys before in their order and values, then the new one.
        for (const char* key : {"Form1.Pos", "BlogDataFileName", "MySiteSelect", "CheckConnections"})
            ini.WriteValue(key, ini.ReadValue(key));
        ini.WriteValue(kAutoCheckKey, AutoCheckMinutesText(minutes));
        ASSERT_TRUE(ini.WriteSettings());
        EXPECT_EQ(ReadFileBytes(path), keys + "\r\nAutoCheckMinutes=" + std::to_string(minutes) + rest);
        TMWIniFile again(path);
        ASSERT_TRUE(again.ReadSettings());
        EXPECT_EQ(AutoCheckMinutesFromText(again.ReadValue(kAutoCheckKey)), minutes);
        WriteFileBytes(path, keys + rest);
    }
    EXPECT_EQ(AutoCheckMinutesText(45), "0") << "never writes what it would not read";
}
