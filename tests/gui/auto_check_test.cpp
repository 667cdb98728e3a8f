// The automatic check in the main window, on a clock the test sets: a due run waits while the
// window is busy, then runs as the check of all sites without a question, keeps the user's page
// and selection, saves the data file and hands its notice to the sender.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeView>

#include "app/startup.h"
#include "check/check_test_support.h"
#include "gui_test_support.h"
#include "register/registration_window.h"
#include "store/site_record.h"
#include "support/desktop_notice.h"
#include "support/list_utils.h"
#include "test_support.h"
#include "ui/main/main_window.h"

using check_testing::FeedServer;
using check_testing::SiteAnswer;
using check_testing::SiteLine;
using namespace std::chrono_literals;
using testing_support::Child;
using testing_support::S;
using testing_support::SiteList;
using testing_support::VisitList;

namespace {

struct RecordedNotices : hanabira::NoticeSender {
    std::vector<std::string> texts;
    std::function<void()> chosen;
    void Send(const std::string& text, std::function<void()> onChosen) override {
        texts.push_back(text);
        chosen = std::move(onChosen);
    }
};

void Select(QTreeView* list, int row) {
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

}  // namespace

TEST(AutoCheck, AScheduledRunWaitsForTheWindowThenChecksSavesAndSendsItsNotice) {
    testing_support::TempDir dir;
    testing_support::MessageScope scope;
    FeedServer server;
    const std::string newer = check_testing::Rss2("Mon, 07 Dec 2026 12:00:00 +0900");
    server.Set("/a.rdf", SiteAnswer{200, "Mon, 07 Dec 2026 03:00:00 GMT", "", 200, newer});
    server.Set("/b.rdf", SiteAnswer{200, "Mon, 07 Dec 2026 03:00:00 GMT", "", 200, newer});
    server.Set("/c.rdf", SiteAnswer{404, "", "", 404, ""});

    hanabira::ScheduleTime now =
        std::chrono::sys_days{std::chrono::year{2026} / 12 / 9} + 1h;  // outlives the window
    hanabira::TForm1 form(QString::fromStdString(dir.path().string()));
    auto* form2 = new hanabira::TForm2(&form);
    form.AttachRegistrationWindow(form2);
    form.SetCheckDelay(0);
    hanabira::RunStartupSequence(form);
    form.show();
    form.SetAutoCheckClock([&now] { return now; });
    auto owned = std::make_unique<RecordedNotices>();
    RecordedNotices& notices = *owned;
    form.SetNoticeSender(std::move(owned));

    const std::string visited = "2026/12/07 10:00:00";
    form.SiteTable().Add(
        SiteLine(S("ゆるふわ日記&#x2661;"), "http://a.example/", server.Url("/a.rdf"), visited));
    form.SiteTable().Add(SiteLine("B & B", "http://b.example/", server.Url("/b.rdf"), visited));
    form.SiteTable().Add(SiteLine("C", "http://c.example/", server.Url("/c.rdf"), ""));  // never visited
    form.ShowSelectedCategory();
    form.RefreshVisitSites(false);
    ASSERT_EQ(form.VisitSites().Count(), 1);
    Select(VisitList(form), 0);  // C
    Select(SiteList(form), 1);   // B
    Child<QTabWidget>(form, "PageControl3")->setCurrentWidget(Child<QWidget>(form, "tsSiteList"));

    form.SetAutoCheckMinutes(15);
    auto* field = form.statusBar()->findChild<QLabel*>("lbNextAutoCheck");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->text().startsWith(QString::fromUtf8("次の自動チェック ")))
        << field->text().toStdString();
    form.ScheduleTick();
    EXPECT_FALSE(form.IsChecking()) << "not due yet";

    now += 15min;
    form2->show();  // a registration is open: the due run waits for it
    form.ScheduleTick();
    EXPECT_FALSE(form.IsChecking());
    form2->hide();
    form.hide();  // the user went to the tray
    form.ScheduleTick();
    ASSERT_TRUE(form.IsChecking());
    EXPECT_TRUE(form.ScheduledRunUnderWay());
    ASSERT_TRUE(check_testing::SpinUntil([&] { return !form.IsChecking(); }));

    EXPECT_TRUE(scope.messages->questions.isEmpty()) << "a scheduled run asks nothing";
    EXPECT_TRUE(scope.messages->errors.isEmpty());
    EXPECT_EQ(Child<QTabWidget>(form, "PageControl3")->currentWidget(), Child<QWidget>(form, "tsSiteList")) << "the page the user was on";
    ASSERT_EQ(form.VisitSites().Count(), 3);
    EXPECT_EQ(hanabira::SelectedRow(VisitList(form)), 2) << "C, found by its URL in the rebuilt list";
    EXPECT_EQ(hanabira::SelectedRow(SiteList(form)), 1);
    // Saved at the run's end with the results in it.
    const std::string saved = testing_support::ReadFileBytes(dir.file("RssSites.dat"));
    EXPECT_NE(saved.find("2026/12/07 12:00:00"), std::string::npos);
    ASSERT_EQ(notices.texts.size(), 1u);
    EXPECT_EQ(notices.texts[0], S("2 件のブログが更新されました: ゆるふわ日記&#x2661;、B & B"));

    // The next run is a whole interval after this one's end; it finds nothing new and says nothing.
    form.ScheduleTick();
    EXPECT_FALSE(form.IsChecking());
    now += 15min;
    form.ScheduleTick();
    ASSERT_TRUE(form.IsChecking());
    ASSERT_TRUE(check_testing::SpinUntil([&] { return !form.IsChecking(); }));
    EXPECT_EQ(notices.texts.size(), 1u);

    // Choosing the notice brings the window back on the visit list.
    notices.chosen();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Child<QTabWidget>(form, "PageControl3")->currentWidget(), Child<QWidget>(form, "tsVisitSiteLists"));

    form.close();
    EXPECT_NE(testing_support::ReadFileBytes(dir.file("gui_tests.ini"))
                  .find("CheckConnections=48\r\nAutoCheckMinutes=15\t"),
              std::string::npos);
}
