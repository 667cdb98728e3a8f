// The main window's automatic check: the schedule's tick, the scheduled run, the notice of what a
// run added to the visit list, the tray icon's menu and the status bar's field for the next run.
#include "ui/main/auto_check.h"

#include <QActionGroup>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "browser/comment_window.h"
#include "browser/web_view_frame.h"
#include "check/update_notice.h"
#include "register/registration_window.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/desktop_notice.h"
#include "support/list_utils.h"
#include "support/qt_text.h"
#include "support/window_utility.h"

namespace hanabira {

namespace {

// The URL of the list's selected row, or empty.
std::string SelectedUrl(const QTreeView* list, const TLightStrings& table) {
    const int row = SelectedRow(list);
    if (row < 0 || row >= table.Count()) return {};
    return ReadSiteRecord(table.Get(row)).SiteURL;
}

// Selects the row of url again after the list's lines were rebuilt (it may sit on another row now).
void SelectUrl(QTreeView* list, const TLightStrings& table, const std::string& url) {
    if (url.empty()) return;
    const int row = IndexOfURL(table, url);
    if (row < 0 || row == SelectedRow(list)) return;
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace

void TForm1::BuildAutoCheck() {
    autoCheck_ = std::make_unique<AutoCheckState>();
    AutoCheckState& a = *autoCheck_;
    a.notices =
        std::make_unique<DesktopNoticeSender>([this] { return Utility ? Utility->TrayIcon() : nullptr; });

    a.menu = new QMenu(Tr("自動チェック"), this);
    a.menu->setObjectName("pmAutoCheck");
    a.choices = new QActionGroup(this);
    a.choices->setExclusive(true);
    for (const int minutes : AutoCheckChoices()) {
        QAction* choice = a.menu->addAction(SjisToQString(AutoCheckChoiceName(minutes)));
        choice->setObjectName(QStringLiteral("acAutoCheck%1").arg(minutes));
        choice->setCheckable(true);
        choice->setData(minutes);
        choice->setChecked(minutes == 0);
        a.choices->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, minutes] { SetAutoCheckMinutes(minutes); });
    }
    // The check-all button keeps its click; its arrow drops the choices down.
    if (auto* button = qobject_cast<QToolButton*>(ToolBar2->widgetForAction(acRSSChecking))) {
        button->setMenu(a.menu);
        button->setPopupMode(QToolButton::MenuButtonPopup);
    }

    // At the right of the status bar, apart from the check's step line.
    a.nextRunField = new QLabel;
    a.nextRunField->setObjectName("lbNextAutoCheck");
    a.nextRunField->setVisible(false);
    StatusBar1->addPermanentWidget(a.nextRunField);

    a.tick = new QTimer(this);
    a.tick->setInterval(1000);
    connect(a.tick, &QTimer::timeout, this, &TForm1::ScheduleTick);
    a.tick->start();
}

void TForm1::StopAutoCheck() {
    if (autoCheck_) autoCheck_->tick->stop();
}

QMenu* TForm1::AutoCheckMenu() const {
    return autoCheck_->menu;
}
int TForm1::AutoCheckMinutes() const {
    return autoCheck_->schedule.intervalMinutes;
}
bool TForm1::ScheduledRunUnderWay() const {
    return autoCheck_->scheduledRun;
}

void TForm1::SetAutoCheckClock(std::function<ScheduleTime()> clock) {
    autoCheck_->clock = std::move(clock);
    SetAutoCheckMinutes(AutoCheckMinutes());  // counted again on the new clock
}

void TForm1::SetNoticeSender(std::unique_ptr<NoticeSender> sender) {
    autoCheck_->notices = std::move(sender);
}

void TForm1::SetAutoCheckMinutes(int minutes) {
    AutoCheckState& a = *autoCheck_;
    SetAutoCheckInterval(a.schedule, minutes, a.clock());
    for (QAction* choice : a.choices->actions())
        choice->setChecked(choice->data().toInt() == a.schedule.intervalMinutes);
    UpdateAutoCheckTexts();
}

bool TForm1::AutoCheckPutOff() const {
    if (Checking.load() || oneSiteCheckRunning_ || oneSiteSteps_ > 0) return true;
    // A registration or an edit (with its probe), any dialog or message box, an open menu.
    if (Form2 && Form2->isVisible()) return true;
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) return true;
    // A run must not start from inside the comment browser's waits, nor under the user's typing.
    if (TfrBrowserBase::InWait()) return true;
    if (Form3 && Form3->isActiveWindow()) return true;
    return false;
}

void TForm1::ScheduleTick() {
    AutoCheckState& a = *autoCheck_;
    const AutoCheckDecision d = AutoCheckTick(a.schedule, a.clock(), AutoCheckPutOff());
    if (d == AutoCheckDecision::Start) {
        // Nothing else is going on (checked just now), so the run starts for certain.
        a.scheduledRun = true;
        StartRssCheck();
    }
    UpdateAutoCheckTexts();
}

void TForm1::AutoCheckRunStarted() {
    autoCheck_->before = TakeVisitSnapshot(*SiteTableList);
}

std::vector<std::string> TForm1::RunNewVisitSites() const {
    return SitesEnteredVisitList(autoCheck_->before, *SiteTableList);
}

void TForm1::AutoCheckRunFinished() {
    AutoCheckState& a = *autoCheck_;
    const bool scheduled = a.scheduledRun;
    a.scheduledRun = false;
    if (scheduled) {
        // The user may be anywhere in the window: the page stays, and so does the selected site,
        // found by its URL in the rebuilt lists.
        const std::string siteUrl = SelectedUrl(lvSiteList, *CategoryView);
        const std::string visitUrl = SelectedUrl(lvVisitSite, *VisitList);
        // Days in the tray must lose no check result; a failure is tried again at the next run
        // and at close, where the user is asked. Saving may merge in a copy written elsewhere and
        // rebuild the lists, so the selection is looked up after it.
        if (!dataFileBlocked_) SaveSiteDataFile();
        RefreshVisitSites(false);
        SelectUrl(lvSiteList, *CategoryView, siteUrl);
        SelectUrl(lvVisitSite, *VisitList, visitUrl);
    } else {
        RefreshVisitSites(true);
    }
    AutoCheckRunEnded(a.schedule, a.clock());
    const std::vector<std::string> names = RunNewVisitSites();
    a.before.clear();
    // A run cut short by the program's close ends without a notice: the user is leaving.
    const bool closing = !a.tick->isActive();
    if (!names.empty() && !closing && !isActiveWindow() && a.notices)
        a.notices->Send(UpdateNoticeText(static_cast<int>(names.size()), names),
                        [this] { ShowVisitListFromNotice(); });
    UpdateAutoCheckTexts();
}

void TForm1::ShowVisitListFromNotice() {
    if (Utility && Utility->Attached())
        Utility->RestoreFromTray();
    else {
        showNormal();
        raise();
        activateWindow();
    }
    PageControl1->setCurrentWidget(tsCheckSite);
    PageControl3->setCurrentWidget(tsVisitSiteLists);
}

void TForm1::UpdateAutoCheckTexts() {
    AutoCheckState& a = *autoCheck_;
    const QString next = SjisToQString(NextAutoCheckText(a.schedule));
    if (a.nextRunField->text() != next) a.nextRunField->setText(next);
    a.nextRunField->setVisible(!next.isEmpty());
    QString tip = QApplication::applicationName();
    if (!next.isEmpty())
        tip +=
            QStringLiteral("\n") + Tr("訪問先 %1 件").arg(VisitList->Count()) + QStringLiteral("\n") + next;
    if (tip != a.trayTip) {
        a.trayTip = tip;
        if (Utility && Utility->TrayIcon()) Utility->TrayIcon()->setToolTip(tip);
    }
}

void TForm1::InstallTrayMenu() {
    QSystemTrayIcon* tray = Utility ? Utility->TrayIcon() : nullptr;
    AutoCheckState& a = *autoCheck_;
    if (!tray || a.trayMenu) return;
    a.trayMenu = new QMenu(this);
    a.trayMenu->setObjectName("pmTray");
    QAction* open = a.trayMenu->addAction(Tr("開く"));
    open->setObjectName("acTrayOpen");
    connect(open, &QAction::triggered, Utility.get(), &TMWUtility::RestoreFromTray);
    QAction* checkNow = a.trayMenu->addAction(Tr("今すぐすべてチェック"));
    checkNow->setObjectName("acTrayCheckAll");
    // No question: the user just asked for it.
    connect(checkNow, &QAction::triggered, this, [this] {
        if (!acRSSChecking->isEnabled()) return;
        StartRssCheck();
    });
    a.trayMenu->addMenu(a.menu);
    a.trayMenu->addSeparator();
    QAction* quit = a.trayMenu->addAction(Tr("終了"));
    quit->setObjectName("acTrayQuit");
    // Through the window's own close, which saves; a window hidden in the tray ends the program
    // only when told to.
    connect(quit, &QAction::triggered, this, [this] {
        if (close()) QApplication::quit();
    });
    connect(a.trayMenu, &QMenu::aboutToShow, this,
            [this, checkNow] { checkNow->setEnabled(acRSSChecking->isEnabled()); });
    tray->setContextMenu(a.trayMenu);
    a.trayTip.clear();
    UpdateAutoCheckTexts();
}

}  // namespace hanabira
