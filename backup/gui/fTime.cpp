#include "fTime.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "DialogFit.h"
#include "lang.h"

TTimeWin::TTimeWin(const TextLanguage& language, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      language_(language) {
    setObjectName(QStringLiteral("TimeWin"));
    auto* top = new QVBoxLayout(this);
    dtp = new QTimeEdit(QTime(2, 0, 0), this);
    dtp->setObjectName(QStringLiteral("dtp"));
    dtp->setDisplayFormat(QStringLiteral("hh:mm:ss"));
    QFont big = dtp->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    dtp->setFont(big);
    top->addWidget(dtp);
    AddOkCancel(this, top, BitBtn1, BitBtn2);
    FocusOnShow(this, dtp);
    SetCaptions();
}

void TTimeWin::SetCaptions() {
    setWindowTitle(language_.ByLanguage("Uhrzeit für Sicherung", "Time for Backup"));
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("&Abbrechen"));
    FitTitle(this);
}
