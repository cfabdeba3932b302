// SPDX-License-Identifier: GPL-3.0-or-later
// The single-instance guard with real processes: the program itself, and a
// helper that holds the lock, each with a private runtime directory.
#include "platform/shell/NamedLock.h"
#include "tests/support/DirectoryStub.h"
#include "tests/support/EventLoop.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <csignal>
#include <unistd.h>

namespace {

const char* const LockName = "KT Sendolin Client";

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runtime.isValid());
        previousRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("SENDOLIN_DIALOG_TRANSCRIPT", Transcript());
    }

    void TearDown() override
    {
        qputenv("XDG_RUNTIME_DIR", previousRuntime);
    }

    QString Transcript() const { return QDir(runtime.path()).filePath("dialogs.txt"); }

    QString TranscriptText() const
    {
        QFile file(Transcript());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    void Start(QProcess& process, const QString& program, const QStringList& arguments = {})
    {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted(10000)) << program.toStdString();
    }

    // Starts the lock holder and waits until it reports that it holds the lock.
    void StartHolder(QProcess& holder)
    {
        Start(holder, LOCK_HOLDER, {LockName});
        ASSERT_TRUE(testsupport::WaitUntil([&] { return holder.canReadLine(); }, 10000));
        ASSERT_EQ(holder.readLine().trimmed(), "held");
    }

    // A second start of the program: it must end by itself with exit code 0.
    void RunSecondInstance(const QString& program)
    {
        QProcess second;
        Start(second, program);
        ASSERT_TRUE(second.waitForFinished(30000)) << "the second instance did not end";
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
    }

    QTemporaryDir runtime;
    QByteArray previousRuntime;
    QProcessEnvironment environment;
};

// True when /proc/locks lists an flock held by that process.
bool HoldsAnFlock(qint64 pid)
{
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 4 && fields[1] == "FLOCK" && fields[4].toLongLong() == pid)
            return true;
    }
    return false;
}

} // namespace

TEST_F(SingleInstance, SecondStartShowsTheNoticeWithTheDefaultTitleAndLeavesTheFirstAlone)
{
    QProcess first;
    StartHolder(first);
    RunSecondInstance(SENDOLIN_CLIENT);
    EXPECT_EQ(TranscriptText(), QString::fromUtf8("message\tSendolinclient\tAnwendung läuft bereits\n"))
        << "exactly one box, the notice, and no window's boxes";
    EXPECT_EQ(first.state(), QProcess::Running) << "the first instance was disturbed";
    const platform::NamedLock probe(LockName);
    EXPECT_TRUE(probe.AlreadyExists()) << "the first instance lost its lock";
    first.closeWriteChannel();
    EXPECT_TRUE(first.waitForFinished(10000));
}

TEST_F(SingleInstance, LockIsReleasedWhenItsHolderIsKilled)
{
    QProcess holder;
    StartHolder(holder);
    {
        const platform::NamedLock probe(LockName);
        EXPECT_FALSE(probe.Held());
        EXPECT_TRUE(probe.AlreadyExists());
    }
    ::kill(pid_t(holder.processId()), SIGKILL);
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_EQ(holder.exitStatus(), QProcess::CrashExit);
    const platform::NamedLock after(LockName);
    EXPECT_TRUE(after.Held()) << "a killed holder left a stale lock";
}

TEST_F(SingleInstance, RunningProgramHoldsTheLockAndASecondStartEnds)
{
    // The first instance runs from a directory of its own, with a directory
    // service that answers with an empty station list, so it stays up.
    testsupport::DirectoryStub directory;
    QTemporaryDir home;
    const QString program = QDir(home.path()).filePath("SendolinClient");
    ASSERT_TRUE(QFile::copy(SENDOLIN_CLIENT, program));
    QFile ini(QDir(home.path()).filePath("Server.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write((directory.BaseUrl() + u'\n').toUtf8());
    ini.close();

    QProcess first;
    Start(first, program);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return HoldsAnFlock(first.processId()); }, 20000))
        << "the program never took its lock";
    RunSecondInstance(program);
    EXPECT_TRUE(TranscriptText().contains(QString::fromUtf8("message\tSendolinclient\tAnwendung läuft bereits\n")));
    testsupport::Pump(50);
    EXPECT_EQ(first.state(), QProcess::Running) << TranscriptText().toStdString();

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(10000));
    const platform::NamedLock after(LockName);
    EXPECT_TRUE(after.Held());
}

TEST(NamedLock, FileNameIsSanitisedAndFallsBackToTmpWithTheUserId)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    EXPECT_EQ(platform::NamedLock::PathFor("KT Sendolin Client"),
              runtime.path().toStdString() + "/KT_Sendolin_Client.lock");
    EXPECT_EQ(platform::NamedLock::PathFor("../x/y"), runtime.path().toStdString() + "/_.._x_y.lock")
        << "a name must never leave the runtime directory";

    const std::string fallback = "/tmp/KT_Sendolin_Client-" + std::to_string(::getuid()) + ".lock";
    qputenv("XDG_RUNTIME_DIR", "/nonexistent/runtime");
    EXPECT_EQ(platform::NamedLock::PathFor("KT Sendolin Client"), fallback);
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(platform::NamedLock::PathFor("KT Sendolin Client"), fallback);
    qputenv("XDG_RUNTIME_DIR", saved);
}
