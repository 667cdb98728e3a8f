// The web view frame and the browser toolbar over a fake view whose events the tests fire by hand.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QStatusBar>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include "browser/browser_toolbar.h"
#include "browser/page_tools.h"
#include "browser/qt_web_view.h"
#include "browser/web_view_frame.h"
#include "fake_web_view.h"
#include "gui_test_support.h"
#include "http_test_server.h"
#include "support/codepage.h"
#include "support/qt_text.h"
#include "test_support.h"

using hanabira::TfrBrowserBase;
using hanabira::TfrBrowserNavi;
using testing_support::FakeWebView;
using testing_support::S;

namespace {

// A host window with the frame, its status bar and (optionally) the toolbar, as the comment window
// builds them.
struct Browser {
    explicit Browser(bool withToolbar = true) {
        // A main window closed by an earlier test of this process marked the program as ending.
        TfrBrowserBase::SetApplicationTerminating(false);
        host.setWindowTitle("host");
        frame = new TfrBrowserBase(&host);
        host.setCentralWidget(frame);
        frame->InitBrowser(&host);
        frame->FStatusBar = host.statusBar();
        view = FakeWebView::Last();
        if (withToolbar) {
            navi = new TfrBrowserNavi(&host);
            navi->AttachBrowser(frame);
        }
        view->calls.clear();
    }
    QString Status() const { return host.statusBar()->currentMessage(); }
    bool SkipEnabled() const { return navi->Action("acSkipLoop")->isEnabled(); }
    // The mark the next status text gets: "[*+]", "[*]", "[+]" or nothing.
    std::string Mark() {
        view->FireStatusText("x");
        QString shown = Status();
        shown.chop(1);
        return shown.toStdString();
    }
    // Whether the shown page counts as complete: a wait on it then succeeds at once. The wait
    // clears pending requests, so this is the last look at a state.
    bool CountsAsComplete() { return frame->WaitForComplete(0); }

    QMainWindow host;
    TfrBrowserBase* frame;
    TfrBrowserNavi* navi = nullptr;
    FakeWebView* view;
};

}  // namespace

TEST(WebViewFrame, InitShowsBlankAndAttachingLeavesNothingBusy) {
    Browser b;
    EXPECT_EQ(b.view->location, "about:blank");
    EXPECT_EQ(b.navi->LinkStr, hanabira::DefaultLinkTemplate());
    EXPECT_FALSE(b.SkipEnabled());
    EXPECT_FALSE(b.navi->Action("tbGoBack")->isEnabled());
    EXPECT_FALSE(b.navi->Action("tbGoForward")->isEnabled());
    EXPECT_EQ(b.Mark(), "");
    EXPECT_TRUE(b.CountsAsComplete());
}

TEST(WebViewFrame, StatusMarkAndSkipFollowEachEvent) {
    Browser b;
    TfrBrowserBase& f = *b.frame;

    EXPECT_TRUE(f.OpenURL("  http://a.example/  ", false));
    EXPECT_EQ(b.view->calls.last(), "Navigate   http://a.example/  ");  // the untrimmed text
    EXPECT_EQ(b.Mark(), "[+]") << "open";
    EXPECT_TRUE(b.SkipEnabled());

    b.navi->acSkipLoopExecute();
    EXPECT_EQ(b.Mark(), "[*+]") << "skip pressed while the page loads";
    b.view->FireBeforeNavigate("http://a.example/next");
    EXPECT_EQ(b.Mark(), "[+]") << "before-navigate clears skip";

    b.navi->acSkipLoopExecute();
    b.view->FireDocumentComplete(false, "http://a.example/frame");
    EXPECT_EQ(b.Mark(), "[*+]") << "frame completion changes nothing";
    EXPECT_TRUE(b.SkipEnabled());
    b.view->FireDocumentComplete(true, "http://a.example/");
    EXPECT_EQ(b.Status(), "") << "top-level completion";
    EXPECT_EQ(b.Mark(), "");
    EXPECT_EQ(b.navi->AddressText(), "http://a.example/");
    EXPECT_FALSE(b.SkipEnabled());
    b.view->FireBeforeNavigate("about:blank");
    EXPECT_EQ(b.Mark(), "") << "about:blank does not count as a navigation";
    EXPECT_FALSE(b.SkipEnabled());

    b.navi->acSkipLoopExecute();
    EXPECT_EQ(b.Mark(), "[*]") << "skip with nothing loading";
    b.view->FireBeforeNavigate("http://a.example/2");
    EXPECT_TRUE(b.SkipEnabled());
    b.navi->tbStopClick();
    EXPECT_EQ(b.view->calls.last(), "Stop");
    EXPECT_EQ(b.Status(), "") << "toolbar stop clears the status bar";
    EXPECT_EQ(b.Mark(), "");
    EXPECT_FALSE(b.SkipEnabled());

    b.navi->acSkipLoopExecute();
    f.DoneBrowser();
    EXPECT_EQ(b.view->calls.last(), "Stop");
    EXPECT_EQ(b.Mark(), "") << "closing stops as the toolbar does, which clears skip again";
}

TEST(WebViewFrame, EmptyAddressNavigatesNothingAndCountsAsComplete) {
    Browser b;
    b.frame->OpenURL("http://a.example/", false);
    b.view->calls.clear();
    EXPECT_TRUE(b.frame->OpenURL(S("　 "), false));
    EXPECT_TRUE(b.view->calls.isEmpty());
    EXPECT_EQ(b.navi->AddressText(), S("　 "));
    EXPECT_FALSE(b.SkipEnabled());
    EXPECT_EQ(b.Mark(), "");
    EXPECT_TRUE(b.CountsAsComplete());
}

TEST(WebViewFrame, NavigationErrorsByStatus) {
    struct Case {
        int status;
        std::string queried;  // what the status query answers for a non-HTTP error number
        bool cancelled;
        std::string mark;  // what the status texts show afterwards: still loading, or given up
        bool complete;
    };
    const Case cases[] = {
        {404, "", false, "", true},         {200, "", false, "[+]", false},  {500, "", true, "[*]", false},
        {401, "", true, "[*]", false},      {-105, "200", false, "[+]", false}, {-105, "404", false, "[+]", false},
        {-102, "", true, "[*]", false},     {-7, "503", true, "[*]", false},
    };
    for (const Case& c : cases) {
        Browser b;
        std::string asked;
        b.frame->QueryStatus = [&](const std::string& url) {
            asked = url;
            return c.queried;
        };
        b.frame->OpenURL("http://a.example/x", false);
        b.view->calls.clear();
        const bool cancelled = b.view->FireNavigateError("http://a.example/x", c.status);
        const std::string label = "status " + std::to_string(c.status);
        EXPECT_EQ(cancelled, c.cancelled) << label;
        EXPECT_EQ(b.view->calls.contains("Stop"), c.cancelled) << label;
        EXPECT_EQ(asked.empty(), std::to_string(c.status).size() == 3) << label << ": queried only for error numbers";
        EXPECT_EQ(b.Mark(), c.mark) << label;
        EXPECT_EQ(b.SkipEnabled(), c.mark == "[+]") << label;
        EXPECT_EQ(b.CountsAsComplete(), c.complete) << label;
    }
}

TEST(WebViewFrame, AskingAServerThatStallsKeepsTheWindowAliveAndStops) {
    testing_support::HttpTestServer server([](testing_support::HttpTestServer& s) {
        s.Get("/stall", [&s](const httplib::Request&, httplib::Response& res) {
            s.Pause(20000);
            res.set_content("late", "text/html");
        });
        s.Get("/fine", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/html"); });
    });
    Browser b;  // the frame's own status query, not a replacement
    b.frame->OpenURL(server.Url("/fine"), false);
    EXPECT_FALSE(b.view->FireNavigateError(QString::fromStdString(server.Url("/fine")), -3)) << "the server answers 200: let through";

    b.frame->OpenURL(server.Url("/stall"), false);
    int ticks = 0;
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, [&] { ++ticks; });
    painter.start(50);
    QTimer::singleShot(600, [&] { b.navi->tbStopClick(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(b.view->FireNavigateError(QString::fromStdString(server.Url("/stall")), -118));
    EXPECT_LT(clock.elapsed(), 5000) << "the stop ended the question";
    EXPECT_GE(ticks, 5) << "events were processed meanwhile";
}

TEST(WebViewFrame, StatusTextCarriesTheNavigationFlags) {
    Browser b;
    b.view->FireStatusText("http://a.example/");
    EXPECT_EQ(b.Status(), "http://a.example/");
    b.frame->OpenURL("http://a.example/", false);
    b.view->FireStatusText("http://a.example/link");
    EXPECT_EQ(b.Status(), "[+]http://a.example/link");
    b.frame->QueryStatus = [](const std::string&) { return std::string(); };
    b.view->FireNavigateError("http://a.example/", 500);
    EXPECT_EQ(b.Status(), "[*]") << "a load ended by an error shows it at once";
    b.view->FireStatusText("http://a.example/link");
    EXPECT_EQ(b.Status(), "[*]http://a.example/link") << "the asterisk stays until the next navigation";
    b.view->FireBeforeNavigate("http://b.example/");
    b.view->FireStatusText("x");
    EXPECT_EQ(b.Status(), "[+]x");
    b.navi->acSkipLoopExecute();
    b.view->FireStatusText("x");
    EXPECT_EQ(b.Status(), "[*+]x");
    b.view->FireDocumentComplete(true, "http://b.example/");
    EXPECT_EQ(b.Status(), "") << "completion clears the status bar";
}

TEST(WebViewFrame, ScriptFileLinksReadAsScriptRuns) {
    struct Case {
        std::string reported, shown;
    };
    const std::string run = S("スクリプト実行：[");
    const Case cases[] = {
        {"http://a.example/tools/go.hanabira", run + "a.example/tools/go.hanabira]"},
        {"http://a.example/go.hanabira/", run + "a.example/go.hanabira/]"},
        {"http://a.example/go.hanabira[1]", "http://a.example/go.hanabira[1]"},
        {"http://a.example/x[1]/go.hanabira", run + "a.example/x]"},
        {"http://a.example/go.Hanabira", "http://a.example/go.Hanabira"},
        {"http://a.example/go.hanabira.html", "http://a.example/go.hanabira.html"},
        {"c:\\dir.hanabira\\x", "c:\\dir.hanabira\\x"},
        {"http://a.example/" + S("ソ") + ".hanabira", run + "a.example/" + S("ソ") + ".hanabira]"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(hanabira::ShownStatusText(c.reported), c.shown) << c.reported;
}

TEST(WebViewFrame, CaptionTakesTheTitleOfTheLastCompletedPage) {
    Browser b;
    b.frame->OpenURL("http://a.example/", false);
    b.view->FireTitle(QString::fromUtf8("花びら日記"));
    EXPECT_EQ(b.host.windowTitle(), "host") << "not while the page loads";
    b.view->FireDocumentComplete(true, "http://a.example/");
    EXPECT_EQ(b.host.windowTitle(), QString::fromUtf8("花びら日記"));
    b.view->FireTitle("next");
    b.view->FireDocumentComplete(false, "http://a.example/frame");
    EXPECT_EQ(b.host.windowTitle(), QString::fromUtf8("花びら日記")) << "frames do not change the caption";
    b.view->FireTitle("");
    b.view->FireDocumentComplete(true, "http://a.example/untitled");
    EXPECT_EQ(b.host.windowTitle(), "host") << "a page without a title shows the window's own caption";
}

TEST(WebViewFrame, HistoryStateEnablesTheButtons) {
    Browser b;
    b.view->FireCommandState(hanabira::kCommandBack, true);
    EXPECT_TRUE(b.navi->Action("tbGoBack")->isEnabled());
    EXPECT_FALSE(b.navi->Action("tbGoForward")->isEnabled());
    b.frame->OpenURL("http://a.example/", false);
    b.navi->tbStopClick();
    EXPECT_TRUE(b.navi->Action("tbGoBack")->isEnabled()) << "loads and stops leave the history alone";
    b.view->FireCommandState(hanabira::kCommandForward, true);
    b.view->FireCommandState(3, false);
    EXPECT_TRUE(b.navi->Action("tbGoForward")->isEnabled());
    b.view->FireCommandState(hanabira::kCommandBack, false);
    EXPECT_FALSE(b.navi->Action("tbGoBack")->isEnabled());
}

TEST(WebViewFrame, PageClosingItsWindowLeavesABlankView) {
    Browser b;
    b.view->completeBlankAtOnce = false;
    b.view->FireWindowClosing();
    EXPECT_EQ(b.view->calls.last(), "Navigate about:blank");
}

TEST(WebViewFrame, WaitsEndByCompletionSkipStopOrTheStepLimit) {
    struct Case {
        const char* name;
        std::function<void(Browser&)> during;  // runs inside the wait
        bool result;
    };
    const Case cases[] = {
        {"completion", [](Browser& b) { b.view->FireDocumentComplete(true, "http://a.example/"); }, true},
        {"skip", [](Browser& b) { b.navi->acSkipLoopExecute(); }, true},
        {"stop", [](Browser& b) { b.navi->tbStopClick(); }, false},
        {"a cancelled error gives the page up", [](Browser& b) { b.view->FireNavigateError("http://a.example/", 500); },
         true},
        {"nothing", [](Browser&) {}, false},
    };
    for (const Case& c : cases) {
        Browser b;
        b.frame->OpenURL("http://a.example/", false);
        QTimer::singleShot(30, [&] { c.during(b); });
        const bool result = b.frame->WaitForComplete(20);
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_FALSE(b.SkipEnabled()) << c.name;
        EXPECT_EQ(b.Mark(), "") << c.name;
    }
}

TEST(WebViewFrame, ASecondOpenEndsTheFirstWait) {
    Browser b;
    bool secondDone = false;
    QTimer::singleShot(30, [&] {
        b.frame->OpenURL("http://b.example/", false);
        secondDone = true;
        b.view->FireDocumentComplete(true, "http://b.example/");
    });
    // The first page never completes; the wait ends with the page that replaced it.
    const bool first = b.frame->OpenURL("http://a.example/", true);
    EXPECT_TRUE(secondDone);
    EXPECT_TRUE(first);
    EXPECT_EQ(b.frame->GetLocationURL(), "http://b.example/");
    EXPECT_EQ(b.view->calls.filter("Navigate").last(), "Navigate http://b.example/");
}

TEST(WebViewFrame, PageSourceTitleSelectionAndShownHtml) {
    Browser b;
    b.view->location = "http://a.example/";
    b.view->html = QString::fromUtf8("<head><title> 花 </title></head><body>x</body>");
    EXPECT_EQ(b.frame->GetHTMLSource(), S("<head><title> 花 </title></head><body>x</body>"));
    EXPECT_EQ(b.frame->GetDocumentTitle(), S("花"));
    b.view->html.reset();
    EXPECT_EQ(b.frame->GetHTMLSource(), "") << "an unavailable document reads as empty";
    EXPECT_EQ(b.frame->GetDocumentTitle(), "");
    b.view->selection = QString::fromUtf8("選択");
    EXPECT_EQ(b.frame->GetSelectionText(), S("選択"));

    b.frame->LoadHTML("<p>a\nb</p>");
    EXPECT_EQ(b.view->loadedHtml, "<p>a\r\nb</p>\r\n");
    EXPECT_EQ(b.frame->GetLocationURL(), "http://a.example/") << "the shown URL stays";
    EXPECT_FALSE(b.SkipEnabled());
    EXPECT_TRUE(b.CountsAsComplete()) << "the page shown before still counts as complete";
}

TEST(WebViewFrame, KeysForThePageAreTakenOnlyInsideTheView) {
    Browser b;
    QKeyEvent key(QEvent::ShortcutOverride, Qt::Key_Tab, Qt::NoModifier);
    bool handled = false;
    b.frame->HandleAppMessage(b.navi->AddressBox(), &key, handled);
    EXPECT_FALSE(handled) << "the address box is not inside the view";
    b.frame->HandleAppMessage(b.view->Widget(), &key, handled);
    EXPECT_TRUE(handled);
    b.view->pageKeys = false;
    b.frame->HandleAppMessage(b.view->Widget(), &key, handled);
    EXPECT_FALSE(handled);
}

TEST(WebViewFrame, PageKeysAreTypingEditingAndClipboardKeys) {
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        bool page;
    };
    const Case cases[] = {
        {Qt::Key_A, Qt::NoModifier, true},       {Qt::Key_Tab, Qt::NoModifier, true},
        {Qt::Key_Return, Qt::NoModifier, true},  {Qt::Key_Delete, Qt::NoModifier, true},
        {Qt::Key_Left, Qt::ShiftModifier, true}, {Qt::Key_C, Qt::ControlModifier, true},
        {Qt::Key_V, Qt::ControlModifier, true},  {Qt::Key_A, Qt::ControlModifier, true},
        {Qt::Key_Z, Qt::ControlModifier, true},  {Qt::Key_L, Qt::ControlModifier, false},
        {Qt::Key_Left, Qt::AltModifier, false},  {Qt::Key_F5, Qt::NoModifier, false},
        {Qt::Key_F5, Qt::ControlModifier, false},
    };
    for (const Case& c : cases) {
        QKeyEvent e(QEvent::ShortcutOverride, c.key, c.mods);
        EXPECT_EQ(hanabira::IsPageKey(&e), c.page) << c.key << " " << c.mods;
    }
}

// ---- toolbar commands ----

TEST(BrowserToolbar, AddressBoxOpensTheTrimmedUrlOrBlank) {
    Browser b;
    b.navi->AddressBox()->setText("  http://a.example/p  ");
    emit b.navi->AddressBox()->returnPressed();
    EXPECT_EQ(b.view->calls.last(), "Navigate http://a.example/p");
    b.view->FireDocumentComplete(true, "http://a.example/p");
    b.view->calls.clear();
    b.navi->AddressBox()->setText(QString::fromUtf8("　"));
    b.navi->tbGoURLClick();
    EXPECT_EQ(b.view->calls, QStringList{"Navigate about:blank"});
}

TEST(BrowserToolbar, SkipIsEnabledExactlyWhileBusy) {
    Browser b;
    b.frame->OpenURL("http://a.example/", false);
    EXPECT_TRUE(b.SkipEnabled());
    b.view->FireDocumentComplete(true, "http://a.example/");
    EXPECT_FALSE(b.SkipEnabled());
    b.view->FireBeforeNavigate("http://a.example/2");
    EXPECT_TRUE(b.SkipEnabled());
    b.navi->tbStopClick();
    EXPECT_FALSE(b.SkipEnabled()) << "the button follows the frame without being asked";
}

TEST(BrowserToolbar, JumpsFromClipboardAndSelectionRefuseScriptUrls) {
    testing_support::MessageScope scope;
    Browser b;
    QClipboard* clip = QGuiApplication::clipboard();

    b.view->selection = "   ";
    b.navi->URLS1Click();
    EXPECT_EQ(scope.messages->errors, QStringList{QString::fromUtf8("選択部分がありません")});
    EXPECT_TRUE(b.view->calls.isEmpty());

    for (const char* hostile : {"javascript:alert(1)", " JavaScript:alert(1)", "java\tscript:x", "data:text/html,<b>",
                                "vbscript:x"}) {
        scope.messages->errors.clear();
        b.view->selection = hostile;
        b.navi->URLS1Click();
        clip->setText(hostile);
        b.navi->URLC1Click();
        EXPECT_EQ(scope.messages->errors.size(), 2) << hostile;
        EXPECT_TRUE(b.view->calls.isEmpty()) << hostile;
    }

    b.view->selection = " http://b.example/sel ";
    b.navi->URLS1Click();
    EXPECT_EQ(b.view->calls, (QStringList{"Stop", "Navigate http://b.example/sel"}));
    b.view->calls.clear();
    clip->setText("http://c.example/clip");
    b.navi->URLC1Click();
    EXPECT_EQ(b.navi->AddressBox()->text(), "http://c.example/clip");
    EXPECT_EQ(b.view->calls.last(), "Navigate http://c.example/clip");
}

TEST(BrowserToolbar, LinkTagsTakeSelectionOrTitleAndTheEditableTemplate) {
    testing_support::MessageScope scope;
    Browser b;
    QClipboard* clip = QGuiApplication::clipboard();
    b.view->location = "http://a.example/p";
    b.view->html = QString::fromUtf8("<head><title>題名</title></head>");

    b.view->selection = "  ";
    b.navi->ToolButton3Click();
    EXPECT_EQ(clip->text(), QString::fromUtf8("<a href=\"http://a.example/p\" target=\"_blank\">題名</a>"));
    b.view->selection = QString::fromUtf8(" 選択 ");
    b.navi->ToolButton3Click();
    EXPECT_EQ(clip->text(), QString::fromUtf8("<a href=\"http://a.example/p\" target=\"_blank\">選択</a>"));

    clip->setText("unchanged");
    b.navi->T1Click();  // cancelled
    EXPECT_EQ(clip->text(), "unchanged");
    scope.messages->inputAnswers.push_back(QString::fromUtf8(" 自分で "));
    b.navi->T1Click();
    EXPECT_EQ(clip->text(), QString::fromUtf8("<a href=\"http://a.example/p\" target=\"_blank\">自分で</a>"));

    scope.messages->inputAnswers.push_back(QString());
    b.navi->N1Click();
    EXPECT_EQ(b.navi->LinkStr, hanabira::DefaultLinkTemplate()) << "an empty template is not taken";
    scope.messages->inputAnswers.push_back(QString("[{$TEXT}]({$URL})"));
    b.navi->N1Click();
    b.navi->ToolButton3Click();
    EXPECT_EQ(clip->text(), QString::fromUtf8("[選択](http://a.example/p)"));
    EXPECT_EQ(scope.messages->inputs.first(),
              QString::fromUtf8("リンクテキストの入力|リンクテキストを入力してください"));
}

TEST(BrowserToolbar, LinkListKeywordsApplyOnlyWhileTheirKeyIsHeld) {
    testing_support::MessageScope scope;
    Browser b;
    QClipboard* clip = QGuiApplication::clipboard();
    b.view->location = "http://a.example/";
    b.view->html = QString::fromUtf8("<a href=\"/one\">一つ</a><a href=\"/two\">二つ</a>");
    Qt::KeyboardModifiers held = Qt::ShiftModifier;
    b.navi->KeyboardModifiers = [&] { return held; };

    scope.messages->inputAnswers.push_back(QString::fromUtf8("二"));
    b.navi->I1Click(1);
    EXPECT_EQ(scope.messages->inputs.last(),
              QString::fromUtf8("検索抽出語を設定(アンカーテキスト)|キーワードを入力してください"));
    EXPECT_FALSE(clip->text().contains("/one"));
    EXPECT_TRUE(clip->text().contains("http://a.example/two"));
    EXPECT_EQ(b.navi->TextKeyword(), S("二"));

    held = Qt::NoModifier;
    b.navi->I1Click(1);
    EXPECT_TRUE(clip->text().contains("/one")) << "without Shift the keyword filters nothing";
    EXPECT_EQ(b.navi->TextKeyword(), S("二")) << "but it is kept for next time";

    held = Qt::ControlModifier;
    b.navi->I1Click(0);  // cancelled: the URL keyword stays empty
    EXPECT_EQ(scope.messages->inputs.last(), QString::fromUtf8("検索抽出語を設定(URL)|キーワードを入力してください"));
    EXPECT_TRUE(b.view->loadedHtml.contains("/one"));
    EXPECT_TRUE(b.view->loadedHtml.contains("/two"));
    EXPECT_EQ(b.frame->GetLocationURL(), "http://a.example/");
}

TEST(BrowserToolbar, CopiesAndSearchChecks) {
    Browser b;
    QClipboard* clip = QGuiApplication::clipboard();
    b.view->location = "http://a.example/p?q=1";
    b.view->html = "<body>x</body>";
    b.view->selection = " sel ";
    b.navi->tbGetHTMLSourceClick();
    EXPECT_EQ(clip->text(), "<body>x</body>");
    b.navi->ToolButton5Click();
    EXPECT_EQ(clip->text(), " sel ") << "the selection is copied untrimmed";
    b.navi->tbGetURLClick();
    EXPECT_EQ(clip->text(), "http://a.example/p?q=1");
    clip->setText("<b>clip</b>");
    b.navi->HTML1Click();
    EXPECT_EQ(b.view->loadedHtml, "<b>clip</b>\r\n");

    for (int tag = 0; tag <= 5; ++tag) {
        b.view->calls.clear();
        b.navi->BingB1Click(tag);
        EXPECT_EQ(b.view->calls.last(),
                  "Navigate " + QString::fromStdString(hanabira::SearchRequestURL(tag, "http://a.example/p?q=1")));
    }
    EXPECT_TRUE(b.view->calls.last().endsWith("link%3Ahttp://a.example/p?q=1"));
}

TEST(BrowserToolbar, HistoryAndHomeGoToTheView) {
    Browser b;
    b.navi->tbGoBackClick();
    b.navi->tbGoForwardClick();
    b.navi->tbRetryClick();
    b.navi->tbHomeClick();
    EXPECT_EQ(b.view->calls, (QStringList{"GoBack", "GoForward", "Refresh", "GoHome"}));
    EXPECT_FALSE(b.SkipEnabled()) << "nothing counts as loading";
    EXPECT_EQ(b.Mark(), "");
}

TEST(BrowserToolbar, ScriptUrlsAreRecognisedAsBrowsersReadThem) {
    for (const char* url : {"javascript:x", "JAVASCRIPT:x", "  javascript:x", "\x01javascript:x", "java\nscript:x",
                            "data:,x", "vbscript:x"})
        EXPECT_TRUE(hanabira::IsScriptUrl(url)) << url;
    for (const char* url : {"http://a.example/javascript:x", "https://x", "about:blank", "javascripts:x", "", "x"})
        EXPECT_FALSE(hanabira::IsScriptUrl(url)) << url;
}
