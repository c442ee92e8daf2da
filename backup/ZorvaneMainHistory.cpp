// The file filter of the main window and the history file.
#include "ZorvaneMain.h"

bool Tmain::FilterOK(const QString& name) const {
    FileFilter f{FilterList, FilterInclude};
    return FilterAccepts(f, name);
}

void Tmain::SaveHistory() {}
