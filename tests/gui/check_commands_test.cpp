// The check commands of the main window: all sites in the background, the one-site check, the
// visit list at the end, and closing the window while a check runs.
#include <QApplication>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeView>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/startup.h"
#include "check/check_test_support.h"
#include "gui_test_support.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "test_support.h"
#include "ui/main/main_window.h"

using check_testing::FeedServer;
using check_testing::SiteAnswer;
using check_testing::SiteLine;

namespace {

class CheckCommandsTest : public ::testing::Test {
protected:
    void Start() {
        form = std::make_unique<hanabira::TForm1>(QString::fromStdString(dir.path().string()));
        form->CheckDelayMs = 0;
        hanabira::RunStartupSequence(*form);
        form->show();
    }
    void TearDown() override {
        if (form) form->close();
        form.reset();
    }
    void Select(int row) {
        form->lvSiteList->selectionModel()->setCurrentIndex(
            form->lvSiteList->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    hanabira::TMWBlogListRec At(int i) { return hanabira::ReadSiteRecord(form->SiteTableList->Get(i)); }
    bool WaitForEnd(int ms = 20000) {
        return check_testing::SpinUntil([&] { return !form->Checking.load(); }, ms);
    }

    testing_support::TempDir dir;
    testing_support::MessageScope scope;
    testing_support::RecordedMessages& msg = *scope.messages;
    FeedServer server;
    std::unique_ptr<hanabira::TForm1> form;
};

TEST_F(CheckCommandsTest, CheckAllRunsInTheBackgroundAndEndsOnTheVisitList) {
    server.Set("/a.rdf", SiteAnswer{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200,
                                    check_testing::Rss2("Mon, 02 Nov 2026 10:00:00 +0900")});
    server.Set("/b.rdf", SiteAnswer{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200,
                                    check_testing::Rss2("Mon, 02 Nov 2026 10:00:00 +0900")});
    Start();
    // a: never visited; b: visited after its HEAD date, so its feed is not read.
    form->SiteTableList->Add(SiteLine("A", "http://a.example", server.Url("/a.rdf"), "2026/10/01 00:00:00"));
    form->SiteTableList->Add(SiteLine("B", "http://b.example", server.Url("/b.rdf"), "2026/11/30 00:00:00"));
    form->ShowSelectedCategory();
    msg.answers = {false, true};
    form->acRSSCheckingExecute();  // No: nothing starts
    EXPECT_FALSE(form->Checking.load());
    EXPECT_EQ(server.TotalRequests(), 0);
    form->acRSSCheckingExecute();
    EXPECT_EQ(msg.questions.value(0), QString::fromUtf8("すべてのサイトの更新状況をチェックしますか？"));
    ASSERT_TRUE(form->Checking.load());
    form->UpdateActions();
    EXPECT_FALSE(form->acCheckRSS->isEnabled());
    EXPECT_FALSE(form->acRSSChecking->isEnabled());
    EXPECT_FALSE(form->acRefreshVisitSites->isEnabled());
    EXPECT_TRUE(form->acAbortRss->isEnabled());
    ASSERT_TRUE(WaitForEnd());
    form->UpdateActions();
    EXPECT_TRUE(form->acCheckRSS->isEnabled());
    EXPECT_FALSE(form->acAbortRss->isEnabled());
    EXPECT_EQ(At(0).HeadTime, "2026/11/01 09:00:01");
    EXPECT_EQ(At(0).LastUpdate, "2026/11/02 10:00:00");
    EXPECT_EQ(At(1).HeadTime, "2026/11/01 09:00:01");
    EXPECT_EQ(At(1).LastUpdate, "");
    EXPECT_EQ(server.Gets("/b.rdf"), 0);
    EXPECT_TRUE(form->StatusBar1->currentMessage().isEmpty());
    EXPECT_EQ(form->PageControl3->currentWidget(), form->tsVisitSiteLists);
    ASSERT_EQ(form->lvVisitSite->model()->rowCount(), 1);
    EXPECT_EQ(form->lvVisitSite->model()->index(0, 1).data().toString(), "A");
    // The site list shows the stored results too.
    EXPECT_EQ(form->lvSiteList->model()->index(0, 4).data().toString(), "2026/11/02 10:00:00");
}

TEST_F(CheckCommandsTest, NeverASecondWorker) {
    SiteAnswer held{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200, check_testing::Rss2("x")};
    held.holdHead = true;
    server.Set("/a.rdf", held);
    Start();
    form->SiteTableList->Add(SiteLine("A", "http://a.example", server.Url("/a.rdf")));
    form->StartRssCheck();
    hanabira::TMWRSSCheck* first = form->CheckThread;
    ASSERT_TRUE(check_testing::SpinUntil([&] { return server.Held("/a.rdf"); }));
    form->StartRssCheck();
    EXPECT_EQ(form->CheckThread, first);
    server.Release("/a.rdf");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(server.Heads("/a.rdf"), 1);
    form->acAbortRssExecute();  // no run: nothing happens
}

TEST_F(CheckCommandsTest, OneSiteCheckStoresBothDatesOrSaysWhatIsMissing) {
    server.Set("/a.rdf", SiteAnswer{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200,
                                    check_testing::Rss2("Mon, 02 Nov 2026 10:00:00 +0900")});
    Start();
    form->SiteTableList->Add(SiteLine("A", "http://a.example", server.Url("/a.rdf"), "2026/11/30 00:00:00"));
    form->SiteTableList->Add(SiteLine("NoFeed", "http://n.example", ""));
    form->ShowSelectedCategory();
    form->acCheckRSSExecute();
    EXPECT_EQ(msg.errors, QStringList{QString::fromUtf8("サイトが選択されていません")});
    Select(0);
    form->acCheckRSSExecute();
    // The one-site check always reads the feed, even when the visit is later than the HEAD date.
    EXPECT_EQ(At(0).HeadTime, "2026/11/01 09:00:01");
    EXPECT_EQ(At(0).LastUpdate, "2026/11/02 10:00:00");
    EXPECT_TRUE(form->acCheckRSS->isEnabled());
    EXPECT_TRUE(form->acRSSChecking->isEnabled());
    Select(1);
    form->acCheckRSSExecute();
    EXPECT_EQ(msg.errors.last(), QString::fromUtf8("RSSURLが設定されていません"));
    EXPECT_EQ(form->PageControl3->currentWidget(), form->tsSiteList);  // the visit list is not rebuilt
}

TEST_F(CheckCommandsTest, ClosingDuringARunSavesFirstThenStopsTheWorker) {
    SiteAnswer held{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200, check_testing::Rss2("x")};
    held.holdHead = true;
    server.Set("/a.rdf", held);
    server.Set("/b.rdf", SiteAnswer{});
    Start();
    form->SiteTableList->Add(SiteLine("A", "http://a.example", server.Url("/a.rdf")));
    form->SiteTableList->Add(SiteLine("B", "http://b.example", server.Url("/b.rdf")));
    form->StartRssCheck();
    ASSERT_TRUE(check_testing::SpinUntil([&] { return server.Held("/a.rdf"); }));
    hanabira::TMWRSSCheck* worker = form->CheckThread;
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(worker->IsAborted());
    // Saved before the worker stopped: both sites, no result yet.
    const std::string saved = testing_support::ReadFileBytes(dir.file("RssSites.dat"));
    EXPECT_NE(saved.find("http://b.example"), std::string::npos);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        server.Release("/a.rdf");
    });
    const auto begin = std::chrono::steady_clock::now();
    form.reset();  // waits for the worker, processing its hand-offs
    release.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(9));
    EXPECT_EQ(server.Heads("/b.rdf"), 0);  // the run stopped after the current site
}

}  // namespace
