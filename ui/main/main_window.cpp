#include "ui/main/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdlib>
#include <ctime>

#include "browser/comment_window.h"
#include "browser/web_view_frame.h"
#include "check/dates.h"
#include "check/site_check.h"
#include "check/visit_list.h"
#include "store/ini_file.h"
#include "store/site_data.h"
#include "store/site_file_sync.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/image_list.h"
#include "support/list_utils.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "support/settings_binding.h"
#include "support/sjis_text.h"
#include "support/virtual_list_model.h"
#include "support/window_utility.h"
#include "register/registration_window.h"
#include "ui/main/auto_check.h"
#include "ui/main/category_tree_widget.h"
#include "ui/main/opml_commands.h"

namespace hanabira {

const char* const TForm1::kListColumns =
    "No:40 サイト名:150 URL:150 最終訪問日:120 最終更新日:120 HEAD日時:120 カテゴリ:100 登録日付:120 "
    "RSSURL:100 HEADチェック:80 管理人名:80";

namespace {

const char* kNoSiteSelected = "サイトが選択されていません";

}  // namespace

TForm1::TForm1(const QString& programFolder, QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle(Tr("VUVarovaduro - Hanabira 2号"));
    programFolder_ = programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
    if (!programFolder_.endsWith('/')) programFolder_ += '/';
    // The owned objects, in their creation order.
    Utility = std::make_unique<TMWUtility>();
    IniFile = std::make_unique<TMWIniFile>(QFile::encodeName(SettingsFilePath()).toStdString());
    ScratchList = std::make_unique<TLightStrings>('=');
    CategoryView = std::make_unique<TLightStrings>('\t');
    VisitList = std::make_unique<TLightStrings>('\t');
    SiteTableList = std::make_unique<TLightStrings>('\t');

    TfrBrowserBase::SetApplicationTerminating(false);
    bridge_ = new CheckBridge(this);
    BuildActions();
    BuildLayout();
    BuildCheckReport();
    BuildAutoCheck();
    ftBlogCategories->LoadCategoryTree(BuiltInCategoryTree());
    resize(621, 418);

    ShowRegistrationModal = [](TForm2* form2) { form2->exec(); };

    auto* idle = new QTimer(this);
    connect(idle, &QTimer::timeout, this, &TForm1::UpdateActions);
    idle->start(100);
}

TForm1::~TForm1() {
    StopAutoCheck();
    // Wait for a running check: its hand-off steps need this thread's event processing.
    for (int round = 0; round < 1001 && Checking.load(); ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    if (Checking.load()) {
        // The worker is still out there: cut it off from this window. The bridge stays alive (it is
        // never freed), so a late hand-off finds it detached and does nothing.
        bridge_->Detach();
        bridge_->setParent(nullptr);
    } else {
        delete bridge_;
    }
    bridge_ = nullptr;
    if (Form3) Form3->SetSiteTables(nullptr, nullptr, {});
    IniFile.reset();
    CategoryView.reset();
    SiteTableList.reset();
    ScratchList.reset();
    Utility.reset();
    VisitList.reset();
}

namespace {
QString RowCell(const TLightStrings* table, int row, int column) {
    if (!table || row < 0 || row >= table->Count()) return {};
    return SjisToQString(FillSiteListItem(table->Get(row), row, column));
}
}  // namespace

QString TForm1::lvSiteListData(int row, int column) const { return RowCell(CategoryView.get(), row, column); }
QString TForm1::lvVisitSiteData(int row, int column) const { return RowCell(VisitList.get(), row, column); }

namespace {

// A list that paints a hint over itself while it has no rows. The hint is only painted: the list
// stays empty, with no row that a command could take for a site.
class HintedListView : public QTreeView {
public:
    std::function<QString()> Hint;  // empty text: no hint

protected:
    void paintEvent(QPaintEvent* event) override {
        QTreeView::paintEvent(event);
        if (!Hint || !model() || model()->rowCount() > 0) return;
        const QString text = Hint();
        if (text.isEmpty()) return;
        QPainter painter(viewport());
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(viewport()->rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                         text);
    }
};

}  // namespace

QTreeView* TForm1::MakeSiteList(const char* name, std::function<QString(int, int)> cellText, bool dragEnabled) {
    auto* view = new HintedListView;
    view->setObjectName(name);
    auto* model = new VirtualListModel(view);
    model->DragEnabled = dragEnabled;
    // Rows are formatted from the table line only when the view paints them.
    model->CellText = std::move(cellText);
    view->setModel(model);
    view->setDragEnabled(dragEnabled);
    view->setDragDropMode(dragEnabled ? QAbstractItemView::DragOnly : QAbstractItemView::NoDragDrop);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& pos) { SiteListMenuRequested(view, pos); });
    return view;
}

void TForm1::BuildActions() {
    auto make = [this](const char* name, const char* hint, int image) {
        auto* a = new QAction(this);
        a->setObjectName(name);
        a->setText(Tr(hint));
        // Hints are tool tips only: the status bar carries the check's progress line.
        a->setToolTip(Tr(hint));
        if (image >= 0) a->setIcon(ImageListIcon(image));
        return a;
    };
    acAddCategory = make("tbAddCategory", "カテゴリを追加", 2);
    acDeleteCategory = make("tbDeleteCategory", "選択したカテゴリを削除", 3);
    acAddSite = make("tbAddSite", "サイトURLを登録", 1);
    acDeleteSite = make("tbDeleteSite", "選択したサイトを削除", 4);
    acCheckRSS = make("acCheckRSS", "選択しているサイトの更新状況をチェックする", 13);
    acRSSChecking = make("acRSSChecking", "すべてのサイトの更新状況をチェックする", 24);
    acAbortRss = make("acAbortRss", "RSSチェックを中断する", 17);
    acRefreshVisitSites = make("acRefreshVisitSites", "訪問先サイトリストの更新", 25);
    acShowBrowser = make("ToolButton1", "ブラウザを表示", 20);
    acAbout = make("tbAbout", "Hanabira 1号について", 12);
    acEditSite = make("T2", "選択したサイトを修正(&M)", -1);
    acToggleHead = make("HEADH1", "HEADチェックのスキップのON/OFF(&H)", -1);
    acAbortRss->setEnabled(false);
    acOpenSite = make("acOpenSite", "選択したサイトを開く", -1);
    SetShortcut(acAddSite, QKeySequence(Qt::CTRL | Qt::Key_N));
    SetShortcut(acCheckRSS, QKeySequence(Qt::Key_F5));
    SetShortcut(acRSSChecking, QKeySequence(Qt::CTRL | Qt::Key_F5));
    // The site keys act on the list that has the focus (added to both lists below).
    SetShortcut(acDeleteSite, QKeySequence(Qt::Key_Delete), Qt::WidgetWithChildrenShortcut);
    SetShortcut(acEditSite, QKeySequence(Qt::Key_F2), Qt::WidgetWithChildrenShortcut);
    acOpenSite->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    acOpenSite->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(acOpenSite, &QAction::triggered, this, [this] {
        if (CommandList() == lvVisitSite)
            lvVisitSiteDblClick();
        else
            lvSiteListDblClick();
    });

    connect(acAddCategory, &QAction::triggered, this, &TForm1::tbAddCategoryClick);
    connect(acDeleteCategory, &QAction::triggered, this, &TForm1::tbDeleteCategoryClick);
    connect(acAddSite, &QAction::triggered, this, &TForm1::tbAddSiteClick);
    connect(acDeleteSite, &QAction::triggered, this, &TForm1::tbDeleteSiteClick);
    connect(acCheckRSS, &QAction::triggered, this, &TForm1::acCheckRSSExecute);
    connect(acRSSChecking, &QAction::triggered, this, &TForm1::acRSSCheckingExecute);
    connect(acAbortRss, &QAction::triggered, this, &TForm1::acAbortRssExecute);
    connect(acRefreshVisitSites, &QAction::triggered, this, &TForm1::acRefreshVisitSitesExecute);
    connect(acShowBrowser, &QAction::triggered, this, &TForm1::ToolButton1Click);
    connect(acAbout, &QAction::triggered, this, &TForm1::tbAboutClick);
    connect(acEditSite, &QAction::triggered, this, &TForm1::T2Click);
    connect(acToggleHead, &QAction::triggered, this, &TForm1::HEADH1Click);
    acImportOpml = make("acImportOpml", "OPMLファイルからサイトを取り込む(&I)...", -1);
    acExportOpml = make("acExportOpml", "サイトをOPMLファイルに書き出す(&E)...", -1);
    connect(acImportOpml, &QAction::triggered, this, [this] { ImportOpmlFile(this); });
    connect(acExportOpml, &QAction::triggered, this, [this] { ExportOpmlFile(this); });
}

void TForm1::BuildToolBar() {
    ToolBar2 = new QToolBar;
    ToolBar2->setObjectName("ToolBar2");
    ToolBar2->setIconSize(QSize(22, 22));
    ToolBar2->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar2->addAction(acAddCategory);
    ToolBar2->addAction(acDeleteCategory);
    ToolBar2->addSeparator();
    ToolBar2->addAction(acAddSite);
    ToolBar2->addAction(acDeleteSite);
    ToolBar2->addSeparator();
    ToolBar2->addAction(acCheckRSS);
    ToolBar2->addAction(acRSSChecking);
    ToolBar2->addAction(acAbortRss);
    ToolBar2->addSeparator();
    ToolBar2->addAction(acRefreshVisitSites);
    ToolBar2->addAction(acShowBrowser);
    ToolBar2->addSeparator();
    ToolBar2->addAction(acAbout);
    // The buttons carry the names the rest of the program uses for them.
    const std::pair<QAction*, const char*> buttonNames[] = {
        {acCheckRSS, "tbCheckRSS"}, {acRSSChecking, "tbRSSChecking"}, {acAbortRss, "ToolButton23"},
        {acRefreshVisitSites, "tbrefreshVisitSites"}, {acAddCategory, "tbAddCategory"},
        {acDeleteCategory, "tbDeleteCategory"}, {acAddSite, "tbAddSite"}, {acDeleteSite, "tbDeleteSite"},
        {acShowBrowser, "ToolButton1"}, {acAbout, "tbAbout"}};
    for (const auto& [action, name] : buttonNames)
        if (QWidget* w = ToolBar2->widgetForAction(action)) w->setObjectName(name);
    // The OPML commands share one button with a menu, before the about button.
    auto* opmlButton = new QToolButton;
    opmlButton->setObjectName("tbOpml");
    opmlButton->setText("OPML");
    opmlButton->setToolTip(Tr("OPMLファイルの取り込みと書き出し"));
    opmlButton->setPopupMode(QToolButton::InstantPopup);
    opmlButton->addAction(acImportOpml);
    opmlButton->addAction(acExportOpml);
    ToolBar2->insertWidget(acAbout, opmlButton);
    ToolBar2->insertSeparator(acAbout);
}

void TForm1::BuildLayout() {
    StatusBar1 = new QStatusBar;
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(true);
    setStatusBar(StatusBar1);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName("PageControl1");
    PageControl1->setDocumentMode(true);
    tsCheckSite = new QWidget;
    tsCheckSite->setObjectName("tsCheckSite");
    PageControl1->addTab(tsCheckSite, Tr("サイト更新チェックタブ"));
    setCentralWidget(PageControl1);

    auto* pageLayout = new QVBoxLayout(tsCheckSite);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);

    BuildToolBar();
    pageLayout->addWidget(ToolBar2);

    Splitter2 = new QSplitter(Qt::Horizontal);
    Splitter2->setObjectName("Splitter2");
    Splitter2->setChildrenCollapsible(false);
    ftBlogCategories = new CategoryTreeWidget;
    ftBlogCategories->setObjectName("ftBlogCategories");
    ftBlogCategories->DragOverHandler = [this](QTreeWidgetItem* t, QObject* s) { return ftBlogCategoriesDragOver(t, s); };
    ftBlogCategories->DropHandler = [this](QTreeWidgetItem* t, QObject* s) { ftBlogCategoriesDragDrop(t, s); };
    connect(ftBlogCategories, &QTreeWidget::currentItemChanged, this, [this] { ftBlogCategoriesChange(); });
    Splitter2->addWidget(ftBlogCategories);

    PageControl3 = new QTabWidget;
    PageControl3->setObjectName("PageControl3");
    PageControl3->setDocumentMode(true);
    lvSiteList = MakeSiteList("lvSiteList", [this](int r, int c) { return lvSiteListData(r, c); }, true);
    lvVisitSite = MakeSiteList("lvVisitSite", [this](int r, int c) { return lvVisitSiteData(r, c); }, false);
    // A first start shows an empty list: say how the first site gets in.
    static_cast<HintedListView*>(lvSiteList)->Hint = [this] {
        return SiteTableList && SiteTableList->Count() == 0
                   ? Tr("まだサイトが登録されていません。\n\n"
                        "Ctrl+N（サイトURLを登録）でブログのアドレスを登録するか、\n"
                        "「OPML」ボタンからほかのリーダーの購読リストを取り込んでください。")
                   : QString();
    };
    tsSiteList = new QWidget;
    tsSiteList->setObjectName("tsSiteList");
    tsVisitSiteLists = new QWidget;
    tsVisitSiteLists->setObjectName("tsVisitSiteLists");
    for (auto [page, list] : {std::pair{tsSiteList, lvSiteList}, std::pair{tsVisitSiteLists, lvVisitSite}}) {
        auto* l = new QVBoxLayout(page);
        l->setContentsMargins(0, 0, 0, 0);
        l->addWidget(list);
    }
    PageControl3->addTab(tsSiteList, Tr("サイトリスト"));
    PageControl3->addTab(tsVisitSiteLists, Tr("訪問先サイトリスト"));
    Splitter2->addWidget(PageControl3);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({141, 480});
    pageLayout->addWidget(Splitter2, 1);

    connect(lvSiteList, &QAbstractItemView::doubleClicked, this, [this] { lvSiteListDblClick(); });
    connect(lvVisitSite, &QAbstractItemView::doubleClicked, this, [this] { lvVisitSiteDblClick(); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    PopupMenu1->addAction(acEditSite);
    PopupMenu1->addAction(acToggleHead);
    // The menu's commands act on the list it was opened on until it has done so.
    connect(PopupMenu1, &QMenu::aboutToHide, this,
            [this] { QTimer::singleShot(0, this, [this] { menuList_ = nullptr; }); });
    for (QTreeView* list : {lvSiteList, lvVisitSite})
        list->addActions({acDeleteSite, acEditSite, acOpenSite});
}

// ---- site table operations ----

std::optional<std::string> TForm1::SelectedCategory() const {
    QTreeWidgetItem* item = ftBlogCategories->currentItem();
    if (!item) return std::nullopt;
    return CategoryTreeWidget::NodeText(item);
}

void TForm1::ShowCategory(const std::string& name) {
    viewTableCount_ = -1;
    FilterCategory(*SiteTableList, name, *CategoryView, viewRows_);
    viewCategory_ = name;
    viewTableCount_ = SiteTableList->Count();
    RefreshVirtualList(lvSiteList, *CategoryView);
}

bool TForm1::ShowSiteChanged(int tableIndex) {
    const auto name = SelectedCategory();
    if (!name) return false;
    // A check changes one line at a time; only when the view was built for this table and this
    // category can that line be brought in alone.
    if (*name != viewCategory_ || viewTableCount_ != SiteTableList->Count() ||
        !UpdateCategoryView(*SiteTableList, tableIndex, *name, *CategoryView, viewRows_)) {
        ShowCategory(*name);
        return true;
    }
    RefreshVirtualList(lvSiteList, *CategoryView);
    return true;
}

bool TForm1::ShowSelectedCategory() {
    const auto name = SelectedCategory();
    if (!name) return false;
    ShowCategory(*name);
    return true;
}

namespace {
// A changed data file that does not read is left alone; the user must hear where the list went.
void ReportConflictCopy(QWidget* parent, const QString& dataPath, const SiteFileSyncResult& r) {
    if (r.outcome != SiteFileSyncResult::Conflict) return;
    ShowMessage(parent, Tr("他で変更されたサイトデータファイルが読めないため、統合も上書きもしませんでした。\n%1\n%2\n\n"
                           "このプログラムのサイトリストは次のファイルに保存しました。\n%3")
                            .arg(dataPath, SjisToQString(r.Error),
                                 QFile::decodeName(QByteArray::fromStdString(r.ConflictPath))));
}
}  // namespace

bool TForm1::SaveSiteDataFile(QString* error) {
    std::string why;
    if (!siteSync_) {
        const bool ok = SaveSiteData(QFile::encodeName(DataFilePath()).toStdString(), *SiteTableList,
                                     ftBlogCategories->ToCategoryTree(), &why);
        if (!ok && error) *error = SjisToQString(why);
        return ok;
    }
    const SiteFileSyncResult r = siteSync_->Sync(*SiteTableList, ftBlogCategories->ToCategoryTree(), true);
    if (r.MergeDone) TakeMergedList(r.Merge);
    ReportConflictCopy(this, DataFilePath(), r);
    if (r.outcome == SiteFileSyncResult::Failed) {
        if (error) *error = SjisToQString(r.Error);
        return false;
    }
    return true;
}

void TForm1::WatchSiteDataFile(std::string bytesRead) {
    siteSync_ = std::make_unique<SiteFileSync>(QFile::encodeName(DataFilePath()).toStdString());
    siteSync_->SetBase(std::move(bytesRead));
    siteSync_->Watch();
    siteSyncRetry_ = new QTimer(this);
    siteSyncRetry_->setSingleShot(true);
    siteSyncRetry_->setInterval(2000);
    connect(siteSyncRetry_, &QTimer::timeout, this, &TForm1::SiteDataFileChanged);
    connect(siteSync_.get(), &SiteFileSync::FileChanged, this, &TForm1::SiteDataFileChanged);
}

void TForm1::SiteDataFileChanged() {
    if (!siteSync_ || dataFileBlocked_) return;
    // The list must hold still while it is merged: a check writes into it by position, and an open
    // registration, edit or question acts on what it showed.
    if (Checking.load() || oneSiteSteps_ > 0 || QApplication::activeModalWidget() ||
        (Form2 && Form2->isVisible())) {
        siteSyncRetry_->start();
        return;
    }
    const SiteFileSyncResult r = siteSync_->Sync(*SiteTableList, ftBlogCategories->ToCategoryTree(), false);
    if (r.MergeDone) TakeMergedList(r.Merge);
    ReportConflictCopy(this, DataFilePath(), r);
}

void TForm1::TakeMergedList(const SiteListMerge& merge) {
    const auto selected = SelectedCategory();
    *SiteTableList = merge.Merged.Sites;
    ftBlogCategories->LoadCategoryTree(merge.Merged.Tree);
    ftBlogCategories->expandAll();
    QTreeWidgetItem* keep = nullptr;
    for (QTreeWidgetItem* item : ftBlogCategories->AllNodes())
        if (selected && CategoryTreeWidget::NodeText(item) == *selected) keep = item;
    if (!keep) keep = ftBlogCategories->topLevelItem(0);
    if (keep) ftBlogCategories->setCurrentItem(keep);
    if (const auto name = SelectedCategory()) ShowCategory(*name);
    RefreshVisitSites(false);
    RefillRegistrationCategories();
    StatusBar1->showMessage(Tr("他で変更されたサイトリストを統合しました: 追加 %1 件、削除 %2 件、競合 %3 件")
                                .arg(merge.Added)
                                .arg(merge.Deleted)
                                .arg(merge.Conflicts));
}

void TForm1::AddOrUpdateSite(const TMWBlogListRec& rec, bool refresh) {
    const QPointer<TForm1> self(this);
    // What the table held for this URL, so that a registration taken back leaves it as it was.
    const int before = IndexOfURL(*SiteTableList, rec.SiteURL);
    const std::string oldLine = before >= 0 ? SiteTableList->Get(before) : std::string();
    registrationCancelled_ = false;
    StoreSiteRecord(*SiteTableList, rec);
    // With no category selected the new site is not checked either.
    if (refresh && ShowSelectedCategory() && !EditMode) {
        CheckSiteHead(rec.SiteURL);
        if (self && !registrationCancelled_) CheckSiteRss(rec.SiteURL);
    }
    if (!self) return;
    if (registrationCancelled_) {
        registrationCancelled_ = false;
        const int i = IndexOfURL(*SiteTableList, rec.SiteURL);
        if (i >= 0) {
            if (before >= 0)
                SiteTableList->Put(i, oldLine);
            else
                SiteTableList->Delete(i);
        }
        ShowSelectedCategory();
        return;  // nothing registered, nothing saved
    }
    if (!dataFileBlocked_) SaveSiteDataFile();
}

void TForm1::MarkVisited(const std::string& url) {
    if (!StampLastVisit(*SiteTableList, url, FormatDateText(NowDateTime()))) return;
    ShowSelectedCategory();
    StampLastVisit(*VisitList, url, FormatDateText(NowDateTime()));
    RefreshVirtualList(lvVisitSite, *VisitList);
    if (Form3) Form3->RefreshSiteList();
}

QString TForm1::SettingsFilePath() const {
    return programFolder_ + QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
           QStringLiteral(".ini");
}

void TForm1::SetStatusText(const std::string& text) { StatusBar1->showMessage(SjisToQString(text)); }

std::optional<TMWBlogListRec> TForm1::SelectedSite() const {
    const int row = SelectedRow(lvSiteList);
    if (row < 0 || row >= CategoryView->Count()) return std::nullopt;
    return ReadSiteRecord(CategoryView->Get(row));
}

void TForm1::AttachRegistrationWindow(TForm2* form2) {
    Form2 = form2;
    if (!form2) return;
    form2->OnAddOrUpdateSite = [this](const TMWBlogListRec& rec) { AddOrUpdateSite(rec, true); };
    form2->OnShowSiteListPage = [this] { PageControl3->setCurrentWidget(tsSiteList); };
    form2->OnCancelRegistration = [this] {
        registrationCancelled_ = true;
        if (oneSiteSteps_ > 0) oneSiteAbort_ = true;  // ends the site's check under way, not a check of all
    };
}

TForm2* TForm1::RegistrationWindow() const { return Form2.data(); }
TForm3* TForm1::CommentWindow() const { return Form3.data(); }

void TForm1::AttachCommentWindow(TForm3* form3) {
    Form3 = form3;
    if (!form3) return;
    form3->SetSiteTables(SiteTableList.get(), VisitList.get(), [this](const std::string& url) { MarkVisited(url); });
}

CategoryTree TForm1::Categories() const { return ftBlogCategories->ToCategoryTree(); }

int TForm1::AddCategories(const CategoryTree& folders) { return ftBlogCategories->AddFolders(folders); }

void TForm1::RefillRegistrationCategories() {
    if (Form2) Form2->SetCategoryList(CategoryListText(ftBlogCategories->ToCategoryTree()));
}

// ---- tree commands ----

void TForm1::ftBlogCategoriesChange() {
    if (ShowSelectedCategory()) RefreshVisitSites(false);
}

bool TForm1::ftBlogCategoriesDragOver(QTreeWidgetItem* target, QObject* source) {
    if (!target) return false;
    const bool fromTree = source == ftBlogCategories;
    const bool fromList = source == lvSiteList || source == lvSiteList->viewport();
    if (!fromTree && !fromList) return false;
    if (fromList && CategoryTreeWidget::NodeText(target) == AllSitesCategory()) return false;
    if (fromTree) {
        QTreeWidgetItem* dragged = ftBlogCategories->currentItem();
        if (!dragged || IsSystemCategory(CategoryTreeWidget::NodeText(dragged))) return false;
    }
    return true;
}

void TForm1::ftBlogCategoriesDragDrop(QTreeWidgetItem* target, QObject* source) {
    if (!target) return;
    if (source == ftBlogCategories) {
        QTreeWidgetItem* dragged = ftBlogCategories->currentItem();
        if (!dragged || IsSystemCategory(CategoryTreeWidget::NodeText(dragged))) return;
        // Onto itself or into its own branch: nothing moves, nothing is lost.
        for (QTreeWidgetItem* p = target; p; p = p->parent())
            if (p == dragged) return;
        QTreeWidgetItem* parent = dragged->parent();
        if (parent)
            parent->removeChild(dragged);
        else
            ftBlogCategories->takeTopLevelItem(ftBlogCategories->indexOfTopLevelItem(dragged));
        QTreeWidgetItem* root = ftBlogCategories->topLevelItem(0);
        QTreeWidgetItem* next = ftBlogCategories->NextInTreeOrder(target);
        const bool toRoot = CategoryTreeWidget::NodeText(target) == AllSitesCategory() || !next;
        if (toRoot || !root) {
            if (root)
                root->addChild(dragged);
            else
                ftBlogCategories->addTopLevelItem(dragged);
        } else if (QTreeWidgetItem* nextParent = next->parent()) {
            nextParent->insertChild(nextParent->indexOfChild(next), dragged);
        } else {
            ftBlogCategories->insertTopLevelItem(ftBlogCategories->indexOfTopLevelItem(next), dragged);
        }
        CategoryTreeWidget::SetImages(dragged, 5, 0);
        ftBlogCategories->setCurrentItem(dragged);
        RefillRegistrationCategories();
        return;
    }
    if (source == lvSiteList || source == lvSiteList->viewport()) {
        std::optional<TMWBlogListRec> rec = SelectedSite();
        if (!rec) return;
        const std::string t = CategoryTreeWidget::NodeText(target);
        if (t == AllSitesCategory()) return;
        rec->Category = (t == UncategorizedCategory()) ? std::string() : t;
        const int i = IndexOfURL(*SiteTableList, rec->SiteURL);
        if (i < 0) return;
        SiteTableList->Put(i, WriteSiteRecord(*rec));
        ShowSelectedCategory();
    }
}

void TForm1::tbAddCategoryClick() {
    const auto answer = Messages().Input(this, Tr("カテゴリの追加"), Tr("カテゴリ名を入力してください"), QString());
    if (!answer) return;
    std::string name = TrimSpaces(QStringToSjis(*answer));
    std::string cleaned;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\t') continue;
        if (name[i] == '\r' && i + 1 < name.size() && name[i + 1] == '\n') {
            ++i;
            continue;
        }
        cleaned += name[i];
    }
    name = cleaned;
    if (name.empty()) {
        ShowMessage(this, Tr("カテゴリ名が入力されていません"));
        return;
    }
    for (QTreeWidgetItem* node : ftBlogCategories->AllNodes()) {
        if (CategoryTreeWidget::NodeText(node) == name) {
            ShowMessage(this, Tr("既に同じ名前のカテゴリが設定されています"));
            return;
        }
    }
    QTreeWidgetItem* item = CategoryTreeWidget::NewNode(name, 5, 0);
    if (QTreeWidgetItem* root = ftBlogCategories->topLevelItem(0))
        root->addChild(item);
    else
        ftBlogCategories->addTopLevelItem(item);
    ftBlogCategories->setCurrentItem(item);
    ShowSelectedCategory();
    RefillRegistrationCategories();
}

void TForm1::tbDeleteCategoryClick() {
    QTreeWidgetItem* item = ftBlogCategories->currentItem();
    if (!item) {
        ShowMessage(this, Tr("カテゴリが選択されていません"));
        return;
    }
    const std::string name = CategoryTreeWidget::NodeText(item);
    if (IsSystemCategory(name)) {
        ShowMessage(this, Tr("システムカテゴリは削除できません"));
        return;
    }
    if (!AskQuestion(this, Tr("選択したカテゴリを削除しますか？\r\n\r\n [") + SjisToQString(name) + Tr("]"))) return;
    delete item;  // with any nodes below it; the tree selects another node
    ClearCategory(*SiteTableList, name);
    ShowSelectedCategory();
    RefillRegistrationCategories();
}

// ---- site commands ----

QTreeView* TForm1::CommandList() const {
    if (menuList_) return menuList_;
    if (lvVisitSite->hasFocus()) return lvVisitSite;
    return lvSiteList;
}

TLightStrings& TForm1::TableOf(const QTreeView* list) const {
    return list == lvVisitSite ? *VisitList : *CategoryView;
}

void TForm1::SiteListMenuRequested(QTreeView* list, const QPoint& pos) {
    // As anywhere on a desktop, the menu is about the row under the pointer.
    const QModelIndex index = list->indexAt(pos);
    if (index.isValid())
        list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    menuList_ = list;
    PopupMenu1->popup(list->viewport()->mapToGlobal(pos));
}

bool TForm1::ReadRow(QTreeView* list, const TLightStrings& table, TMWBlogListRec& rec) {
    const int row = SelectedRow(list);
    if (row < 0 || row >= table.Count()) {
        ShowMessage(this, Tr(kNoSiteSelected));
        return false;
    }
    rec = ReadSiteRecord(table.Get(row));
    return true;
}

void TForm1::OpenSite(QTreeView* list, TLightStrings& table) {
    TMWBlogListRec rec;
    if (!ReadRow(list, table, rec)) return;
    MarkVisited(rec.SiteURL);
    if (!Form3) return;
    Form3->ShowBrowser();
    Form3->OpenURL(rec.SiteURL);
}

void TForm1::lvSiteListDblClick() { OpenSite(lvSiteList, *CategoryView); }
void TForm1::lvVisitSiteDblClick() { OpenSite(lvVisitSite, *VisitList); }

void TForm1::tbAddSiteClick() {
    EditMode = false;
    if (!Form2) return;
    Form2->BeginAdd();
    ShowRegistrationModal(Form2);
}

void TForm1::T2Click() {
    TMWBlogListRec rec;
    QTreeView* list = CommandList();
    if (!ReadRow(list, TableOf(list), rec)) return;
    EditSite(rec);
}

void TForm1::EditSite(const TMWBlogListRec& rec) {
    EditMode = true;
    if (!Form2) return;
    Form2->BeginEdit(rec);
    ShowRegistrationModal(Form2);
}

void TForm1::tbDeleteSiteClick() {
    TMWBlogListRec rec;
    QTreeView* list = CommandList();
    if (!ReadRow(list, TableOf(list), rec)) return;
    if (!AskQuestion(this, Tr("選択したサイトを削除しますか？\r\n\r\n[") + SjisToQString(rec.SiteTitle) + Tr("]")))
        return;
    DeleteSiteByURL(*SiteTableList, rec.SiteURL);
    ShowSelectedCategory();
}

void TForm1::HEADH1Click() {
    TMWBlogListRec rec;
    QTreeView* list = CommandList();
    if (!ReadRow(list, TableOf(list), rec)) return;
    // The site table holds the site as it is now (a visit-list line may be older).
    const int i = IndexOfURL(*SiteTableList, rec.SiteURL);
    if (i < 0) {
        ShowMessage(this, Tr(kNoSiteSelected));
        return;
    }
    rec = ReadSiteRecord(SiteTableList->Get(i));
    rec.HeadCheck = rec.HeadCheck.empty() ? std::string("Skip") : std::string();
    SiteTableList->Put(i, WriteSiteRecord(rec));
    ShowSelectedCategory();
    if (list == lvVisitSite) {
        StoreSiteRecord(*VisitList, rec);
        RefreshVirtualList(lvVisitSite, *VisitList);
    }
}

void TForm1::ToolButton1Click() {
    if (Form3) Form3->ShowBrowser();
}

void TForm1::tbAboutClick() {
    Messages().Info(this, Tr("VUVarovaduro Hanabira 2号 ver.20100501\r\nLinux 版: Qt 6 と libcurl で作り直したもの"));
}

// ---- check commands ----

void TForm1::UpdateActions() {
    const bool checking = Checking.load();
    const bool oneSite = oneSiteCheckRunning_ || oneSiteSteps_ > 0;
    acCheckRSS->setEnabled(!checking && !oneSite);
    acRSSChecking->setEnabled(!checking && !oneSite);
    // The one-site check waits with the window painting; it can be stopped like a run.
    acAbortRss->setEnabled(checking || oneSite);
    acRefreshVisitSites->setEnabled(!checking);
}

void TForm1::acRSSCheckingExecute() {
    // The user has just asked for the check: Enter confirms it.
    if (AskQuestion(this, Tr("すべてのサイトの更新状況をチェックしますか？"), true)) StartRssCheck();
}

void TForm1::acAbortRssExecute() {
    if (Checking.load() && CheckThread) CheckThread->AbortCheck();
    // A one-site check further down this thread's stack sees the flag at its next stop test
    // (within 50 ms) and ends without storing anything.
    if (oneSiteCheckRunning_ || oneSiteSteps_ > 0) oneSiteAbort_ = true;
}

void TForm1::acRefreshVisitSitesExecute() { RefreshVisitSites(true); }

void TForm1::StartRssCheck() {
    if (CheckThread && Checking.load()) return;  // never a second worker
    AutoCheckRunStarted();
    CheckThread = new TMWRSSCheck(
        bridge_, CheckDelayMs, [this](TMWRSSCheck* sender) { RssCheckFinished(sender); }, CheckConnections);
    StartCheckReport();
    UpdateActions();
}

void TForm1::RssCheckFinished(TMWRSSCheck* sender) {
    EndCheckReport(sender);
    if (sender == CheckThread) CheckThread = nullptr;
    AutoCheckRunFinished();  // the visit list, and for a scheduled run the save and the notice
    UpdateActions();
}

void TForm1::acCheckRSSExecute() {
    // The window handles events while the check waits, and may be closed or even destroyed then:
    // after each step, nothing of it is touched unless it is still there.
    const QPointer<TForm1> self(this);
    oneSiteCheckRunning_ = true;
    oneSiteAbort_ = false;
    UpdateActions();
    for (const char* name : {"tbCheckRSS", "tbRSSChecking"})
        if (QWidget* w = ToolBar2->findChild<QWidget*>(name)) w->repaint();
    const std::optional<TMWBlogListRec> rec = SelectedSite();
    if (!rec) {
        ShowMessage(this, Tr(kNoSiteSelected));
    } else {
        try {
            CheckSiteHead(rec->SiteURL);
            if (!self) return;
            if (!oneSiteAbort_) CheckSiteRss(rec->SiteURL, /*report=*/true);
            if (!self) return;
        } catch (...) {
            // The one-site check answers any failure of its steps as it does a missing row.
            if (!self) return;
            ShowMessage(this, Tr(kNoSiteSelected));
        }
    }
    oneSiteCheckRunning_ = false;
    UpdateActions();
}

namespace {
// A one-site step's request: the window keeps painting, and the step stops when the abort command
// asks, the application shuts down, or the window goes away under it.
RequestControl OneSiteControl(std::function<bool()> stop) {
    RequestControl control;
    control.pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); };
    control.abort = [stop = std::move(stop)] { return QCoreApplication::closingDown() || stop(); };
    return control;
}
}  // namespace

void TForm1::CheckSiteHead(const std::string& url) {
    const QPointer<TForm1> self(this);
    // Outside the check command (a registration's check) a stale stop must not hold.
    if (!oneSiteCheckRunning_ && oneSiteSteps_ == 0) oneSiteAbort_ = false;
    ++oneSiteSteps_;
    UpdateActions();
    const SiteCheckResult r = CheckSiteHeadIn(*SiteTableList, url, OneSiteControl([self] {
        return !self || self->oneSiteAbort_;
    }));
    if (!self) return;
    --oneSiteSteps_;
    if (r == SiteCheckResult::Stored) ShowSelectedCategory();
}

void TForm1::CheckSiteRss(const std::string& url, bool report) {
    const QPointer<TForm1> self(this);
    ++oneSiteSteps_;
    UpdateActions();
    const int at = IndexOfURL(*SiteTableList, url);
    const TMWBlogListRec before = at >= 0 ? ReadSiteRecord(SiteTableList->Get(at)) : TMWBlogListRec{};
    std::string failure;
    const SiteCheckResult r = CheckSiteRssIn(*SiteTableList, url, OneSiteControl([self] {
        return !self || self->oneSiteAbort_;
    }), failure);
    if (!self) return;
    --oneSiteSteps_;
    if (r != SiteCheckResult::Aborted && r != SiteCheckResult::NotFound && r != SiteCheckResult::NoFeedUrl)
        NoteFeedOutcome(url, before.SiteTitle, before.RSSURL, failure);
    if (report && r != SiteCheckResult::Aborted && r != SiteCheckResult::NoFeedUrl && r != SiteCheckResult::NotFound) {
        // The one-site check says how it went: updated, unchanged, or why it failed.
        const int now = IndexOfURL(*SiteTableList, url);
        const TMWBlogListRec after = now >= 0 ? ReadSiteRecord(SiteTableList->Get(now)) : before;
        const bool updated =
            NeedsVisit(after) && (after.LastUpdate != before.LastUpdate || after.HeadTime != before.HeadTime);
        const QString stamp =
            "[" + SjisToQString(FormatDateText(NowDateTime())) + "]:" + SjisToQString(after.SiteTitle) + ": ";
        StatusBar1->showMessage(stamp + (!failure.empty() ? Tr("チェックできませんでした (%1)").arg(SjisToQString(failure))
                                         : updated        ? Tr("更新があります")
                                                          : Tr("更新はありません")));
    }
    if (r == SiteCheckResult::NoFeedUrl) {
        ShowMessage(this, Tr("RSSURLが設定されていません"));
        return;
    }
    if (r == SiteCheckResult::Stored) ShowSelectedCategory();
}

void TForm1::RefreshVisitSites(bool showPage) {
    const auto category = SelectedCategory();
    if (!category) return;
    if (showPage) {
        PageControl1->setCurrentWidget(tsCheckSite);
        PageControl3->setCurrentWidget(tsVisitSiteLists);
    }
    BuildVisitList(*CategoryView, *category, *VisitList);
    RefreshVirtualList(lvVisitSite, *VisitList);
    if (Form3) Form3->RefreshSiteList();
}

bool TForm1::event(QEvent* event) {
    // Hovering a button or a menu item would replace the check's progress line (or empty the bar).
    if (event->type() == QEvent::StatusTip) return true;
    return QMainWindow::event(event);
}

// ---- start-up and shut-down ----

namespace {
// The data file to use: the stored name (trimmed of half- and full-width spaces) when a file of
// that name exists in the program folder, else "RssSites.dat". Always relative to the folder.
QString ChooseDataFileName(const QString& programFolder, const std::string& storedNameSjis) {
    const QString name = SjisToQString(TrimSpaces(storedNameSjis));
    if (!name.isEmpty() && QFileInfo::exists(programFolder + name)) return name;
    return QStringLiteral("RssSites.dat");
}
}  // namespace

void TForm1::LoadSiteDataFile() {
    const std::string path = QFile::encodeName(DataFilePath()).toStdString();
    CategoryTree tree = ftBlogCategories->ToCategoryTree();
    std::string bytesRead;
    const SiteDataLoad load = LoadSiteData(path, *SiteTableList, tree, &bytesRead);
    if (load.status == SiteDataStatus::Unreadable) {
        // Never write over a file we could not read: the user's sites may still be in it.
        dataFileBlocked_ = true;
        ShowMessage(this, Tr("サイトデータファイルを読み込めませんでした。\n%1\n%2\n\n"
                             "このファイルは上書きしません。")
                              .arg(DataFilePath(), SjisToQString(load.error)));
    }
    if (load.status == SiteDataStatus::Loaded) ftBlogCategories->LoadCategoryTree(tree);
    if (load.treeError) {
        ShowMessage(this, Tr("I/O Error:MWLoadTreeFromStrings"));
        // The categories after the fault are only in the file: saving would drop them for good.
        // The sites loaded, so the user can still work; the file stays as it is.
        dataFileBlocked_ = true;
        ShowMessage(this, Tr("サイトデータファイルのカテゴリツリーが壊れています。\n%1\n\n"
                             "このファイルは上書きしません。")
                              .arg(DataFilePath()));
    }
    // Another computer's copy arriving in a synced folder is merged in, never written over.
    if (!dataFileBlocked_) WatchSiteDataFile(std::move(bytesRead));
}

void TForm1::ShowFirstCategory() {
    SetupListColumns(lvSiteList, SjisLiteral(kListColumns));
    SetupListColumns(lvVisitSite, SjisLiteral(kListColumns));
    ftBlogCategories->expandAll();
    if (QTreeWidgetItem* first = ftBlogCategories->topLevelItem(0))
        ftBlogCategories->setCurrentItem(first);  // raises the selection change
    ShowSelectedCategory();  // false with no node: nothing to show
}

void TForm1::RegisterSettings(TMWIniFile& ini) { RegisterWidgetProperty(ini, ftBlogCategories, "width"); }

void TForm1::ReadSettings(const TMWIniFile& ini) {
    CheckConnections = CheckConnectionsFromText(ini.ReadValue("CheckConnections"));
    SetAutoCheckMinutes(AutoCheckMinutesFromText(ini.ReadValue(kAutoCheckKey)));
    DataFileName = ChooseDataFileName(programFolder_, ini.ReadValue("BlogDataFileName"));
}

void TForm1::StoreSettings() {
    TMWIniFile& ini = *IniFile;
    // Every written key moves to the end of the file's key list: this order is the file's order.
    StoreFormPos(ini, this);
    for (QWidget* w : {static_cast<QWidget*>(Form2.data()), static_cast<QWidget*>(Form3.data())}) {
        if (!w) continue;
        // A window never opened nor placed in this run has no place of its own yet: store the place
        // it opens at (over this window), not the corner of the screen.
        if (!w->isVisible() && !w->testAttribute(Qt::WA_Moved)) w->move(geometry().center() - w->rect().center());
        StoreFormPos(ini, w);
    }
    ini.WriteValue("BlogDataFileName", QStringToSjis(DataFileName));
    if (Form3) Form3->StoreSettings(ini);  // the chosen own site
    ini.WriteValue("CheckConnections", std::to_string(CheckConnections));
    ini.WriteValue(kAutoCheckKey, AutoCheckMinutesText(AutoCheckMinutes()));
    // It refuses by itself to replace a file it could not read (the user heard of that at start);
    // any other failure the user must hear of, or the day's settings would vanish unnoticed.
    if (!ini.WriteSettings() && !ini.Blocked()) {
        ShowMessage(this, Tr("設定ファイルを保存できませんでした。\n%1\n%2")
                              .arg(SettingsFilePath(), SjisToQString(ini.ErrorText())));
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    StoreSettings();
    if (!dataFileBlocked_) {
        for (;;) {
            QString why;
            if (SaveSiteDataFile(&why)) break;
            const int choice = Messages().SaveFailed(
                this, Tr("サイトデータを保存できませんでした。\n%1\n%2").arg(DataFilePath(), why));
            if (choice == 0) continue;  // retry
            if (choice == 1) break;     // close without saving
            event->ignore();            // keep the window open
            return;
        }
    }
    acAbortRssExecute();
    StopAutoCheck();
    // Waits in the comment window's browser end at once from here on.
    TfrBrowserBase::SetApplicationTerminating(true);
    event->accept();
}

}  // namespace hanabira
