// The scheduler tick and the blocking window's controls.
#include <QTimeEdit>

#include "ZorvaneMain.h"

void Tmain::Timer2Timer() {
    if (AutoStart) {
        AutoStart = false;
        HideToTray();
    }
}

void Tmain::sperrVonChange() { SetModified(true); }

void Tmain::sperrBisChange() { SetModified(true); }

void Tmain::cbSperrClick() { SetModified(true); }
