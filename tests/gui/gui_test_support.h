#pragma once
// Shared pieces of the widget tests: recorded message boxes with scripted answers.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <deque>
#include <functional>
#include <optional>

#include "support/messages.h"

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
