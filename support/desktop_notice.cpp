#include "support/desktop_notice.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QSystemTrayIcon>
#include <QVariantMap>

#include "check/update_notice.h"
#include "support/qt_text.h"

namespace hanabira {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kDefaultAction = QStringLiteral("default");
}  // namespace

QDBusConnection DesktopSessionBus() {
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") ||
        (!runtimeDir.isEmpty() && QFileInfo(runtimeDir + QStringLiteral("/bus")).exists()))
        return QDBusConnection::sessionBus();
    return QDBusConnection(QStringLiteral("hanabira-no-session-bus"));
}

DesktopNoticeSender::DesktopNoticeSender(std::function<QSystemTrayIcon*()> tray, QDBusConnection bus)
    : tray_(std::move(tray)), bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    bus_.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                 SLOT(ActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                 SLOT(NotificationClosed(uint, uint)));
}

void DesktopNoticeSender::Send(const std::string& text, std::function<void()> chosen) {
    chosen_ = std::move(chosen);
    const QString plain = SjisToQString(text);
    if (!bus_.isConnected()) {
        ShowOnTray(plain);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("hanabira2"));
    // The service may read the body as markup: a name with '&' or '<' must show as it is.
    call << QApplication::applicationName() << shownId_ << QStringLiteral("hanabira2")
         << QApplication::applicationName() << SjisToQString(EscapeNoticeMarkup(text))
         << QStringList{kDefaultAction, Tr("開く")} << hints << -1;
    // Asynchronous: a service that is slow to answer never holds the window.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, plain](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            shownId_ = 0;
            ShowOnTray(plain);  // no notification service on this desktop
            return;
        }
        shownId_ = reply.value();
    });
}

void DesktopNoticeSender::ShowOnTray(const QString& text) {
    QSystemTrayIcon* tray = tray_ ? tray_() : nullptr;
    if (!tray || !tray->isVisible() || !QSystemTrayIcon::supportsMessages()) return;
    if (connectedTray_ != tray) {
        connectedTray_ = tray;
        connect(tray, &QSystemTrayIcon::messageClicked, this, [this] {
            if (chosen_) chosen_();
        });
    }
    tray->showMessage(QApplication::applicationName(), text, QSystemTrayIcon::Information);
}

void DesktopNoticeSender::ActionInvoked(uint id, const QString& actionKey) {
    if (id == 0 || id != shownId_ || actionKey != kDefaultAction) return;  // another program's notice
    if (chosen_) chosen_();
}

void DesktopNoticeSender::NotificationClosed(uint id, uint) {
    if (id == shownId_) shownId_ = 0;
}

}  // namespace hanabira
