// The end of the session reaches a real program start while its close box's question is open:
// the question gives way, everything is saved without asking and the program ends.
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include "RealProgram.h"
#include "TestFolder.h"

namespace {

TEST(SessionEnd, ATerminationSignalEndsTheProgramWhileTheCloseQuestionIsOpen) {
    TestFolder dir;
    RealProgram prog;
    ASSERT_TRUE(prog.Lay(dir));
    const QString& exe = prog.exe;
    QProcessEnvironment& env = prog.env;
    const QString report = dir.Path(QStringLiteral("report.txt"));
    // The test driver plays the user: it changes a setting and presses the close box.
    env.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(ZV_TEST_PLUGINS));
    env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("zvtestdriver:") + report);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(exe, {});
    ASSERT_TRUE(p.waitForStarted());
    const auto reported = [&] {
        QFile f(report);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n')
                                           : QStringList();
    };
    const QString question =
        QStringLiteral("question: Sollen die geänderten Einstellungen verworfen werden?");
    const bool asked = QTest::qWaitFor([&] { return reported().contains(question); }, 30000);
    if (!asked) p.kill();
    ASSERT_TRUE(asked) << reported().join(u'|').toStdString();
    const QString changed = reported().filter(QStringLiteral("Speerzeit=")).value(0);
    ASSERT_FALSE(changed.isEmpty());

    p.terminate(); // the logoff's SIGTERM
    const bool ended = p.waitForFinished(10000);
    if (!ended) p.kill();
    ASSERT_TRUE(ended);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    // Saved without asking, the changed setting included, and the closing line written.
    EXPECT_TRUE(dir.Read(QStringLiteral("config/Zorvane2.ini")).contains(changed.toUtf8()));
    const QStringList history =
        QString::fromUtf8(dir.Read(QStringLiteral("prog/Zorvane.hist"))).split(u'\n');
    EXPECT_EQ(history.filter(QStringLiteral("Benutzer Abmeldung oder Windows Shutdown")).size(), 1);
    EXPECT_TRUE(history.filter(QStringLiteral("  - Zorvane wird beendet ")).size() == 1)
        << history.join(u'|').toStdString();
}

} // namespace
