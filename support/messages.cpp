#include "support/messages.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>

namespace hanabira {

namespace {

// A message box is narrow: the window manager would cut the long application title short.
QString BoxTitle() { return QString::fromUtf8("Hanabira 2号"); }

// What a window manager's title bar takes beside the title: the window icon on the left, three
// buttons on the right, and their margins. Qt's own allowance is too small for most of them.
constexpr int kTitleBarAllowance = 130;
// The widest an input box grows for its text; a link-tag template is often longer and scrolls.
constexpr int kMaxInputWidth = 720;

// The width a dialog needs for its title to show whole in the window manager's (bold) title bar.
int TitleBarWidth(const QString& title) {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(title) + kTitleBarAllowance;
}

// A message box sizes itself to its text; a short text would cut the title. The box keeps its
// layout's minimum width, so an empty spacer across the grid widens it. Call after the icon and
// texts are set: changing those rebuilds the layout.
void KeepTitleWhole(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    grid->addItem(
        new QSpacerItem(TitleBarWidth(box.windowTitle()), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
        grid->rowCount(), 0, 1, grid->columnCount());
}

int RunMessageBox(QMessageBox::Icon icon, QWidget* parent, const QString& text,
                  QMessageBox::StandardButtons buttons,
                  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) {
    QMessageBox box(icon, BoxTitle(), text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    KeepTitleWhole(box);
    return box.exec();
}

// An input box as wide as its title, its prompt and the text it starts with, up to a limit (and
// the screen): a title cut short hides which value is asked for, and a template shown only by its
// tail cannot be checked. The dialog's layout fixes its size from its contents, so the width goes
// to the line edit.
void FitInputBox(QInputDialog& box, const QString& initial) {
    auto* edit = box.findChild<QLineEdit*>();
    if (!edit) return;
    constexpr int kDialogMargins = 24;  // both sides of the dialog's layout
    constexpr int kEditFrame = 16;      // the line edit's frame and text margins
    int width = std::max(TitleBarWidth(box.windowTitle()) - kDialogMargins,
                         edit->fontMetrics().horizontalAdvance(initial) + kEditFrame);
    int limit = kMaxInputWidth;
    if (const QScreen* screen = box.screen())
        limit = std::min(limit, screen->availableGeometry().width() - 40);
    edit->setMinimumWidth(std::min(width, limit - kDialogMargins));
}

class DialogRoutines : public MessageRoutines {
public:
    void Error(QWidget* parent, const QString& text) override {
        RunMessageBox(QMessageBox::Critical, parent, text, QMessageBox::Ok);
    }
    void Info(QWidget* parent, const QString& text) override {
        RunMessageBox(QMessageBox::NoIcon, parent, text, QMessageBox::Ok);
    }
    bool Question(QWidget* parent, const QString& text, bool yesIsDefault) override {
        return RunMessageBox(QMessageBox::Question, parent, text, QMessageBox::Yes | QMessageBox::No,
                             yesIsDefault ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
    }
    std::optional<QString> Input(QWidget* parent, const QString& title, const QString& prompt,
                                 const QString& initial) override {
        QInputDialog box(parent);
        box.setInputMode(QInputDialog::TextInput);
        box.setWindowTitle(title);
        box.setLabelText(prompt);
        box.setTextValue(initial);
        FitInputBox(box, initial);
        if (box.exec() != QDialog::Accepted) return std::nullopt;
        return box.textValue();
    }
    int SaveFailed(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Critical, BoxTitle(), text, QMessageBox::NoButton,
                        parent);
        QPushButton* retry = box.addButton(QString::fromUtf8("再試行"), QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton(QString::fromUtf8("保存せずに終了"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(QString::fromUtf8("キャンセル"), QMessageBox::RejectRole);
        box.setDefaultButton(retry);
        KeepTitleWhole(box);
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
