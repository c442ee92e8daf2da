// Runs one backup with the program's own run on the offscreen platform and prints its wall
// time and peak memory.
//   zv_bench [--hidden] [--password PW] SOURCE TARGET.Zip
//                                     the run as "Backup" starts it in the shown main window
//                                     (--hidden: the window is never shown, nothing is painted)
//   zv_bench --job SOURCE TARGET.Zip  the backup job alone, without a window
//   zv_bench --save30                 a full save of 30 actions, the window's and the store's
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <vector>

#include "ActionStore.h"
#include "Allocator.h"
#include "BackupJob.h"
#include "Dialogs.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "ZipComponent.h"
#include "ZorvaneMain.h"
#include "lang.h"

namespace {

// One of the window's own controls by its object name (the dialogs' controls may share names).
template <class T> T* Control(const QWidget& w, const char* name) {
    for (T* c : w.findChildren<T*>(QString::fromLatin1(name))) {
        const auto* widget = qobject_cast<const QWidget*>(c);
        if (c->parent() == &w || (widget && widget->window() == &w)) return c;
    }
    return nullptr;
}

long PeakKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int RunWindow(const QString& source, const QString& target, const QString& password, bool shown) {
    const auto w = std::make_unique<Tmain>(QStringList{});
    // The run reads the window's actions, not the grid's cells.
    w->SetActionField(colVerz, 1, source);
    w->SetActionField(colNach, 1, target);
    w->SetActionField(colCount, 1, QStringLiteral("1"));
    w->SetActionField(colP, 1, password);
    Control<TSortGrid>(*w, "sg")->SetFocusCell(0, 1);
    Control<QPlainTextEdit>(*w, "Memo1")->clear();
    if (shown) {
        // As the user has it: shown, laid out and painted once before the run begins.
        w->show();
        QElapsedTimer wait;
        wait.start();
        while (!w->windowHandle()->isExposed() && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::processEvents();
    }

    QElapsedTimer t;
    t.start();
    w->backupSelectedExecute(Tmain::RunKind::Selected);
    const qint64 ms = t.elapsed();
    const QStringList log = w->LogLines();
    for (const QString& l : log)
        std::printf("%s\n", qPrintable(l));
    std::printf("zv_bench: %lld ms, peak RSS %ld KiB\n", static_cast<long long>(ms), PeakKiB());
    const bool ok = !log.isEmpty() && log.last().contains(QStringLiteral("abgeschlossen"));
    return ok ? 0 : 1;
}

int RunJob(const QString& source, const QString& target) {
    TZipComponent zip;
    const TextLanguage language;
    BackupJob job(zip, language);
    job.Source = source;
    job.Target = target;
    QElapsedTimer t;
    t.start();
    const BackupOutcome out = job.Run();
    const qint64 ms = t.elapsed();
    std::printf("%s files, %lld bytes, archive %lld bytes%s\n", qPrintable(out.FilesText),
                static_cast<long long>(out.Bytes), static_cast<long long>(out.ArchiveSize),
                qPrintable(out.FailureLine.isEmpty() ? QString() : u' ' + out.FailureLine));
    std::printf("zv_bench job: %lld ms, peak RSS %ld KiB\n", static_cast<long long>(ms), PeakKiB());
    return out.State == BackupOutcome::Result::Completed ? 0 : 1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int RunSave30(const QString& folder) {
    constexpr int Actions = 30, Rounds = 21;
    const auto w = std::make_unique<Tmain>(QStringList{});
    Control<TSortGrid>(*w, "sg")->SetRowCount(Actions + 1);
    for (int r = 1; r <= Actions; ++r) {
        const QString n = QString::number(r);
        const QStringList cells = {
            QStringLiteral("/home/benutzer/Dokumente/Projekt ") + n,
            QStringLiteral("/media/benutzer/Sicherung/Projekt") + n + QStringLiteral(".Zip"),
            QStringLiteral("02:00:00"),
            QStringLiteral("5"),
            QStringLiteral("08.12.2026 02:00:0") + QString::number(r % 10),
            n,
            QStringLiteral("12.345"),
            QStringLiteral("1.234.567.890"),
            QStringLiteral("987.654.321"),
            QStringLiteral("00:01:23"),
            QStringLiteral("Nicht:*.tmp;*.bak;~*"),
            QStringLiteral("J-J"),
            QString(),
            QStringLiteral("Passwort") + n,
        };
        for (int c = 0; c < ActionColumnCount; ++c)
            Control<TSortGrid>(*w, "sg")->SetCell(c, r, cells[c]);
    }
    std::vector<double> window, store;
    for (int i = 0; i < Rounds; ++i) {
        QElapsedTimer t;
        t.start();
        w->saveIniExecute(Control<QAction>(*w, "saveIni"));
        window.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    QList<BackupAction> actions = w->GridActions();
    for (int i = 0; i < Rounds; ++i) {
        QElapsedTimer t;
        t.start();
        ActionStore s(folder + QStringLiteral("/store.ini"));
        s.Open();
        s.PutFull(BlockingWindow(), actions);
        s.Commit();
        store.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("zv_bench save30: window full save %.2f ms, store alone %.2f ms (median of %d)\n",
                Median(window), Median(store), Rounds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Allocator::KeepFreedMemory();
    const bool job = argc == 4 && std::strcmp(argv[1], "--job") == 0;
    const bool save30 = argc == 2 && std::strcmp(argv[1], "--save30") == 0;
    bool shown = true;
    QString password;
    std::vector<const char*> paths;
    for (int i = 1; i < argc && !job && !save30; ++i) {
        if (std::strcmp(argv[i], "--hidden") == 0)
            shown = false;
        else if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc)
            password = QString::fromLocal8Bit(argv[++i]);
        else
            paths.push_back(argv[i]);
    }
    if (paths.size() != 2 && !job && !save30) {
        std::fprintf(stderr, "usage: zv_bench [--hidden] [--password PW] SOURCE TARGET.Zip | "
                             "zv_bench --job SOURCE TARGET.Zip | zv_bench --save30\n");
        return 2;
    }
    // A real display when the caller names one (run_bench.py --display), else offscreen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("ZV_REGISTRY_DIR", (home.path() + QStringLiteral("/registry")).toUtf8());
    if (job) {
        QCoreApplication app(argc, argv);
        return RunJob(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QApplication app(argc, argv);
    Dialogs::SetTestMode(true);
    ShellFolders::SetProgramFolder(home.path());
    if (save30) return RunSave30(home.path());
    return RunWindow(QString::fromLocal8Bit(paths[0]), QString::fromLocal8Bit(paths[1]), password,
                     shown);
}
