#pragma once
// Window-level services the windows share: minimise to the tray, the behaviour every multi-line
// editor gets, and the reset of every page control to its first page.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QAction;
class QKeySequence;
class QMainWindow;
class QSystemTrayIcon;
class QTextEdit;

namespace hanabira {

class TMWUtility : public QObject {
    Q_OBJECT
public:
    explicit TMWUtility(QObject* parent = nullptr);
    ~TMWUtility() override;

    void AttachToMainForm(QMainWindow* mainWindow);
    void MinimizeToTray();
    void RestoreFromTray();
    void SetupEditors();
    QSystemTrayIcon* TrayIcon() const { return tray_; }
    bool Attached() const { return !main_.isNull(); }
    // Whether minimising may hide the windows: only when the desktop has a tray to bring them back.
    std::function<bool()> TrayAvailable;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QMainWindow> main_;
    QSystemTrayIcon* tray_ = nullptr;
};

// The wrap column for an editor: (width - leftParts - charWidth div 2 - scroll bar) div charWidth,
// less 3 with a visible wrap mark, less 1 without. 0 when charWidth is 0.
int WrapColumnFor(int editorWidth, int leftParts, int charWidth, int scrollBarWidth, bool wrapMarkVisible);
void FitWrapToWidth(QTextEdit* editor);

enum class AddressKind { None, Web, Mail };
// What the token under the caret is: a web address, a mail address, or anything else.
AddressKind ClassifyAddress(const QString& token);
// The token under the caret position (characters up to white space on both sides).
QString TokenAt(const QString& text, int position);
// Opens web and mail addresses; returns true when it handled the double-click.
bool EditorDoubleClick(QTextEdit* editor);
void EditorWheel(QTextEdit* editor, int delta);
// Opens an address through the desktop; tests replace it.
std::function<bool(const QUrl&)>& UrlOpener();

void ResetPageControls();

// Gives the action its keys and names them in its tool tip. The keys work in the window the action
// is in, or with context WidgetWithChildrenShortcut only in the widgets the action was added to.
void SetShortcut(QAction* action, const QKeySequence& keys, Qt::ShortcutContext context = Qt::WindowShortcut);

}  // namespace hanabira
