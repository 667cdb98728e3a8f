#pragma once
// The web view frame: wraps the embedded web view for the comment window, keeps the state of the
// navigation under way (the toolbar shows it, the waits use it), treats navigation errors by HTTP
// status, writes the view's status text into a status bar and gives callers the shown page's URL,
// source, selection and title. Every wait is a polling loop of 10 ms steps that processes events,
// so commands and view events run inside it and the state coordinates them.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "browser/web_view.h"

class QEvent;
class QStatusBar;

namespace hanabira {

class TfrBrowserBase : public QWidget, private WebViewEvents {
    Q_OBJECT
public:
    // Makes the view when InitBrowser runs. The program's default builds the real view; tests
    // install a fake before they create a frame.
    using ViewFactory = std::function<std::unique_ptr<WebView>(QWidget* parent)>;
    static ViewFactory& DefaultViewFactory();

    explicit TfrBrowserBase(QWidget* parent = nullptr);
    ~TfrBrowserBase() override;

    void InitBrowser(QWidget* host);
    void DoneBrowser();
    // Texts are Shift_JIS.
    bool OpenURL(const std::string& url, bool wait);
    bool WaitForComplete(int steps);
    void LoadHTML(const std::string& html);
    std::string GetLocationURL() const;
    std::string GetHTMLSource();
    std::string GetSelectionText() const;
    std::string GetDocumentTitle();
    // For every event of the application: keys aimed at the page go to the page (handled := true)
    // instead of the window's shortcuts. Events for other widgets leave handled as it was.
    void HandleAppMessage(QObject* target, QEvent* event, bool& handled);

    WebView* wbBrowser() const { return view_.get(); }

    // The stop command: stops the view, makes a running wait fail and clears the status bar.
    void Stop();
    // The skip command: a running wait gives up the page and succeeds.
    void Skip();
    // A page is loading: the skip command is offered exactly then.
    bool Busy() const { return state_.phase == LoadPhase::Loading; }
    bool CanGoBack() const { return history_.canGoBack; }
    bool CanGoForward() const { return history_.canGoForward; }

    std::string FTitle;  // the last title the view reported (Shift_JIS)
    QPointer<QStatusBar> FStatusBar;

    // The HTTP status text of a URL, for a failure reported with an error number of the view
    // rather than an HTTP status; empty when none is obtained. Tests replace it.
    std::function<std::string(const std::string& url)> QueryStatus;

    // Set when the program is closing: every wait then ends at once.
    static void SetApplicationTerminating(bool terminating);
    static bool ApplicationTerminating();
    // True while events are processed from inside one of the frames' waits: what runs then runs in
    // the middle of a wait (the automatic check holds back).
    static bool InWait();

    // The view's events, by the names the rest of the program knows them.
    void wbBrowserBeforeNavigate2(const QString& url);
    void wbBrowserNewWindow2();
    void wbBrowserNavigateError(const QString& url, int status, bool& cancel);
    void wbBrowserDocumentComplete(bool topLevel, const QString& url);
    void wbBrowserStatusTextChange(const QString& text);
    void wbBrowserTitleChange(const QString& text);
    void wbBrowserCommandStateChange(int command, bool enabled);
    void wbBrowserWindowClosing();

signals:
    // Busy() or the history changed.
    void StateChanged();
    // The address of the page now shown, or the text a caller opened when it was blank.
    void AddressChanged(const QString& url);

private:
    // How far the last navigation has got.
    enum class LoadPhase {
        Idle,       // nothing loaded yet
        Loading,    // a navigation, or LoadHTML's wait for the view, is under way
        Completed,  // the top-level document completed, or the navigation counts as complete
        Ended,      // ended before completing: a cancelled error, a stop, or a wait that gave up
    };
    // The phase, and the two requests a running wait picks up. They outlive the phase on purpose:
    // a skip left by a cancelled error still shows as "[*]" while nothing loads, and a stop still
    // cuts short a status query asked after it.
    struct NavigationState {
        LoadPhase phase = LoadPhase::Idle;
        bool stopRequested = false;  // the running wait ends with failure
        bool skipRequested = false;  // the running wait gives up the page and ends with success
    };
    // History availability as the view last reported it; apart from the load, which never changes it.
    struct History {
        bool canGoBack = false;
        bool canGoForward = false;
    };

    // The one place the state changes; tells the toolbar when Busy() changed.
    void SetState(NavigationState next);
    // A load under way ends in the given phase; any other phase stays.
    void EndLoading(LoadPhase phase);

    void BeforeNavigate(const QString& url) override { wbBrowserBeforeNavigate2(url); }
    void NewWindow() override { wbBrowserNewWindow2(); }
    void NavigateError(const QString& url, int status, bool& cancel) override {
        wbBrowserNavigateError(url, status, cancel);
    }
    void DocumentComplete(bool topLevel, const QString& url) override { wbBrowserDocumentComplete(topLevel, url); }
    void StatusTextChange(const QString& text) override { wbBrowserStatusTextChange(text); }
    void TitleChange(const QString& title) override { wbBrowserTitleChange(title); }
    void CommandStateChange(int command, bool enabled) override { wbBrowserCommandStateChange(command, enabled); }
    void WindowClosing() override { wbBrowserWindowClosing(); }

    void SetStatusText(const QString& text);
    // One polling step: sleep 10 ms, then process pending events. False when this frame was
    // destroyed meanwhile.
    bool PollStep();
    bool ProcessEventsOnce();

    NavigationState state_;
    History history_;
    std::unique_ptr<WebView> view_;
    QPointer<QWidget> host_;
    bool hostCaption_ = false;
    QString hostCaptionDefault_;
};

// The status text shown for a text the view reports (Shift_JIS in and out): a link to a file with
// the extension ".hanabira" reads "スクリプト実行：[host/path/file]"; anything else is unchanged.
std::string ShownStatusText(const std::string& reported);
// The prefix of status texts: "[*+]" for skip requested and busy, "[*]", "[+]" or empty.
std::string StatusPrefix(bool skipRequested, bool busy);

}  // namespace hanabira
