// The settings file and the action table's commands.
#include "SortGrid.h"
#include "ZorvaneMain.h"

void Tmain::LoadSettings() { SetModified(false); }

void Tmain::ReadLayout() {}

void Tmain::saveIniExecute(QObject* Sender) {
    Q_UNUSED(Sender);
    SetModified(false);
}

void Tmain::loadIniExecute(QObject* Sender) {
    Q_UNUSED(Sender);
    LoadSettings();
}

void Tmain::sgClick(QObject* Sender) { Q_UNUSED(Sender); }

void Tmain::sgClickSort(int col) { Q_UNUSED(col); }

bool Tmain::sgBeginSort(int col) {
    Q_UNUSED(col);
    return !Busy;
}
