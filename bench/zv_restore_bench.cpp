// Restores a whole archive into a new folder as a user does: the main window shown on the
// offscreen platform, the restore command, "Alle" and the folder typed into the dialog, OK.
// Prints the wall time from OK to the end of the command (the folder flushed to disk
// included) and the peak memory. With --reader only the archive reader runs, without window.
// With --dialog the time from the restore command to the dialog shown with its entries
// painted, and the peak memory; nothing is restored.
// Usage: zv_restore_bench [--reader|--dialog] ARCHIVE TARGET
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>

#include "Dialogs.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "ZipReader.h"
#include "ZorvaneMain.h"
#include "uRestore.h"

namespace {

// One of the window's own controls by its object name (the dialogs' controls may share names).
template <class T> T* Control(const QWidget& w, const char* name) {
    for (T* c : w.findChildren<T*>(QString::fromLatin1(name))) {
        const auto* widget = qobject_cast<const QWidget*>(c);
        if (c->parent() == &w || (widget && widget->window() == &w)) return c;
    }
    return nullptr;
}

void report(qint64 ms) {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("zv_restore_bench: %lld ms, peak RSS %ld KiB\n", static_cast<long long>(ms),
                ru.ru_maxrss);
}

int readerOnly(const QString& archive, const QString& target) {
    TZipReader reader;
    int messages = 0;
    reader.OnMessage = [&](TZipReaderMessageKind, const QString& text) {
        std::printf("%s\n", qPrintable(text));
        ++messages;
    };
    if (!reader.Open(archive)) return 1;
    QElapsedTimer t;
    t.start();
    const int count = reader.Extract(target);
    report(t.elapsed());
    std::printf("%d files\n", count);
    return messages == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const bool reader = argc == 4 && std::strcmp(argv[1], "--reader") == 0;
    const bool dialog = argc == 4 && std::strcmp(argv[1], "--dialog") == 0;
    if (argc != 3 && !reader && !dialog) {
        std::fprintf(stderr, "usage: zv_restore_bench [--reader|--dialog] ARCHIVE TARGET\n");
        return 2;
    }
    const QString archive = QFileInfo(QString::fromLocal8Bit(argv[argc - 2])).absoluteFilePath();
    const QString target = QFileInfo(QString::fromLocal8Bit(argv[argc - 1])).absoluteFilePath();
    // A real display when the caller names one (run_restore_bench.py --display), else offscreen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("ZV_REGISTRY_DIR", (home.path() + QStringLiteral("/registry")).toUtf8());
    QApplication app(argc, argv);
    if (reader) return readerOnly(archive, target);

    Dialogs::SetTestMode(true);
    ShellFolders::SetProgramFolder(home.path());
    Shell::SetOpenHandler([](const QString&) { return true; });
    const auto w = std::make_unique<Tmain>(QStringList{});
    w->show();
    QCoreApplication::processEvents();
    w->SetGridRowCount(2);
    w->SetActionField(colNach, 1, archive);
    Control<TSortGrid>(*w, "sg")->SetFocusCell(0, 1);
    Control<QToolButton>(*w, "btnRestore")->setEnabled(true);
    Control<QPlainTextEdit>(*w, "Memo1")->clear();

    QElapsedTimer t;
    if (dialog) {
        qint64 shownMs = -1;
        int rows = 0;
        Dialogs::SetNextDialog([&](QDialog& d) {
            auto& f = static_cast<TfRestore&>(d);
            f.show();
            // Shown means mapped and its first frame painted, entries included.
            while (!f.isVisible() || !f.windowHandle() || !f.windowHandle()->isExposed())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            f.repaint();
            QCoreApplication::processEvents();
            shownMs = t.elapsed();
            rows = f.EntryRowCount() - 1;
            f.hide();
            return int(QDialog::Rejected);
        });
        t.start();
        w->btnRestoreClick();
        std::printf("%d entries listed\n", rows);
        report(shownMs);
        return rows > 0 ? 0 : 1;
    }
    Dialogs::SetNextDialog([&](QDialog& d) {
        auto& f = static_cast<TfRestore&>(d);
        f.allFiles->setChecked(true);
        f.verzeichnis->setText(target);
        f.BitBtn1Click();
        t.start();
        return f.result();
    });
    w->btnRestoreClick();
    const qint64 ms = t.isValid() ? t.elapsed() : -1;
    const QStringList log = w->LogLines();
    for (const QString& l : log)
        std::printf("%s\n", qPrintable(l));
    for (const Dialogs::Asked& a : Dialogs::AskedLog())
        if (a.what != u"dialog") std::printf("%s: %s\n", qPrintable(a.what), qPrintable(a.text));
    report(ms);
    const bool ok = !log.isEmpty() && log.last().endsWith(QStringLiteral("Dateie(n) entpackt"));
    return ok ? 0 : 1;
}
