// The desktop notice against a notification service on a private D-Bus bus: the call a real
// service accepts (its argument types), the body escaped for markup, the default action leading
// back to the program, and no service at all.
#include "support/desktop_notice.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QVariantMap>

#include "gui_test_support.h"
#include "test_support.h"

using testing_support::S;

namespace {

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QString summary, body;
    QStringList actions;
    uint replaces = 99;
    int calls = 0;

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summaryText,
                const QString& bodyText, const QStringList& actionList, const QVariantMap&, int) {
        ++calls;
        replaces = replacesId;
        summary = summaryText;
        body = bodyText;
        actions = actionList;
        return 7;
    }
};

// A session bus of the test's own: dbus-daemon on a socket in a temporary folder.
class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return;
        process_.start(
            daemon,
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address"),
             QStringLiteral("--address=unix:dir=") + QString::fromStdString(dir_.path().string())});
        if (!process_.waitForReadyRead(10000)) return;
        address = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("notice-service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notice-client"));
        process_.terminate();
        process_.waitForFinished(5000);
    }
    QString address;

private:
    testing_support::TempDir dir_;
    QProcess process_;
};

}  // namespace

TEST(DesktopNotice, GoesToTheNotificationServiceAndComesBackThroughItsDefaultAction) {
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, QStringLiteral("notice-service"));
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, QStringLiteral("notice-client"));
    ASSERT_TRUE(service.isConnected());
    ASSERT_TRUE(client.isConnected());
    FakeNotifications fake;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

    hanabira::DesktopNoticeSender sender(nullptr, client);
    int chosen = 0;
    sender.Send(S("2 件のブログが更新されました: 技術メモ & <雑記>"), [&] { ++chosen; });
    ASSERT_TRUE(testing_support::WaitUntil([&] { return fake.calls == 1; }, 10000));
    EXPECT_EQ(fake.replaces, 0u);
    EXPECT_FALSE(fake.summary.isEmpty());
    EXPECT_EQ(fake.body.toStdString(), "2 件のブログが更新されました: 技術メモ &amp; &lt;雑記&gt;");
    ASSERT_GE(fake.actions.size(), 2);
    EXPECT_EQ(fake.actions[0], "default");

    auto emitAction = [&](uint id, const char* key) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << QString::fromLatin1(key);
        service.send(signal);
    };
    emitAction(8, "default");  // another program's notice
    emitAction(7, "default");
    ASSERT_TRUE(testing_support::WaitUntil([&] { return chosen > 0; }, 10000));
    EXPECT_EQ(chosen, 1);

    // The next notice takes the place of the one still on screen.
    sender.Send("x", [] {});
    ASSERT_TRUE(testing_support::WaitUntil([&] { return fake.calls == 2; }, 10000));
    EXPECT_EQ(fake.replaces, 7u);

    // Without the service: no call answered, nothing chosen, and the program goes on.
    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    int chosenLater = 0;
    sender.Send("y", [&] { ++chosenLater; });
    testing_support::WaitUntil([] { return false; }, 300);
    EXPECT_EQ(fake.calls, 2);
    EXPECT_EQ(chosenLater, 0);
}

#include "desktop_notice_test.moc"
