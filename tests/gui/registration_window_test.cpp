#include "register/registration_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/dates.h"
#include "gui/gui_test_support.h"
#include "register/probe_server.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "test_support.h"

namespace {

using hanabira::SjisToQString;
using hanabira::TForm2;
using hanabira::TMWBlogListRec;
using probe_testing::Encode;
using probe_testing::ProbeServer;
using testing_support::S;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Also notes whether the window's buttons were enabled while each error box was up.
class RecordingMessages : public testing_support::RecordedMessages {
public:
    std::vector<bool> buttonsEnabled;
    TForm2* form = nullptr;

    void Error(QWidget* parent, const QString& text) override {
        RecordedMessages::Error(parent, text);
        buttonsEnabled.push_back(form && form->btnSiteCheck->isEnabled() && form->btnSetSite->isEnabled());
    }
};

class RegistrationWindow : public testing::Test {
protected:
    void SetUp() override {
        auto routines = std::make_unique<RecordingMessages>();
        messages_ = routines.get();
        hanabira::SetMessages(std::move(routines));
        form_ = std::make_unique<TForm2>();
        messages_->form = form_.get();
        form_->OnAddOrUpdateSite = [this](const TMWBlogListRec& rec) {
            stored_.push_back(rec);
            statusDuringStore_ = form_->StatusBar1->currentMessage();
            buttonsDuringStore_ = form_->btnSiteCheck->isEnabled() || form_->btnSetSite->isEnabled();
        };
        form_->OnShowSiteListPage = [this] { ++siteListShown_; };

        server_.Serve("/feed.xml",
                      Encode("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<rss><channel>"
                             "<title>花びら日記 DIARY</title></channel></rss>\r\n",
                             "CP932"));
        server_.Serve("/blog", Page("CP932", "Shift_JIS", server_.Url("/feed.xml")));
    }
    void TearDown() override {
        form_.reset();
        hanabira::SetMessages(nullptr);
    }

    static std::string Page(const char* code, const char* charset, const std::string& feed) {
        return Encode(std::string("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=") +
                          charset + "\">\r\n<title>ページ</title>\r\n<link rel=\"alternate\" href=\"" + feed +
                          "\">\r\n</head><body><p>本文</p></body></html>\r\n",
                      code);
    }
    QStringList ErrorTexts() const { return messages_->errors; }
    void ExpectIdle() {
        EXPECT_TRUE(form_->btnSiteCheck->isEnabled());
        EXPECT_TRUE(form_->btnSetSite->isEnabled());
        EXPECT_TRUE(form_->StatusBar1->currentMessage().isEmpty());
    }

    ProbeServer server_;
    RecordingMessages* messages_ = nullptr;
    std::unique_ptr<TForm2> form_;
    std::vector<TMWBlogListRec> stored_;
    QString statusDuringStore_;
    bool buttonsDuringStore_ = true;
    int siteListShown_ = 0;
};

TEST_F(RegistrationWindow, Layout) {
    EXPECT_EQ(form_->windowTitle(), U("URL登録"));
    EXPECT_TRUE(form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(form_->windowType(), Qt::Tool);
    for (const char* name : {"pnRegist", "edSiteURL", "SpeedButton1", "edSiteTitle", "edRSSURL", "cbCategory",
                             "cbHeadCheck", "edManagerName", "btnSiteCheck", "btnSetSite", "StatusBar1"})
        EXPECT_NE(form_->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_TRUE(form_->btnSetSite->isDefault());
    EXPECT_FALSE(form_->cbCategory->isEditable());
    EXPECT_TRUE(form_->cbHeadCheck->isChecked());
    EXPECT_EQ(form_->SpeedButton1->toolTip(), U("クリップボードから貼り付けてサイトチェック"));
    EXPECT_GE(form_->pnRegist->maximumHeight(), 141);
    form_->show();
    QApplication::processEvents();
    EXPECT_EQ(form_->height(), form_->pnRegist->height() + form_->StatusBar1->height());
    // Tab order: the two buttons first, then the fields top to bottom.
    std::vector<QWidget*> chain;
    QWidget* w = form_->btnSiteCheck;
    for (int i = 0; i < 8; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus || w->window() != form_.get() || !w->isVisibleTo(form_.get()))
            w = w->nextInFocusChain();
        chain.push_back(w);
    }
    const std::vector<QWidget*> expected = {form_->btnSiteCheck, form_->btnSetSite,  form_->edSiteURL,
                                            form_->edSiteTitle,  form_->edRSSURL,    form_->cbCategory,
                                            form_->cbHeadCheck,  form_->edManagerName};
    EXPECT_EQ(chain, expected);
}

// A probe in each page encoding, through the window: fields filled, other fields untouched.
TEST_F(RegistrationWindow, ProbeFillsTitleAndFeedOnly) {
    server_.Serve("/euc.xml", Encode("<?xml version=\"1.0\" encoding=\"EUC-JP\"?><rss><channel>"
                                     "<title>日記ブログ EUC</title></channel></rss>",
                                     "EUC-JP"));
    server_.Serve("/utf8.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss><channel>"
                               "<title>日本語 UTF</title></channel></rss>");
    server_.Serve("/euc", Page("EUC-JP", "EUC-JP", server_.Url("/euc.xml")));
    server_.Serve("/utf8", Page("UTF-8", "utf-8", server_.Url("/utf8.xml")));
    const struct {
        const char* path;
        const char* feedPath;
        const char* title;
    } cases[] = {{"/blog", "/feed.xml", "花びら日記 DIARY"}, {"/euc", "/euc.xml", "日記ブログ EUC"},
                 {"/utf8", "/utf8.xml", "日本語 UTF"}};

    form_->SetCategoryList(S("日記\r\nNews\r\n"));
    for (const auto& c : cases) {
        form_->cbCategory->setCurrentIndex(1);
        form_->cbHeadCheck->setChecked(false);
        form_->edManagerName->setText(U("管理人"));
        const QString typed = " " + QString::fromStdString(server_.Url(c.path)) + "/ ";
        form_->edSiteURL->setText(typed);
        form_->edSiteTitle->setText("old");
        QStringList statuses;
        auto conn = QObject::connect(form_->StatusBar1, &QStatusBar::messageChanged,
                                     [&](const QString& m) { statuses << m; });

        form_->btnSiteCheck->click();

        QObject::disconnect(conn);
        EXPECT_EQ(form_->edSiteTitle->text(), U(c.title)) << c.path;
        EXPECT_EQ(form_->edRSSURL->text(), QString::fromStdString(server_.Url(c.feedPath)));
        EXPECT_EQ(form_->edSiteURL->text(), typed);
        EXPECT_EQ(form_->cbCategory->currentText(), "News");
        EXPECT_FALSE(form_->cbHeadCheck->isChecked());
        EXPECT_EQ(form_->edManagerName->text(), U("管理人"));
        EXPECT_EQ(statuses, (QStringList{U("サイトデータを読み込んでいます"), U("RSSデータを読み込んでいます"), ""}));
        ExpectIdle();
    }
    EXPECT_TRUE(messages_->errors.empty());
}

TEST_F(RegistrationWindow, UnreachableUrlsLeaveFieldsEmptyWithoutMessage) {
    // A bare host name, and a page whose feed cannot be fetched.
    server_.Serve("/gone", Page("CP932", "Shift_JIS", "/gone.xml"));
    const QString bare = "127.0.0.1:" + QString::number(server_.Port()) + "/blog";
    form_->edSiteURL->setText(bare);
    EXPECT_TRUE(form_->ProbeSite(true));
    EXPECT_EQ(form_->edSiteTitle->text(), "");
    EXPECT_EQ(form_->edRSSURL->text(), "");

    form_->edSiteURL->setText(QString::fromStdString(server_.Url("/gone")));
    EXPECT_TRUE(form_->ProbeSite(true));
    EXPECT_EQ(form_->edSiteTitle->text(), "");
    EXPECT_EQ(form_->edRSSURL->text(), QString::fromStdString(server_.Url("/gone.xml")));  // resolved
    EXPECT_TRUE(messages_->errors.empty());
    ExpectIdle();
}

TEST_F(RegistrationWindow, EmptyUrlIsRefusedWhileButtonsAreDisabled) {
    form_->edSiteURL->setText(QString::fromUtf8("　 / "));  // nothing left once trimmed
    server_.ClearRequests();
    EXPECT_FALSE(form_->ProbeSite(true));
    EXPECT_EQ(ErrorTexts(), QStringList{U("サイトURLが入力されていません")});
    EXPECT_EQ(messages_->buttonsEnabled, std::vector<bool>{false});
    EXPECT_TRUE(server_.Requests().empty());
    ExpectIdle();
}

TEST_F(RegistrationWindow, UndecodablePageIsReportedAndTheWindowRecovers) {
    server_.Serve("/bad", std::string("<html><head><meta charset=UTF-8><link rel=\"alternate\" href=\"") +
                              server_.Url("/feed.xml") + "\"></head><body>ok \xFE no</body></html>");
    form_->edSiteURL->setText(QString::fromStdString(server_.Url("/bad")));
    EXPECT_FALSE(form_->ProbeSite(true));
    EXPECT_EQ(ErrorTexts(), QStringList{"UTF-8 Unknown code."});
    EXPECT_EQ(form_->edSiteTitle->text(), "");
    EXPECT_EQ(form_->edRSSURL->text(), "");
    ExpectIdle();
}

TEST_F(RegistrationWindow, PasteButtonProbesClipboardText) {
    QApplication::clipboard()->setText(QString::fromStdString(server_.Url("/blog")));
    form_->SpeedButton1->click();
    EXPECT_EQ(form_->edSiteURL->text(), QString::fromStdString(server_.Url("/blog")));
    EXPECT_EQ(form_->edSiteTitle->text(), U("花びら日記 DIARY"));
    EXPECT_TRUE(messages_->errors.empty());

    QApplication::clipboard()->clear();
    form_->SpeedButton1->click();
    EXPECT_EQ(form_->edSiteURL->text(), "");
    EXPECT_EQ(form_->edSiteTitle->text(), "");
    EXPECT_EQ(ErrorTexts(), QStringList{U("サイトURLが入力されていません")});
}

TEST_F(RegistrationWindow, RegisterStoresRecordAndCloses) {
    form_->SetCategoryList(S("日記\r\n"));
    form_->show();
    form_->KeptLastVisit = "2010/04/01 10:00:00";
    form_->KeptLastUpdate = "2010/04/02 11:00:00";
    form_->edSiteURL->setText(" " + QString::fromStdString(server_.Url("/blog/")) + " ");
    form_->btnSiteCheck->click();
    form_->cbCategory->setCurrentIndex(0);
    form_->edManagerName->setText(U(" はなこ "));
    const double before = hanabira::NowDateTime();

    form_->btnSetSite->click();

    ASSERT_EQ(stored_.size(), 1u);
    const TMWBlogListRec& r = stored_[0];
    EXPECT_EQ(r.SiteURL, server_.Url("/blog"));
    EXPECT_EQ(r.SiteTitle, S("花びら日記 DIARY"));
    EXPECT_EQ(r.RSSURL, server_.Url("/feed.xml"));
    EXPECT_EQ(r.Category, S("日記"));
    EXPECT_EQ(r.ManagerName, S("はなこ"));
    EXPECT_EQ(r.HeadCheck, "Skip");
    EXPECT_EQ(r.HeadTime, "");
    EXPECT_EQ(r.LastVisit, "2010/04/01 10:00:00");
    EXPECT_EQ(r.LastUpdate, "2010/04/02 11:00:00");
    const auto registered = hanabira::ReadDateText(r.Registered);
    ASSERT_TRUE(registered.has_value()) << r.Registered;
    EXPECT_NEAR(*registered, before, 2.0 / 86400);
    EXPECT_EQ(statusDuringStore_, U("サイト更新情報を取得しています"));
    EXPECT_FALSE(buttonsDuringStore_);
    EXPECT_EQ(siteListShown_, 1);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(form_->result(), QDialog::Accepted);
    ExpectIdle();
}

TEST_F(RegistrationWindow, RegisterRefusals) {
    form_->show();
    // No title: refused, window open, nothing stored; a URL is not required.
    form_->edSiteURL->setText("http://127.0.0.1:1/x");
    form_->edSiteTitle->setText(QString::fromUtf8("　 "));
    form_->RegisterSite();
    EXPECT_EQ(ErrorTexts(), QStringList{U("必要事項が入力されていません")});
    EXPECT_TRUE(stored_.empty());
    EXPECT_TRUE(form_->isVisible());
    EXPECT_EQ(form_->edSiteURL->text(), "http://127.0.0.1:1/x");

    // A failing store is reported and keeps the window open and usable.
    form_->OnAddOrUpdateSite = [](const TMWBlogListRec&) { throw std::runtime_error("disk full"); };
    form_->edSiteTitle->setText("t");
    form_->RegisterSite();
    EXPECT_EQ(ErrorTexts().size(), 2);
    EXPECT_EQ(ErrorTexts().back(), "disk full");
    EXPECT_TRUE(form_->isVisible());
    EXPECT_EQ(siteListShown_, 0);
    ExpectIdle();

    form_->OnAddOrUpdateSite = [this](const TMWBlogListRec& rec) { stored_.push_back(rec); };
    form_->edSiteURL->clear();
    form_->RegisterSite();
    ASSERT_EQ(stored_.size(), 1u);
    EXPECT_EQ(stored_[0].SiteURL, "");
    EXPECT_EQ(stored_[0].SiteTitle, "t");
}

TEST_F(RegistrationWindow, ShowAfterEditKeepsFieldsOnce) {
    form_->SetCategoryList(S("日記\r\nNews\r\n"));
    // An edit: the main window prefills and asks the next showing to keep the fields.
    form_->edSiteURL->setText("http://a.example");
    form_->edSiteTitle->setText("A");
    form_->edRSSURL->setText("http://a.example/rss");
    form_->SelectCategoryIgnoringCase("news");
    form_->cbHeadCheck->setChecked(false);
    form_->edManagerName->setText(U("編集した人"));
    form_->ClearOnShow = false;
    form_->show();
    EXPECT_EQ(form_->edSiteURL->text(), "http://a.example");
    EXPECT_EQ(form_->edSiteTitle->text(), "A");
    EXPECT_EQ(form_->cbCategory->currentText(), "News");
    EXPECT_FALSE(form_->cbHeadCheck->isChecked());
    EXPECT_TRUE(form_->ClearOnShow);
    form_->hide();

    // The next showing is for a new site: emptied, except the manager name.
    form_->show();
    EXPECT_EQ(form_->edSiteURL->text(), "");
    EXPECT_EQ(form_->edSiteTitle->text(), "");
    EXPECT_EQ(form_->edRSSURL->text(), "");
    EXPECT_EQ(form_->cbCategory->currentIndex(), -1);
    EXPECT_EQ(form_->cbCategory->currentText(), "");
    EXPECT_TRUE(form_->cbHeadCheck->isChecked());
    EXPECT_EQ(form_->edManagerName->text(), U("編集した人"));

    TMWBlogListRec rec;
    form_->edSiteTitle->setText("B");
    ASSERT_TRUE(form_->FillSiteRecord(rec));
    EXPECT_EQ(rec.Category, "");
    EXPECT_EQ(rec.HeadCheck, "Skip");
}

TEST_F(RegistrationWindow, CategoryChoice) {
    form_->SetCategoryList(S("日記\r\nNews\r\nＡｂｃ\r\n"));
    ASSERT_EQ(form_->cbCategory->count(), 3);
    EXPECT_EQ(form_->cbCategory->itemText(0), U("日記"));
    EXPECT_EQ(form_->cbCategory->currentIndex(), -1);
    const struct {
        const char* wanted;
        int index;
    } cases[] = {{"news", 1}, {"NEWS", 1}, {"日記", 0}, {"ａｂｃ", -1}, {"New", -1}, {"", -1}};
    for (const auto& c : cases) {
        form_->cbCategory->setCurrentIndex(0);
        form_->SelectCategoryIgnoringCase(S(c.wanted));
        EXPECT_EQ(form_->cbCategory->currentIndex(), c.index) << c.wanted;
    }
    form_->SetCategoryList("");
    EXPECT_EQ(form_->cbCategory->count(), 0);
}

}  // namespace
