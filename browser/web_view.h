#pragma once
// The embedded web view as the browser frame sees it: exactly the operations and events the frame
// and its toolbar rely on. The real view (QtWebView) is the only place that knows QtWebEngine; tests
// use a fake whose events they fire by hand. Texts are the view's own (UTF-16); the frame converts.
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QEvent;
class QObject;
class QWidget;

namespace hanabira {

// Commands of the command-state event.
constexpr int kCommandForward = 1;
constexpr int kCommandBack = 2;

// What the view reports. Every call is made on the GUI thread.
class WebViewEvents {
public:
    virtual ~WebViewEvents() = default;
    // Before each navigation of the top-level page or a frame inside it. Nothing is ever cancelled.
    virtual void BeforeNavigate(const QString& url) = 0;
    // A page asked for a new window; the view opens it in a separate browser window by itself.
    virtual void NewWindow() = 0;
    // A navigation failed with an HTTP status or, when not three digits, an error number of the
    // view. Setting cancel suppresses the error page and stops loading.
    virtual void NavigateError(const QString& url, int status, bool& cancel) = 0;
    // A document finished loading; topLevel is false for frames inside the page.
    virtual void DocumentComplete(bool topLevel, const QString& url) = 0;
    virtual void StatusTextChange(const QString& text) = 0;
    virtual void TitleChange(const QString& title) = 0;
    // command: kCommandForward, kCommandBack or another command of the view.
    virtual void CommandStateChange(int command, bool enabled) = 0;
    // A page script asked to close the window. The view does not close anything itself.
    virtual void WindowClosing() = 0;
};

class WebView {
public:
    virtual ~WebView() = default;
    // The widget that shows the pages; the frame puts it into its own layout.
    virtual QWidget* Widget() = 0;
    virtual void SetListener(WebViewEvents* listener) = 0;

    virtual void Navigate(const QString& url) = 0;
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    virtual void GoHome() = 0;
    virtual void Refresh() = 0;
    virtual void Stop() = 0;

    virtual QString LocationURL() const = 0;
    virtual bool Busy() const = 0;
    // Whether a document object exists (false before the first page).
    virtual bool HasDocument() const = 0;
    // The document has finished loading (ready state "complete").
    virtual bool ReadyStateComplete() const = 0;
    // Asks for the HTML inside the document's root element. done is called exactly once, later
    // (through the event loop) or at once; with nullopt when there is no document or it failed.
    virtual void RequestDocumentHtml(std::function<void(std::optional<QString>)> done) = 0;
    virtual QString SelectedText() const = 0;
    // Replaces the shown document by html; the shown URL stays as it is.
    virtual void LoadHtml(const QString& html) = 0;
    // Keyboard accelerator translation: true when a key event aimed at target (a widget inside the
    // view) belongs to the page, so that the window's shortcuts must leave it alone.
    virtual bool TranslateAccelerator(QObject* target, QEvent* event) = 0;
};

}  // namespace hanabira
