// One program per site list: a second start for the same folder asks the first to come forward
// and ends; a program killed outright blocks nothing; two folders run side by side. The programs
// of another process are this test binary started again in a child role.
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "gui_test_support.h"
#include "test_support.h"

using hanabira::SingleInstance;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// Starts this binary as another program: role "kill9" takes the lock and dies by SIGKILL; role
// "late" holds the lock but listens only after 1.5 s, as a program still starting, and ends with
// status 0 once asked to come forward.
QProcess* StartChild(const char* role, const QString& folder, const QString& runtime) {
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HANABIRA_CHILD_ROLE", role);
    env.insert("HANABIRA_CHILD_FOLDER", folder);
    env.insert("HANABIRA_CHILD_RUNTIME", runtime);
    p->setProcessEnvironment(env);
    p->start(QCoreApplication::applicationFilePath(), {"--gtest_filter=SingleInstanceChild.DISABLED_Role", "--gtest_also_run_disabled_tests"});
    p->waitForStarted();
    return p;
}

}  // namespace

// Not a test of its own: the other program of the tests below (disabled: run only as the child).
TEST(SingleInstanceChild, DISABLED_Role) {
    const QByteArray role = qgetenv("HANABIRA_CHILD_ROLE");
    if (role.isEmpty()) GTEST_SKIP();
    SingleInstance instance(qEnvironmentVariable("HANABIRA_CHILD_FOLDER"), qEnvironmentVariable("HANABIRA_CHILD_RUNTIME"));
    if (role == "kill9") {
        if (!instance.Acquire(0)) std::_Exit(2);
        std::raise(SIGKILL);
    }
    QLockFile lock(instance.LockPath());
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) std::_Exit(2);
    QThread::msleep(1500);
    QLocalServer server;
    QLocalServer::removeServer(instance.ServerName());
    if (!server.listen(instance.ServerName()) || !server.waitForNewConnection(10000)) std::_Exit(3);
    QLocalSocket* socket = server.nextPendingConnection();
    while (socket && !socket->canReadLine() && socket->waitForReadyRead(5000)) {
    }
    std::_Exit(socket && socket->readLine() == "activate\n" ? 0 : 4);
}

TEST(SingleInstance, ASecondStartOnTheSameFolderAsksTheFirstToComeForwardAndEnds) {
    TempDir runtime, program;
    const QString folder = Q(program.path());
    std::filesystem::create_directory_symlink(program.path(), runtime.path() / "link");

    SingleInstance first(folder, Q(runtime.path()));
    ASSERT_TRUE(first.Acquire(0));
    int asked = 0;
    QObject::connect(&first, &SingleInstance::ActivationRequested, [&] { ++asked; });
    // The same folder, spelled with a trailing separator and through a link.
    for (const QString& spelling : {folder + "/", Q(runtime.path() / "link")}) {
        SingleInstance second(spelling, Q(runtime.path()));
        EXPECT_FALSE(second.Acquire(2000));
    }
    EXPECT_TRUE(WaitUntil([&] { return asked == 2; }, 5000));
    EXPECT_TRUE(first.TakePendingActivation());

    // Another folder runs beside it.
    TempDir other;
    SingleInstance beside(Q(other.path()), Q(runtime.path()));
    EXPECT_TRUE(beside.Acquire(0));
    EXPECT_NE(beside.LockPath(), first.LockPath());
    EXPECT_FALSE(first.LockPath().startsWith(folder)) << "never beside the data file";
}

TEST(SingleInstance, AProgramKilledOutrightLeavesNothingThatBlocksTheNextStart) {
    TempDir runtime, program;
    std::unique_ptr<QProcess> child(StartChild("kill9", Q(program.path()), Q(runtime.path())));
    ASSERT_TRUE(child->waitForFinished(20000));
    EXPECT_EQ(child->exitStatus(), QProcess::CrashExit);
    SingleInstance probe(Q(program.path()), Q(runtime.path()));
    ASSERT_TRUE(QFile::exists(probe.LockPath())) << "the killed program left its lock";

    SingleInstance next(Q(program.path()), Q(runtime.path()));
    ASSERT_TRUE(next.Acquire(0));
    int asked = 0;
    QObject::connect(&next, &SingleInstance::ActivationRequested, [&] { ++asked; });
    SingleInstance second(Q(program.path()), Q(runtime.path()));
    EXPECT_FALSE(second.Acquire(2000));
    EXPECT_TRUE(WaitUntil([&] { return asked == 1; }, 5000)) << "the next program listens on a fresh socket";
}

TEST(SingleInstance, ASecondStartWhileTheFirstIsStillStartingWaitsForIt) {
    TempDir runtime, program;
    std::unique_ptr<QProcess> child(StartChild("late", Q(program.path()), Q(runtime.path())));
    SingleInstance probe(Q(program.path()), Q(runtime.path()));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(probe.LockPath()); }, 20000));

    SingleInstance second(Q(program.path()), Q(runtime.path()));
    EXPECT_FALSE(second.Acquire(15000));
    ASSERT_TRUE(child->waitForFinished(20000));
    EXPECT_EQ(child->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child->exitCode(), 0) << "the first program was asked to come forward";
}
