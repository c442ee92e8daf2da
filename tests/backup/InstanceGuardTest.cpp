// One instance per settings file: a later start brings the first one's window to the front and
// writes nothing; the lock of a killed instance is taken over.
#include "InstanceGuard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include "RealProgram.h"
#include "TestFolder.h"

namespace {

// Every file below a folder with its size, modification time and a hash of its contents.
QStringList Snapshot(const QString& folder) {
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        QFile file(f);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        out << f + u' ' + QFileInfo(f).lastModified().toString(Qt::ISODateWithMs) + u' ' +
                   QString::fromLatin1(
                       QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
    }
    out.sort();
    return out;
}

QString FindFile(const QString& folder, const QString& name) {
    QDirIterator it(folder, {name}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

TEST(InstanceGuard, ALaterGuardOnTheSameFileAsksTheFirstToShowAndWritesNothing) {
    TestFolder dir;
    const QString settings = dir.Write(QStringLiteral("Zorvane2.ini"), "[Opt]\r\n");
    InstanceGuard first(settings);
    ASSERT_EQ(first.Acquire(), InstanceGuard::Result::First);
    int shown = 0;
    first.SetShowHandler([&] { ++shown; });
    const QStringList before = Snapshot(dir.Path());

    InstanceGuard second(settings);
    EXPECT_EQ(second.Acquire(), InstanceGuard::Result::Other);
    EXPECT_TRUE(second.AskOtherToShow());
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown == 1; }, 5000));
    EXPECT_EQ(Snapshot(dir.Path()), before);

    // Another settings file has an instance of its own.
    InstanceGuard other(dir.Write(QStringLiteral("anders/Zorvane2.ini"), ""));
    EXPECT_EQ(other.Acquire(), InstanceGuard::Result::First);
}

TEST(InstanceGuard, TheProgramRunsOncePerSettingsFileAndTakesOverAKilledOnesLock) {
    TestFolder dir;
    RealProgram prog;
    ASSERT_TRUE(prog.Lay(dir));
    const QString& exe = prog.exe;
    QProcessEnvironment& env = prog.env;
    auto start = [&](QProcess& p) {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(exe, {});
        return p.waitForStarted();
    };
    auto lockOwner = [&] {
        const QString name = FindFile(dir.Path(), QStringLiteral("Zorvane2.ini.lock"));
        QFile lock(name);
        return !name.isEmpty() && lock.open(QIODevice::ReadOnly)
                   ? lock.readLine().trimmed().toLongLong()
                   : 0;
    };
    // The start-up ends with the history save, which writes the statistics last.
    const QString hist = dir.Path(QStringLiteral("prog/Zorvane.hist"));
    auto startedUp = [&](int starts) {
        QFile h(hist);
        const QString settings = FindFile(dir.Path(), QStringLiteral("Zorvane2.ini"));
        return h.open(QIODevice::ReadOnly) && h.readAll().count("gestartet") == starts &&
               !settings.isEmpty() &&
               QFileInfo(settings).lastModified() >= QFileInfo(hist).lastModified();
    };

    QProcess first;
    ASSERT_TRUE(start(first));
    ASSERT_TRUE(QTest::qWaitFor([&] { return startedUp(1); }, 30000));
    EXPECT_EQ(lockOwner(), first.processId());
    const QStringList before = Snapshot(dir.Path());

    QProcess second;
    ASSERT_TRUE(start(second));
    EXPECT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0); // it reached the first one
    EXPECT_EQ(Snapshot(dir.Path()), before);

    // Killed: its lock and its socket stay behind, and the next start takes both over.
    first.kill();
    first.waitForFinished();
    QProcess third;
    ASSERT_TRUE(start(third));
    EXPECT_TRUE(QTest::qWaitFor([&] { return lockOwner() == third.processId(); }, 30000));
    QProcess fourth;
    ASSERT_TRUE(start(fourth));
    EXPECT_TRUE(fourth.waitForFinished(30000));
    EXPECT_EQ(fourth.exitCode(), 0);
    EXPECT_EQ(third.state(), QProcess::Running);
    third.terminate(); // ends like a logoff, also while it is still starting up
    EXPECT_TRUE(third.waitForFinished(30000));
    EXPECT_EQ(third.exitCode(), 0);
}

} // namespace
