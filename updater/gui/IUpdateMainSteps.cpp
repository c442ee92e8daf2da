// The workflow steps behind the button: fetch and parse the information file, transfer the
// chosen archives, install the chosen files; the self-update found by the parse; the HTTP
// client's events.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QTreeWidget>
#include <climits>

#include "BatchFile.h"
#include "Dialogs.h"
#include "FileVersion.h"
#include "Http.h"
#include "IUpdateMain.h"
#include "InfoFile.h"
#include "Install.h"
#include "Reboot.h"
#include "SelfUpdate.h"
#include "Shell.h"
#include "SystemList.h"
#include "UpdateServer.h"
#include "Versions.h"

namespace {

QString fullPath(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

bool TiupMain::FetchInfo() {
    const QString infoUrl = UpdateServer::PrepareLocation(Config.host, Config.dir);
    UpdateServer::PrepareRequest(*http, Config.userpop1, Config.pwpop1, cbUseFW->isChecked());
    const UpdateServer::InfoFetch fetched = UpdateServer::FetchInfo(
        *http, infoUrl, [this](const QString& line) { done->appendPlainText(line); },
        [] { QCoreApplication::processEvents(); });
    DownloadBuffer = fetched.body.value_or(QByteArray());
    if (fetched.body) return true;
    if (CloseRequested) return false;
    Dialogs::ShowMessage(QStringLiteral("Versionsstatus konnte nicht abgefragt werden.\r\n"
                                        "Bitte prüfen Sie Ihre Internetverbindung."));
    return false;
}

bool TiupMain::FetchAndParse() {
    UpdateCount = 0;
    // Without the server's answer there is nothing to show: the lists stay as they were and
    // the button stays at "Start" for another try.
    if (!FetchInfo() || CloseRequested)
        throw StepReported("Versionsstatus konnte nicht abgefragt werden.");

    QFile raw(WorkDir + QStringLiteral("t.iup"));
    if (!raw.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        raw.write(DownloadBuffer) != DownloadBuffer.size() || !raw.flush())
        throw std::runtime_error(QStringLiteral("In %1 kann nicht geschrieben werden")
                                     .arg(raw.fileName())
                                     .toStdString());
    raw.close();

    done->appendPlainText(QStringLiteral("Beginne Auswertung"));
    clearLists();
    InfoFileReader reader(DownloadBuffer);
    done->appendPlainText(QString::number(reader.ModuleCount()) + QStringLiteral(" Module"));

    prepareZiel();
    const PlanSources sources{&Ziel, cbAllesNeu->isChecked(),
                              [this](const QString& line) { done->appendPlainText(line); },
                              [this] { showPlan(); }};
    try {
        BuildPlan(Plan, reader, sources);
    } catch (...) {
        // The rows read so far stay, showing what the plan holds for them.
        showPlan();
        refreshLists();
        throw;
    }
    showPlan();
    if (Plan.selfUpdateModule >= 0) {
        try {
            selfUpdate(Plan.Modules()[Plan.selfUpdateModule].files[Plan.selfUpdateFile]);
        } catch (...) {
            // When the self-update fails, its row stays like the others.
            refreshLists();
            throw;
        }
        return false;
    }
    UpdateCount = Plan.CheckedFileCount();
    refreshLists();
    if (lvMods->topLevelItemCount() > 0) showModule(0);

    SetStartState(2);
    lvMods->repaint();
    if (UpdateCount == 0)
        Dialogs::MessageDlg(QStringLiteral("Es stehen keine Updates für dieses System bereit"),
                            Dialogs::Kind::Information, Dialogs::Ok);
    return UpdateCount > 0;
}

void TiupMain::selfUpdate(const PlanFile& file) {
    const SelfUpdate::Job job{
        UpdateServer::ArchiveUrl(Config.host, Config.dir, file.archive),
        DownloadDir + file.archive,
        file.folder,
        file.date,
        ExeDir,
        ConfigPath,
        file.DeclaredKB(),
    };
    const SelfUpdate::Callbacks callbacks{
        [this](const QString& line) {
            done->appendPlainText(line);
            lvPanel->setCurrentWidget(done);
            done->repaint();
        },
        [this](const QString& text) {
            Panel3->setText(text);
            Panel3->repaint();
            QCoreApplication::processEvents();
        },
        [this](qint64 got, qint64 total) { setProgress(total, got); },
        [] { QCoreApplication::processEvents(); },
    };
    const SelfUpdate::RenamerCall renamer = SelfUpdate::Run(*http, job, callbacks);
    // The renamer is not ours; whether it starts is not looked at.
    Shell::Start(renamer.program, renamer.arguments, renamer.workDir);
    SelfUpdating = true;
    QTimer::singleShot(0, this, &QWidget::close);
}

void TiupMain::TransferFiles() {
    // "n von" counts what will be transferred now, which the user may have changed.
    int total = 0;
    Plan.ForCheckedFiles({}, [&](int, int) { return ++total, true; });

    int n = 0;
    const bool complete = forCheckedFiles([&](int m, int f) {
        ++n;
        Panel3->setText(QStringLiteral("Übertrage Datei %1 von %2").arg(n).arg(total));
        Panel3->repaint();
        QCoreApplication::processEvents();
        if (CloseRequested) return false; // no question: the window is going
        if (CancelRequested) {
            if (Dialogs::MessageDlg(
                    QStringLiteral("Soll die Übertragung wirklich abgebrochen werden?"),
                    Dialogs::Kind::Warning, Dialogs::Yes | Dialogs::No) == Dialogs::Yes)
                return false;
            CancelRequested = false;
        }
        showFileRow(m, f);
        const PlanFile file = Plan.Modules()[m].files[f]; // events run below
        const QString archive = file.archive;
        Plan.RequireArchive(archive);
        const QString target = file.Target();
        done->appendPlainText(QStringLiteral("Hole ") + target);
        if (isConfigFile(target)) ConfigUpdated = true;
        const QString url = UpdateServer::ArchiveUrl(Config.host, Config.dir, archive);
        UpdateServer::FetchArchive(
            *http, url, DownloadDir + archive,
            [&] {
                Panel3->setText(QStringLiteral("Hole:") + url);
                QCoreApplication::processEvents();
            },
            [this](const QString& line) { done->appendPlainText(line); });
        return true;
    });
    if (!complete) return;
    SetStartState(3);
    http->Disconnect();
}

void TiupMain::InstallFiles() {
    Install::Context context;
    context.unpackDir = UnpackDir;
    context.batch = Batch.get();
    context.log = [this](const QString& line) { done->appendPlainText(line); };
    context.status = [this](const QString& text) { ShowStatus(text); };
    context.progress = [this](qint64 got, qint64 total) { setProgress(total, got); };
    context.keepResponsive = [] { QCoreApplication::processEvents(); };

    int n = 0;
    const bool complete = forCheckedFiles([&](int m, int f) {
        if (CloseRequested) return false; // between files: the one before is complete
        showFileRow(m, f);
        // A copy: the install lets events run, and a click may change the plan meanwhile.
        const PlanFile file = Plan.Modules()[m].files[f];
        Plan.RequireArchive(file.archive);
        done->appendPlainText(QStringLiteral("Schreibe ") + file.Target());
        const int line = done->blockCount() - 1;
        const Install::FileJob job{
            DownloadDir + file.archive, file.folder, file.name, file.date, file.service,
            file.DeclaredKB()};
        const Install::FileResult result = Install::InstallFile(job, context);
        BatchStarted = Batch->Started();
        if (result.outcome == Install::Outcome::ServiceStuck) return false; // nothing more now
        if (result.outcome == Install::Outcome::Skipped) return true;       // reported, not done
        ++n;
        QTextCursor end(done->document()->findBlockByNumber(line));
        end.movePosition(QTextCursor::EndOfBlock);
        end.insertText(u' ' + FormatKB(Install::KiloBytes(result.bytes)));
        return true;
    });
    if (!complete) return;
    SetStartState(4);
    lvPanel->setCurrentWidget(done);
    if (BatchStarted && !finishBatch()) return;
    Dialogs::MessageDlg(Install::CompletionMessage(n), Dialogs::Kind::Information, Dialogs::Ok);
}

// The files in use wait for the next logon: the batch file is ended and registered, and the
// user may restart now. False when the user does not want to: the install ends without its
// completion message.
bool TiupMain::finishBatch() {
    Batch->Finish();
    try {
        if (!RegisterRunOnce(Batch->Path())) {
            Dialogs::MessageDlg(Install::RegistryWarning, Dialogs::Kind::Warning, Dialogs::Ok);
            copyBatchToDesktop();
            return true;
        }
        if (Dialogs::MessageDlg(Install::RebootQuestion, Dialogs::Kind::Confirmation,
                                Dialogs::Yes | Dialogs::No) != Dialogs::Yes)
            return false;
        if (cbSystem->currentIndex() > LastWin9x) Panel3->setText(QStringLiteral("NT System"));
        if (!Reboot::Request())
            Dialogs::MessageDlg(Install::RebootFailed, Dialogs::Kind::Information, Dialogs::Ok);
        QTimer::singleShot(0, this, &QWidget::close);
    } catch (const std::exception& e) {
        Dialogs::MessageDlg(Install::RegistryWarning +
                                QStringLiteral("\r\nfolgende exception ist aufgetreten\r\n") +
                                QString::fromUtf8(e.what()),
                            Dialogs::Kind::Warning, Dialogs::Ok);
        copyBatchToDesktop();
    }
    return true;
}

void TiupMain::copyBatchToDesktop() {
    const QString desktop = Config.placeholders[Placeholder::UserDesktop].folder;
    const QString copy = desktop + QStringLiteral("Update.bat");
    if (!desktop.isEmpty() && QDir().mkpath(desktop)) {
        QFile::remove(copy);
        if (QFile::copy(Batch->Path(), copy)) return;
    }
    done->appendPlainText(QStringLiteral("!! Update.bat konnte nicht auf den Desktop kopiert "
                                         "werden, sie liegt in ") +
                          Batch->Path() + QStringLiteral(" !!"));
}

bool TiupMain::isConfigFile(const QString& path) const {
    return !ConfigPath.isEmpty() && fullPath(path) == fullPath(ConfigPath);
}

void TiupMain::ShowStatus(const QString& text) {
    Panel3->setText(text);
    QCoreApplication::processEvents();
}

void TiupMain::httpConnected() {
    imgon->show();
    imgoff->hide();
}

void TiupMain::httpDisconnected() {
    imgoff->show();
    imgon->hide();
}

void TiupMain::httpStatus(const QString& text) {
    lvPanel->setCurrentWidget(done);
    done->appendPlainText(text);
}

void TiupMain::httpWorkBegin(qint64 expected) {
    setProgress(expected, 0);
}

void TiupMain::httpWork(qint64 received) {
    setProgress(progressMaximum_, received);
}

void TiupMain::httpWorkEnd() {
    setProgress(progressMaximum_, 0);
}

void TiupMain::setProgress(qint64 maximum, qint64 value) {
    progressMaximum_ = qMax<qint64>(maximum, 0);
    // The bar counts in int; large files are shown in coarser steps. A range of 0 would show
    // as "busy" here, so an empty bar has the range 0 to 1.
    int shift = 0;
    while ((progressMaximum_ >> shift) > INT_MAX)
        ++shift;
    progress->setRange(0, progressMaximum_ > 0 ? int(progressMaximum_ >> shift) : 1);
    progress->setValue(int(qBound<qint64>(0, value, progressMaximum_) >> shift));
}
