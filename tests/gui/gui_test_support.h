#pragma once
// Shared pieces of the widget tests: recorded message boxes with scripted answers.
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QThread>
#include <QToolBar>
#include <QTreeView>

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "support/messages.h"
#include "ui/main/category_tree_widget.h"

namespace testing_support {

// Processes events until cond holds; false after ms milliseconds (a first page load starts Chromium).
inline bool WaitUntil(const std::function<bool()>& cond, int ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// A control or action of a window, found as the user finds it: by the name the window gives it.
// The windows keep their controls private; a test that asks for one that is not there fails.
template <class T = QWidget>
T* Child(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found) throw std::runtime_error(std::string("no control named ") + name);
    return found;
}

// The main window's site list, visit list and category tree, as Child finds them.
inline QTreeView* SiteList(const QObject& main) { return Child<QTreeView>(main, "lvSiteList"); }
inline QTreeView* VisitList(const QObject& main) { return Child<QTreeView>(main, "lvVisitSite"); }
inline hanabira::CategoryTreeWidget* Tree(const QObject& main) {
    return Child<hanabira::CategoryTreeWidget>(main, "ftBlogCategories");
}

class RecordedMessages : public hanabira::MessageRoutines {
public:
    QStringList errors, infos, questions, inputs, saveFailures;
    std::deque<bool> answers;                    // for questions; Yes when empty
    std::deque<std::optional<QString>> inputAnswers;  // for input boxes; cancel when empty
    std::deque<int> saveChoices;                 // for save failures; "close anyway" when empty

    void Error(QWidget*, const QString& text) override { errors << text; }
    void Info(QWidget*, const QString& text) override { infos << text; }
    QList<bool> questionDefaults;  // whether Enter would have answered Yes, per question
    bool Question(QWidget*, const QString& text, bool yesIsDefault) override {
        questions << text;
        questionDefaults << yesIsDefault;
        if (answers.empty()) return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<QString> Input(QWidget*, const QString& title, const QString& prompt, const QString&) override {
        inputs << title + "|" + prompt;
        if (inputAnswers.empty() || !inputAnswers.front().has_value()) {
            if (!inputAnswers.empty()) inputAnswers.pop_front();
            return std::nullopt;
        }
        const QString text = *inputAnswers.front();
        inputAnswers.pop_front();
        return text;
    }
    int SaveFailed(QWidget*, const QString& text) override {
        saveFailures << text;
        if (saveChoices.empty()) return 1;
        const int c = saveChoices.front();
        saveChoices.pop_front();
        return c;
    }
};

// Installs recorded messages for the lifetime of the object.
class MessageScope {
public:
    MessageScope() {
        auto owned = std::make_unique<RecordedMessages>();
        messages = owned.get();
        hanabira::SetMessages(std::move(owned));
    }
    ~MessageScope() { hanabira::SetMessages(nullptr); }
    RecordedMessages* messages;
};

}  // namespace testing_support
