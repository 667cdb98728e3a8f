#pragma once
// A web view for the widget tests: it records what the frame asks of it and fires the events a
// test gives it, so the frame and the windows run without Chromium.
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

#include "browser/web_view.h"
#include "browser/web_view_frame.h"

namespace testing_support {

class FakeWebView : public hanabira::WebView {
public:
    explicit FakeWebView(QWidget* parent) : widget_(new QWidget(parent)) { Last() = this; }
    ~FakeWebView() override {
        if (Last() == this) Last() = nullptr;
    }
    // The fake view the frame made last (null once it is gone).
    static FakeWebView*& Last() {
        static FakeWebView* last = nullptr;
        return last;
    }

    QStringList calls;
    QString location;
    bool busy = false;
    bool hasDocument = false;
    QString selection;
    std::optional<QString> html;  // what the document's HTML reads as; nullopt: unavailable
    QString loadedHtml;
    bool pageKeys = true;
    // "about:blank" completes at once, as a real view does quickly.
    bool completeBlankAtOnce = true;

    QWidget* Widget() override { return widget_; }
    void SetListener(hanabira::WebViewEvents* listener) override { listener_ = listener; }
    void Navigate(const QString& url) override {
        calls << "Navigate " + url;
        busy = true;
        hasDocument = true;
        if (completeBlankAtOnce && url == QLatin1String("about:blank")) {
            FireBeforeNavigate(url);
            FireDocumentComplete(true, url);
        }
    }
    void GoBack() override { calls << "GoBack"; }
    void GoForward() override { calls << "GoForward"; }
    void GoHome() override { calls << "GoHome"; }
    void Refresh() override { calls << "Refresh"; }
    void Stop() override {
        calls << "Stop";
        busy = false;
    }
    QString LocationURL() const override { return location; }
    bool Busy() const override { return busy; }
    bool HasDocument() const override { return hasDocument; }
    bool ReadyStateComplete() const override { return hasDocument && !busy; }
    void RequestDocumentHtml(std::function<void(std::optional<QString>)> done) override {
        calls << "RequestDocumentHtml";
        done(html);
    }
    QString SelectedText() const override { return selection; }
    void LoadHtml(const QString& h) override {
        calls << "LoadHtml";
        loadedHtml = h;
    }
    bool TranslateAccelerator(QObject*, QEvent*) override { return pageKeys; }

    // Events, as the engine would report them.
    void FireBeforeNavigate(const QString& url) {
        if (listener_) listener_->BeforeNavigate(url);
    }
    void FireDocumentComplete(bool topLevel, const QString& url) {
        if (topLevel) {
            location = url;
            busy = false;
        }
        if (listener_) listener_->DocumentComplete(topLevel, url);
    }
    // The full navigation of a page: before-navigate, then its completion.
    void FireLoad(const QString& url, const QString& title = {}) {
        FireBeforeNavigate(url);
        if (!title.isEmpty()) FireTitle(title);
        FireDocumentComplete(true, url);
    }
    bool FireNavigateError(const QString& url, int status) {
        bool cancel = false;
        if (listener_) listener_->NavigateError(url, status, cancel);
        return cancel;
    }
    void FireStatusText(const QString& text) {
        if (listener_) listener_->StatusTextChange(text);
    }
    void FireTitle(const QString& title) {
        if (listener_) listener_->TitleChange(title);
    }
    void FireCommandState(int command, bool enabled) {
        if (listener_) listener_->CommandStateChange(command, enabled);
    }
    void FireWindowClosing() {
        if (listener_) listener_->WindowClosing();
    }

private:
    QWidget* widget_;
    hanabira::WebViewEvents* listener_ = nullptr;
};

// Makes every frame created from now on use a fake view.
inline void UseFakeWebViews() {
    hanabira::TfrBrowserBase::DefaultViewFactory() = [](QWidget* parent) -> std::unique_ptr<hanabira::WebView> {
        return std::make_unique<FakeWebView>(parent);
    };
}

}  // namespace testing_support
