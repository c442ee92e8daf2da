// Runs the updater's whole workflow as a user does: the window shown (offscreen unless
// QT_QPA_PLATFORM or DISPLAY say otherwise), one click on "Start", which fetches the
// information file from HOST, transfers the archives of the preselected files and installs
// them. Prints the monotonic clock (CLOCK_MONOTONIC, ns) at the points the caller lines up
// with its server's log: each transfer's first and last byte, the start of the install and the
// end of the click, and the process's CPU time and peak memory.
// With --unpack only the unpacker runs, ARCHIVE into TARGET, without window.
// Usage: zv_update_bench HOST FOLDER
//        zv_update_bench --unpack ARCHIVE TARGET
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>

#include "Beep.h"
#include "Dialogs.h"
#include "Http.h"
#include "IUpdateMain.h"
#include "Placeholders.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "Unpack.h"

namespace {

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void mark(const char* what) {
    std::printf("mark %s %lld\n", what, monotonicNs());
}

void report() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    std::printf("cpu user %.3f sys %.3f peak RSS %ld KiB\n", seconds(ru.ru_utime),
                seconds(ru.ru_stime), ru.ru_maxrss);
}

bool write(const QString& path, const QByteArray& content) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

int unpackOnly(const QString& archive, const QString& target) {
    mark("unpack-start");
    const qint64 bytes = UnpackFile(archive, target);
    mark("end");
    std::printf("%lld bytes\n", static_cast<long long>(bytes));
    report();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[1], "--unpack") == 0)) {
        std::fprintf(stderr, "usage: zv_update_bench HOST FOLDER\n"
                             "       zv_update_bench --unpack ARCHIVE TARGET\n");
        return 2;
    }
    if (argc == 4) {
        try {
            return unpackOnly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    const QString host = QString::fromLocal8Bit(argv[1]);
    const QString base = QDir(QString::fromLocal8Bit(argv[2])).absolutePath() + u'/';
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    const QString registry = home.path() + QStringLiteral("/registry");
    QDir().mkpath(registry);
    qputenv("ZV_REGISTRY_DIR", registry.toUtf8());
    // A Windows 7 workstation, so the system is recognised and nothing asks.
    write(registry + QStringLiteral("/local-machine.ini"),
          "[Software\\Microsoft\\Windows NT\\CurrentVersion]\nPlatformId=2\nMajorVersion=6\n"
          "MinorVersion=1\nProductType=1\n");
    const QString prog = base + QStringLiteral("prog/");
    const QString inst = base + QStringLiteral("inst/");
    QDir().mkpath(prog);
    QDir().mkpath(inst);
    write(base + QStringLiteral("t.ini"), ("[P]\nprog=" + inst + "\n").toUtf8());
    const QString config = inst + QStringLiteral("iup.ini");
    write(config, ("[iups]\nhost=" + host + "\ndir=upd\nuserpop1=kunde\npwpop1=pw\n" +
                   "[global]\nziel1=0\nziel2=" + base + "t.ini;P;prog\n")
                      .toUtf8());

    QApplication app(argc, argv);
    Dialogs::SetTestMode(true);
    Beep::SetBeepHandler([](unsigned) {});
    Shell::SetStartHandler([](const QString&, const QStringList&, const QString&) { return true; });
    ShellFolders::SetProgramFolder(prog);
    PlaceholderTable placeholders;
    InitPlaceholders(placeholders);
    int ok = 1;
    {
        TiupMain w(QStringList{config}, std::move(placeholders));
        w.show();
        while (!w.windowHandle() || !w.windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::processEvents();
        QObject::connect(w.http, &HttpClient::WorkBegin, [](qint64) { mark("body-start"); });
        QObject::connect(w.http, &HttpClient::WorkEnd, [] { mark("body-end"); });
        bool installing = false;
        QObject::connect(w.done, &QPlainTextEdit::textChanged, [&w, &installing] {
            if (!installing &&
                w.done->document()->lastBlock().text().startsWith(QStringLiteral("Schreibe "))) {
                installing = true;
                mark("install-start");
            }
        });
        w.startBtn->click();
        mark("end");
        for (const QString& line : w.done->toPlainText().split(u'\n'))
            std::printf("log %s\n", qPrintable(line));
        for (const Dialogs::Asked& a : Dialogs::AskedLog())
            std::printf("%s: %s\n", qPrintable(a.what), qPrintable(a.text));
        ok = w.StartTag() == 4 ? 0 : 1;
        report();
    }
    return ok;
}
