// The backup run.
#include "ZorvaneMain.h"

void Tmain::backupSelectedExecute(QObject* Sender) { Q_UNUSED(Sender); }

void Tmain::backupAllExecute(QObject* Sender) { Q_UNUSED(Sender); }

void Tmain::BackupOne(const QString& Source, const QString& Target, const QString& FilterText,
                      const QString& Password) {
    Q_UNUSED(Source);
    Q_UNUSED(Target);
    Q_UNUSED(FilterText);
    Q_UNUSED(Password);
}

void Tmain::btnAbortClick() { AbortRequested = true; }
