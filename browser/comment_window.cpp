#include "browser/comment_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeySequence>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

#include "browser/browser_toolbar.h"
#include "browser/comment_text.h"
#include "browser/web_view_frame.h"
#include "store/ini_file.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/image_list.h"
#include "support/list_utils.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "support/settings_binding.h"
#include "support/virtual_list_model.h"
#include "support/window_utility.h"

namespace hanabira {

namespace {

const char* const kVisitListColumns = "No:40 サイト名:300";
const char* const kNoLabelText = "--------------------------------";

// An editor's whole text as Shift_JIS, lines joined with CR LF.
std::string EditorText(const QTextEdit* editor) {
    QString text = editor->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return QStringToSjis(text);
}

void SetClipboardText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

// An own-site label: its text stays whole (the copy button and the comment's placeholders take it),
// and only the painting shortens it to its width, with "…"; the tool tip shows all of it.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
        style()->drawItemText(&painter, area, alignment(), palette(), isEnabled(), shown, foregroundRole());
    }
    bool event(QEvent* e) override {
        if (e->type() == QEvent::ToolTip && !text().isEmpty()) {
            QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(), text(), this);
            return true;
        }
        return QLabel::event(e);
    }
};

// The visit list selects whole rows and is wider than its column. Clicking a site name would
// scroll the name's cell into view and push "No" out sideways; a row needs only vertical scrolling.
class VisitListView : public QTreeView {
public:
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override {
        const int x = horizontalScrollBar()->value();
        QTreeView::scrollTo(index, hint);
        horizontalScrollBar()->setValue(x);
    }
};

}  // namespace

TForm3::TForm3(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form3");
    setWindowTitle(Tr("簡易ブラウザ"));
    // Closing only hides this window; it never ends the program on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    BuildLayout();
    resize(643, 528);

    // The window's creation: the frame, its status bar, the toolbar bound to it, the list columns.
    frBrowserBase1->InitBrowser(this);
    frBrowserBase1->FStatusBar = StatusBar1;
    frBrowserNavi1->AttachBrowser(frBrowserBase1);
    SetupListColumns(lvSiteList, SjisLiteral(kVisitListColumns));

    // Every event of the application passes here first, so keys typed into a page's input fields
    // reach the page instead of this window's shortcuts.
    qApp->installEventFilter(this);
}

TForm3::~TForm3() {
    qApp->removeEventFilter(this);
    frBrowserBase1->DoneBrowser();
}

QToolButton* TForm3::MakeCopyButton(const char* name, const char* hint) {
    auto* b = new QToolButton(Panel2);
    b->setObjectName(name);
    b->setToolTip(Tr(hint));
    b->setAutoRaise(true);
    b->setIcon(ImageListIcon(27));
    b->setFixedSize(22, 22);
    return b;
}

void TForm3::BuildLayout() {
    auto* central = new QWidget;
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    frBrowserNavi1 = new TfrBrowserNavi;
    outer->addWidget(frBrowserNavi1);

    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setChildrenCollapsible(false);
    outer->addWidget(Splitter1, 1);
    setCentralWidget(central);

    Panel1 = new QWidget;
    Panel1->setObjectName("Panel1");
    auto* left = new QVBoxLayout(Panel1);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    Splitter2 = new QSplitter(Qt::Vertical);
    Splitter2->setObjectName("Splitter2");
    Splitter2->setChildrenCollapsible(false);
    left->addWidget(Splitter2);

    lvSiteList = new VisitListView;
    lvSiteList->setObjectName("lvSiteList");
    auto* model = new VirtualListModel(lvSiteList);
    model->CellText = [this](int row, int column) { return lvSiteListData(row, column); };
    lvSiteList->setModel(model);
    connect(lvSiteList, &QAbstractItemView::doubleClicked, this, [this] { lvSiteListDblClick(); });
    Splitter2->addWidget(lvSiteList);

    auto* lower = new QWidget;
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->setSpacing(0);
    ToolBar1 = new QToolBar;
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setIconSize(QSize(16, 16));
    auto toolButton = [this](const char* name, const char* hint, int image, int tag) {
        QAction* a = ToolBar1->addAction(ImageListIcon(image), Tr(hint));
        a->setObjectName(name);
        a->setToolTip(Tr(hint));
        a->setData(tag);
        if (QWidget* w = ToolBar1->widgetForAction(a)) w->setObjectName(name);
        return a;
    };
    QAction* copyComment = toolButton("ToolButton1", "コメントをクリップボードにコピー", 26, 0);
    ToolBar1->addSeparator();
    QAction* up = toolButton("ToolButton3", "上のサイトに移動", 10, -1);
    QAction* down = toolButton("ToolButton4", "下のサイトに移動", 11, 1);
    SetShortcut(up, QKeySequence(Qt::CTRL | Qt::Key_Up));
    SetShortcut(down, QKeySequence(Qt::CTRL | Qt::Key_Down));
    connect(copyComment, &QAction::triggered, this, &TForm3::ToolButton1Click);
    for (QAction* a : {up, down}) connect(a, &QAction::triggered, this, [this, a] { ToolButton4Click(a->data().toInt()); });
    lowerLayout->addWidget(ToolBar1);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName("PageControl1");
    // Flat-button tabs: each page's tab is a flat button, the shown page's one pressed in.
    PageControl1->setDocumentMode(true);
    PageControl1->setStyleSheet(QStringLiteral(
        "QTabWidget::tab-bar { left: 2px; }"
        "QTabBar::tab { border: 1px solid transparent; border-radius: 3px; padding: 3px 8px;"
        " margin: 2px 1px; background: transparent; }"
        "QTabBar::tab:hover { border-color: palette(mid); }"
        "QTabBar::tab:selected { border-color: palette(dark); background: palette(midlight); }"));
    auto* tab1 = new QWidget;
    tab1->setObjectName("TabSheet1");
    auto* tab2 = new QWidget;
    tab2->setObjectName("TabSheet2");
    PageControl1->addTab(tab1, Tr("コメント"));
    PageControl1->addTab(tab2, Tr("自サイト登録"));
    lowerLayout->addWidget(PageControl1, 1);
    // The column never gets narrower than its two tabs side by side: a stored width that reads as 0
    // is raised to this, and the tabs show whole, without scroll arrows.
    PageControl1->tabBar()->ensurePolished();
    Panel1->setMinimumWidth(PageControl1->tabBar()->sizeHint().width() + 8);
    Splitter2->addWidget(lower);
    Splitter2->setSizes({137, 300});
    // Held until the window is first shown: a window that never opens stores the list's height it
    // will open at, not the leftover of a splitter never laid out.
    SetWidgetExtent(lvSiteList, Qt::Vertical, 137);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);

    auto* commentLayout = new QVBoxLayout(tab1);
    commentLayout->setContentsMargins(0, 0, 0, 0);
    commentLayout->setSpacing(0);
    Panel2 = new QWidget;
    Panel2->setObjectName("Panel2");
    Panel2->setFixedHeight(81);
    Panel2->installEventFilter(this);
    cbMySite = new QComboBox(Panel2);  // selection only: no free text
    cbMySite->setObjectName("cbMySite");
    // The copy buttons stand at the combo box's right edge (its left + its width, width - 33 when
    // resized) and the labels end 23 pixels before the panel's edge: from this left edge on the two
    // meet instead of overlapping.
    cbMySite->setGeometry(10, 4, 150, 22);
    lbURLCaption = new QLabel(Tr("URL"), Panel2);
    lbURLCaption->setGeometry(10, 32, 30, 20);
    lbNameCaption = new QLabel(Tr("名前"), Panel2);
    lbNameCaption->setGeometry(10, 56, 30, 20);
    lbURL = new ElidedLabel(Tr(kNoLabelText), Panel2);
    lbURL->setObjectName("lbURL");
    lbURL->setGeometry(42, 32, 120, 20);
    lbName = new ElidedLabel(Tr(kNoLabelText), Panel2);
    lbName->setObjectName("lbName");
    lbName->setGeometry(42, 56, 120, 20);
    SpeedButton1 = MakeCopyButton("SpeedButton1", "サイト名をクリップボードにコピー");
    SpeedButton2 = MakeCopyButton("SpeedButton2", "サイトURLをクリップボードにコピー");
    SpeedButton3 = MakeCopyButton("SpeedButton3", "自分の名前をクリップボードにコピー");
    SpeedButton1->move(160, 4);
    SpeedButton2->move(160, 31);
    SpeedButton3->move(160, 55);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm3::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm3::SpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TForm3::SpeedButton3Click);
    connect(cbMySite, &QComboBox::currentIndexChanged, this, [this] {
        if (!rebuildingSites_) cbMySiteChange();
    });
    commentLayout->addWidget(Panel2);

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    edComment = new QTextEdit;
    edComment->setObjectName("edComment");
    edComment->setAcceptRichText(false);
    edComment->setFont(fixed);
    edComment->setLineWrapMode(QTextEdit::FixedColumnWidth);
    edComment->setLineWrapColumnOrWidth(80);
    // A TAB typed here would travel into the comment forms it is pasted into; Tab moves on, as in
    // every form.
    edComment->setTabChangesFocus(true);
    commentLayout->addWidget(edComment, 1);

    auto* ownLayout = new QVBoxLayout(tab2);
    ownLayout->setContentsMargins(0, 0, 0, 0);
    edRegistMySite = new QTextEdit;
    edRegistMySite->setObjectName("edRegistMySite");
    edRegistMySite->setAcceptRichText(false);
    edRegistMySite->setLineWrapMode(QTextEdit::NoWrap);
    edRegistMySite->setTabChangesFocus(true);  // its fields fill the comment too
    connect(edRegistMySite, &QTextEdit::textChanged, this, &TForm3::edRegistMySiteChange);
    ownLayout->addWidget(edRegistMySite);

    frBrowserBase1 = new TfrBrowserBase;
    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(frBrowserBase1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({185, 458});

    StatusBar1 = new QStatusBar;
    StatusBar1->setObjectName("StatusBar1");
    setStatusBar(StatusBar1);
}

void TForm3::SetSiteTables(const TLightStrings* siteTable, TLightStrings* visitList,
                           std::function<void(const std::string&)> markVisited) {
    siteTable_ = siteTable;
    visitList_ = visitList;
    markVisited_ = std::move(markVisited);
    RefreshSiteList();
}

void TForm3::ShowBrowser() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void TForm3::OpenURL(const std::string& url) { frBrowserBase1->OpenURL(url, false); }

void TForm3::RefreshSiteList() {
    if (visitList_) RefreshVirtualList(lvSiteList, *visitList_);
}

void TForm3::RegisterSettings(TMWIniFile& ini) {
    RegisterWidgetProperty(ini, Panel1, "width");
    RegisterWidgetProperty(ini, edComment, "lines");
    RegisterWidgetProperty(ini, lvSiteList, "height");
    RegisterWidgetProperty(ini, edRegistMySite, "lines");
}

void TForm3::ReadSettings(const TMWIniFile& ini) {
    // Fill the own-site choice, select the stored one, then fill the labels for it.
    edRegistMySiteChange();
    SelectMySite(ini.ReadValue("MySiteSelect"));
    edRegistMySiteChange();
}

void TForm3::StoreSettings(TMWIniFile& ini) const { ini.WriteValue("MySiteSelect", MySiteText()); }

std::string TForm3::MySiteText() const { return QStringToSjis(cbMySite->currentText()); }
std::string TForm3::CommentText() const { return EditorText(edComment); }
std::string TForm3::OwnSiteText() const { return EditorText(edRegistMySite); }

void TForm3::SelectMySite(const std::string& name) {
    std::vector<std::string> names;
    for (int i = 0; i < cbMySite->count(); ++i) names.push_back(QStringToSjis(cbMySite->itemText(i)));
    cbMySite->setCurrentIndex(FindNameNoCase(names, name));
}

// ---- the visit list ----

QString TForm3::lvSiteListData(int row, int column) const {
    if (!visitList_ || row < 0 || row >= visitList_->Count()) return {};
    return SjisToQString(FillSiteListItem(visitList_->Get(row), row, column));
}

void TForm3::lvSiteListDblClick() {
    const int row = SelectedRow(lvSiteList);
    if (!visitList_ || row < 0 || row >= visitList_->Count()) {
        ShowMessage(this, Tr("サイトが選択されていません"));
        return;
    }
    const TMWBlogListRec rec = ReadSiteRecord(visitList_->Get(row));
    if (markVisited_) markVisited_(rec.SiteURL);
    frBrowserBase1->OpenURL(rec.SiteURL, false);
}

void TForm3::ToolButton4Click(int tag) {
    const int rows = visitList_ ? visitList_->Count() : 0;
    const int next = SelectedRow(lvSiteList) + tag;
    if (next < 0 || next > rows - 1) {
        ShowMessage(this, Tr("表示すべきサイトがありません"));
        return;
    }
    const QModelIndex index = lvSiteList->model()->index(next, 0);
    lvSiteList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    lvSiteList->scrollTo(index);
    lvSiteListDblClick();
}

// ---- the comment and the own sites ----

void TForm3::ToolButton1Click() {
    const std::string manager =
        siteTable_ ? FindManagerName(*siteTable_, frBrowserBase1->GetLocationURL()) : std::string();
    const std::string comment = FillCommentTemplate(EditorText(edComment), MySiteText(), QStringToSjis(lbURL->text()),
                                                    QStringToSjis(lbName->text()), manager);
    SetClipboardText(SjisToQString(comment));
}

void TForm3::SpeedButton1Click() { SetClipboardText(cbMySite->currentText()); }
void TForm3::SpeedButton2Click() { SetClipboardText(lbURL->text()); }
void TForm3::SpeedButton3Click() { SetClipboardText(lbName->text()); }

void TForm3::edRegistMySiteChange() {
    const std::string remembered = MySiteText();
    const std::vector<std::string> names = OwnSiteNames(OwnSiteText());
    rebuildingSites_ = true;
    cbMySite->clear();
    for (const std::string& name : names) cbMySite->addItem(SjisToQString(name));
    cbMySite->setCurrentIndex(FindNameNoCase(names, remembered));
    rebuildingSites_ = false;
    cbMySiteChange();
}

void TForm3::cbMySiteChange() {
    const TOwnSite site = OwnSiteFor(OwnSiteText(), MySiteText());
    lbURL->setText(SjisToQString(site.URL));
    lbName->setText(SjisToQString(site.MyName));
}

void TForm3::Panel2Resize() {
    const int w = Panel2->width();
    cbMySite->resize(std::max(40, w - 33), cbMySite->height());
    for (QLabel* label : {lbName, lbURL}) label->resize(std::max(20, w - label->x() - 23), label->height());
    const int buttonLeft = cbMySite->x() + cbMySite->width();
    SpeedButton1->move(buttonLeft, SpeedButton1->y());
    SpeedButton2->move(buttonLeft, SpeedButton2->y());
    SpeedButton3->move(buttonLeft, SpeedButton3->y());
}

// ---- window events ----

void TForm3::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel2 && event->type() == QEvent::Resize) {
        Panel2Resize();
        return false;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        bool handled = false;
        frBrowserBase1->HandleAppMessage(watched, event, handled);
        if (handled) {
            event->accept();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace hanabira
