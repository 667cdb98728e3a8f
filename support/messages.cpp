#include "support/messages.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace hanabira {

namespace {

// A message box is narrow: the window manager would cut the long application title short.
QString BoxTitle() { return QString::fromUtf8("Hanabira 2号"); }

class DialogRoutines : public MessageRoutines {
public:
    void Error(QWidget* parent, const QString& text) override {
        QMessageBox::critical(parent, BoxTitle(), text, QMessageBox::Ok);
    }
    void Info(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, BoxTitle(), text, QMessageBox::Ok, parent);
        box.exec();
    }
    bool Question(QWidget* parent, const QString& text, bool yesIsDefault) override {
        return QMessageBox::question(parent, BoxTitle(), text, QMessageBox::Yes | QMessageBox::No,
                                     yesIsDefault ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
    }
    std::optional<QString> Input(QWidget* parent, const QString& title, const QString& prompt,
                                 const QString& initial) override {
        bool ok = false;
        const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, &ok);
        if (!ok) return std::nullopt;
        return text;
    }
    int SaveFailed(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, BoxTitle(), text, QMessageBox::NoButton,
                        parent);
        QPushButton* retry = box.addButton(QString::fromUtf8("再試行"), QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton(QString::fromUtf8("保存せずに終了"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(QString::fromUtf8("キャンセル"), QMessageBox::RejectRole);
        box.setDefaultButton(retry);
        box.exec();
        if (box.clickedButton() == discard) return 1;
        if (box.clickedButton() == cancel) return 2;
        return 0;
    }
};

std::unique_ptr<MessageRoutines>& Current() {
    static std::unique_ptr<MessageRoutines> routines = std::make_unique<DialogRoutines>();
    return routines;
}

}  // namespace

MessageRoutines& Messages() { return *Current(); }

void SetMessages(std::unique_ptr<MessageRoutines> routines) {
    Current() = routines ? std::move(routines) : std::make_unique<DialogRoutines>();
}

void ShowMessage(QWidget* parent, const QString& text, bool condition) {
    if (!condition) Messages().Error(parent, text);
}

bool AskQuestion(QWidget* parent, const QString& text, bool yesIsDefault) {
    return Messages().Question(parent, text, yesIsDefault);
}

}  // namespace hanabira
