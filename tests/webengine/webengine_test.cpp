// The comment window with the real QtWebEngine view, against pages served on 127.0.0.1.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QStatusBar>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <functional>

#include "browser/browser_toolbar.h"
#include "browser/comment_window.h"
#include "browser/qt_web_view.h"
#include "browser/web_view_frame.h"
#include "gui/gui_test_support.h"
#include "http_test_server.h"
#include "support/qt_text.h"
#include "test_support.h"

using hanabira::TfrBrowserBase;
using hanabira::TForm3;
using testing_support::HttpTestServer;
using testing_support::S;
using testing_support::WaitUntil;

namespace {

void Page(httplib::Response& res, const std::string& utf8, const char* type = "text/html; charset=Shift_JIS",
          int status = 200) {
    res.status = status;
    const bool sjis = std::string(type).find("Shift_JIS") != std::string::npos;
    res.set_content(sjis ? testing_support::Iconv(utf8, "UTF-8", "CP932") : utf8, type);
}

class WebEngineBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        TfrBrowserBase::SetApplicationTerminating(false);
        form = std::make_unique<TForm3>();
        form->show();
        frame = form->Browser();
    }
    void TearDown() override { form.reset(); }

    // The wait the toolbar's attachment makes: true once the page completed.
    bool Loaded() { return frame->WaitForComplete(3000); }
    QString Status() const { return form->statusBar()->currentMessage(); }
    QWebEnginePage* EnginePage() {
        return static_cast<hanabira::QtWebView*>(frame->wbBrowser())->EngineView()->page();
    }

    testing_support::MessageScope messages;
    std::unique_ptr<TForm3> form;
    TfrBrowserBase* frame = nullptr;
};

}  // namespace

TEST_F(WebEngineBrowser, ShiftJisPageShowsWithTitleAndItsLinkList) {
    HttpTestServer server([](HttpTestServer& s) {
        s.Get("/blog", [&s](const httplib::Request&, httplib::Response& res) {
            s.Pause(300);  // long enough to see the page loading
            Page(res, "<html><head><title>花びら日記</title></head><body><p>今日の記事</p>"
                      "<a href=\"/entry/1\">一番目の記事</a> <a href=\"http://b.example/\">友達</a></body></html>");
        });
    });
    form->OpenURL(server.Url("/blog"));
    QAction* skip = form->Navi()->Action("acSkipLoop");
    EXPECT_TRUE(skip->isEnabled()) << "skip is offered while the page loads";
    ASSERT_TRUE(Loaded());
    EXPECT_FALSE(skip->isEnabled());
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("花びら日記"));
    EXPECT_EQ(form->Navi()->AddressText(), server.Url("/blog"));
    EXPECT_NE(frame->GetHTMLSource().find(S("今日の記事")), std::string::npos);
    EXPECT_EQ(frame->GetDocumentTitle(), S("花びら日記"));

    form->Navi()->I1Click(0);
    ASSERT_TRUE(WaitUntil([&] { return frame->GetHTMLSource().find("textarea") != std::string::npos; }));
    const std::string list = frame->GetHTMLSource();
    EXPECT_NE(list.find(server.Url("/entry/1") + "\t" + S("一番目の記事")), std::string::npos) << list;
    EXPECT_NE(list.find(S("友達")), std::string::npos);
    EXPECT_EQ(frame->GetLocationURL(), server.Url("/blog")) << "the list is shown at the page's address";
}

// Chromium gives an untitled page its address as the title; the caption must not show it.
TEST_F(WebEngineBrowser, UntitledPagesKeepTheWindowsOwnCaption) {
    HttpTestServer server([](HttpTestServer& s) {
        s.Get("/titled", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><head><title>花びら日記</title></head><body><a href=\"/a\">a</a></body></html>");
        });
        s.Get("/blog1/", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><body><a href=\"/entry\">記事</a></body></html>");
        });
    });
    const QString own = QString::fromUtf8("簡易ブラウザ");
    const QString titled = QString::fromUtf8("花びら日記");
    QGuiApplication::clipboard()->setText("<p>clipboard</p>");
    const struct {
        const char* what;
        std::function<void()> open;
    } untitled[] = {
        {"an untitled page", [&] { form->OpenURL(server.Url("/blog1/")); }},
        {"the link list of a titled page", [&] { form->Navi()->I1Click(0); }},
        {"the clipboard shown as HTML", [&] { form->Navi()->HTML1Click(); }},
        {"the blank page", [&] { form->OpenURL("about:blank"); }},
    };
    for (const auto& c : untitled) {
        form->OpenURL(server.Url("/titled"));
        ASSERT_TRUE(WaitUntil([&] { return form->windowTitle() == titled; })) << c.what;
        c.open();
        EXPECT_TRUE(WaitUntil([&] { return form->windowTitle() == own; }, 10000))
            << c.what << ": " << form->windowTitle().toStdString();
        EXPECT_EQ(frame->FTitle, "") << c.what;
    }
}

TEST_F(WebEngineBrowser, PagesWithoutAnEncodingRenderAsTheyWereWritten) {
    const std::string sjisPage = testing_support::ReadData("feeds/SHIFT_JIS/_chromium_Shift-JIS_with_no_encoding_specified.html");
    HttpTestServer server([&](HttpTestServer& s) {
        s.Get("/sjis", [&](const httplib::Request&, httplib::Response& res) { res.set_content(sjisPage, "text/html"); });
        s.Get("/utf8", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><head><title>無題</title></head><body><p>これはUTF-8で書かれたページです。</p></body></html>",
                 "text/html");
        });
    });
    form->OpenURL(server.Url("/sjis"));
    ASSERT_TRUE(Loaded());
    EXPECT_NE(frame->GetHTMLSource().find(S("衆院議院運営委員会")), std::string::npos);
    form->OpenURL(server.Url("/utf8"));
    ASSERT_TRUE(Loaded());
    EXPECT_NE(frame->GetHTMLSource().find(S("これはUTF-8で書かれたページです。")), std::string::npos);
}

TEST_F(WebEngineBrowser, NotFoundIsShownAndCompleteServerErrorIsNot) {
    HttpTestServer server([](HttpTestServer& s) {
        s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><body>ページがありません</body></html>", "text/html; charset=Shift_JIS", 404);
        });
        s.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><body>internal failure details</body></html>", "text/html", 500);
        });
    });
    EXPECT_TRUE(frame->OpenURL(server.Url("/missing"), true));
    frame->wbBrowserStatusTextChange("http://x/");
    EXPECT_EQ(Status(), "http://x/") << "complete: neither loading nor given up";
    EXPECT_NE(frame->GetHTMLSource().find(S("ページがありません")), std::string::npos);

    frame->OpenURL(server.Url("/broken"), false);
    ASSERT_TRUE(WaitUntil([&] { return Status() == "[*]"; })) << "given up, shown at once";
    EXPECT_FALSE(form->Navi()->Action("acSkipLoop")->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return frame->GetHTMLSource().find("internal failure") == std::string::npos; }, 5000))
        << "the error body is not left on show";
    frame->wbBrowserStatusTextChange("http://x/");
    EXPECT_EQ(Status(), "[*]http://x/");
}

TEST_F(WebEngineBrowser, PageThatClosesItsWindowLeavesABlankView) {
    HttpTestServer server([](HttpTestServer& s) {
        s.Get("/close", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><body>bye<script>setTimeout(function(){ window.close(); }, 100);</script></body></html>",
                 "text/html");
        });
    });
    form->OpenURL(server.Url("/close"));
    ASSERT_TRUE(Loaded());
    ASSERT_TRUE(WaitUntil([&] { return frame->GetLocationURL() == "about:blank"; }));
    // The view still works afterwards.
    EXPECT_TRUE(frame->OpenURL(server.Url("/close"), true));
}

TEST_F(WebEngineBrowser, NewWindowLinkOpensASeparateWindowAndTheFrameKeepsItsPage) {
    HttpTestServer server([](HttpTestServer& s) {
        s.Get("/list", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><body><a id=\"out\" href=\"/other\" target=\"_blank\">other</a></body></html>", "text/html");
        });
        s.Get("/other", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><head><title>other page</title></head><body>other</body></html>", "text/html");
        });
    });
    form->OpenURL(server.Url("/list"));
    ASSERT_TRUE(Loaded());
    EnginePage()->runJavaScript("document.getElementById('out').click();");
    QWidget* popup = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "BrowserPopupWindow" && w->windowTitle() == "other page") popup = w;
        return popup != nullptr;
    }));
    EXPECT_EQ(frame->GetLocationURL(), server.Url("/list"));
    popup->close();  // the user can close it
}

TEST_F(WebEngineBrowser, PageDialogsAreAskedThroughTheProgramsMessageBoxes) {
    messages.messages->answers = {false};
    HttpTestServer server([](HttpTestServer& s) {
        s.Get("/dialogs", [](const httplib::Request&, httplib::Response& res) {
            Page(res, "<html><head><title>t</title></head><body><script>alert('投稿しました');"
                      "document.title = confirm('送信しますか？') ? 'yes' : 'no';</script></body></html>",
                 "text/html; charset=UTF-8");
        });
    });
    form->OpenURL(server.Url("/dialogs"));
    ASSERT_TRUE(Loaded());
    ASSERT_TRUE(WaitUntil([&] { return frame->FTitle == "no"; }));
    EXPECT_EQ(messages.messages->infos, QStringList{QString::fromUtf8("投稿しました")});
    EXPECT_EQ(messages.messages->questions, QStringList{QString::fromUtf8("送信しますか？")});
}

// One run of the program's browser in a process of its own: opens HANABIRA_TEST_URL with the
// profile in HANABIRA_PROFILE_DIR and writes the page's text to HANABIRA_OUT. Started by the test below.
TEST(WebEngineProfile, DISABLED_OneRun) {
    hanabira::SetBrowserStorageFolder(qEnvironmentVariable("HANABIRA_PROFILE_DIR"));
    TfrBrowserBase::SetApplicationTerminating(false);
    TForm3 form;
    ASSERT_FALSE(hanabira::BrowserProfile()->isOffTheRecord());
    ASSERT_TRUE(form.Browser()->OpenURL(qEnvironmentVariable("HANABIRA_TEST_URL").toStdString(), true));
    testing_support::WriteFileBytes(qEnvironmentVariable("HANABIRA_OUT").toStdString(), form.Browser()->GetHTMLSource());
}

TEST(WebEngineProfile, ALoginSurvivesARestart) {
    testing_support::TempDir dir;
    HttpTestServer server([](HttpTestServer& s) {
        s.Get("/login", [](const httplib::Request&, httplib::Response& res) {
            // A session cookie, as blog services use for a login.
            res.set_header("Set-Cookie", "login=hanako; Path=/");
            res.set_content("<html><body>signed in</body></html>", "text/html");
        });
        s.Get("/whoami", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("<html><body>cookie:" + req.get_header_value("Cookie") + "</body></html>", "text/html");
        });
    });
    auto run = [&](const std::string& path) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HANABIRA_PROFILE_DIR", QString::fromStdString(dir.file("browser")));
        env.insert("HANABIRA_TEST_URL", QString::fromStdString(server.Url(path)));
        env.insert("HANABIRA_OUT", QString::fromStdString(dir.file("out.txt")));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_also_run_disabled_tests", "--gtest_filter=WebEngineProfile.DISABLED_OneRun"});
        EXPECT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
        return testing_support::ReadFileBytes(dir.file("out.txt"));
    };
    EXPECT_NE(run("/login").find("signed in"), std::string::npos);
    EXPECT_NE(run("/whoami").find("cookie:login=hanako"), std::string::npos) << "the second run sends the login";
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Chromium refuses to start as root with its sandbox; only the tests turn it off.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QString::fromUtf8("VUVarovaduro Hanabira 2号"));
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
        hanabira::ReleaseBrowserProfile();  // pages first, then the profile, then the application
    }
    return result;
}
