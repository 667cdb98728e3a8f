// How checks report to the user: the progress of a run in the status bar, the line that sums it
// up, and the list of sites whose feed could not be read, from which a site can be opened, edited
// or checked again.
#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "browser/comment_window.h"
#include "check/dates.h"
#include "store/site_table.h"
#include "support/qt_text.h"
#include "ui/main/main_window.h"

namespace hanabira {

namespace {

QString Grouped(int n) { return QLocale(QLocale::English).toString(n); }

// The list of sites that could not be checked. It is rebuilt from the window's record whenever
// that changes, so a site checked again from here leaves it once it succeeds.
class FailedSitesDialog : public QDialog {
public:
    explicit FailedSitesDialog(TForm1* form) : QDialog(form), form_(form) {
        setObjectName("FailedSitesDialog");
        setWindowTitle(Tr("チェックできなかったサイト"));
        auto* layout = new QVBoxLayout(this);
        list_ = new QTreeWidget;
        list_->setObjectName("lvFailedSites");
        list_->setRootIsDecorated(false);
        list_->setUniformRowHeights(true);
        list_->setHeaderLabels({Tr("サイト名"), Tr("フィードのアドレス"), Tr("理由"), Tr("日時")});
        list_->header()->resizeSection(0, 170);
        list_->header()->resizeSection(1, 200);
        list_->header()->resizeSection(2, 280);
        list_->setSortingEnabled(true);
        list_->sortByColumn(0, Qt::AscendingOrder);
        layout->addWidget(list_);
        auto* buttons = new QDialogButtonBox;
        open_ = buttons->addButton(Tr("ページを開く"), QDialogButtonBox::ActionRole);
        edit_ = buttons->addButton(Tr("修正..."), QDialogButtonBox::ActionRole);
        check_ = buttons->addButton(Tr("もう一度チェック"), QDialogButtonBox::ActionRole);
        buttons->addButton(QDialogButtonBox::Close);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
        connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { Open(); });
        connect(open_, &QPushButton::clicked, this, [this] { Open(); });
        connect(edit_, &QPushButton::clicked, this, [this] { Edit(); });
        connect(check_, &QPushButton::clicked, this, [this] { CheckAgain(); });
        resize(860, 360);
        Fill();
    }

    void Fill() {
        const std::string keep = Selected();
        list_->clear();
        for (const auto& [url, site] : form_->FailedSites()) {
            auto* item = new QTreeWidgetItem(
                {SjisToQString(site.title.empty() ? url : site.title), SjisToQString(site.feedUrl),
                 SjisToQString(site.reason), site.when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))});
            item->setData(0, Qt::UserRole, QByteArray::fromStdString(url));
            item->setToolTip(0, SjisToQString(url));
            list_->addTopLevelItem(item);
            if (url == keep) list_->setCurrentItem(item);
        }
        if (!list_->currentItem() && list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
        UpdateButtons();
    }

private:
    std::string Selected() const {
        const QTreeWidgetItem* item = list_->currentItem();
        return item ? item->data(0, Qt::UserRole).toByteArray().toStdString() : std::string();
    }
    bool Find(const std::string& url, TMWBlogListRec& rec) const {
        const int i = IndexOfURL(form_->SiteTable(), url);
        if (i < 0) return false;
        rec = ReadSiteRecord(form_->SiteTable().Get(i));
        return true;
    }
    void UpdateButtons() {
        const bool any = !Selected().empty();
        open_->setEnabled(any);
        edit_->setEnabled(any);
        // One check at a time: not while a run of all sites goes on.
        check_->setEnabled(any && !form_->IsChecking());
    }
    // The page in the comment window; a look at a failing site is no visit, so nothing is stamped.
    void Open() {
        TMWBlogListRec rec;
        TForm3* comments = form_->CommentWindow();
        if (!Find(Selected(), rec) || !comments) return;
        comments->ShowBrowser();
        comments->OpenURL(rec.SiteURL);
    }
    void Edit() {
        TMWBlogListRec rec;
        if (!Find(Selected(), rec)) return;
        form_->EditSite(rec);
        Fill();
    }
    void CheckAgain() {
        const std::string url = Selected();
        if (url.empty() || form_->IsChecking()) return;
        const QPointer<FailedSitesDialog> self(this);
        check_->setEnabled(false);
        form_->CheckSiteHead(url);
        if (self) form_->CheckSiteRss(url, true);
        if (self) Fill();
    }

    TForm1* form_;
    QTreeWidget* list_;
    QPushButton *open_, *edit_, *check_;
};

}  // namespace

void TForm1::BuildCheckReport() {
    checkProgress_ = new QProgressBar;
    checkProgress_->setObjectName("CheckProgress");
    checkProgress_->setMaximumWidth(160);
    checkProgress_->setTextVisible(true);
    checkEntered_ = new QLabel;
    checkEntered_->setObjectName("CheckEntered");
    StatusBar1->addPermanentWidget(checkEntered_);
    StatusBar1->addPermanentWidget(checkProgress_);
    checkProgress_->hide();
    checkEntered_->hide();

    acFailedSites = new QAction(this);
    acFailedSites->setObjectName("acFailedSites");
    acFailedSites->setText(Tr("チェックできなかったサイト"));
    acFailedSites->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    connect(acFailedSites, &QAction::triggered, this, &TForm1::ShowFailedSites);
    ToolBar2->insertAction(acRefreshVisitSites, acFailedSites);
    UpdateFailedSitesAction();
}

void TForm1::StartCheckReport() {
    if (!CheckThread) return;
    const CheckProgress& p = CheckThread->Progress();
    checkProgress_->setRange(0, std::max(p.total, 1));
    checkProgress_->setValue(0);
    checkProgress_->setFormat(QStringLiteral("0 / ") + Grouped(p.total));
    checkEntered_->setText(Tr("更新 0 件"));
    checkProgress_->show();
    checkEntered_->show();
}

void TForm1::SiteCheckEnded(const SiteCheckOutcome& outcome, const CheckProgress& p) {
    checkProgress_->setValue(std::min(p.done, checkProgress_->maximum()));
    checkProgress_->setFormat(Grouped(p.done) + " / " + Grouped(p.total));
    checkEntered_->setText(Tr("更新 %1 件").arg(Grouped(p.entered)));
    NoteFeedOutcome(outcome.siteUrl, outcome.title, outcome.feedUrl, outcome.failure);
}

void TForm1::EndCheckReport(TMWRSSCheck* sender) {
    checkProgress_->hide();
    checkEntered_->hide();
    if (!sender) return;
    lastRunEntered_ = sender->Progress().entered;
    // Stays until the next step line replaces it.
    StatusBar1->showMessage(SjisToQString(
        CheckSummaryText(sender->Progress(), sender->IsAborted(), sender->Seconds(), NowDateTime())));
}

void TForm1::NoteFeedOutcome(const std::string& url, const std::string& title, const std::string& feedUrl,
                             const std::string& failure) {
    if (url.empty()) return;
    if (failure.empty())
        failedSites_.erase(url);
    else
        failedSites_[url] = FailedSite{title, feedUrl, failure, QDateTime::currentDateTime()};
    UpdateFailedSitesAction();
}

void TForm1::UpdateFailedSitesAction() {
    if (!acFailedSites) return;
    const int n = static_cast<int>(failedSites_.size());
    acFailedSites->setEnabled(n > 0);
    acFailedSites->setToolTip(n > 0 ? Tr("チェックできなかったサイト (%1 件)").arg(Grouped(n))
                                    : Tr("チェックできなかったサイト"));
    if (auto* dialog = findChild<FailedSitesDialog*>("FailedSitesDialog"); dialog && dialog->isVisible())
        dialog->Fill();
}

void TForm1::ShowFailedSites() {
    auto* dialog = findChild<FailedSitesDialog*>("FailedSitesDialog");
    if (!dialog) dialog = new FailedSitesDialog(this);
    dialog->Fill();
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

}  // namespace hanabira
