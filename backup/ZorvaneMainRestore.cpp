// The restore command of the main window.
#include "ZorvaneMain.h"

void Tmain::btnRestoreClick() {}
