// What a daily user does with the main window: context menus on the row under the pointer, the
// keyboard, a registration taken back while its site is checked, the progress line kept.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QToolBar>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "app/startup.h"
#include "gui_test_support.h"
#include "http_test_server.h"
#include "register/registration_window.h"
#include "store/site_record.h"
#include "support/qt_text.h"
#include "test_support.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::SiteList;
using testing_support::VisitList;
using hanabira::TForm1;
using hanabira::TMWBlogListRec;
using testing_support::S;

namespace {

std::string Line(const char* title, const std::string& url, const char* lastVisit, const std::string& feed = "") {
    TMWBlogListRec r;
    r.SiteTitle = S(title);
    r.SiteURL = url;
    r.LastVisit = lastVisit;
    r.RSSURL = feed;
    return hanabira::WriteSiteRecord(r);
}

class DesktopTest : public ::testing::Test {
protected:
    void Start(const std::string& sites) {
        testing_support::WriteFileBytes(dir.file("RssSites.dat"),
                                        "<!--\tTree\t-->6 7 -1 5 0 -1 \r\n" + S("すべてのサイト") + "\r\n\t" +
                                            S("未分類") + "\r\n<!--/\tTree\t--><!--\tBlogList\t-->" + sites +
                                            "<!--/\tBlogList\t-->\r\n");
        form = std::make_unique<TForm1>(QString::fromStdString(dir.path().string()));
        form2 = new hanabira::TForm2(form.get());
        form->AttachRegistrationWindow(form2);
        hanabira::RunStartupSequence(*form);
        form->show();
        form->activateWindow();
        QApplication::processEvents();
    }
    void TearDown() override {
        if (form) form->close();
        form.reset();
    }
    void Select(QTreeView* list, int row) {
        list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    TMWBlogListRec Site(int i) { return hanabira::ReadSiteRecord(form->SiteTable().Get(i)); }

    testing_support::TempDir dir;
    testing_support::MessageScope scope;
    testing_support::RecordedMessages& msg = *scope.messages;
    std::unique_ptr<TForm1> form;
    hanabira::TForm2* form2 = nullptr;
};

}  // namespace

TEST_F(DesktopTest, ContextMenuActsOnTheListAndRowUnderThePointer) {
    // Site 0 was visited and is not in the visit list; sites 1 and 2 are.
    Start(Line("訪問済み", "http://a.example/", "2026/12/01 10:00:00") + "\r\n" + Line("新しい", "http://b.example/", "") +
          "\r\n" + Line("もう一つ", "http://c.example/", "") + "\r\n");
    Select(SiteList(*form), 0);  // left over in the hidden site list
    Child<QTabWidget>(*form, "PageControl3")->setCurrentWidget(Child<QWidget>(*form, "tsVisitSiteLists"));
    ASSERT_EQ(VisitList(*form)->model()->rowCount(), 2);
    const QRect row1 = VisitList(*form)->visualRect(VisitList(*form)->model()->index(1, 1));

    form->SiteListMenuRequested(VisitList(*form), row1.center());
    EXPECT_EQ(hanabira::ReadSiteRecord(form->VisitSites().Get(1)).SiteURL, "http://c.example/");
    Child<QAction>(*form, "HEADH1")->trigger();
    Child<QMenu>(*form, "PopupMenu1")->hide();
    EXPECT_EQ(Site(2).HeadCheck, "Skip") << "the site under the pointer";
    EXPECT_EQ(Site(0).HeadCheck, "") << "not the one selected in the other list";

    std::string edited;
    form->SetRegistrationModal([&](hanabira::TForm2* f) { edited = hanabira::QStringToSjis(f->edSiteURL->text()); });
    form->SiteListMenuRequested(VisitList(*form), row1.center());
    Child<QAction>(*form, "T2")->trigger();
    Child<QMenu>(*form, "PopupMenu1")->hide();
    EXPECT_EQ(edited, "http://c.example/");
}

TEST_F(DesktopTest, KeysOfTheSiteListsAndTheWindow) {
    Start(Line("一", "http://a.example/", "") + "\r\n" + Line("二", "http://b.example/", "") + "\r\n");
    int registrations = 0;
    form->SetRegistrationModal([&](hanabira::TForm2*) { ++registrations; });

    SiteList(*form)->setFocus();
    Select(SiteList(*form), 1);
    msg.answers = {false};
    QTest::keyClick(SiteList(*form), Qt::Key_Delete);
    ASSERT_EQ(msg.questions.size(), 1);
    EXPECT_TRUE(msg.questions.first().contains(QString::fromUtf8("二")));
    EXPECT_EQ(form->SiteTable().Count(), 2) << "answered No";

    QTest::keyClick(SiteList(*form), Qt::Key_F2);
    EXPECT_EQ(registrations, 1);
    EXPECT_EQ(form2->edSiteURL->text(), "http://b.example/");
    QTest::keyClick(SiteList(*form), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(registrations, 2);

    QTest::keyClick(SiteList(*form), Qt::Key_Return);
    EXPECT_FALSE(Site(1).LastVisit.empty()) << "Enter opens the site (and stamps the visit)";

    for (QAction* a : {Child<QAction>(*form, "tbDeleteSite"), Child<QAction>(*form, "T2"), Child<QAction>(*form, "tbAddSite"), Child<QAction>(*form, "acCheckRSS"), Child<QAction>(*form, "acRSSChecking")})
        EXPECT_TRUE(a->toolTip().contains('(')) << a->objectName().toStdString() << ": the key is named in the hint";
}

TEST_F(DesktopTest, HoveringKeepsTheProgressLine) {
    Start("");
    form->SetStatusText(S("[10:00:00]:CheckHEAD... 花びら"));
    for (const QString& tip : {QString::fromUtf8("すべてのサイトの更新状況をチェックする"), QString()}) {
        QStatusTipEvent event(tip);
        QApplication::sendEvent(Child<QToolBar>(*form, "ToolBar2"), &event);
    }
    EXPECT_EQ(form->statusBar()->currentMessage(), QString::fromUtf8("[10:00:00]:CheckHEAD... 花びら"));
}

TEST_F(DesktopTest, EscapeDuringARegistrationsCheckRegistersNothing) {
    std::atomic<int> gets{0};
    testing_support::HttpTestServer server([&](testing_support::HttpTestServer& s) {
        s.Get("/feed", [&](const httplib::Request& req, httplib::Response& res) {
            if (req.method == "GET") ++gets;
            s.Pause(20000);  // a feed host that never answers
            res.set_content("<rss/>", "text/xml");
        });
    });
    Start(Line("既存", "http://a.example/", "") + "\r\n");
    const std::string before = testing_support::ReadFileBytes(dir.file("RssSites.dat"));
    form->SetRegistrationModal([&](hanabira::TForm2* f) {
        f->show();
        f->edSiteURL->setText("http://new.example/");
        f->edSiteTitle->setText("new");
        f->edRSSURL->setText(QString::fromStdString(server.Url("/feed")));
        f->cbHeadCheck->setChecked(false);
        QTimer::singleShot(300, f, [f] { QTest::keyClick(f, Qt::Key_Escape); });
        const auto start = std::chrono::steady_clock::now();
        f->RegisterSite();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_FALSE(f->isVisible()) << "the window closes once the check has stopped";
        EXPECT_FALSE(f->Busy());
    });
    form->tbAddSiteClick();
    EXPECT_EQ(gets.load(), 1) << "a new site's feed is asked at once, without a HEAD";
    ASSERT_EQ(form->SiteTable().Count(), 1) << "nothing registered";
    EXPECT_EQ(Site(0).SiteURL, "http://a.example/");
    EXPECT_EQ(testing_support::ReadFileBytes(dir.file("RssSites.dat")), before) << "nothing saved";

    // The window opens again and works.
    bool shown = false;
    form->SetRegistrationModal([&](hanabira::TForm2* f) {
        f->show();
        shown = f->isVisible() && !f->Busy();
        f->hide();
    });
    form->tbAddSiteClick();
    EXPECT_TRUE(shown);
}

TEST_F(DesktopTest, EscapeDuringASiteProbeStopsIt) {
    testing_support::HttpTestServer server([](testing_support::HttpTestServer& s) {
        s.Get("/page", [&s](const httplib::Request&, httplib::Response& res) {
            s.Pause(20000);
            res.set_content("<html></html>", "text/html");
        });
    });
    Start("");
    form2->show();
    form2->edSiteURL->setText(QString::fromStdString(server.Url("/page")));
    int ticks = 0;
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, [&] { ++ticks; });
    painter.start(50);
    bool disabledMeanwhile = false;
    QTimer::singleShot(300, form2, [&] {
        disabledMeanwhile = !form2->btnSiteCheck->isEnabled() && !form2->btnSetSite->isEnabled();
        form2->reject();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(form2->ProbeSite(true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_GE(ticks, 3) << "the window kept handling events";
    EXPECT_TRUE(disabledMeanwhile) << "the buttons showed they were off while the page was fetched";
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(form2->btnSiteCheck->isEnabled());
}
