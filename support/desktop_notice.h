#pragma once
// A notice on the desktop: through the desktop's notification service (D-Bus
// org.freedesktop.Notifications), else the tray icon's message, else nothing. Behind a small
// interface, so tests record what would be shown instead.
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>

class QSystemTrayIcon;

namespace hanabira {

class NoticeSender {
public:
    virtual ~NoticeSender() = default;
    // text: Shift_JIS, plain. chosen runs when the user picks the notice (its default action).
    virtual void Send(const std::string& text, std::function<void()> chosen) = 0;
};

// The desktop session's bus, when the session has one; else a connection that is not connected.
// Never starts a bus of its own (as the D-Bus library would on X11 without a session bus).
QDBusConnection DesktopSessionBus();

class DesktopNoticeSender : public QObject, public NoticeSender {
    Q_OBJECT
public:
    // tray: the icon whose message stands in when there is no notification service (null: none).
    // bus: where the service is looked for (the desktop session's bus unless a test gives its own).
    explicit DesktopNoticeSender(std::function<QSystemTrayIcon*()> tray,
                                 QDBusConnection bus = DesktopSessionBus());
    void Send(const std::string& text, std::function<void()> chosen) override;

private slots:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    void ShowOnTray(const QString& text);

    std::function<QSystemTrayIcon*()> tray_;
    QDBusConnection bus_;
    QPointer<QSystemTrayIcon> connectedTray_;
    std::function<void()> chosen_;
    uint shownId_ = 0;  // the service's id of the notice on screen, 0 for none
};

}  // namespace hanabira
