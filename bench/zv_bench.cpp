// Runs one backup with the program's own run on the offscreen platform and prints its wall
// time and peak memory. Usage: zv_bench SOURCE TARGET.Zip
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

#include "Dialogs.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "ZorvaneMain.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zv_bench SOURCE TARGET.Zip\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("ZV_REGISTRY_DIR", (home.path() + QStringLiteral("/registry")).toUtf8());
    QApplication app(argc, argv);
    Dialogs::SetTestMode(true);
    ShellFolders::SetProgramFolder(home.path());
    const auto w = std::make_unique<Tmain>(QStringList{});
    w->sg->SetRowCount(2);
    w->sg->SetCell(colVerz, 1, QString::fromLocal8Bit(argv[1]));
    w->sg->SetCell(colNach, 1, QString::fromLocal8Bit(argv[2]));
    w->sg->SetCell(colCount, 1, QStringLiteral("1"));
    w->sg->SetFocusCell(0, 1);
    w->Memo1->clear();

    QElapsedTimer t;
    t.start();
    w->backupSelectedExecute(w->backupSelected);
    const qint64 ms = t.elapsed();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const QStringList log = w->LogLines();
    for (const QString& l : log)
        std::printf("%s\n", qPrintable(l));
    std::printf("zv_bench: %lld ms, peak RSS %ld KiB\n", static_cast<long long>(ms), ru.ru_maxrss);
    const bool ok = !log.isEmpty() && log.last().contains(QStringLiteral("abgeschlossen"));
    return ok ? 0 : 1;
}
