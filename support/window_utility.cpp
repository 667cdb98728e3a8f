#include "support/window_utility.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QKeySequence>
#include <QMainWindow>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QWheelEvent>

namespace hanabira {

namespace {
const char* kEditorProperty = "hanabiraEditor";

int CharWidthOf(const QTextEdit* editor) { return editor->fontMetrics().horizontalAdvance(QLatin1Char('0')); }
}  // namespace

TMWUtility::TMWUtility(QObject* parent) : QObject(parent) {
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

TMWUtility::~TMWUtility() = default;

void TMWUtility::AttachToMainForm(QMainWindow* mainWindow) {
    if (main_ || !mainWindow) return;
    main_ = mainWindow;
    tray_ = new QSystemTrayIcon(this);
    tray_->setToolTip(QApplication::applicationName());
    tray_->setIcon(QApplication::windowIcon());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
    });
    mainWindow->installEventFilter(this);
}

void TMWUtility::MinimizeToTray() {
    if (!main_) return;
    // Without a tray there would be no way back to hidden windows: stay an ordinary minimised window.
    if (!TrayAvailable || !TrayAvailable()) return;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isWindow() && w->isVisible()) w->hide();
    }
    tray_->show();
}

void TMWUtility::RestoreFromTray() {
    if (!main_) return;
    tray_->hide();
    main_->setWindowState((main_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    main_->show();
    main_->raise();
    main_->activateWindow();
}

bool TMWUtility::eventFilter(QObject* watched, QEvent* event) {
    if (watched == main_ && event->type() == QEvent::WindowStateChange && main_->isMinimized()) {
        // Hiding inside the state change confuses some window managers; do it right after.
        QMetaObject::invokeMethod(this, [this] { if (main_ && main_->isMinimized()) MinimizeToTray(); },
                                  Qt::QueuedConnection);
    }
    auto* editor = qobject_cast<QTextEdit*>(watched);
    if (!editor || !editor->property(kEditorProperty).toBool()) return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::Resize:
            FitWrapToWidth(editor);
            break;
        case QEvent::MouseButtonDblClick:
            if (EditorDoubleClick(editor)) return true;
            break;
        case QEvent::Wheel:
            EditorWheel(editor, static_cast<QWheelEvent*>(event)->angleDelta().y());
            break;  // not consumed: the editor's own scrolling happens as well
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void TMWUtility::SetupEditors() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        for (QTextEdit* editor : window->findChildren<QTextEdit*>()) {
            if (CharWidthOf(editor) == 0) continue;
            // An editor that does not wrap (the own-site list) keeps its long lines whole.
            if (editor->lineWrapMode() != QTextEdit::NoWrap) editor->setLineWrapMode(QTextEdit::FixedColumnWidth);
            FitWrapToWidth(editor);
            editor->setProperty(kEditorProperty, true);
            editor->installEventFilter(this);
            editor->viewport()->installEventFilter(this);
        }
    }
}

int WrapColumnFor(int editorWidth, int leftParts, int charWidth, int scrollBarWidth, bool wrapMarkVisible) {
    if (charWidth == 0) return 0;
    const int c = editorWidth - leftParts - charWidth / 2 - scrollBarWidth;
    return c / charWidth - (wrapMarkVisible ? 3 : 1);
}

void FitWrapToWidth(QTextEdit* editor) {
    const int w = CharWidthOf(editor);
    if (w == 0) return;
    const int left = editor->frameWidth() + static_cast<int>(editor->document()->documentMargin());
    int scroll = 0;
    if (editor->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        scroll = editor->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, editor);
    const int column = WrapColumnFor(editor->width(), left, w, scroll, false);
    editor->setLineWrapColumnOrWidth(std::max(1, column));
}

AddressKind ClassifyAddress(const QString& token) {
    const QString t = token.trimmed();
    if (t.isEmpty()) return AddressKind::None;
    const QString lower = t.toLower();
    if (lower.startsWith(QLatin1String("http://")) || lower.startsWith(QLatin1String("https://")) ||
        lower.startsWith(QLatin1String("ftp://")) || lower.startsWith(QLatin1String("www.")))
        return AddressKind::Web;
    if (lower.startsWith(QLatin1String("mailto:"))) return AddressKind::Mail;
    const qsizetype at = t.indexOf(QLatin1Char('@'));
    if (at > 0 && at < t.size() - 1 && t.indexOf(QLatin1Char('@'), at + 1) < 0 &&
        t.indexOf(QLatin1Char('.'), at) > at + 1 && !t.endsWith(QLatin1Char('.')))
        return AddressKind::Mail;
    return AddressKind::None;
}

QString TokenAt(const QString& text, int position) {
    if (position < 0 || position > text.size()) return {};
    auto isBreak = [](QChar c) { return c.isSpace() || c == QChar(0x3000) || c == QLatin1Char('"') ||
                                         c == QLatin1Char('<') || c == QLatin1Char('>'); };
    qsizetype begin = position, end = position;
    while (begin > 0 && !isBreak(text[begin - 1])) --begin;
    while (end < text.size() && !isBreak(text[end])) ++end;
    return text.mid(begin, end - begin);
}

std::function<bool(const QUrl&)>& UrlOpener() {
    static std::function<bool(const QUrl&)> opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return opener;
}

bool EditorDoubleClick(QTextEdit* editor) {
    const QTextCursor cursor = editor->textCursor();
    const QTextBlock block = cursor.block();
    const QString token = TokenAt(block.text(), cursor.position() - block.position());
    switch (ClassifyAddress(token)) {
        case AddressKind::Web: {
            QString address = token;
            if (address.startsWith(QLatin1String("www."), Qt::CaseInsensitive)) address.prepend("http://");
            UrlOpener()(QUrl(address, QUrl::TolerantMode));
            return true;
        }
        case AddressKind::Mail: {
            QString address = token;
            if (!address.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) address.prepend("mailto:");
            UrlOpener()(QUrl(address, QUrl::TolerantMode));
            return true;
        }
        case AddressKind::None:
            break;
    }
    return false;
}

void EditorWheel(QTextEdit* editor, int delta) {
    QScrollBar* bar = editor->verticalScrollBar();
    bar->setValue(bar->value() + (delta < 0 ? bar->singleStep() : -bar->singleStep()));
}

void ResetPageControls() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        for (QTabWidget* pages : window->findChildren<QTabWidget*>()) pages->setCurrentIndex(0);
    }
}

void SetShortcut(QAction* action, const QKeySequence& keys, Qt::ShortcutContext context) {
    action->setShortcut(keys);
    action->setShortcutContext(context);
    action->setToolTip(action->text().remove(QLatin1Char('&')) + QStringLiteral(" (") +
                       keys.toString(QKeySequence::NativeText) + QStringLiteral(")"));
}

}  // namespace hanabira
