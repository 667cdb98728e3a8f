#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace hanabira {

namespace {

constexpr char kActivate[] = "activate\n";

QString RuntimeFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        // No usable runtime folder: a private one of the user's under the temporary folder.
        folder = QDir::tempPath() + QStringLiteral("/hanabira2-%1").arg(getuid());
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return folder;
}

}  // namespace

SingleInstance::SingleInstance(const QString& programFolder, const QString& runtimeFolder) {
    // The same folder reached through a link or with a trailing separator is the same list.
    QString key = QFileInfo(programFolder).canonicalFilePath();
    if (key.isEmpty()) key = QDir::cleanPath(QFileInfo(programFolder).absoluteFilePath());
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(24));
    const QString folder = runtimeFolder.isEmpty() ? RuntimeFolder() : runtimeFolder;
    lockPath_ = folder + QStringLiteral("/hanabira2-") + hash + QStringLiteral(".lock");
    serverName_ = folder + QStringLiteral("/hanabira2-") + hash + QStringLiteral(".sock");
}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();  // removes the socket file while the lock is still held
    server_.reset();
    lock_.reset();  // unlocks
}

bool SingleInstance::Acquire(int waitMs) {
    const QDeadlineTimer deadline(waitMs);
    auto lock = std::make_unique<QLockFile>(lockPath_);
    // Only a lock whose process is gone is stale (QLockFile checks the process), never one that is
    // merely old: a program may run for weeks.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        Listen(std::move(lock));
        return true;
    }
    // Another program holds the lock: ask it to come forward, waiting for it to listen while it
    // starts. If it never answers, this start still ends: two programs on one list lose sites.
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(500)) {
            socket.write(kActivate);
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
            return false;
        }
        if (deadline.hasExpired()) return false;
        QThread::msleep(100);
        // The holder may have ended meanwhile: then this program is the one.
        if (lock->tryLock(0)) {
            Listen(std::move(lock));
            return true;
        }
    }
}

void SingleInstance::Listen(std::unique_ptr<QLockFile> lock) {
    lock_ = std::move(lock);
    // A socket left by a program that was killed is removed only now, under the lock.
    QLocalServer::removeServer(serverName_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::Accept);
    server_->listen(serverName_);
}

bool SingleInstance::TakePendingActivation() {
    const bool pending = pending_;
    pending_ = false;
    return pending;
}

void SingleInstance::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto read = [this, socket] {
            if (!socket->canReadLine()) return;
            if (socket->readLine() == kActivate) {
                pending_ = true;
                emit ActivationRequested();
            }
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        read();
    }
}

}  // namespace hanabira
