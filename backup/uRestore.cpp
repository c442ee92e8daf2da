#include "uRestore.h"

TfRestore::TfRestore(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fRestore"));
    setWindowTitle(QStringLiteral("Sicherung Wiederherstellen"));
}
