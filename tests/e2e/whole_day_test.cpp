// A user's whole day with the real program (its windows, the real web view, a real display under
// Xvfb), against a blog served on 127.0.0.1: register the blog by its page address, check all
// sites, find it in the visit list, open it in the comment window, copy the filled comment, close,
// start again and find everything kept.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include "app/program.h"
#include "browser/comment_window.h"
#include "browser/qt_web_view.h"
#include "browser/web_view_frame.h"
#include "check/dates.h"
#include "gui/gui_test_support.h"
#include "http_test_server.h"
#include "register/registration_window.h"
#include "store/site_record.h"
#include "support/qt_text.h"
#include "test_support.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::VisitList;
using testing_support::S;
using testing_support::WaitUntil;

namespace {

std::string Cp932(const std::string& utf8) { return testing_support::Iconv(utf8, "UTF-8", "CP932"); }

}  // namespace

TEST(WholeDay, RegisterCheckVisitCommentAndFindItAllAgain) {
    testing_support::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string() + "/");
    testing_support::MessageScope messages;  // questions are answered Yes; errors are recorded
    testing_support::HttpTestServer server([](testing_support::HttpTestServer& s) {
        s.Get("/blog", [&s](const httplib::Request&, httplib::Response& res) {
            res.set_content(Cp932("<html><head><meta charset=\"Shift_JIS\"><title>花びら日記</title>"
                                  "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/blog/rss.xml\">"
                                  "</head><body><h1>花びら日記</h1><p>今日の記事です。</p>"
                                  "<form><textarea name=\"comment\"></textarea></form></body></html>"),
                            "text/html; charset=Shift_JIS");
        });
        s.Get("/blog/rss.xml", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Last-Modified", "Mon, 07 Dec 2026 00:00:00 GMT");
            res.set_content("<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel>"
                            "<title>花びら日記</title><item><title>今日</title>"
                            "<pubDate>Mon, 07 Dec 2026 09:00:00 +0900</pubDate></item></channel></rss>",
                            "application/rss+xml");
        });
    });
    const std::string page = server.Url("/blog");
    QRect commentWindowPlace;

    {  // ---- the first day ----
        hanabira::Program program(folder);
        program.Start();
        hanabira::TForm1& main = program.Main();
        hanabira::TForm2& reg = program.Registration();
        hanabira::TForm3& comments = program.Comments();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));

        // Register the blog by its page address; the probe finds the feed and the title.
        QTimer::singleShot(200, &reg, [&] {
            reg.edSiteURL->setText(QString::fromStdString(page));
            QTest::mouseClick(reg.btnSiteCheck, Qt::LeftButton);
            ASSERT_TRUE(WaitUntil([&] { return !reg.edRSSURL->text().isEmpty() && !reg.Busy(); }));
            reg.edManagerName->setText(QString::fromUtf8("さくら"));
            QTest::mouseClick(reg.btnSetSite, Qt::LeftButton);
        });
        Child<QAction>(main, "tbAddSite")->trigger();  // the registration window, modal, until the registration closes it
        ASSERT_EQ(main.SiteTable().Count(), 1);
        hanabira::TMWBlogListRec rec = hanabira::ReadSiteRecord(main.SiteTable().Get(0));
        EXPECT_EQ(rec.SiteTitle, S("花びら日記"));
        EXPECT_EQ(rec.RSSURL, server.Url("/blog/rss.xml"));

        // Check all sites in the background; the visit list shows the blog afterwards.
        ASSERT_TRUE(WaitUntil([&] { return Child<QAction>(main, "acRSSChecking")->isEnabled(); }));
        Child<QAction>(main, "acRSSChecking")->trigger();
        EXPECT_EQ(messages.messages->questions.size(), 1) << "asked before checking all";
        ASSERT_TRUE(WaitUntil([&] { return !main.IsChecking() && main.CurrentCheck() == nullptr; }));
        rec = hanabira::ReadSiteRecord(main.SiteTable().Get(0));
        EXPECT_EQ(rec.LastUpdate, "2026/12/07 09:00:00");
        ASSERT_EQ(VisitList(main)->model()->rowCount(), 1);

        // Open it from the visit list: the comment window shows the page with its title.
        VisitList(main)->selectionModel()->setCurrentIndex(VisitList(main)->model()->index(0, 0),
                                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const QPoint row = VisitList(main)->visualRect(VisitList(main)->model()->index(0, 1)).center();
        ASSERT_TRUE(VisitList(main)->isVisible());
        QTest::mouseClick(VisitList(main)->viewport(), Qt::LeftButton, {}, row);
        QTest::mouseDClick(VisitList(main)->viewport(), Qt::LeftButton, {}, row);
        ASSERT_TRUE(WaitUntil([&] { return comments.isVisible() && comments.windowTitle() == QString::fromUtf8("花びら日記"); }))
            << comments.isVisible() << " " << comments.windowTitle().toStdString() << " "
            << comments.Browser()->GetLocationURL();
        EXPECT_EQ(comments.Browser()->GetLocationURL(), page);

        // The own site, the comment template, and the filled comment on the clipboard.
        comments.findChild<QTextEdit*>("edRegistMySite")
            ->setPlainText(QString::fromUtf8("わたしの庭,http://niwa.example/,はなこ"));
        comments.SelectMySite(S("わたしの庭"));
        comments.cbMySiteChange();
        comments.findChild<QTextEdit*>("edComment")
            ->setPlainText(QString::fromUtf8("{$Manager}さん、こんにちは。\n{$MySiteName}({$MySiteURL})の{$MyName}です。"));
        comments.findChild<QAction*>("ToolButton1")->trigger();
        EXPECT_EQ(QGuiApplication::clipboard()->text(),
                  QString::fromUtf8("さくらさん、こんにちは。\r\nわたしの庭(http://niwa.example/)のはなこです。"));

        comments.setGeometry(60, 40, 760, 560);
        QApplication::processEvents();
        commentWindowPlace = comments.geometry();
        main.close();  // the window's close: settings and sites are written
        EXPECT_FALSE(main.isVisible());
    }

    {  // ---- the next day ----
        hanabira::Program program(folder);
        program.Start();
        hanabira::TForm1& main = program.Main();
        hanabira::TForm3& comments = program.Comments();
        ASSERT_EQ(main.SiteTable().Count(), 1);
        const hanabira::TMWBlogListRec rec = hanabira::ReadSiteRecord(main.SiteTable().Get(0));
        EXPECT_EQ(rec.SiteURL, page);
        EXPECT_EQ(rec.ManagerName, S("さくら"));
        EXPECT_EQ(rec.LastVisit.size(), 19u) << "the visit was stamped and kept";
        EXPECT_EQ(comments.CommentText(), S("{$Manager}さん、こんにちは。\r\n{$MySiteName}({$MySiteURL})の{$MyName}です。"));
        EXPECT_EQ(comments.MySiteText(), S("わたしの庭"));
        comments.ShowBrowser();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&comments));
        EXPECT_EQ(comments.geometry().size(), commentWindowPlace.size());
        main.close();
    }
    EXPECT_TRUE(messages.messages->errors.isEmpty()) << messages.messages->errors.join("\n").toStdString();
}

int main(int argc, char** argv) {
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");  // tests only
    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QString::fromUtf8("VUVarovaduro Hanabira 2号"));
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
        hanabira::ReleaseBrowserProfile();
    }
    return result;
}
