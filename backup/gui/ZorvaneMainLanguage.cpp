// The language switch: the window's and the dialogs' own texts and the help file follow the
// language chosen in the window.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimeEdit>
#include <QToolButton>

#include "Shell.h"
#include "SortGrid.h"
#include "ZorvaneMain.h"
#include "fCount.h"
#include "fTime.h"
#include "filterform.h"
#include "fzPw.h"
#include "histform.h"
#include "lang.h"
#include "uRestore.h"

namespace {
// A button bound to an action takes the action's hint again whenever the action changes (it is
// enabled or disabled, say), so the action carries the hint as well.
void setHint(QToolButton* button, const QString& hint) {
    if (QAction* a = button->defaultAction()) a->setToolTip(hint);
    button->setToolTip(hint);
}
} // namespace

void Tmain::cbLangChange(QObject* Sender) {
    Q_UNUSED(Sender);
    TakeListLanguage();
    SetModified(true);
    ApplyLanguage();
}

void Tmain::TakeListLanguage() {
    // Also no entry at all (a stored index that names none) is English.
    language_.Set(cbLang->currentIndex() != 0 ? TextLanguage::English : TextLanguage::German);
}

void Tmain::ApplyLanguage() {
    const QString blockingHint =
        ByLanguage("Die Sperrzeit wird nur Relevant, wenn das Programm\n"
                   "zur eingestellten Backupzeit nicht lief, ausserhalb der\n"
                   "Sperrzeit werden die Backups dann sofort nachgeholt,\n"
                   "innerhalb der Sperrzeit geschieht nichts.",
                   "If the program doesen't run at the\n"
                   "Time for a Backup, it try's to do the \n"
                   "Backup when starting but not within\n"
                   "the blocking Time.");
    Panel2->setToolTip(blockingHint);
    setHint(btnLoadConf, ByLanguage("Einstellungen Laden", "Load settings"));
    setHint(btnSaveConf, ByLanguage("Einstellungen Speichern", "Save settings"));
    setHint(btnNew, ByLanguage("Neue Backupaktion einfügen", "New Backup action"));
    setHint(btnDel,
            ByLanguage("Ausgewählte Backupaktion löschen", "Delete selected Backup action"));
    setHint(btnPackOne, ByLanguage("Backupaktion für ausgewählten Eintrag jetzt ausführen",
                                   "Do selected Backup"));
    setHint(btnPackAll,
            ByLanguage("Backupaktion für alle Einträge jetzt ausführen", "Do all Backups"));
    setHint(btnRestore, ByLanguage("Sicherungen anzeigen", "Show Backups for this entry"));
    setHint(btnTimer, ByLanguage("Automatik Ein / Ausschalten", "Swith automatic On / Off"));
    cbSperr->setText(ByLanguage("Sperrzeit", "blocking Time"));
    setHint(btnIupdate, ByLanguage("Internetupdate Starten", "Start Internet update"));
    setHint(btnClose, ByLanguage("Programm beenden", "End Programm"));
    SetGridTitles();
    btnAbort->setText(ByLanguage("Abbrechen", "Abort"));

    countWin->SetCaptions();
    filterWin->SetCaptions();
    TimeWin->SetCaptions();
    fPw->SetCaptions();
    fHist->SetCaptions();
    fRestore->SetCaptions();

    // The check box and its time pickers explain themselves like the panel holding them.
    cbSperr->setToolTip(blockingHint);
    sperrVon->setToolTip(blockingHint);
    sperrBis->setToolTip(blockingHint);
    // Not checked here: asking for help reports a missing file.
    helpFile_ = ProgDir + Tx(txHilfeDatei);
}

void Tmain::SetGridTitles() {
    static const char* const headers[ActionColumnCount][2] = {
        {"Verzeichnis", "Directory"},
        {"Nach", "To File"},
        {"Zeit", "Time"},
        {"Anz.", "quant."},
        {"letzte Sicherung", "last Backup"},
        {"", ""},
        {"Dateien", "Files"},
        {"Bytes", "Bytes"},
        {"Archiv", "Archiv"},
        {"Dauer", "period"},
        {"Filter", "Filter"},
        {"Hist", "Hist"},
        {"Meldungen", "Message"},
        {"Pw", "Pw"},
    };
    for (int c = 0; c < ActionColumnCount; ++c)
        if (c != colActionNumber) sg->SetCell(c, 0, ByLanguage(headers[c][0], headers[c][1]));
    FitColumnsToTitles();
}

void Tmain::ShowHelp() {
    Shell::Open(helpFile_);
}
