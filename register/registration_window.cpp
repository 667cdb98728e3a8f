#include "register/registration_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <utility>

#include "check/dates.h"
#include "register/site_probe.h"
#include "support/image_list.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

constexpr int kPanelHeight = 141;
constexpr int kDesignWidth = 461;

// Runs the clean-up of a command on every way out of it, errors included.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

QLabel* FieldLabel(const char* utf8, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(Tr(utf8), parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("Form2");
    setWindowTitle(Tr("URL登録"));
    // A small tool window that stays above the others while the user copies URLs from a browser.
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    pnRegist = new QWidget(this);
    pnRegist->setObjectName("pnRegist");

    edSiteURL = new QLineEdit(pnRegist);
    edSiteURL->setObjectName("edSiteURL");
    {
        // The URL field stands out in the info-tip colours: it is where every registration starts.
        QPalette pal = edSiteURL->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
        pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
        edSiteURL->setPalette(pal);
    }

    SpeedButton1 = new QToolButton(pnRegist);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    const QIcon paste = ImageListIcon(28);
    if (paste.isNull())
        SpeedButton1->setText(Tr("貼付"));
    else
        SpeedButton1->setIcon(paste);
    SpeedButton1->setToolTip(Tr("クリップボードから貼り付けてサイトチェック"));

    edSiteTitle = new QLineEdit(pnRegist);
    edSiteTitle->setObjectName("edSiteTitle");
    edRSSURL = new QLineEdit(pnRegist);
    edRSSURL->setObjectName("edRSSURL");

    cbCategory = new QComboBox(pnRegist);
    cbCategory->setObjectName("cbCategory");
    cbCategory->setEditable(false);
    cbCategory->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbCategory->setMinimumContentsLength(8);

    cbHeadCheck = new QCheckBox(Tr("HEADチェックスキップ"), pnRegist);
    cbHeadCheck->setObjectName("cbHeadCheck");
    cbHeadCheck->setChecked(true);

    edManagerName = new QLineEdit(pnRegist);
    edManagerName->setObjectName("edManagerName");
    // Room for a usual name of eight Japanese characters at whatever size the system font has.
    edManagerName->setMinimumWidth(edManagerName->fontMetrics().horizontalAdvance(QString(8, QChar(0x3042))) + 12);

    btnSiteCheck = new QPushButton(Tr("サイトチェック"), pnRegist);
    btnSiteCheck->setObjectName("btnSiteCheck");
    btnSetSite = new QPushButton(Tr("サイト登録"), pnRegist);
    btnSetSite->setObjectName("btnSetSite");
    btnSetSite->setDefault(true);

    LayOutControls();

    connect(btnSiteCheck, &QPushButton::clicked, this, [this] { btnSiteCheckClick(); });
    connect(btnSetSite, &QPushButton::clicked, this, [this] { btnSetSiteClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

    sbDisoplaySeriesUrlsClick();
}

void TForm2::LayOutControls() {
    auto* urlRow = new QHBoxLayout;
    urlRow->setContentsMargins(0, 0, 0, 0);
    urlRow->setSpacing(2);
    urlRow->addWidget(edSiteURL, 1);
    urlRow->addWidget(SpeedButton1);

    // Labels | fields (category and manager share the last row) | buttons and the HEAD check box.
    auto* grid = new QGridLayout(pnRegist);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    grid->addWidget(FieldLabel("サイトURL", edSiteURL, pnRegist), 0, 0);
    grid->addLayout(urlRow, 0, 1, 1, 3);
    grid->addWidget(btnSiteCheck, 0, 4);
    grid->addWidget(FieldLabel("サイトタイトル", edSiteTitle, pnRegist), 1, 0);
    grid->addWidget(edSiteTitle, 1, 1, 1, 3);
    grid->addWidget(btnSetSite, 1, 4);
    grid->addWidget(FieldLabel("RSSURL", edRSSURL, pnRegist), 2, 0);
    grid->addWidget(edRSSURL, 2, 1, 1, 3);
    grid->addWidget(FieldLabel("カテゴリ", cbCategory, pnRegist), 3, 0);
    grid->addWidget(cbCategory, 3, 1);
    grid->addWidget(FieldLabel("管理人名", edManagerName, pnRegist), 3, 2);
    grid->addWidget(edManagerName, 3, 3);
    grid->addWidget(cbHeadCheck, 3, 4);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
    // The panel keeps its design height unless the system font needs more.
    pnRegist->setFixedHeight(std::max(kPanelHeight, grid->minimumSize().height()));

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(pnRegist);
    outer->addWidget(StatusBar1);

    QWidget::setTabOrder(btnSiteCheck, btnSetSite);
    QWidget::setTabOrder(btnSetSite, edSiteURL);
    QWidget::setTabOrder(edSiteURL, edSiteTitle);
    QWidget::setTabOrder(edSiteTitle, edRSSURL);
    QWidget::setTabOrder(edRSSURL, cbCategory);
    QWidget::setTabOrder(cbCategory, cbHeadCheck);
    QWidget::setTabOrder(cbHeadCheck, edManagerName);
}

void TForm2::sbDisoplaySeriesUrlsClick() {
    const int height = pnRegist->maximumHeight() + StatusBar1->sizeHint().height();
    setFixedHeight(height);
    setMinimumWidth(minimumSizeHint().width());
    resize(std::max(kDesignWidth, sizeHint().width()), height);
}

void TForm2::showEvent(QShowEvent* event) {
    // A window-system show (restored from the tray or minimised) is no new showing of the window.
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TForm2::BeginAdd() {
    KeptLastVisit.clear();
    KeptLastUpdate.clear();
}

void TForm2::BeginEdit(const TMWBlogListRec& rec) {
    KeptLastVisit = rec.LastVisit;
    KeptLastUpdate = rec.LastUpdate;
    edSiteURL->setText(SjisToQString(rec.SiteURL));
    edSiteTitle->setText(SjisToQString(rec.SiteTitle));
    edRSSURL->setText(SjisToQString(rec.RSSURL));
    SelectCategoryIgnoringCase(rec.Category);
    cbHeadCheck->setChecked(!rec.HeadCheck.empty());
    edManagerName->setText(SjisToQString(rec.ManagerName));
    ClearOnShow = false;
}

void TForm2::FormShow() {
    if (ClearOnShow) {
        edSiteURL->clear();
        edSiteTitle->clear();
        edRSSURL->clear();
        edSiteURL->setFocus();
        cbHeadCheck->setChecked(true);
        cbCategory->setCurrentIndex(-1);
        // The manager name stays: it is often the same person for the next site.
    }
    ClearOnShow = true;
}

void TForm2::SetStatus(const QString& text) {
    if (text.isEmpty())
        StatusBar1->clearMessage();
    else
        StatusBar1->showMessage(text);
    // The fetches block the event loop, so paint now or the user never sees it.
    StatusBar1->repaint();
}

void TForm2::SetButtonsEnabled(bool enabled) {
    btnSiteCheck->setEnabled(enabled);
    btnSetSite->setEnabled(enabled);
}

void TForm2::reject() {
    if (!busy_) {
        QDialog::reject();
        return;
    }
    cancelRequested_ = true;
    if (OnCancelRegistration) OnCancelRegistration();
}

void TForm2::EndBusy() {
    busy_ = false;
    if (!cancelRequested_) return;
    cancelRequested_ = false;
    QDialog::reject();
}

bool TForm2::ProbeSite(bool showMessage) {
    if (busy_) return false;
    busy_ = true;
    cancelRequested_ = false;
    SetButtonsEnabled(false);
    edSiteTitle->clear();
    edRSSURL->clear();
    edSiteTitle->repaint();
    edRSSURL->repaint();

    ProbeResult found;
    ScopeExit done([this, &found] {
        edRSSURL->setText(SjisToQString(found.FeedURL));
        edSiteTitle->setText(SjisToQString(found.Title));
        // Show the beginnings, which tell one site from another.
        edRSSURL->setCursorPosition(0);
        edSiteTitle->setCursorPosition(0);
        edSiteTitle->repaint();
        edRSSURL->repaint();
        SetButtonsEnabled(true);
        SetStatus(QString());
        EndBusy();
    });

    const std::string url = ProbeUrlFromField(QStringToSjis(edSiteURL->text()));
    if (url.empty()) {
        if (showMessage) ShowMessage(this, Tr("サイトURLが入力されていません"));
        return false;
    }
    try {
        // The window keeps painting and takes Escape while the page and the feed are fetched.
        RequestControl control;
        control.pump = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); };
        control.abort = [this] { return cancelRequested_ || QCoreApplication::closingDown(); };
        if (!ProbeSiteUrl(url, found, [this](const std::string& status) { SetStatus(SjisToQString(status)); },
                          control))
            return false;
    } catch (const std::exception& e) {
        // A page that its decoder cannot read ends the probe; it must never end the program.
        ShowMessage(this, SjisToQString(e.what()));
        return false;
    }
    return true;
}

bool TForm2::FillSiteRecord(TMWBlogListRec& rec) const {
    SiteFields fields;
    fields.SiteURL = QStringToSjis(edSiteURL->text());
    fields.SiteTitle = QStringToSjis(edSiteTitle->text());
    fields.RSSURL = QStringToSjis(edRSSURL->text());
    fields.Category = QStringToSjis(cbCategory->currentText());
    fields.ManagerName = QStringToSjis(edManagerName->text());
    fields.SkipHeadCheck = cbHeadCheck->isChecked();
    rec = BuildSiteRecord(fields, KeptLastVisit, KeptLastUpdate, FormatDateText(NowDateTime()));
    return !rec.SiteTitle.empty();
}

void TForm2::RegisterSite() {
    TMWBlogListRec rec;
    if (!FillSiteRecord(rec)) {
        ShowMessage(this, Tr("必要事項が入力されていません"));
        return;
    }
    if (busy_) return;
    busy_ = true;
    cancelRequested_ = false;
    SetStatus(Tr("サイト更新情報を取得しています"));
    SetButtonsEnabled(false);
    bool cancelled = false;
    {
        ScopeExit done([this, &cancelled] {
            SetButtonsEnabled(true);
            SetStatus(QString());
            cancelled = cancelRequested_;
            EndBusy();
        });
        try {
            if (OnAddOrUpdateSite) OnAddOrUpdateSite(rec);
            if (!cancelRequested_ && OnShowSiteListPage) OnShowSiteListPage();
        } catch (const std::exception& e) {
            // The window stays open with its fields, so the user can try again.
            ShowMessage(this, SjisToQString(e.what()));
            return;
        }
    }
    if (!cancelled) accept();
}

void TForm2::btnSiteCheckClick() { ProbeSite(true); }

void TForm2::btnSetSiteClick() { RegisterSite(); }

void TForm2::SpeedButton1Click() {
    edSiteURL->setText(QApplication::clipboard()->text());
    edSiteURL->repaint();
    btnSiteCheckClick();
}

void TForm2::SetCategoryList(const std::string& categoryListTextSjis) {
    cbCategory->clear();
    ForEachLine(categoryListTextSjis, [this](std::string_view name) {
        if (!name.empty()) cbCategory->addItem(SjisToQString(name));
    });
    cbCategory->setCurrentIndex(-1);
}

void TForm2::SelectCategoryIgnoringCase(const std::string& sjis) {
    const std::string wanted = LowerSjis(sjis);
    int found = -1;
    if (!wanted.empty()) {
        for (int i = 0; i < cbCategory->count(); ++i) {
            if (LowerSjis(QStringToSjis(cbCategory->itemText(i))) == wanted) {
                found = i;
                break;
            }
        }
    }
    cbCategory->setCurrentIndex(found);
}

}  // namespace hanabira
