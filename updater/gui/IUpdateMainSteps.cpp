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

QTreeWidgetItem* newRow(QTreeWidget* parent, const QStringList& texts) {
    auto* row = new QTreeWidgetItem(parent, texts);
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Unchecked);
    return row;
}

// Sets a flag for as long as it lives, also when an error leaves early.
struct FlagOn {
    bool& flag;
    explicit FlagOn(bool& f) : flag(f) { flag = true; }
    ~FlagOn() { flag = false; }
};

QString fullPath(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// The columns of a file row.
enum FileColumn {
    colCaption,
    colZiel,
    colVersion,
    colDatum,
    colArchiv,
    colGroesse,
    colVersionHier,
    colDatumHier,
    colService,
};

} // namespace

bool TiupMain::FetchInfo() {
    const QString infoUrl = UpdateServer::PrepareLocation(Config.host, Config.dir);
    UpdateServer::PrepareRequest(*http, Config.userpop1, Config.pwpop1, cbUseFW->isChecked());
    const UpdateServer::InfoFetch fetched = UpdateServer::FetchInfo(
        *http, infoUrl, [this](const QString& line) { done->appendPlainText(line); });
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

    // A row not yet handed to the selection, which an error must not leave behind.
    QTreeWidgetItem* unfinished = nullptr;
    try {
        FlagOn filling(refreshing_);
        InfoModuleRecord mod;
        while (reader.NextModule(&mod)) {
            QTreeWidgetItem* row =
                newRow(lvMods, {mod.name, mod.text, mod.description, mod.history, QString()});
            row->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
            const int m = Selection.AddModule(mod.fileCount > 0);
            QTreeWidget* view = CreateFileView(row);

            InfoFileRecord file;
            while (reader.NextFile(&file)) {
                QTreeWidgetItem* item = newRow(view, {file.fileName});
                unfinished = item;
                DecodeZiel(file.destination);
                const QString folder = Ziel.DecodedPath;
                const bool applies = Ziel.AppliesToSystem;
                Selection.AddArchive(file.archive);
                const qint64 size = ParseInfoSize(file.size);

                const QString local = folder + file.fileName;
                const auto log = [this](const QString& line) { done->appendPlainText(line); };
                Install::RecoverTarget(local, log);
                const QFileInfo here(local);
                // Only a regular file is looked into: a pipe would block, a device never end.
                const bool exists = Install::IsRegularFile(local);
                if (!exists && here.exists())
                    log(QStringLiteral("%1 ist keine gewöhnliche Datei und gilt als nicht "
                                       "vorhanden")
                            .arg(local));
                const QString versionHere =
                    exists ? FileVersion::GetFileVersionString(local) : QStringLiteral("ohne");
                item->setText(colZiel, folder);
                item->setText(colVersion, file.version);
                item->setText(colDatum, file.date);
                item->setText(colArchiv, file.archive);
                item->setText(colGroesse, file.size);
                item->setTextAlignment(colGroesse, Qt::AlignRight | Qt::AlignVCenter);
                item->setText(colVersionHier, versionHere);
                item->setText(colDatumHier,
                              exists ? FormatInfoDate(here.lastModified()) : QString());
                item->setText(colService, file.service);

                bool outdated = !exists;
                if (applies && exists) {
                    const std::optional<QDateTime> offered = ParseInfoDate(file.date);
                    if (!offered)
                        throw InfoFileError(
                            QStringLiteral("Das Datum \"%1\" von %2 ist kein gültiges Datum.")
                                .arg(file.date, file.fileName));
                    outdated =
                        !IsUpToDate(versionHere, file.version, here.lastModified(), *offered);
                }
                const bool keep = file.marker != u"-";
                const bool preselected = applies && outdated && keep;
                const bool checked = applies && (outdated || cbAllesNeu->isChecked()) && keep;
                item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);

                if (checked && SelfUpdate::IsUpdaterRow(file.fileName)) {
                    // Read in full: when the self-update fails, the row stays like the others.
                    Selection.AddFile(m, file.archive, size, checked, preselected);
                    unfinished = nullptr;
                    selfUpdate(item);
                    return false;
                }
                unfinished = nullptr;
                if (!applies) {
                    if (CurrentFileRow == item) CurrentFileRow = nullptr;
                    delete item;
                    continue;
                }
                Selection.AddFile(m, file.archive, size, checked, preselected);
                if (checked) ++UpdateCount;
            }
            Selection.EndModule(m);
            if (Selection.Modules()[m].checked) CurrentModule = row;
        }
    } catch (...) {
        // The rows built so far stay, showing what the selection holds for them.
        if (unfinished) {
            if (CurrentFileRow == unfinished) CurrentFileRow = nullptr;
            delete unfinished;
        }
        refreshLists();
        throw;
    }
    refreshLists();
    if (lvMods->topLevelItemCount() > 0) showModule(0);

    SetStartState(2);
    lvMods->repaint();
    if (UpdateCount == 0)
        Dialogs::MessageDlg(QStringLiteral("Es stehen keine Updates für dieses System bereit"),
                            Dialogs::Kind::Information, Dialogs::Ok);
    return UpdateCount > 0;
}

void TiupMain::selfUpdate(QTreeWidgetItem* row) {
    const SelfUpdate::Job job{
        UpdateServer::ArchiveUrl(Config.host, Config.dir, row->text(colArchiv)),
        DownloadDir + row->text(colArchiv),
        row->text(colZiel),
        row->text(colDatum),
        ExeDir,
        ConfigPath,
        row->text(colGroesse).isEmpty() ? -1 : ParseInfoSize(row->text(colGroesse)),
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
    forCheckedFiles(false, [&](QTreeWidgetItem*) { return ++total, true; });

    int n = 0;
    const bool complete = forCheckedFiles(true, [&](QTreeWidgetItem* file) {
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
        file->treeWidget()->setCurrentItem(file);
        const QString archive = file->text(colArchiv);
        Selection.RequireArchive(archive);
        const QString target = file->text(colZiel) + file->text(colCaption);
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

    int n = 0;
    const bool complete = forCheckedFiles(true, [&](QTreeWidgetItem* file) {
        if (CloseRequested) return false; // between files: the one before is complete
        file->treeWidget()->setCurrentItem(file);
        const QString archive = file->text(colArchiv);
        Selection.RequireArchive(archive);
        done->appendPlainText(QStringLiteral("Schreibe ") + file->text(colZiel) +
                              file->text(colCaption));
        const int line = done->blockCount() - 1;
        const QString size = file->text(colGroesse);
        const Install::FileJob job{
            DownloadDir + archive,  file->text(colZiel),
            file->text(colCaption), file->text(colDatum),
            file->text(colService), size.isEmpty() ? -1 : ParseInfoSize(size)};
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
    const QString desktop = Placeholders()[Placeholder::UserDesktop].folder;
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
