#pragma once
// Message boxes, questions and input boxes go through one routine each, behind an interface that
// tests replace to record the text and give the answer.
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

namespace hanabira {

class MessageRoutines {
public:
    virtual ~MessageRoutines() = default;
    virtual void Error(QWidget* parent, const QString& text) = 0;    // error icon, OK
    virtual void Info(QWidget* parent, const QString& text) = 0;     // plain (no icon), OK
    // Yes / No; true only for Yes. yesIsDefault: Enter answers Yes (where the user has just asked
    // for the thing), else No (before anything that deletes).
    virtual bool Question(QWidget* parent, const QString& text, bool yesIsDefault) = 0;
    // Returns nullopt when cancelled.
    virtual std::optional<QString> Input(QWidget* parent, const QString& title, const QString& prompt,
                                         const QString& initial) = 0;
    // Three-way choice used when the data file cannot be saved: 0 retry, 1 close anyway, 2 cancel.
    virtual int SaveFailed(QWidget* parent, const QString& text) = 0;
};

// The routines in force (real dialogs unless a test installed its own).
MessageRoutines& Messages();
void SetMessages(std::unique_ptr<MessageRoutines> routines);  // nullptr restores the dialogs

// Shows text as an error only when condition is false.
void ShowMessage(QWidget* parent, const QString& text, bool condition = false);
bool AskQuestion(QWidget* parent, const QString& text, bool yesIsDefault = false);

}  // namespace hanabira
