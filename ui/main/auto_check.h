#pragma once
// The main window's state for the automatic check (ui/main/auto_check.cpp).
#include <QString>
#include <functional>
#include <memory>

#include "check/check_schedule.h"
#include "check/update_notice.h"
#include "support/desktop_notice.h"
#include "ui/main/main_window.h"

class QActionGroup;
class QLabel;
class QMenu;
class QTimer;

namespace hanabira {

struct TForm1::AutoCheckState {
    CheckSchedule schedule;
    std::function<ScheduleTime()> clock = [] { return std::chrono::system_clock::now(); };
    std::unique_ptr<NoticeSender> notices;
    QTimer* tick = nullptr;
    QMenu* menu = nullptr;  // 自動チェック: the choices, on the check-all button and in the tray menu
    QActionGroup* choices = nullptr;
    QMenu* trayMenu = nullptr;
    QLabel* nextRunField = nullptr;
    bool scheduledRun = false;  // the run under way was started by the schedule
    VisitSnapshot before;       // who needed a visit when the run started
    QString trayTip;
};

}  // namespace hanabira
