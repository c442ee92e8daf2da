// Start-up with many actions: writes a settings file of N actions (100,000 unless given) into
// a private config folder, then measures on the platform the environment names (Xvfb with a
// window manager for the figures in RESULTS.md):
//   read   the settings file's share of a start-up: the load and its save-back
//   save   a full save of all actions
//   changed save  a full save after every action's last run changed
//   start  the whole start-up, from before the main window is made to the window shown and
//          painted
// Usage: zv_startbench [ACTIONS]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

#include "ActionStore.h"
#include "Allocator.h"
#include "Dialogs.h"
#include "ShellFolders.h"
#include "ZorvaneMain.h"

namespace {

// The file as the program writes it, with every action's thirteen keys.
QByteArray settingsFile(int actions) {
    QByteArray b = "[Global]\r\nSperrVon=06:00:00\r\nSperrBis=23:00:00\r\nSpeerzeit=0\r\nIV=2\r\n"
                   "\r\n[Actions]\r\n";
    b.reserve(qsizetype(actions) * 330);
    for (int n = 1; n <= actions; ++n) {
        const QByteArray k = QByteArray::number(n);
        b += "Verz" + k + "=/home/nutzer/Daten/Ordner" + k + "\r\n";
        b += "Nach" + k + "=/media/sicherung/Ordner" + k + ".Zip\r\n";
        b += "Time" + k + "=02:00:00\r\nCount" + k + "=5\r\n";
        b += "Last" + k + "=07.12.2026 02:00:0" + QByteArray::number(n % 10) + "\r\n";
        b += "Dateien" + k + "=1.234\r\nBytes" + k + "=52.428.800\r\nArc" + k + "=31.457.280\r\n";
        b += "Dauer" + k + "=00:00:12\r\nFilter" + k + "=Nicht:*.tmp\r\nHist" + k + "=J-J\r\n";
        b += "LE" + k + "=\r\np" + k + "=\r\n";
    }
    b += "Verz" + QByteArray::number(actions + 1) + "=\r\n";
    return b;
}

} // namespace

int main(int argc, char** argv) {
    const int actions = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("ZV_REGISTRY_DIR", (home.path() + QStringLiteral("/registry")).toUtf8());
    // As the program sets it at its start.
    Allocator::KeepFreedMemory();
    QApplication app(argc, argv);
    Dialogs::SetTestMode(true);
    ShellFolders::SetProgramFolder(home.path());

    const QString ini = Tmain::DataFolder() + Tmain::SettingsFileTitle();
    QFile f(ini);
    if (!f.open(QIODevice::WriteOnly) || f.write(settingsFile(actions)) < 0) return 1;
    f.close();
    // Owner-only, as every save of the program leaves it (it holds passwords).
    if (!f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) return 1;

    // Besides the wall time, the CPU time and the pages first touched: on a loaded or virtual
    // machine these two say more than the wall clock.
    const auto usage = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return u;
    };
    const rusage before = usage();
    QElapsedTimer t;
    t.start();
    StoredSettings read;
    qint64 steps[4] = {};
    {
        ActionStore store(ini);
        store.Open();
        steps[0] = t.elapsed();
        read = store.ReadSettings();
        steps[1] = t.elapsed();
        store.PutFull(read.Blocking, read.Actions);
        steps[2] = t.elapsed();
        store.Commit();
        steps[3] = t.elapsed();
    }
    const qint64 readMs = t.restart();
    const rusage after = usage();
    const auto cpuMs = [](const rusage& u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
    };
    if (qEnvironmentVariableIsSet("ZV_STARTBENCH_STEPS"))
        std::printf("open %lld, read %lld, put %lld, commit %lld, closed %lld ms; CPU %lld ms, "
                    "%ld page faults\n",
                    static_cast<long long>(steps[0]), static_cast<long long>(steps[1]),
                    static_cast<long long>(steps[2]), static_cast<long long>(steps[3]),
                    static_cast<long long>(readMs), cpuMs(after) - cpuMs(before),
                    after.ru_minflt - before.ru_minflt);
    // For profiling the settings file alone.
    if (qEnvironmentVariableIsSet("ZV_STARTBENCH_SETTINGS_ONLY")) return 0;
    {
        ActionStore store(ini);
        store.Open();
        store.PutFull(read.Blocking, read.Actions);
        store.Commit();
    }
    const qint64 saveMs = t.restart();
    if (read.Actions.size() != actions) return 1;
    // A full save after a run of every action: each one's statistics changed.
    for (BackupAction& a : read.Actions)
        a[colLast] = QStringLiteral("08.12.2026 02:00:00");
    {
        ActionStore store(ini);
        store.Open();
        store.PutFull(read.Blocking, read.Actions);
        steps[0] = t.elapsed();
        store.Commit();
        steps[1] = t.elapsed();
    }
    const qint64 changedMs = t.restart();
    if (qEnvironmentVariableIsSet("ZV_STARTBENCH_STEPS"))
        std::printf("changed save: put %lld, commit %lld ms\n", static_cast<long long>(steps[0]),
                    static_cast<long long>(steps[1]));

    const auto w = std::make_unique<Tmain>(QStringList{});
    w->show();
    while (!w->windowHandle() || !w->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::processEvents();
    const qint64 startMs = t.elapsed();
    std::printf("zv_startbench: %d actions, read %lld ms, save %lld ms, changed save %lld ms, "
                "start %lld ms\n",
                actions, static_cast<long long>(readMs), static_cast<long long>(saveMs),
                static_cast<long long>(changedMs), static_cast<long long>(startMs));
    return 0;
}
