#include "browser/qt_web_view.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QKeySequence>
#include <QList>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

#include "support/html_text.h"
#include "support/messages.h"
#include "support/qt_text.h"

namespace hanabira {

namespace {

QString g_storageFolder;
QWebEngineProfile* g_profile = nullptr;

// setHtml travels as a percent-encoded data: URL that Chromium refuses past 2 MB.
constexpr qsizetype kMaxInlineHtml = 2 * 1024 * 1024 - 64;

// The text Qt hands to javaScriptConfirm for a page's "leave this page?" prompt (beforeunload).
QString LeavePagePrompt() {
    return QCoreApplication::translate("QWebEnginePage",
                                       "Are you sure you want to leave this page? Changes that you made may not be saved.");
}

// A URL as Chromium shows it in place of a missing title, reduced so that every form of it compares
// equal: without "scheme://" (Chromium drops "http://") and without one trailing "/" (dropped after
// a bare host).
QString BareAddress(QString text) {
    const qsizetype scheme = text.indexOf(QLatin1String("://"));
    if (scheme > 0) text.remove(0, scheme + 3);
    if (text.endsWith(QLatin1Char('/'))) text.chop(1);
    return text;
}

// Whether a reported title is only the page's address: Chromium reports that for a page without
// a title (the blank page, a page shown from HTML text, an untitled blog page).
bool IsAddressTitle(const QString& title, const QUrl& url) {
    if (title.isEmpty() || url.isEmpty()) return false;
    const QString bare = BareAddress(title);
    return bare == BareAddress(url.toString()) || bare == BareAddress(url.toDisplayString()) ||
           bare == BareAddress(url.toString(QUrl::FullyEncoded));
}

class BrowserPopupWindow;
QList<QPointer<QWidget>>& Popups() {
    static QList<QPointer<QWidget>> popups;
    return popups;
}

}  // namespace

// One adapter for everything the engine asks of a page: navigations are let through (the frame is
// told first), new windows open as separate browser windows, the page's own dialogs are small
// message boxes over the window that holds the view, and nothing else is ever shown.
class BrowserPage : public QWebEnginePage {
public:
    BrowserPage(QWebEngineProfile* profile, QWidget* owner) : QWebEnginePage(profile, owner), owner_(owner) {}

    std::function<void(const QUrl&)> OnBeforeNavigate;
    std::function<void()> OnNewWindow;
    std::function<void()> OnScriptClose;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (OnBeforeNavigate) OnBeforeNavigate(url);
        return true;
    }
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl&, const QString& msg) override { Messages().Info(owner_->window(), msg); }
    bool javaScriptConfirm(const QUrl&, const QString& msg) override {
        // Walking on to the next site is never held up by a page that wants to be stayed on.
        if (msg == LeavePagePrompt()) return true;
        return Messages().Question(owner_->window(), msg, false);
    }
    bool javaScriptPrompt(const QUrl& origin, const QString& msg, const QString& defaultValue, QString* result) override {
        const auto answer = Messages().Input(owner_->window(), origin.host(), msg, defaultValue);
        if (!answer) return false;
        *result = *answer;
        return true;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int, const QString&) override {
        // Blink lets a script close only a window it opened and tells only the console; the page
        // still asked to close, so it is answered like a close that reached us.
        if (message.contains(QLatin1String("Scripts may close only the windows that were opened by them")) &&
            OnScriptClose)
            OnScriptClose();
    }

private:
    QPointer<QWidget> owner_;
};

namespace {

// A separate top-level browser window for a page that asked for one (target="_blank", window.open).
class BrowserPopupWindow : public QWidget {
public:
    explicit BrowserPopupWindow(QWebEngineProfile* profile) {
        setAttribute(Qt::WA_DeleteOnClose);
        setAttribute(Qt::WA_QuitOnClose, false);  // closing the main window still ends the program
        setObjectName("BrowserPopupWindow");
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        view_ = new QWebEngineView(this);
        page_ = new BrowserPage(profile, view_);
        view_->setPage(page_);
        layout->addWidget(view_);
        connect(page_, &QWebEnginePage::titleChanged, this, &QWidget::setWindowTitle);
        connect(page_, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
        page_->OnScriptClose = [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); };
        resize(800, 600);
        Popups().append(this);
    }
    QWebEnginePage* page() const { return page_; }

private:
    QWebEngineView* view_;
    BrowserPage* page_;
};

}  // namespace

QWebEnginePage* BrowserPage::createWindow(WebWindowType) {
    auto* window = new BrowserPopupWindow(profile());
    window->show();
    if (OnNewWindow) OnNewWindow();
    return window->page();
}

void SetBrowserStorageFolder(const QString& folder) { g_storageFolder = folder; }

QWebEngineProfile* BrowserProfile() {
    if (g_profile) return g_profile;
    if (g_storageFolder.isEmpty()) {
        g_profile = new QWebEngineProfile();  // off the record
    } else {
        g_profile = new QWebEngineProfile(QStringLiteral("hanabira2"));
        QDir().mkpath(g_storageFolder);
        g_profile->setPersistentStoragePath(g_storageFolder + QStringLiteral("/storage"));
        g_profile->setCachePath(g_storageFolder + QStringLiteral("/cache"));
        g_profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        // Many blog services keep a login in a session cookie: keep those too.
        g_profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    }
    QWebEngineSettings* s = g_profile->settings();
    // Pages that name no encoding: Chromium never guesses UTF-8 and falls back to this; Shift_JIS and
    // EUC-JP pages are still recognised by its detector.
    s->setDefaultTextEncoding(QStringLiteral("UTF-8"));
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
    return g_profile;
}

void ReleaseBrowserProfile() {
    for (const QPointer<QWidget>& w : Popups()) delete w.data();
    Popups().clear();
    delete g_profile;
    g_profile = nullptr;
}

QtWebView::QtWebView(QWidget* parent) : QObject(parent) {
    view_ = new QWebEngineView(parent);
    view_->setObjectName("wbBrowser");
    page_ = new BrowserPage(BrowserProfile(), view_);
    view_->setPage(page_);

    page_->OnBeforeNavigate = [this](const QUrl& url) {
        if (listener_) listener_->BeforeNavigate(url.toString());
    };
    page_->OnNewWindow = [this] {
        if (listener_) listener_->NewWindow();
    };
    page_->OnScriptClose = [this] {
        QMetaObject::invokeMethod(
            this, [this] { if (listener_) listener_->WindowClosing(); }, Qt::QueuedConnection);
    };
    connect(page_, &QWebEnginePage::loadStarted, this, [this] {
        navigationPending_ = false;
        stoppedByUs_ = false;
        hasDocument_ = true;
    });
    connect(page_, &QWebEnginePage::loadingChanged, this, &QtWebView::OnLoadingChanged);
    connect(page_, &QWebEnginePage::titleChanged, this, [this] { ReportTitle(page_->url()); });
    connect(page_, &QWebEnginePage::linkHovered, this, [this](const QString& url) {
        if (listener_) listener_->StatusTextChange(url);
    });
    connect(page_, &QWebEnginePage::urlChanged, this, &QtWebView::ReportCommandState);
    connect(page_, &QWebEnginePage::windowCloseRequested, this, [this] {
        if (listener_) listener_->WindowClosing();
    });
    connect(page_, &QWebEnginePage::renderProcessTerminated, this, [this] {
        // A crashed page never completes: end the navigation so no wait hangs on it.
        navigationPending_ = false;
        if (listener_) listener_->DocumentComplete(true, LocationURL());
    });
}

QtWebView::~QtWebView() {
    listener_ = nullptr;
    // The page goes with the view (its parent); the view goes with the frame that holds it.
}

QWidget* QtWebView::Widget() { return view_; }

void QtWebView::Navigate(const QString& url) {
    const QUrl target = QUrl::fromUserInput(url.trimmed());
    navigationPending_ = true;
    page_->load(target.isValid() ? target : QUrl(QStringLiteral("about:blank")));
}

void QtWebView::GoBack() { page_->triggerAction(QWebEnginePage::Back); }
void QtWebView::GoForward() { page_->triggerAction(QWebEnginePage::Forward); }

void QtWebView::GoHome() {
    // There is no home page to configure: home is the top page of the site now shown.
    const std::string root = SiteRoot(QStringToSjis(LocationURL()));
    Navigate(root.empty() ? QStringLiteral("about:blank") : SjisToQString(root));
}

void QtWebView::Refresh() {
    navigationPending_ = true;
    page_->triggerAction(QWebEnginePage::Reload);
}

void QtWebView::Stop() {
    stoppedByUs_ = true;
    navigationPending_ = false;
    page_->triggerAction(QWebEnginePage::Stop);
}

QString QtWebView::LocationURL() const {
    const QUrl url = page_->url();
    return url.isEmpty() ? QString() : url.toString();
}

bool QtWebView::Busy() const { return navigationPending_ || page_->isLoading(); }

void QtWebView::RequestDocumentHtml(std::function<void(std::optional<QString>)> done) {
    // The application world answers even on pages that turned scripts off.
    page_->runJavaScript(
        QStringLiteral("document.documentElement ? document.documentElement.innerHTML : null"),
        QWebEngineScript::ApplicationWorld, [done = std::move(done)](const QVariant& v) {
            if (!v.isValid() || v.isNull())
                done(std::nullopt);
            else
                done(v.toString());
        });
}

QString QtWebView::SelectedText() const { return page_->selectedText(); }

void QtWebView::LoadHtml(const QString& html) {
    const QUrl base = page_->url();
    if (html.toUtf8().toPercentEncoding().size() <= kMaxInlineHtml) {
        page_->setHtml(html, base);
        return;
    }
    // Too large for a data: URL: write it into the shown document instead (the URL stays too).
    QString literal = html;
    literal.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QChar(0x2028), QLatin1String("\\u2028"))
        .replace(QChar(0x2029), QLatin1String("\\u2029"))
        .replace(QLatin1String("</"), QLatin1String("<\\/"));
    page_->runJavaScript(QStringLiteral("document.open();document.write(\"%1\");document.close();").arg(literal),
                         QWebEngineScript::ApplicationWorld);
}

bool IsPageKey(QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const int k = key->key();
    if (k >= Qt::Key_F1 && k <= Qt::Key_F35) return false;
    const Qt::KeyboardModifiers mods = key->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    if (mods == Qt::NoModifier || mods == Qt::ShiftModifier) return true;  // typing, Tab, Enter, Delete, arrows
    for (QKeySequence::StandardKey edit : {QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut,
                                           QKeySequence::Undo, QKeySequence::Redo, QKeySequence::SelectAll})
        if (key->matches(edit)) return true;
    return false;
}

bool QtWebView::TranslateAccelerator(QObject*, QEvent* event) { return IsPageKey(event); }

void QtWebView::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        navigationPending_ = false;
        hasDocument_ = true;
        return;
    }
    navigationPending_ = false;
    ReportCommandState();
    // The URL the title arrived with may have been the one before; at the end it is this one.
    ReportTitle(info.url());
    if (!listener_) return;
    const QString url = info.url().toString();
    switch (info.status()) {
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            listener_->DocumentComplete(true, url);
            break;
        case QWebEngineLoadingInfo::LoadFailedStatus: {
            bool cancel = false;
            listener_->NavigateError(url, info.errorCode(), cancel);
            if (cancel)
                SuppressErrorPage();
            else if (listener_)
                listener_->DocumentComplete(true, url);  // the error page is shown and complete
            break;
        }
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            // A stop we did not ask for (a download link, a navigation the engine dropped) still
            // ends the navigation; a stop we asked for was already accounted for by its caller.
            if (!stoppedByUs_ && !page_->isLoading()) listener_->DocumentComplete(true, url);
            break;
        default:
            break;
    }
}

void QtWebView::SuppressErrorPage() {
    Stop();
    // By the time the status is known the error body is shown; empty the document instead.
    page_->runJavaScript(QStringLiteral("if (document.documentElement) document.documentElement.innerHTML = '';"),
                         QWebEngineScript::ApplicationWorld);
}

void QtWebView::ReportTitle(const QUrl& url) {
    if (!listener_) return;
    const QString title = page_->title();
    // An untitled page is reported as untitled, so the window keeps its own caption.
    const bool untitled = IsAddressTitle(title, url) || IsAddressTitle(title, page_->url());
    listener_->TitleChange(untitled ? QString() : title);
}

void QtWebView::ReportCommandState() {
    QWebEngineHistory* history = page_->history();
    const bool back = history->canGoBack(), forward = history->canGoForward();
    if (back == canGoBack_ && forward == canGoForward_) return;
    canGoBack_ = back;
    canGoForward_ = forward;
    if (!listener_) return;
    listener_->CommandStateChange(kCommandForward, forward);
    listener_->CommandStateChange(kCommandBack, back);
}

}  // namespace hanabira
