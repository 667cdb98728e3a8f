#pragma once
// The web view over QtWebEngine: the only place of the program that knows the engine.
#include <QObject>
#include <QPointer>
#include <QString>

#include "browser/web_view.h"

class QWebEngineProfile;
class QWebEngineView;
class QWebEngineLoadingInfo;
class QUrl;

namespace hanabira {

class BrowserPage;

// The one browser profile of the program, shared by the comment window's view and every window a
// page opens. With a storage folder set (before the first view), cookies and the cache live on
// disk there, so a login to a blog service survives a restart; without one it forgets at exit.
void SetBrowserStorageFolder(const QString& folder);
QWebEngineProfile* BrowserProfile();
// Closes the windows pages opened and frees the profile. Call after every view is gone and before
// the application object goes.
void ReleaseBrowserProfile();

class QtWebView : public QObject, public WebView {
    Q_OBJECT
public:
    explicit QtWebView(QWidget* parent);
    ~QtWebView() override;

    QWidget* Widget() override;
    void SetListener(WebViewEvents* listener) override { listener_ = listener; }
    void Navigate(const QString& url) override;
    void GoBack() override;
    void GoForward() override;
    void GoHome() override;
    void Refresh() override;
    void Stop() override;
    QString LocationURL() const override;
    bool Busy() const override;
    bool HasDocument() const override { return hasDocument_; }
    bool ReadyStateComplete() const override { return hasDocument_ && !Busy(); }
    void RequestDocumentHtml(std::function<void(std::optional<QString>)> done) override;
    QString SelectedText() const override;
    void LoadHtml(const QString& html) override;
    bool TranslateAccelerator(QObject* target, QEvent* event) override;

    QWebEngineView* EngineView() const { return view_; }

private:
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void ReportCommandState();
    void ReportTitle(const QUrl& url);
    void SuppressErrorPage();

    QWebEngineView* view_;
    BrowserPage* page_;
    WebViewEvents* listener_ = nullptr;
    bool hasDocument_ = false;
    bool navigationPending_ = false;  // asked for, not yet started
    bool stoppedByUs_ = false;
    bool canGoBack_ = false, canGoForward_ = false;
};

// Whether a key event aimed at the page belongs to it: typing, editing and the clipboard keys of
// an input field. Other shortcuts (function keys, Ctrl or Alt combinations) stay the window's.
bool IsPageKey(QEvent* event);

}  // namespace hanabira
