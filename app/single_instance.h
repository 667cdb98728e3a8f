#pragma once
// One program per site list: the first program started for a program folder holds a lock and
// listens on a local socket; a later start for the same folder asks it to come forward and ends.
// Both live in the user's runtime folder (never beside the data file, which may be in a synced
// folder), under a name made from a hash of the canonical program folder.
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

namespace hanabira {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // programFolder: the folder the data and settings live in; runtimeFolder: where the lock and
    // the socket go (the user's runtime folder unless given).
    explicit SingleInstance(const QString& programFolder, const QString& runtimeFolder = {});
    ~SingleInstance() override;

    // True when this is the only program for the folder: it now holds the lock and listens. False
    // when another program holds it: that one has been asked to come forward (waiting up to waitMs
    // for it to listen, as it may still be starting); this one must end.
    bool Acquire(int waitMs = 10000);

    // A second start asked this program to come forward (also when it asked before anything was
    // connected to this signal: see TakePendingActivation).
    bool TakePendingActivation();

    QString LockPath() const { return lockPath_; }
    QString ServerName() const { return serverName_; }

signals:
    void ActivationRequested();

private:
    void Listen(std::unique_ptr<QLockFile> lock);
    void Accept();

    QString lockPath_, serverName_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    bool pending_ = false;
};

}  // namespace hanabira
