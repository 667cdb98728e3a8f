#pragma once
// The main window: the category tree beside the site list and the visit list, and the category,
// site and check commands.
#include <QAction>
#include <QMainWindow>
#include <QPointer>

#include <QDateTime>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "check/check_schedule.h"
#include "check/rss_check.h"
#include "store/category_tree.h"
#include "store/light_strings.h"
#include "store/site_record.h"

class QLabel;
class QMenu;
class QProgressBar;
class QTimer;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QToolBar;
class QTreeView;
class QTreeWidgetItem;

namespace hanabira {

class CategoryTreeWidget;
class NoticeSender;
class SiteFileSync;
struct SiteListMerge;
class TMWIniFile;
class TMWUtility;
class TForm2;
class TForm3;
class VirtualListModel;

class TForm1 : public QMainWindow, public CheckHost {
    Q_OBJECT
public:
    // programFolder: where the data file lives (the executable's folder unless a test gives one).
    explicit TForm1(const QString& programFolder = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The columns of the site list and the visit list.
    static const char* const kListColumns;

    // Connects the registration window: its registrations go to AddOrUpdateSite.
    void AttachRegistrationWindow(TForm2* form2);
    // Connects the comment window: it shows the visit list and stamps visits here.
    void AttachCommentWindow(TForm3* form3);
    TForm2* RegistrationWindow() const;
    TForm3* CommentWindow() const;
    // How the registration window is shown modally (tests replace it).
    void SetRegistrationModal(std::function<void(TForm2*)> show) { ShowRegistrationModal = std::move(show); }

    QString ProgramFolder() const { return programFolder_; }  // with a trailing separator
    QString DataFilePath() const { return programFolder_ + DataFileName; }
    // The settings file: the executable's name with the extension ".ini", in the program folder.
    QString SettingsFilePath() const;
    TMWIniFile& Settings() const { return *IniFile; }
    TMWUtility& WindowUtility() const { return *Utility; }
    // The settings this window keeps: the category tree's width (registered before the settings
    // file is read), the data file's name and the check settings (read after it).
    void RegisterSettings(TMWIniFile& ini);
    void ReadSettings(const TMWIniFile& ini);
    // Loads the data file into the site table and the tree and watches it for copies written
    // elsewhere. A file that exists but does not read is reported and never written over.
    void LoadSiteDataFile();
    // True when the data file existed but could not be read: it is then never written over.
    bool DataFileBlocked() const { return dataFileBlocked_; }
    // Sets up the lists' columns and selects the tree's first node, which shows its sites.
    void ShowFirstCategory();

    // The sites of the selected category and the sites to visit, as the two lists show them.
    const TLightStrings& CategorySites() const { return *CategoryView; }
    const TLightStrings& VisitSites() const { return *VisitList; }
    // The category tree as plain data, and the import of folders into it (names already in the
    // tree are not added again); returns how many nodes were added.
    CategoryTree Categories() const;
    int AddCategories(const CategoryTree& folders);

    bool IsChecking() const { return Checking.load(); }
    TMWRSSCheck* CurrentCheck() const { return CheckThread; }  // the run under way, else null
    bool InEditMode() const { return EditMode; }  // the registration window was last opened to edit
    // The strict walk's pause after every site (tests shorten it), and the sites a check of all
    // sites has in flight at once ("CheckConnections"; 1 = one after another, the strict walk).
    void SetCheckDelay(int ms) { CheckDelayMs = ms; }
    void SetCheckConnections(int connections) { CheckConnections = connections; }

    // Site table operations of the window.
    void AddOrUpdateSite(const TMWBlogListRec& rec, bool refresh);
    void ShowCategory(const std::string& name);
    void RefillRegistrationCategories();
    void MarkVisited(const std::string& url);
    // Saves the data file; a copy written there by another computer meanwhile is merged in first.
    bool SaveSiteDataFile(QString* error = nullptr);
    std::optional<std::string> SelectedCategory() const;  // text of the selected node

    // The rows of the two lists, formatted when the view paints them.
    QString lvSiteListData(int row, int column) const;
    QString lvVisitSiteData(int row, int column) const;

    // Commands.
    void ftBlogCategoriesChange();
    bool ftBlogCategoriesDragOver(QTreeWidgetItem* target, QObject* source);
    void ftBlogCategoriesDragDrop(QTreeWidgetItem* target, QObject* source);
    void lvSiteListDblClick();
    void lvVisitSiteDblClick();
    void tbAddCategoryClick();
    void tbDeleteCategoryClick();
    void tbAddSiteClick();
    void tbDeleteSiteClick();
    void T2Click();
    void HEADH1Click();
    void ToolButton1Click();
    void tbAboutClick();

    // Check commands.
    void acCheckRSSExecute();
    void acRSSCheckingExecute();
    void acAbortRssExecute();
    void acRefreshVisitSitesExecute();
    void UpdateActions();
    void StartRssCheck();
    void RssCheckFinished(TMWRSSCheck* sender);
    void CheckSiteHead(const std::string& url);
    // report: say the outcome in the status bar (the check command's own use).
    void CheckSiteRss(const std::string& url, bool report = false);
    void RefreshVisitSites(bool showPage);

    // How checks report (ui/main/check_report): a site whose feed could not be read is kept with
    // the reason until its next check, in memory only.
    struct FailedSite {
        std::string title, feedUrl, reason;  // Shift_JIS
        QDateTime when;
    };
    const std::map<std::string, FailedSite>& FailedSites() const { return failedSites_; }
    // Sites that entered the visit list (over all categories) in the last run of all sites.
    int SitesAddedToVisitList() const { return lastRunEntered_; }
    void ShowFailedSites();
    // Edits a site in the registration window (the edit command's own path).
    void EditSite(const TMWBlogListRec& rec);
    void SiteCheckEnded(const SiteCheckOutcome& outcome, const CheckProgress& progress) override;

    // What the worker reaches through its hand-off steps.
    TLightStrings& SiteTable() override { return *SiteTableList; }
    void SetStatusText(const std::string& text) override;
    // False when no category is selected (nothing is shown then).
    bool ShowSelectedCategory() override;
    bool ShowSiteChanged(int tableIndex) override;
    std::atomic<bool>& CheckingFlag() override { return Checking; }

    // The record at the selected row of lvSiteList; none when no row is selected.
    std::optional<TMWBlogListRec> SelectedSite() const;

    // The context menu of a site list, asked for at pos (viewport coordinates): selects the row there.
    void SiteListMenuRequested(QTreeView* list, const QPoint& pos);

    // The automatic check (ui/main/auto_check.cpp): a check of all sites every so many minutes,
    // and a desktop notice of the sites a run added to the visit list.
    int AutoCheckMinutes() const;
    void SetAutoCheckMinutes(int minutes);  // one of AutoCheckChoices(); anything else turns it off
    // One tick of the schedule (a timer calls it every second): starts a due run unless something
    // is going on that a run must not cut into.
    void ScheduleTick();
    bool AutoCheckPutOff() const;
    // The tray icon's menu; after the tray icon exists.
    void InstallTrayMenu();
    // The wall clock of the schedule, and where the notice goes (tests replace both).
    void SetAutoCheckClock(std::function<ScheduleTime()> clock);
    void SetNoticeSender(std::unique_ptr<NoticeSender> sender);
    QMenu* AutoCheckMenu() const;
    bool ScheduledRunUnderWay() const;

protected:
    void closeEvent(QCloseEvent* event) override;  // the close query
    bool event(QEvent* event) override;

private:
    // Owned objects, created in this order.
    std::unique_ptr<TMWUtility> Utility;
    std::unique_ptr<TMWIniFile> IniFile;  // the settings file beside the program
    std::unique_ptr<TLightStrings> ScratchList, CategoryView, VisitList, SiteTableList;

    QString DataFileName = QStringLiteral("RssSites.dat");
    QString programFolder_;
    std::atomic<bool> Checking{false};
    TMWRSSCheck* CheckThread = nullptr;
    bool EditMode = false;
    int CheckDelayMs = 100;
    int CheckConnections = kDefaultCheckConnections;
    bool dataFileBlocked_ = false;
    // Windows created after this one (null until they exist).
    QPointer<TForm2> Form2;
    QPointer<TForm3> Form3;
    std::function<void(TForm2*)> ShowRegistrationModal;

    // Controls, named (object names) as the program and the tests know them.
    QStatusBar* StatusBar1;
    QTabWidget* PageControl1;
    QWidget* tsCheckSite;
    QToolBar* ToolBar2;
    CategoryTreeWidget* ftBlogCategories;
    QSplitter* Splitter2;
    QTabWidget* PageControl3;
    QWidget* tsSiteList;
    QWidget* tsVisitSiteLists;
    QTreeView* lvSiteList;
    QTreeView* lvVisitSite;
    QMenu* PopupMenu1;
    QAction *acAddCategory, *acDeleteCategory, *acAddSite, *acDeleteSite, *acCheckRSS, *acRSSChecking,
        *acAbortRss, *acRefreshVisitSites, *acShowBrowser, *acAbout, *acEditSite, *acToggleHead, *acOpenSite;
    // The sites whose feed could not be read in the last run or one-site check (ui/main/check_report).
    QAction* acFailedSites = nullptr;
    // Import and export of OPML subscription lists (ui/main/opml_commands).
    QAction *acImportOpml = nullptr, *acExportOpml = nullptr;

    // Watches the data file for copies written elsewhere (a synced folder); bytesRead is what the
    // start read from it (empty when there was none).
    void WatchSiteDataFile(std::string bytesRead);
    void BuildCheckReport();
    void StartCheckReport();
    void EndCheckReport(TMWRSSCheck* sender);
    void NoteFeedOutcome(const std::string& url, const std::string& title, const std::string& feedUrl,
                         const std::string& failure);
    void UpdateFailedSitesAction();
    QProgressBar* checkProgress_ = nullptr;
    QLabel* checkEntered_ = nullptr;
    std::map<std::string, FailedSite> failedSites_;
    int lastRunEntered_ = 0;

    void BuildAutoCheck();
    void StopAutoCheck();  // no scheduled run from here on (the window is closing)
    void AutoCheckRunStarted();
    void AutoCheckRunFinished();
    void UpdateAutoCheckTexts();
    void ShowVisitListFromNotice();
    // The sites that entered the visit list during the run that just ended (titles, Shift_JIS).
    std::vector<std::string> RunNewVisitSites() const;
    struct AutoCheckState;
    std::unique_ptr<AutoCheckState> autoCheck_;
    // Merges in a copy of the data file written elsewhere, now or as soon as nothing is in progress.
    void SiteDataFileChanged();
    void TakeMergedList(const SiteListMerge& merge);
    std::unique_ptr<SiteFileSync> siteSync_;
    QTimer* siteSyncRetry_ = nullptr;

    // At close: every window's place and values, in the settings file's order, then the file.
    void StoreSettings();
    void BuildLayout();
    void BuildToolBar();  // ToolBar2 with the actions' buttons, after BuildActions
    void BuildActions();
    void OpenSite(QTreeView* list, TLightStrings& table);
    // The record at the list's selected row; says "no site selected" and gives false when there is none.
    bool ReadRow(QTreeView* list, const TLightStrings& table, TMWBlogListRec& rec);
    QTreeView* MakeSiteList(const char* name, std::function<QString(int, int)> cellText, bool dragEnabled);

    CheckBridge* bridge_ = nullptr;
    // Which site table line each category view line came from, for the category the view was
    // built for, and the table's size then: lets a check result update one line, not rebuild all.
    std::vector<int> viewRows_;
    std::string viewCategory_;
    int viewTableCount_ = -1;
    bool oneSiteCheckRunning_ = false;
    // One-site steps (HEAD or feed) waiting further down this thread's stack, and the abort
    // command's request that they stop.
    int oneSiteSteps_ = 0;
    bool oneSiteAbort_ = false;
    bool registrationCancelled_ = false;  // the registration window took back the site being added
    // The list whose context menu is open (its commands act on it), else null.
    QTreeView* menuList_ = nullptr;
    // The list a site command acts on: the one whose menu is open, else the visit list when it
    // has the focus, else the site list.
    QTreeView* CommandList() const;
    // The table behind a list: the visit list behind lvVisitSite, the category view behind lvSiteList.
    TLightStrings& TableOf(const QTreeView* list) const;
};

}  // namespace hanabira
