// The check commands of the main window: all sites in the background, the one-site check, the
// visit list at the end, and closing the window while a check runs.
#include <QAction>
#include <QApplication>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/startup.h"
#include "check/check_test_support.h"
#include "gui_test_support.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "test_support.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::SiteList;
using testing_support::VisitList;
using check_testing::FeedServer;
using check_testing::SiteAnswer;
using check_testing::SiteLine;

namespace {

class CheckCommandsTest : public ::testing::Test {
protected:
    void Start() {
        form = std::make_unique<hanabira::TForm1>(QString::fromStdString(dir.path().string()));
        form->SetCheckDelay(0);
        hanabira::RunStartupSequence(*form);
        form->show();
    }
    void TearDown() override {
        if (form) form->close();
        form.reset();
    }
    void Select(int row) {
        SiteList(*form)->selectionModel()->setCurrentIndex(
            SiteList(*form)->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    hanabira::TMWBlogListRec At(int i) { return hanabira::ReadSiteRecord(form->SiteTable().Get(i)); }
    bool WaitForEnd(int ms = 20000) {
        return check_testing::SpinUntil([&] { return !form->IsChecking(); }, ms);
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
    form->SiteTable().Add(SiteLine("A", "http://a.example", server.Url("/a.rdf"), "2026/10/01 00:00:00"));
    form->SiteTable().Add(SiteLine("B", "http://b.example", server.Url("/b.rdf"), "2026/11/30 00:00:00"));
    form->ShowSelectedCategory();
    msg.answers = {false, true};
    form->acRSSCheckingExecute();  // No: nothing starts
    EXPECT_FALSE(form->IsChecking());
    EXPECT_EQ(server.TotalRequests(), 0);
    form->acRSSCheckingExecute();
    EXPECT_EQ(msg.questions.value(0), QString::fromUtf8("すべてのサイトの更新状況をチェックしますか？"));
    ASSERT_TRUE(form->IsChecking());
    form->UpdateActions();
    EXPECT_FALSE(Child<QAction>(*form, "acCheckRSS")->isEnabled());
    EXPECT_FALSE(Child<QAction>(*form, "acRSSChecking")->isEnabled());
    EXPECT_FALSE(Child<QAction>(*form, "acRefreshVisitSites")->isEnabled());
    EXPECT_TRUE(Child<QAction>(*form, "acAbortRss")->isEnabled());
    ASSERT_TRUE(WaitForEnd());
    form->UpdateActions();
    EXPECT_TRUE(Child<QAction>(*form, "acCheckRSS")->isEnabled());
    EXPECT_FALSE(Child<QAction>(*form, "acAbortRss")->isEnabled());
    EXPECT_EQ(At(0).HeadTime, "2026/11/01 09:00:01");
    EXPECT_EQ(At(0).LastUpdate, "2026/11/02 10:00:00");
    EXPECT_EQ(At(1).HeadTime, "2026/11/01 09:00:01");
    EXPECT_EQ(At(1).LastUpdate, "");
    EXPECT_EQ(server.Gets("/b.rdf"), 0);
    // The step line gives way to the run's summary, which stays.
    EXPECT_TRUE(form->statusBar()->currentMessage().endsWith(
        QString::fromUtf8("]:2 サイトをチェックしました: 更新 1 件、失敗 0 件 (0 秒)")))
        << form->statusBar()->currentMessage().toStdString();
    EXPECT_EQ(Child<QTabWidget>(*form, "PageControl3")->currentWidget(), Child<QWidget>(*form, "tsVisitSiteLists"));
    ASSERT_EQ(VisitList(*form)->model()->rowCount(), 1);
    EXPECT_EQ(VisitList(*form)->model()->index(0, 1).data().toString(), "A");
    // The site list shows the stored results too.
    EXPECT_EQ(SiteList(*form)->model()->index(0, 4).data().toString(), "2026/11/02 10:00:00");
}

TEST_F(CheckCommandsTest, NeverASecondWorker) {
    SiteAnswer held{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200, check_testing::Rss2("x")};
    held.holdHead = true;
    server.Set("/a.rdf", held);
    Start();
    form->SiteTable().Add(SiteLine("A", "http://a.example", server.Url("/a.rdf")));
    form->StartRssCheck();
    hanabira::TMWRSSCheck* first = form->CurrentCheck();
    ASSERT_TRUE(check_testing::SpinUntil([&] { return server.Held("/a.rdf"); }));
    form->StartRssCheck();
    EXPECT_EQ(form->CurrentCheck(), first);
    server.Release("/a.rdf");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(server.Heads("/a.rdf"), 1);
    form->acAbortRssExecute();  // no run: nothing happens
}

TEST_F(CheckCommandsTest, OneSiteCheckStoresBothDatesOrSaysWhatIsMissing) {
    server.Set("/a.rdf", SiteAnswer{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200,
                                    check_testing::Rss2("Mon, 02 Nov 2026 10:00:00 +0900")});
    Start();
    form->SiteTable().Add(SiteLine("A", "http://a.example", server.Url("/a.rdf"), "2026/11/30 00:00:00"));
    form->SiteTable().Add(SiteLine("NoFeed", "http://n.example", ""));
    form->ShowSelectedCategory();
    form->acCheckRSSExecute();
    EXPECT_EQ(msg.errors, QStringList{QString::fromUtf8("サイトが選択されていません")});
    Select(0);
    form->acCheckRSSExecute();
    // The one-site check always reads the feed, even when the visit is later than the HEAD date.
    EXPECT_EQ(At(0).HeadTime, "2026/11/01 09:00:01");
    EXPECT_EQ(At(0).LastUpdate, "2026/11/02 10:00:00");
    EXPECT_TRUE(Child<QAction>(*form, "acCheckRSS")->isEnabled());
    EXPECT_TRUE(Child<QAction>(*form, "acRSSChecking")->isEnabled());
    Select(1);
    form->acCheckRSSExecute();
    EXPECT_EQ(msg.errors.last(), QString::fromUtf8("RSSURLが設定されていません"));
    EXPECT_EQ(Child<QTabWidget>(*form, "PageControl3")->currentWidget(), Child<QWidget>(*form, "tsSiteList"));  // the visit list is not rebuilt
}

TEST_F(CheckCommandsTest, ClosingDuringARunSavesFirstThenStopsTheWorker) {
    SiteAnswer held{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200, check_testing::Rss2("x")};
    held.holdHead = true;
    server.Set("/a.rdf", held);
    server.Set("/b.rdf", SiteAnswer{});
    Start();
    form->SetCheckConnections(1);  // the strict walk: B waits for A, so "after the current site" is exact
    form->SiteTable().Add(SiteLine("A", "http://a.example", server.Url("/a.rdf")));
    form->SiteTable().Add(SiteLine("B", "http://b.example", server.Url("/b.rdf")));
    form->StartRssCheck();
    ASSERT_TRUE(check_testing::SpinUntil([&] { return server.Held("/a.rdf"); }));
    hanabira::TMWRSSCheck* worker = form->CurrentCheck();
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

// The one-site check waits on a stalled server with the window painting; the abort command (enabled
// meanwhile) or closing the window ends it within a second, and the site keeps the dates it had.
TEST_F(CheckCommandsTest, OneSiteCheckPaintsAndStopsOnAbortOrClose) {
    enum class Stall { Head, Feed };
    enum class Action { Abort, Close, Destroy };
    struct Case {
        const char* name;
        Stall stall;
        Action action;
    };
    const std::vector<Case> cases = {
        {"abort while the HEAD waits", Stall::Head, Action::Abort},
        {"abort while the feed stalls", Stall::Feed, Action::Abort},
        {"close while the HEAD waits", Stall::Head, Action::Close},
        {"close while the feed stalls", Stall::Feed, Action::Close},
        {"window destroyed while the feed stalls", Stall::Feed, Action::Destroy},
    };
    const std::string oldHead = "2026/10/01 00:00:00", oldUpdate = "2026/10/02 00:00:00";
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/s" + std::to_string(round++) + ".rdf";
        SiteAnswer a{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200,
                     check_testing::Rss2("Mon, 02 Nov 2026 10:00:00 +0900") + std::string(3000, ' ')};
        if (c.stall == Stall::Head)
            a.holdHead = true;
        else
            a.stallAfter = 100;
        server.Set(path, a);
        std::filesystem::remove(dir.file("RssSites.dat"));  // the previous case's save
        Start();
        form->SiteTable().Add(SiteLine("A", "http://a.example", server.Url(path), "2025/12/01 00:00:00", oldHead, oldUpdate));
        form->ShowSelectedCategory();
        Select(0);

        // Timer ticks show the window handling events; the action comes once the server holds on.
        using Clock = std::chrono::steady_clock;
        std::vector<Clock::time_point> ticks;
        Clock::time_point actedAt{};
        bool abortEnabled = false, checkEnabled = true;
        hanabira::TForm1* raw = form.get();
        QTimer ticker;
        ticker.setInterval(20);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            ticks.push_back(Clock::now());
            const bool holding = c.stall == Stall::Head ? server.Held(path) : server.Stalled(path);
            if (!holding || actedAt != Clock::time_point{}) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the first bytes arrive
            raw->UpdateActions();
            abortEnabled = Child<QAction>(*raw, "acAbortRss")->isEnabled();
            checkEnabled = Child<QAction>(*raw, "acCheckRSS")->isEnabled();
            actedAt = Clock::now();
            if (c.action == Action::Abort) Child<QAction>(*raw, "acAbortRss")->trigger();
            if (c.action == Action::Close) raw->close();
            if (c.action == Action::Destroy) form.reset();
        });
        ticker.start();
        const auto began = Clock::now();
        raw->acCheckRSSExecute();
        const auto ended = Clock::now();
        ticker.stop();

        ASSERT_NE(actedAt, Clock::time_point{}) << "the server never held the request";
        EXPECT_LT(ended - actedAt, std::chrono::seconds(1));
        EXPECT_TRUE(abortEnabled) << "the abort command is enabled during a one-site check";
        EXPECT_FALSE(checkEnabled);
        ticks.insert(ticks.begin(), began);
        for (size_t i = 1; i < ticks.size(); ++i) {
            EXPECT_LT(ticks[i] - ticks[i - 1], std::chrono::milliseconds(250)) << "the window froze";
        }
        server.Release(path);
        if (c.action == Action::Destroy) {
            EXPECT_FALSE(form);
            continue;
        }
        EXPECT_EQ(At(0).HeadTime, c.stall == Stall::Head ? oldHead : "2026/11/01 09:00:01");
        EXPECT_EQ(At(0).LastUpdate, oldUpdate) << "a stopped step stores nothing";
        if (c.action == Action::Close) {
            EXPECT_FALSE(form->isVisible());
            const std::string saved = testing_support::ReadFileBytes(dir.file("RssSites.dat"));
            EXPECT_NE(saved.find(oldUpdate), std::string::npos) << "saved at close, with the dates the site had";
        } else {
            form->UpdateActions();
            EXPECT_TRUE(Child<QAction>(*form, "acCheckRSS")->isEnabled());
            EXPECT_FALSE(Child<QAction>(*form, "acAbortRss")->isEnabled());
        }
        EXPECT_TRUE(msg.errors.isEmpty());
        form->close();
        form.reset();
    }
}

// After a stopped one-site check the next one runs normally: the stop does not linger.
TEST_F(CheckCommandsTest, AStopDoesNotOutliveItsCheck) {
    server.Set("/a.rdf", SiteAnswer{200, "Sun, 01 Nov 2026 00:00:01 GMT", "", 200,
                                    check_testing::Rss2("Mon, 02 Nov 2026 10:00:00 +0900")});
    Start();
    form->SiteTable().Add(SiteLine("A", "http://a.example", server.Url("/a.rdf")));
    form->ShowSelectedCategory();
    Select(0);
    form->acAbortRssExecute();  // nothing runs: nothing to stop, nothing remembered
    form->acCheckRSSExecute();
    EXPECT_EQ(At(0).HeadTime, "2026/11/01 09:00:01");
    EXPECT_EQ(At(0).LastUpdate, "2026/11/02 10:00:00");
}

}  // namespace

// A run with failures: the progress field counts up to N / N, the summary counts what changed and
// what failed, the failed sites are listed with their reasons until a check of theirs succeeds, and
// the one-site check says how it went.
TEST_F(CheckCommandsTest, ARunShowsItsProgressSummaryAndTheSitesThatFailed) {
    SiteAnswer gone;
    gone.getStatus = 404;
    server.Set("/ok.rdf", SiteAnswer{200, "", "", 200, check_testing::Rss2("Mon, 02 Nov 2026 10:00:00 +0900")});
    server.Set("/gone.rdf", gone);
    Start();
    form->SiteTable().Add(SiteLine("OK", "http://ok.example", server.Url("/ok.rdf"), "2026/10/01 00:00:00"));
    form->SiteTable().Add(
        SiteLine("Gone", "http://gone.example", server.Url("/gone.rdf"), "2026/10/01 00:00:00", "", "2026/09/01 00:00:00"));
    form->SiteTable().Add(SiteLine("Refused", "http://refused.example", "http://127.0.0.1:1/feed"));
    form->ShowSelectedCategory();
    EXPECT_FALSE(Child<QAction>(*form, "acFailedSites")->isEnabled());

    auto* bar = form->findChild<QProgressBar*>("CheckProgress");
    ASSERT_TRUE(bar);
    int lastShown = -1;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { lastShown = v; });
    form->acRSSCheckingExecute();
    EXPECT_EQ(msg.questionDefaults.value(0), true) << "Enter starts the check the user asked for";
    EXPECT_TRUE(bar->isVisible());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(lastShown, 3) << "3 / 3 before it went";
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(form->statusBar()->currentMessage().contains(
        QString::fromUtf8("3 サイトをチェックしました: 更新 1 件、失敗 2 件")))
        << form->statusBar()->currentMessage().toStdString();
    EXPECT_EQ(form->SitesAddedToVisitList(), 1);
    EXPECT_EQ(At(1).LastUpdate, "2026/09/01 00:00:00") << "an error answer stores nothing";

    ASSERT_EQ(form->FailedSites().size(), 2u);
    EXPECT_EQ(form->FailedSites().at("http://gone.example").reason, testing_support::S("404 ページが見つかりません"));
    EXPECT_EQ(form->FailedSites().at("http://refused.example").reason, testing_support::S("接続できません"));
    EXPECT_TRUE(Child<QAction>(*form, "acFailedSites")->isEnabled());
    EXPECT_TRUE(Child<QAction>(*form, "acFailedSites")->toolTip().contains(QString::fromUtf8("(2 件)")));

    // The site comes back: its one-site check says so and takes it off the list.
    server.Set("/gone.rdf", SiteAnswer{200, "", "", 200, check_testing::Rss2("Tue, 03 Nov 2026 10:00:00 +0900")});
    Select(1);
    form->acCheckRSSExecute();
    EXPECT_TRUE(form->statusBar()->currentMessage().endsWith(QString::fromUtf8("Gone: 更新があります")))
        << form->statusBar()->currentMessage().toStdString();
    EXPECT_EQ(form->FailedSites().count("http://gone.example"), 0u);
    Select(2);
    form->acCheckRSSExecute();
    EXPECT_TRUE(form->statusBar()->currentMessage().endsWith(
        QString::fromUtf8("Refused: チェックできませんでした (接続できません)")));

    // Deleting keeps No as the answer Enter gives.
    msg.answers = {false};
    form->tbDeleteSiteClick();
    EXPECT_EQ(msg.questionDefaults.value(1), false);
}
