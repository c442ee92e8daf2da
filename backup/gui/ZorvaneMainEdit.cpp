// The editing commands of the main window: new and delete action, the cell editors of the
// action table, the log's double-click, the About button and the link button.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <optional>

#include "About.h"
#include "ActionEdit.h"
#include "DesignScale.h"
#include "Dialogs.h"
#include "Drive.h"
#include "ProgramInfo.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZorvaneMain.h"
#include "fCount.h"
#include "fTime.h"
#include "filterform.h"
#include "fzPw.h"
#include "histform.h"
#include "lang.h"

namespace {

const QString CRLF = QStringLiteral("\r\n");

void inform(const QString& text) {
    Dialogs::MessageDlg(text, Dialogs::Kind::Information, Dialogs::Ok);
}

// The columns whose editors change the row; a run or restore under way writes into its row.
bool changesRow(int col) {
    switch (col) {
    case colVerz:
    case colNach:
    case colTime:
    case colCount:
    case colFilter:
    case colHist:
    case colP:
        return true;
    default:
        return false;
    }
}

const QString UnderWayText =
    QStringLiteral("Während eine Sicherung oder Wiederherstellung läuft, können die Aktionen "
                   "nicht geändert werden.");

// The cell editors with a dialog of their own: each presets its dialog from the cell and gives
// the cell's new text once the dialog is accepted. The time and the count leave an unchanged
// cell alone; the others count every accepted dialog as a change.
std::optional<QString> editTime(TTimeWin& dialog, const QString& cell) {
    dialog.dtp->setTime(ActionEdit::TimePreset(cell));
    if (Dialogs::Exec(dialog) != QDialog::Accepted) return std::nullopt;
    const QTime t = dialog.dtp->time();
    const QString text = t.isValid() ? TextFormats::FormatTime(t) : QStringLiteral("04:00:00");
    if (text == cell) return std::nullopt;
    return text;
}

std::optional<QString> editCount(TcountWin& dialog, const QString& cell) {
    dialog.ec->setText(ActionEdit::CountPreset(cell));
    if (Dialogs::Exec(dialog) != QDialog::Accepted) return std::nullopt;
    const QString text = ActionEdit::CountResult(dialog.ec->text());
    if (text == cell) return std::nullopt;
    return text;
}

// sourceFolder: the action's folder, absolute, for the dialog's trial count.
std::optional<QString> editFilter(TfilterWin& dialog, const QString& cell,
                                  const QString& sourceFolder) {
    const ActionEdit::FilterCell f = ActionEdit::SplitFilterCell(cell);
    (f.include ? dialog.nur : dialog.nicht)->setChecked(true);
    dialog.filter->setText(f.patterns);
    dialog.SourceFolder = sourceFolder;
    if (Dialogs::Exec(dialog) != QDialog::Accepted) return std::nullopt;
    return ActionEdit::JoinFilterCell(dialog.nur->isChecked(), dialog.filter->text());
}

std::optional<QString> editHist(TfHist& dialog, const QString& cell) {
    const ActionEdit::HistFlags h = ActionEdit::ReadHist(cell);
    dialog.ws->setChecked(h.weekly);
    dialog.ms->setChecked(h.monthly);
    if (Dialogs::Exec(dialog) != QDialog::Accepted) return std::nullopt;
    return ActionEdit::HistText(dialog.ws->isChecked(), dialog.ms->isChecked());
}

std::optional<QString> editPassword(TfPw& dialog, const QString& cell) {
    dialog.cbShowPw->setChecked(false);
    dialog.cbShowPwClick(nullptr);
    dialog.ePw->setText(cell);
    if (Dialogs::Exec(dialog) != QDialog::Accepted) return std::nullopt;
    return dialog.ePw->text();
}

} // namespace

void Tmain::CreateDialogs() {
    TimeWin = new TTimeWin(language_, this);
    countWin = new TcountWin(language_, this);
    AboutBox = new TAboutBox(this);
    filterWin = new TfilterWin(language_, this);
    fHist = new TfHist(language_, this);
    fPw = new TfPw(language_, this);
    pKelvo->setText(ProgramInfo::MakerCaption());
}

QStringList Tmain::ColumnCells(int col) const {
    // As the run reads them: a relative path refers to the start folder, and "src/" is "src".
    const QDir start(StartFolder);
    QStringList out;
    for (const BackupAction& a : actions_) {
        const QString& cell = a[col];
        out.append(cell.isEmpty() ? cell : QDir::cleanPath(start.absoluteFilePath(cell)));
    }
    return out;
}

bool Tmain::SourceTaken(const QString& folder) {
    const int dup = ActionEdit::FindNoCase(ColumnCells(colVerz), QDir::cleanPath(folder));
    if (dup < 0) return false;
    inform(Tx(txEintragFuerVerz) + CRLF + folder + CRLF + Tx(txExistiertBereits));
    sg->SetFocusCell(colVerz, dup + 1);
    return true;
}

bool Tmain::TargetTaken(const QString& target, int ownRow) {
    QStringList targets = ColumnCells(colNach);
    int dup = ActionEdit::FindNoCase(targets, QDir::cleanPath(target));
    if (ownRow > 0) targets[ownRow - 1].clear();
    if (dup < 0) dup = ActionEdit::FindArchiveClash(targets, QDir::cleanPath(target));
    if (dup < 0) return false;
    inform(Tx(txSicherungMitNamen) + CRLF + target + CRLF + Tx(txExistiertBereits));
    sg->SetFocusCell(colNach, dup + 1);
    return true;
}

void Tmain::UpdateRunAllSwitch() {
    const bool any = !ActionAt(1).Folder().isEmpty();
    SetPackAllEnabled(any); // a run's lock stays
    btnTimer->setEnabled(any);
}

// ---------------------------------------------------------------- new and delete

void Tmain::NewAktionExecute(QObject* Sender) {
    Q_UNUSED(Sender);
    // Settings asked to be loaded again during a run are loaded at its end, which would drop
    // the new action without a question.
    if (ReloadPending && RunOrRestoreUnderWay()) {
        inform(UnderWayText);
        return;
    }
    const QString folder = Dialogs::BrowseForFolder(
        this, Tx(txZuSicherndesVerz), ShellFolders::Folder(QStringLiteral("desktop")));
    if (folder.isEmpty()) return;
    if (SourceTaken(folder)) return;
    // The system's root stands for the drive root the dialog first opens in.
    const QString start =
        SaveFileLast.isEmpty() ? QDir::rootPath() : QDir(QDir::rootPath()).filePath(SaveFileLast);
    const QString chosen =
        Dialogs::SaveFileName(this, QStringLiteral("BackupDatei"), QStringLiteral("*.Zip"), start);
    if (chosen.isEmpty()) return;
    SaveFileLast = chosen;
    const QString target = ActionEdit::TargetName(chosen);
    if (TargetTaken(target)) return;
    if (Dialogs::Exec(*TimeWin) != QDialog::Accepted) return;

    // Chosen only now: a scheduled run may have moved the focus while the dialogs were open.
    int row;
    if (actions_.size() == 1 && ActionAt(1).Folder().isEmpty()) {
        row = 1;
    } else {
        row = int(actions_.size()) + 1;
        SetGridRowCount(row + 1);
    }
    BackupAction added = ActionAt(row);
    added[colVerz] = folder;
    added[colNach] = target;
    added.SetTime(TimeWin->dtp->time());
    added.SetCount(2);
    added[colLast].clear();
    added.SetHist(true, true);
    SetAction(row, added);
    SetModified(true);
    UpdateRunAllSwitch();
    sgClick(nullptr);
}

void Tmain::delAktionExecute(QObject* Sender) {
    Q_UNUSED(Sender);
    const int row = sg->Row();
    if (row < 1) return;
    if (RunOrRestoreUnderWay()) {
        inform(UnderWayText);
        return;
    }
    const QString verz = ActionAt(row).Folder();
    const QString nach = ActionAt(row).Target();
    if (Dialogs::MessageDlg(Tx(txSollSicherungVon) + CRLF + verz + CRLF + Tx(txNach) + CRLF + nach +
                                CRLF + Tx(txWirklichLoeschen),
                            Dialogs::Kind::Confirmation,
                            Dialogs::Yes | Dialogs::No) != Dialogs::Yes)
        return;
    // A scheduled run may have started while the question was open.
    if (RunOrRestoreUnderWay()) {
        inform(UnderWayText);
        return;
    }
    // The row the question named, wherever the focus is now; a table reloaded meanwhile may
    // hold another action there.
    if (row > actions_.size() || ActionAt(row).Folder() != verz || ActionAt(row).Target() != nach)
        return;
    RemoveActionRow(row);
    SetModified(true);
    UpdateRunAllSwitch();
    sgClick(nullptr);
}

// ---------------------------------------------------------------- cell editors

void Tmain::sgDblClick(QObject* Sender) {
    Q_UNUSED(Sender);
    const int row = sg->Row();
    const int col = sg->Col();
    if (row > 0 && changesRow(col) && RunOrRestoreUnderWay()) {
        inform(UnderWayText);
        return;
    }
    // No scheduled run may start while an editor is open. The timer comes back only if it was
    // running: a run or the program's end may have stopped it.
    const bool timerWasOn = Timer2->isActive();
    Timer2->stop();
    struct Out {
        Tmain* m;
        bool timer;
        ~Out() {
            m->sg->setEnabled(true);
            QPalette p = m->sg->palette();
            p.setColor(QPalette::Base, QApplication::palette().color(QPalette::Base));
            m->sg->setPalette(p);
            if (timer && !m->Closing()) m->Timer2->start();
        }
    } out{this, timerWasOn};
    if (row == 0) return;
    Guarded([this, col, row] { EditCell(col, row); });
}

void Tmain::EditCell(int col, int row) {
    const QString cell = ActionAt(row)[col];
    std::optional<QString> edited;
    switch (col) {
    case colVerz:
        edited = ChooseSource(cell);
        break;
    case colNach:
        edited = ChooseTarget(cell, row);
        break;
    case colTime:
        edited = editTime(*TimeWin, cell);
        break;
    case colCount:
        edited = editCount(*countWin, cell);
        break;
    case colLast:
        btnRestoreClick();
        return;
    case colFilter: {
        // Relative paths refer to the start folder, as in a run.
        const QString source = ActionAt(row).Folder();
        edited = editFilter(*filterWin, cell,
                            source.isEmpty()
                                ? QString()
                                : QDir::cleanPath(QDir(StartFolder).absoluteFilePath(source)));
        break;
    }
    case colHist:
        edited = editHist(*fHist, cell);
        break;
    case colP:
        edited = editPassword(*fPw, cell);
        break;
    default:
        return; // the run's results and messages are not edited
    }
    if (!edited) return;
    SetActionField(col, row, *edited);
    SetModified(true);
    if (col == colVerz) {
        // A first row filled in here is an action the run and automatic commands now apply to.
        UpdateRunAllSwitch();
        sgClick(nullptr);
    }
}

std::optional<QString> Tmain::ChooseSource(const QString& cell) {
    const QString folder = Dialogs::BrowseForFolder(this, Tx(txZuSicherndesVerz), QString());
    if (folder.isEmpty() || folder == cell) return std::nullopt;
    if (SourceTaken(folder)) return std::nullopt;
    return folder;
}

std::optional<QString> Tmain::ChooseTarget(const QString& cell, int row) {
    QString startFile;
    if (!cell.isEmpty()) {
        // Relative paths refer to the start folder, as in a run.
        startFile = QDir::cleanPath(QDir(StartFolder).absoluteFilePath(cell));
        const QString drive = Drive::ExtractFileDrive(startFile);
        if (!Drive::DriveExists(drive))
            Dialogs::ShowMessage(Tx(txLaufwerk) + u' ' + drive + u' ' + Tx(txNichtGefunden));
        SaveFileLast = cell;
    }
    const QString chosen = Dialogs::SaveFileName(this, QStringLiteral("BackupDatei"),
                                                 QStringLiteral("*.Zip"), startFile);
    if (chosen.isEmpty()) return std::nullopt;
    SaveFileLast = chosen;
    const QString target = ActionEdit::TargetName(chosen);
    if (target == cell) return std::nullopt;
    if (TargetTaken(target, row)) return std::nullopt;
    return target;
}

// ---------------------------------------------------------------- small handlers

void Tmain::Memo1DblClick(QObject* Sender) {
    Q_UNUSED(Sender);
    sg->setHidden(!sg->isHidden());
    if (!sg->isHidden()) {
        Memo1->setFixedHeight(DesignScale::Px(100));
    } else {
        Memo1->setMinimumHeight(0);
        Memo1->setMaximumHeight(QWIDGETSIZE_MAX);
    }
    // The newest lines into view, however long the log has grown.
    QTextCursor c = Memo1->textCursor();
    c.movePosition(QTextCursor::End);
    Memo1->setTextCursor(c);
    QCoreApplication::processEvents();
    // No selection left over from the click.
    c = Memo1->textCursor();
    c.clearSelection();
    Memo1->setTextCursor(c);
    Memo1->ensureCursorVisible();
}

void Tmain::ToolButton13Click(QObject* Sender) {
    Q_UNUSED(Sender);
    Dialogs::Exec(*AboutBox);
}

void Tmain::pKelvoClick(QObject* Sender) {
    Q_UNUSED(Sender);
    pKelvo->setStyleSheet(QStringLiteral("color: red; text-decoration: underline;"));
    QCoreApplication::processEvents();
    // The red shows for a moment before the browser takes over.
    QThread::msleep(500);
    Shell::Open(ProgramInfo::MakerHomePage());
    pKelvo->setDown(false);
    pKelvo->setStyleSheet(QStringLiteral("color: teal; text-decoration: underline;"));
}
