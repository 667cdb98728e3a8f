#include "browser/web_view_frame.h"

#include <QCoreApplication>
#include <QEvent>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>

#include "browser/qt_web_view.h"
#include "support/codepage.h"
#include "support/html_text.h"
#include "support/qt_text.h"
#include "support/sjis_text.h"
#include "support/web_fetch.h"

namespace hanabira {

namespace {

std::atomic<bool> g_terminating{false};

// How long GetHTMLSource waits for the view's answer before it counts as unavailable.
constexpr int kSourceWaitSteps = 1000;

// Whether text (Shift_JIS) names a file with the extension ".hanabira": the part from its last
// "." to the end, with no "\" or ":" after that ".", compared with exact case.
bool HasScriptExtension(std::string_view text) {
    size_t lastDot = std::string_view::npos;
    bool separatorAfterDot = false;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c) && i + 1 < text.size()) {
            i += 2;  // a second byte may be "\" but is never a separator
            continue;
        }
        if (c == '.') {
            lastDot = i;
            separatorAfterDot = false;
        } else if (c == '\\' || c == ':') {
            separatorAfterDot = true;
        }
        ++i;
    }
    return lastDot != std::string_view::npos && !separatorAfterDot && text.substr(lastDot) == ".hanabira";
}

}  // namespace

std::string ShownStatusText(const std::string& reported) {
    if (!HasScriptExtension(StripTrailingSlash(reported))) return reported;
    std::string rest = reported;
    CutToken(rest, "/");
    CutToken(rest, "/");
    const std::string target = CutToken(rest, "[");
    return SjisLiteral("スクリプト実行：[") + target + "]";
}

std::string StatusPrefix(bool skipRequested, bool busy) {
    std::string p;
    if (skipRequested) p += '*';
    if (busy) p += '+';
    return p.empty() ? p : "[" + p + "]";
}

TfrBrowserBase::ViewFactory& TfrBrowserBase::DefaultViewFactory() {
    static ViewFactory factory = [](QWidget* parent) -> std::unique_ptr<WebView> {
        return std::make_unique<QtWebView>(parent);
    };
    return factory;
}

void TfrBrowserBase::SetApplicationTerminating(bool terminating) { g_terminating = terminating; }

bool TfrBrowserBase::ApplicationTerminating() {
    return g_terminating.load() || QCoreApplication::closingDown();
}

namespace {
int g_waitDepth = 0;

// Events processed from inside a wait.
void ProcessEventsInWait() {
    ++g_waitDepth;
    QCoreApplication::processEvents();
    --g_waitDepth;
}
}  // namespace

bool TfrBrowserBase::InWait() { return g_waitDepth > 0; }

TfrBrowserBase::TfrBrowserBase(QWidget* parent) : QWidget(parent) {
    setObjectName("frBrowserBase1");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The window keeps painting while the server is asked, and a stop (or the program's end) ends
    // the question: an address that does not answer must not freeze the window.
    QueryStatus = [this](const std::string& url) {
        QPointer<TfrBrowserBase> self(this);
        RequestControl control;
        control.pump = [] { ProcessEventsInWait(); };
        control.abort = [self] { return !self || self->state_.stopRequested || ApplicationTerminating(); };
        std::string status, lastModified;
        QueryUrlStatus(url, status, lastModified, control);
        return status;
    };
}

TfrBrowserBase::~TfrBrowserBase() {
    if (view_) view_->SetListener(nullptr);
}

bool TfrBrowserBase::ProcessEventsOnce() {
    QPointer<TfrBrowserBase> self(this);
    ProcessEventsInWait();
    return !self.isNull();
}

bool TfrBrowserBase::PollStep() {
    QThread::msleep(10);
    return ProcessEventsOnce();
}

void TfrBrowserBase::InitBrowser(QWidget* host) {
    host_ = host;
    if (!view_) {
        view_ = DefaultViewFactory()(this);
        view_->SetListener(this);
        layout()->addWidget(view_->Widget());
    }
    view_->Navigate(QStringLiteral("about:blank"));
    hostCaption_ = host && host->isWindow();
    if (hostCaption_) hostCaptionDefault_ = host->windowTitle();
}

void TfrBrowserBase::DoneBrowser() { Stop(); }

void TfrBrowserBase::SetState(NavigationState next) {
    const bool wasBusy = Busy();
    state_ = next;
    if (Busy() != wasBusy) emit StateChanged();
}

void TfrBrowserBase::EndLoading(LoadPhase phase) {
    if (Busy()) SetState({phase, state_.stopRequested, state_.skipRequested});
}

void TfrBrowserBase::Stop() {
    if (view_) view_->Stop();
    EndLoading(LoadPhase::Ended);
    SetState({state_.phase, true, false});
    SetStatusText(QString());
}

void TfrBrowserBase::Skip() { SetState({state_.phase, state_.stopRequested, true}); }

bool TfrBrowserBase::OpenURL(const std::string& url, bool wait) {
    if (!view_) return false;
    if (TrimSpaces(url).empty()) {
        SetState({LoadPhase::Completed, true, state_.skipRequested});
        emit AddressChanged(SjisToQString(url));
        return true;
    }
    // End any earlier wait further up the call stack: it sees the requests once this returns. A
    // page that never stops loading must not hold the new navigation, so the rounds are bounded.
    for (int round = 0; Busy() && !ApplicationTerminating(); ++round) {
        SetState({state_.phase, true, true});
        if (!ProcessEventsOnce()) return false;
        if (!view_->Busy()) break;
        if (round >= 100) {
            view_->Stop();
            break;
        }
    }
    SetState({LoadPhase::Loading, false, false});
    // The untrimmed text, as given: the view itself ignores surrounding blanks.
    view_->Navigate(SjisToQString(url));
    if (!ProcessEventsOnce()) return false;
    if (wait) return WaitForComplete(60000);
    return true;
}

bool TfrBrowserBase::WaitForComplete(int steps) {
    // A page that has completed already stays so: the wait then succeeds at once.
    SetState({state_.phase == LoadPhase::Completed ? LoadPhase::Completed : LoadPhase::Loading, false, false});
    if (view_ && !view_->HasDocument()) {
        if (!PollStep()) return false;
        if (state_.stopRequested || state_.skipRequested) {
            view_->Stop();
            EndLoading(LoadPhase::Ended);
        }
    }
    for (int counted = 0; state_.phase != LoadPhase::Completed && !ApplicationTerminating();) {
        if (state_.skipRequested) {
            Stop();
            break;
        }
        if (!PollStep()) return false;
        if (state_.stopRequested || ++counted > steps) {
            EndLoading(LoadPhase::Ended);
            return false;
        }
    }
    EndLoading(LoadPhase::Ended);
    return true;
}

void TfrBrowserBase::LoadHTML(const std::string& html) {
    if (!view_) return;
    // While the view settles the frame counts as loading, and a stop ends the wait; afterwards the
    // page shown before counts as it did.
    const LoadPhase shown = state_.phase;
    SetState({LoadPhase::Loading, false, state_.skipRequested});
    while (view_->Busy() && !state_.stopRequested && !ApplicationTerminating()) {
        if (!PollStep()) return;
    }
    if (!view_->HasDocument()) {
        while (!view_->ReadyStateComplete() && !state_.stopRequested && !ApplicationTerminating()) {
            if (!PollStep()) return;
        }
    }
    EndLoading(shown == LoadPhase::Loading ? LoadPhase::Ended : shown);
    if (!view_->HasDocument()) return;
    // The text is shown as lines ending in CR LF, as a stream of lines would give it.
    view_->LoadHtml(SjisToQString(NormalizeLineBreaks(html)));
}

std::string TfrBrowserBase::GetLocationURL() const {
    return view_ ? QStringToSjis(view_->LocationURL()) : std::string();
}

std::string TfrBrowserBase::GetHTMLSource() {
    if (!view_ || !view_->HasDocument()) return {};
    // The answer comes through the event loop; the state outlives this call in case it is late.
    struct Answer {
        bool done = false;
        std::optional<QString> html;
    };
    auto answer = std::make_shared<Answer>();
    view_->RequestDocumentHtml([answer](std::optional<QString> html) {
        answer->html = std::move(html);
        answer->done = true;
    });
    for (int step = 0; !answer->done && step < kSourceWaitSteps && !ApplicationTerminating(); ++step) {
        if (!PollStep()) return {};
    }
    if (!answer->done || !answer->html) return {};
    return QStringToSjis(*answer->html);
}

std::string TfrBrowserBase::GetSelectionText() const {
    return view_ ? QStringToSjis(view_->SelectedText()) : std::string();
}

std::string TfrBrowserBase::GetDocumentTitle() { return ExtractTitle(GetHTMLSource()); }

void TfrBrowserBase::HandleAppMessage(QObject* target, QEvent* event, bool& handled) {
    if (!view_ || !target || !target->isWidgetType()) return;
    QWidget* widget = view_->Widget();
    auto* t = static_cast<QWidget*>(target);
    if (t != widget && !widget->isAncestorOf(t)) return;
    handled = view_->TranslateAccelerator(target, event);
}

// ---- status bar ----

void TfrBrowserBase::SetStatusText(const QString& text) {
    if (!FStatusBar) return;
    if (text.isEmpty())
        FStatusBar->clearMessage();
    else
        FStatusBar->showMessage(text);
}

// ---- view events ----

void TfrBrowserBase::wbBrowserBeforeNavigate2(const QString& url) {
    if (url == QLatin1String("about:blank")) return;
    SetState({LoadPhase::Loading, state_.stopRequested, false});
}

void TfrBrowserBase::wbBrowserNewWindow2() {
    // The view opens the page in a separate browser window by itself.
}

void TfrBrowserBase::wbBrowserNavigateError(const QString& url, int status, bool& cancel) {
    if (status == 404) {  // the error page is shown and ends the navigation
        SetState({LoadPhase::Completed, state_.stopRequested, false});
        return;
    }
    if (status == 200) return;
    std::string s = std::to_string(status);
    if (s.size() != 3) s = QueryStatus ? QueryStatus(QStringToSjis(url)) : std::string();
    if (s == "404" || s == "200") return;
    cancel = true;
    if (view_) view_->Stop();
    // The skip left behind marks the status texts until the next navigation starts, and makes a
    // running wait give the page up.
    SetState({LoadPhase::Ended, state_.stopRequested, true});
    // The engine says nothing more about this load: the mark must change now, not at the next
    // pointer move, or "[+]" would stay as if the page were still loading.
    wbBrowserStatusTextChange(QString());
}

void TfrBrowserBase::wbBrowserDocumentComplete(bool topLevel, const QString&) {
    if (!topLevel) return;  // frames inside the page
    SetState({LoadPhase::Completed, state_.stopRequested, false});
    emit AddressChanged(SjisToQString(GetLocationURL()));
    SetStatusText(QString());
    // A page without a title (the blank page among them) leaves the window's own caption.
    if (hostCaption_ && host_) host_->setWindowTitle(FTitle.empty() ? hostCaptionDefault_ : SjisToQString(FTitle));
    wbBrowserStatusTextChange(QString());
}

void TfrBrowserBase::wbBrowserStatusTextChange(const QString& text) {
    if (!FStatusBar) return;
    const std::string shown = ShownStatusText(QStringToSjis(text));
    SetStatusText(SjisToQString(StatusPrefix(state_.skipRequested, Busy()) + shown));
}

void TfrBrowserBase::wbBrowserTitleChange(const QString& text) { FTitle = QStringToSjis(text); }

void TfrBrowserBase::wbBrowserCommandStateChange(int command, bool enabled) {
    if (command == kCommandForward) history_.canGoForward = enabled;
    if (command == kCommandBack) history_.canGoBack = enabled;
    emit StateChanged();
}

void TfrBrowserBase::wbBrowserWindowClosing() {
    if (view_) view_->Navigate(QStringLiteral("about:blank"));
}

}  // namespace hanabira
